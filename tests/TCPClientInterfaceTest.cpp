#include "transport/TCPClientInterface.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "core/Errors.h"
#include "protocol/KorvelStack.h"
#include "protocol/KorvelStackDevice.h"
#include "protocol/PacketReader.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TransportObserver.h"

namespace zorvid {
namespace {

using namespace std::chrono_literals;
using test::DeliverPostedEvents;
using test::ErrorText;
using test::ProcessEventsUntil;
using test::TErrorReport;
using test::TFlood;
using test::TFullListener;
using test::TLoopbackServer;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::string LoopbackAt(std::uint16_t port) {
  return "host=127.0.0.1;port=" + std::to_string(port);
}

class TCPClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tcp = New<TTCPClientInterface>();
    observer.Attach(*tcp);
  }
  void Configure(std::uint16_t port, const std::string& extra = "") {
    tcp->SetConfiguration(LoopbackAt(port) + extra);
    observer.Clear();
  }

  TLoopbackServer server;
  test::TTransportObserver observer;  // outlives the transport, which reports its last close
  TRef<TTCPClientInterface> tcp;
};

TEST_F(TCPClientTest, OpenAndCloseNotifications) {
  Configure(server.Port());
  ASSERT_TRUE(tcp->Open());
  EXPECT_TRUE(tcp->GetActive());
  EXPECT_GT(tcp->GetLocalPort(), 0);
  // The forced close before connecting, the connected notification, then Open itself.
  EXPECT_THAT(observer.Events(), ElementsAre("close", "open", "open"));

  observer.Clear();
  EXPECT_TRUE(tcp->Close(false));
  EXPECT_FALSE(tcp->GetActive());
  EXPECT_THAT(observer.Events(), ElementsAre("close", "close"));
  EXPECT_THAT(observer.Errors(), IsEmpty());
}

TEST_F(TCPClientTest, RemoteCloseIsNoticedWithoutAnyCall) {
  Configure(server.Port());
  ASSERT_TRUE(tcp->Open());
  ASSERT_TRUE(ProcessEventsUntil([&] { return server.Accepted() == 1; }));
  observer.Clear();
  server.DropClient();
  EXPECT_TRUE(ProcessEventsUntil([&] { return !tcp->GetActive(); }));
  ASSERT_TRUE(DeliverPostedEvents());  // a second close queued meanwhile would come now
  EXPECT_THAT(observer.Events(), ElementsAre("close"));
}

// A handler may let the transport go inside the socket's own notification.
TEST(TCPClientLifetime, LastReferenceMayGoInsideANotification) {
  TLoopbackServer server;
  struct TOwner {
    TRef<TTCPClientInterface> tcp;
    void OnClose(TCiRef) { tcp.Reset(); }
  } owner;
  owner.tcp = New<TTCPClientInterface>();
  owner.tcp->SetConfiguration(LoopbackAt(server.Port()));
  ASSERT_TRUE(owner.tcp->Open());
  ASSERT_TRUE(ProcessEventsUntil([&] { return server.Accepted() == 1; }));
  owner.tcp->SetOnClose({&owner, &TOwner::OnClose});
  server.DropClient();
  EXPECT_TRUE(ProcessEventsUntil([&] { return !owner.tcp; }));
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // the socket goes now
}

TEST_F(TCPClientTest, FailedConnectsReportOpenWithinTheWaitAndSayWhy) {
  const std::string port = std::to_string(TLoopbackServer::UnusedPort());
  const std::pair<std::string, std::string> cases[] = {
      {"127.0.0.1", "connection to 127.0.0.1:" + port + " refused: Connection refused"},
      {"no.such.host.invalid", "host not found: no.such.host.invalid:" + port},
      {"", ":" + port},
  };
  for (const auto& [host, reason] : cases) {
    tcp->SetConfiguration("host=" + host + ";port=" + port);
    observer.Clear();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(tcp->Open()) << "host '" << host << "'";
    // A refusal comes within milliseconds, and nothing waits longer than the open's 1.5 s; a
    // look-up that waited for an unreachable name server would take 10 s.
    EXPECT_LE(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_THAT(observer.Errors(), ElementsAre(TErrorReport{"Open"})) << "host '" << host << "'";
    EXPECT_THAT(tcp->GetFailureReason(), HasSubstr(reason));
  }
}

// Records the events that reach it.
class TEventRecorder : public QObject {
 public:
  bool event(QEvent* event) override {
    if (event->type() == QEvent::User) ++received;
    return QObject::event(event);
  }
  int received = 0;
};

// While an open waits, neither a timer nor a posted event (a click, the window's poll) runs: the
// wait is on the socket alone. It still gives up at its time and says so.
TEST_F(TCPClientTest, AnOpenThatWaitsDeliversNoOtherEvent) {
  TFullListener listener;
  tcp->SetConfiguration(LoopbackAt(listener.Port()));
  bool timerRan = false;
  QTimer::singleShot(0, [&timerRan] { timerRan = true; });
  TEventRecorder recorder;
  QCoreApplication::postEvent(&recorder, new QEvent(QEvent::User));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(tcp->Open());
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1400ms);
  EXPECT_FALSE(timerRan);
  EXPECT_EQ(recorder.received, 0);
  EXPECT_THAT(tcp->GetFailureReason(), HasSubstr("127.0.0.1:" + std::to_string(listener.Port()) +
                                                 " timed out after 1500 ms"));
  EXPECT_TRUE(ProcessEventsUntil([&] { return timerRan && recorder.received == 1; }));
}

TEST_F(TCPClientTest, DataArrivesOnTheMainThreadAndWritesReachThePeer) {
  Configure(server.Port());
  ASSERT_TRUE(tcp->Open());
  ASSERT_TRUE(ProcessEventsUntil([&] { return server.Accepted() == 1; }));
  EXPECT_EQ(tcp->Write("ping"), 4);
  server.Send("pong");
  ASSERT_TRUE(ProcessEventsUntil([&] { return observer.Data() == "pong"; }));
  EXPECT_THAT(observer.ThreadsOf("data"), ::testing::Each(std::this_thread::get_id()));
  EXPECT_TRUE(ProcessEventsUntil([&] { return server.Received() == "ping"; }));

  server.Send("kept");  // a socket has nothing to purge
  ASSERT_TRUE(ProcessEventsUntil([&] { return tcp->InBuffUsed() == 4; }));
  tcp->PurgeInput();
  tcp->PurgeOutput();
  EXPECT_EQ(tcp->InBuffUsed(), 4);
}

// The wait of a blocking request: it wakes when bytes come, leaves them for its caller (no
// received-data notification), and ends at its time when none come.
TEST_F(TCPClientTest, WaitForDataWakesWithTheBytesAndKeepsThemForTheCaller) {
  Configure(server.Port());
  ASSERT_TRUE(tcp->Open());
  ASSERT_TRUE(ProcessEventsUntil([&] { return server.Accepted() == 1; }));
  test::ExpectWaitForDataEndsAtItsTimeAndWakesForData(
      *tcp, [this](const TByteString& bytes) { server.Send(bytes); });
  EXPECT_TRUE(observer.Data().empty()) << "the bytes went to the receive path";
}

TEST_F(TCPClientTest, ReappliedStringFollowsTheActiveRule) {
  Configure(server.Port());
  ASSERT_TRUE(tcp->Open());
  tcp->SetConfiguration("port=" + std::to_string(server.Port()) + ";active=1");
  EXPECT_TRUE(tcp->GetActive());
  EXPECT_TRUE(ProcessEventsUntil([&] { return server.Accepted() == 2; })) << "reopened";

  tcp->SetConfiguration("host=127.0.0.1");  // no "active": it was open, so it opens again
  EXPECT_TRUE(tcp->GetActive());
  EXPECT_TRUE(ProcessEventsUntil([&] { return server.Accepted() == 3; }));

  tcp->SetConfiguration("active=0");
  EXPECT_FALSE(tcp->GetActive());
  tcp->SetConfiguration("host=127.0.0.1");  // it was closed: it stays closed
  EXPECT_FALSE(tcp->GetActive());
  EXPECT_EQ(server.Accepted(), 3);
}

TEST_F(TCPClientTest, SettingsOfAConnectedSocketCannotChange) {
  Configure(server.Port());
  ASSERT_TRUE(tcp->Open());
  EXPECT_EQ(
      ErrorText<ESocketError>([&] { tcp->SetPort(static_cast<std::uint16_t>(server.Port() + 1)); }),
      "Can't change value while socket is active");
  EXPECT_EQ(tcp->GetPort(), server.Port());
  EXPECT_THROW(tcp->SetHost("localhost"), ESocketError);
  EXPECT_EQ(tcp->GetHost(), "127.0.0.1");

  observer.Clear();
  tcp->SetPort(server.Port());
  EXPECT_THAT(observer.Events(), ElementsAre("config"));

  TLoopbackServer other;
  tcp->Close(false);
  tcp->SetPort(other.Port());
  ASSERT_TRUE(tcp->Open());
  EXPECT_TRUE(ProcessEventsUntil([&] { return other.Accepted() == 1; }));
}

TEST_F(TCPClientTest, NamesAndConfiguration) {
  tcp->SetConfiguration("host=192.168.1.10;port=10001");
  EXPECT_EQ(tcp->GetConnectionName(), "TCPC 192.168.1.10:10001");
  EXPECT_EQ(tcp->GetConfiguration(), "provider=TCP_CLIENT;host=192.168.1.10;port=10001");
  EXPECT_TRUE(tcp->HasSetup());
  EXPECT_FALSE(tcp->Setup()) << "no settings dialog is installed";
  EXPECT_THROW(tcp->SetConfiguration("port=10x"), EConvertError);
  EXPECT_THROW(tcp->SetConfiguration("port=70000"), EConvertError);
  EXPECT_EQ(tcp->GetPort(), 10001);
}

// The settings dialog shows the current host and port; what the user confirms is what the next
// open uses.
TEST_F(TCPClientTest, SetupThroughTheDialogHook) {
  static std::string shownHost;
  static std::uint16_t shownPort;
  static std::uint16_t chosenPort;
  chosenPort = server.Port();
  SetTcpSetupHook([](std::string& host, std::uint16_t& port) {
    shownHost = host;
    shownPort = port;
    host = "127.0.0.1";
    port = chosenPort;
    return true;
  });
  tcp->SetConfiguration("host=10.1.2.3;port=10001");
  observer.Clear();
  EXPECT_TRUE(tcp->Setup());
  EXPECT_EQ(shownHost, "10.1.2.3");
  EXPECT_EQ(shownPort, 10001);
  EXPECT_THAT(observer.Events(), ElementsAre("config"));
  EXPECT_TRUE(tcp->Open());
  SetTcpSetupHook([](std::string&, std::uint16_t&) { return false; });
  EXPECT_FALSE(tcp->Setup()) << "cancelled";
  SetTcpSetupHook(nullptr);
}

// A display at 0x31 that counts the packets it sends on its own.
struct TListener : TKorvelStackDevice {
  TListener() : TKorvelStackDevice(0x31, "TListener") {}
  std::atomic<int> unsolicited = 0;
  std::int32_t DoUnsolicitedPacket(const TKorvelFormat97&) override { return ++unsolicited; }
};

// Counts the queued calls the event loop delivers.
class TQueuedCallCounter : public QObject {
 public:
  TQueuedCallCounter() { QCoreApplication::instance()->installEventFilter(this); }
  ~TQueuedCallCounter() override { QCoreApplication::instance()->removeEventFilter(this); }
  int count = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::MetaCall) ++count;
    return QObject::eventFilter(watched, event);
  }
};

// A blocking request on the main thread: the event loop does not run, yet the answer is read
// from the socket, and the unsolicited packet behind it reaches the device afterwards.
TEST(TCPClientStack, BlockingRequestAgainstAScriptedServer) {
  TPacketReader reader;
  TLoopbackServer server([&reader](const TByteString& received) {
    reader.Append(received);
    TByteString reply;
    for (TKorvelFormat97 request; reader.Next(request);)
      reply += BuildPacket97(request.Adr, request.Sig, 0, "ZorvidL;v1.0;rtc") +
               BuildPacket97(request.Adr, 0, 0x0E, "");
    return reply;
  });
  auto tcp = New<TTCPClientInterface>();
  tcp->SetConfiguration(LoopbackAt(server.Port()) + ";active=1");
  ASSERT_TRUE(tcp->GetActive());

  auto device = New<TListener>();
  auto stack = New<TKorvelStack>();
  stack->SetCommunicationInterface(tcp);
  stack->AddDevice(device);

  ASSERT_TRUE(device->LoadIdentification());
  EXPECT_EQ(device->GetName(), "ZorvidL");
  EXPECT_TRUE(ProcessEventsUntil([&] { return device->unsolicited == 1; }));

  stack->RemoveDevice(device);
  stack->SetCommunicationInterface({});
}

// The peer closes while a request waits for its answer: the request ends at once, says the
// line closed and why, and the close is announced afterwards, outside the request's locks.
TEST(TCPClientStack, APeerClosingDuringARequestEndsItAtOnce) {
  TLoopbackServer server;
  test::TTransportObserver observer(true);
  auto tcp = New<TTCPClientInterface>();
  tcp->SetConfiguration(LoopbackAt(server.Port()) + ";active=1");
  ASSERT_TRUE(tcp->GetActive());
  observer.Attach(*tcp);
  auto device = New<TKorvelStackDevice>(0x31, "TDisplay");
  auto stack = New<TKorvelStack>();
  stack->SetCommunicationInterface(tcp);
  stack->AddDevice(device);
  device->SetTimeout(60'000);

  std::chrono::steady_clock::time_point closedAt;
  std::thread closer([&] {
    test::WaitUntil([&] { return !server.Received().empty(); });  // the request came
    closedAt = std::chrono::steady_clock::now();
    server.DropClient();
  });
  EXPECT_FALSE(device->CommandE3());
  const auto ended = std::chrono::steady_clock::now();
  closer.join();
  EXPECT_LT(ended - closedAt, test::kWaitLimit) << "the request waited for its minute";
  EXPECT_EQ(LastResultText(*device), "no answer: the line was closed: connection to 127.0.0.1:" +
                                         std::to_string(server.Port()) +
                                         " closed by the other side");
  EXPECT_THAT(observer.Events(), IsEmpty()) << "no close inside the request";
  EXPECT_TRUE(ProcessEventsUntil([&] { return !observer.Events().empty(); }));
  EXPECT_THAT(observer.Events(), ElementsAre("close"));
  EXPECT_THAT(observer.LockFreeAtClose(), ElementsAre(true));

  observer.Detach(*tcp);  // its inspection holds the transport, which must not go there
  stack->RemoveDevice(device);
  stack->SetCommunicationInterface({});
}

// A peer that sends bytes without end: the request still ends at its deadline, and not before.
// How soon after it: bench/DeadlineBench.cpp.
TEST(TCPClientStack, AFloodingPeerCannotHoldARequestPastItsDeadline) {
  TLoopbackServer server;
  auto tcp = New<TTCPClientInterface>();
  tcp->SetConfiguration(LoopbackAt(server.Port()) + ";active=1");
  ASSERT_TRUE(ProcessEventsUntil([&] { return server.Accepted() == 1; }));
  auto stack = New<TKorvelStack>();
  stack->SetCommunicationInterface(tcp);

  std::optional<TFlood> flood(std::in_place, server);
  TByteString answer;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(stack->Request(0x31, 1, 0xF3, "", answer, 300));
  const auto took = std::chrono::steady_clock::now() - start;
  flood->Stop();
  tcp->Close(true);  // a send blocked on the full line fails now
  flood.reset();
  EXPECT_GE(took, 299ms);
  EXPECT_LT(took, test::kWaitLimit) << "the flood held the request";
  EXPECT_LE(stack->PendingBytes(), TReceiveBuffer::kLimit);
  stack->SetCommunicationInterface({});
}

// One request waits while the peer sends a packet a millisecond, two hundred of them, before
// the answer. Every read it makes is one the event loop must hear of afterwards, but one queued
// announcement says it: one per read stayed queued, and grew the memory, as long as the request
// lasted. No packet is lost.
TEST(TCPClientStack, ALongRequestUnderAStreamLeavesOneAnnouncementAndLosesNoPacket) {
  TLoopbackServer server;
  auto tcp = New<TTCPClientInterface>();
  tcp->SetConfiguration(LoopbackAt(server.Port()) + ";active=1");
  ASSERT_TRUE(ProcessEventsUntil([&] { return server.Accepted() == 1; }));
  auto device = New<TListener>();
  auto stack = New<TKorvelStack>();
  stack->SetCommunicationInterface(tcp);
  stack->AddDevice(device);

  constexpr int kPackets = 200;
  std::thread stream([&] {
    test::WaitUntil([&] { return !server.Received().empty(); });  // the request is on the line
    for (int i = 0; i < kPackets; ++i) {
      server.Send(BuildPacket97(0x31, 0, 0x0E, "tick"));
      std::this_thread::sleep_for(1ms);
    }
    server.Send(BuildPacket97(0x31, 1, 0, "ZorvidL;v1.0;rtc"));
  });
  TByteString answer;
  EXPECT_TRUE(stack->Request(0x31, 1, 0xF3, "", answer, 60'000));
  stream.join();
  TQueuedCallCounter queued;
  QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
  EXPECT_LE(queued.count, 2) << "the request's reads left their announcements queued";
  EXPECT_TRUE(ProcessEventsUntil([&] { return device->unsolicited == kPackets; }));
  EXPECT_EQ(device->unsolicited, kPackets);

  stack->RemoveDevice(device);
  stack->SetCommunicationInterface({});
}

}  // namespace
}  // namespace zorvid
