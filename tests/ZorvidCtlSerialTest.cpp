// zorvidctl and zorvid-sim as separate processes on a pseudo-terminal that the simulator makes:
// the tool reaches it through the serial transport, by device path and by a port number that
// the tool's environment maps to the device, and every command gives its result over that line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/CtlPtyTest.h"
#include "tools/ctl/CtlCommands.h"
#include "tools/ctl/CtlText.h"

namespace zorvid::ctl {
namespace {

using test::TEnvironment;
using test::TProcessResult;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

// A port number without a default device, mapped to the simulator's line for one run.
constexpr int kMappedPort = 233;

class CtlSerialTest : public test::TCtlPtyTest {
 protected:
  std::string ByDevice() const { return "provider=SERIAL_PORT;device=" + linePath; }
  TProcessResult Ctl(const std::vector<std::string>& args) override {
    return RunCtl(args, ByDevice());
  }
  void ExpectFails(const std::vector<std::string>& args, int exitCode, const std::string& err) {
    SCOPED_TRACE(JoinWords(args));
    const TProcessResult run = Ctl(args);
    EXPECT_EQ(run.exitCode, exitCode);
    EXPECT_EQ(run.err, err);
    EXPECT_THAT(run.out, IsEmpty());
  }
};

TEST_F(CtlSerialTest, EveryReadPrintsTheDisplaysValues) {
  CheckEveryRead();
}

TEST_F(CtlSerialTest, EverySettingReadsBackWhatWasWritten) {
  CheckEverySettingReadsBack();
}

TEST_F(CtlSerialTest, JsonAndTraceWorkOverTheSerialLine) {
  StartSimulator({"--temperature", "23.5"});
  ExpectPrints({"--json", "get", "temperature"},
               "{\"ok\":true,\"command\":\"get temperature\",\"temperature\":23.5}\n");
  const TProcessResult traced = Ctl({"--trace", "set", "brightness", "5"});
  EXPECT_EQ(traced.exitCode, kExitOk) << traced.err;
  EXPECT_THAT(traced.out, IsEmpty());
  std::istringstream lines(traced.err);
  std::vector<std::string> sent;
  for (std::string line; std::getline(lines, line);) {
    EXPECT_THAT(line, MatchesRegex("[<>]( [0-9A-F]{2})+"));
    if (line.starts_with("> ")) sent.push_back(line);
  }
  ASSERT_EQ(sent.size(), 2u) << traced.err;  // identification, then the brightness
  EXPECT_THAT(sent[1], MatchesRegex("> 2A 61 00 06 31 [0-9A-F]{2} 93 05 [0-9A-F]{2} 0D"));
}

TEST_F(CtlSerialTest, APortNumberReachesTheLineThroughTheEnvironment) {
  StartSimulator({"--temperature", "21"});
  const std::string byNumber =
      "provider=SERIAL_PORT;comport=" + std::to_string(kMappedPort) + ";baudrate=115200";
  const TEnvironment mapped{"ZORVID_COM" + std::to_string(kMappedPort) + "=" + linePath};
  const TProcessResult ident = RunCtl({"ident"}, byNumber, mapped);
  EXPECT_EQ(ident.exitCode, kExitOk) << ident.err;
  EXPECT_EQ(ident.out, "ZorvidL;v1.0;rtc\n");
  const TProcessResult set = RunCtl({"set", "brightness", "42"}, byNumber, mapped);
  EXPECT_EQ(set.exitCode, kExitOk) << set.err;
  const TProcessResult get = RunCtl({"get", "brightness"}, byNumber, mapped);
  EXPECT_EQ(get.out, "42\n");

  // Without the mapping the number has no device.
  const TProcessResult unmapped = RunCtl({"ident"}, byNumber, {});
  EXPECT_EQ(unmapped.exitCode, kExitConnection);
  EXPECT_EQ(unmapped.err, "zorvidctl: connection failed: cannot open \"" + byNumber +
                              "\": Invalid port number (COM" + std::to_string(kMappedPort) + ")\n");
}

TEST_F(CtlSerialTest, FailuresGiveTheirExitCodesAndLeaveTheLineUsable) {
  StartSimulator({"--ack", "0x93=4", "--silent", "0x83", "--temperature", "23.5"});
  ExpectFails({"set", "brightness", "5"}, kExitFailed,
              "zorvidctl: set brightness 5: acknowledge 4\n");
  ExpectFails({"-t", "200", "get", "brightness"}, kExitFailed,
              "zorvidctl: get brightness: no answer\n");
  ExpectPrints({"-t", "200", "get", "temperature"}, "23.5\n");
  ExpectFails({"-a", "0x32", "-t", "200", "ident"}, kExitConnection,
              "zorvidctl: connection failed: no identification from address 50 (0x32): no "
              "answer\n");
  const TProcessResult usage = Ctl({"set", "brightness", "128"});
  EXPECT_EQ(usage.exitCode, kExitUsage);
  EXPECT_THAT(usage.err, StartsWith("zorvidctl: brightness out of range (0..127): 128\n"));

  const std::string missing = "provider=SERIAL_PORT;device=/dev/zorvid-no-such-line";
  const TProcessResult absent = RunCtl({"ident"}, missing);
  EXPECT_EQ(absent.exitCode, kExitConnection);
  EXPECT_EQ(absent.err, "zorvidctl: connection failed: cannot open \"" + missing +
                            "\": cannot open /dev/zorvid-no-such-line: No such file or directory "
                            "(errno 2)\n");
}

TEST_F(CtlSerialTest, AnUnsolicitedStreamDoesNotDisturbTheAnswers) {
  StartSimulator({"--unsolicited", "20", "--delay", "30", "--temperature", "23.5"});
  ExpectPrints({"set", "brightness", "77"}, "");
  ExpectPrints({"get", "brightness"}, "77\n");
  ExpectPrints({"get", "temperature"}, "23.5\n");
  const TProcessResult traced = Ctl({"--trace", "raw", "0x83"});
  EXPECT_EQ(traced.exitCode, kExitOk);
  EXPECT_EQ(traced.out, "ack=00 data=4D\n");
  EXPECT_THAT(traced.err, HasSubstr("2A 61 00 05 31 00 0E"));
}

}  // namespace
}  // namespace zorvid::ctl
