#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "capture/Traffic.h"
#include "protocol/PacketReader.h"

namespace zorvid {

// Cuts chunks of traffic, as a transport moved them, into records. Received bytes are cut with
// the protocol's own packet reader, so garbage is skipped exactly as the stack skips it and the
// bytes waiting for the rest of a packet are bounded as the stack's are. A sent chunk is cut on
// its own: its packets, and what is left over as noise; received bytes still waiting when such
// a left-over comes are given out as noise first. Not thread-safe.
class TTrafficCutter {
 public:
  // `received`: the direction of what the recording end receives; kFromDisplay for the program
  // that sends the requests, kToDisplay for a display (the simulator).
  explicit TTrafficCutter(TTrafficDirection received = TTrafficDirection::kFromDisplay)
      : receivedDirection_(received) {}

  // Appends the records the chunk completes to `out`, in line order; each gets `time`.
  void Cut(TTrafficDirection direction, std::string_view bytes, TTrafficTime time,
           std::vector<TTrafficRecord>& out);
  // Appends the received bytes still waiting as noise, with `time`, and forgets them: when the
  // line closes or the recording ends, they will never be completed.
  void Flush(TTrafficTime time, std::vector<TTrafficRecord>& out);
  // Received bytes waiting for the rest of a packet.
  std::size_t Waiting() const { return received_.Size(); }
  void Clear() { received_.Clear(); }

 private:
  void CutReceived(std::string_view bytes, TTrafficTime time, std::vector<TTrafficRecord>& out);
  void CutSent(TTrafficDirection direction, std::string_view bytes, TTrafficTime time,
               std::vector<TTrafficRecord>& out);

  TTrafficDirection receivedDirection_;
  TPacketReader received_;
};

// Cuts one complete chunk (a whole capture's sent chunk, say) into records, nothing waiting.
std::vector<TTrafficRecord> CutChunk(TTrafficDirection direction, std::string_view bytes,
                                     TTrafficTime time);

// A request as its answer finds it.
struct TRequestSeen {
  TByte instruction = 0;
  TTrafficTime time;
  bool hidden = false;
};

// Pairs answers with their requests by address and SIG, whenever the answer comes. A request
// to the special address 0xFE is answered from any address. A newer request with the same
// address and SIG replaces an older one that got no answer, so at most one request waits per
// address and SIG. Not thread-safe.
class TExchangeMatcher {
 public:
  void Request(TByte address, TByte sig, const TRequestSeen& request);
  // The request this answer answers, taken out; nothing for an answer without one.
  std::optional<TRequestSeen> Answer(TByte address, TByte sig);
  std::size_t Waiting() const { return requests_.size(); }
  void Clear() { requests_.clear(); }

 private:
  static unsigned Key(TByte address, TByte sig) { return address << 8 | sig; }
  std::optional<TRequestSeen> Take(unsigned key);

  std::unordered_map<unsigned, TRequestSeen> requests_;
};

}  // namespace zorvid
