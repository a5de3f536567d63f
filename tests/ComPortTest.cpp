#include "transport/serial/ComPort.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/EventLoop.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/ShownMessages.h"

// Every line here is a pseudo-terminal mapped to a port number of its own (COM201 and up, which
// have no default device), so no test ever touches a real port.

namespace zorvid {
namespace {

using test::DeliverPostedEvents;
using test::ErrorText;
using test::ProcessEventsFor;
using test::ProcessEventsUntil;

using namespace std::chrono_literals;
using test::TPortMapping;
using test::TPseudoTerminal;
using test::TShownMessages;
using TClock = std::chrono::steady_clock;
using ::testing::StartsWith;

constexpr int kPort = 201;

// The texts of the errors the component and its core raise.
const auto PortError = &ErrorText<EComPortError>;
const auto CoreError = &ErrorText<EComPortCoreError>;

// Records the component's events; all but the non-synchronised ones arrive on the main thread.
struct TRecorder {
  std::vector<std::string> notifications;
  std::vector<std::int32_t> dataCounts;
  std::vector<std::thread::id> dataThreads;
  std::vector<TComCoreEvent> syncKinds;
  std::vector<TClock::time_point> syncTimes;
  std::string data;
  bool readOnData = true;
  int outBufFree = 0;
  int carrierChanges = 0;

  void OnOpen(TComPort*) { notifications.push_back("open"); }
  void OnClose(TComPort*) { notifications.push_back("close"); }
  void OnData(TComPort* port, std::int32_t count) {
    dataCounts.push_back(count);
    dataThreads.push_back(std::this_thread::get_id());
    if (readOnData) data += port->ReadAll();
  }
  void OnSync(TComPort*, TComCoreEvent kind, const TComEventData&) {
    syncKinds.push_back(kind);
    syncTimes.push_back(TClock::now());
  }
  void OnOutBufFree(TComPort*) { ++outBufFree; }
  void OnCarrier(TComPort*) { ++carrierChanges; }

  void Attach(TComPort& port) {
    port.OnPortOpen.Set({this, &TRecorder::OnOpen});
    port.OnPortClose.Set({this, &TRecorder::OnClose});
    port.OnDataRecived.Set({this, &TRecorder::OnData});
    port.OnSyncEvent.Set({this, &TRecorder::OnSync});
    port.OnOutBufFree.Set({this, &TRecorder::OnOutBufFree});
    port.OnRLSDChanged.Set({this, &TRecorder::OnCarrier});
  }
  std::size_t CountOf(TComCoreEvent kind) const {
    return static_cast<std::size_t>(std::count(syncKinds.begin(), syncKinds.end(), kind));
  }
};

// Bytes `from` up to `from + count` of a pattern that does not repeat every 256 bytes, to catch
// reordering.
std::string Pattern(std::size_t from, std::size_t count) {
  std::string bytes(count, '\0');
  for (std::size_t i = from; i < from + count; ++i)
    bytes[i - from] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

// A port on a pseudo-terminal mapped to COM201.
class ComPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recorder.Attach(port);
    port.SetComNumber(kPort);
  }

  TPseudoTerminal line;
  TPortMapping mapping{kPort, line.SlavePath()};
  TRecorder recorder;  // outlives the port
  TComPort port{"ComPort1"};
};

// Names only: nothing is opened.
TEST(SerialPlatformTest, PortNumbersNameTheirDevices) {
  EXPECT_EQ(DevicePathForPort(1), "/dev/ttyS0");
  EXPECT_EQ(DevicePathForPort(32), "/dev/ttyS31");
  EXPECT_EQ(DevicePathForPort(33), "/dev/ttyUSB0");
  EXPECT_EQ(DevicePathForPort(96), "/dev/ttyUSB63");
  EXPECT_EQ(DevicePathForPort(97), "/dev/ttyACM0");
  EXPECT_EQ(DevicePathForPort(160), "/dev/ttyACM63");
  EXPECT_EQ(DevicePathForPort(161), "/dev/ttyAMA0");
  EXPECT_EQ(DevicePathForPort(192), "/dev/ttyAMA31");
  EXPECT_EQ(DevicePathForPort(193), "");
  EXPECT_EQ(DevicePathForPort(0), "");
  const TPortMapping mapped(3, "/dev/serial/by-id/some-adapter");
  EXPECT_EQ(DevicePathForPort(3), "/dev/serial/by-id/some-adapter");
}

TEST(ComPortSettingsTest, DefaultsAndTheirRecord) {
  TComPort port;
  EXPECT_FALSE(port.GetAutoOpen());
  EXPECT_EQ(port.GetBaudRate(), br115200);
  EXPECT_EQ(port.GetUserBaudRate(), 0);
  EXPECT_EQ(port.GetComNumber(), 0);
  EXPECT_EQ(port.GetDatabits(), db8);
  EXPECT_EQ(port.GetParity(), paNone);
  EXPECT_EQ(port.GetStopbits(), sbOne);
  EXPECT_EQ(port.GetFlowControl(), fwNone);
  EXPECT_EQ(port.GetOptions(), TComOptions{});
  EXPECT_TRUE(port.GetDTR());
  EXPECT_TRUE(port.GetRTS());
  EXPECT_EQ(port.GetXOnChar(), 17);
  EXPECT_EQ(port.GetXOffChar(), 19);
  EXPECT_EQ(port.GetXOnLim(), 0);
  EXPECT_EQ(port.GetXOffLim(), 0);
  EXPECT_EQ(port.GetInBufSize(), 4096);
  EXPECT_EQ(port.GetOutBufSize(), 2048);
  EXPECT_EQ(port.GetEventThreadPriority(), tpNormal);
  EXPECT_EQ(port.GetWriteThreadPriority(), tpHighest);
  EXPECT_FALSE(port.IsOpen());

  const TComSettings& record = port.GetSettings();
  EXPECT_EQ(record.baudRate, 115200);
  EXPECT_EQ(record.byteSize, 8);
  EXPECT_EQ(record.parity, 0);
  EXPECT_EQ(record.stopBits, 0);
  EXPECT_TRUE(record.binary);
  EXPECT_EQ(record.dtrControl, TDtrControl::Enable);
  EXPECT_EQ(record.rtsControl, TRtsControl::Enable);
  EXPECT_FALSE(record.outX || record.inX || record.outxCtsFlow || record.outxDsrFlow);
}

TEST(ComPortSettingsTest, UserRateAndFixedRatesReplaceEachOther) {
  TComPort port;
  port.SetUserBaudRate(12345);
  EXPECT_EQ(port.GetBaudRate(), brUser);
  EXPECT_EQ(port.GetSettings().baudRate, 12345);
  port.SetBaudRate(br9600);
  EXPECT_EQ(port.GetUserBaudRate(), 0);
  EXPECT_EQ(port.GetSettings().baudRate, 9600);
  port.SetBaudRate(br256000);
  EXPECT_EQ(port.GetSettings().baudRate, 256000);
  EXPECT_EQ(FixedBaudRate(br110), 110);
  EXPECT_EQ(FixedBaudRate(br14400), 14400);
  EXPECT_EQ(FixedBaudRate(brUser), 0);
}

TEST(ComPortSettingsTest, FlowControlThresholdsFollowTheInputSize) {
  TComPort port;
  port.SetXOnLim(1000);
  EXPECT_EQ(port.GetXOffLim(), 4096 - 1000);
  port.SetXOffLim(5000);  // 4096 - 5000 = -904, whose low 16 bits are 64632
  EXPECT_EQ(port.GetXOnLim(), 64632);

  port.SetFlowControl(fwRtsCts);
  EXPECT_EQ(port.GetXOnLim(), 1024);
  EXPECT_EQ(port.GetXOffLim(), 3072);
  port.SetInBufSize(10'000'000);
  EXPECT_EQ(port.GetXOnLim(), 2'500'000 & 0xFFFF);
  EXPECT_EQ(port.GetXOffLim(), 7'500'000 & 0xFFFF);
  port.SetFlowControl(fwNone);
  EXPECT_EQ(port.GetXOnLim(), 0);
  EXPECT_EQ(port.GetXOffLim(), 0);
}

TEST(ComPortSettingsTest, RecordFlagsFollowFlowControlOptionsAndLines) {
  TComPort port;
  port.SetFlowControl(fwXOnXOff);
  EXPECT_TRUE(port.GetSettings().outX && port.GetSettings().inX);
  EXPECT_EQ(port.GetSettings().xonLim, 1024);

  port.SetFlowControl(fwRtsCts);
  EXPECT_TRUE(port.GetSettings().outxCtsFlow);
  EXPECT_EQ(port.GetSettings().rtsControl, TRtsControl::Handshake);
  EXPECT_EQ(port.GetSettings().dtrControl, TDtrControl::Enable);

  port.SetDTR(false);  // stored now, in the record from the next rebuild
  port.SetFlowControl(fwDtrDsr);
  EXPECT_TRUE(port.GetSettings().outxDsrFlow);
  EXPECT_EQ(port.GetSettings().dtrControl, TDtrControl::Handshake);
  EXPECT_EQ(port.GetSettings().rtsControl, TRtsControl::Enable);
  port.SetFlowControl(fwNone);
  EXPECT_EQ(port.GetSettings().dtrControl, TDtrControl::Disable);

  port.SetOptions({coParityCheck, coIgnoreXOff, coStripNull});
  const TComSettings& record = port.GetSettings();
  EXPECT_TRUE(record.parityCheck && record.txContinueOnXoff && record.stripNull);
  EXPECT_FALSE(record.dsrSensitivity || record.errorChar);

  port.SetDatabits(db5);
  port.SetParity(paMark);
  port.SetStopbits(sbOneAndHalf);
  EXPECT_EQ(port.GetSettings().byteSize, 5);
  EXPECT_EQ(port.GetSettings().parity, 3);
  EXPECT_EQ(port.GetSettings().stopBits, 1);
}

TEST(ComPortSettingsTest, ValuesOutsideTheListsAreRefused) {
  TComPort port("Guard");
  EXPECT_EQ(PortError([&] { port.SetDatabits(static_cast<TComDatabits>(5)); }),
            "Databits value 5 is out of range (0..4) - Guard ");
  EXPECT_EQ(PortError([&] { port.SetParity(static_cast<TComParity>(9)); }),
            "Parity value 9 is out of range (0..4) - Guard ");
  EXPECT_EQ(port.GetDatabits(), db8);
  EXPECT_EQ(port.GetParity(), paNone);
}

// What the settings dialog hook last saw, and what it answers.
struct TDialogScript {
  static inline int shown = 0;
  static inline std::string portName;
  static bool Confirm(const std::string& name, TComSettings& settings) {
    ++shown;
    portName = name;
    settings.baudRate = 19200;
    settings.byteSize = 7;
    settings.parity = 2;
    settings.outxCtsFlow = true;
    settings.rtsControl = TRtsControl::Handshake;
    return true;
  }
  static bool Cancel(const std::string&, TComSettings& settings) {
    ++shown;
    settings.baudRate = 300;
    return false;
  }
};

TEST_F(ComPortTest, SettingsDialogGoesThroughTheHook) {
  SetPortSettingsHook(nullptr);
  EXPECT_FALSE(port.ShowSettingsDialog());

  TDialogScript::shown = 0;
  SetPortSettingsHook(&TDialogScript::Cancel);
  EXPECT_FALSE(port.ShowSettingsDialog());
  EXPECT_EQ(port.GetBaudRate(), br115200);

  SetPortSettingsHook(&TDialogScript::Confirm);
  EXPECT_TRUE(port.ShowSettingsDialog());
  EXPECT_EQ(TDialogScript::portName, "COM201");
  EXPECT_EQ(port.GetBaudRate(), br19200);
  EXPECT_EQ(port.GetUserBaudRate(), 0);
  EXPECT_EQ(port.GetDatabits(), db7);
  EXPECT_EQ(port.GetParity(), paEven);
  EXPECT_EQ(port.GetFlowControl(), fwRtsCts);
  EXPECT_EQ(port.GetSettings().baudRate, 19200);

  // A port without a device shows no dialog.
  port.SetComNumber(250);
  EXPECT_FALSE(port.ShowSettingsDialog());
  EXPECT_EQ(TDialogScript::shown, 2);
  SetPortSettingsHook(nullptr);
}

TEST_F(ComPortTest, OpenAndCloseAreNotifiedOnce) {
  port.SetAutoOpen(true);
  port.Loaded();
  EXPECT_TRUE(port.IsOpen());
  port.OpenPort();  // already open: nothing
  port.ClosePort();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(recorder.notifications, (std::vector<std::string>{"open", "close"}));
}

TEST_F(ComPortTest, PeerBytesReachOnDataRecivedOnTheMainThread) {
  port.OpenPort();
  ASSERT_TRUE(line.Send("hello"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return recorder.data == "hello"; }));
  EXPECT_EQ(recorder.syncKinds.front(), ceLineEvent);
  EXPECT_EQ(recorder.dataCounts.front(), 5);
  for (const std::thread::id thread : recorder.dataThreads)
    EXPECT_EQ(thread, std::this_thread::get_id());
  EXPECT_EQ(port.InputCount(), 0);
  // A pseudo-terminal has no modem lines.
  for (int modemLine = 1; modemLine <= 4; ++modemLine)
    EXPECT_FALSE(port.ModemLine(modemLine));
}

TEST_F(ComPortTest, BytesWaitingAtOpenAreAnnouncedByThePoll) {
  recorder.readOnData = false;
  ASSERT_TRUE(line.Send("early"));
  // The pseudo-terminal hands the bytes over to the slave's side in the background.
  ASSERT_TRUE(ProcessEventsUntil([&] { return line.SlaveInputCount() == 5; }));
  const auto opened = TClock::now();
  port.OpenPort();
  ASSERT_TRUE(ProcessEventsUntil([&] { return !recorder.syncKinds.empty(); }));
  EXPECT_EQ(recorder.syncKinds.front(), ceNeedReadData);
  EXPECT_EQ(recorder.dataCounts.front(), 5);
  // The poll runs every 200 ms; ten periods are far more than a late poll takes.
  EXPECT_LE(recorder.syncTimes.front() - opened, 2s);
  EXPECT_EQ(port.ReadAll(), "early");
}

TEST_F(ComPortTest, UnreadBytesAreAnnouncedAgainByThePoll) {
  recorder.readOnData = false;
  port.OpenPort();
  ASSERT_TRUE(line.Send("xyz"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return recorder.CountOf(ceNeedReadData) > 0; }));
  ASSERT_EQ(recorder.syncKinds.front(), ceLineEvent);
  const auto poll = std::find(recorder.syncKinds.begin(), recorder.syncKinds.end(), ceNeedReadData);
  const auto gap = recorder.syncTimes[static_cast<std::size_t>(poll - recorder.syncKinds.begin())] -
                   recorder.syncTimes.front();
  EXPECT_GE(gap, 150ms);  // not another line event: nothing new arrived
  EXPECT_LE(gap, 2s);     // the next poll (every 200 ms), however late
  EXPECT_EQ(recorder.dataCounts.back(), 3);
  EXPECT_EQ(port.ReadBytes(3), "xyz");
}

TEST_F(ComPortTest, WritesReachThePeerAndTheEmptyQueueIsReported) {
  port.OpenPort();
  port.WriteBytes("abc");
  port.WriteBytes(TByteString());  // nothing
  port.WriteBytes("|");            // a mark: whatever the empty write sent would come before it
  EXPECT_EQ(line.Receive(4, 1000ms), "abc|");
  ASSERT_TRUE(ProcessEventsUntil([&] { return recorder.outBufFree > 0; }));
  EXPECT_EQ(port.OutputFree(), 2048);
}

TEST_F(ComPortTest, WriteLargerThanTheFreeSpaceIsRefusedWhole) {
  // A closed port has no space at all, and nothing waiting.
  const std::string& device = line.SlavePath();
  EXPECT_EQ(PortError([&] { port.WriteBytes("hello"); }),
            "Write data error [requested: 5, free: 0]: " + device + " is not open - ComPort1 ");
  EXPECT_EQ(port.OutputFree(), 0);
  EXPECT_EQ(port.InputCount(), 0);

  port.SetOutBufSize(4096);
  port.OpenPort();
  EXPECT_EQ(PortError([&] { port.WriteBytes(std::string(4097, 'X')); }),
            "Write data error [requested: 4097, free: 4096]: " + device + " - ComPort1 ");

  // The line takes nothing while it is held: what is queued stays queued.
  line.HoldOutput(true);
  const std::string queued = Pattern(0, 3000);
  port.WriteBytes(queued);
  const std::int32_t free = port.OutputFree();
  ASSERT_EQ(free, 4096 - 3000);
  EXPECT_EQ(PortError([&] { port.WriteBytes(std::string(free + 1, 'X')); }),
            "Write data error [requested: " + std::to_string(free + 1) +
                ", free: " + std::to_string(free) + "]: " + device + " - ComPort1 ");
  EXPECT_EQ(port.OutputFree(), free);
  line.HoldOutput(false);
  // The peer gets everything queued and nothing of the refused block before the mark.
  port.WriteBytes("|");
  EXPECT_EQ(line.Receive(queued.size() + 1, 3000ms), queued + "|");
}

TEST_F(ComPortTest, BufferSizesChangeOnlyWhileClosed) {
  port.OpenPort();
  for (const std::string property : {"InBufSize", "OutBufSize"}) {
    const auto change =
        property == "InBufSize" ? &TComPort::SetInBufSize : &TComPort::SetOutBufSize;
    EXPECT_EQ(PortError([&] { (port.*change)(100); }),
              "Port is not closed: " + property + " cannot change while " + line.SlavePath() +
                  " is open - ComPort1 ");
  }
  EXPECT_EQ(port.GetInBufSize(), 4096);
  EXPECT_EQ(port.GetOutBufSize(), 2048);
  port.ClosePort();
  port.SetOutBufSize(100);
  port.OpenPort();
  EXPECT_EQ(port.OutputFree(), 100);
}

TEST_F(ComPortTest, ChangingTheNumberReopensOnTheNewDevice) {
  TPseudoTerminal second;
  const TPortMapping secondMapping(kPort + 1, second.SlavePath());
  port.OpenPort();
  port.SetComNumber(kPort + 1);
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(recorder.notifications, (std::vector<std::string>{"open", "close", "open"}));
  port.WriteBytes("to second");
  EXPECT_EQ(second.Receive(9, 1000ms), "to second");
  // The first line was let go: another port opens it, and what it sends is all the line gets.
  TComPort other("Other");
  other.SetComNumber(kPort);
  EXPECT_NO_THROW(other.OpenPort());
  other.WriteBytes("|");
  EXPECT_EQ(line.Receive(1, 1000ms), "|");
}

TEST_F(ComPortTest, PortsWithoutADeviceAreInvalidNumbers) {
  TComPort probe("Probe");
  EXPECT_EQ(CoreError([&] { probe.OpenPort(); }),
            "Invalid port number (COM0): no device path given, and numbers start at 1");
  unsetenv("ZORVID_COM250");
  probe.SetComNumber(250);  // beyond the default device names
  EXPECT_EQ(CoreError([&] { probe.OpenPort(); }),
            "Invalid port number (COM250): no device for this number; ZORVID_COM250 can name one");
  const TPortMapping missing(kPort + 5, "/nonexistent/zorvid-line");
  probe.SetComNumber(kPort + 5);
  EXPECT_EQ(CoreError([&] { probe.OpenPort(); }),
            "Invalid port number (COM206): cannot open /nonexistent/zorvid-line: No such file or "
            "directory (errno 2)");
  EXPECT_FALSE(probe.IsOpen());
}

TEST_F(ComPortTest, DevicePathOverridesTheNumber) {
  TComPort direct("Direct");
  direct.SetDevicePath(line.SlavePath());
  direct.OpenPort();
  direct.WriteBytes("direct");
  EXPECT_EQ(line.Receive(6, 1000ms), "direct");
  // Moving the open port to another path reopens it there.
  TPseudoTerminal second;
  direct.SetDevicePath(second.SlavePath());
  EXPECT_TRUE(direct.IsOpen());
  direct.WriteBytes("moved");
  EXPECT_EQ(second.Receive(5, 1000ms), "moved");
}

TEST_F(ComPortTest, DeviceHeldByAnotherOpenIsBusy) {
  port.OpenPort();
  TComPort second("Second");
  second.SetComNumber(kPort);
  const std::string busy = line.SlavePath() + " is busy: held by another program";
  EXPECT_THAT(CoreError([&] { second.OpenPort(); }),
              StartsWith("Can't open device COM201: " + busy));
  second.SetComNumber(0);
  second.SetDevicePath(line.SlavePath());
  EXPECT_THAT(CoreError([&] { second.OpenPort(); }), StartsWith("Can't open device COM0: " + busy));
  EXPECT_FALSE(second.IsOpen());
  port.WriteBytes("still mine");
  EXPECT_EQ(line.Receive(10, 1000ms), "still mine");
}

TEST_F(ComPortTest, RefusedSettingsFailTheOpenOrAreTakenBack) {
  const std::string refused = "Error setting parameters from DCB: " + line.SlavePath() + ": ";
  const std::string fourBits = "4 data bits are not supported (5 to 8)";
  port.SetDatabits(db4);  // only checked by the device
  EXPECT_EQ(CoreError([&] { port.OpenPort(); }), refused + fourBits);
  EXPECT_FALSE(port.IsOpen());
  port.SetDatabits(db8);
  ASSERT_NO_THROW(port.OpenPort());

  port.SetBaudRate(br9600);
  EXPECT_EQ(PortError([&] { port.SetDatabits(db4); }), refused + fourBits + " - ComPort1 ");
  EXPECT_EQ(port.GetDatabits(), db8);
  EXPECT_EQ(port.GetSettings().byteSize, 8);
  EXPECT_EQ(PortError([&] { port.SetUserBaudRate(0); }),
            refused + "baud rate 0 is not positive - ComPort1 ");
  EXPECT_EQ(port.GetBaudRate(), br9600);
  EXPECT_EQ(port.GetUserBaudRate(), 0);
  EXPECT_EQ(PortError([&] { port.SetStopbits(sbOneAndHalf); }),
            refused + "1.5 stop bits need 5 data bits, not 8 - ComPort1 ");
  EXPECT_EQ(port.GetStopbits(), sbOne);
  EXPECT_EQ(port.GetSettings().baudRate, 9600);
  port.WriteBytes("ok");
  EXPECT_EQ(line.Receive(2, 1000ms), "ok");
}

TEST_F(ComPortTest, OutputAndInputCanBeDiscarded) {
  recorder.readOnData = false;
  port.SetOutBufSize(4096);
  port.OpenPort();
  line.HoldOutput(true);  // what is queued stays queued
  port.WriteBytes(Pattern(0, 3000));
  ASSERT_EQ(port.OutputFree(), 4096 - 3000);
  port.DiscardOutput();
  EXPECT_EQ(port.OutputFree(), 4096);
  line.HoldOutput(false);
  // None of the discarded bytes reaches the peer before a mark sent after them.
  port.WriteBytes("|");
  EXPECT_EQ(line.Receive(1, 1000ms), "|");

  ASSERT_TRUE(line.Send("junk"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return port.InputCount() == 4; }));
  port.DiscardInput();
  EXPECT_EQ(port.InputCount(), 0);
  EXPECT_EQ(port.ReadAll(), "");
}

TEST_F(ComPortTest, ReadBytesWantsExactlyTheCountWaiting) {
  recorder.readOnData = false;
  port.OpenPort();
  ASSERT_TRUE(line.Send("abcdef"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return port.InputCount() == 6; }));
  EXPECT_EQ(port.ReadBytes(2), "ab");
  EXPECT_EQ(PortError([&] { port.ReadBytes(10); }),
            "Read data error [requested: 10, read: 4]: " + line.SlavePath() + " - ComPort1 ");
}

// A handler for the event thread replaces the hand-off: it runs there, and only the error it
// raises reaches the main thread, which shows it.
TEST_F(ComPortTest, NonSyncHandlerRunsOnTheEventThreadAndItsErrorIsShownOnTheMainThread) {
  const TShownMessages shown;
  struct TFailFirst {
    std::mutex mutex;
    std::vector<std::pair<TComCoreEvent, std::thread::id>> events;  // guarded by mutex
    void OnEvent(TComPort*, TComCoreEvent kind, const TComEventData&) {
      std::lock_guard lock(mutex);
      events.emplace_back(kind, std::this_thread::get_id());
      if (events.size() == 1) throw std::runtime_error("handler failed on purpose");
    }
  } handler;
  port.OnNonSyncEvent.Set({&handler, &TFailFirst::OnEvent});
  port.OpenPort();
  ASSERT_TRUE(line.Send("q"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return !shown.Texts().empty(); }));
  // A later byte: once the event thread has handled it, whatever it handed to the main thread
  // for the first one has been posted, and has arrived once the posted events are delivered.
  ASSERT_TRUE(line.Send("r"));
  ASSERT_TRUE(test::WaitUntil([&] {
    std::lock_guard lock(handler.mutex);
    return handler.events.size() >= 2;
  }));
  ASSERT_TRUE(DeliverPostedEvents());
  port.ClosePort();
  port.OnNonSyncEvent.Set({});
  EXPECT_EQ(handler.events.front().first, ceLineEvent);
  EXPECT_NE(handler.events.front().second, std::this_thread::get_id());
  EXPECT_EQ(shown.Texts(), std::vector<std::string>{"handler failed on purpose"});
  EXPECT_EQ(recorder.syncKinds, std::vector<TComCoreEvent>{ceException});
  EXPECT_TRUE(recorder.dataCounts.empty());
}

TEST_F(ComPortTest, ClosingWhileEventsArriveDropsThem) {
  const TShownMessages shown;
  port.OpenPort();
  std::atomic<bool> stop{false};
  std::thread peer([&] {
    while (!stop) {
      line.Send("flood", 50ms);
      std::this_thread::sleep_for(1ms);
    }
  });
  const bool flowing = ProcessEventsUntil([&] { return recorder.dataCounts.size() >= 3; });
  const auto start = TClock::now();
  port.ClosePort();
  const auto closing = TClock::now() - start;
  const std::size_t handled = recorder.dataCounts.size();
  ASSERT_TRUE(DeliverPostedEvents());  // what was handed off before the close would arrive now
  stop = true;
  peer.join();
  EXPECT_TRUE(flowing);
  // No wait for a hand-off the main thread cannot serve, which would hold it 2 s; a close takes
  // a few milliseconds, under the thread sanitizer too.
  EXPECT_LT(closing, 1000ms);
  EXPECT_EQ(recorder.dataCounts.size(), handled);
  EXPECT_TRUE(shown.Texts().empty());
}

TEST_F(ComPortTest, PeerHangupIsReportedOnceAndLeavesThePortClosable) {
  const TShownMessages shown;
  port.OpenPort();
  ASSERT_TRUE(line.Send("bye"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return recorder.data == "bye"; }));
  line.CloseMaster();
  ASSERT_TRUE(ProcessEventsUntil([&] { return recorder.carrierChanges == 1; }));
  EXPECT_TRUE(port.HungUp());

  // How little the threads use of the processor on the dead line: bench/ComPortBench.cpp.
  const std::size_t events = recorder.syncKinds.size();
  port.WriteBytes("lost");  // dropped by the write thread
  EXPECT_TRUE(ProcessEventsUntil([&] { return port.OutputFree() == 2048; }));
  ASSERT_TRUE(DeliverPostedEvents());
  EXPECT_EQ(recorder.carrierChanges, 1);
  EXPECT_EQ(std::count(recorder.syncKinds.begin() + static_cast<std::ptrdiff_t>(events),
                       recorder.syncKinds.end(), ceLineEvent),
            0)
      << "the hang-up was reported again";
  EXPECT_EQ(port.ReadAll(), "");
  const auto start = TClock::now();
  port.ClosePort();
  EXPECT_LT(TClock::now() - start, 1000ms);  // a few milliseconds; no thread stuck on the line
  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(shown.Texts().empty());
}

TEST_F(ComPortTest, TenMegabytesArriveCompleteAndInOrder) {
  constexpr std::size_t kTotal = 10 * 1024 * 1024;
  constexpr std::size_t kChunk = 64 * 1024;
  port.SetOutBufSize(1024 * 1024);
  port.OpenPort();
  std::string received;
  std::thread reader([&] { received = line.Receive(kTotal, 60s); });
  std::size_t queued = 0;
  const auto end = TClock::now() + 60s;
  while (queued < kTotal && TClock::now() < end) {
    const std::size_t chunk = std::min(kChunk, kTotal - queued);
    if (static_cast<std::size_t>(port.OutputFree()) >= chunk) {
      port.WriteBytes(Pattern(queued, chunk));
      queued += chunk;
    } else {
      ProcessEventsFor(1ms);
    }
  }
  reader.join();
  EXPECT_EQ(queued, kTotal);
  EXPECT_EQ(received.size(), kTotal);
  const std::string sent = Pattern(0, kTotal);
  const auto firstWrongByte = std::mismatch(received.begin(), received.end(), sent.begin()).first;
  EXPECT_EQ(firstWrongByte - received.begin(), std::ssize(received));
}

// The core by itself: what the component cannot show.
class ComPortCoreTest : public ::testing::Test {
 protected:
  void Ignore(TComCoreEvent, const TComEventData&) {}
  TPseudoTerminal line;
  TComPortCore core{TComCoreCallback(this, &ComPortCoreTest::Ignore)};
};

TEST_F(ComPortCoreTest, RatesOutsideTheStandardSetReachTheDevice) {
  TComSettings settings;
  settings.baudRate = 12345;
  core.SetSettings(settings);
  ASSERT_TRUE(core.Open(0, line.SlavePath()));
  EXPECT_FALSE(core.Open(0, line.SlavePath()));  // already active
  EXPECT_EQ(core.FetchSettings().value().baudRate, 12345);
  for (const std::int32_t rate : {56000, 9600, 128000}) {
    settings.baudRate = rate;
    ASSERT_TRUE(core.ApplySettings(settings)) << rate;
    EXPECT_EQ(core.FetchSettings().value().baudRate, rate);
  }
  settings.baudRate = -5;
  EXPECT_FALSE(core.ApplySettings(settings));
  EXPECT_EQ(core.FetchSettings().value().baudRate, 128000);
  EXPECT_EQ(core.Settings().baudRate, 128000);
}

TEST_F(ComPortCoreTest, ClosedCoreRefusesWorkQuietly) {
  EXPECT_FALSE(core.Write("x", 1));
  char buffer[4];
  EXPECT_EQ(core.Read(buffer, 4), 0);
  EXPECT_FALSE(core.PurgeInput());
  EXPECT_FALSE(core.PurgeOutput());
  EXPECT_EQ(core.QueryStatus().input, 0);
  EXPECT_EQ(core.ModemStatus(), 0u);
  EXPECT_FALSE(core.FetchSettings().has_value());
  core.Close();  // nothing to close
}

TEST_F(ComPortCoreTest, OpenRefusesFilesThatAreNoTerminalAndEmptyQueues) {
  // Root may open the file and finds no terminal; anyone else is refused by its mode.
  EXPECT_THAT(CoreError([&] { core.Open(7, "/proc/self/status"); }),
              StartsWith("Can't open device COM7: cannot open /proc/"));
  EXPECT_FALSE(core.IsActive());
  core.SetQueueSizes(4096, 0);
  EXPECT_EQ(CoreError([&] { core.Open(0, line.SlavePath()); }),
            "Error initializing buffers: " + line.SlavePath() +
                ": queue sizes must be positive (input 4096, output 0)");
  EXPECT_FALSE(core.IsActive());
  core.SetQueueSizes(4096, 4096);
  EXPECT_TRUE(core.Open(0, line.SlavePath()));
}

}  // namespace
}  // namespace zorvid
