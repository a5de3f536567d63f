#pragma once

// The displays on the simulator's line and the faults it injects between them and the line:
// answers that get lost or damaged, forced acknowledges, instructions never answered, and the
// unsolicited packet. Displays that answer the same packet collide, as on a real bus.
//
// Single-threaded, like the displays it wraps.

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <vector>

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
  // instructions carried out whose answer is lost the first time: the write is stored, and
  // the program that sent it does not learn so
  std::set<TByte> loseAnswerOnce;
};

// Identifiers that stay the same for the same seed.
TSimIdentifiers IdentifiersFromSeed(std::uint32_t seed);

// The answers of several displays sent at once, as the line carries them: their bytes
// interleaved (one of each in turn, the rest of the longest at the end), which no receiver
// takes for a packet. One answer passes unchanged.
TByteString Collide(const std::vector<TByteString>& answers);

class TSimResponder {
 public:
  // The same seed gives the same faults for the same traffic. The displays stay the caller's
  // and must outlive the responder; there must be one at least (else std::invalid_argument).
  TSimResponder(TSimDisplay& display, TSimFaults faults, std::uint32_t seed);
  TSimResponder(std::vector<TSimDisplay*> displays, TSimFaults faults, std::uint32_t seed);

  // The bytes to send back for a received packet; nothing when no answer goes out. With
  // `lineBaud` only the displays listening at that speed hear the packet (a pseudo-terminal
  // whose other side set the speed); without it, every display does (TCP has no speed).
  std::optional<TByteString> Respond(const TKorvelFormat97& request,
                                     std::optional<std::int32_t> lineBaud = std::nullopt);
  // The speed of the first display, at which the simulator's pseudo-terminal starts.
  std::int32_t Baud() const;
  // What the first display sends on its own: acknowledge 0x0E from its address, SIG 0, no data.
  TByteString UnsolicitedPacket() const;

 private:
  // One display's answer with the faults applied.
  std::optional<TByteString> RespondAs(TSimDisplay& display, const TKorvelFormat97& request);
  // True with probability `p`; draws from the generator every time so that one fault's
  // probability does not shift the other's sequence.
  bool Chance(double p);

  std::vector<TSimDisplay*> displays_;
  TSimFaults faults_;
  std::mt19937 random_;
};

}  // namespace zorvid::sim
