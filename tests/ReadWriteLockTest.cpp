#include "core/ReadWriteLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace zorvid {
namespace {

using namespace std::chrono_literals;

// Waits (bounded) until the predicate holds; true when it did.
template <class Predicate>
bool WaitFor(Predicate predicate, std::chrono::milliseconds limit = 2000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(ReadWriteLock, ReentersOnOneThread) {
  TReentrantReadWriteLock lock;
  lock.Lock();
  lock.Lock();
  lock.LockRead();  // a writer may read
  EXPECT_TRUE(lock.IsWriter());
  lock.UnlockRead();
  lock.Unlock();
  EXPECT_TRUE(lock.IsWriter()) << "one Unlock must not end a lock taken twice";
  lock.Unlock();
  EXPECT_FALSE(lock.IsWriter());

  lock.LockRead();
  lock.LockRead();
  lock.Lock();  // the only reader may upgrade
  EXPECT_TRUE(lock.IsWriter());
  lock.Unlock();
  lock.UnlockRead();
  lock.UnlockRead();

  // Everything was released: another thread gets the exclusive lock at once.
  std::thread other([&] {
    lock.Lock();
    lock.Unlock();
  });
  other.join();
}

TEST(ReadWriteLock, ReadersShareAndWritersExclude) {
  TReentrantReadWriteLock lock;
  std::atomic<int> readersInside{0};
  auto reader = [&] {
    TReadLocker guard(lock);
    ++readersInside;
    EXPECT_TRUE(WaitFor([&] { return readersInside == 2; })) << "readers did not share the lock";
  };
  std::thread first(reader), second(reader);
  first.join();
  second.join();

  std::atomic<bool> writerInside{false};
  lock.LockRead();
  std::thread writer([&] {
    TWriteLocker guard(lock);
    writerInside = true;
  });
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(writerInside) << "a writer got in while a reader held the lock";
  lock.LockRead();  // re-entry while a writer waits must not deadlock
  lock.UnlockRead();
  lock.UnlockRead();
  writer.join();
  EXPECT_TRUE(writerInside);
}

// Several threads mix re-entrant reads and writes on shared data; the thread sanitizer and the
// invariant catch any moment in which a writer was not alone.
TEST(ReadWriteLock, ContentionWithReentry) {
  TReentrantReadWriteLock lock;
  long first = 0, second = 0;  // always equal outside a write; guarded by lock
  std::atomic<int> mismatches{0};
  constexpr int kThreads = 4, kRounds = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        if ((round + t) % 3 == 0) {
          TWriteLocker outer(lock);
          ++first;
          TWriteLocker inner(lock);
          TReadLocker nestedRead(lock);
          ++second;
        } else {
          TReadLocker outer(lock);
          TReadLocker inner(lock);
          if (first != second) ++mismatches;
        }
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first, kThreads * kRounds / 3);
}

}  // namespace
}  // namespace zorvid
