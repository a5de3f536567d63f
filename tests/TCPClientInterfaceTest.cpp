#include "transport/TCPClientInterface.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <functional>
#include <thread>

#include "core/Errors.h"
#include "protocol/KorvelStack.h"
#include "protocol/KorvelStackDevice.h"
#include "protocol/PacketReader.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LoopbackServer.h"

namespace zorvid {
namespace {

using test::ProcessEventsUntil;

using namespace std::chrono_literals;
using test::TLoopbackServer;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Records the notifications of a transport, all of which arrive on the main thread.
struct TObserver {
  std::vector<std::string> events;
  std::vector<std::string> errors;
  std::vector<std::thread::id> dataThreads;
  TByteString data;

  void OnOpen(TCiRef) { events.push_back("open"); }
  void OnClose(TCiRef) { events.push_back("close"); }
  void OnConfig(TCiRef) { events.push_back("config"); }
  void OnData(TCiRef sender) {
    dataThreads.push_back(std::this_thread::get_id());
    data += sender->Read();
  }
  void OnError(TCiRef, const std::string& operation, const TErrorArgs&, std::int32_t) {
    errors.push_back(operation);
  }
  void Attach(ICommunicationInterface& ci) {
    ci.SetOnOpen({this, &TObserver::OnOpen});
    ci.SetOnClose({this, &TObserver::OnClose});
    ci.SetOnDataRcv({this, &TObserver::OnData});
    ci.SetOnError({this, &TObserver::OnError});
    ci.GetConfigChangedEventer().Add({this, &TObserver::OnConfig});
  }
};

class TCPClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tcp = New<TTCPClientInterface>();
    observer.Attach(*tcp);
  }
  void Configure(std::uint16_t port, const std::string& extra = "") {
    tcp->SetConfiguration("host=127.0.0.1;port=" + std::to_string(port) + extra);
    observer.events.clear();
  }

  TLoopbackServer server;
  TObserver observer;  // outlives the transport, which reports its last close
  TRef<TTCPClientInterface> tcp;
};

TEST_F(TCPClientTest, OpenAndCloseNotifications) {
  Configure(server.Port());
  ASSERT_TRUE(tcp->Open());
  EXPECT_TRUE(tcp->GetActive());
  EXPECT_GT(tcp->GetLocalPort(), 0);
  // The forced close before connecting, the connected notification, then Open itself.
  EXPECT_THAT(observer.events, ElementsAre("close", "open", "open"));

  observer.events.clear();
  EXPECT_TRUE(tcp->Close(false));
  EXPECT_FALSE(tcp->GetActive());
  EXPECT_THAT(observer.events, ElementsAre("close", "close"));
  EXPECT_THAT(observer.errors, IsEmpty());
}

TEST_F(TCPClientTest, RemoteCloseIsNoticedWithoutAnyCall) {
  Configure(server.Port());
  ASSERT_TRUE(tcp->Open());
  ASSERT_TRUE(ProcessEventsUntil([&] { return server.Accepted() == 1; }));
  observer.events.clear();
  server.DropClient();
  EXPECT_TRUE(ProcessEventsUntil([&] { return !tcp->GetActive(); }));
  ProcessEventsUntil([] { return false; }, 20ms);
  EXPECT_THAT(observer.events, ElementsAre("close"));
}

// A handler may let the transport go inside the socket's own notification.
TEST(TCPClientLifetime, LastReferenceMayGoInsideANotification) {
  TLoopbackServer server;
  struct TOwner {
    TRef<TTCPClientInterface> tcp;
    void OnClose(TCiRef) { tcp.Reset(); }
  } owner;
  owner.tcp = New<TTCPClientInterface>();
  owner.tcp->SetConfiguration("host=127.0.0.1;port=" + std::to_string(server.Port()));
  ASSERT_TRUE(owner.tcp->Open());
  ASSERT_TRUE(ProcessEventsUntil([&] { return server.Accepted() == 1; }));
  owner.tcp->SetOnClose({&owner, &TOwner::OnClose});
  server.DropClient();
  EXPECT_TRUE(ProcessEventsUntil([&] { return !owner.tcp; }));
  ProcessEventsUntil([] { return false; }, 20ms);  // the socket's deferred deletion runs
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
    observer.errors.clear();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(tcp->Open()) << "host '" << host << "'";
    EXPECT_LE(std::chrono::steady_clock::now() - start, 1600ms);
    EXPECT_THAT(observer.errors, ElementsAre("Open")) << "host '" << host << "'";
    EXPECT_THAT(tcp->GetFailureReason(), HasSubstr(reason));
  }
}

// A listener whose queue is full: the kernel drops further connection requests unanswered.
class TFullListener {
 public:
  TFullListener() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 0) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      ADD_FAILURE() << "cannot set up the full listener: errno " << errno;
    port_ = ntohs(address.sin_port);
    for (int& filler : fillers_) {
      filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      connect(filler, reinterpret_cast<sockaddr*>(&address), length);
    }
  }
  ~TFullListener() {
    for (const int filler : fillers_)
      close(filler);
    close(listener_);
  }
  std::uint16_t Port() const { return port_; }

 private:
  int listener_ = -1;
  int fillers_[4] = {-1, -1, -1, -1};
  std::uint16_t port_ = 0;
};

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
  tcp->SetConfiguration("host=127.0.0.1;port=" + std::to_string(listener.Port()));
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
  ASSERT_TRUE(ProcessEventsUntil([&] { return observer.data == "pong"; }));
  EXPECT_THAT(observer.dataThreads, ::testing::Each(std::this_thread::get_id()));
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
  const auto quiet = std::chrono::steady_clock::now();
  EXPECT_FALSE(tcp->WaitForData(60));
  EXPECT_GE(std::chrono::steady_clock::now() - quiet, 60ms);

  std::thread sender([this] {
    std::this_thread::sleep_for(20ms);
    server.Send("late");
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(tcp->WaitForData(2000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
  sender.join();
  EXPECT_EQ(tcp->Read(), "late");
  EXPECT_TRUE(observer.data.empty()) << "the bytes went to the receive path";
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
  try {
    tcp->SetPort(static_cast<std::uint16_t>(server.Port() + 1));
    ADD_FAILURE() << "the port of a connected socket changed";
  } catch (const ESocketError& error) {
    EXPECT_STREQ(error.what(), "Can't change value while socket is active");
  }
  EXPECT_EQ(tcp->GetPort(), server.Port());
  EXPECT_THROW(tcp->SetHost("localhost"), ESocketError);
  EXPECT_EQ(tcp->GetHost(), "127.0.0.1");

  observer.events.clear();
  tcp->SetPort(server.Port());
  EXPECT_THAT(observer.events, ElementsAre("config"));

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
  observer.events.clear();
  EXPECT_TRUE(tcp->Setup());
  EXPECT_EQ(shownHost, "10.1.2.3");
  EXPECT_EQ(shownPort, 10001);
  EXPECT_THAT(observer.events, ElementsAre("config"));
  EXPECT_TRUE(tcp->Open());
  SetTcpSetupHook([](std::string&, std::uint16_t&) { return false; });
  EXPECT_FALSE(tcp->Setup()) << "cancelled";
  SetTcpSetupHook(nullptr);
}

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
  tcp->SetConfiguration("host=127.0.0.1;port=" + std::to_string(server.Port()) + ";active=1");
  ASSERT_TRUE(tcp->GetActive());

  struct TListener : TKorvelStackDevice {
    TListener() : TKorvelStackDevice(0x31, "TListener") {}
    int unsolicited = 0;
    std::int32_t DoUnsolicitedPacket(const TKorvelFormat97&) override { return ++unsolicited; }
  };
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

}  // namespace
}  // namespace zorvid
