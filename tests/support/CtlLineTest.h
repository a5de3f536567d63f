#pragma once

// zorvidctl and zorvid-sim as separate processes on one line (TCP, serial, USB). A test file
// says how its line starts the simulator and how the tool reaches it, and runs the checks every
// line must pass, written here once, with
//   INSTANTIATE_TEST_SUITE_P(, CtlLineTest, ::testing::Values(test::LineKind<TLine>("name")));
// Its checks of that line alone use the fixture test::TOneLineTest<TLine>.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/DateTime.h"
#include "tests/support/ChildProcess.h"
#include "tools/ctl/CtlCommands.h"
#include "tools/ctl/CtlText.h"

namespace zorvid::ctl::test {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::StartsWith;
using zorvid::test::RunProcess;
using zorvid::test::TChildProcess;
using zorvid::test::TEnvironment;
using zorvid::test::TProcessResult;

// zorvidctl with `connection` in front of `args`.
inline TProcessResult RunCtl(const std::vector<std::string>& args, const std::string& connection,
                             const TEnvironment& environment = {}) {
  std::vector<std::string> command{ZORVIDCTL_PATH, "-c", connection};
  command.insert(command.end(), args.begin(), args.end());
  return RunProcess(command, environment);
}

// A zorvid-sim of the test's own and the way the tool reaches it; the simulator stops when the
// line goes.
class TCtlLine {
 public:
  virtual ~TCtlLine() = default;
  // Starts zorvid-sim with `options`; a fatal test failure when it does not come up.
  virtual void StartSimulator(const std::vector<std::string>& options) = 0;
  virtual std::string Connection() const = 0;
  // Settings the tool's environment needs on top of the test's.
  virtual TEnvironment Environment() const { return {}; }

  TProcessResult Ctl(const std::vector<std::string>& args) const {
    return RunCtl(args, Connection(), Environment());
  }
};

// A kind of line for CtlLineTest: its name in the test names, and how to make one.
struct TLineKind {
  std::string name;
  std::unique_ptr<TCtlLine> (*make)();
};
inline void PrintTo(const TLineKind& kind, std::ostream* out) {
  *out << kind.name;
}
template <typename TLine>
TLineKind LineKind(std::string name) {
  return {std::move(name), [] { return std::unique_ptr<TCtlLine>(std::make_unique<TLine>()); }};
}

// A zorvid-sim serving a pseudo-terminal of its own; the subclass says how the tool reaches it.
class TPtyLine : public TCtlLine {
 public:
  void StartSimulator(const std::vector<std::string>& options) override {
    std::vector<std::string> args{ZORVID_SIM_PATH, "--pty"};
    args.insert(args.end(), options.begin(), options.end());
    ASSERT_TRUE(simulator_.Start(args, TChildProcess::TOutput::kRead));
    // Within milliseconds normally; the limit is only met by a simulator that does not come up.
    const std::optional<std::string> announced = simulator_.ReadLine(std::chrono::seconds(20));
    ASSERT_TRUE(announced && announced->starts_with("PTY ")) << "no pseudo-terminal named";
    path = announced->substr(4);
  }

  std::string path;  // the simulator's pseudo-terminal, once started

 private:
  TChildProcess simulator_;
};

// Runs of the tool over a line and what they must show.
class TCtlLineTest : public ::testing::Test {
 protected:
  virtual TCtlLine& Line() = 0;

  void StartSimulator(const std::vector<std::string>& options) { Line().StartSimulator(options); }
  TProcessResult Ctl(const std::vector<std::string>& args) { return Line().Ctl(args); }

  // A run that must succeed and print what `out` matches (the exact text when given one),
  // nothing on stderr.
  void ExpectPrints(const std::vector<std::string>& args,
                    const ::testing::Matcher<const std::string&>& out) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const TProcessResult run = Ctl(args);
    EXPECT_EQ(run.exitCode, kExitOk) << run.err;
    EXPECT_THAT(run.out, out);
    EXPECT_THAT(run.err, IsEmpty());
  }
  // A run that must fail with `exitCode` and what `err` matches on stderr, nothing on stdout.
  void ExpectFails(const std::vector<std::string>& args, int exitCode,
                   const ::testing::Matcher<const std::string&>& err) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const TProcessResult run = Ctl(args);
    EXPECT_EQ(run.exitCode, exitCode);
    EXPECT_THAT(run.err, err);
    EXPECT_THAT(run.out, IsEmpty());
  }

  // The display's clock as the tool reads it.
  std::optional<TDateTime> ReadClock() {
    const TProcessResult run = Ctl({"get", "clock"});
    if (run.exitCode != kExitOk || run.out.empty()) return std::nullopt;
    return ParseClock(std::string_view(run.out).substr(0, run.out.size() - 1));
  }
};

// The checks of one line only.
template <typename TLine>
class TOneLineTest : public TCtlLineTest {
 protected:
  TCtlLine& Line() override { return line; }
  TLine line;
};

// The checks every line passes, on the line the instantiation names.
class CtlLineTest : public TCtlLineTest, public ::testing::WithParamInterface<TLineKind> {
 protected:
  TCtlLine& Line() override { return *line_; }

 private:
  const std::unique_ptr<TCtlLine> line_ = GetParam().make();
};

inline double SecondsBetween(TDateTime from, TDateTime to) {
  return (to - from) * 24 * 60 * 60;
}

TEST_P(CtlLineTest, EveryReadAndRawRequestPrintsItsAnswer) {
  StartSimulator({"--temperature", "23.5"});
  ExpectPrints({"ident"}, "ZorvidL;v1.0;rtc\n");
  ExpectPrints({"get", "temperature"}, "23.5\n");
  ExpectPrints({"get", "text"}, MatchesRegex(".{5}\n"));
  ExpectPrints({"get", "data"}, MatchesRegex("([0-9A-F]{2} ){4}[0-9A-F]{2}\n"));
  ExpectPrints({"get", "expiration"}, MatchesRegex("seconds=[0-9]+ second=[0-9]+\n"));
  ExpectPrints({"get", "brightness"}, MatchesRegex("[0-9]+\n"));
  ExpectPrints({"get", "brightness-auto"},
               MatchesRegex("auto=(on|off) min=[0-9]+ max=[0-9]+ gain=[0-9]+\n"));
  ExpectPrints({"get", "clock"},
               MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\n"));
  ExpectPrints({"get", "params"},
               MatchesRegex("auto-update=[01]\nsummer-time=[01]\nafter-turn-on=[01]\n"
                            "after-expiration=[01]\n12h=[01]\nmdy=[01]\nshow-time=[01]\n"
                            "show-date=[01]\nshow-temp=[01]\noffset=-?[0-9]+\nzone=[0-9]+\n"));
  ExpectPrints({"show-info"}, "");
  ExpectPrints({"raw", "0x99"}, "ack=02 data=\n");
  ExpectPrints({"raw", "0x51", "01"}, MatchesRegex("ack=00 data=[0-9A-F]{2}00EB\n"));
}

TEST_P(CtlLineTest, EverySettingReadsBackWhatWasWritten) {
  StartSimulator({});
  ExpectPrints({"set", "text", "12:"}, "");
  ExpectPrints({"get", "text"}, "  12:\n");
  // The digits 1 and 2 on the last two positions, the colon's indicator LEDs on the first.
  ExpectPrints({"get", "data"}, MatchesRegex("(0[1-9A-F]|[1-9A-F][0-9A-F]) 00 00 06 5B\n"));
  ExpectPrints({"set", "text", "-1.5"}, "");
  ExpectPrints({"get", "text"}, " -1.5\n");
  ExpectPrints({"set", "data", "03", "3F", "06", "5B", "4F"}, "");
  ExpectPrints({"get", "data"}, "03 3F 06 5B 4F\n");
  ExpectPrints({"set", "data", "7f7F7f7F7f"}, "");
  ExpectPrints({"raw", "0x81"}, "ack=00 data=7F7F7F7F7F\n");

  ExpectPrints({"set", "expiration", "300"}, "");
  ExpectPrints({"get", "expiration"}, MatchesRegex("seconds=300 second=[0-9]+\n"));
  ExpectPrints({"set", "brightness", "77"}, "");
  ExpectPrints({"get", "brightness"}, "77\n");
  ExpectPrints({"raw", "0x83"}, "ack=00 data=4D\n");
  ExpectPrints({"set", "brightness-auto", "on", "8", "30", "15"}, "");
  ExpectPrints({"get", "brightness-auto"}, "auto=on min=8 max=30 gain=15\n");

  // set params changes only the keys it is given.
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

TEST_P(CtlLineTest, TheClockRunsFromWhatWasSet) {
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

TEST_P(CtlLineTest, JsonIsOneObjectPerRun) {
  StartSimulator({"--temperature", "23.5"});
  ExpectPrints({"--json", "ident"},
               "{\"command\":\"ident\",\"ident\":\"ZorvidL;v1.0;rtc\",\"ok\":true}\n");
  ExpectPrints({"--json", "get", "temperature"},
               "{\"command\":\"get temperature\",\"ok\":true,\"temperature\":23.5}\n");
  ExpectPrints({"set", "brightness", "77"}, "");
  ExpectPrints({"--json", "get", "brightness"},
               "{\"brightness\":77,\"command\":\"get brightness\",\"ok\":true}\n");
  ExpectPrints({"--json", "set", "brightness-auto", "off", "6", "36", "0"},
               "{\"command\":\"set brightness-auto\",\"ok\":true}\n");
  ExpectPrints({"--json", "get", "brightness-auto"},
               "{\"auto\":false,\"command\":\"get brightness-auto\",\"gain\":0,\"max\":36,"
               "\"min\":6,\"ok\":true}\n");
  ExpectPrints({"--json", "raw", "0x99"},
               "{\"ack\":2,\"command\":\"raw\",\"data\":\"\",\"ok\":true}\n");
  const TProcessResult refused = Ctl({"--json", "set", "brightness", "128"});
  EXPECT_EQ(refused.exitCode, kExitUsage);
  EXPECT_EQ(refused.out,
            "{\"command\":\"set brightness\",\"error\":\"brightness out of range (0..127): "
            "128\",\"exit\":2,\"ok\":false}\n");
}

TEST_P(CtlLineTest, TraceShowsEveryPacketInHex) {
  StartSimulator({});
  // Each run with the packet it sends after the identification.
  const std::vector<std::pair<std::vector<std::string>, std::string>> runs{
      {{"--trace", "set", "text", "12:"},
       "> 2A 61 00 0A 31 [0-9A-F]{2} 90 20 20 31 32 3A [0-9A-F]{2} 0D"},
      {{"--trace", "set", "brightness", "5"}, "> 2A 61 00 06 31 [0-9A-F]{2} 93 05 [0-9A-F]{2} 0D"},
  };
  for (const auto& [args, packet] : runs) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const TProcessResult run = Ctl(args);
    EXPECT_EQ(run.exitCode, kExitOk) << run.err;
    EXPECT_THAT(run.out, IsEmpty());
    std::istringstream lines(run.err);
    std::vector<std::string> sent, received;
    for (std::string line; std::getline(lines, line);) {
      EXPECT_THAT(line, MatchesRegex("[<>]( [0-9A-F]{2})+"));
      (line.starts_with("> ") ? sent : received).push_back(line);
    }
    ASSERT_EQ(sent.size(), 2u) << run.err;
    EXPECT_THAT(sent[0], MatchesRegex("> 2A 61 00 05 31 [0-9A-F]{2} F3 [0-9A-F]{2} 0D"));
    EXPECT_THAT(sent[1], MatchesRegex(packet));
    ASSERT_GE(received.size(), 2u) << run.err;
    EXPECT_THAT(received.back(), MatchesRegex("< 2A 61 00 05 31 [0-9A-F]{2} 00 [0-9A-F]{2} 0D"));
  }
}

TEST_P(CtlLineTest, FailuresGiveTheirExitCodesAndLeaveTheLineUsable) {
  StartSimulator({"--ack", "0x93=4", "--silent", "0x83", "--temperature", "23.5"});
  ExpectFails({"set", "brightness", "5"}, kExitFailed,
              "zorvidctl: set brightness 5: acknowledge 4\n");
  // raw reports whatever came back.
  ExpectPrints({"raw", "0x93", "05"}, "ack=04 data=\n");
  ExpectPrints({"set", "brightness-auto", "off", "6", "36", "0"}, "");
  // The identification must still be answered: these runs wait the default time-out.
  ExpectFails({"get", "brightness"}, kExitFailed, "zorvidctl: get brightness: no answer\n");
  ExpectFails({"raw", "0x83"}, kExitFailed, "zorvidctl: raw 0x83: no answer\n");
  ExpectPrints({"get", "temperature"}, "23.5\n");
  ExpectFails({"-a", "0x32", "-t", "200", "ident"}, kExitConnection,
              "zorvidctl: connection failed: no identification from address 50 (0x32): no "
              "answer\n");
  ExpectFails({"set", "brightness", "128"}, kExitUsage,
              StartsWith("zorvidctl: brightness out of range (0..127): 128\n"));
}

TEST_P(CtlLineTest, AnUnsolicitedStreamDoesNotDisturbTheAnswers) {
  StartSimulator({"--unsolicited", "20", "--delay", "30", "--temperature", "23.5"});
  ExpectPrints({"set", "brightness", "77"}, "");
  ExpectPrints({"get", "brightness"}, "77\n");
  ExpectPrints({"get", "temperature"}, "23.5\n");
}

TEST_P(CtlLineTest, TheTraceShowsTheUnsolicitedPacketsBesideTheAnswer) {
  StartSimulator({"--unsolicited", "20", "--delay", "30"});
  ExpectPrints({"set", "brightness", "77"}, "");
  const TProcessResult traced = Ctl({"--trace", "raw", "0x83"});
  EXPECT_EQ(traced.exitCode, kExitOk) << traced.err;
  EXPECT_EQ(traced.out, "ack=00 data=4D\n");
  // Acknowledge 0x0E from address 49 with SIG 0 arrived among the answers.
  EXPECT_THAT(traced.err, HasSubstr("2A 61 00 05 31 00 0E"));
}

}  // namespace zorvid::ctl::test
