#pragma once

// Bounded waits on the main thread's Qt event loop, for tests of code whose notifications
// arrive through it.
#include <QCoreApplication>
#include <chrono>
#include <functional>
#include <string>

#include "tests/support/WaitUntil.h"

namespace zorvid::test {

// Lets the event loop run until the condition holds; false when `limit` passed first.
inline bool ProcessEventsUntil(const std::function<bool()>& condition,
                               std::chrono::milliseconds limit = kWaitLimit) {
  return WaitUntil(condition, limit, [] { QCoreApplication::processEvents(); });
}

// Lets the event loop run until everything posted to it so far has been delivered: a marker
// posted now comes after all of it. What a component handed to the main thread before this call
// has then arrived; what it hands over later has not.
inline bool DeliverPostedEvents() {
  bool delivered = false;
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [&delivered] { delivered = true; }, Qt::QueuedConnection);
  return ProcessEventsUntil([&delivered] { return delivered; });
}

// Lets the event loop run for the whole duration.
inline void ProcessEventsFor(std::chrono::milliseconds duration) {
  ProcessEventsUntil([] { return false; }, duration);
}

// The text of the error of type TError that `action` raises, or "<no error>".
template <class TError>
std::string ErrorText(const std::function<void()>& action) {
  try {
    action();
  } catch (const TError& error) {
    return error.what();
  }
  return "<no error>";
}

}  // namespace zorvid::test
