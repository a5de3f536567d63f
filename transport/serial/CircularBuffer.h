#pragma once

#include <cstddef>
#include <memory>

namespace zorvid {

// A byte queue of fixed capacity: the write queue of a serial port. When the read and the write
// index meet, the buffer is full if the full flag is set and empty otherwise.
//
// Not thread-safe: its owner guards it (the serial core holds its write lock around every call).
class TCircularBuffer {
 public:
  explicit TCircularBuffer(std::size_t capacity);

  std::size_t Capacity() const { return capacity_; }
  std::size_t Used() const;
  std::size_t Free() const { return capacity_ - Used(); }
  // Bytes that can be taken in one piece from the read position: up to the end of the array or
  // up to the write index.
  std::size_t ReadableInOnePiece() const;
  const char* ReadPosition() const { return data_.get() + readIndex_; }

  // Appends all of `data` or nothing: refused when `count` is 0 or more than is free.
  bool Append(const char* data, std::size_t count);
  // Drops `count` bytes from the read side; refused when more than are used.
  bool Remove(std::size_t count);
  void Clear();

 private:
  std::unique_ptr<char[]> data_;
  std::size_t capacity_;
  std::size_t readIndex_ = 0;
  std::size_t writeIndex_ = 0;
  bool full_ = false;
};

}  // namespace zorvid
