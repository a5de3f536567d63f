#pragma once

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "core/Handler.h"

namespace zorvid {

// A single handler that may be called on other threads. Replacing it waits until calls of the
// old one on other threads have returned, so that the object behind a handler may go as soon
// as it has replaced it; a call on the replacing thread itself (a handler that replaces
// itself) is not waited for. The mutex is never held while the handler runs.
template <class... Args>
class THandlerSlot {
 public:
  using THandlerType = THandler<Args...>;

  THandlerType Get() const {
    std::lock_guard guard(mutex_);
    return handler_;
  }

  void Set(const THandlerType& handler) {
    const auto self = std::this_thread::get_id();
    std::unique_lock guard(mutex_);
    handler_ = handler;
    callEnded_.wait(guard, [&] {
      return std::all_of(callers_.begin(), callers_.end(), [&](auto id) { return id == self; });
    });
  }

  // Calls the handler when one is set; false when none is. Errors of the handler propagate.
  template <class... CallArgs>
  bool Call(CallArgs&&... args) {
    const auto self = std::this_thread::get_id();
    THandlerType handler;
    {
      std::lock_guard guard(mutex_);
      if (!handler_) return false;
      handler = handler_;
      callers_.push_back(self);
    }
    struct TCallScope {
      THandlerSlot& slot;
      std::thread::id caller;
      ~TCallScope() {
        {
          std::lock_guard guard(slot.mutex_);
          slot.callers_.erase(std::find(slot.callers_.begin(), slot.callers_.end(), caller));
        }
        slot.callEnded_.notify_all();
      }
    } scope{*this, self};
    handler(std::forward<CallArgs>(args)...);
    return true;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable callEnded_;
  THandlerType handler_;                  // guarded by mutex_
  std::vector<std::thread::id> callers_;  // threads inside a call; guarded by mutex_
};

}  // namespace zorvid
