#pragma once

// The faults the simulator injects between its display and the line: answers that get lost or
// damaged, forced acknowledges, instructions it never answers, and the unsolicited packet.
//
// Single-threaded, like the display it wraps.

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <set>

#include "core/Types.h"
#include "protocol/Korvel97.h"
#include "tools/sim/SimDisplay.h"

namespace zorvid::sim {

struct TSimFaults {
  double drop = 0;     // probability that an answer is lost
  double corrupt = 0;  // probability that an answer goes out with a wrong checksum
  // instruction -> acknowledge, answered without data; the instruction is not carried out
  std::map<TByte, TByte> forcedAcks;
  // instruction -> data, answered with acknowledge 0; the instruction is not carried out
  std::map<TByte, TByteString> forcedData;
  std::set<TByte> silent;  // instructions never answered
};

// Identifiers that stay the same for the same seed.
TSimIdentifiers IdentifiersFromSeed(std::uint32_t seed);

class TSimResponder {
 public:
  // The same seed gives the same faults for the same traffic.
  TSimResponder(TSimDisplay& display, TSimFaults faults, std::uint32_t seed);

  // The bytes to send back for a received packet; nothing when no answer goes out.
  std::optional<TByteString> Respond(const TKorvelFormat97& request);
  // What the display sends on its own: acknowledge 0x0E from its address, SIG 0, no data.
  TByteString UnsolicitedPacket() const;

 private:
  // True with probability `p`; draws from the generator every time so that one fault's
  // probability does not shift the other's sequence.
  bool Chance(double p);

  TSimDisplay& display_;
  TSimFaults faults_;
  std::mt19937 random_;
};

}  // namespace zorvid::sim
