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
// offset; the cut front is given back when it is at least as large as what is left, so taking
// N packets out of a buffer costs time linear in its size and the string holds at most twice
// what waits (plus the newest append). An empty buffer may borrow the bytes instead of copying
// them, until Settle copies what is left of them.
class TReceiveBuffer {
 public:
  // Appends; past kLimit bytes only the newest kKeep bytes are kept.
  void Append(std::string_view bytes);
  // Appends `bytes` without copying them when the buffer is empty: they must live until
  // Settle, Append or Clear.
  void Lend(std::string_view bytes);
  // Copies what is left of lent bytes, so they may go.
  void Settle();
  std::string_view View() const { return Bytes().substr(start_); }
  std::size_t Size() const { return Bytes().size() - start_; }
  // What the string holds: the waiting bytes and the cut front not yet given back.
  std::size_t Footprint() const { return data_.size(); }
  // Appends what `other` holds and empties it; the bytes change hands when this one is empty.
  void TakeFrom(TReceiveBuffer& other);
  // Views taken before stay valid until the next Append, TakeFrom, Settle or Clear.
  void DropFront(std::size_t count);
  void Clear();

  static constexpr std::size_t kLimit = 0x20000;
  static constexpr std::size_t kKeep = 0x15000;

 private:
  std::string_view Bytes() const { return lent_.data() ? lent_ : std::string_view(data_); }
  void KeepWithinLimit();
  void GiveBackFront();

  TByteString data_;
  std::string_view lent_;  // the borrowed bytes; data_ is empty meanwhile
  std::size_t start_ = 0;  // where the waiting bytes start in Bytes()
};

// One piece cut off the front of a byte stream: a readable packet, or bytes that are none.
struct TReadPiece {
  enum class TKind { kNothing, kPacket, kNoPacket };
  TKind kind = TKind::kNothing;
  // The bytes cut off, valid until the reader's next Append or Clear.
  std::string_view bytes;
  // With kNoPacket: the complete candidate that was refused, when the bytes begin one.
  std::string_view refused;
};

// Cuts a byte stream that may hold garbage into readable packets. Garbage in front of a
// complete packet is skipped, also a false "*a" whose length never completes; a candidate that
// is not a readable packet is dropped up to the next "*" after its first byte, so a valid
// packet behind it is never lost. Incomplete bytes wait for more input. Not thread-safe.
class TPacketReader {
 public:
  void Append(std::string_view bytes) { buffer_.Append(bytes); }
  void TakeFrom(TReceiveBuffer& bytes) { buffer_.TakeFrom(bytes); }
  void Settle() { buffer_.Settle(); }
  // Cuts the next readable packet off the front, dropping what is no packet before it; false
  // when no complete one is waiting.
  bool Next(TKorvelFormat97& packet);
  // Cuts the next piece off the front: a packet (parsed into `packet`) or bytes dropped as no
  // packet; kNothing when what waits may still become a packet.
  TReadPiece NextPiece(TKorvelFormat97& packet);
  // Cuts the bytes in front that can never begin a packet: all before the first "*a" (a final
  // "*" may still be one). Next leaves them until a complete packet follows.
  TReadPiece CutLeadingNoise();
  std::string_view View() const { return buffer_.View(); }
  std::size_t Size() const { return buffer_.Size(); }
  std::size_t Footprint() const { return buffer_.Footprint(); }
  void Clear() { buffer_.Clear(); }

 private:
  TReadPiece Cut(TReadPiece::TKind kind, std::size_t count, std::string_view refused = {});

  TReceiveBuffer buffer_;
};

}  // namespace zorvid
