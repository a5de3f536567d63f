#pragma once

// Finding and answering the windows that code under test opens: modal dialogs run their own
// event loop, so they are answered from a timer; boxes that open without blocking are found
// among the top-level widgets.
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>

#include "tests/support/EventLoop.h"
#include "tests/support/Patience.h"

namespace zorvid::test {

// Runs `answer` with the modal window as soon as one is open (polled from timers while the
// dialog's own loop runs). Gives up after `limit`; answered() tells whether it ran.
class TModalAnswer {
 public:
  explicit TModalAnswer(std::function<void(QWidget*)> answer,
                        std::chrono::milliseconds limit = kPatience)
      : state_(std::make_shared<TState>()) {
    state_->answer = std::move(answer);
    state_->end = std::chrono::steady_clock::now() + limit;
    Poll(state_);
  }
  bool answered() const { return state_->answered; }

 private:
  struct TState {
    std::function<void(QWidget*)> answer;
    std::chrono::steady_clock::time_point end;
    bool answered = false;
  };
  static void Poll(const std::shared_ptr<TState>& state) {
    QTimer::singleShot(0, [state] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        state->answered = true;
        state->answer(modal);
      } else if (std::chrono::steady_clock::now() < state->end) {
        Poll(state);
      }
    });
  }
  std::shared_ptr<TState> state_;
};

// The newest visible top-level window of type TWindow, waiting up to `limit` for it while the
// event loop runs; null when none came.
template <class TWindow>
TWindow* WaitForTopLevel(std::chrono::milliseconds limit = kPatience) {
  TWindow* found = nullptr;
  ProcessEventsUntil(
      [&found] {
        for (QWidget* widget : QApplication::topLevelWidgets())
          if (auto* window = qobject_cast<TWindow*>(widget); window && window->isVisible())
            found = window;
        return found != nullptr;
      },
      limit);
  return found;
}

}  // namespace zorvid::test
