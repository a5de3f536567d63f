#pragma once

// zorvidctl and zorvid-sim as separate processes, the simulator serving a pseudo-terminal of its
// own; the subclass says how the tool reaches that line (serial device, USB bridge). The checks
// every such line must pass live here once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tools/ctl/CtlCommands.h"
#include "tools/ctl/CtlText.h"

namespace zorvid::ctl::test {

using zorvid::test::RunProcess;
using zorvid::test::TChildProcess;
using zorvid::test::TEnvironment;
using zorvid::test::TProcessResult;

class TCtlPtyTest : public ::testing::Test {
 protected:
  // Starts zorvid-sim with `--pty` and the options, and learns its line's path.
  void StartSimulator(const std::vector<std::string>& options) {
    std::vector<std::string> args{ZORVID_SIM_PATH, "--pty"};
    args.insert(args.end(), options.begin(), options.end());
    ASSERT_TRUE(simulator.Start(args, TChildProcess::TOutput::kRead));
    const std::optional<std::string> announced = simulator.ReadLine(std::chrono::seconds(2));
    ASSERT_TRUE(announced && announced->starts_with("PTY ")) << "no pseudo-terminal named";
    linePath = announced->substr(4);
  }
  void TearDown() override { simulator.Stop(); }

  // One run of the tool over the line under test.
  virtual TProcessResult Ctl(const std::vector<std::string>& args) = 0;
  TProcessResult RunCtl(const std::vector<std::string>& args, const std::string& connection,
                        const TEnvironment& environment = {}) {
    std::vector<std::string> command{ZORVIDCTL_PATH, "-c", connection};
    command.insert(command.end(), args.begin(), args.end());
    return RunProcess(command, environment);
  }

  // A run that must succeed and print what `form` describes, nothing on stderr.
  void ExpectPrintsForm(const std::vector<std::string>& args, const std::string& form) {
    SCOPED_TRACE(JoinWords(args));
    const TProcessResult run = Ctl(args);
    EXPECT_EQ(run.exitCode, kExitOk) << run.err;
    EXPECT_THAT(run.out, ::testing::MatchesRegex(form));
    EXPECT_THAT(run.err, ::testing::IsEmpty());
  }
  // A run that must succeed and print exactly `out`, nothing on stderr.
  void ExpectPrints(const std::vector<std::string>& args, const std::string& out) {
    SCOPED_TRACE(JoinWords(args));
    const TProcessResult run = Ctl(args);
    EXPECT_EQ(run.exitCode, kExitOk) << run.err;
    EXPECT_EQ(run.out, out);
    EXPECT_THAT(run.err, ::testing::IsEmpty());
  }

  // Every read prints the display's values in its form.
  void CheckEveryRead() {
    StartSimulator({"--temperature", "23.5"});
    ExpectPrints({"ident"}, "ZorvidL;v1.0;rtc\n");
    ExpectPrints({"get", "temperature"}, "23.5\n");
    ExpectPrintsForm({"get", "text"}, ".{5}\n");
    ExpectPrintsForm({"get", "data"}, "([0-9A-F]{2} ){4}[0-9A-F]{2}\n");
    ExpectPrintsForm({"get", "expiration"}, "seconds=[0-9]+ second=[0-9]+\n");
    ExpectPrintsForm({"get", "brightness"}, "[0-9]+\n");
    ExpectPrintsForm({"get", "brightness-auto"},
                     "auto=(on|off) min=[0-9]+ max=[0-9]+ gain=[0-9]+\n");
    ExpectPrintsForm({"get", "clock"}, "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\n");
    ExpectPrintsForm({"get", "params"},
                     "auto-update=[01]\nsummer-time=[01]\nafter-turn-on=[01]\n"
                     "after-expiration=[01]\n12h=[01]\nmdy=[01]\nshow-time=[01]\n"
                     "show-date=[01]\nshow-temp=[01]\noffset=-?[0-9]+\nzone=[0-9]+\n");
  }

  // Every setting reads back what was written; show-info and raw answer.
  void CheckEverySettingReadsBack() {
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
                     "auto-update=[01]\nsummer-time=[01]\nafter-turn-on=[01]\n"
                     "after-expiration=[01]\n12h=[01]\nmdy=1\nshow-time=[01]\nshow-date=1\n"
                     "show-temp=[01]\noffset=780\nzone=3\n");
    ExpectPrints({"set", "clock", "2026-03-07 14:05:09"}, "");
    ExpectPrintsForm({"get", "clock"}, "2026-03-07 14:05:(09|1[0-2])\n");
    ExpectPrints({"set", "clock", "now"}, "");
    ExpectPrints({"show-info"}, "");
    ExpectPrints({"raw", "0x83"}, "ack=00 data=4D\n");
    ExpectPrints({"raw", "0x99"}, "ack=02 data=\n");
  }

  TChildProcess simulator;
  std::string linePath;
};

}  // namespace zorvid::ctl::test
