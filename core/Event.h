#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zorvid {

// A manual-reset event: Set releases every waiter until Reset.
class TEvent {
 public:
  void Set() {
    {
      std::lock_guard guard(mutex_);
      signalled_ = true;
    }
    changed_.notify_all();
  }
  void Reset() {
    std::lock_guard guard(mutex_);
    signalled_ = false;
  }
  // True when the event was set within the time-out.
  bool Wait(std::chrono::milliseconds timeout) {
    std::unique_lock guard(mutex_);
    return changed_.wait_for(guard, timeout, [this] { return signalled_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_ = false;  // guarded by mutex_
};

}  // namespace zorvid
