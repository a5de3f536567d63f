#include "transport/serial/SafeSync.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/EventLoop.h"
#include "tests/support/LoopThread.h"
#include "tests/support/ShownMessages.h"

namespace zorvid {
namespace {

using test::ProcessEventsUntil;
using test::TLoopThread;
using test::WaitUntil;

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

// What a procedure saw: how often it ran and on which thread.
struct TProbe {
  std::atomic<int> runs{0};
  std::atomic<std::thread::id> thread;
  static void Run(void* self) {
    auto* probe = static_cast<TProbe*>(self);
    probe->thread = std::this_thread::get_id();
    ++probe->runs;
  }
};

// A procedure that takes a while, so that a run can be caught in progress.
struct TSlow {
  std::atomic<bool> started{false};
  std::atomic<bool> finished{false};
  static void Run(void* self) {
    auto* slow = static_cast<TSlow*>(self);
    slow->started = true;
    std::this_thread::sleep_for(30ms);  // the owner unregisters meanwhile
    slow->finished = true;
  }
};

void Throw(void*) {
  throw std::runtime_error("procedure failed on purpose");
}

// Runs `call` on a thread of its own while the main thread serves its event loop; its result.
bool OnAnotherThread(const std::function<bool()>& call) {
  std::atomic<bool> result{false};
  std::atomic<bool> returned{false};
  std::thread caller([&] {
    result = call();
    returned = true;
  });
  EXPECT_TRUE(ProcessEventsUntil([&] { return returned.load(); }));
  caller.join();
  return result;
}

// One enabled registration for the probe, returned at the end of the test.
class SafeSyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    id = SafeSyncRegister(&TProbe::Run, &probe);
    ASSERT_NE(id, 0u);
    SafeSyncEnable(id, true);
  }
  void TearDown() override { SafeSyncUnregister(id); }

  TProbe probe;
  TSyncId id = 0;
};

TEST_F(SafeSyncTest, TableHoldsSixtyFourDistinctNonZeroIdentifiers) {
  std::vector<TSyncId> taken{id};
  for (int attempt = 0; attempt < 70; ++attempt) {
    const TSyncId next = SafeSyncRegister(&TProbe::Run, &probe);
    if (next == 0) break;
    taken.push_back(next);
  }
  EXPECT_EQ(taken.size(), kSafeSyncEntries);
  EXPECT_EQ(std::set<TSyncId>(taken.begin(), taken.end()).size(), taken.size());
  // A freed entry is taken again, under a new identifier.
  SafeSyncUnregister(taken.back());
  const TSyncId again = SafeSyncRegister(&TProbe::Run, &probe);
  EXPECT_NE(again, 0u);
  EXPECT_NE(again, taken.back());
  taken.back() = again;
  for (std::size_t index = 1; index < taken.size(); ++index)
    SafeSyncUnregister(taken[index]);
}

TEST_F(SafeSyncTest, NewAndDisabledEntriesAreRefused) {
  const TSyncId fresh = SafeSyncRegister(&TProbe::Run, &probe);
  EXPECT_FALSE(SafeSyncCall(fresh, 100ms));
  SafeSyncUnregister(fresh);
  SafeSyncEnable(id, false);
  EXPECT_FALSE(SafeSyncCall(id, 100ms));
  EXPECT_FALSE(SafeSyncCall(fresh, 100ms));  // gone
  EXPECT_EQ(probe.runs, 0);
}

// Registered and direct procedures alike run on the main thread, whoever calls.
TEST_F(SafeSyncTest, ProceduresRunOnTheMainThread) {
  EXPECT_TRUE(SafeSyncCall(id, 100ms));  // called there: at once
  EXPECT_EQ(probe.runs, 1);
  EXPECT_EQ(probe.thread.load(), std::this_thread::get_id());
  EXPECT_TRUE(OnAnotherThread([&] { return SafeSyncCall(id, test::kWaitLimit); }));
  EXPECT_EQ(probe.runs, 2);
  EXPECT_EQ(probe.thread.load(), std::this_thread::get_id());
  EXPECT_TRUE(OnAnotherThread([&] { return SafeSyncRun(&TProbe::Run, &probe, test::kWaitLimit); }));
  EXPECT_EQ(probe.runs, 3);
  EXPECT_EQ(probe.thread.load(), std::this_thread::get_id());
}

TEST_F(SafeSyncTest, TimedOutCallStillCountsAndRunsLater) {
  bool result = false;
  const auto start = TClock::now();
  std::thread([&] { result = SafeSyncCall(id, 50ms); }).join();
  EXPECT_GE(TClock::now() - start, 50ms);
  EXPECT_TRUE(result);
  EXPECT_EQ(probe.runs, 0);
  EXPECT_TRUE(ProcessEventsUntil([&] { return probe.runs == 1; }));
}

// Disables an entry as the first queued call reaches the main thread, before it is delivered:
// the call has been posted by then, and its caller waits for it (or is about to).
class TDisableOnArrival : public QObject {
 public:
  explicit TDisableOnArrival(TSyncId id) : id_(id) {
    QCoreApplication::instance()->installEventFilter(this);
  }
  ~TDisableOnArrival() override { QCoreApplication::instance()->removeEventFilter(this); }

  // Main thread only.
  bool disabled = false;
  TClock::time_point disabledAt;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::MetaCall && !disabled) {
      disabledAt = TClock::now();
      SafeSyncEnable(id_, false);
      disabled = true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  const TSyncId id_;
};

TEST_F(SafeSyncTest, DisablingReleasesAWaitingCall) {
  QCoreApplication::sendPostedEvents();  // nothing queued before is taken for the call
  TDisableOnArrival disabler(id);
  std::atomic<bool> result{true};
  std::atomic<bool> returned{false};
  TClock::time_point returnedAt;  // the caller's until it has returned
  std::thread caller([&] {
    result = SafeSyncCall(id, 60s);
    returnedAt = TClock::now();
    returned = true;
  });
  EXPECT_TRUE(ProcessEventsUntil([&] { return returned.load(); }));
  caller.join();
  ASSERT_TRUE(disabler.disabled);
  EXPECT_LT(returnedAt - disabler.disabledAt, test::kWaitLimit) << "the call waited its minute";
  EXPECT_FALSE(result);
  EXPECT_EQ(probe.runs, 0);  // the queued call, delivered after the filter, finds it disabled
}

TEST_F(SafeSyncTest, ErrorsOfTheProcedureAreShown) {
  const test::TShownMessages shown;
  const TSyncId failing = SafeSyncRegister(&Throw, nullptr);
  SafeSyncEnable(failing, true);
  EXPECT_TRUE(SafeSyncCall(failing, 100ms));
  OnAnotherThread([&] { return SafeSyncCall(failing, test::kWaitLimit); });
  SafeSyncUnregister(failing);
  EXPECT_EQ(shown.Texts(), std::vector<std::string>(2, "procedure failed on purpose"));
}

// The owner of a registration may go once unregistering has returned, also while the main
// thread is inside its procedure.
TEST_F(SafeSyncTest, UnregisterWaitsForARunningProcedure) {
  TSlow slow;
  const TSyncId slowId = SafeSyncRegister(&TSlow::Run, &slow);
  SafeSyncEnable(slowId, true);
  std::atomic<bool> finishedAtUnregister{false};
  std::thread caller([&] { SafeSyncCall(slowId, 2000ms); });
  std::thread owner([&] {
    WaitUntil([&] { return slow.started.load(); });
    SafeSyncUnregister(slowId);
    finishedAtUnregister = slow.finished.load();
  });
  EXPECT_TRUE(ProcessEventsUntil([&] { return slow.finished.load(); }));
  caller.join();
  owner.join();
  EXPECT_TRUE(finishedAtUnregister);
}

TEST_F(SafeSyncTest, DirectProcedureNotStartedInTimeIsWithdrawn) {
  bool result = true;
  std::thread([&] { result = SafeSyncRun(&TProbe::Run, &probe, 30ms); }).join();
  EXPECT_FALSE(result);
  QCoreApplication::processEvents();
  EXPECT_EQ(probe.runs, 0);
}

// ---- Owner threads other than the main thread ---------------------------------------------

// An entry registered on a thread with an event loop of its own runs there: at once when that
// thread calls, through its receiver when another thread calls, also while the main thread is
// blocked (here in the call itself). A call queued for the main thread meanwhile stays there.
TEST(SafeSyncOwnerTest, ProceduresRunOnTheThreadThatRegisteredThem) {
  TLoopThread link;
  TProbe probe;
  TSyncId id = 0;
  link.Run([&] {
    id = SafeSyncRegister(&TProbe::Run, &probe);
    SafeSyncEnable(id, true);
  });
  ASSERT_NE(id, 0u);
  TProbe mainProbe;
  const TSyncId mainId = SafeSyncRegister(&TProbe::Run, &mainProbe);
  SafeSyncEnable(mainId, true);
  std::thread([&] { EXPECT_TRUE(SafeSyncCall(mainId, 10ms)); }).join();  // left queued

  EXPECT_TRUE(SafeSyncCall(id, test::kWaitLimit));
  EXPECT_EQ(probe.runs, 1);
  EXPECT_EQ(probe.thread.load(), link.Id());
  EXPECT_EQ(mainProbe.runs, 0);
  link.Run([&] {
    EXPECT_TRUE(SafeSyncCall(id, 0ms));
    EXPECT_EQ(probe.runs, 2);
  });
  EXPECT_EQ(probe.thread.load(), link.Id());

  EXPECT_TRUE(ProcessEventsUntil([&] { return mainProbe.runs == 1; }));
  EXPECT_EQ(mainProbe.thread.load(), std::this_thread::get_id());
  SafeSyncUnregister(mainId);
  link.Run([&] { SafeSyncUnregister(id); });
}

// A thread has one receiver, whatever it registers, until its last entry goes. Freeing that
// entry from another thread while its procedure runs waits for the run, which the receiver's
// deletion does not cut off; the thread's own event loop deletes the receiver.
TEST(SafeSyncOwnerTest, ReceiverOfAThreadGoesWithItsLastEntry) {
  const std::size_t receivers = SafeSyncReceiverCount();
  TLoopThread link;
  TSlow slow;
  TProbe probe;
  TSyncId slowId = 0;
  TSyncId probeId = 0;
  link.Run([&] {
    slowId = SafeSyncRegister(&TSlow::Run, &slow);
    probeId = SafeSyncRegister(&TProbe::Run, &probe);
    SafeSyncEnable(slowId, true);
  });
  EXPECT_EQ(SafeSyncReceiverCount(), receivers + 1);
  SafeSyncUnregister(probeId);
  EXPECT_EQ(SafeSyncReceiverCount(), receivers + 1);

  std::thread caller([&] { SafeSyncCall(slowId, 2000ms); });
  EXPECT_TRUE(WaitUntil([&] { return slow.started.load(); }));
  SafeSyncUnregister(slowId);
  EXPECT_TRUE(slow.finished);
  caller.join();
  EXPECT_TRUE(WaitUntil([&] { return SafeSyncReceiverCount() == receivers; }));
}

}  // namespace
}  // namespace zorvid
