#pragma once

// Counts the requests of one instruction that anything writes to any line, and keeps when the
// first went out: what the window or a procedure sent, seen from the line's side.
#include <atomic>
#include <chrono>

#include "protocol/Korvel97.h"
#include "transport/CommunicationInterfaceDataSpy.h"

namespace zorvid::test {

// Installed as a data spy sink from construction to destruction; the spy runs on the thread
// that writes to the line, the readers on any other.
class TSentRequests {
 public:
  explicit TSentRequests(TByte instruction)
      : instruction_(instruction), sink_(TSpySink(this, &TSentRequests::Count)) {}
  int Count() const { return count_; }
  std::chrono::steady_clock::time_point FirstSentAt() const {
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(firstSent_));
  }

 private:
  void Count(TCiRef, const TByteString& data, TByte direction) {
    if (direction != kSpySent) return;
    TKorvelFormat97 packet;
    try {
      ParsePacket97(data, packet);  // the stack writes one whole packet at a time
    } catch (const EKorvelPacketError&) {
      return;
    }
    if (packet.Inst != instruction_) return;
    if (count_ == 0) firstSent_ = std::chrono::steady_clock::now().time_since_epoch().count();
    ++count_;  // after the time, which a reader of the count may then take
  }
  TByte instruction_;
  std::atomic<int> count_{0};
  std::atomic<std::chrono::steady_clock::rep> firstSent_{0};
  TInstalledSpySink sink_;
};

}  // namespace zorvid::test
