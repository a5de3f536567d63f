#include "link/DisplayLink.h"

#include <QTimer>
#include <algorithm>
#include <chrono>

#include "core/MessageHook.h"

namespace zorvid {
namespace {

using namespace std::chrono_literals;

// How often the idle link thread looks whether the line has closed under the connection.
constexpr auto kLineWatchInterval = 100ms;

}  // namespace

std::chrono::milliseconds ReconnectDelay(int attempt) {
  constexpr auto kFirst = 1000ms, kQuick = 2000ms, kLongest = 10000ms;
  constexpr int kQuickAttempts = 4;
  if (attempt <= 1) return kFirst;
  if (attempt <= 1 + kQuickAttempts) return kQuick;
  const int doublings = std::min(attempt - 1 - kQuickAttempts, 3);
  return std::min(kQuick * (1 << doublings), kLongest);
}

// The link thread's half: runs the jobs and watches the line. Made on the owner's thread, moved
// to the link thread before it starts; every member function runs on the link thread.
class TLinkWorker final : public QObject {
  Q_OBJECT

 public:
  explicit TLinkWorker(TDisplayLink& link) : link_(link) {}

  void Start();
  // Runs what is queued, in order; once the link stops, drops the rest and ends the thread.
  Q_INVOKABLE void RunJobs();

 private:
  void Watch();
  void Stop();

  TDisplayLink& link_;
  QTimer* watch_ = nullptr;  // made and deleted on the link thread
};

void TLinkWorker::Start() {
  watch_ = new QTimer;
  watch_->setInterval(kLineWatchInterval);
  connect(watch_, &QTimer::timeout, this, &TLinkWorker::Watch);
  watch_->start();
}

void TLinkWorker::RunJobs() {
  while (std::optional<TDisplayLink::TJob> job = link_.TakeJob()) {
    if (link_.IsStopping()) continue;  // abandoned with the link
    try {
      job->procedure(*link_.connection_);
    } catch (const std::exception& error) {
      job->error = error.what();
    } catch (...) {
      job->error = "an unknown error was raised on the display link";
    }
    link_.Hand(std::move(*job));
    Watch();  // a line that closed during the procedure is reported right after it
  }
  if (link_.IsStopping()) Stop();
}

void TLinkWorker::Watch() {
  if (std::optional<std::string> loss = link_.connection_->TakeLineLoss())
    link_.Hand({{}, {}, {}, {}, std::move(loss)});
}

// The transports were made on this thread and go on it; the timer too.
void TLinkWorker::Stop() {
  delete watch_;
  watch_ = nullptr;
  link_.connection_->Disconnect();
  thread()->quit();
}

TDisplayLink::TDisplayLink(QObject* parent)
    : QObject(parent), connection_(std::make_unique<TDisplayConnection>()) {
  thread_.setObjectName(QStringLiteral("display link"));
  worker_ = new TLinkWorker(*this);
  worker_->moveToThread(&thread_);
  connect(&thread_, &QThread::started, worker_, &TLinkWorker::Start);
  thread_.start();
}

TDisplayLink::~TDisplayLink() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  // After stopping_: a procedure of Interrupt that runs now resumes nothing.
  connection_->Abandon();
  Wake(worker_, "RunJobs");
  thread_.wait();
  delete worker_;
  connection_.reset();
}

void TDisplayLink::Run(TProcedure procedure, TFinished finished, TFailed failed) {
  ++pending_;
  {
    std::lock_guard lock(mutex_);
    queued_.push_back(
        {std::move(procedure), std::move(finished), std::move(failed), {}, std::nullopt});
  }
  Wake(worker_, "RunJobs");
}

void TDisplayLink::Interrupt(TProcedure procedure, TFinished finished) {
  connection_->Abandon();
  Run(
      [this, procedure = std::move(procedure)](TDisplayConnection& connection) {
        procedure(connection);
        if (!IsStopping()) connection.Resume();
      },
      std::move(finished));
}

std::optional<TDisplayLink::TJob> TDisplayLink::TakeJob() {
  std::lock_guard lock(mutex_);
  if (queued_.empty()) return std::nullopt;
  TJob job = std::move(queued_.front());
  queued_.pop_front();
  return job;
}

bool TDisplayLink::IsStopping() {
  std::lock_guard lock(mutex_);
  return stopping_;
}

void TDisplayLink::Hand(TJob job) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;  // nobody waits for it any more
    finished_.push_back(std::move(job));
  }
  Wake(this, "FinishJobs");
}

void TDisplayLink::FinishJobs() {
  for (;;) {
    std::optional<TJob> job;
    {
      std::lock_guard lock(mutex_);
      if (finished_.empty()) return;
      job = std::move(finished_.front());
      finished_.pop_front();
    }
    if (job->lineLoss) {
      emit lineLost(QString::fromStdString(*job->lineLoss));
      continue;
    }
    --pending_;
    try {
      if (job->error.empty())
        job->finished();
      else if (job->failed)
        job->failed(job->error);
      else {
        ShowMessage(job->error);
        job->finished();
      }
    } catch (const std::exception& error) {
      ShowMessage(error.what());
    }
  }
}

// The queued call carries no data of ours: what it is about waits in the queues.
void TDisplayLink::Wake(QObject* receiver, const char* method) {
  QMetaObject::invokeMethod(receiver, method, Qt::QueuedConnection);
}

}  // namespace zorvid

#include "DisplayLink.moc"
