#include "ui/ComPortScanner.h"

#include <QObject>
#include <QPointer>
#include <array>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "transport/serial/ComPort.h"

namespace zorvid {
namespace {

constexpr int kScanThreadCount = 8;
constexpr int kPortCount = kLastComPort - kFirstComPort + 1;
constexpr int kNoPortLeft = kLastComPort + 1;

// A probe that fails cannot tell that the port is absent: the port is listed, as one that
// could not be opened.
TComPortState ProbeOrBusy(const TComPortProbe& probe, int portNumber) {
  try {
    return probe(portNumber);
  } catch (...) {
    return cpsBusy;
  }
}

}  // namespace

TComPortState ProbeComPortState(int portNumber) {
  switch (ProbeComPort(portNumber)) {
    case TPortPresence::Free:
      return cpsFree;
    case TPortPresence::Busy:
      return cpsBusy;
    case TPortPresence::Absent:
      break;
  }
  return cpsAbsent;
}

// What the workers share. Every field is guarded by mutex_, and the notification runs while
// it is held, so changes are notified in the order they happen.
class TComPortThreadSharedData {
 public:
  using TNotification = std::function<void(int portNumber, TComPortState state)>;
  explicit TComPortThreadSharedData(TNotification notify) : notify_(std::move(notify)) {}

  // The user-interface thread: a new generation that probes every port again; not notified.
  void Reset();
  // A worker thread: hands out the next port and probes it outside the lock; false when no
  // port is left.
  bool ScanNext(const TComPortProbe& probe);
  // Any thread.
  bool ScanComplete();
  TComPortState StateOf(int portNumber);

 private:
  const TNotification notify_;  // called under mutex_
  std::mutex mutex_;
  // A result counts only if the generation did not change while its port was probed.
  std::uint64_t Generation = 0;
  int NextPort = kNoPortLeft;  // the next port to hand out; none before the first scan
  int DoneCount = 0;           // results counted in this generation
  std::array<TComPortState, kPortCount> States{};  // of ports 1..255 in this generation
};

void TComPortThreadSharedData::Reset() {
  std::lock_guard lock(mutex_);
  NextPort = kFirstComPort;
  DoneCount = 0;
  ++Generation;
  States.fill(cpsNotProbed);
}

bool TComPortThreadSharedData::ScanNext(const TComPortProbe& probe) {
  std::uint64_t generation = 0;
  int portNumber = 0;
  {
    std::lock_guard lock(mutex_);
    if (NextPort == kNoPortLeft) return false;
    generation = Generation;
    portNumber = NextPort++;
    States[portNumber - kFirstComPort] = cpsProbing;
    notify_(portNumber, cpsProbing);
  }
  const TComPortState state = ProbeOrBusy(probe, portNumber);
  std::lock_guard lock(mutex_);
  if (Generation == generation) {
    ++DoneCount;
    States[portNumber - kFirstComPort] = state;
    notify_(portNumber, state);
  }
  return true;
}

bool TComPortThreadSharedData::ScanComplete() {
  std::lock_guard lock(mutex_);
  return DoneCount == kPortCount;
}

TComPortState TComPortThreadSharedData::StateOf(int portNumber) {
  if (portNumber < kFirstComPort || portNumber > kLastComPort) return cpsNotProbed;
  std::lock_guard lock(mutex_);
  return States[portNumber - kFirstComPort];
}

// Holds a worker at its pause point while a pause is requested. The worker waits there on a
// condition variable, so a paused worker costs nothing, and it is never held with the shared
// data's lock or in the middle of a probe. Every field is guarded by mutex_.
class TThreadSuspender {
 public:
  // The worker thread: waits while a pause is requested. Gives the number of resumes so far
  // when the worker is to go on, nothing once its termination is requested.
  std::optional<std::uint64_t> PausePoint() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return terminationRequested_ || !PauseRequested; });
    if (terminationRequested_) return std::nullopt;
    return resumes_;
  }
  // The worker thread, when it found no port left: pauses at its next pause point, unless it
  // was resumed after it took `resumes` (a new scan it must not sleep through).
  void PauseUnlessResumedSince(std::uint64_t resumes) {
    std::lock_guard lock(mutex_);
    if (resumes_ == resumes) PauseRequested = true;
  }

  // The controlling thread (the user-interface thread).
  void RequestPause() {
    std::lock_guard lock(mutex_);
    PauseRequested = true;
  }
  void Resume() {
    std::lock_guard lock(mutex_);
    PauseRequested = false;
    ++resumes_;
    changed_.notify_one();
  }
  void RequestTermination() {
    std::lock_guard lock(mutex_);
    terminationRequested_ = true;
    changed_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool PauseRequested = true;  // a worker starts paused, until the first scan
  bool terminationRequested_ = false;
  std::uint64_t resumes_ = 0;
};

// One worker: probes the ports the shared data hands out until none is left, then pauses
// until the next scan. Its controls run on the user-interface thread.
class TScanThread {
 public:
  TScanThread(TComPortThreadSharedData& shared, const TComPortProbe& probe)
      : shared_(shared), probe_(probe), thread_([this] { Execute(); }) {}
  ~TScanThread() {
    RequestTermination();
    thread_.join();
  }
  TScanThread(const TScanThread&) = delete;
  TScanThread& operator=(const TScanThread&) = delete;

  void Pause() { suspender_.RequestPause(); }
  void Resume() { suspender_.Resume(); }
  void RequestTermination() { suspender_.RequestTermination(); }

 private:
  // The worker thread.
  void Execute() {
    while (const std::optional<std::uint64_t> resumes = suspender_.PausePoint()) {
      if (!shared_.ScanNext(probe_)) suspender_.PauseUnlessResumedSince(*resumes);
    }
  }

  TComPortThreadSharedData& shared_;
  const TComPortProbe& probe_;
  TThreadSuspender suspender_;
  std::thread thread_;  // last: it starts once the rest is in place
};

TComPortScanner::TComPortScanner(TComPortProbe probe)
    : probe_(probe ? std::move(probe) : TComPortProbe(&ProbeComPortState)),
      receiver_(std::make_unique<QObject>()),
      shared_(std::make_unique<TComPortThreadSharedData>(
          [this](int portNumber, TComPortState state) { PostPortState(portNumber, state); })) {
  threads_.reserve(kScanThreadCount);
  for (int index = 0; index < kScanThreadCount; ++index)
    threads_.push_back(std::make_unique<TScanThread>(*shared_, probe_));
}

TComPortScanner::~TComPortScanner() {
  // Every worker is asked first, so that none goes on scanning while another is waited for.
  for (const auto& thread : threads_)
    thread->RequestTermination();
  threads_.clear();
}

void TComPortScanner::Scan() {
  // Reset before resume: a resumed worker finds the new generation.
  shared_->Reset();
  for (const auto& thread : threads_)
    thread->Resume();
}

void TComPortScanner::Stop() {
  for (const auto& thread : threads_)
    thread->Pause();
}

void TComPortScanner::SetOnPortState(TPortStateHandler handler) {
  OnPortState = std::move(handler);
}

bool TComPortScanner::ScanComplete() {
  return shared_->ScanComplete();
}

TComPortState TComPortScanner::PortState(int portNumber) {
  return shared_->StateOf(portNumber);
}

void TComPortScanner::PostPortState(int portNumber, TComPortState state) {
  QMetaObject::invokeMethod(
      receiver_.get(), [this, portNumber, state] { HandlePortState(portNumber, state); },
      Qt::QueuedConnection);
}

void TComPortScanner::HandlePortState(int portNumber, TComPortState state) {
  // The owner may let the scanner go from inside its handler.
  const QPointer<QObject> alive(receiver_.get());
  if (OnPortState) OnPortState(portNumber, state);
  if (alive && ScanComplete()) Stop();
}

}  // namespace zorvid
