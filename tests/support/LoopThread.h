#pragma once

// A thread that runs a Qt event loop (exec()), standing in for a thread of its own that owns a
// line; the test runs actions on it and waits for them.
#include <QObject>
#include <QThread>
#include <exception>
#include <functional>
#include <future>
#include <thread>

namespace zorvid::test {

class TLoopThread {
 public:
  TLoopThread() {
    context_.moveToThread(&thread_);
    thread_.start();  // QThread::run is exec()
    Run([this] { id_ = std::this_thread::get_id(); });
  }
  // Ends the event loop; deferred deletions of the thread's objects run as it ends.
  ~TLoopThread() {
    thread_.quit();
    thread_.wait();
  }
  TLoopThread(const TLoopThread&) = delete;
  TLoopThread& operator=(const TLoopThread&) = delete;

  std::thread::id Id() const { return id_; }

  // Runs `action` on the thread through its event loop and waits for it; an error it raises is
  // raised here.
  void Run(const std::function<void()>& action) {
    std::promise<void> done;
    QMetaObject::invokeMethod(
        &context_,
        [&] {
          try {
            action();
            done.set_value();
          } catch (...) {
            done.set_exception(std::current_exception());
          }
        },
        Qt::QueuedConnection);
    done.get_future().get();
  }

 private:
  QThread thread_;
  QObject context_;  // lives in the thread; the actions are queued to it
  std::thread::id id_;
};

}  // namespace zorvid::test
