#pragma once

// What the transport tests share: an observer of a transport's notifications, a record of
// destroyed nodes, and the check of a blocking request's wait.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/ICommunicationInterface.h"
#include "core/NodedInterface.h"
#include "tests/support/WaitUntil.h"

namespace zorvid::test {

// One error report of a transport; the code defaults to the 0 that every transport here reports.
struct TErrorReport {
  std::string operation;
  TErrorArgs args = {};
  std::int32_t code = 0;
  bool operator==(const TErrorReport&) const = default;
};

inline void PrintTo(const TErrorReport& report, std::ostream* out) {
  *out << report.operation << ::testing::PrintToString(report.args) << " code " << report.code;
}

// Records a transport's notifications as named events, each with the thread it came on:
// "open", "close", "data", "data-eventer", "config" and SignalEvent(...). They may come on any
// thread, so the records are guarded by mutex_ and read as copies. The handlers call back into
// the transport outside mutex_, as a stack would.
class TTransportObserver {
 public:
  // With `inspectCloses`, each close also records whether another thread could take the
  // transport's exclusive lock meanwhile, and the failure reason the close came with.
  explicit TTransportObserver(bool inspectCloses = false) : inspectCloses_(inspectCloses) {}

  void Attach(ICommunicationInterface& ci) {
    ci.SetOnOpen({this, &TTransportObserver::OnOpen});
    ci.SetOnClose({this, &TTransportObserver::OnClose});
    ci.SetOnDataRcv({this, &TTransportObserver::OnData});
    ci.SetOnChangeSignal({this, &TTransportObserver::OnSignal});
    ci.SetOnError({this, &TTransportObserver::OnError});
    ci.GetDataRcvEventer().Add({this, &TTransportObserver::OnDataEventer});
    ci.GetConfigChangedEventer().Add({this, &TTransportObserver::OnConfig});
  }
  void Detach(ICommunicationInterface& ci) {
    ci.SetOnOpen({});
    ci.SetOnClose({});
    ci.SetOnDataRcv({});
    ci.SetOnChangeSignal({});
    ci.SetOnError({});
    ci.GetDataRcvEventer().Remove({this, &TTransportObserver::OnDataEventer});
    ci.GetConfigChangedEventer().Remove({this, &TTransportObserver::OnConfig});
  }

  static std::string SignalEvent(std::int32_t signal, bool state) {
    return "signal " + std::to_string(signal) + (state ? " on" : " off");
  }

  // Forgets the events and errors so far.
  void Clear() {
    std::lock_guard guard(mutex_);
    events_.clear();
    threads_.clear();
    errors_.clear();
  }
  std::vector<std::string> Events() { return Copy(events_); }
  std::vector<std::thread::id> ThreadsOf(const std::string& event) {
    std::lock_guard guard(mutex_);
    std::vector<std::thread::id> threads;
    for (std::size_t i = 0; i < events_.size(); ++i)
      if (events_[i] == event) threads.push_back(threads_[i]);
    return threads;
  }
  std::vector<TErrorReport> Errors() { return Copy(errors_); }
  TByteString Data() { return Copy(data_); }
  std::vector<bool> LockFreeAtClose() { return Copy(lockFreeAtClose_); }
  std::vector<std::string> ReasonsAtClose() { return Copy(reasonsAtClose_); }

  // Whether the data handler reads what arrived (into Data()) or leaves it to the test.
  std::atomic<bool> readOnData{true};
  // Whether the data handler raises instead.
  std::atomic<bool> raiseOnData{false};

 private:
  template <class T>
  T Copy(const T& field) {
    std::lock_guard guard(mutex_);
    return field;
  }
  void Record(const std::string& event, const TByteString& data = {}) {
    std::lock_guard guard(mutex_);
    events_.push_back(event);
    threads_.push_back(std::this_thread::get_id());
    data_ += data;
  }
  void OnOpen(TCiRef) { Record("open"); }
  void OnClose(TCiRef sender) {
    if (inspectCloses_) InspectClose(sender);
    Record("close");
  }
  void InspectClose(const TCiRef& sender) {
    // The future is kept: should the lock be held here, its destructor would wait for it.
    std::future<void> locker = std::async(std::launch::async, [sender] {
      sender->Lock();
      sender->Unlock();
    });
    const bool lockFree = locker.wait_for(kWaitLimit) == std::future_status::ready;
    const std::string reason = sender->GetFailureReason();
    std::lock_guard guard(mutex_);
    lockFreeAtClose_.push_back(lockFree);
    reasonsAtClose_.push_back(reason);
    lockers_.push_back(std::move(locker));
  }
  void OnData(TCiRef sender) {
    if (raiseOnData) throw std::runtime_error("data handler raised on purpose");
    Record("data", readOnData ? sender->Read() : TByteString());
  }
  void OnDataEventer(TCiRef) { Record("data-eventer"); }
  void OnConfig(TCiRef) { Record("config"); }
  void OnSignal(TCiRef, std::int32_t signal, bool state) { Record(SignalEvent(signal, state)); }
  void OnError(TCiRef, const std::string& operation, const TErrorArgs& args, std::int32_t code) {
    std::lock_guard guard(mutex_);
    errors_.push_back({operation, args, code});
  }

  const bool inspectCloses_;
  std::mutex mutex_;
  std::vector<std::string> events_;          // guarded by mutex_
  std::vector<std::thread::id> threads_;     // of each event; guarded by mutex_
  std::vector<TErrorReport> errors_;         // guarded by mutex_
  TByteString data_;                         // guarded by mutex_
  std::vector<bool> lockFreeAtClose_;        // guarded by mutex_
  std::vector<std::string> reasonsAtClose_;  // guarded by mutex_
  std::vector<std::future<void>> lockers_;   // guarded by mutex_
};

// Records the nodes destroyed while it lives, with the thread each went on (any thread: the
// records are guarded by mutex_).
class TDestroyedNodes {
 public:
  TDestroyedNodes() { NodeDestroyedEventer().Add({this, &TDestroyedNodes::OnDestroyed}); }
  ~TDestroyedNodes() { NodeDestroyedEventer().Remove({this, &TDestroyedNodes::OnDestroyed}); }
  TDestroyedNodes(const TDestroyedNodes&) = delete;
  TDestroyedNodes& operator=(const TDestroyedNodes&) = delete;

  // The threads `node` went on: one per destruction.
  std::vector<std::thread::id> ThreadsOf(const void* node) {
    std::lock_guard guard(mutex_);
    std::vector<std::thread::id> threads;
    for (const auto& [destroyed, thread] : nodes_)
      if (destroyed == node) threads.push_back(thread);
    return threads;
  }

 private:
  void OnDestroyed(TRef<INodedInterface> node) {
    std::lock_guard guard(mutex_);
    nodes_.emplace_back(Identity(node.Get()), std::this_thread::get_id());
  }
  std::mutex mutex_;
  std::vector<std::pair<const void*, std::thread::id>> nodes_;  // guarded by mutex_
};

// The wait of a blocking request on the open `ci`: with nothing coming it ends at its time, not
// before; it wakes when `deliver` (on another thread) brings bytes, long before its minute is
// up, and leaves them for Read.
inline void ExpectWaitForDataEndsAtItsTimeAndWakesForData(
    ICommunicationInterface& ci, const std::function<void(const TByteString&)>& deliver) {
  using namespace std::chrono_literals;
  using TClock = std::chrono::steady_clock;
  const auto quiet = TClock::now();
  EXPECT_FALSE(ci.WaitForData(60));
  EXPECT_GE(TClock::now() - quiet, 60ms);

  // The pause only makes it likely that the bytes come while the wait is under way; bytes that
  // come before it pass the check as well.
  std::thread sender([&deliver] {
    std::this_thread::sleep_for(20ms);
    deliver("late");
  });
  const auto start = TClock::now();
  EXPECT_TRUE(ci.WaitForData(60'000));
  EXPECT_LT(TClock::now() - start, kWaitLimit) << "the wait did not wake for the bytes";
  sender.join();
  EXPECT_EQ(ci.Read(), "late");
}

}  // namespace zorvid::test
