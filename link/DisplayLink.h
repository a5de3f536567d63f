#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <chrono>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "link/DisplayConnection.h"

namespace zorvid {

class TLinkWorker;

// The display connection on a thread of its own, so that its user never waits for the line.
// The user hands it whole procedures (a connect, a load, a poll), which run one at a time in
// the order given, and learns each one's outcome when it has finished.
//
// Threads: the object lives on the thread that made it, the owner's (the user-interface
// thread), which makes every call and runs every `finished` and signal. The link thread starts
// with the object and runs an event loop; it owns the connection: it runs the procedures,
// makes, opens and closes the transports (whose events come to its loop) and looks at the line
// every 100 ms while idle and after each procedure. The two threads hand jobs over through
// queues under `mutex_`; the queued calls that wake them carry no data.
class TDisplayLink : public QObject {
  Q_OBJECT

 public:
  using TProcedure = std::function<void(TDisplayConnection&)>;
  using TFinished = std::function<void()>;
  using TFailed = std::function<void(const std::string& error)>;

  explicit TDisplayLink(QObject* parent = nullptr);
  // Abandons the exchange in flight and the procedures that wait, closes the line on the link
  // thread and joins it: returns within about a tenth of a second however silent the line is.
  ~TDisplayLink() override;
  TDisplayLink(const TDisplayLink&) = delete;
  TDisplayLink& operator=(const TDisplayLink&) = delete;

  // Queues `procedure` for the link thread; `finished` runs after it on the owner's thread
  // unless the link has gone by then. When the procedure raised, `failed` runs instead with the
  // error's text; without `failed` the text is shown as a message (core's message hook) and
  // `finished` runs after it.
  void Run(TProcedure procedure, TFinished finished, TFailed failed = {});
  // The same with the procedure's result handed to `finished`. A procedure that raised has no
  // result: `failed` gets its text, and no made-up result passes for one.
  template <class TProcedureFn, class TFinishedFn>
  void Call(TProcedureFn procedure, TFinishedFn finished, TFailed failed);

  // Abandons the exchange in flight (it ends within 50 ms) and every one of the procedures
  // queued before, then runs `procedure` (a disconnect) and lets later requests wait for their
  // answers again.
  void Interrupt(TProcedure procedure, TFinished finished);

  // Procedures queued or running whose `finished` has not run yet.
  bool IsBusy() const { return pending_ > 0; }

 signals:
  // The line closed under the connection (a peer's close, a hangup, a bridge's input/output
  // error) and the link has disconnected; `reason` is the transport's.
  void lineLost(const QString& reason);

 private:
  friend class TLinkWorker;

  struct TJob {
    TProcedure procedure;
    TFinished finished;
    TFailed failed;
    std::string error;                    // what the procedure raised
    std::optional<std::string> lineLoss;  // a report of a lost line instead of a job
  };

  // Link thread: the next job, or none when the queue is empty.
  std::optional<TJob> TakeJob();
  bool IsStopping();
  // Link thread: hands a finished job or a lost line to the owner.
  void Hand(TJob job);
  // Owner's thread: the finished jobs' callbacks and the lost lines, in order.
  Q_INVOKABLE void FinishJobs();
  void Wake(QObject* receiver, const char* method);

  std::unique_ptr<TDisplayConnection> connection_;  // used on the link thread only
  QThread thread_;
  TLinkWorker* worker_ = nullptr;  // lives on thread_; deleted after it has ended
  int pending_ = 0;                // owner's thread only

  std::mutex mutex_;
  std::deque<TJob> queued_;    // guarded by mutex_
  std::deque<TJob> finished_;  // guarded by mutex_
  bool stopping_ = false;      // guarded by mutex_
};

template <class TProcedureFn, class TFinishedFn>
void TDisplayLink::Call(TProcedureFn procedure, TFinishedFn finished, TFailed failed) {
  using TResult = std::invoke_result_t<TProcedureFn&, TDisplayConnection&>;
  // Written on the link thread before the job is handed back under the mutex, read after.
  auto result = std::make_shared<TResult>();
  Run([procedure = std::move(procedure),
       result](TDisplayConnection& connection) mutable { *result = procedure(connection); },
      [finished = std::move(finished), result]() mutable { finished(*result); }, std::move(failed));
}

// How long to wait before attempt `attempt` (1 for the first) to reconnect a lost line: 1 s,
// then 2 s four times, then twice as long each time up to 10 s.
std::chrono::milliseconds ReconnectDelay(int attempt);

}  // namespace zorvid
