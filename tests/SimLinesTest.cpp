#include "tools/sim/SimLines.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/HexText.h"
#include "protocol/Korvel97.h"
#include "protocol/PacketReader.h"
#include "tools/sim/SimDisplay.h"
#include "tools/sim/SimResponder.h"

namespace zorvid::sim {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using TClock = std::chrono::steady_clock;

constexpr TByte kOwn = kZorvidDefaultAddress;
const TByteString kIdentRequest = BuildPacket97(kOwn, 0x01, kInstIdentification, {});
const TByteString kIdentAnswer = BuildPacket97(kOwn, 0x01, kAckOk, TByteString(kFullIdent));

TKorvelFormat97 Parsed(const TByteString& bytes) {
  TKorvelFormat97 packet;
  ParsePacket97(bytes, packet);
  return packet;
}

TSimLinesConfig Tcp(int delayMs = 0, int unsolicitedMs = 0) {
  TSimLinesConfig config;
  config.tcp = TTcpEndpoint{"127.0.0.1", 0};  // any free port, loopback only
  config.delayMs = delayMs;
  config.unsolicitedMs = unsolicitedMs;
  return config;
}

// A display with its responder and lines, driven by the test's own thread.
class SimLinesTest : public ::testing::Test {
 protected:
  void Start(TSimLinesConfig config) {
    lines_ = std::make_unique<TSimLines>(responder_, std::move(config), out_);
    lines_->Open();
  }

  int ConnectTcp() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(lines_->TcpPort());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fds_.push_back(fd);
    return fd;
  }

  void Write(int fd, const TByteString& bytes) {
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Runs the simulator until `count` packets came back on `fd` or `timeoutMs` passed.
  std::vector<TKorvelFormat97> Collect(int fd, std::size_t count, int timeoutMs) {
    TPacketReader reader;
    std::vector<TKorvelFormat97> packets;
    const auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    while (packets.size() < count && TClock::now() < deadline) {
      lines_->Step(5);
      char buffer[512];
      const ssize_t size = read(fd, buffer, sizeof buffer);
      if (size > 0) reader.Append(std::string_view(buffer, static_cast<std::size_t>(size)));
      for (TKorvelFormat97 packet; reader.Next(packet);)
        packets.push_back(packet);
    }
    return packets;
  }

  // The identification request written to `fd` is answered (within milliseconds; the limit is
  // only met by a fault).
  void ExpectIdentAnswer(int fd) {
    const auto answers = Collect(fd, 1, 10'000);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], Parsed(kIdentAnswer));
  }

  void TearDown() override {
    for (const int fd : fds_)
      close(fd);
  }

  TSimDisplay display_{TSimDisplayConfig{}};
  TSimResponder responder_{display_, {}, 1};
  std::ostringstream out_;
  std::unique_ptr<TSimLines> lines_;
  std::vector<int> fds_;
};

TEST_F(SimLinesTest, TcpAnswersThroughGarbageAndLogsBothDirections) {
  TSimLinesConfig config = Tcp();
  config.log = true;
  Start(config);
  ASSERT_NE(lines_->TcpPort(), 0);
  EXPECT_THAT(out_.str(), HasSubstr("TCP 127.0.0.1:" + std::to_string(lines_->TcpPort())));

  const int client = ConnectTcp();
  Write(client, "\x01*a\xFF" + kIdentRequest);
  ExpectIdentAnswer(client);
  EXPECT_THAT(out_.str(), HasSubstr("< 2A 61 00 05 31 01 F3 4A 0D\n"));
  EXPECT_THAT(out_.str(), HasSubstr("> " + FormatHexSpaced(kIdentAnswer) + "\n"));
}

TEST_F(SimLinesTest, TcpServesOneClientAfterAnother) {
  Start(Tcp());
  const int first = ConnectTcp();
  Write(first, kIdentRequest);
  ExpectIdentAnswer(first);

  const int second = ConnectTcp();
  Write(second, kIdentRequest);
  // The first client's next exchanges pass through the poll loop while the second one's request
  // waits: a simulator that served both would have answered it by their end.
  for (int exchange = 0; exchange < 3; ++exchange) {
    Write(first, kIdentRequest);
    ExpectIdentAnswer(first);
  }
  char byte = 0;
  EXPECT_EQ(read(second, &byte, 1), -1) << "served while the first is still connected";

  close(first);
  fds_.erase(fds_.begin());
  ExpectIdentAnswer(second);
}

TEST_F(SimLinesTest, TcpDelaysAnswersAndSendsUnsolicitedPackets) {
  Start(Tcp(60, 15));
  const int client = ConnectTcp();
  Write(client, kIdentRequest);
  const auto sent = TClock::now();
  const auto isAnswer = [](const TKorvelFormat97& packet) { return packet.Inst == kAckOk; };
  std::vector<TKorvelFormat97> packets;
  while (std::none_of(packets.begin(), packets.end(), isAnswer) && TClock::now() - sent < 10s) {
    const auto more = Collect(client, 1, 50);
    packets.insert(packets.end(), more.begin(), more.end());
  }
  EXPECT_GE(TClock::now() - sent, 60ms);
  const auto answer = std::find_if(packets.begin(), packets.end(), isAnswer);
  ASSERT_NE(answer, packets.end());
  EXPECT_EQ(*answer, Parsed(kIdentAnswer));
  ASSERT_NE(answer, packets.begin()) << "no unsolicited packet while the answer was delayed";
  EXPECT_EQ(packets.front(), Parsed(responder_.UnsolicitedPacket()));
}

TEST_F(SimLinesTest, PtyAnswersAndItsLinkGoesAway) {
  char directory[] = "/tmp/sim-pty-XXXXXX";
  ASSERT_NE(mkdtemp(directory), nullptr);
  const std::string link = std::string(directory) + "/display";
  TSimLinesConfig config;
  config.pty = link;
  Start(config);
  ASSERT_FALSE(lines_->PtyPath().empty());
  EXPECT_THAT(out_.str(), HasSubstr("PTY " + lines_->PtyPath() + "\n"));

  const int terminal = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(terminal, 0);
  fds_.push_back(terminal);
  Write(terminal, kIdentRequest);
  ExpectIdentAnswer(terminal);

  lines_.reset();
  struct stat gone {};
  EXPECT_NE(lstat(link.c_str(), &gone), 0);
  rmdir(directory);
}

}  // namespace
}  // namespace zorvid::sim
