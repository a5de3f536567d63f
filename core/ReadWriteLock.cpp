#include "core/ReadWriteLock.h"

#include <algorithm>
#include <cassert>

namespace zorvid {

TReentrantReadWriteLock::TReaders::iterator TReentrantReadWriteLock::FindReader(
    std::thread::id thread) {
  return std::find_if(readers_.begin(), readers_.end(),
                      [thread](const auto& reader) { return reader.first == thread; });
}

bool TReentrantReadWriteLock::OnlyReaderIs(std::thread::id thread) const {
  return readers_.size() == 1 && readers_.front().first == thread;
}

void TReentrantReadWriteLock::Lock() {
  const auto self = std::this_thread::get_id();
  std::unique_lock guard(mutex_);
  if (writer_ == self) {
    ++writeDepth_;
    return;
  }
  ++waitingWriters_;
  changed_.wait(guard, [&] {
    return writer_ == std::thread::id() && (readers_.empty() || OnlyReaderIs(self));
  });
  --waitingWriters_;
  writer_ = self;
  writeDepth_ = 1;
}

void TReentrantReadWriteLock::Unlock() {
  std::lock_guard guard(mutex_);
  assert(writer_ == std::this_thread::get_id() && "Unlock by a thread that is not the writer");
  if (writer_ != std::this_thread::get_id() || --writeDepth_ > 0) return;
  writer_ = std::thread::id();
  changed_.notify_all();
}

void TReentrantReadWriteLock::LockRead() {
  const auto self = std::this_thread::get_id();
  std::unique_lock guard(mutex_);
  if (auto reader = FindReader(self); reader != readers_.end()) {
    ++reader->second;
    return;
  }
  if (writer_ != self) {
    changed_.wait(guard, [&] { return writer_ == std::thread::id() && waitingWriters_ == 0; });
  }
  readers_.emplace_back(self, 1);
}

void TReentrantReadWriteLock::UnlockRead() {
  std::lock_guard guard(mutex_);
  auto reader = FindReader(std::this_thread::get_id());
  assert(reader != readers_.end() && "UnlockRead by a thread that holds no shared lock");
  if (reader == readers_.end() || --reader->second > 0) return;
  readers_.erase(reader);
  if (readers_.size() <= 1) changed_.notify_all();
}

bool TReentrantReadWriteLock::IsWriter() const {
  std::lock_guard guard(mutex_);
  return writer_ == std::this_thread::get_id();
}

}  // namespace zorvid
