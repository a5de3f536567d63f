// zorvidctl and zorvid-sim as separate processes, the tool reaching the simulator's
// pseudo-terminal through the USB transport: the tool's environment puts the stand-in bridge
// library on its library path and connects bridge ZSIM1 to the simulator's line. Every command
// gives its result over that bridge; a bridge that is not there, or no library, is a connection
// failure.
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
using ::testing::MatchesRegex;

const std::string kConnection = "provider=FTD_USB;serial_number=ZSIM1;baudrate=115200";

class CtlUsbTest : public test::TCtlPtyTest {
 protected:
  TEnvironment BridgeEnvironment() const {
    return {std::string("LD_LIBRARY_PATH=") + FAKE_FTD2XX_DIR, "ZORVID_FTDI_ZSIM1=pty:" + linePath};
  }
  TProcessResult Ctl(const std::vector<std::string>& args) override {
    return RunCtl(args, kConnection, BridgeEnvironment());
  }
};

TEST_F(CtlUsbTest, EveryReadPrintsTheDisplaysValues) {
  CheckEveryRead();
}

TEST_F(CtlUsbTest, EverySettingReadsBackWhatWasWritten) {
  CheckEverySettingReadsBack();
  ExpectPrints({"--json", "get", "brightness"},
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
  ExpectPrints({"set", "brightness", "77"}, "");
  ExpectPrints({"get", "brightness"}, "77\n");
  ExpectPrints({"get", "temperature"}, "23.5\n");
}

TEST_F(CtlUsbTest, NoBridgeOrNoLibraryIsAConnectionFailure) {
  StartSimulator({});
  const std::string other = "provider=FTD_USB;serial_number=ZOTHER";
  const TProcessResult absent = RunCtl({"ident"}, other, BridgeEnvironment());
  EXPECT_EQ(absent.exitCode, kExitConnection);
  EXPECT_EQ(absent.err, "zorvidctl: connection failed: cannot open \"" + other +
                            "\": FT_OpenEx(\"ZOTHER\") failed: FT_DEVICE_NOT_FOUND\n");

  const TProcessResult noLibrary = RunCtl({"ident"}, kConnection, {"LD_LIBRARY_PATH=/nonexistent"});
  EXPECT_EQ(noLibrary.exitCode, kExitConnection);
  EXPECT_THAT(noLibrary.err,
              HasSubstr("cannot open \"" + kConnection +
                        "\": library not found: tried libftd2xx.so, libftd2xx.so.1"));
}

}  // namespace
}  // namespace zorvid::ctl
