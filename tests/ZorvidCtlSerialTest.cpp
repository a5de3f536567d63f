// zorvidctl and zorvid-sim as separate processes on a pseudo-terminal that the simulator makes:
// the tool reaches it through the serial transport, by device path and by a port number that
// the tool's environment maps to the device, and every command gives its result over that line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
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
using ::testing::StartsWith;

constexpr auto kStartLimit = 2s;  // until the simulator names its pseudo-terminal
// A port number without a default device, mapped to the simulator's line for one run.
constexpr int kMappedPort = 233;

// One zorvid-sim serving a pseudo-terminal of its own; stopped when the object goes.
class TSerialSimulator {
 public:
  // True when it named its line in time.
  bool Start(const std::vector<std::string>& options) {
    std::vector<std::string> args{ZORVID_SIM_PATH, "--pty"};
    args.insert(args.end(), options.begin(), options.end());
    if (!process_.Start(args, TChildProcess::TOutput::kRead)) return false;
    const std::optional<std::string> announced = process_.ReadLine(kStartLimit);
    constexpr std::string_view kPrefix = "PTY ";
    if (!announced || !announced->starts_with(kPrefix)) return false;
    path_ = announced->substr(kPrefix.size());
    return true;
  }
  void Stop() { process_.Stop(); }
  const std::string& Path() const { return path_; }

 private:
  TChildProcess process_;
  std::string path_;
};

class CtlSerialTest : public ::testing::Test {
 protected:
  void StartSimulator(const std::vector<std::string>& options) {
    ASSERT_TRUE(simulator.Start(options)) << "zorvid-sim did not name its pseudo-terminal";
  }
  void TearDown() override { simulator.Stop(); }

  std::string ByDevice() const { return "provider=SERIAL_PORT;device=" + simulator.Path(); }

  TProcessResult Ctl(const std::vector<std::string>& args, const std::string& connection,
                     const TEnvironment& environment = {}) {
    std::vector<std::string> command{ZORVIDCTL_PATH, "-c", connection};
    command.insert(command.end(), args.begin(), args.end());
    return RunProcess(command, environment);
  }
  TProcessResult Ctl(const std::vector<std::string>& args) { return Ctl(args, ByDevice()); }

  // A run that must succeed and print what `form` describes, nothing on stderr.
  void ExpectPrintsForm(const std::vector<std::string>& args, const std::string& form) {
    SCOPED_TRACE(JoinWords(args));
    const TProcessResult run = Ctl(args);
    EXPECT_EQ(run.exitCode, kExitOk) << run.err;
    EXPECT_THAT(run.out, MatchesRegex(form));
    EXPECT_THAT(run.err, IsEmpty());
  }
  void ExpectPrints(const std::vector<std::string>& args, const std::string& out) {
    SCOPED_TRACE(JoinWords(args));
    const TProcessResult run = Ctl(args);
    EXPECT_EQ(run.exitCode, kExitOk) << run.err;
    EXPECT_EQ(run.out, out);
    EXPECT_THAT(run.err, IsEmpty());
  }
  void ExpectFails(const std::vector<std::string>& args, int exitCode, const std::string& err) {
    SCOPED_TRACE(JoinWords(args));
    const TProcessResult run = Ctl(args);
    EXPECT_EQ(run.exitCode, exitCode);
    EXPECT_EQ(run.err, err);
    EXPECT_THAT(run.out, IsEmpty());
  }

  TSerialSimulator simulator;
};

TEST_F(CtlSerialTest, EveryReadPrintsTheDisplaysValues) {
  StartSimulator({"--temperature", "23.5"});
  ExpectPrints({"ident"}, "ZorvidL;v1.0;rtc\n");
  ExpectPrints({"get", "temperature"}, "23.5\n");
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

TEST_F(CtlSerialTest, EverySettingReadsBackWhatWasWritten) {
  StartSimulator({});
  ExpectPrints({"set", "text", "12:"}, "");
  ExpectPrints({"get", "text"}, "  12:\n");
  ExpectPrints({"set", "data", "03", "3F", "06", "5B", "4F"}, "");
  ExpectPrints({"get", "data"}, "03 3F 06 5B 4F\n");
  ExpectPrints({"set", "expiration", "300"}, "");
  ExpectPrintsForm({"get", "expiration"}, "seconds=300 second=[0-9]+\n");
  ExpectPrints({"set", "brightness", "77"}, "");
  ExpectPrints({"get", "brightness"}, "77\n");
  ExpectPrints({"set", "brightness-auto", "on", "8", "30", "15"}, "");
  ExpectPrints({"get", "brightness-auto"}, "auto=on min=8 max=30 gain=15\n");
  ExpectPrints({"set", "params", "mdy=1", "offset=780", "zone=3", "show-date=1"}, "");
  ExpectPrintsForm({"get", "params"},
                   "auto-update=[01]\nsummer-time=[01]\nafter-turn-on=[01]\nafter-expiration=[01]\n"
                   "12h=[01]\nmdy=1\nshow-time=[01]\nshow-date=1\nshow-temp=[01]\noffset=780\n"
                   "zone=3\n");
  ExpectPrints({"set", "clock", "2026-03-07 14:05:09"}, "");
  ExpectPrintsForm({"get", "clock"}, "2026-03-07 14:05:(09|1[0-2])\n");
  ExpectPrints({"set", "clock", "now"}, "");
  ExpectPrints({"show-info"}, "");
  ExpectPrints({"raw", "0x83"}, "ack=00 data=4D\n");
  ExpectPrints({"raw", "0x99"}, "ack=02 data=\n");
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
  const TEnvironment mapped{"ZORVID_COM" + std::to_string(kMappedPort) + "=" + simulator.Path()};
  const TProcessResult ident = Ctl({"ident"}, byNumber, mapped);
  EXPECT_EQ(ident.exitCode, kExitOk) << ident.err;
  EXPECT_EQ(ident.out, "ZorvidL;v1.0;rtc\n");
  const TProcessResult set = Ctl({"set", "brightness", "42"}, byNumber, mapped);
  EXPECT_EQ(set.exitCode, kExitOk) << set.err;
  const TProcessResult get = Ctl({"get", "brightness"}, byNumber, mapped);
  EXPECT_EQ(get.out, "42\n");

  // Without the mapping the number has no device.
  const TProcessResult unmapped = Ctl({"ident"}, byNumber, {});
  EXPECT_EQ(unmapped.exitCode, kExitConnection);
  EXPECT_EQ(unmapped.err, "zorvidctl: connection failed: cannot open \"" + byNumber + "\"\n");
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
  const TProcessResult absent = Ctl({"ident"}, missing);
  EXPECT_EQ(absent.exitCode, kExitConnection);
  EXPECT_EQ(absent.err, "zorvidctl: connection failed: cannot open \"" + missing + "\"\n");
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
