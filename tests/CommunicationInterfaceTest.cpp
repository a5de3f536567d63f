#include "transport/CommunicationInterface.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <latch>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/TimeoutManager.h"
#include "tests/support/MemoryTransport.h"

namespace zorvid {
namespace {

using namespace std::chrono_literals;
using test::TMemoryTransport;
using ::testing::ElementsAre;

struct TErrorReport {
  std::string operation;
  TErrorArgs args;
  std::int32_t code;
  bool operator==(const TErrorReport&) const = default;
};

// Records what a transport reports; every handler may be asked to raise.
struct TObserver {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> events;       // guarded by mutex
  std::vector<TErrorReport> errors;      // guarded by mutex
  std::vector<std::thread::id> threads;  // where received-data events ran; guarded by mutex
  bool raise = false;

  void Record(const std::string& event) {
    std::lock_guard guard(mutex);
    events.push_back(event);
    changed.notify_all();
  }
  void OnOpen(TCiRef) { Record("open"); }
  void OnClose(TCiRef) { Record("close"); }
  void OnData(TCiRef) {
    {
      std::lock_guard guard(mutex);
      threads.push_back(std::this_thread::get_id());
    }
    if (raise) throw std::runtime_error("handler failed");
    Record("data");
  }
  void OnDataEvent(TCiRef) { Record("data-eventer"); }
  void OnConfig(TCiRef) { Record("config"); }
  void OnSignal(TCiRef, std::int32_t signal, bool state) {
    Record("signal " + std::to_string(signal) + (state ? " on" : " off"));
  }
  void OnError(TCiRef, const std::string& operation, const TErrorArgs& args, std::int32_t code) {
    std::lock_guard guard(mutex);
    errors.push_back({operation, args, code});
  }

  void Attach(ICommunicationInterface& ci) {
    ci.SetOnOpen({this, &TObserver::OnOpen});
    ci.SetOnClose({this, &TObserver::OnClose});
    ci.SetOnDataRcv({this, &TObserver::OnData});
    ci.GetDataRcvEventer().Add({this, &TObserver::OnDataEvent});
    ci.GetConfigChangedEventer().Add({this, &TObserver::OnConfig});
    ci.SetOnChangeSignal({this, &TObserver::OnSignal});
    ci.SetOnError({this, &TObserver::OnError});
  }
  // Waits (bounded) until `count` events were recorded.
  std::vector<std::string> WaitForEvents(std::size_t count) {
    std::unique_lock guard(mutex);
    changed.wait_for(guard, 2s, [&] { return events.size() >= count; });
    return events;
  }
};

TEST(CommunicationInterface, OpenAndCloseStateMachine) {
  auto ci = New<TMemoryTransport>();
  TObserver observer;
  observer.Attach(*ci);

  EXPECT_TRUE(ci->Close(false)) << "closing a closed transport succeeds";
  EXPECT_EQ(ci->InternalCloseCalls(), 0);
  EXPECT_TRUE(ci->Close(true));
  EXPECT_EQ(ci->InternalCloseCalls(), 1) << "a forced close always reaches the transport";

  EXPECT_TRUE(ci->Open());
  EXPECT_TRUE(ci->Open());
  EXPECT_EQ(ci->InternalOpenCalls(), 1);
  EXPECT_TRUE(ci->SetActive(true));
  EXPECT_EQ(ci->InternalOpenCalls(), 1);
  EXPECT_TRUE(ci->SetActive(false)) << "the result of the close";
  EXPECT_FALSE(ci->GetActive());

  ci->SetOpenResult(false);
  EXPECT_FALSE(ci->Open());
  EXPECT_THAT(observer.events, ElementsAre("close", "open", "close"));
  EXPECT_THAT(observer.errors, ElementsAre(TErrorReport{"Open", {}, 0}));
}

TEST(CommunicationInterface, SignalsReachHandlerThenEventer) {
  auto ci = New<TMemoryTransport>();
  TObserver observer;
  observer.Attach(*ci);
  ci->SignalChange(3, true);
  EXPECT_THAT(observer.events, ElementsAre("signal 3 on"));

  ci->SetOnChangeSignal({});
  ci->SignalChange(3, false);  // no single handler: nothing, and no error
  EXPECT_THAT(observer.errors, ElementsAre());
}

// A raising received-data handler gives exactly one report and keeps the eventer quiet.
TEST(CommunicationInterface, RaisingDataHandlerBecomesOneReport) {
  auto [a, b] = TMemoryTransport::CreatePair();
  TObserver observer;
  observer.Attach(*b);
  observer.raise = true;
  a->Open();
  b->Open();
  a->Write("x");
  for (int i = 0; i < 200; ++i) {
    {
      std::lock_guard guard(observer.mutex);
      if (!observer.errors.empty()) break;
    }
    std::this_thread::sleep_for(1ms);
  }
  std::lock_guard guard(observer.mutex);
  EXPECT_THAT(observer.errors, ElementsAre(TErrorReport{"DoDataRcv", {}, 0}));
  EXPECT_THAT(observer.events, ElementsAre("open")) << "the data eventer must not fire";
}

TEST(CommunicationInterface, ReceivedDataArrivesOnTheTransportsThread) {
  auto [a, b] = TMemoryTransport::CreatePair();
  TObserver observer;
  observer.Attach(*b);
  a->Open();
  b->Open();
  a->Write("hello");
  EXPECT_THAT(observer.WaitForEvents(3), ElementsAre("open", "data", "data-eventer"));
  EXPECT_EQ(b->Read(), "hello");
  std::lock_guard guard(observer.mutex);
  ASSERT_EQ(observer.threads.size(), 1u);
  EXPECT_NE(observer.threads[0], std::this_thread::get_id());
}

// The last reference may go while the delivery thread is inside a handler: the transport is
// then destroyed on that thread, once, without touching freed memory (address sanitizer).
TEST(CommunicationInterface, LastReferenceCanGoOnTheDeliveryThread) {
  struct TBlockingHandler {
    std::latch entered{1}, release{1};
    void OnData(TCiRef) {
      entered.count_down();
      release.wait();
    }
  } handler;
  struct TDestroyed {
    std::atomic<int> count{0};
    void OnDestroyed(TRef<INodedInterface>) { ++count; }
  } destroyed;
  NodeDestroyedEventer().Add({&destroyed, &TDestroyed::OnDestroyed});
  {
    auto [a, b] = TMemoryTransport::CreatePair();
    a->Open();
    b->Open();
    b->SetOnDataRcv({&handler, &TBlockingHandler::OnData});
    a->Write("x");
    handler.entered.wait();
    a.Reset();  // a's delivery thread is idle: a goes here, on the test's thread
    b.Reset();  // b's handler still holds b: it goes when the handler returns
    EXPECT_EQ(destroyed.count, 1);
  }
  handler.release.count_down();
  for (int i = 0; i < 2000 && destroyed.count < 2; ++i)
    std::this_thread::sleep_for(1ms);
  EXPECT_EQ(destroyed.count, 2);
  NodeDestroyedEventer().Remove({&destroyed, &TDestroyed::OnDestroyed});
}

// Replacing a handler that runs on the delivery thread waits until that call has returned, so
// the object behind it may go at once; a handler may replace itself without waiting.
TEST(CommunicationInterface, ReplacingAHandlerWaitsForItsRunningCall) {
  struct TSlowHandler {
    std::latch entered{1};
    std::atomic<bool> finished{false};
    void OnData(TCiRef) {
      entered.count_down();
      std::this_thread::sleep_for(30ms);
      finished = true;
    }
    void OnDataOnce(TCiRef sender) { sender->SetOnDataRcv({}); }
  } handler;
  auto [a, b] = TMemoryTransport::CreatePair();
  a->Open();
  b->Open();
  b->SetOnDataRcv({&handler, &TSlowHandler::OnData});
  a->Write("x");
  handler.entered.wait();
  b->SetOnDataRcv({});
  EXPECT_TRUE(handler.finished) << "the replacement returned while the old handler still ran";

  b->SetOnDataRcv({&handler, &TSlowHandler::OnDataOnce});
  a->Write("y");
  for (int i = 0; i < 2000 && b->GetOnDataRcv(); ++i)
    std::this_thread::sleep_for(1ms);
  EXPECT_FALSE(b->GetOnDataRcv()) << "a handler replacing itself must not wait for itself";
}

TEST(CommunicationInterface, RejectedConfigurationIsReportedNotAnnounced) {
  auto ci = New<TMemoryTransport>();
  TObserver observer;
  observer.Attach(*ci);
  ci->SetConfiguration("name=x");
  EXPECT_THAT(observer.events, ElementsAre("config"));
  ci->SetAcceptConfiguration(false);
  ci->SetConfiguration("name=y");
  EXPECT_THAT(observer.events, ElementsAre("config"));
  EXPECT_THAT(observer.errors, ElementsAre(TErrorReport{"SetConfiguration", {"name=y"}, 0}));
}

TEST(CommunicationInterface, ConnectionStringPersistsInTheElement) {
  auto element = New<TXMLElement>();
  element->SetAttribute("connectionstring", "name=persisted;chunk=3");
  element->SetAttribute("name", "line");
  auto ci = NewTransport<TMemoryTransport>(element, {});
  EXPECT_EQ(ci->GetName(), "line");
  EXPECT_EQ(ci->GetConnectionName(), "MEMORY persisted");

  ci->SetConfiguration("chunk=5");
  ci->SaveToXML();
  EXPECT_EQ(element->GetAttribute("connectionstring").Text(),
            "provider=MEMORY;name=persisted;chunk=5");
}

TEST(CommunicationInterface, DeadlineSurvivesTheTickCounterWrap) {
  static std::uint32_t ticks;
  SetTickSource([] { return ticks; });
  ticks = 0xFFFFFFF0u;  // 16 ms before the wrap
  TDeadline deadline;
  deadline.Start(100);
  EXPECT_EQ(deadline.Remaining(), 100);
  ticks += 60;  // wrapped
  EXPECT_EQ(deadline.Remaining(), 40);
  EXPECT_FALSE(deadline.Expired());
  ticks += 40;
  EXPECT_TRUE(deadline.Expired());
  deadline.Start(0);
  EXPECT_TRUE(deadline.Expired()) << "a zero deadline has passed at once";
  SetTickSource(nullptr);
}

// A peer that answers every request with a reply in two pieces, some time apart.
class QueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::tie(client, server) = TMemoryTransport::CreatePair();
    client->Open();
    server->Open();
    server->SetOnDataRcv({this, &QueryTest::Answer});
  }
  void TearDown() override { server->SetOnDataRcv({}); }

  void Answer(TCiRef sender) {
    if (sender->Read().empty()) return;
    sender->Write("AB");
    std::this_thread::sleep_for(5ms);
    sender->Write("CD");
  }

  TRef<TMemoryTransport> client, server;
};

TEST_F(QueryTest, WithoutGoOnRunsToTheDeadline) {
  const auto start = std::chrono::steady_clock::now();
  const TByteString reply = client->QuerySimple("?", 40, nullptr);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(reply, "ABCD");
  // The gap deadline (50 characters of 1 ms) outlasts the reply: the query waits it out.
  EXPECT_GE(elapsed, 50ms);
}

TEST_F(QueryTest, GoOnEndsTheQueryEarly) {
  const auto start = std::chrono::steady_clock::now();
  const TByteString reply = client->Query(
      "?", 2000, 2000, 4000, false, false,
      [](const TByteString& text) { return text.find("CD") == std::string::npos; }, ">");
  EXPECT_EQ(reply, "ABCD");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
}

TEST_F(QueryTest, ClosedTransportWritesNothing) {
  client->Close(false);
  const int writesBefore = client->InternalWriteCalls();
  EXPECT_EQ(client->QuerySimple("?", 10, nullptr), "");
  EXPECT_EQ(client->InternalWriteCalls(), writesBefore);
}

}  // namespace
}  // namespace zorvid
