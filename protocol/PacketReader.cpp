#include "protocol/PacketReader.h"

#include <algorithm>

namespace zorvid {
namespace {

// A packet that validates and can be read; a validated 8-byte string is still too short to
// parse, and a reader of a noisy line must not fail on it.
bool ReadPacket(const TByteString& candidate, TKorvelFormat97& packet) {
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
  for (auto at = bytes.find(kPacket97Start, from); at != std::string_view::npos;
       at = bytes.find(kPacket97Start, at + 1)) {
    if (CompletePacketSize97(bytes.substr(at)) > 0) return at;
  }
  return std::string_view::npos;
}

void TReceiveBuffer::Append(std::string_view bytes) {
  if (start_ > 0) {
    data_.erase(0, start_);
    start_ = 0;
  }
  data_.append(bytes);
  if (data_.size() > kLimit) data_.erase(0, data_.size() - kKeep);
}

void TReceiveBuffer::DropFront(std::size_t count) {
  start_ += std::min(count, Size());
  if (start_ == data_.size()) Clear();
}

void TReceiveBuffer::Clear() {
  data_.clear();
  start_ = 0;
}

std::string_view TPacketReader::NextCandidate() {
  const std::string_view bytes = buffer_.View();
  if (const std::size_t size = CompletePacketSize97(bytes)) return bytes.substr(0, size);
  if (bytes.empty()) return {};
  const std::size_t at = FindCompletePacket97(bytes, 1);
  if (at == std::string_view::npos) return {};
  buffer_.DropFront(at);
  const std::string_view rest = buffer_.View();
  return rest.substr(0, CompletePacketSize97(rest));
}

bool TPacketReader::Next(TKorvelFormat97& packet) {
  for (;;) {
    const TByteString candidate(NextCandidate());
    if (candidate.empty()) return false;
    if (ReadPacket(candidate, packet)) {
      buffer_.DropFront(candidate.size());
      return true;
    }
    // At least one byte goes, so the stream always moves on.
    const auto next = candidate.find('*', 1);
    buffer_.DropFront(next == TByteString::npos ? candidate.size() : next);
  }
}

}  // namespace zorvid
