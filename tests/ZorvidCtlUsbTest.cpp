// zorvidctl and zorvid-sim as separate processes, the tool reaching the simulator's
// pseudo-terminal through the USB transport: the tool's environment puts the stand-in bridge
// library on its library path and connects bridge ZSIM1 to the simulator's line. Every command
// gives its result over that bridge; a bridge that is not there, or no library, is a connection
// failure.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/CtlLineTest.h"

namespace zorvid::ctl {
namespace {

using namespace test;
using ::testing::HasSubstr;

const std::string kConnection = "provider=FTD_USB;serial_number=ZSIM1;baudrate=115200";

class TUsbLine : public test::TPtyLine {
 public:
  // The bridge sets the speed of the connection on the pseudo-terminal: the display listens
  // there.
  void StartSimulator(const std::vector<std::string>& options) override {
    std::vector<std::string> atSpeed = options;
    atSpeed.insert(atSpeed.end(), {"--baud", "115200"});
    TPtyLine::StartSimulator(atSpeed);
  }
  std::string Connection() const override { return kConnection; }
  TEnvironment Environment() const override {
    return {std::string("LD_LIBRARY_PATH=") + FAKE_FTD2XX_DIR, "ZORVID_FTDI_ZSIM1=pty:" + path};
  }
};

INSTANTIATE_TEST_SUITE_P(, CtlLineTest, ::testing::Values(test::LineKind<TUsbLine>("usb")));

using CtlUsbTest = test::TOneLineTest<TUsbLine>;

// The display listens at 115200 Bd: the scan's pass at 9600 Bd, which the bridge gives the line,
// finds nothing.
TEST_F(CtlUsbTest, TheBridgeRunsTheLineAtItsSpeed) {
  StartSimulator({});
  ExpectPrints({"scan", "--bauds", "9600,115200", "--from", "0x30", "--to", "0x32"},
               "0x31 115200 ZorvidL;v1.0;rtc\n");
}

TEST_F(CtlUsbTest, NoBridgeOrNoLibraryIsAConnectionFailure) {
  StartSimulator({});
  const std::string other = "provider=FTD_USB;serial_number=ZOTHER";
  const TProcessResult absent = RunCtl({"ident"}, other, line.Environment());
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
