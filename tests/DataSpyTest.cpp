#include "transport/CommunicationInterfaceDataSpy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/support/MemoryTransport.h"
#include "tests/support/WaitUntil.h"

namespace zorvid {
namespace {

using namespace std::chrono_literals;
using test::TMemoryTransport;
using test::WaitUntil;
using ::testing::ElementsAre;
using TRecord = std::pair<int, TByteString>;

// A sink that records what it is given, for one test at a time.
struct TRecordingSink {
  std::mutex mutex;
  std::vector<TRecord> records;            // guarded by mutex
  std::vector<const IInterface*> senders;  // guarded by mutex
  bool raise = false;

  void Record(TCiRef sender, const TByteString& data, TByte direction) {
    std::lock_guard guard(mutex);
    records.emplace_back(direction, data);
    senders.push_back(Identity(sender.Get()));
    if (raise) throw std::runtime_error("sink failed");
  }
};

class DataSpyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::tie(client, server) = TMemoryTransport::CreatePair();
    client->Open();
    server->Open();
  }
  void Install() { installed.emplace(TSpySink{&sink, &TRecordingSink::Record}); }

  TRecordingSink sink;
  std::optional<TInstalledSpySink> installed;  // removed before the sink goes
  TRef<TMemoryTransport> client, server;
};

TEST_F(DataSpyTest, WithoutSinkNothingIsRecorded) {
  EXPECT_EQ(client->Write("abc"), 3);
  EXPECT_TRUE(sink.records.empty());
}

// A sink that raises disturbs neither the transport nor the records that follow.
TEST_F(DataSpyTest, ReadsAndWritesAreRecordedWithTheirDirection) {
  for (const bool raise : {false, true}) {
    SCOPED_TRACE(raise ? "raising sink" : "quiet sink");
    sink.raise = raise;
    sink.records.clear();
    Install();
    EXPECT_EQ(client->Write("req"), 3);
    ASSERT_TRUE(WaitUntil([&] { return server->InBuffUsed() > 0; }));
    EXPECT_EQ(server->Read(), "req");
    EXPECT_THAT(sink.records, ElementsAre(TRecord{kSpySent, "req"}, TRecord{kSpyReceived, "req"}));
  }
}

TEST_F(DataSpyTest, QueryRecordsTheRequestFirstAndTheWholeReplyOnce) {
  struct TAnswerer {
    void Answer(TCiRef sender) {
      if (sender->Read().empty()) return;
      sender->Write("AB");
      std::this_thread::sleep_for(3ms);
      sender->Write("CD");
    }
  } answerer;
  server->SetOnDataRcv({&answerer, &TAnswerer::Answer});
  Install();
  // Time enough for the whole reply however slowly it comes; the query then waits out a gap of
  // 200 characters of 1 ms after it.
  EXPECT_EQ(client->Query("?", 10'000, 200, 60'000, false, false, nullptr, ""), "ABCD");
  server->SetOnDataRcv({});
  std::lock_guard guard(sink.mutex);
  // The server's own traffic is spied too; the client's is exactly one record each way.
  std::vector<TRecord> clientRecords;
  for (std::size_t i = 0; i < sink.records.size(); ++i)
    if (sink.senders[i] == Identity(client.Get())) clientRecords.push_back(sink.records[i]);
  EXPECT_THAT(clientRecords, ElementsAre(TRecord{kSpySent, "?"}, TRecord{kSpyReceived, "ABCD"}));
}

// Sinks installed one after another all get every chunk, the newest first, whichever of them
// goes first; one that raises keeps the traffic from none of the others.
TEST(SpySinks, EveryInstalledSinkGetsEveryChunkNewestFirst) {
  struct TNamedSink {
    std::vector<char>& calls;
    char name;
    void Spy(TCiRef, const TByteString&, TByte) {
      calls.push_back(name);
      if (name == 'B') throw std::runtime_error("sink B failed");
    }
  };
  std::vector<char> calls;
  TNamedSink a{calls, 'A'}, b{calls, 'B'}, c{calls, 'C'};
  const TInstalledSpySink installedA(TSpySink(&a, &TNamedSink::Spy));
  auto installedB = std::make_unique<TInstalledSpySink>(TSpySink(&b, &TNamedSink::Spy));
  {
    const TInstalledSpySink installedC(TSpySink(&c, &TNamedSink::Spy));
    SpyTraffic(nullptr, "1", kSpySent);
    EXPECT_THAT(calls, ElementsAre('C', 'B', 'A'));
    calls.clear();
    installedB.reset();
    SpyTraffic(nullptr, "2", kSpySent);
    EXPECT_THAT(calls, ElementsAre('C', 'A'));
    calls.clear();
  }
  SpyTraffic(nullptr, "3", kSpySent);
  EXPECT_THAT(calls, ElementsAre('A'));
}

// A sink held inside a call on a transport's thread: its removal on another thread returns only
// after the call has ended, and the object behind it may go at once (under the thread checker,
// a removal that does not wait is a race with the call's last write).
TEST(SpySinks, RemovalWaitsForTheCallInsideTheSink) {
  struct TBlockingSink {
    std::promise<void> entered;
    std::shared_future<void> release;
    bool ended = false;
    void Spy(TCiRef, const TByteString&, TByte) {
      entered.set_value();
      release.wait();
      ended = true;
    }
  };
  std::promise<void> release;
  auto sink = std::make_unique<TBlockingSink>();
  sink->release = release.get_future().share();
  auto installed = std::make_unique<TInstalledSpySink>(TSpySink(sink.get(), &TBlockingSink::Spy));
  std::thread line([] { SpyTraffic(nullptr, "held", kSpyReceived); });
  sink->entered.get_future().wait();

  std::atomic<bool> endedBeforeRemoval{false};
  std::thread remover([&] {
    installed.reset();
    endedBeforeRemoval = sink->ended;
    sink.reset();
  });
  // Time for the removal to reach its wait; had it not waited, it would be through by now.
  std::this_thread::sleep_for(20ms);
  release.set_value();
  remover.join();
  line.join();
  EXPECT_TRUE(endedBeforeRemoval);
}

// A sink that removes itself while it is called, on the calling thread, does not wait for itself.
TEST(SpySinks, ASinkMayRemoveItselfInsideItsCall) {
  struct TSelfRemovingSink {
    std::unique_ptr<TInstalledSpySink> installed;
    int calls = 0;
    void Spy(TCiRef, const TByteString&, TByte) {
      ++calls;
      installed.reset();
    }
  } sink;
  sink.installed = std::make_unique<TInstalledSpySink>(TSpySink(&sink, &TSelfRemovingSink::Spy));
  SpyTraffic(nullptr, "a", kSpySent);
  SpyTraffic(nullptr, "b", kSpySent);
  EXPECT_EQ(sink.calls, 1);
  EXPECT_EQ(sink.installed, nullptr);
}

TEST(DstSwitch, IsRecognisedInEveryForm) {
  const auto has = [](std::vector<const char*> args) {
    return HasDstSwitch(static_cast<int>(args.size()), args.data());
  };
  for (const char* form : {"DST", "/dst", "-Dst", "  -dSt \t"})
    EXPECT_TRUE(has({"zorvid", form})) << form;
  for (const char* form : {"--dst", "dsta", "/"})
    EXPECT_FALSE(has({"zorvid", form})) << form;
  EXPECT_TRUE(has({"dst"})) << "position 0 counts too";
  EXPECT_FALSE(has({}));
}

// Points XDG_RUNTIME_DIR elsewhere for one test.
class TRuntimeDirectory {
 public:
  explicit TRuntimeDirectory(const std::string& directory) {
    if (const char* value = std::getenv("XDG_RUNTIME_DIR")) saved_ = value;
    ::setenv("XDG_RUNTIME_DIR", directory.c_str(), 1);
  }
  ~TRuntimeDirectory() {
    if (saved_)
      ::setenv("XDG_RUNTIME_DIR", saved_->c_str(), 1);
    else
      ::unsetenv("XDG_RUNTIME_DIR");
  }

 private:
  std::optional<std::string> saved_;
};

// The forwarder delivers one datagram per chunk to a terminal listening on the socket.
TEST(DstForwarder, SendsTheDirectionAndDataAsOneDatagram) {
  const auto directory =
      std::filesystem::temp_directory_path() / ("zorvid-dst-" + std::to_string(::getpid()));
  std::filesystem::create_directories(directory);
  const TRuntimeDirectory runtime(directory.string());
  const std::string path = DstSocketPath();
  EXPECT_EQ(path, (directory / "TfMainKorvelTerm").string());

  const int terminal = ::socket(AF_UNIX, SOCK_DGRAM, 0);
  ASSERT_GE(terminal, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  ASSERT_EQ(::bind(terminal, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  timeval timeout{2, 0};
  ::setsockopt(terminal, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

  const char* args[] = {"zorvid", "/DST"};
  ASSERT_TRUE(InstallDstForwarderIfRequested(2, args));
  auto [client, server] = TMemoryTransport::CreatePair();
  client->Open();
  client->Write(TByteString("*a\0\x05", 4));
  client->Write("");  // empty chunks are not forwarded

  char buffer[64];
  const auto received = ::recv(terminal, buffer, sizeof buffer, 0);
  ASSERT_EQ(received, 5);
  EXPECT_EQ(TByteString(buffer, 5), TByteString("\x01*a\0\x05", 5));
  EXPECT_EQ(::recv(terminal, buffer, sizeof buffer, MSG_DONTWAIT), -1) << "one datagram only";

  ::close(terminal);
  std::filesystem::remove_all(directory);
}

TEST(DstForwarder, WithoutReceiverNothingHappens) {
  const TRuntimeDirectory runtime("/nonexistent-zorvid-dir");
  const TInstalledSpySink forwarder(DstForwarderSink());
  auto [client, server] = TMemoryTransport::CreatePair();
  client->Open();
  EXPECT_EQ(client->Write("abc"), 3);
}

}  // namespace
}  // namespace zorvid
