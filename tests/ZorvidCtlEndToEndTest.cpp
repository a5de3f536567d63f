// zorvidctl and zorvid-sim as separate processes talking TCP on 127.0.0.1: every command with
// its output and exit code, the JSON form, the trace, usage and connection errors, injected
// faults, and a long run of exchanges under faults that must keep the line in step.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <cmath>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tools/ctl/CtlCommands.h"
#include "tools/ctl/CtlConnection.h"
#include "tools/ctl/CtlText.h"
#include "transport/Transports.h"

namespace zorvid::ctl {
namespace {

using namespace std::chrono_literals;
using test::RunProcess;
using test::TChildProcess;
using test::TProcessResult;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::Not;
using TClock = std::chrono::steady_clock;

constexpr auto kStartLimit = 2s;  // until the simulator accepts connections
constexpr auto kPollStep = 10ms;

// ---- Processes ---------------------------------------------------------------------------

// A port on 127.0.0.1 that was free a moment ago.
std::uint16_t FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  std::uint16_t port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  close(fd);
  return port;
}

bool AcceptsConnections(std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  const bool accepted = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return accepted;
}

// One zorvid-sim on a loopback port of its own; stopped when the object goes.
class TSimulatorProcess {
 public:
  // True when it accepts connections in time. A port taken meanwhile by someone else makes
  // the simulator exit; then another port is tried.
  bool Start(const std::vector<std::string>& options) {
    for (int attempt = 0; attempt < 3; ++attempt) {
      port_ = FreeLoopbackPort();
      std::vector<std::string> args{ZORVID_SIM_PATH, "--tcp", "127.0.0.1:" + std::to_string(port_)};
      args.insert(args.end(), options.begin(), options.end());
      if (process_.Start(args) && WaitUntilAccepting()) return true;
      Stop();
    }
    return false;
  }

  void Stop() { process_.Stop(); }

  std::string Connection() const {
    return "provider=TCP_CLIENT;host=127.0.0.1;port=" + std::to_string(port_);
  }

 private:
  bool WaitUntilAccepting() {
    const auto deadline = TClock::now() + kStartLimit;
    while (TClock::now() < deadline) {
      if (AcceptsConnections(port_)) return true;
      if (process_.ExitedWithin(kPollStep)) return false;
    }
    return false;
  }

  TChildProcess process_;
  std::uint16_t port_ = 0;
};

// ---- The tool against the simulator -------------------------------------------------------

class CtlEndToEndTest : public ::testing::Test {
 protected:
  void StartSimulator(const std::vector<std::string>& options) {
    ASSERT_TRUE(simulator.Start(options)) << "zorvid-sim did not start";
  }
  void TearDown() override { simulator.Stop(); }

  // zorvidctl with the simulator's connection string in front of `args`.
  TProcessResult Ctl(const std::vector<std::string>& args) {
    std::vector<std::string> command{ZORVIDCTL_PATH, "-c", simulator.Connection()};
    command.insert(command.end(), args.begin(), args.end());
    return RunProcess(command);
  }
  // A run that must succeed, print exactly `out` and nothing on stderr.
  void ExpectPrints(const std::vector<std::string>& args, const std::string& out) {
    SCOPED_TRACE(JoinWords(args));
    const TProcessResult run = Ctl(args);
    EXPECT_EQ(run.exitCode, kExitOk) << run.err;
    EXPECT_EQ(run.out, out);
    EXPECT_THAT(run.err, IsEmpty());
  }
  // A run that must fail with `exitCode` and exactly `err`, printing nothing on stdout.
  void ExpectFails(const std::vector<std::string>& args, int exitCode, const std::string& err) {
    SCOPED_TRACE(JoinWords(args));
    const TProcessResult run = Ctl(args);
    EXPECT_EQ(run.exitCode, exitCode);
    EXPECT_EQ(run.err, err);
    EXPECT_THAT(run.out, IsEmpty());
  }
  // The display's clock as the tool reads it.
  std::optional<TDateTime> ReadClock() {
    const TProcessResult run = Ctl({"get", "clock"});
    if (run.exitCode != kExitOk || run.out.empty()) return std::nullopt;
    return ParseClock(std::string_view(run.out).substr(0, run.out.size() - 1));
  }

  TSimulatorProcess simulator;
};

double SecondsBetween(TDateTime from, TDateTime to) {
  return (to - from) * 24 * 60 * 60;
}

TEST_F(CtlEndToEndTest, EveryReadOfAFreshDisplayPrintsItsForm) {
  StartSimulator({"--temperature", "23.5"});
  const std::vector<std::pair<std::vector<std::string>, std::string>> forms{
      {{"ident"}, "ZorvidL;v1\\.0;rtc\n"},
      {{"get", "text"}, ".{5}\n"},
      {{"get", "data"}, "([0-9A-F]{2} ){4}[0-9A-F]{2}\n"},
      {{"get", "expiration"}, "seconds=[0-9]+ second=[0-9]+\n"},
      {{"get", "brightness"}, "[0-9]+\n"},
      {{"get", "brightness-auto"}, "auto=(on|off) min=[0-9]+ max=[0-9]+ gain=[0-9]+\n"},
      {{"get", "clock"}, "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\n"},
      {{"get", "params"},
       "auto-update=[01]\nsummer-time=[01]\nafter-turn-on=[01]\nafter-expiration=[01]\n"
       "12h=[01]\nmdy=[01]\nshow-time=[01]\nshow-date=[01]\nshow-temp=[01]\noffset=-?[0-9]+\n"
       "zone=[0-9]+\n"},
      {{"get", "temperature"}, "23\\.5\n"},
  };
  for (const auto& [args, form] : forms) {
    SCOPED_TRACE(JoinWords(args));
    const TProcessResult run = Ctl(args);
    EXPECT_EQ(run.exitCode, kExitOk) << run.err;
    EXPECT_THAT(run.out, MatchesRegex(form));
    EXPECT_THAT(run.err, IsEmpty());
  }
}

TEST_F(CtlEndToEndTest, TextAndSegmentsReadBackWhatWasWritten) {
  StartSimulator({});
  ExpectPrints({"set", "text", "12:"}, "");
  ExpectPrints({"get", "text"}, "  12:\n");
  // The digits 1 and 2 on the last two positions, the colon's indicator LEDs on the first.
  const TProcessResult segments = Ctl({"get", "data"});
  EXPECT_THAT(segments.out, MatchesRegex("[0-9A-F]{2} 00 00 06 5B\n"));
  EXPECT_THAT(segments.out, Not(::testing::StartsWith("00")));

  ExpectPrints({"set", "text", "-1.5"}, "");
  ExpectPrints({"get", "text"}, " -1.5\n");
  ExpectPrints({"set", "data", "03", "3F", "06", "5B", "4F"}, "");
  ExpectPrints({"get", "data"}, "03 3F 06 5B 4F\n");
  ExpectPrints({"set", "data", "7f7F7f7F7f"}, "");
  ExpectPrints({"raw", "0x81"}, "ack=00 data=7F7F7F7F7F\n");
}

TEST_F(CtlEndToEndTest, SettingsReadBackWhatWasWritten) {
  StartSimulator({});
  ExpectPrints({"set", "expiration", "300"}, "");
  const TProcessResult expiration = Ctl({"get", "expiration"});
  EXPECT_THAT(expiration.out, MatchesRegex("seconds=300 second=[0-9]+\n"));
  ExpectPrints({"set", "brightness", "77"}, "");
  ExpectPrints({"get", "brightness"}, "77\n");
  ExpectPrints({"raw", "0x83"}, "ack=00 data=4D\n");
  ExpectPrints({"set", "brightness-auto", "on", "8", "30", "15"}, "");
  ExpectPrints({"get", "brightness-auto"}, "auto=on min=8 max=30 gain=15\n");
}

TEST_F(CtlEndToEndTest, SetParamsChangesOnlyTheGivenKeys) {
  StartSimulator({});
  ExpectPrints(
      {"set", "params", "auto-update=0", "summer-time=1", "after-turn-on=0", "after-expiration=1",
       "12h=0", "mdy=0", "show-time=0", "show-date=1", "show-temp=0", "offset=-60", "zone=3"},
      "");
  ExpectPrints({"get", "params"},
               "auto-update=0\nsummer-time=1\nafter-turn-on=0\nafter-expiration=1\n12h=0\n"
               "mdy=0\nshow-time=0\nshow-date=1\nshow-temp=0\noffset=-60\nzone=3\n");
  ExpectPrints({"set", "params", "mdy=1", "offset=780", "summer-time=0"}, "");
  ExpectPrints({"get", "params"},
               "auto-update=0\nsummer-time=0\nafter-turn-on=0\nafter-expiration=1\n12h=0\n"
               "mdy=1\nshow-time=0\nshow-date=1\nshow-temp=0\noffset=780\nzone=3\n");
}

TEST_F(CtlEndToEndTest, TheClockRunsFromWhatWasSet) {
  StartSimulator({});
  ExpectPrints({"set", "clock", "2026-03-07 14:05:09"}, "");
  const auto set = ParseClock("2026-03-07 14:05:09");
  const auto read = ReadClock();
  ASSERT_TRUE(read);
  EXPECT_GE(SecondsBetween(*set, *read), -0.5);
  EXPECT_LE(SecondsBetween(*set, *read), 3.0);

  ExpectPrints({"set", "clock", "now"}, "");
  const auto now = ReadClock();
  ASSERT_TRUE(now);
  EXPECT_LE(std::abs(SecondsBetween(Now(), *now)), 3.0);
}

TEST_F(CtlEndToEndTest, IdentTemperatureShowInfoAndRawAnswers) {
  StartSimulator({"--temperature", "23.5"});
  ExpectPrints({"ident"}, "ZorvidL;v1.0;rtc\n");
  ExpectPrints({"get", "temperature"}, "23.5\n");
  ExpectPrints({"show-info"}, "");
  ExpectPrints({"raw", "0x99"}, "ack=02 data=\n");
  const TProcessResult temperature = Ctl({"raw", "0x51", "01"});
  EXPECT_EQ(temperature.exitCode, kExitOk);
  EXPECT_THAT(temperature.out, MatchesRegex("ack=00 data=[0-9A-F]{2}00EB\n"));
}

TEST_F(CtlEndToEndTest, OtherAddressesAndTheBasicVariant) {
  StartSimulator({"--address", "0x32", "--basic", "--temperature", "22"});
  ExpectPrints({"-a", "0x32", "ident"}, "Zorvid;v1.0;\n");
  ExpectPrints({"-a", "50", "get", "temperature"}, "22.0\n");
  ExpectFails({"-t", "200", "ident"}, kExitConnection,
              "zorvidctl: connection failed: no identification from address 49 (0x31): no "
              "answer\n");
}

TEST_F(CtlEndToEndTest, JsonIsOneObjectPerRun) {
  StartSimulator({"--temperature", "23.5"});
  ExpectPrints({"--json", "ident"},
               "{\"ok\":true,\"command\":\"ident\",\"ident\":\"ZorvidL;v1.0;rtc\"}\n");
  ExpectPrints({"--json", "get", "temperature"},
               "{\"ok\":true,\"command\":\"get temperature\",\"temperature\":23.5}\n");
  ExpectPrints({"--json", "set", "brightness-auto", "off", "6", "36", "0"},
               "{\"ok\":true,\"command\":\"set brightness-auto\"}\n");
  ExpectPrints({"--json", "get", "brightness-auto"},
               "{\"ok\":true,\"command\":\"get brightness-auto\",\"auto\":false,\"min\":6,"
               "\"max\":36,\"gain\":0}\n");
  ExpectPrints({"--json", "raw", "0x99"},
               "{\"ok\":true,\"command\":\"raw\",\"ack\":2,\"data\":\"\"}\n");
  const TProcessResult refused = Ctl({"--json", "set", "brightness", "128"});
  EXPECT_EQ(refused.exitCode, kExitUsage);
  EXPECT_EQ(refused.out,
            "{\"ok\":false,\"command\":\"set brightness\",\"exit\":2,\"error\":\"brightness out "
            "of range (0..127): 128\"}\n");
}

TEST_F(CtlEndToEndTest, TraceShowsEveryPacketInHex) {
  StartSimulator({});
  const TProcessResult run = Ctl({"--trace", "set", "text", "12:"});
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_THAT(run.out, IsEmpty());
  std::istringstream lines(run.err);
  std::vector<std::string> sent, received;
  for (std::string line; std::getline(lines, line);) {
    EXPECT_THAT(line, MatchesRegex("[<>]( [0-9A-F]{2})+"));
    (line.starts_with("> ") ? sent : received).push_back(line);
  }
  // Identification and the text, each with its answer.
  ASSERT_EQ(sent.size(), 2u) << run.err;
  EXPECT_THAT(sent[0], MatchesRegex("> 2A 61 00 05 31 [0-9A-F]{2} F3 [0-9A-F]{2} 0D"));
  EXPECT_THAT(sent[1],
              MatchesRegex("> 2A 61 00 0A 31 [0-9A-F]{2} 90 20 20 31 32 3A [0-9A-F]{2} 0D"));
  ASSERT_GE(received.size(), 2u) << run.err;
  EXPECT_THAT(received.back(), MatchesRegex("< 2A 61 00 05 31 [0-9A-F]{2} 00 [0-9A-F]{2} 0D"));
}

TEST_F(CtlEndToEndTest, BadUsageAndOutOfRangeExitTwoWithoutSending) {
  StartSimulator({});
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{"set", "brightness", "128"}, "brightness out of range (0..127): 128"},
      {{"set", "params", "offset=781"}, "offset out of range (-660..780): 781"},
      {{"set", "params", "zone=65536"}, "zone out of range (0..65535): 65536"},
      {{"set", "brightness-auto", "on", "5", "36", "0"}, "min=5 max=36 gain=0"},
      {{"set", "text", "1..2"}, "invalid display text: \"1..2\""},
      {{"set", "data", "03", "3F"}, "display data needs exactly 5 bytes, got 2"},
      {{"get", "colour"}, "unknown item for get: \"colour\""},
      {{"-x", "ident"}, "unknown option: \"-x\""},
      {{}, "no command given"},
      {{"ident", "--json"}, "usage: zorvidctl ident"},
  };
  for (const auto& [args, message] : cases) {
    std::vector<std::string> traced{"--trace"};
    traced.insert(traced.end(), args.begin(), args.end());
    SCOPED_TRACE(JoinWords(traced));
    const TProcessResult run = Ctl(traced);
    EXPECT_EQ(run.exitCode, kExitUsage);
    EXPECT_THAT(run.out, IsEmpty());
    EXPECT_THAT(run.err, HasSubstr(message));
    EXPECT_THAT(run.err, Not(HasSubstr("> ")));
  }
}

TEST_F(CtlEndToEndTest, ConnectionFailuresExitThree) {
  // Nothing listens on a port that was just free.
  const std::string port = std::to_string(FreeLoopbackPort());
  const std::string refused = "provider=TCP_CLIENT;host=127.0.0.1;port=" + port;
  const TProcessResult run = RunProcess({ZORVIDCTL_PATH, "-c", refused, "ident"});
  EXPECT_EQ(run.exitCode, kExitConnection);
  EXPECT_EQ(run.err, "zorvidctl: connection failed: cannot open \"" + refused +
                         "\": connection to 127.0.0.1:" + port + " refused: Connection refused\n");
  EXPECT_THAT(run.out, IsEmpty());

  const TProcessResult unknown =
      RunProcess({ZORVIDCTL_PATH, "-c", "provider=CARRIER_PIGEON", "--json", "ident"});
  EXPECT_EQ(unknown.exitCode, kExitConnection);
  EXPECT_THAT(unknown.out, HasSubstr("\"ok\":false,\"command\":\"ident\",\"exit\":3"));
  EXPECT_THAT(unknown.err, HasSubstr("provider=CARRIER_PIGEON"));
}

TEST_F(CtlEndToEndTest, AnErrorAcknowledgeExitsOne) {
  StartSimulator({"--ack", "0x93=4"});
  ExpectFails({"set", "brightness", "5"}, kExitFailed,
              "zorvidctl: set brightness 5: acknowledge 4\n");
  // raw reports whatever came back.
  ExpectPrints({"raw", "0x93", "05"}, "ack=04 data=\n");
  ExpectPrints({"set", "brightness-auto", "off", "6", "36", "0"}, "");
}

TEST_F(CtlEndToEndTest, SilenceExitsOneWithNoAnswerAndTheNextCommandWorks) {
  StartSimulator({"--silent", "0x83", "--temperature", "23.5"});
  ExpectFails({"-t", "200", "get", "brightness"}, kExitFailed,
              "zorvidctl: get brightness: no answer\n");
  ExpectFails({"-t", "200", "raw", "0x83"}, kExitFailed, "zorvidctl: raw 0x83: no answer\n");
  ExpectPrints({"-t", "200", "get", "temperature"}, "23.5\n");
}

TEST_F(CtlEndToEndTest, CorruptAnswersLeaveTheIdentificationUnanswered) {
  StartSimulator({"--corrupt", "1"});
  ExpectFails({"-t", "200", "ident"}, kExitConnection,
              "zorvidctl: connection failed: no identification from address 49 (0x31): no "
              "answer\n");
}

TEST_F(CtlEndToEndTest, UnsolicitedPacketsInTheStreamDoNotDisturb) {
  StartSimulator({"--unsolicited", "20", "--delay", "30", "--temperature", "23.5"});
  ExpectPrints({"set", "brightness", "77"}, "");
  ExpectPrints({"get", "brightness"}, "77\n");
  ExpectPrints({"get", "temperature"}, "23.5\n");
  const TProcessResult traced = Ctl({"--trace", "raw", "0x83"});
  EXPECT_EQ(traced.exitCode, kExitOk);
  EXPECT_EQ(traced.out, "ack=00 data=4D\n");
  // Acknowledge 0x0E from address 49 with SIG 0 arrived among the answers.
  EXPECT_THAT(traced.err, HasSubstr("2A 61 00 05 31 00 0E"));
}

// ---- Many exchanges on one line under faults ---------------------------------------------

enum class TOutcome { kAnswered, kNoAnswer, kInvalidAnswer, kOutOfStep };

// One request whose answer must be the right one: a reading that came back with a valid
// answer but the wrong value, length or acknowledge means the line lost its step.
TOutcome Exchange(TZorvid& device, int round) {
  bool right = false;
  bool done = false;
  switch (round % 4) {
    case 0: {
      double degrees = 0;
      done = device.GetTemperature(degrees);
      right = degrees == 23.5;
      break;
    }
    case 1: {
      std::int32_t value = 0;
      done = device.GetDisplayBrightness(value);
      right = value == 77;
      break;
    }
    case 2: {
      TByteString data;
      done = device.GetDisplayData(data);
      right = data == TByteString("\x03\x3F\x06\x5B\x4F", 5);
      break;
    }
    default: {
      bool automatic = false;
      std::int32_t min = 0, max = 0, gain = 0;
      done = device.GetDisplayBrightnessAuto(automatic, min, max, gain);
      right = automatic && min == 8 && max == 30 && gain == 15;
      break;
    }
  }
  if (done) return right ? TOutcome::kAnswered : TOutcome::kOutOfStep;
  switch (device.GetLastResult()) {
    case kResultNoAnswer:
      return TOutcome::kNoAnswer;
    case kResultInvalid:
      return TOutcome::kInvalidAnswer;
    default:
      return TOutcome::kOutOfStep;
  }
}

// The program's transports, known to the factory while it lives.
struct TStandardTransports {
  TStandardTransports() { RegisterStandardTransports(); }
  ~TStandardTransports() { UnregisterStandardTransports(); }
  TStandardTransports(const TStandardTransports&) = delete;
  TStandardTransports& operator=(const TStandardTransports&) = delete;
};

// Repeats `operation` until it succeeds; the faults lose some answers.
bool Eventually(const std::function<bool()>& operation) {
  for (int attempt = 0; attempt < 10; ++attempt)
    if (operation()) return true;
  return false;
}

TEST_F(CtlEndToEndTest, ThreeHundredExchangesUnderFaultsKeepTheLineInStep) {
  StartSimulator({"--drop", "0.05", "--corrupt", "0.05", "--unsolicited", "20", "--seed", "1",
                  "--temperature", "23.5"});
  int argc = 1;
  char name[] = "ctl_end_to_end_test";
  char* argv[] = {name, nullptr};
  // The TCP transport's notifications travel through the application's event loop.
  QCoreApplication application(argc, argv);
  const TStandardTransports transports;
  TDisplayConnection connection;
  ASSERT_TRUE(Eventually(
      [&] { return !connection.Connect(simulator.Connection(), kDefaultAddress, 150); }));
  TZorvid& device = connection.Device();
  ASSERT_TRUE(Eventually([&] { return device.SetDisplayBrightness(77); }));
  ASSERT_TRUE(Eventually([&] { return device.SetDisplayBrightnessAuto(true, 8, 30, 15); }));
  ASSERT_TRUE(Eventually([&] { return device.SetDisplayData("\x03\x3F\x06\x5B\x4F"); }));

  int counts[4] = {};
  int failureRun = 0, longestFailureRun = 0;
  for (int round = 0; round < 300; ++round) {
    const TOutcome outcome = Exchange(device, round);
    ++counts[static_cast<int>(outcome)];
    EXPECT_NE(outcome, TOutcome::kOutOfStep) << "exchange " << round;
    failureRun = outcome == TOutcome::kAnswered ? 0 : failureRun + 1;
    longestFailureRun = std::max(longestFailureRun, failureRun);
  }
  const int answered = counts[0], noAnswer = counts[1], invalid = counts[2];
  std::cout << "300 exchanges: " << answered << " answered, " << noAnswer << " no answer, "
            << invalid << " invalid answer, " << counts[3]
            << " out of step; longest run of failures " << longestFailureRun << std::endl;
  RecordProperty("answered", answered);
  RecordProperty("no_answer", noAnswer);
  RecordProperty("invalid_answer", invalid);
  RecordProperty("longest_failure_run", longestFailureRun);
  // About one exchange in ten loses its answer; no failure leaves the line stuck.
  EXPECT_GT(noAnswer + invalid, 0);
  EXPECT_GE(answered, 240);
  EXPECT_LE(longestFailureRun, 4);
}

}  // namespace
}  // namespace zorvid::ctl
