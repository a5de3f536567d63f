// The USB transport through the stand-in bridge library, which the test process finds by name
// through LD_LIBRARY_PATH: the binding, opening by serial number with the stored settings in
// their order, data both ways with received data announced on the reader thread, failures of
// the library (named in the failure reason; an input/output error closes, outside the transport's
// lock), the serial number and the connection string, the reader thread that lives only while
// the bridge is open, the abandoned open device that closes as it goes, and the enumeration.
// The stand-in writes every call it gets to a trace file, which is what most checks read.
#include "transport/FTDIDirect.h"

#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/PseudoTerminal.h"
#include "tests/support/TransportObserver.h"
#include "transport/Transports.h"

namespace zorvid {
namespace {

using namespace std::chrono_literals;
using test::TErrorReport;
using test::TPseudoTerminal;
using test::WaitUntil;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr auto kLimit = test::kWaitLimit;  // of a wait for bytes that come at once
const std::string kSerial = "ZTEST1";
const std::string kOtherSerial = "ZTEST2";

void SetEnv(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
}

// The threads of this process. A sanitizer starts a thread of its own with the first thread
// created, which a warm-up thread takes care of before the first count.
std::size_t ThreadCount() {
  static const bool warmedUp = [] {
    std::thread([] {}).join();
    return true;
  }();
  static_cast<void>(warmedUp);
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

// A device for bridge ZTEST1, whose line is a pseudo-terminal; every library call is traced.
class FTDIDirectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tracePath_ = ::testing::TempDir() + "ftdi-trace-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::remove(tracePath_.c_str());
    SetEnv("ZORVID_FTDI_TRACE", tracePath_);
    SetEnv("ZORVID_FTDI_" + kSerial, "pty:" + line.SlavePath());
    unsetenv("ZORVID_FTDI_FAIL");
    unsetenv("ZORVID_FTDI_READ_CHUNK");
    unsetenv("ZORVID_FTDI_DEVICES");
    device = New<TFTDIDevice>();
    observer.Attach(*device);
  }
  void TearDown() override {
    if (device) {
      device->Close(false);
      observer.Detach(*device);
    }
    device.Reset();
    std::remove(tracePath_.c_str());
  }

  // The calls traced so far, without the queue polls of the reader, whose number depends on
  // timing.
  std::vector<std::string> Trace() const {
    std::vector<std::string> lines;
    std::ifstream file(tracePath_);
    for (std::string text; std::getline(file, text);)
      if (text != "FT_GetQueueStatus") lines.push_back(text);
    return lines;
  }
  void ClearTrace() const { std::remove(tracePath_.c_str()); }
  // Opened through the connection string, as the factory's clients do.
  void OpenWith(const std::string& settings) {
    device->SetConfiguration("serial_number=" + kSerial + ";" + settings + ";active=1");
    ASSERT_TRUE(device->GetActive()) << ::testing::PrintToString(observer.Errors());
  }

  TPseudoTerminal line;
  test::TTransportObserver observer{/*inspectCloses=*/true};
  TRef<TFTDIDevice> device;

 private:
  std::string tracePath_;
};

// ---- Binding and defaults ----------------------------------------------------------------

TEST(FTDIBindingTest, TheStandInIsFoundByNameWithEveryEntryPoint) {
  EXPECT_TRUE(Ftd2xx().loaded);
  EXPECT_EQ(Ftd2xx().missingNames, "");
  EXPECT_TRUE(Ftd2xx().Available());
  EXPECT_EQ(Ftd2xx().UnavailableReason(), "");
  EXPECT_NE(Ftd2xx().entry.FT_OpenEx, nullptr);
}

TEST(FTDIBindingTest, StatusesAreNamedAsTheLibraryNamesThem) {
  EXPECT_EQ(FtStatusName(kFtOk), "FT_OK");
  EXPECT_EQ(FtStatusName(kFtIoError), "FT_IO_ERROR");
  EXPECT_EQ(FtStatusName(19), "FT_DEVICE_LIST_NOT_READY");
  EXPECT_EQ(FtStatusName(20), "status 20");
  EXPECT_EQ(FtStatusName(kFtEntryPointNotFound), "entry point not found");
}

TEST_F(FTDIDirectTest, NewDeviceHasTheDefaultsAndIsClosed) {
  EXPECT_EQ(device->GetConfiguration(),
            "provider=FTD_USB;serial_number=;baudrate=115200;databits=8;stopbits=One;"
            "parity=None;dtr=-1;rts=-1");
  EXPECT_EQ(device->GetConnectionName(), "");
  EXPECT_EQ(device->GetDescription(), "");
  EXPECT_FALSE(device->GetActive());
  EXPECT_EQ(device->GetHandle(), nullptr);
  EXPECT_FALSE(device->ReadCTS());
  EXPECT_FALSE(device->ReadDSR());
  EXPECT_TRUE(device->HasSetup());
  const TCiRef ci = device;
  EXPECT_TRUE(Supports<IFTDISerialPortInterface>(ci));
  EXPECT_TRUE(IID_IFTDISerialPortInterface.offeredBy(ci.Get()));
  EXPECT_EQ(IID_IFTDISerialPortInterface.guid, "{CBFAE6C0-8E72-4D7F-8C51-C36038E6F5F5}");
}

TEST_F(FTDIDirectTest, TheFactoryBuildsItUnderItsProviderName) {
  RegisterStandardTransports();
  TCiRef created;
  ASSERT_TRUE(CreateTransport("provider=FTD_USB;serial_number=ABC;baudrate=9600", created));
  UnregisterStandardTransports();
  EXPECT_TRUE(Supports<IFTDISerialPortInterface>(created));
  EXPECT_EQ(created->GetConnectionName(), "ABC");
  EXPECT_EQ(created->GetConfiguration(),
            "provider=FTD_USB;serial_number=ABC;baudrate=9600;databits=8;stopbits=One;"
            "parity=None;dtr=-1;rts=-1");
  EXPECT_FALSE(created->GetActive());
  EXPECT_THAT(Trace(), IsEmpty());
}

// ---- Opening and closing -----------------------------------------------------------------

TEST_F(FTDIDirectTest, OpensTheBridgeBySerialNumberAndAppliesTheSettingsInOrder) {
  OpenWith("baudrate=9600;databits=7;parity=Even;stopbits=Two;dtr=0");
  EXPECT_NE(device->GetHandle(), nullptr);
  EXPECT_EQ(device->GetConnectionName(), kSerial);
  EXPECT_THAT(Trace(),
              ElementsAre("FT_OpenEx ZTEST1 1", "FT_ResetDevice", "FT_SetEventNotification 3",
                          "FT_SetBaudRate 9600", "FT_SetDataCharacteristics 7 2 2",
                          "FT_SetDataCharacteristics 7 2 2", "FT_SetDataCharacteristics 7 2 2",
                          "FT_ClrDtr", "FT_SetRts"));
  EXPECT_THAT(observer.Events(), Contains("open"));
  EXPECT_THAT(observer.Errors(), IsEmpty());

  ClearTrace();
  EXPECT_TRUE(device->Close(false));
  EXPECT_FALSE(device->GetActive());
  EXPECT_THAT(Trace(), ElementsAre("FT_Close"));
  EXPECT_EQ(observer.Events().back(), "close");
}

TEST_F(FTDIDirectTest, OpeningFailsWithoutASerialNumberOrABridge) {
  EXPECT_FALSE(device->Open());
  EXPECT_THAT(Trace(), IsEmpty());  // the library was not asked
  EXPECT_EQ(device->GetFailureReason(), "no serial number given");

  device->SetSerialNumber("ZNOTTHERE");
  EXPECT_FALSE(device->Open());
  EXPECT_THAT(Trace(), ElementsAre("FT_OpenEx ZNOTTHERE 1"));
  EXPECT_EQ(device->GetFailureReason(), "FT_OpenEx(\"ZNOTTHERE\") failed: FT_DEVICE_NOT_FOUND");
  EXPECT_FALSE(device->GetActive());
  EXPECT_THAT(observer.Errors(), ElementsAre(TErrorReport{"Open"}, TErrorReport{"Open"}));
}

TEST_F(FTDIDirectTest, DisablingThePortClosesIt) {
  OpenWith("");
  ClearTrace();
  device->SetPortEnabled(false);
  EXPECT_FALSE(device->GetPortEnabled());
  EXPECT_FALSE(device->GetActive());
  EXPECT_THAT(Trace(), ElementsAre("FT_Close"));
}

TEST_F(FTDIDirectTest, TheReaderThreadLivesOnlyWhileTheBridgeIsOpen) {
  const std::size_t closedThreads = ThreadCount();
  EXPECT_EQ(device->ReaderThreadId(), std::thread::id());
  for (int round = 0; round < 2; ++round) {
    OpenWith("");
    EXPECT_NE(device->ReaderThreadId(), std::thread::id());
    EXPECT_GT(ThreadCount(), closedThreads);
    ASSERT_TRUE(device->Close(false));
    EXPECT_EQ(device->ReaderThreadId(), std::thread::id());
    // A joined thread can stay listed for a moment until the kernel reaps it.
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == closedThreads; }))
        << "round " << round << ": " << ThreadCount() << " threads, " << closedThreads << " before";
  }
}

// ---- Data ----------------------------------------------------------------------------------

TEST_F(FTDIDirectTest, DataGoesBothWaysAndArrivesOnTheReaderThread) {
  OpenWith("");
  EXPECT_EQ(device->Write("hello"), 5);
  EXPECT_EQ(line.Receive(5, kLimit), "hello");

  ASSERT_TRUE(line.Send(std::string("\x2A\0\x01", 3)));
  ASSERT_TRUE(WaitUntil([&] { return observer.Data().size() == 3; }));
  EXPECT_EQ(observer.Data(), std::string("\x2A\0\x01", 3));
  const auto threads = observer.ThreadsOf("data");
  ASSERT_FALSE(threads.empty());
  EXPECT_EQ(threads.front(), device->ReaderThreadId());
  EXPECT_NE(threads.front(), std::this_thread::get_id());
}

// The wait of a blocking request, which holds the line so the reader cannot take the bytes:
// it wakes with the library's data signal and ends at its time when nothing comes.
TEST_F(FTDIDirectTest, WaitForDataWakesWithTheLibrarySignalWhileTheLineIsHeld) {
  OpenWith("");
  device->Lock();
  test::ExpectWaitForDataEndsAtItsTimeAndWakesForData(
      *device, [this](const TByteString& bytes) { EXPECT_TRUE(line.Send(bytes)); });
  device->Unlock();
}

TEST_F(FTDIDirectTest, BytesLeftAfterAReadAreAnnouncedAgainAtOnce) {
  // One byte per read: without a fresh signal each further byte would wait for the reader's
  // 100 ms limit, twenty seconds for these two hundred, which take milliseconds otherwise.
  constexpr std::size_t kCount = 200;
  SetEnv("ZORVID_FTDI_READ_CHUNK", "1");
  OpenWith("");
  ASSERT_TRUE(line.Send(std::string(kCount, 'x')));
  ASSERT_TRUE(WaitUntil([&] { return !observer.Data().empty(); }));
  EXPECT_TRUE(WaitUntil([&] { return observer.Data().size() == kCount; }, 5s))
      << observer.Data().size() << " bytes";
  EXPECT_GE(observer.ThreadsOf("data").size(), kCount);
}

TEST_F(FTDIDirectTest, PurgesReachTheLibrary) {
  OpenWith("");
  ClearTrace();
  device->PurgeInput();
  device->PurgeOutput();
  EXPECT_THAT(Trace(), ElementsAre("FT_Purge 1", "FT_Purge 2"));
}

// ---- Library failures ---------------------------------------------------------------------

TEST_F(FTDIDirectTest, AnInputOutputErrorClosesTheTransportOnTheReaderOutsideTheLock) {
  SetEnv("ZORVID_FTDI_FAIL", "FT_Read:4");
  OpenWith("");
  const std::thread::id reader = device->ReaderThreadId();
  ASSERT_TRUE(line.Send("abc"));
  ASSERT_TRUE(WaitUntil([&] { return !observer.ThreadsOf("close").empty(); }));
  EXPECT_FALSE(device->GetActive());
  EXPECT_EQ(observer.ThreadsOf("close").front(), reader);
  EXPECT_THAT(observer.LockFreeAtClose(), ElementsAre(true));
  EXPECT_THAT(observer.ReasonsAtClose(), ElementsAre("FT_Read(\"ZTEST1\", 3) failed: FT_IO_ERROR"));
  EXPECT_EQ(device->ReaderThreadId(), std::thread::id());
  EXPECT_THAT(Trace(), Contains("FT_Close"));
  EXPECT_THAT(observer.Errors(), IsEmpty());
  EXPECT_TRUE(device->Open()) << device->GetFailureReason();  // a closed bridge opens again
}

// A blocking request holds the line while it waits; an input/output error meanwhile ends its
// wait, and the close follows once the request lets go of the line, never under its lock.
TEST_F(FTDIDirectTest, AnInputOutputErrorDuringABlockingRequestClosesAfterIt) {
  SetEnv("ZORVID_FTDI_FAIL", "FT_Read:4");
  OpenWith("");
  device->Lock();
  ASSERT_TRUE(line.Send("answer"));
  ASSERT_TRUE(device->WaitForData(10'000));
  EXPECT_EQ(device->Read(), "");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(device->WaitForData(60'000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, test::kWaitLimit)
      << "the wait ran to its minute";
  EXPECT_TRUE(device->GetActive());  // the close waits for the line
  EXPECT_THAT(observer.Events(), Not(Contains("close")));
  device->Unlock();
  ASSERT_TRUE(WaitUntil([&] { return !observer.ThreadsOf("close").empty(); }));
  EXPECT_FALSE(device->GetActive());
  EXPECT_THAT(observer.LockFreeAtClose(), ElementsAre(true));
}

TEST_F(FTDIDirectTest, OtherFailuresOnlyFailTheOperation) {
  SetEnv("ZORVID_FTDI_FAIL", "FT_Read:3,FT_SetBaudRate:7,FT_Write:42");
  OpenWith("baudrate=9600");  // the refused rate does not fail the opening
  device->SetBaudRate(19200);
  EXPECT_EQ(device->GetBaudRate(), 9600);
  EXPECT_THAT(observer.Errors(), ElementsAre(TErrorReport{"SetBaudRate", {"19200"}}));
  EXPECT_FALSE(device->ApplyBaudRate(19200));
  EXPECT_EQ(device->GetFailureReason(),
            "FT_SetBaudRate(\"ZTEST1\", 19200) failed: FT_INVALID_BAUD_RATE");
  EXPECT_EQ(device->Write("abc"), 0);
  EXPECT_EQ(device->GetFailureReason(), "FT_Write(\"ZTEST1\", 3) failed: status 42");

  ASSERT_TRUE(line.Send("abc"));
  ASSERT_TRUE(WaitUntil([&] { return !observer.ThreadsOf("data").empty(); }));
  EXPECT_TRUE(device->GetActive());
  EXPECT_EQ(observer.Data(), "");
  EXPECT_THAT(observer.Events(), Not(Contains("close")));
}

// ---- Settings ------------------------------------------------------------------------------

TEST_F(FTDIDirectTest, SettingsOnAClosedDeviceAreStoredWithoutTheLibrary) {
  device->SetConfiguration("serial_number=ABC;baudrate=57600;databits=7;parity=Odd;rts=0");
  EXPECT_EQ(device->GetConfiguration(),
            "provider=FTD_USB;serial_number=ABC;baudrate=57600;databits=7;stopbits=One;"
            "parity=Odd;dtr=-1;rts=0");
  EXPECT_DOUBLE_EQ(device->GetCharTime(), 1000.0 / 57600 * 10.0);
  EXPECT_FALSE(device->ApplyDatabits(9));
  EXPECT_FALSE(device->ApplyBaudRate(0));
  EXPECT_THAT(Trace(), IsEmpty());
}

TEST_F(FTDIDirectTest, SettingsOnAnOpenDeviceGoToTheLibraryAndRefusalsAreTakenBack) {
  SetEnv("ZORVID_FTDI_FAIL", "FT_ClrRts:3");
  OpenWith("");
  ClearTrace();
  EXPECT_TRUE(device->ApplyParity(TParity::Mark));
  EXPECT_TRUE(device->ApplyStopBits(TStopBits::OneAndHalf));
  EXPECT_TRUE(device->ApplyDTR(false));
  EXPECT_TRUE(device->ApplyBaudRate(4800));
  EXPECT_FALSE(device->ApplyRTS(false));
  EXPECT_THAT(Trace(),
              ElementsAre("FT_SetDataCharacteristics 8 0 3", "FT_SetDataCharacteristics 8 1 3",
                          "FT_ClrDtr", "FT_SetBaudRate 4800", "FT_ClrRts"));
  EXPECT_FALSE(device->GetDTR());
  EXPECT_TRUE(device->GetRTS());  // refused: the old state stays
  EXPECT_EQ(device->GetBaudRate(), 4800);
}

TEST_F(FTDIDirectTest, ARefusedCharacteristicIsTakenBack) {
  SetEnv("ZORVID_FTDI_FAIL", "FT_SetDataCharacteristics:3");
  OpenWith("");
  EXPECT_FALSE(device->ApplyParity(TParity::Even));
  EXPECT_FALSE(device->ApplyDatabits(7));
  EXPECT_EQ(device->GetParity(), TParity::None);
  EXPECT_EQ(device->GetDatabits(), 8);
}

TEST_F(FTDIDirectTest, TheSameSerialNumberAgainDoesNotReopen) {
  OpenWith("");
  ClearTrace();
  observer.Clear();
  device->SetSerialNumber(kSerial);
  device->SetConfiguration("serial_number=" + kSerial);
  EXPECT_THAT(Trace(), IsEmpty());
  EXPECT_TRUE(device->GetActive());
  EXPECT_THAT(observer.Events(), Not(Contains("close")));
}

TEST_F(FTDIDirectTest, AnotherSerialNumberMovesAnOpenDeviceWithoutOpenOrClose) {
  TPseudoTerminal otherLine;
  SetEnv("ZORVID_FTDI_" + kOtherSerial, "pty:" + otherLine.SlavePath());
  OpenWith("baudrate=9600");
  ClearTrace();
  observer.Clear();
  device->SetSerialNumber(kOtherSerial);
  EXPECT_TRUE(device->GetActive());
  EXPECT_EQ(device->GetConnectionName(), kOtherSerial);
  const auto trace = Trace();
  ASSERT_GE(trace.size(), 3u);
  EXPECT_EQ(trace[0], "FT_Close");
  EXPECT_EQ(trace[1], "FT_OpenEx ZTEST2 1");
  EXPECT_THAT(trace, Contains("FT_SetBaudRate 9600"));
  EXPECT_THAT(observer.Events(), ElementsAre("config"));
  EXPECT_EQ(device->Write("moved"), 5);
  EXPECT_EQ(otherLine.Receive(5, kLimit), "moved");
}

TEST_F(FTDIDirectTest, SetupGoesThroughTheHook) {
  EXPECT_FALSE(device->Setup());  // no hook
  // Set on every run: a repeated run in the same process finds them as the last one left them.
  static std::int32_t shownRate;
  static bool confirm;
  shownRate = 0;
  confirm = false;
  SetUsbSetupHook([](std::int32_t baudRate) {
    shownRate = baudRate;
    return confirm;
  });
  device->SetBaudRate(38400);
  observer.Clear();
  EXPECT_FALSE(device->Setup());
  EXPECT_EQ(shownRate, 38400);
  EXPECT_THAT(observer.Events(), IsEmpty());
  confirm = true;
  EXPECT_TRUE(device->Setup());
  EXPECT_THAT(observer.Events(), ElementsAre("config"));
  SetUsbSetupHook(nullptr);
}

// ---- Lifetime ----------------------------------------------------------------------------

// The reader holds no reference: a device goes where its last reference goes, open or not, and
// an open one closes its bridge and ends its reader on the way.
TEST_F(FTDIDirectTest, ADeviceGoesWhereItsLastReferenceGoes) {
  const std::size_t closedThreads = ThreadCount();
  // A record of its own for each device: the second may take the first one's address.
  const auto expectGoesHere = [this] {
    test::TDestroyedNodes destroyed;
    const void* node = Identity(device.Get());
    device.Reset();
    EXPECT_THAT(destroyed.ThreadsOf(node), ElementsAre(std::this_thread::get_id()));
  };
  observer.Detach(*device);
  expectGoesHere();

  device = New<TFTDIDevice>();
  OpenWith("");
  ClearTrace();
  expectGoesHere();
  EXPECT_THAT(Trace(), ElementsAre("FT_Close"));
  EXPECT_EQ(ThreadCount(), closedThreads);
}

// ---- Enumeration -------------------------------------------------------------------------

class FTDIEnumerationTest : public FTDIDirectTest {
 protected:
  void SetUp() override {
    FTDIDirectTest::SetUp();
    SetEnv("ZORVID_FTDI_DEVICES", "SER1:Desc one,SER22:,SER333:Desc three");
  }
};

TEST_F(FTDIEnumerationTest, CountsTheAttachedBridges) {
  EXPECT_EQ(GetUSBDeviceCount(), 3);
  SetEnv("ZORVID_FTDI_FAIL", "FT_CreateDeviceInfoList:4");
  EXPECT_EQ(GetUSBDeviceCount(), -1);
}

TEST_F(FTDIEnumerationTest, TextsFollowTheBufferRules) {
  std::uint32_t length = 0;
  EXPECT_EQ(GetUSBSerialNumber(2, nullptr, length), 0u);
  EXPECT_EQ(length, 7u);

  char buffer[16] = "untouched";
  length = 6;
  EXPECT_EQ(GetUSBSerialNumber(2, buffer, length), kUsbBufferTooSmall);
  EXPECT_EQ(length, 7u);
  EXPECT_STREQ(buffer, "untouched");

  length = 7;
  EXPECT_EQ(GetUSBSerialNumber(2, buffer, length), 0u);
  EXPECT_EQ(length, 6u);
  EXPECT_STREQ(buffer, "SER333");

  length = sizeof buffer;
  EXPECT_EQ(GetUSBDescription(0, buffer, length), 0u);
  EXPECT_EQ(length, 8u);
  EXPECT_STREQ(buffer, "Desc one");
}

TEST_F(FTDIEnumerationTest, LibraryFailuresAddTheirStatus) {
  std::uint32_t length = 0;
  EXPECT_EQ(GetUSBDescription(3, nullptr, length), kUsbLibraryCallFailed + 2);  // not found
  SetEnv("ZORVID_FTDI_FAIL", "FT_GetDeviceInfoDetail:5");
  EXPECT_EQ(GetUSBSerialNumber(0, nullptr, length), kUsbLibraryCallFailed + 5);
}

TEST_F(FTDIEnumerationTest, TheListHoldsTheDescribedBridgesTaggedWithTheirIndex) {
  TUsbDeviceList list{{"stale", 9}};
  FillUSBDeviceList(list);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].text, "Desc one");
  EXPECT_EQ(list[0].tag, 0);
  EXPECT_EQ(list[1].text, "Desc three");
  EXPECT_EQ(list[1].tag, 2);
  EXPECT_EQ(GetUSBItemSerialNumber(list, 1), "SER333");
  EXPECT_EQ(GetUSBItemSerialNumber(list, 0), "SER1");
  EXPECT_EQ(GetUSBItemSerialNumber(list, -1), "");
  EXPECT_EQ(GetUSBItemSerialNumber(list, 2), "");

  SetEnv("ZORVID_FTDI_FAIL", "FT_GetDeviceInfoDetail:5");
  FillUSBDeviceList(list);
  EXPECT_THAT(list, IsEmpty());
}

}  // namespace
}  // namespace zorvid
