#pragma once

#include <cstddef>
#include <string_view>

#include "protocol/Korvel97.h"

namespace zorvid {

// The two bytes every packet starts with.
inline constexpr std::string_view kPacket97Start = "*a";

// Where the first "*a" at or after `from` starts a complete packet; npos when nowhere.
std::size_t FindCompletePacket97(std::string_view bytes, std::size_t from);

// Received bytes not yet taken as packets. Cutting a packet off the front only moves an
// offset, so taking N packets out of a buffer costs time linear in its size.
class TReceiveBuffer {
 public:
  // Appends; past kLimit bytes only the newest kKeep bytes are kept.
  void Append(std::string_view bytes);
  std::string_view View() const { return std::string_view(data_).substr(start_); }
  std::size_t Size() const { return data_.size() - start_; }
  void DropFront(std::size_t count);
  void Clear();

  static constexpr std::size_t kLimit = 0x20000;
  static constexpr std::size_t kKeep = 0x15000;

 private:
  TByteString data_;
  std::size_t start_ = 0;
};

// Cuts a byte stream that may hold garbage into readable packets. Garbage in front of a
// complete packet is skipped, also a false "*a" whose length never completes; a candidate that
// is not a readable packet is dropped up to the next "*" after its first byte, so a valid
// packet behind it is never lost. Incomplete bytes wait for more input. Not thread-safe.
class TPacketReader {
 public:
  void Append(std::string_view bytes) { buffer_.Append(bytes); }
  // Cuts the next readable packet off the front; false when no complete one is waiting.
  bool Next(TKorvelFormat97& packet);
  std::size_t Size() const { return buffer_.Size(); }
  void Clear() { buffer_.Clear(); }

 private:
  // The complete packet at the front, after skipping garbage; empty when there is none yet.
  std::string_view NextCandidate();

  TReceiveBuffer buffer_;
};

}  // namespace zorvid
