// zorvidctl and zorvid-sim as separate processes, the tool reaching the simulator's
// pseudo-terminal through the USB transport: the tool's environment puts the stand-in bridge
// library on its library path and connects bridge ZSIM1 to the simulator's line. Every command
// gives its result over that bridge; a bridge that is not there, or no library, is a connection
// failure.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tools/ctl/CtlCommands.h"
#include "tools/ctl/CtlText.h"

namespace zorvid::ctl {
namespace {

using namespace std::chrono_literals;
using test::RunProcess;
using test::TChildProcess;
using test::TEnvironment;
using test::TProcessResult;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;

constexpr auto kStartLimit = 2s;  // until the simulator names its pseudo-terminal
const std::string kConnection = "provider=FTD_USB;serial_number=ZSIM1;baudrate=115200";

class CtlUsbTest : public ::testing::Test {
 protected:
  void StartSimulator(const std::vector<std::string>& options) {
    std::vector<std::string> args{ZORVID_SIM_PATH, "--pty"};
    args.insert(args.end(), options.begin(), options.end());
    ASSERT_TRUE(simulator.Start(args, TChildProcess::TOutput::kRead));
    const std::optional<std::string> announced = simulator.ReadLine(kStartLimit);
    ASSERT_TRUE(announced && announced->starts_with("PTY ")) << "no pseudo-terminal named";
    linePath = announced->substr(4);
  }
  void TearDown() override { simulator.Stop(); }

  TEnvironment BridgeEnvironment() const {
    return {std::string("LD_LIBRARY_PATH=") + FAKE_FTD2XX_DIR, "ZORVID_FTDI_ZSIM1=pty:" + linePath};
  }
  TProcessResult Ctl(const std::vector<std::string>& args, const std::string& connection,
                     const TEnvironment& environment) {
    std::vector<std::string> command{ZORVIDCTL_PATH, "-c", connection};
    command.insert(command.end(), args.begin(), args.end());
    return RunProcess(command, environment);
  }
  TProcessResult Ctl(const std::vector<std::string>& args) {
    return Ctl(args, kConnection, BridgeEnvironment());
  }

  // A run that must succeed and print what `form` describes, nothing on stderr.
  void ExpectPrintsForm(const std::vector<std::string>& args, const std::string& form) {
    SCOPED_TRACE(JoinWords(args));
    const TProcessResult run = Ctl(args);
    EXPECT_EQ(run.exitCode, kExitOk) << run.err;
    EXPECT_THAT(run.out, MatchesRegex(form));
    EXPECT_THAT(run.err, IsEmpty());
  }
  void ExpectPrintsExactly(const std::vector<std::string>& args, const std::string& out) {
    SCOPED_TRACE(JoinWords(args));
    const TProcessResult run = Ctl(args);
    EXPECT_EQ(run.exitCode, kExitOk) << run.err;
    EXPECT_EQ(run.out, out);
    EXPECT_THAT(run.err, IsEmpty());
  }

  TChildProcess simulator;
  std::string linePath;
};

TEST_F(CtlUsbTest, EveryReadPrintsTheDisplaysValues) {
  StartSimulator({"--temperature", "23.5"});
  ExpectPrintsExactly({"ident"}, "ZorvidL;v1.0;rtc\n");
  ExpectPrintsExactly({"get", "temperature"}, "23.5\n");
  ExpectPrintsForm({"get", "text"}, ".{5}\n");
  ExpectPrintsForm({"get", "data"}, "([0-9A-F]{2} ){4}[0-9A-F]{2}\n");
  ExpectPrintsForm({"get", "expiration"}, "seconds=[0-9]+ second=[0-9]+\n");
  ExpectPrintsForm({"get", "brightness"}, "[0-9]+\n");
  ExpectPrintsForm({"get", "brightness-auto"}, "auto=(on|off) min=[0-9]+ max=[0-9]+ gain=[0-9]+\n");
  ExpectPrintsForm({"get", "clock"}, "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\n");
  ExpectPrintsForm({"get", "params"},
                   "auto-update=[01]\nsummer-time=[01]\nafter-turn-on=[01]\nafter-expiration=[01]\n"
                   "12h=[01]\nmdy=[01]\nshow-time=[01]\nshow-date=[01]\nshow-temp=[01]\n"
                   "offset=-?[0-9]+\nzone=[0-9]+\n");
}

TEST_F(CtlUsbTest, EverySettingReadsBackWhatWasWritten) {
  StartSimulator({});
  ExpectPrintsExactly({"set", "text", "12:"}, "");
  ExpectPrintsExactly({"get", "text"}, "  12:\n");
  ExpectPrintsExactly({"set", "data", "03", "3F", "06", "5B", "4F"}, "");
  ExpectPrintsExactly({"get", "data"}, "03 3F 06 5B 4F\n");
  ExpectPrintsExactly({"set", "expiration", "300"}, "");
  ExpectPrintsForm({"get", "expiration"}, "seconds=300 second=[0-9]+\n");
  ExpectPrintsExactly({"set", "brightness", "77"}, "");
  ExpectPrintsExactly({"get", "brightness"}, "77\n");
  ExpectPrintsExactly({"set", "brightness-auto", "on", "8", "30", "15"}, "");
  ExpectPrintsExactly({"get", "brightness-auto"}, "auto=on min=8 max=30 gain=15\n");
  ExpectPrintsExactly({"set", "params", "mdy=1", "offset=780", "zone=3", "show-date=1"}, "");
  ExpectPrintsForm({"get", "params"},
                   "auto-update=[01]\nsummer-time=[01]\nafter-turn-on=[01]\nafter-expiration=[01]\n"
                   "12h=[01]\nmdy=1\nshow-time=[01]\nshow-date=1\nshow-temp=[01]\noffset=780\n"
                   "zone=3\n");
  ExpectPrintsExactly({"set", "clock", "2026-03-07 14:05:09"}, "");
  ExpectPrintsForm({"get", "clock"}, "2026-03-07 14:05:(09|1[0-2])\n");
  ExpectPrintsExactly({"set", "clock", "now"}, "");
  ExpectPrintsExactly({"show-info"}, "");
  ExpectPrintsExactly({"raw", "0x83"}, "ack=00 data=4D\n");
  ExpectPrintsExactly({"raw", "0x99"}, "ack=02 data=\n");
  ExpectPrintsExactly({"--json", "get", "brightness"},
                      "{\"ok\":true,\"command\":\"get brightness\",\"brightness\":77}\n");
}

TEST_F(CtlUsbTest, TheTraceShowsThePacketsOverTheBridge) {
  StartSimulator({});
  const TProcessResult traced = Ctl({"--trace", "set", "brightness", "5"});
  EXPECT_EQ(traced.exitCode, kExitOk) << traced.err;
  std::istringstream lines(traced.err);
  std::vector<std::string> sent;
  for (std::string line; std::getline(lines, line);)
    if (line.starts_with("> ")) sent.push_back(line);
  ASSERT_EQ(sent.size(), 2u) << traced.err;  // identification, then the brightness
  EXPECT_THAT(sent[1], MatchesRegex("> 2A 61 00 06 31 [0-9A-F]{2} 93 05 [0-9A-F]{2} 0D"));
}

TEST_F(CtlUsbTest, AnUnsolicitedStreamDoesNotDisturbTheAnswers) {
  StartSimulator({"--unsolicited", "20", "--delay", "30", "--temperature", "23.5"});
  ExpectPrintsExactly({"set", "brightness", "77"}, "");
  ExpectPrintsExactly({"get", "brightness"}, "77\n");
  ExpectPrintsExactly({"get", "temperature"}, "23.5\n");
}

TEST_F(CtlUsbTest, NoBridgeOrNoLibraryIsAConnectionFailure) {
  StartSimulator({});
  const std::string other = "provider=FTD_USB;serial_number=ZOTHER";
  const TProcessResult absent = Ctl({"ident"}, other, BridgeEnvironment());
  EXPECT_EQ(absent.exitCode, kExitConnection);
  EXPECT_EQ(absent.err, "zorvidctl: connection failed: cannot open \"" + other + "\"\n");

  const TProcessResult noLibrary = Ctl({"ident"}, kConnection, {"LD_LIBRARY_PATH=/nonexistent"});
  EXPECT_EQ(noLibrary.exitCode, kExitConnection);
  EXPECT_THAT(noLibrary.err, HasSubstr("cannot open \"" + kConnection + "\""));
}

}  // namespace
}  // namespace zorvid::ctl
