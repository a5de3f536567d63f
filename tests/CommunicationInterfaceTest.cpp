#include "transport/CommunicationInterface.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <thread>

#include "core/TimeoutManager.h"
#include "tests/support/MemoryTransport.h"
#include "tests/support/TransportObserver.h"

namespace zorvid {
namespace {

using namespace std::chrono_literals;
using test::TDestroyedNodes;
using test::TErrorReport;
using test::TMemoryTransport;
using test::TTransportObserver;
using test::WaitUntil;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(CommunicationInterface, OpenAndCloseStateMachine) {
  auto ci = New<TMemoryTransport>();
  TTransportObserver observer;
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
  EXPECT_THAT(observer.Events(), ElementsAre("close", "open", "close"));
  EXPECT_THAT(observer.Errors(), ElementsAre(TErrorReport{"Open"}));
}

TEST(CommunicationInterface, SignalsReachHandlerThenEventer) {
  auto ci = New<TMemoryTransport>();
  TTransportObserver observer;
  observer.Attach(*ci);
  ci->SignalChange(3, true);
  EXPECT_THAT(observer.Events(), ElementsAre("signal 3 on"));

  ci->SetOnChangeSignal({});
  ci->SignalChange(3, false);  // no single handler: nothing, and no error
  EXPECT_THAT(observer.Errors(), IsEmpty());
}

// A raising received-data handler gives exactly one report and keeps the eventer quiet.
TEST(CommunicationInterface, RaisingDataHandlerBecomesOneReport) {
  auto [a, b] = TMemoryTransport::CreatePair();
  TTransportObserver observer;
  observer.Attach(*b);
  observer.raiseOnData = true;
  a->Open();
  b->Open();
  a->Write("x");
  ASSERT_TRUE(WaitUntil([&] { return !observer.Errors().empty(); }));
  EXPECT_THAT(observer.Errors(), ElementsAre(TErrorReport{"DoDataRcv"}));
  EXPECT_THAT(observer.Events(), ElementsAre("open")) << "the data eventer must not fire";
}

TEST(CommunicationInterface, ReceivedDataArrivesOnTheTransportsThread) {
  auto [a, b] = TMemoryTransport::CreatePair();
  TTransportObserver observer;
  observer.Attach(*b);
  observer.readOnData = false;
  a->Open();
  b->Open();
  a->Write("hello");
  WaitUntil([&] { return observer.Events().size() >= 3; });
  EXPECT_THAT(observer.Events(), ElementsAre("open", "data", "data-eventer"));
  EXPECT_EQ(b->Read(), "hello");
  EXPECT_THAT(observer.ThreadsOf("data"), ElementsAre(::testing::Ne(std::this_thread::get_id())));
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
  TDestroyedNodes destroyed;
  const auto main = std::this_thread::get_id();
  auto [a, b] = TMemoryTransport::CreatePair();
  const void* const nodes[] = {Identity(a.Get()), Identity(b.Get())};
  a->Open();
  b->Open();
  b->SetOnDataRcv({&handler, &TBlockingHandler::OnData});
  a->Write("x");
  handler.entered.wait();
  a.Reset();  // a's delivery thread is idle: a goes here, on the test's thread
  b.Reset();  // b's handler still holds b: it goes when the handler returns
  EXPECT_THAT(destroyed.ThreadsOf(nodes[0]), ElementsAre(main));
  EXPECT_THAT(destroyed.ThreadsOf(nodes[1]), IsEmpty());
  handler.release.count_down();
  WaitUntil([&] { return !destroyed.ThreadsOf(nodes[1]).empty(); });
  EXPECT_THAT(destroyed.ThreadsOf(nodes[1]), ElementsAre(::testing::Ne(main)));
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
  EXPECT_TRUE(WaitUntil([&] { return !b->GetOnDataRcv(); }))
      << "a handler replacing itself must not wait for itself";
}

TEST(CommunicationInterface, RejectedConfigurationIsReportedNotAnnounced) {
  auto ci = New<TMemoryTransport>();
  TTransportObserver observer;
  observer.Attach(*ci);
  ci->SetConfiguration("name=x");
  EXPECT_THAT(observer.Events(), ElementsAre("config"));
  ci->SetAcceptConfiguration(false);
  ci->SetConfiguration("name=y");
  EXPECT_THAT(observer.Events(), ElementsAre("config"));
  EXPECT_THAT(observer.Errors(), ElementsAre(TErrorReport{"SetConfiguration", {"name=y"}}));
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
  // The reply's start may take 10 s, its gaps 500 characters of 1 ms, the whole a minute: far
  // more than the reply takes, so all of it is in when the gap after it runs out.
  const TByteString reply = client->Query("?", 10'000, 500, 60'000, false, false, nullptr, "");
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(reply, "ABCD");
  EXPECT_GE(elapsed, 500ms) << "the query did not wait out the gap after the reply";
}

TEST_F(QueryTest, GoOnEndsTheQueryEarly) {
  const auto start = std::chrono::steady_clock::now();
  const TByteString reply = client->Query(
      "?", 60'000, 60'000, 120'000, false, false,
      [](const TByteString& text) { return text.find("CD") == std::string::npos; }, ">");
  EXPECT_EQ(reply, "ABCD");
  EXPECT_LT(std::chrono::steady_clock::now() - start, test::kWaitLimit)
      << "the query ran to its deadline";
}

TEST_F(QueryTest, ClosedTransportWritesNothing) {
  client->Close(false);
  const int writesBefore = client->InternalWriteCalls();
  EXPECT_EQ(client->QuerySimple("?", 10, nullptr), "");
  EXPECT_EQ(client->InternalWriteCalls(), writesBefore);
}

}  // namespace
}  // namespace zorvid
