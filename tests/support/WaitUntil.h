#pragma once

// A bounded wait for a condition that other threads (or the event loop) make true.
#include <chrono>
#include <functional>
#include <thread>

namespace zorvid::test {

// The default limit of a wait for something that normally takes milliseconds: far beyond what it
// takes under the thread sanitizer on a busy machine, so that only a fault runs into it.
inline constexpr std::chrono::milliseconds kWaitLimit{10'000};

// Checks the condition every millisecond, running `between` after each failed check; false
// when `limit` passed first.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = kWaitLimit,
                      const std::function<void()>& between = {}) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    if (between) between();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace zorvid::test
