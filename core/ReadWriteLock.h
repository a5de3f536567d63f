#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace zorvid {

// Many readers or one writer. Re-entrant: the writing thread may take the exclusive lock again
// and may take the shared lock; a reading thread may take the shared lock again, and may take
// the exclusive lock once it is the only reader (two readers that both do so deadlock, as with
// any upgradable lock). A waiting writer keeps new readers out, but not threads that already
// read, so re-entry never deadlocks against a waiting writer.
class TReentrantReadWriteLock {
 public:
  TReentrantReadWriteLock() = default;
  TReentrantReadWriteLock(const TReentrantReadWriteLock&) = delete;
  TReentrantReadWriteLock& operator=(const TReentrantReadWriteLock&) = delete;

  void Lock();
  void Unlock();
  void LockRead();
  void UnlockRead();

  // True when the calling thread holds the exclusive lock.
  bool IsWriter() const;

 private:
  using TReaders = std::vector<std::pair<std::thread::id, int>>;
  TReaders::iterator FindReader(std::thread::id thread);
  bool OnlyReaderIs(std::thread::id thread) const;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  // All fields below are guarded by mutex_.
  std::thread::id writer_;
  int writeDepth_ = 0;
  int waitingWriters_ = 0;
  TReaders readers_;  // reading threads with their depth of shared locks
};

// Scoped exclusive and shared locking of anything with Lock/Unlock and LockRead/UnlockRead.
template <class T>
class TWriteLocker {
 public:
  explicit TWriteLocker(T& lock) : lock_(lock) { lock_.Lock(); }
  ~TWriteLocker() { lock_.Unlock(); }
  TWriteLocker(const TWriteLocker&) = delete;
  TWriteLocker& operator=(const TWriteLocker&) = delete;

 private:
  T& lock_;
};

template <class T>
class TReadLocker {
 public:
  explicit TReadLocker(T& lock) : lock_(lock) { lock_.LockRead(); }
  ~TReadLocker() { lock_.UnlockRead(); }
  TReadLocker(const TReadLocker&) = delete;
  TReadLocker& operator=(const TReadLocker&) = delete;

 private:
  T& lock_;
};

}  // namespace zorvid
