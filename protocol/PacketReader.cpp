#include "protocol/PacketReader.h"

#include <algorithm>
#include <utility>

namespace zorvid {
namespace {

constexpr auto npos = std::string_view::npos;

// A packet that validates and can be read; a validated 8-byte string is still too short to
// parse, and a reader of a noisy line must not fail on it.
bool ReadPacket(std::string_view candidate, TKorvelFormat97& packet) {
  if (ValidatePacket97(candidate) != kPacket97Valid) return false;
  try {
    ParsePacket97(candidate, packet);
    return true;
  } catch (const EKorvelPacketError&) {
    return false;
  }
}

}  // namespace

std::size_t FindCompletePacket97(std::string_view bytes, std::size_t from) {
  for (auto at = bytes.find(kPacket97Start, from); at != npos;
       at = bytes.find(kPacket97Start, at + 1)) {
    if (CompletePacketSize97(bytes.substr(at)) > 0) return at;
  }
  return npos;
}

void TReceiveBuffer::Append(std::string_view bytes) {
  if (bytes.empty()) return;
  Settle();
  GiveBackFront();
  data_.append(bytes);
  KeepWithinLimit();
}

void TReceiveBuffer::Lend(std::string_view bytes) {
  if (Size() != 0 || bytes.empty()) return Append(bytes);
  Clear();
  lent_ = bytes;
  KeepWithinLimit();
}

void TReceiveBuffer::Settle() {
  if (!lent_.data()) return;
  data_.assign(View());
  lent_ = {};
  start_ = 0;
}

void TReceiveBuffer::KeepWithinLimit() {
  if (Size() <= kLimit) return;
  start_ = Bytes().size() - kKeep;
  GiveBackFront();
}

// Moving the waiting bytes costs no more than cutting the front did.
void TReceiveBuffer::GiveBackFront() {
  if (lent_.data() || start_ == 0 || start_ < Size()) return;
  data_.erase(0, start_);
  start_ = 0;
}

void TReceiveBuffer::TakeFrom(TReceiveBuffer& other) {
  if (Size() == 0) {
    std::swap(data_, other.data_);
    std::swap(lent_, other.lent_);
    std::swap(start_, other.start_);
  } else {
    Append(other.View());
  }
  other.Clear();
}

void TReceiveBuffer::DropFront(std::size_t count) {
  start_ += std::min(count, Size());
}

void TReceiveBuffer::Clear() {
  data_.clear();
  lent_ = {};
  start_ = 0;
}

TReadPiece TPacketReader::Cut(TReadPiece::TKind kind, std::size_t count, std::string_view refused) {
  const TReadPiece piece{kind, buffer_.View().substr(0, count), refused};
  buffer_.DropFront(count);
  return piece;
}

TReadPiece TPacketReader::NextPiece(TKorvelFormat97& packet) {
  using enum TReadPiece::TKind;
  const std::string_view bytes = buffer_.View();
  const std::size_t size = CompletePacketSize97(bytes);
  if (size == 0) {
    const std::size_t at = bytes.empty() ? npos : FindCompletePacket97(bytes, 1);
    return at == npos ? TReadPiece{} : Cut(kNoPacket, at);
  }
  const std::string_view candidate = bytes.substr(0, size);
  if (ReadPacket(candidate, packet)) return Cut(kPacket, size);
  // At least one byte goes, so the stream always moves on.
  const std::size_t next = candidate.find('*', 1);
  return Cut(kNoPacket, next == npos ? size : next, candidate);
}

bool TPacketReader::Next(TKorvelFormat97& packet) {
  for (;;) {
    const TReadPiece piece = NextPiece(packet);
    if (piece.kind != TReadPiece::TKind::kNoPacket) return piece.kind == TReadPiece::TKind::kPacket;
  }
}

TReadPiece TPacketReader::CutLeadingNoise() {
  const std::string_view bytes = buffer_.View();
  std::size_t noise = bytes.find(kPacket97Start);
  if (noise == npos)
    noise = !bytes.empty() && bytes.back() == '*' ? bytes.size() - 1 : bytes.size();
  return noise == 0 ? TReadPiece{} : Cut(TReadPiece::TKind::kNoPacket, noise);
}

}  // namespace zorvid
