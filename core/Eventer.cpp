#include "core/Eventer.h"

#include "core/MessageHook.h"

#include <chrono>

namespace zorvid {
namespace {
constexpr auto kBusyRetry = std::chrono::milliseconds(10);
}  // namespace

std::ptrdiff_t TEventer::FindLast(const TMethod& handler) const {
  for (auto i = static_cast<std::ptrdiff_t>(entries_.size()) - 1; i >= 0; --i)
    if (entries_[static_cast<std::size_t>(i)].handler == handler) return i;
  return -1;
}

void TEventer::Add(const TMethod& handler) {
  if (!handler || destroying_) return;
  TWriteLocker guard(lock_);
  if (const auto found = FindLast(handler); found >= 0) {
    auto& entry = entries_[static_cast<std::size_t>(found)];
    if (entry.active) return;
    // Unsubscribed during a fire that still runs: make sure it never matches again.
    entry.handler = {};
  }
  TEntry entry;
  entry.active = true;
  entry.handler = handler;
  entries_.push_back(entry);
}

void TEventer::Remove(const TMethod& handler) {
  if (!handler) return;
  TWriteLocker guard(lock_);
  const auto found = FindLast(handler);
  if (found < 0) return;
  entries_[static_cast<std::size_t>(found)].active = false;
  if (firing_ == 0) entries_.erase(entries_.begin() + found);
}

void TEventer::Clear() {
  TWriteLocker guard(lock_);
  if (firing_ == 0) {
    entries_.clear();
    return;
  }
  // Running fires hold indexes into the list: deactivate instead and let them compact it.
  for (auto& entry : entries_) {
    entry.active = false;
    if (!entry.busy) entry.handler = {};
  }
}

bool TEventer::IsFiring() const {
  TReadLocker guard(lock_);
  return firing_ > 0;
}

void TEventer::Shutdown() {
  destroying_ = true;
  Clear();
}

// Under lock_: moves index to the next entry to call, compacting dead entries on the way.
TEventer::TAdvance TEventer::Advance(std::size_t& index, TMethod& handler) {
  const auto self = std::this_thread::get_id();
  std::size_t next = index;
  for (;; ++next) {
    if (next >= entries_.size()) {
      if (index < entries_.size())
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index), entries_.end());
      return TAdvance::End;
    }
    const TEntry& entry = entries_[next];
    if (entry.busy && entry.caller == self) {
      // A nested fire passing the handler its own thread is calling: skip it, leave it in place.
      index = next + 1;
      continue;
    }
    if (entry.busy) return TAdvance::Busy;
    if (entry.active) break;
  }
  if (next != index) {
    entries_[index] = entries_[next];
    entries_[next] = TEntry{};
  }
  TEntry& entry = entries_[index];
  entry.busy = true;
  entry.caller = self;
  handler = entry.handler;
  return TAdvance::Call;
}

void TEventer::FinishCall(std::size_t index) {
  TWriteLocker guard(lock_);
  if (index >= entries_.size()) return;
  TEntry& entry = entries_[index];
  entry.busy = false;
  entry.caller = {};
  if (!entry.active) entry.handler = {};
}

void TEventer::Fire(const void* argument) {
  if (destroying_) return;
  {
    TWriteLocker guard(lock_);
    ++firing_;
  }
  struct TFiringScope {
    TEventer& eventer;
    ~TFiringScope() {
      TWriteLocker guard(eventer.lock_);
      --eventer.firing_;
    }
  } scope{*this};

  std::size_t index = 0;
  for (;;) {
    TMethod handler;
    TAdvance outcome;
    {
      TWriteLocker guard(lock_);
      outcome = destroying_ ? TAdvance::End : Advance(index, handler);
    }
    if (outcome == TAdvance::End) break;
    if (outcome == TAdvance::Busy) {
      std::this_thread::sleep_for(kBusyRetry);
      continue;
    }
    // A failing handler must not keep the others from their event, nor its reason from the user.
    try {
      CallHandler(handler, argument);
    } catch (const std::exception& error) {
      ShowMessage(std::string("an event handler failed: ") + error.what());
    } catch (...) {
      ShowMessage("an event handler failed with an unknown error");
    }
    FinishCall(index);
    ++index;
  }
}

}  // namespace zorvid
