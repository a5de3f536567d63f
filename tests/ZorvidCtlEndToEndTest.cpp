// zorvidctl and zorvid-sim as separate processes talking TCP on 127.0.0.1: the checks every
// line passes (tests/support/CtlLineTest.h), and on this line alone other addresses, usage and
// connection errors, corrupt answers, and a long run of exchanges under faults that must keep
// the line in step.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "core/HexText.h"
#include "device/ZorvidCodec.h"
#include "link/DisplayConnection.h"
#include "tests/support/CtlLineTest.h"
#include "tests/support/SimProcess.h"
#include "tests/support/WaitUntil.h"
#include "tools/ctl/CtlCommands.h"
#include "transport/Transports.h"

namespace zorvid::ctl {
namespace {

using namespace std::chrono_literals;
using test::CtlLineTest;
using test::RunCtl;
using test::TProcessResult;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::Truly;
using zorvid::test::TSimProcess;
using TClock = std::chrono::steady_clock;

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

// The instruction of a request the simulator logged (--log): "< " and the six bytes before it,
// as hex pairs; nothing for any other line.
std::optional<TByte> LoggedRequest(const std::string& logged) {
  if (!logged.starts_with("< ")) return std::nullopt;
  const auto inst = ParseHex(logged.substr(2 + 6 * 3, 2));
  if (!inst || inst->size() != 1) return std::nullopt;
  return static_cast<TByte>((*inst)[0]);
}

// zorvid-sim on a loopback port of its own.
class TTcpLine : public test::TCtlLine {
 public:
  void StartSimulator(const std::vector<std::string>& options) override {
    simulator_.emplace(options);
    ASSERT_NE(simulator_->Port(), 0);
  }
  std::string Connection() const override { return simulator_->Connection(); }
  // The simulator ends, and with it the connection.
  void StopSimulator() { simulator_->Stop(); }
  TSimProcess& Simulator() { return *simulator_; }

 private:
  std::optional<TSimProcess> simulator_;
};

// ---- The tool against the simulator -------------------------------------------------------

INSTANTIATE_TEST_SUITE_P(, CtlLineTest, ::testing::Values(test::LineKind<TTcpLine>("tcp")));

using CtlEndToEndTest = test::TOneLineTest<TTcpLine>;

TEST_F(CtlEndToEndTest, OtherAddressesAndTheBasicVariant) {
  StartSimulator({"--address", "0x32", "--basic", "--temperature", "22"});
  ExpectPrints({"-a", "0x32", "ident"}, "Zorvid;v1.0;\n");
  ExpectPrints({"-a", "50", "get", "temperature"}, "22.0\n");
  ExpectFails({"-t", "200", "ident"}, kExitConnection,
              "zorvidctl: connection failed: no identification from address 49 (0x31): no "
              "answer\n");
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
      {{"-a", "0xFF", "ident"}, "255 (0xFF) is refused by every receiver"},
      {{"-t", "-0", "ident"}, "invalid timeout: \"-0\""},
      {{"set", "brightness-auto", "on", "30", "10", "0"}, "min above max: min=30 max=10"},
      {{"set", "params", "zone=1", "zone=1"}, "params key \"zone\" given twice"},
  };
  for (const auto& [args, message] : cases) {
    std::vector<std::string> traced{"--trace"};
    traced.insert(traced.end(), args.begin(), args.end());
    ExpectFails(traced, kExitUsage, AllOf(HasSubstr(message), Not(HasSubstr("> "))));
  }
}

TEST_F(CtlEndToEndTest, ConnectionFailuresExitThree) {
  // Nothing listens on a port that was just free.
  const std::string port = std::to_string(FreeLoopbackPort());
  const std::string refused = "provider=TCP_CLIENT;host=127.0.0.1;port=" + port;
  const TProcessResult run = RunCtl({"ident"}, refused);
  EXPECT_EQ(run.exitCode, kExitConnection);
  EXPECT_EQ(run.err, "zorvidctl: connection failed: cannot open \"" + refused +
                         "\": connection to 127.0.0.1:" + port + " refused: Connection refused\n");
  EXPECT_THAT(run.out, IsEmpty());

  const TProcessResult unknown = RunCtl({"--json", "ident"}, "provider=CARRIER_PIGEON");
  EXPECT_EQ(unknown.exitCode, kExitConnection);
  EXPECT_THAT(unknown.out, HasSubstr("{\"command\":\"ident\",\"error\":"));
  EXPECT_THAT(unknown.out, HasSubstr("\"exit\":3,\"ok\":false}"));
  EXPECT_THAT(unknown.err, HasSubstr("provider=CARRIER_PIGEON"));
}

// A pending request ends as soon as the other side closes, and says so; retries or not, a
// closed line answers no other try.
TEST_F(CtlEndToEndTest, ALineClosedDuringACommandEndsItAtOnceWithExitThree) {
  using TArgs = std::vector<std::string>;
  // The simulator's options, the command, the instruction left unanswered, the failure.
  const std::vector<std::tuple<TArgs, TArgs, TByte, std::string>> cases{
      {{"--delay", "60000"},
       {"ident"},
       kInstIdentification,
       "connection failed: no identification from address 49 (0x31): no answer: "},
      {{"--delay", "60000"},
       {"--retries", "2", "ident"},
       kInstIdentification,
       "connection failed: no identification from address 49 (0x31): no answer: "},
      {{"--silent", "0x83"},
       {"--retries", "2", "get", "brightness"},
       kZorvidGetDisplayBrightness,
       "get brightness: no answer: "},
  };
  for (const auto& [simulator, args, unanswered, failure] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    TArgs logged = simulator;
    logged.push_back("--log");
    StartSimulator(logged);
    auto run = std::async(std::launch::async, [&, &args = args] {
      TArgs timed{"-t", "60000"};
      timed.insert(timed.end(), args.begin(), args.end());
      return RunCtl(timed, line.Connection());
    });
    // The request that is never answered has reached the simulator.
    bool arrived = false;
    while (!arrived) {
      const std::optional<std::string> next = line.Simulator().ReadLine(zorvid::test::kWaitLimit);
      if (!next) break;
      arrived = LoggedRequest(*next) == unanswered;
    }
    EXPECT_TRUE(arrived) << "the simulator logged no request " << static_cast<int>(unanswered);
    const auto closed = TClock::now();
    line.StopSimulator();
    const TProcessResult result = run.get();
    // A run that missed the close would wait for its minute (or be killed at its limit).
    EXPECT_LT(TClock::now() - closed, zorvid::test::kWaitLimit);
    EXPECT_EQ(result.exitCode, kExitConnection);
    EXPECT_THAT(result.err, HasSubstr("zorvidctl: " + failure +
                                      "the line was closed: connection to 127.0.0.1:"));
    EXPECT_THAT(result.err, HasSubstr(" closed by the other side\n"));
  }
}

// Under --drop 0.5, seed 5 loses the first and third answer and keeps the second and fourth:
// the run that ends at the first loss without retries gets past both with one.
TEST_F(CtlEndToEndTest, RetriesGetPastAnswersTheDisplayLost) {
  const std::vector<std::string> lossy{"--drop", "0.5", "--seed", "5", "--temperature", "23.5"};
  StartSimulator(lossy);
  // The answers that are kept must come within the time-out; each lost one costs all of it.
  ExpectFails({"-t", "1000", "get", "temperature"}, kExitConnection,
              "zorvidctl: connection failed: no identification from address 49 (0x31): no "
              "answer\n");

  StartSimulator(lossy);
  const TProcessResult run = Ctl({"--trace", "--retries", "1", "-t", "1000", "get", "temperature"});
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(run.out, "23.5\n");
  // The instruction of every packet sent: the seventh byte, after "> " and six pairs.
  std::vector<std::string> sent;
  std::istringstream lines(run.err);
  for (std::string traced; std::getline(lines, traced);)
    if (traced.starts_with("> ")) sent.push_back(traced.substr(2 + 6 * 3, 2));
  EXPECT_EQ(sent, (std::vector<std::string>{"F3", "F3", "51", "51"}));
}

// The transport goes on without them, and the user learns of them.
TEST_F(CtlEndToEndTest, UnknownAndRepeatedConnectionKeysAreWarnedAbout) {
  StartSimulator({"--temperature", "21"});
  const std::string connection = line.Connection() + ";prot=5555;host=10.0.0.1";
  const TProcessResult run = RunCtl({"get", "temperature"}, connection);
  EXPECT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_EQ(run.out, "21.0\n");
  EXPECT_EQ(run.err,
            "zorvidctl: warning: connection string: unknown key \"prot\" ignored (TCP_CLIENT "
            "reads host, port, active)\n"
            "zorvidctl: warning: connection string: key \"host\" given again: the first value "
            "\"127.0.0.1\" counts\n");
}

// The answer came, but broken: the failure says so instead of a plain "no answer", and a
// repeat goes out as soon as the damage is seen, not after the rest of the time-out (a minute
// here, far beyond the test's own limit).
TEST_F(CtlEndToEndTest, CorruptAnswersLeaveTheIdentificationUnansweredAndSaySo) {
  StartSimulator({"--corrupt", "1"});
  ExpectFails({"-t", "60000", "--retries", "2", "ident"}, kExitConnection,
              "zorvidctl: connection failed: no identification from address 49 (0x31) in 3 "
              "tries: damaged answer: an answer with SIG 3 came with a wrong checksum\n");
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
      TBrightnessAuto automatic;
      done = device.GetDisplayBrightnessAuto(automatic);
      right = automatic == TBrightnessAuto{true, 8, 30, 15};
      break;
    }
  }
  if (done) return right ? TOutcome::kAnswered : TOutcome::kOutOfStep;
  switch (device.GetLastResult()) {
    case kResultNoAnswer:
      return TOutcome::kNoAnswer;
    case kResultInvalid:
    case kResultDamaged:
      return TOutcome::kInvalidAnswer;
    default:
      return TOutcome::kOutOfStep;
  }
}

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
  // An answer takes a millisecond, under the thread sanitizer a few; each lost one costs the
  // whole time-out, and a simulator held up for five of them in a row fails the run.
  connection.Device().SetTimeout(300);
  ASSERT_TRUE(
      Eventually([&] { return connection.Connect(line.Connection(), kZorvidDefaultAddress); }));
  TZorvid& device = connection.Device();
  ASSERT_TRUE(Eventually([&] { return device.SetDisplayBrightness(77); }));
  ASSERT_TRUE(Eventually([&] { return device.SetDisplayBrightnessAuto({true, 8, 30, 15}); }));
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

// ---- The settings file -------------------------------------------------------------------

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

class CtlSettingsFileTest : public CtlEndToEndTest {
 protected:
  std::string File(const std::string& name) const {
    return directory_.filePath(name.c_str()).toStdString();
  }

  // The instructions the simulator (started with --log) received up to the next request for
  // the temperature, which a run of "get temperature" sends as the end mark.
  std::vector<TByte> ReceivedUntilMark() {
    EXPECT_EQ(Ctl({"get", "temperature"}).exitCode, kExitOk);
    std::vector<TByte> received;
    while (const std::optional<std::string> logged =
               line.Simulator().ReadLine(zorvid::test::kWaitLimit)) {
      const std::optional<TByte> inst = LoggedRequest(*logged);
      if (!inst) continue;
      if (*inst == kZorvidGetTemperature) return received;
      received.push_back(*inst);
    }
    ADD_FAILURE() << "the simulator logged no end mark";
    return received;
  }

  static bool IsWrite(TByte inst) {
    return inst == kZorvidSetDateTimeParams || inst == kZorvidSetDisplayDataExpiration ||
           inst == kZorvidSetDisplayBrightness || inst == kZorvidSetDisplayBrightnessAuto;
  }

  QTemporaryDir directory_;
};

TEST_F(CtlSettingsFileTest, BackupDiffRestoreAndDiffAgain) {
  StartSimulator({});
  const std::string file = File("display.json");
  ExpectPrints({"backup", file}, IsEmpty());
  ExpectPrints({"set", "brightness", "40"}, IsEmpty());
  ExpectPrints({"set", "params", "offset=60"}, IsEmpty());

  const TProcessResult diff = Ctl({"diff", file});
  EXPECT_EQ(diff.exitCode, 1) << diff.err;
  EXPECT_EQ(diff.out, "params.offset file=0 display=60\nbrightness file=64 display=40\n");

  ExpectPrints({"restore", file}, "params.offset from=60 to=0\nbrightness from=40 to=64\n");
  ExpectPrints({"diff", file}, IsEmpty());
  ExpectPrints({"--json", "get", "all"},
               AllOf(HasSubstr("\"brightness\":64,"), HasSubstr("\"params.offset\":0,")));
}

TEST_F(CtlSettingsFileTest, ADryRunSendsNoWriteAndABadFileNothingAtAll) {
  StartSimulator({"--log"});
  const std::string file = File("display.json");
  ExpectPrints({"backup", file}, IsEmpty());
  ExpectPrints({"set", "brightness", "40"}, IsEmpty());
  ReceivedUntilMark();

  ExpectPrints({"restore", "--dry-run", file},
               "brightness from=40 to=64\ndry-run nothing was written\n");
  const std::vector<TByte> dryRun = ReceivedUntilMark();
  EXPECT_THAT(dryRun, Contains(kZorvidGetDisplayBrightness));
  EXPECT_THAT(dryRun, Not(Contains(Truly(IsWrite))));

  const std::string bad = File("bad.json");
  std::string json = ReadText(file);
  json.replace(json.find("\"brightness\": 64"), 16, "\"brightness\": 128");
  WriteText(bad, json);
  ExpectFails({"restore", bad}, kExitUsage,
              HasSubstr(bad + ": key settings.brightness: 128 out of range 0..127"));
  EXPECT_THAT(ReceivedUntilMark(), ElementsAre(kInstIdentification))
      << "the mark's identification, and nothing before it";
}

TEST_F(CtlSettingsFileTest, RestoreOntoABasicDisplaySkipsTheAutomaticBrightness) {
  StartSimulator({});
  const std::string file = File("full.json");
  ExpectPrints({"backup", file}, IsEmpty());
  StartSimulator({"--basic"});
  ExpectPrints({"set", "brightness", "40"}, IsEmpty());
  ExpectPrints({"restore", file},
               "brightness from=40 to=64\n"
               "skipped brightness-auto (the display does not have it)\n");
}

TEST_F(CtlSettingsFileTest, AFailedReadNamesItsStepAndTheDisplaysReason) {
  StartSimulator({"--ack", "0x83=5"});
  ExpectFails({"backup"}, kExitFailed, "zorvidctl: backup: read brightness: acknowledge 5\n");
  // The maximum 0x36 is no value the setter takes.
  StartSimulator({"--answer", "0x85=01063665"});
  ExpectFails({"get", "all"}, kExitFailed,
              "zorvidctl: get all: read brightness-auto: invalid answer: max 54 outside 6..36\n");
}

TEST_F(CtlSettingsFileTest, AValueTheDisplayStoresOtherwiseFailsTheRestoreByName) {
  StartSimulator({"--alter", "brightness=38"});
  const std::string file = File("display.json");
  ExpectPrints({"backup", file}, IsEmpty());
  ExpectPrints({"set", "brightness", "10"}, IsEmpty());
  ExpectFails({"restore", file}, kExitFailed,
              "zorvidctl: restore " + file +
                  ": read back other than written: brightness sent 64, read 38 (written: "
                  "brightness)\n");
}

// A restore that the display refuses half-way names the groups it wrote and those it did not.
TEST_F(CtlSettingsFileTest, ARestoreRefusedHalfWaySaysWhatWasWritten) {
  StartSimulator({"--ack", "0x93=5"});  // the static brightness refused
  const std::string file = File("display.json");
  ExpectPrints({"backup", file}, IsEmpty());
  std::string json = ReadText(file);
  json.replace(json.find("\"brightness\": 64"), 16, "\"brightness\": 11");
  WriteText(file, json);
  ExpectPrints({"set", "params", "offset=60"}, IsEmpty());
  ExpectFails({"restore", file}, kExitFailed,
              "zorvidctl: restore " + file +
                  ": write brightness: acknowledge 5 (written: params; not written: brightness)\n");
  ExpectPrints({"get", "params"}, HasSubstr("offset=0\n"));
}

}  // namespace
}  // namespace zorvid::ctl
