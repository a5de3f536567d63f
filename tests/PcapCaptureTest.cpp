// Capture files as Wireshark reads them: the writer's blocks byte by byte, and the files of
// zorvidctl --pcap and zorvid-sim --pcap read by tshark with the korvel dissector from the
// source tree (KORVEL_DISSECTOR_PATH).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "capture/PacketDecoder.h"
#include "capture/PcapngWriter.h"
#include "protocol/Korvel97.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Tshark.h"
#include "tests/support/WaitUntil.h"

namespace zorvid {
namespace {

using test::RunProcess;
using test::TFrame;
using test::TProcessResult;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;
using TKind = TTrafficRecord::TKind;

constexpr auto kToDisplay = TTrafficDirection::kToDisplay;
constexpr auto kFromDisplay = TTrafficDirection::kFromDisplay;

// A directory of the test's own, removed with everything in it when the test ends.
class TScratchDirectory {
 public:
  TScratchDirectory() {
    std::string name = (std::filesystem::temp_directory_path() / "pcap-test-XXXXXX").string();
    if (mkdtemp(name.data())) path_ = name;
  }
  ~TScratchDirectory() {
    if (!path_.empty()) std::filesystem::remove_all(path_);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::string Path() const { return path_; }

 private:
  std::string path_;
};

// ---- The writer's blocks -------------------------------------------------------------------

std::uint32_t Read32(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i)
    value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
  return value;
}

std::uint16_t Read16(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes.at(at)) |
                                    static_cast<unsigned char>(bytes.at(at + 1)) << 8);
}

struct TBlockSeen {
  std::uint32_t type = 0;
  std::string body;  // between the leading and the trailing length
};

// The blocks of a capture; a test failure for a length that is not a whole number of 32-bit
// words or that differs at the block's two ends.
std::vector<TBlockSeen> Blocks(std::string_view file) {
  std::vector<TBlockSeen> blocks;
  for (std::size_t at = 0; at < file.size();) {
    const std::uint32_t length = Read32(file, at + 4);
    if (length % 4 != 0 || length < 12 || at + length > file.size() ||
        Read32(file, at + length - 4) != length) {
      ADD_FAILURE() << "block " << blocks.size() << " at " << at << " has length " << length;
      break;
    }
    blocks.push_back({Read32(file, at), std::string(file.substr(at + 8, length - 12))});
    at += length;
  }
  return blocks;
}

// The options from `at` on, by code; a test failure when they do not end with the end marker
// right at the body's end.
std::map<std::uint16_t, std::string> Options(std::string_view body, std::size_t at) {
  std::map<std::uint16_t, std::string> options;
  while (at + 4 <= body.size()) {
    const std::uint16_t code = Read16(body, at);
    const std::uint16_t size = Read16(body, at + 2);
    if (code == 0) {
      EXPECT_EQ(at + 4, body.size()) << "bytes after the end of the options";
      return options;
    }
    options[code] = std::string(body.substr(at + 4, size));
    at += 4 + (size + 3) / 4 * 4;
  }
  ADD_FAILURE() << "the options have no end marker";
  return options;
}

struct TPacketSeen {
  std::uint32_t interface = 0;
  std::uint64_t time = 0;
  std::uint32_t captured = 0, original = 0;
  std::string bytes;
  std::uint32_t flags = 0;
};

TPacketSeen Packet(const TBlockSeen& block) {
  TPacketSeen packet;
  const std::string_view body = block.body;
  packet.interface = Read32(body, 0);
  packet.time = std::uint64_t{Read32(body, 4)} << 32 | Read32(body, 8);
  packet.captured = Read32(body, 12);
  packet.original = Read32(body, 16);
  packet.bytes = std::string(body.substr(20, packet.captured));
  const std::string flags = Options(body, 20 + (packet.captured + 3) / 4 * 4)[2];
  packet.flags = flags.size() == 4 ? Read32(flags, 0) : 0;
  return packet;
}

TEST(PcapngWriterTest, BlocksCarryTheInterfaceTimesBytesAndDirections) {
  const TTrafficTime time{std::chrono::microseconds(0x123456789ABCDE)};
  const TByteString request = BuildPacket97(0x31, 0x05, 0x51, TByteString("\x01"));
  const TByteString longNoise(kPcapngMaxPacket + 3, 'n');
  std::ostringstream out;
  TPcapngWriter writer(out);
  writer.Write({TKind::kPacket, kToDisplay, time, request});
  writer.Write({TKind::kNoise, kFromDisplay, time, "xyz"});
  writer.Write({TKind::kNoise, kFromDisplay, time, longNoise});
  ASSERT_TRUE(writer.Good());

  const std::vector<TBlockSeen> blocks = Blocks(out.str());
  ASSERT_EQ(blocks.size(), 6u);
  EXPECT_EQ(blocks[0].type, 0x0A0D0D0Au);
  EXPECT_EQ(blocks[0].body,
            std::string("\x4D\x3C\x2B\x1A\x01\x00\x00\x00", 8) + std::string(8, '\xFF'));
  EXPECT_EQ(blocks[1].type, 1u);
  EXPECT_EQ(Read16(blocks[1].body, 0), kKorvelLinkType);
  EXPECT_EQ(Read32(blocks[1].body, 4), 0u) << "snap length";
  const auto interface = Options(blocks[1].body, 8);
  EXPECT_EQ(interface.at(2), "korvel");
  EXPECT_EQ(interface.at(9), "\x06") << "microseconds";

  const std::vector<std::pair<std::string, std::uint32_t>> expected{
      {request, kPcapngOutbound},
      {"xyz", kPcapngInbound},
      {longNoise.substr(0, kPcapngMaxPacket), kPcapngInbound},
      {longNoise.substr(kPcapngMaxPacket), kPcapngInbound}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("packet block " + std::to_string(i));
    ASSERT_EQ(blocks[2 + i].type, 6u);
    const TPacketSeen packet = Packet(blocks[2 + i]);
    EXPECT_EQ(packet.interface, 0u);
    EXPECT_EQ(packet.time, 0x123456789ABCDEu);
    EXPECT_EQ(packet.original, packet.captured);
    EXPECT_EQ(packet.bytes, expected[i].first);
    EXPECT_EQ(packet.flags, expected[i].second);
  }
}

// ---- The files through tshark -------------------------------------------------------------

class KorvelDissectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tshark_ = test::FindOnPath("tshark");
    if (tshark_.empty()) GTEST_SKIP() << "tshark is not installed (scripts/setup installs it)";
    ASSERT_FALSE(scratch_.Path().empty());
  }

  // The frames of `file` as the dissector decodes them.
  std::vector<TFrame> Dissect(const std::string& file) {
    const test::TDissection dissection =
        test::DissectKorvel(tshark_, KORVEL_DISSECTOR_PATH, file, scratch_.Path());
    EXPECT_EQ(dissection.exitCode, 0) << dissection.err;
    // Where the dissector failed to load: a Lua error, or a clash with an installed korvel.lua
    // (Wireshark refuses a second protocol of the same name).
    EXPECT_THAT(dissection.err, Not(HasSubstr("Lua"))) << dissection.err;
    return dissection.frames;
  }

  std::string tshark_;
  TScratchDirectory scratch_;
};

// How the Info column writes a byte that tshark prints as "0x0a".
std::string InfoHex(std::string hex) {
  for (std::size_t i = 2; i < hex.size(); ++i)
    hex[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(hex[i])));
  return hex;
}

// Every frame a packet, none malformed; requests outbound, each followed by its answer
// (inbound, OK, same address and SIG, naming the request's instruction). Returns the
// requests' instruction names.
std::vector<std::string> Exchanges(const std::vector<TFrame>& frames) {
  std::vector<std::string> instructions;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const TFrame& frame = frames[i];
    SCOPED_TRACE("frame " + std::to_string(i + 1) + ": " + frame.at("_ws.col.Info"));
    EXPECT_THAT(frame.at("frame.protocols"), HasSubstr("korvel"));
    EXPECT_THAT(frame.at("_ws.malformed"), IsEmpty());
    EXPECT_THAT(frame.at("_ws.lua.error"), IsEmpty());
    EXPECT_THAT(frame.at("_ws.expert.message"), IsEmpty());
    EXPECT_EQ(frame.at("korvel.checksum.status"), "1");
    EXPECT_FALSE(frame.at("korvel.sig").empty());
    if (i % 2 == 0) {
      EXPECT_EQ(frame.at("korvel.direction"), "0") << "a request goes to the display";
      EXPECT_THAT(frame.at("_ws.col.Info"),
                  StartsWith("Request " + frame.at("korvel.instruction.name") + " SIG "));
      instructions.push_back(frame.at("korvel.instruction.name"));
      continue;
    }
    const TFrame& request = frames[i - 1];
    EXPECT_EQ(frame.at("korvel.direction"), "1") << "an answer comes from the display";
    EXPECT_EQ(frame.at("korvel.acknowledge"), "0x00");
    EXPECT_EQ(frame.at("korvel.sig"), request.at("korvel.sig"));
    EXPECT_EQ(frame.at("korvel.address"), request.at("korvel.address"));
    EXPECT_THAT(frame.at("_ws.col.Info"),
                StartsWith("Answer OK SIG " + InfoHex(request.at("korvel.sig"))));
    EXPECT_THAT(frame.at("_ws.col.Info"),
                HasSubstr("(" + request.at("korvel.instruction.name") + ")"));
  }
  EXPECT_EQ(frames.size() % 2, 0u) << "a request without its answer";
  return instructions;
}

TEST_F(KorvelDissectorTest, CapturesOfZorvidctlAndTheSimulatorShowTheSameExchanges) {
  const std::string simulatorFile = scratch_.File("sim.pcapng");
  test::TSimProcess simulator({"--pcap", simulatorFile});
  ASSERT_NE(simulator.Port(), 0);
  const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> runs{
      {{"get", "temperature"}, {"Identification", "GetTemperature"}},
      {{"set", "brightness", "40"}, {"Identification", "SetDisplayBrightness"}},
      {{"get", "params"}, {"Identification", "GetDateTimeParams"}},
  };
  std::vector<std::string> allInstructions;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const auto& [command, instructions] = runs[i];
    SCOPED_TRACE(command.front() + " " + command.back());
    const std::string file = scratch_.File("ctl" + std::to_string(i) + ".pcapng");
    std::vector<std::string> args{ZORVIDCTL_PATH, "-c", simulator.Connection(), "--pcap", file};
    args.insert(args.end(), command.begin(), command.end());
    const TProcessResult result = RunProcess(args);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_THAT(Exchanges(Dissect(file)), ElementsAreArray(instructions));
    allInstructions.insert(allInstructions.end(), instructions.begin(), instructions.end());
  }
  // Its file is written as the traffic passes; stopping it shows that nothing waits in a buffer.
  simulator.Stop();
  EXPECT_THAT(Exchanges(Dissect(simulatorFile)), ElementsAreArray(allInstructions));
}

// A client of the simulator that writes raw bytes.
class TRawClient {
 public:
  explicit TRawClient(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~TRawClient() { Close(); }
  bool Connected() const { return connected_; }
  bool Send(std::string_view bytes) {
    return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  // Waits for `count` bytes, which come within milliseconds; only a fault meets the limit.
  std::string Receive(std::size_t count) {
    std::string bytes;
    const auto deadline = std::chrono::steady_clock::now() + test::kWaitLimit;
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd polled{fd_, POLLIN, 0};
      if (poll(&polled, 1, 100) <= 0) continue;
      char buffer[256];
      const ssize_t size = recv(fd_, buffer, sizeof buffer, 0);
      if (size <= 0) break;
      bytes.append(buffer, static_cast<std::size_t>(size));
    }
    return bytes;
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
};

// The simulator cuts what arrives as the stack would, across reads: a request in two pieces is
// one packet; garbage, a damaged request and the half of one left at the hang-up are kept too.
TEST_F(KorvelDissectorTest, TheSimulatorRecordsWhatArrivesWhateverItIs) {
  const std::string file = scratch_.File("sim.pcapng");
  test::TSimProcess simulator({"--pcap", file});
  ASSERT_NE(simulator.Port(), 0);
  TRawClient client(simulator.Port());
  ASSERT_TRUE(client.Connected());
  const TByteString request = BuildPacket97(0x31, 0x07, 0xF3, {});
  TByteString damaged = BuildPacket97(0x31, 0x08, 0xF3, {});
  damaged[damaged.size() - 2] ^= 0x01;
  ASSERT_TRUE(client.Send("\x13\x13"));
  ASSERT_TRUE(client.Send(request.substr(0, 5)));
  // Mostly long enough for the simulator to read the first piece on its own, as a slow line
  // gives it; read together, the pieces make the same records.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(client.Send(request.substr(5)));
  const std::string answer = client.Receive(9);
  ASSERT_GE(answer.size(), 9u) << "no answer to the request";
  ASSERT_TRUE(client.Send(damaged + request.substr(0, 6)));
  client.Close();
  simulator.Stop();

  const std::vector<TFrame> frames = Dissect(file);
  std::vector<std::string> seen;
  for (const TFrame& frame : frames) {
    EXPECT_THAT(frame.at("_ws.lua.error"), IsEmpty()) << frame.at("_ws.col.Info");
    seen.push_back(frame.at("korvel.direction") + " " + frame.at("_ws.col.Info"));
  }
  EXPECT_THAT(seen,
              ElementsAreArray<std::string>(
                  {"0 Not a Korvel packet, 2 byte(s)", "0 Request Identification SIG 0x07 → 0x31",
                   "1 Answer OK SIG 0x07 from 0x31 (Identification)",
                   "0 Request Identification SIG 0x08 → 0x31 [bad checksum]",
                   "0 Not a Korvel packet, 6 byte(s)"}));
}

TEST_F(KorvelDissectorTest, ABadChecksumIsMarkedAndNoiseIsNoPacket) {
  const TTrafficTime now = std::chrono::system_clock::now();
  TByteString damaged = BuildPacket97(0x31, 0x05, 0x00, TByteString("\x01\x00\xEB", 3));
  damaged[damaged.size() - 2] ^= 0x01;
  const std::string file = scratch_.File("damaged.pcapng");
  {
    TPcapngFile capture(file);
    capture.Write({{TKind::kPacket, kToDisplay, now, BuildPacket97(0x31, 0x05, 0x51, "\x01")},
                   {TKind::kDamaged, kFromDisplay, now, damaged},
                   {TKind::kNoise, kFromDisplay, now, "\x13line noise"},
                   {TKind::kNoise, kToDisplay, now, TByteString("*a\x00\x20\x31\x05\x51", 7)}});
    ASSERT_THAT(capture.Failure(), IsEmpty());
  }
  const std::vector<TFrame> frames = Dissect(file);
  ASSERT_EQ(frames.size(), 4u);
  for (const TFrame& frame : frames) {
    EXPECT_THAT(frame.at("_ws.lua.error"), IsEmpty()) << frame.at("_ws.col.Info");
    EXPECT_THAT(frame.at("_ws.malformed"), IsEmpty()) << frame.at("_ws.col.Info");
  }
  EXPECT_EQ(frames[1].at("korvel.checksum.status"), "0");
  EXPECT_EQ(frames[1].at("_ws.expert.message"), "Bad checksum 0x4B, expected 0x4A");
  EXPECT_EQ(frames[1].at("_ws.col.Info"),
            "Answer OK SIG 0x05 from 0x31 (GetTemperature) [bad checksum]");
  EXPECT_EQ(frames[2].at("_ws.expert.message"),
            "Not a Korvel packet: 11 byte(s) that do not start a packet");
  EXPECT_EQ(frames[3].at("_ws.expert.message"),
            "Not a Korvel packet: starts like a packet of 36 bytes but has 7");
  EXPECT_EQ(frames[3].at("korvel.direction"), "0");
  EXPECT_THAT(frames[3].at("korvel.sig"), IsEmpty()) << "noise has no fields of a packet";
}

// The dissector's table of names and the program's are two copies: a request of every code
// shows the same name in both (the code in hex where neither has one).
TEST_F(KorvelDissectorTest, EveryInstructionHasTheSameNameAsInTheProgram) {
  const std::string file = scratch_.File("names.pcapng");
  {
    std::ofstream out(file, std::ios::binary);
    TPcapngWriter writer(out);
    for (int code = 0; code < 256; ++code)
      writer.Write({TKind::kPacket,
                    kToDisplay,
                    {},
                    BuildPacket97(0x31, static_cast<TByte>(code), static_cast<TByte>(code), "")});
  }
  const std::vector<TFrame> frames = Dissect(file);
  ASSERT_EQ(frames.size(), 256u);
  for (int code = 0; code < 256; ++code) {
    const std::string_view name = InstructionName(static_cast<TByte>(code));
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", code);
    EXPECT_EQ(frames[code].at("korvel.instruction.name"), name.empty() ? hex : std::string(name))
        << "code " << hex;
  }
}

// ---- Files that cannot be written ---------------------------------------------------------

// zorvidctl stops before it sends anything (bad usage), the simulator before it listens.
TEST(PcapOptionTest, AFileThatCannotBeWrittenIsNamedWithTheSystemsReason) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"/nonexistent-directory/capture.pcapng",
       "cannot create the capture file \"/nonexistent-directory/capture.pcapng\": No such file "
       "or directory"},
      {"/dev/full",
       "cannot write the header to the capture file \"/dev/full\": No space left on device"},
  };
  for (const auto& [file, message] : cases) {
    const TProcessResult ctl = RunProcess({ZORVIDCTL_PATH, "--pcap", file, "ident"});
    EXPECT_EQ(ctl.exitCode, 2) << file;
    EXPECT_THAT(ctl.err, HasSubstr("zorvidctl: " + message + "\n"));
    const TProcessResult simulator =
        RunProcess({ZORVID_SIM_PATH, "--tcp", "127.0.0.1:0", "--pcap", file});
    EXPECT_EQ(simulator.exitCode, 1) << file;
    EXPECT_THAT(simulator.err, HasSubstr("zorvid-sim: " + message + "\n"));
    EXPECT_THAT(simulator.out, Not(HasSubstr("TCP "))) << "listened all the same";
  }
}

}  // namespace
}  // namespace zorvid
