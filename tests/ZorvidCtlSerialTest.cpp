// zorvidctl and zorvid-sim as separate processes on a pseudo-terminal that the simulator makes:
// the tool reaches it through the serial transport, by device path and by a port number that
// the tool's environment maps to the device, and every command gives its result over that line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "tests/support/CtlLineTest.h"

namespace zorvid::ctl {
namespace {

using namespace test;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// A port number without a default device, mapped to the simulator's line for one run.
constexpr int kMappedPort = 233;

class TSerialLine : public test::TPtyLine {
 public:
  std::string Connection() const override { return "provider=SERIAL_PORT;device=" + path; }
};

INSTANTIATE_TEST_SUITE_P(, CtlLineTest, ::testing::Values(test::LineKind<TSerialLine>("serial")));

using CtlSerialTest = test::TOneLineTest<TSerialLine>;

TEST_F(CtlSerialTest, APortNumberReachesTheLineThroughTheEnvironment) {
  StartSimulator({"--temperature", "21", "--baud", "115200"});
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

// ---- Finding and commissioning displays ----------------------------------------------------

TEST_F(CtlSerialTest, TheScanFindsADisplayAtItsAddressAndSpeed) {
  StartSimulator({"--address", "0x42", "--baud", "19200"});
  // Over the default speeds, the addresses around the display's.
  ExpectPrints({"scan", "--from", "0x40", "--to", "0x44"}, "0x42 19200 ZorvidL;v1.0;rtc\n");
  ExpectPrints({"--json", "scan", "--from", "0x40", "--to", "0x44", "--bauds", "9600,19200"},
               "{\"command\":\"scan\",\"displays\":[{\"address\":66,\"baud\":19200,"
               "\"ident\":\"ZorvidL;v1.0;rtc\"}],\"ok\":true}\n");
  const TProcessResult none = Ctl({"scan", "--bauds", "9600,38400", "--to", "3"});
  EXPECT_EQ(none.exitCode, kExitFailed);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err, "zorvidctl: scan: no display answered\n");
  ExpectFails({"scan", "--bauds", "9600,14400"}, kExitUsage,
              StartsWith("zorvidctl: baud is none of the display's speeds (110, 300, 600, 1200, "
                         "2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400): 14400\n"));
}

// Their answers to the broadcast address collide: each is found at its own address.
TEST_F(CtlSerialTest, TheScanFindsEveryDisplayOnTheLine) {
  StartSimulator({"--display", "0x20,A;v1;", "--display", "0x23", "--display", "0x27,C;v2;x"});
  ExpectPrints({"scan", "--bauds", "9600", "--from", "0x1F", "--to", "0x28"},
               "0x20 9600 A;v1;\n0x23 9600 ZorvidL;v1.0;rtc\n0x27 9600 C;v2;x\n");
}

// Their answers come after the next address was asked: they still count, each for the address
// it answers.
TEST_F(CtlSerialTest, TheScanFindsDisplaysSlowerThanItsTimeOut) {
  StartSimulator({"--display", "0x31", "--display", "0x33", "--delay", "60"});
  ExpectPrints({"scan", "--bauds", "9600", "--from", "0x30", "--to", "0x34"},
               "0x31 9600 ZorvidL;v1.0;rtc\n0x33 9600 ZorvidL;v1.0;rtc\n");
}

TEST_F(CtlSerialTest, SetCommMovesTheDisplayToItsNewAddressAndSpeed) {
  StartSimulator({});
  ExpectPrints({"get", "comm"}, "address=0x31 baud=9600\n");
  ExpectPrints({"set", "comm", "0x42", "19200"}, "");
  const std::string fast = line.Connection() + ";baudrate=19200";
  const TProcessResult there = RunCtl({"-a", "0x42", "get", "comm"}, fast);
  EXPECT_EQ(there.exitCode, kExitOk) << there.err;
  EXPECT_EQ(there.out, "address=0x42 baud=19200\n");
  // Nothing answers at the old speed.
  ExpectFails({"-a", "0x42", "-t", "200", "ident"}, kExitConnection,
              HasSubstr("no identification from address 66 (0x42): no answer"));
}

TEST_F(CtlSerialTest, ARefusedStepOfSetCommIsNamed) {
  StartSimulator({"--ack", "0xE0=1"});
  ExpectFails({"set", "comm", "0x42", "19200"}, kExitFailed,
              "zorvidctl: set comm 0x42 19200: write communication parameters (0xE0): "
              "acknowledge 1\n");
  ExpectPrints({"get", "comm"}, "address=0x31 baud=9600\n");
}

// Two displays at one address, told apart by their identifiers.
TEST_F(CtlSerialTest, AssignAddressMovesOnlyTheDisplayWithTheIdentifiers) {
  StartSimulator({"--display", "0x31,A;v1;", "--display", "0x35,B;v1;", "--seed", "7"});
  const TProcessResult ids = Ctl({"-a", "0x35", "ids"});
  ASSERT_EQ(ids.exitCode, kExitOk) << ids.err;
  std::smatch words;
  ASSERT_TRUE(
      std::regex_match(ids.out, words, std::regex("word1=([0-9]+) word2=([0-9]+) value=[0-9]+\n")))
      << ids.out;
  const std::string word1 = words[1], word2 = words[2];
  ExpectPrints({"assign-address", word1, word2, "0x31"}, "");
  const TProcessResult both = Ctl({"-a", "0x31", "-t", "200", "ident"});
  EXPECT_EQ(both.exitCode, kExitConnection) << "two displays at 0x31 answer together";
  ExpectPrints({"assign-address", word1, word2, "0x36"}, "");
  ExpectPrints({"-a", "0x36", "ident"}, "B;v1;\n");
  ExpectPrints({"-a", "0x31", "ident"}, "A;v1;\n");
  // No display has these identifiers, or its answer was lost: which one, nobody can tell.
  ExpectFails({"-t", "200", "assign-address", "1", "2", "0x37"}, kExitFailed,
              "zorvidctl: assign-address 1 2 0x37: unknown whether stored: no answer\n");
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
