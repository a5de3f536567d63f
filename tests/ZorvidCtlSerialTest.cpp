// zorvidctl and zorvid-sim as separate processes on a pseudo-terminal that the simulator makes:
// the tool reaches it through the serial transport, by device path and by a port number that
// the tool's environment maps to the device, and every command gives its result over that line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/support/CtlLineTest.h"

namespace zorvid::ctl {
namespace {

using namespace test;

// A port number without a default device, mapped to the simulator's line for one run.
constexpr int kMappedPort = 233;

class TSerialLine : public test::TPtyLine {
 public:
  std::string Connection() const override { return "provider=SERIAL_PORT;device=" + path; }
};

INSTANTIATE_TEST_SUITE_P(, CtlLineTest, ::testing::Values(test::LineKind<TSerialLine>("serial")));

using CtlSerialTest = test::TOneLineTest<TSerialLine>;

TEST_F(CtlSerialTest, APortNumberReachesTheLineThroughTheEnvironment) {
  StartSimulator({"--temperature", "21"});
  const std::string byNumber =
      "provider=SERIAL_PORT;comport=" + std::to_string(kMappedPort) + ";baudrate=115200";
  const TEnvironment mapped{"ZORVID_COM" + std::to_string(kMappedPort) + "=" + line.path};
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
                              "\": Invalid port number (COM" + std::to_string(kMappedPort) +
                              "): no device for this number; ZORVID_COM" +
                              std::to_string(kMappedPort) + " can name one\n");
}

TEST_F(CtlSerialTest, AMissingDeviceIsAConnectionFailure) {
  const std::string missing = "provider=SERIAL_PORT;device=/dev/zorvid-no-such-line";
  const TProcessResult absent = RunCtl({"ident"}, missing);
  EXPECT_EQ(absent.exitCode, kExitConnection);
  EXPECT_EQ(absent.err, "zorvidctl: connection failed: cannot open \"" + missing +
                            "\": cannot open /dev/zorvid-no-such-line: No such file or directory "
                            "(errno 2)\n");
}

}  // namespace
}  // namespace zorvid::ctl
