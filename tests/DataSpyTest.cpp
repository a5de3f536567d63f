#include "transport/CommunicationInterfaceDataSpy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
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
  void TearDown() override { SetSpySink({}); }
  void Install() { SetSpySink({&sink, &TRecordingSink::Record}); }

  TRecordingSink sink;
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
  EXPECT_EQ(client->QuerySimple("?", 30, nullptr), "ABCD");
  server->SetOnDataRcv({});
  std::lock_guard guard(sink.mutex);
  // The server's own traffic is spied too; the client's is exactly one record each way.
  std::vector<TRecord> clientRecords;
  for (std::size_t i = 0; i < sink.records.size(); ++i)
    if (sink.senders[i] == Identity(client.Get())) clientRecords.push_back(sink.records[i]);
  EXPECT_THAT(clientRecords, ElementsAre(TRecord{kSpySent, "?"}, TRecord{kSpyReceived, "ABCD"}));
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

  SetSpySink({});
  ::close(terminal);
  std::filesystem::remove_all(directory);
}

TEST(DstForwarder, WithoutReceiverNothingHappens) {
  const TRuntimeDirectory runtime("/nonexistent-zorvid-dir");
  SetSpySink(DstForwarderSink());
  auto [client, server] = TMemoryTransport::CreatePair();
  client->Open();
  EXPECT_EQ(client->Write("abc"), 3);
  SetSpySink({});
}

}  // namespace
}  // namespace zorvid
