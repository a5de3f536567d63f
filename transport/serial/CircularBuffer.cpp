#include "transport/serial/CircularBuffer.h"

#include <algorithm>
#include <cstring>

namespace zorvid {

TCircularBuffer::TCircularBuffer(std::size_t capacity)
    : data_(std::make_unique<char[]>(capacity)), capacity_(capacity) {}

std::size_t TCircularBuffer::Used() const {
  if (full_) return capacity_;
  if (writeIndex_ >= readIndex_) return writeIndex_ - readIndex_;
  return capacity_ - readIndex_ + writeIndex_;
}

std::size_t TCircularBuffer::ReadableInOnePiece() const {
  if (writeIndex_ > readIndex_) return writeIndex_ - readIndex_;
  if (writeIndex_ == readIndex_ && !full_) return 0;
  return capacity_ - readIndex_;
}

bool TCircularBuffer::Append(const char* data, std::size_t count) {
  if (count < 1 || count > Free()) return false;
  const std::size_t firstPiece = std::min(count, capacity_ - writeIndex_);
  std::memcpy(data_.get() + writeIndex_, data, firstPiece);
  std::memcpy(data_.get(), data + firstPiece, count - firstPiece);
  writeIndex_ = (writeIndex_ + count) % capacity_;
  if (writeIndex_ == readIndex_) full_ = true;
  return true;
}

bool TCircularBuffer::Remove(std::size_t count) {
  if (count > Used()) return false;
  if (count > 0) {
    readIndex_ = (readIndex_ + count) % capacity_;
    full_ = false;
  }
  return true;
}

void TCircularBuffer::Clear() {
  readIndex_ = 0;
  writeIndex_ = 0;
  full_ = false;
}

}  // namespace zorvid
