// The serial transport on pseudo-terminals: the line settings and their connection-string form,
// the port selection, opening and closing with their reports, data both ways with received data
// announced on the thread that made the transport (the main thread, or a thread of its own with
// an event loop), the driver's refusals passed on (a refusal by the device's mode
// with whose the device is), the settings dialog hook, and the factory. Every port number used
// here is mapped to a pseudo-terminal (COM211 and up have no default device), so no test ever
// touches a real port.
#include "transport/SerialPortInterface.h"

// Before any Qt header, whose keyword macros would rewrite the driver's names.
#include "transport/serial/ComPort.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/Errors.h"
#include "protocol/KorvelStack.h"
#include "protocol/KorvelStackDevice.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LoopThread.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/TransportObserver.h"
#include "tools/ctl/CtlCommands.h"
#include "transport/Transports.h"

namespace zorvid {
namespace {

using test::DeliverPostedEvents;
using test::ErrorText;
using test::ProcessEventsUntil;
using test::RunProcess;
using test::TProcessResult;

using namespace std::chrono_literals;
using test::TErrorReport;
using test::TLoopThread;
using test::TPortMapping;
using test::TPseudoTerminal;
using test::TTransportObserver;
using test::WaitUntil;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using TClock = std::chrono::steady_clock;

constexpr int kPort = 211;
constexpr std::int32_t kQueueSize = 10'000'000;

std::string PortString(int number) {
  return "comport=" + std::to_string(number);
}

// A transport on COM211, which is a pseudo-terminal.
class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    serial = NewTransport<TSerialPortInterface>(PortString(kPort));
    observer.Attach(*serial);
  }
  void TearDown() override {
    // Released here, while the observer that hears its last close still exists.
    serial.Reset();
  }

  TPseudoTerminal line;
  TPortMapping mapping{kPort, line.SlavePath()};
  TTransportObserver observer;
  TRef<TSerialPortInterface> serial;
};

// ---- Settings and the connection string --------------------------------------------------

TEST_F(SerialPortTest, NewTransportStartsWithTheDefaults) {
  const auto fresh = New<TSerialPortInterface>();
  EXPECT_EQ(fresh->GetConfiguration(),
            "baudrate=9600;databits=8;stopbits=One;parity=None;dtr=-1;rts=-1;comport=0");
  EXPECT_EQ(fresh->GetConnectionName(), "COM unknown");
  EXPECT_EQ(fresh->GetDescription(), "COM unknown");
  EXPECT_EQ(fresh->GetInBufSize(), kQueueSize);
  EXPECT_EQ(fresh->GetOutBufSize(), kQueueSize);
  EXPECT_EQ(fresh->GetCharTime(), 1.0);  // no rate has been set through the transport yet
  EXPECT_TRUE(fresh->HasSetup());
  EXPECT_FALSE(fresh->GetActive());
  EXPECT_FALSE(fresh->ReadCTS());
  EXPECT_FALSE(fresh->ReadDSR());
  const TCiRef ci = fresh;
  EXPECT_TRUE(Supports<ISerialPortInterface>(ci));
  EXPECT_TRUE(Supports<ISerialCommunicationInterface>(ci));
  EXPECT_TRUE(IID_ISerialPortInterface.offeredBy(ci.Get()));
  EXPECT_EQ(IID_ISerialPortInterface.guid, "{4BC4E3AE-72C6-41B2-9652-0C40291AA6FB}");
  EXPECT_EQ(IID_ISerialCommunicationInterface.guid, "{783E5941-B8D8-4FB6-B8B5-F43D41E6DB42}");
}

TEST_F(SerialPortTest, PortIsChosenByNumberByComTextOrByDevice) {
  EXPECT_EQ(serial->GetConnectionName(), "COM211");
  const std::vector<std::pair<std::string, std::string>> cases{
      {"COM7", "COM7"},
      {"com7", "COM7"},
      {"COMx", "COM7"},
      {"COM5;x=1", "COM7"},
      {"comport=3", "COM3"},
      {"comport=70000", "COM3"},
      {"comport=-2", "COM3"},
      {"COMPORT=12;COM5", "COM12"},
      {"comport=0", "COM unknown"},
      {"COM", "COM unknown"},
  };
  for (const auto& [text, name] : cases) {
    serial->SetConfiguration(text);
    EXPECT_EQ(serial->GetConnectionName(), name) << text;
    EXPECT_EQ(serial->GetDescription(), name) << text;
  }
  EXPECT_EQ(ErrorText<EConvertError>([&] { serial->SetConfiguration("comport=3x"); }),
            "Connection string key \"comport\": '3x' is not a valid integer value");

  serial->SetConfiguration("comport=4;device=/dev/zorvid-line");
  EXPECT_THAT(serial->GetConfiguration(),
              ::testing::EndsWith(";comport=4;device=/dev/zorvid-line"));
  serial->SetConfiguration("baudrate=9600");  // no device key: the device stays
  EXPECT_THAT(serial->GetConfiguration(), HasSubstr("device=/dev/zorvid-line"));
  serial->SetConfiguration("device=");
  EXPECT_THAT(serial->GetConfiguration(), ::testing::EndsWith(";comport=4"));
  EXPECT_THAT(observer.Errors(), IsEmpty());
}

// A connection string with a value no line can carry is refused as a whole, naming the key
// and the value; nothing of it is applied.
void ExpectRefused(ISerialCommunicationInterface& serial, const std::string& text,
                   const std::string& named) {
  EXPECT_THAT(ErrorText<EConvertError>([&] { serial.SetConfiguration(text); }), HasSubstr(named))
      << text;
}

TEST_F(SerialPortTest, StopBitsAndParityAcceptTheirSpellingsAndRefuseOthers) {
  const std::vector<std::pair<std::string, TStopBits>> stopBits{
      {"2", TStopBits::Two},   {"1,5", TStopBits::OneAndHalf},
      {"ONE", TStopBits::One}, {"oneandhalf", TStopBits::OneAndHalf},
      {"two", TStopBits::Two}, {"1.5", TStopBits::OneAndHalf},
      {"1", TStopBits::One},
  };
  for (const auto& [text, expected] : stopBits) {
    serial->SetConfiguration("stopbits=" + text);
    EXPECT_EQ(serial->GetStopBits(), expected) << text;
  }
  const std::vector<std::pair<std::string, TParity>> parities{
      {"even", TParity::Even},   {"ODD", TParity::Odd},   {"Mark", TParity::Mark},
      {"space", TParity::Space}, {"none", TParity::None},
  };
  for (const auto& [text, expected] : parities) {
    serial->SetConfiguration("parity=" + text);
    EXPECT_EQ(serial->GetParity(), expected) << text;
  }
  ExpectRefused(*serial, "stopbits=7", "\"stopbits\": '7'");
  ExpectRefused(*serial, "parity=Q", "\"parity\": 'Q'");
  ExpectRefused(*serial, "parity=1", "\"parity\": '1'");
  EXPECT_EQ(serial->GetStopBits(), TStopBits::One);
  EXPECT_EQ(serial->GetParity(), TParity::None);
  serial->SetConfiguration("stopbits=1,5;parity=even");
  EXPECT_THAT(serial->GetConfiguration(), HasSubstr(";stopbits=OneAndHalf;parity=Even;"));
}

TEST_F(SerialPortTest, LineLevelsAreReadAsBooleansAndWrittenAsNumbers) {
  serial->SetConfiguration("dtr=0;rts=1");
  EXPECT_FALSE(serial->GetDTR());
  EXPECT_TRUE(serial->GetRTS());
  EXPECT_THAT(serial->GetConfiguration(), HasSubstr(";dtr=0;rts=-1;"));
  serial->SetConfiguration("dtr=TRUE;rts=false");
  EXPECT_TRUE(serial->GetDTR());
  EXPECT_FALSE(serial->GetRTS());
  serial->SetConfiguration("dtr=-7");
  EXPECT_TRUE(serial->GetDTR());
  EXPECT_EQ(ErrorText<EConvertError>([&] { serial->SetConfiguration("rts=yes"); }),
            "Connection string key \"rts\": 'yes' is not a valid boolean value");
  EXPECT_FALSE(serial->GetRTS());
}

TEST_F(SerialPortTest, BaudRateSetsTheCharacterTime) {
  serial->SetConfiguration("baudrate=19200");
  EXPECT_EQ(serial->GetBaudRate(), 19200);
  EXPECT_NEAR(serial->GetCharTime(), 0.5208, 0.00005);
  serial->SetBaudRate(9600);
  EXPECT_NEAR(serial->GetCharTime(), 1.0417, 0.00005);
  serial->SetBaudRate(250000);  // any positive rate, not only the standard ones
  EXPECT_EQ(serial->GetBaudRate(), 250000);
  EXPECT_NEAR(serial->GetCharTime(), 0.04, 1e-9);
  EXPECT_EQ(ErrorText<EConvertError>([&] { serial->SetConfiguration("baudrate=fast"); }),
            "Connection string key \"baudrate\": 'fast' is not a valid integer value");
  EXPECT_EQ(ErrorText<EConvertError>([&] { serial->SetConfiguration("databits=8.0"); }),
            "Connection string key \"databits\": '8.0' is not a valid integer value");
  EXPECT_EQ(serial->GetBaudRate(), 250000);
}

TEST_F(SerialPortTest, ConfigurationRoundTripsThroughSetConfiguration) {
  serial->SetBaudRate(57600);
  serial->SetDatabits(7);
  serial->SetStopBits(TStopBits::Two);
  serial->SetParity(TParity::Mark);
  serial->SetDTR(false);
  serial->SetConfiguration("device=" + line.SlavePath());
  const std::string text = serial->GetConfiguration();
  const std::string settings =
      "baudrate=57600;databits=7;stopbits=Two;parity=Mark;dtr=0;rts=-1;comport=211;";
  EXPECT_EQ(text, settings + "device=" + line.SlavePath());

  const auto copy = NewTransport<TSerialPortInterface>(text);
  EXPECT_EQ(copy->GetConfiguration(), text);
  EXPECT_EQ(copy->GetConnectionName(), "COM211");
  serial->SetConfiguration("baudrate=300;databits=5;stopbits=1;parity=none;dtr=1;rts=0;comport=9");
  serial->SetConfiguration(text);
  EXPECT_EQ(serial->GetConfiguration(), text);
}

TEST_F(SerialPortTest, AStringIsOneChangeAndAnUnusableValueRefusesItWhole) {
  observer.Clear();
  serial->SetConfiguration("baudrate=19200;parity=odd;baudrate=1");
  EXPECT_THAT(observer.Events(), ElementsAre("config"));
  EXPECT_THAT(observer.Errors(), IsEmpty());
  EXPECT_EQ(serial->GetBaudRate(), 19200);  // the first occurrence counts
  EXPECT_EQ(serial->GetParity(), TParity::Odd);

  observer.Clear();
  ExpectRefused(*serial, "baudrate=9600;databits=9", "\"databits\": '9'");
  ExpectRefused(*serial, "databits=260", "'260'");  // must not wrap around to 4
  ExpectRefused(*serial, "baudrate=-9600", "\"baudrate\": '-9600'");
  ExpectRefused(*serial, "baudrate=0", "\"baudrate\": '0'");
  EXPECT_EQ(serial->GetDatabits(), 8);
  EXPECT_EQ(serial->GetBaudRate(), 19200);
  EXPECT_THAT(observer.Events(), IsEmpty());
}

TEST_F(SerialPortTest, NotifyingSettersAnnounceChangesAndReportRefusalsWithTheValue) {
  observer.Clear();
  serial->SetDatabits(5);
  serial->SetDTR(false);
  serial->SetRTS(false);
  serial->SetParity(TParity::Space);
  serial->SetStopBits(TStopBits::OneAndHalf);
  serial->SetBaudRate(4800);
  EXPECT_EQ(observer.Events(), std::vector<std::string>(6, "config"));
  EXPECT_THAT(observer.Errors(), IsEmpty());

  observer.Clear();
  serial->SetBaudRate(0);
  serial->SetDatabits(9);
  serial->SetDatabits(3);
  serial->SetParity(static_cast<TParity>(5));
  serial->SetStopBits(static_cast<TStopBits>(3));
  EXPECT_EQ(serial->GetFailureReason(), "setting refused: stopbits=3");
  EXPECT_THAT(observer.Errors(),
              ElementsAre(TErrorReport{"SetBaudRate", {"0"}}, TErrorReport{"SetDatabits", {"9"}},
                          TErrorReport{"SetDatabits", {"3"}}, TErrorReport{"SetParity", {"5"}},
                          TErrorReport{"SetStopBits", {"3"}}));
  EXPECT_THAT(observer.Events(), IsEmpty());
  // The raw setters refuse the same values and nothing changed.
  EXPECT_FALSE(serial->ApplyDatabits(255));
  EXPECT_FALSE(serial->ApplyParity(static_cast<TParity>(255)));
  EXPECT_FALSE(serial->ApplyStopBits(static_cast<TStopBits>(255)));
  EXPECT_FALSE(serial->ApplyBaudRate(-1));
  EXPECT_EQ(serial->GetConfiguration(),
            "baudrate=4800;databits=5;stopbits=OneAndHalf;parity=Space;dtr=0;rts=0;comport=211");
}

TEST_F(SerialPortTest, SettingsTheOpenPortRefusesAreReportedByName) {
  ASSERT_TRUE(serial->Open());
  observer.Clear();
  // A pseudo-terminal knows neither one and a half stop bits nor 4 data bits.
  serial->SetStopBits(TStopBits::OneAndHalf);
  serial->SetDatabits(4);
  EXPECT_THAT(observer.Errors(), ElementsAre(TErrorReport{"SetStopBits", {"OneAndHalf"}},
                                             TErrorReport{"SetDatabits", {"4"}}));
  EXPECT_EQ(serial->GetStopBits(), TStopBits::One);
  EXPECT_EQ(serial->GetDatabits(), 8);
  EXPECT_TRUE(serial->GetActive());

  serial->Close(false);
  serial->SetDatabits(4);  // a closed port takes it; the open does not
  observer.Clear();
  EXPECT_FALSE(serial->Open());
  EXPECT_THAT(observer.Errors(), ElementsAre(TErrorReport{"Open"}));
}

// ---- Opening and closing ----------------------------------------------------------------

TEST_F(SerialPortTest, OpenAndCloseAreNotifiedAndAForcedCloseOfAClosedPortFails) {
  observer.Clear();
  ASSERT_TRUE(serial->Open());
  EXPECT_TRUE(serial->GetActive());
  // The open sets the rate again (a configuration change), then the open itself.
  EXPECT_THAT(observer.Events(), ElementsAre("config", "open"));
  EXPECT_TRUE(serial->Open());
  EXPECT_TRUE(serial->SetActive(true));
  EXPECT_THAT(observer.Events(), ElementsAre("config", "open"));

  observer.Clear();
  EXPECT_TRUE(serial->Close(false));
  EXPECT_FALSE(serial->GetActive());
  EXPECT_TRUE(serial->Close(false));
  EXPECT_THAT(observer.Events(), ElementsAre("close"));
  EXPECT_THAT(observer.Errors(), IsEmpty());

  EXPECT_FALSE(serial->Close(true));
  EXPECT_THAT(observer.Errors(), ElementsAre(TErrorReport{"Close"}));
  observer.Clear();
  serial->SetPortEnabled(false);  // a forced close too
  EXPECT_FALSE(serial->GetPortEnabled());
  EXPECT_THAT(observer.Errors(), ElementsAre(TErrorReport{"Close"}));

  ASSERT_TRUE(serial->Open());
  observer.Clear();
  serial->SetPortEnabled(false);
  EXPECT_FALSE(serial->GetActive());
  EXPECT_THAT(observer.Events(), ElementsAre("close"));
  EXPECT_THAT(observer.Errors(), IsEmpty());
}

TEST_F(SerialPortTest, ActiveOpensAfterTheOtherSettings) {
  for (const std::string value : {"true", "TRUE", "1"}) {
    observer.Clear();
    serial->SetConfiguration("active=" + value + ";baudrate=19200");
    EXPECT_TRUE(serial->GetActive()) << value;
    EXPECT_THAT(observer.Events(), ElementsAre("config", "open", "config")) << value;
    EXPECT_NEAR(serial->GetCharTime(), 0.5208, 0.00005);
    serial->Close(false);
  }
  for (const std::string value : {"yes", "0", "", "-1"}) {
    serial->SetConfiguration("active=" + value);
    EXPECT_FALSE(serial->GetActive()) << value;
  }
  ASSERT_TRUE(serial->Open());
  serial->SetConfiguration("active=0");  // false leaves the port as it is
  EXPECT_TRUE(serial->GetActive());
}

TEST_F(SerialPortTest, PortsWithoutADeviceCannotBeOpened) {
  // Each failure says why, with the value.
  const std::vector<std::pair<std::string, std::string>> missing{
      {"comport=0", "Invalid port number (COM0)"},
      {PortString(kPort + 5), "Invalid port number (COM" + std::to_string(kPort + 5) + ")"},
      {"comport=3;device=/dev/zorvid-no-such-line",
       "/dev/zorvid-no-such-line: No such file or directory (errno 2)"}};
  for (const auto& [text, reason] : missing) {
    TTransportObserver own;
    const auto ci = NewTransport<TSerialPortInterface>(text);
    own.Attach(*ci);
    EXPECT_FALSE(ci->Open()) << text;
    EXPECT_FALSE(ci->GetActive()) << text;
    EXPECT_THAT(own.Errors(), ElementsAre(TErrorReport{"Open"})) << text;
    EXPECT_THAT(own.Events(), ElementsAre("config")) << text;  // the rate set again, no open
    EXPECT_THAT(ci->GetFailureReason(), HasSubstr(reason)) << text;
  }
  // "active" on such a port leaves the string itself accepted.
  serial->SetConfiguration("active=1;" + PortString(kPort + 5));
  EXPECT_FALSE(serial->GetActive());
  EXPECT_THAT(observer.Errors(), ElementsAre(TErrorReport{"Open"}));
}

TEST_F(SerialPortTest, ADeviceHeldByAnotherTransportIsBusy) {
  ASSERT_TRUE(serial->Open());
  const auto second = NewTransport<TSerialPortInterface>("device=" + line.SlavePath());
  EXPECT_FALSE(second->Open());
  EXPECT_THAT(second->GetFailureReason(), HasSubstr(line.SlavePath() + " is busy"));
  EXPECT_EQ(serial->Write("still mine"), 10);
  EXPECT_EQ(line.Receive(10, 1000ms), "still mine");
}

// A path that leads to no terminal is said to be no serial device, with what it is, instead of
// busy; the pseudo-terminal beside them still opens.
TEST_F(SerialPortTest, APathToSomethingElseThanATerminalIsNoSerialDevice) {
  std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("zorvid-no-line-" + std::to_string(getpid()));
  std::filesystem::create_directories(directory);
  directory = std::filesystem::canonical(directory);  // as the message names it
  const std::string file = (directory / "file").string();
  std::ofstream(file) << "no line";
  const std::string fifo = (directory / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << fifo << ": " << std::strerror(errno);

  const std::vector<std::pair<std::string, std::string>> notALine{
      {"/dev/null", "a character device that is no terminal"},
      {file, "a regular file"},
      {fifo, "a FIFO"}};
  for (const auto& [path, kind] : notALine) {
    const auto ci = NewTransport<TSerialPortInterface>("device=" + path);
    EXPECT_FALSE(ci->Open()) << path;
    EXPECT_EQ(ci->GetFailureReason(), "cannot open " + path + ": not a serial device (" + kind +
                                          "): Inappropriate ioctl for device (errno 25)");
  }
  const auto pseudoTerminal = NewTransport<TSerialPortInterface>("device=" + line.SlavePath());
  EXPECT_TRUE(pseudoTerminal->Open()) << pseudoTerminal->GetFailureReason();
  std::filesystem::remove_all(directory);
}

// A user whom the device's mode refuses is told whose the device is and how to get access. Root
// is never refused by a mode: as root, zorvidctl runs as user nobody on a line of group dialout;
// as anyone else, the test's own user is refused as the owner.
constexpr char kSetpriv[] = "/usr/bin/setpriv";

TEST(SerialPermissionTest, AUserOutsideTheDevicesGroupIsToldToJoinIt) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can hand the line to user nobody";
  if (access(kSetpriv, X_OK) != 0) GTEST_SKIP() << kSetpriv << ": " << std::strerror(errno);
  const group* dialout = getgrnam("dialout");
  if (!dialout) GTEST_SKIP() << "this system has no group \"dialout\"";
  TPseudoTerminal line;
  const std::string& path = line.SlavePath();
  ASSERT_EQ(chown(path.c_str(), 0, dialout->gr_gid), 0) << path << ": " << std::strerror(errno);
  ASSERT_EQ(chmod(path.c_str(), 0660), 0) << path << ": " << std::strerror(errno);

  const std::vector<std::string> asNobody{kSetpriv, "--reuid=65534", "--regid=65534",
                                          "--clear-groups", ZORVIDCTL_PATH};
  auto command = [&](std::vector<std::string> args) {
    args.insert(args.begin(), asNobody.begin(), asNobody.end());
    return args;
  };
  // A build tree that other users cannot enter leaves nothing to check.
  const TProcessResult version = RunProcess(command({"--version"}), {}, 5s);
  if (version.exitCode != 0) GTEST_SKIP() << "user nobody cannot run zorvidctl: " << version.err;

  const std::string connection = "provider=SERIAL_PORT;device=" + path;
  const TProcessResult run = RunProcess(command({"-c", connection, "ident"}), {}, 5s);
  EXPECT_EQ(run.exitCode, ctl::kExitConnection) << run.err;
  EXPECT_EQ(run.err, "zorvidctl: connection failed: cannot open \"" + connection +
                         "\": cannot open " + path +
                         ": Permission denied (errno 13): the device belongs to group \"dialout\" "
                         "(mode crw-rw----) and user \"nobody\" is not in it; add the user with "
                         "\"sudo usermod -aG dialout nobody\", then log in again\n");
}

TEST(SerialPermissionTest, AnOwnerTheModeRefusesIsToldSo) {
  if (geteuid() == 0) GTEST_SKIP() << "root is never refused by a file mode";
  TPseudoTerminal line;
  const std::string& path = line.SlavePath();
  // The owner may give the line its own group, whose name the text must then carry.
  ASSERT_EQ(chown(path.c_str(), static_cast<uid_t>(-1), getegid()), 0) << std::strerror(errno);
  ASSERT_EQ(chmod(path.c_str(), 0), 0) << path << ": " << std::strerror(errno);
  const passwd* user = getpwuid(geteuid());
  const group* own = getgrgid(getegid());
  ASSERT_TRUE(user && own) << "the test's user or group has no name";

  const auto serial = NewTransport<TSerialPortInterface>("device=" + path);
  EXPECT_FALSE(serial->Open());
  EXPECT_EQ(serial->GetFailureReason(),
            "cannot open " + path +
                ": Permission denied (errno 13): the device belongs to user \"" + user->pw_name +
                "\" and group \"" + own->gr_name +
                "\" (mode c---------), which gives its owner no read and write access");
}

TEST_F(SerialPortTest, ANewNumberReopensTheOpenPortOnItsDevice) {
  TPseudoTerminal other;
  const TPortMapping otherMapping(kPort + 1, other.SlavePath());
  ASSERT_TRUE(serial->Open());
  EXPECT_TRUE(serial->SetComNumber(kPort + 1));
  EXPECT_TRUE(serial->GetActive());
  EXPECT_EQ(serial->GetConnectionName(), "COM212");
  serial->Write("moved");
  EXPECT_EQ(other.Receive(5, 1000ms), "moved");
  // The first line was let go: another transport opens it, and what it sends is all it gets.
  const auto next = NewTransport<TSerialPortInterface>("device=" + line.SlavePath());
  ASSERT_TRUE(next->Open()) << next->GetFailureReason();
  EXPECT_EQ(next->Write("|"), 1);
  EXPECT_EQ(line.Receive(1, 1000ms), "|");

  EXPECT_FALSE(serial->SetComNumber(-1));
  EXPECT_FALSE(serial->SetComNumber(65536));
  EXPECT_TRUE(serial->GetActive());
  EXPECT_EQ(serial->GetConnectionName(), "COM212");
  // Moved to a number without a device, the port cannot reopen.
  EXPECT_FALSE(serial->SetComNumber(kPort + 5));
  EXPECT_FALSE(serial->GetActive());
}

TEST_F(SerialPortTest, ADevicePathOverridesTheNumber) {
  TPseudoTerminal other;
  serial->SetConfiguration("device=" + other.SlavePath());
  ASSERT_TRUE(serial->Open());
  EXPECT_EQ(serial->GetConnectionName(), "COM211");
  serial->Write("by path");
  EXPECT_EQ(other.Receive(7, 1000ms), "by path");
  // A string with both leaves the open port on the new device.
  serial->SetConfiguration("comport=0;device=" + line.SlavePath());
  EXPECT_TRUE(serial->GetActive());
  serial->Write("back");
  EXPECT_EQ(line.Receive(4, 1000ms), "back");
  EXPECT_THAT(observer.Errors(), IsEmpty());
}

// ---- Data --------------------------------------------------------------------------------

TEST_F(SerialPortTest, PeerBytesReachDataRcvOnTheMainThreadAndWritesReachThePeer) {
  ASSERT_TRUE(serial->Open());
  ASSERT_TRUE(line.Send("pong"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return observer.Data() == "pong"; }));
  EXPECT_THAT(observer.ThreadsOf("data"), Each(std::this_thread::get_id()));

  EXPECT_EQ(serial->Write("ping"), 4);
  EXPECT_EQ(serial->Write(""), 0);
  EXPECT_EQ(serial->Write("|"), 1);  // a mark: what the empty write sent would come before it
  EXPECT_EQ(line.Receive(5, 1000ms), "ping|");

  // Bytes nobody reads are counted and read in one piece.
  observer.readOnData = false;
  ASSERT_TRUE(line.Send("abc"));
  ASSERT_TRUE(line.Send("def"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return serial->InBuffUsed() == 6; }));
  EXPECT_EQ(serial->Read(), "abcdef");
  EXPECT_EQ(serial->InBuffUsed(), 0);
  EXPECT_EQ(serial->Read(), "");
}

// The wait of a blocking request watches the device itself: it wakes when bytes come, without
// the event loop, and ends at its time when none come.
TEST_F(SerialPortTest, WaitForDataWakesWithTheBytesWithoutTheEventLoop) {
  ASSERT_TRUE(serial->Open());
  test::ExpectWaitForDataEndsAtItsTimeAndWakesForData(
      *serial, [this](const TByteString& bytes) { EXPECT_TRUE(line.Send(bytes)); });
}

TEST_F(SerialPortTest, PurgesDiscardWhatWaits) {
  ASSERT_TRUE(serial->Open());
  observer.readOnData = false;
  ASSERT_TRUE(line.Send("stale"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return serial->InBuffUsed() == 5; }));
  serial->PurgeInput();
  EXPECT_EQ(serial->InBuffUsed(), 0);
  EXPECT_EQ(serial->Read(), "");
  serial->PurgeOutput();
  serial->Write("fresh");
  EXPECT_EQ(line.Receive(5, 1000ms), "fresh");
}

TEST_F(SerialPortTest, AWriteThatDoesNotFitIsRefusedWhole) {
  EXPECT_THAT(ErrorText<EComPortError>([&] { serial->Write("abc"); }),
              HasSubstr("Write data error [requested: 3, free: 0]"));
  serial->SetOutBufSize(16);
  ASSERT_TRUE(serial->Open());
  EXPECT_THAT(ErrorText<EComPortError>([&] { serial->Write(std::string(17, 'x')); }),
              HasSubstr("Write data error [requested: 17, free: 16]"));
  // Nothing of the refused block comes before what is written next.
  EXPECT_EQ(serial->Write(std::string(16, 'y')), 16);
  EXPECT_EQ(line.Receive(16, 1000ms), std::string(16, 'y'));
}

TEST_F(SerialPortTest, BufferSizesChangeOnlyWhileClosed) {
  serial->SetInBufSize(4096);
  serial->SetOutBufSize(2048);
  ASSERT_TRUE(serial->Open());
  EXPECT_THAT(ErrorText<EComPortError>([&] { serial->SetInBufSize(8192); }),
              HasSubstr("Port is not closed"));
  EXPECT_THAT(ErrorText<EComPortError>([&] { serial->SetOutBufSize(8192); }),
              HasSubstr("Port is not closed"));
  EXPECT_EQ(serial->GetInBufSize(), 4096);
  EXPECT_EQ(serial->GetOutBufSize(), 2048);
}

TEST_F(SerialPortTest, PeerHangupIsACarrierChangeOnTheMainThreadAndThePortStillCloses) {
  ASSERT_TRUE(serial->Open());
  observer.Clear();
  line.CloseMaster();
  const std::string carrierLost = TTransportObserver::SignalEvent(kSignalCarrierDetect, false);
  ASSERT_TRUE(ProcessEventsUntil([&] { return !observer.Events().empty(); }));
  EXPECT_THAT(observer.Events(), ElementsAre(carrierLost));
  EXPECT_THAT(observer.ThreadsOf(carrierLost), Each(std::this_thread::get_id()));
  const auto start = TClock::now();
  EXPECT_TRUE(serial->Close(false));
  EXPECT_LT(TClock::now() - start, 1000ms);  // tens of milliseconds; no thread stuck on the line
  EXPECT_THAT(observer.Errors(), IsEmpty());
}

// The device hangs up while a request waits for its answer: the request ends at once and
// says why; the carrier change still follows on the main thread.
TEST_F(SerialPortTest, AHangupDuringARequestEndsItAtOnce) {
  ASSERT_TRUE(serial->Open());
  auto device = New<TKorvelStackDevice>(0x31, "TDisplay");
  auto stack = New<TKorvelStack>();
  stack->SetCommunicationInterface(serial);
  stack->AddDevice(device);
  device->SetTimeout(60'000);
  observer.Clear();

  TClock::time_point closedAt;
  std::thread peer([&] {
    line.Receive(BuildPacket97(0x31, 1, 0xE3, "").size(), test::kWaitLimit);  // the request
    closedAt = TClock::now();
    line.CloseMaster();
  });
  EXPECT_FALSE(device->CommandE3());
  const auto ended = TClock::now();
  peer.join();
  EXPECT_LT(ended - closedAt, test::kWaitLimit) << "the request waited for its minute";
  EXPECT_EQ(LastResultText(*device), "no answer: the line was closed: " + line.SlavePath() +
                                         " hung up: the other side closed the line");
  const std::string carrierLost = TTransportObserver::SignalEvent(kSignalCarrierDetect, false);
  EXPECT_TRUE(ProcessEventsUntil([&] { return !observer.Events().empty(); }));
  EXPECT_THAT(observer.Events(), ElementsAre(carrierLost));
  stack->RemoveDevice(device);
  stack->SetCommunicationInterface({});
}

TEST_F(SerialPortTest, ClosingWhileBytesArriveDropsThemWithoutError) {
  ASSERT_TRUE(serial->Open());
  std::atomic<bool> stop{false};
  std::thread peer([&] {
    while (!stop) {
      line.Send("flood", 50ms);
      std::this_thread::sleep_for(1ms);
    }
  });
  const bool flowing = ProcessEventsUntil([&] { return observer.Data().size() >= 15; });
  const bool closed = serial->Close(false);
  const std::size_t received = observer.Data().size();
  ASSERT_TRUE(DeliverPostedEvents());  // what was handed off before the close would arrive now
  stop = true;
  peer.join();
  EXPECT_TRUE(flowing);
  EXPECT_TRUE(closed);
  EXPECT_EQ(observer.Data().size(), received);
  EXPECT_THAT(observer.Errors(), IsEmpty());
}

// An open transport on `device` whose data handler drops the last reference to it.
struct TReleaser {
  TRef<TSerialPortInterface> held;
  std::atomic<int> calls{0};
  bool Open(const std::string& device) {
    held = NewTransport<TSerialPortInterface>("device=" + device);
    held->SetOnDataRcv({this, &TReleaser::OnData});
    return held->Open();
  }
  void OnData(TCiRef) {
    ++calls;
    held.Reset();
  }
};

// A data handler that drops the last reference to the transport: the component whose event it
// is must outlive the event (the address sanitizer shows it otherwise).
TEST_F(SerialPortTest, ReleasingTheLastReferenceInsideAnEventIsSafe) {
  TReleaser releaser;
  ASSERT_TRUE(releaser.Open(line.SlavePath()));
  ASSERT_TRUE(line.Send("last"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return !releaser.held; }));
  ASSERT_TRUE(DeliverPostedEvents());  // a second call handed off meanwhile would come now
  EXPECT_EQ(releaser.calls, 1);
  // The released transport closed its port: the device is free again.
  const auto next = NewTransport<TSerialPortInterface>("device=" + line.SlavePath());
  EXPECT_TRUE(next->Open());
}

// Clients on other threads reach the component one at a time while the main thread handles
// its events (the thread sanitizer checks the locking).
TEST_F(SerialPortTest, ClientsOnOtherThreadsShareTheOpenPort) {
  ASSERT_TRUE(serial->Open());
  constexpr std::size_t kWrites = 200;
  std::atomic<bool> done{false};
  std::thread client([&] {
    for (std::size_t i = 0; i < kWrites; ++i) {
      serial->Write("w");
      serial->GetConfiguration();
      serial->InBuffUsed();
      serial->SetBaudRate(i % 2 ? 9600 : 19200);
    }
    done = true;
  });
  std::string echoed;
  const bool finished = ProcessEventsUntil([&] {
    echoed += line.Receive(kWrites, 1ms);
    line.Send("r", 50ms);
    return done.load() && echoed.size() == kWrites;
  });
  client.join();
  EXPECT_TRUE(finished);
  EXPECT_EQ(echoed, std::string(kWrites, 'w'));
  EXPECT_THAT(observer.Data(), Each('r'));
  EXPECT_THAT(observer.Errors(), IsEmpty());
}

// ---- A line on a thread of its own -------------------------------------------------------

// Made and opened on a thread with an event loop of its own, the transport raises received data
// there while the main thread serves no events; it closes and goes there too, and its thread's
// hand-off receiver with it.
TEST(SerialPortOnItsThreadTest, EventsRunOnTheThreadThatOpenedThePort) {
  TPseudoTerminal line;
  TTransportObserver observer;
  test::TDestroyedNodes destroyed;
  const std::size_t receivers = SafeSyncReceiverCount();
  TLoopThread link;
  TRef<TSerialPortInterface> serial;
  link.Run([&] {
    serial = NewTransport<TSerialPortInterface>("device=" + line.SlavePath());
    observer.Attach(*serial);
    EXPECT_TRUE(serial->Open());
  });
  ASSERT_TRUE(line.Send("pong"));
  EXPECT_TRUE(WaitUntil([&] { return observer.Data() == "pong"; }));
  EXPECT_THAT(observer.ThreadsOf("data"), Each(link.Id()));

  const void* node = nullptr;
  link.Run([&] {
    EXPECT_TRUE(serial->Close(false));
    node = Identity(serial.Get());
    serial.Reset();
  });
  EXPECT_THAT(observer.ThreadsOf("close"), ElementsAre(link.Id()));
  EXPECT_THAT(destroyed.ThreadsOf(node), ElementsAre(link.Id()));
  EXPECT_TRUE(WaitUntil([&] { return SafeSyncReceiverCount() == receivers; }));
  EXPECT_THAT(observer.Errors(), IsEmpty());
}

// A data handler on the line's thread drops the last reference: the component goes on that
// thread after the event, with no help from the main thread's event loop.
TEST(SerialPortOnItsThreadTest, ReleasingTheLastReferenceInsideAnEventLetsThePortGoThere) {
  TPseudoTerminal line;
  const std::size_t receivers = SafeSyncReceiverCount();
  TLoopThread link;
  TReleaser releaser;
  link.Run([&] { EXPECT_TRUE(releaser.Open(line.SlavePath())); });
  ASSERT_TRUE(line.Send("last"));
  EXPECT_TRUE(WaitUntil([&] { return SafeSyncReceiverCount() == receivers; }));
  EXPECT_EQ(releaser.calls, 1);
}

// ---- Settings dialog and factory ---------------------------------------------------------

// The line whose dialog is up, and another thread's attempt to take its lock meanwhile: a
// dialog runs the event loop, so holding the lock across it would stall whatever needs the line.
ICommunicationInterface* lineInDialog = nullptr;
std::future<void> lockedDuringDialog;

// The dialog "chosen by the user": 19200 baud, even parity.
bool ChooseFastEven(const std::string& portName, TComSettings& settings) {
  if (lineInDialog) {
    lockedDuringDialog = std::async(std::launch::async, [] {
      lineInDialog->Lock();
      lineInDialog->Unlock();
    });
    EXPECT_EQ(lockedDuringDialog.wait_for(test::kWaitLimit), std::future_status::ready)
        << "the line's lock is held while its dialog is up";
  }
  EXPECT_EQ(portName, "COM211");
  EXPECT_EQ(settings.baudRate, 9600);
  settings.baudRate = 19200;
  settings.parity = 2;
  return true;
}

bool Cancel(const std::string&, TComSettings& settings) {
  settings.baudRate = 300;
  return false;
}

TEST_F(SerialPortTest, SetupGoesThroughThePortSettingsHook) {
  observer.Clear();
  EXPECT_FALSE(serial->Setup());  // no hook installed
  SetPortSettingsHook(&Cancel);
  EXPECT_FALSE(serial->Setup());
  EXPECT_EQ(serial->GetBaudRate(), 9600);
  EXPECT_THAT(observer.Events(), IsEmpty());

  SetPortSettingsHook(&ChooseFastEven);
  lineInDialog = serial.Get();
  const bool confirmed = serial->Setup();
  lineInDialog = nullptr;
  SetPortSettingsHook(nullptr);
  ASSERT_TRUE(lockedDuringDialog.valid());
  lockedDuringDialog.get();
  EXPECT_TRUE(confirmed);
  EXPECT_EQ(serial->GetBaudRate(), 19200);
  EXPECT_EQ(serial->GetParity(), TParity::Even);
  EXPECT_THAT(observer.Events(), ElementsAre("config"));
}

TEST_F(SerialPortTest, TheFactoryBuildsItFromAConnectionString) {
  TCiRef ci;
  EXPECT_FALSE(CreateTransport("provider=SERIAL_PORT;" + PortString(kPort), ci));
  RegisterStandardTransports();
  const bool created =
      CreateTransport(" Provider = serial_port ; COMPORT = 211 ; BaudRate = 19200 ; active=1", ci);
  const std::string conversion = ErrorText<EConvertError>([] {
    TCiRef unused;
    CreateTransport("provider=SERIAL_PORT;comport=eleven", unused);
  });
  UnregisterStandardTransports();
  ASSERT_TRUE(created);
  const auto port = Supports<ISerialPortInterface>(ci);
  ASSERT_TRUE(port);
  EXPECT_TRUE(port->GetActive());
  EXPECT_EQ(port->GetBaudRate(), 19200);
  EXPECT_EQ(port->GetConnectionName(), "COM211");
  EXPECT_EQ(conversion, "Connection string key \"comport\": 'eleven' is not a valid integer value");
}

}  // namespace
}  // namespace zorvid
