// The port scanner with scripted probes and with the real one over pseudo-terminals, and the
// sorted port list it fills, naming the ports from a tree shaped like sysfs.
#include <unistd.h>

#include <gtest/gtest.h>

#include <QComboBox>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <thread>

#include "tests/support/EventLoop.h"
#include "tests/support/Patience.h"
#include "tests/support/PseudoTerminal.h"
#include "transport/serial/ComPort.h"
#include "transport/serial/SerialPortNames.h"
#include "ui/ComPortScanner.h"
#include "ui/ComPortStringList.h"

namespace zorvid {

// Failures name the state by number (found by argument-dependent lookup).
[[maybe_unused]] static void PrintTo(TComPortState state, std::ostream* out) {
  *out << static_cast<int>(state);
}

namespace {

using namespace std::chrono_literals;
using test::ProcessEventsUntil;

// Holds the probes that reach it until the test opens it (at most a few seconds, so that a
// failing test cannot hang in the scanner's destruction).
class TGate {
 public:
  void Pass() {
    std::unique_lock lock(mutex_);
    ++arrived_;
    changed_.wait_for(lock, 5s, [this] { return open_; });
    ++passed_;
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  int Arrived() {
    std::lock_guard lock(mutex_);
    return arrived_;
  }
  int Passed() {
    std::lock_guard lock(mutex_);
    return passed_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  int arrived_ = 0;
  int passed_ = 0;
};

QStringList Texts(const QComboBox& box) {
  QStringList texts;
  for (int index = 0; index < box.count(); ++index)
    texts << box.itemText(index);
  return texts;
}

// A scanner whose results go to a port list over a combo box, and to a log of the last state
// each port reported.
struct TScanFixture {
  explicit TScanFixture(TComPortProbe probe) : scanner(std::move(probe)) {
    scanner.SetOnPortState([this](int port, TComPortState state) {
      list.UpdatePort(port, state);
      lastState[port] = state;
    });
  }
  // Runs the event loop until the scan is complete and every queued result was handled.
  bool Complete() {
    const bool complete = ProcessEventsUntil([this] { return scanner.ScanComplete(); });
    QCoreApplication::processEvents();
    return complete;
  }

  QComboBox box;
  TComPortStringList list{&box};
  std::map<int, TComPortState> lastState;
  TComPortScanner scanner;
};

TEST(ComPortScan, ListsPresentPortsInOrderOnceComplete) {
  std::array<std::atomic<int>, kLastComPort + 1> probes{};
  TScanFixture scan([&probes](int port) {
    ++probes[static_cast<std::size_t>(port)];
    return port == 1 ? cpsFree : port == 3 ? cpsBusy : cpsAbsent;
  });
  scan.scanner.Scan();
  ASSERT_TRUE(scan.Complete());

  EXPECT_EQ(Texts(scan.box), QStringList({"COM 1", "COM 3"}));
  EXPECT_EQ(scan.list.PortAt(1), 3);
  EXPECT_EQ(scan.lastState.size(), 255u);
  for (int port = kFirstComPort; port <= kLastComPort; ++port)
    EXPECT_EQ(probes[static_cast<std::size_t>(port)], 1) << "port " << port;
}

TEST(ComPortScan, ShowsAPortBeingProbedAndDropsItWhenFoundAbsent) {
  std::atomic<bool> present{true};
  TGate gate;
  TScanFixture scan([&](int port) {
    if (port != 12) return cpsAbsent;
    if (present) return cpsFree;
    gate.Pass();
    return cpsAbsent;
  });
  scan.scanner.Scan();
  ASSERT_TRUE(scan.Complete());
  ASSERT_EQ(Texts(scan.box), QStringList({"COM 12"}));

  present = false;
  scan.scanner.Scan();
  EXPECT_TRUE(ProcessEventsUntil([&] { return Texts(scan.box) == QStringList({"COM 12 ..."}); }));
  EXPECT_EQ(scan.box.itemData(0, Qt::ToolTipRole).toString(),
            QString::fromStdString(DevicePathForPort(12) + ": being probed"));
  gate.Open();
  ASSERT_TRUE(scan.Complete());
  EXPECT_EQ(scan.box.count(), 0);
}

// The first scan's port 1 is held until the second scan has listed port 1 as free; its late
// "busy" must not count.
TEST(ComPortScan, SecondScanDropsTheResultsOfTheFirst) {
  std::atomic<int> scanNumber{1};
  TGate oldProbe;
  TGate newProbes;
  TScanFixture scan([&](int port) {
    if (scanNumber == 1) {
      if (port == 1) oldProbe.Pass();
      return cpsBusy;
    }
    if (port != 1) newProbes.Pass();
    return port <= 2 ? cpsFree : cpsAbsent;
  });
  scan.scanner.Scan();
  // The other 7 workers are through the first scan once its 254 other ports are busy.
  ASSERT_TRUE(ProcessEventsUntil([&] {
    return std::count_if(scan.lastState.begin(), scan.lastState.end(),
                         [](const auto& port) { return port.second == cpsBusy; }) == 254;
  }));
  scanNumber = 2;
  scan.scanner.Scan();
  // The 7 workers wait at ports 2 to 8 of the new scan; port 1 is free.
  ASSERT_TRUE(
      ProcessEventsUntil([&] { return newProbes.Arrived() == 7 && scan.lastState[1] == cpsFree; }));
  oldProbe.Open();
  // Its worker is done with the old port once it waits at a new one.
  ASSERT_TRUE(ProcessEventsUntil([&] { return newProbes.Arrived() == 8; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(scan.lastState[1], cpsFree);

  newProbes.Open();
  ASSERT_TRUE(scan.Complete());
  EXPECT_EQ(Texts(scan.box), QStringList({"COM 1", "COM 2"}));
  for (const auto& [port, state] : scan.lastState)
    EXPECT_EQ(state, port <= 2 ? cpsFree : cpsAbsent) << "port " << port;
  for (int port = kFirstComPort; port <= kLastComPort; ++port)
    EXPECT_EQ(scan.scanner.PortState(port), port <= 2 ? cpsFree : cpsAbsent) << "port " << port;
}

// Whether the thread of that system id still exists in this process.
bool ThreadExists(pid_t tid) {
  return std::filesystem::exists("/proc/self/task/" + std::to_string(tid));
}

// Eight workers are blocked in a probe each (so there are eight of them) when the scanner goes:
// the destruction waits for them, no probe starts afterwards, their threads are gone and nothing
// queued reaches the handler any more.
TEST(ComPortScan, DestructionMidScanEndsEveryWorkerFirst) {
  TGate gate;
  std::mutex mutex;
  std::set<pid_t> workers;  // guarded by mutex
  std::atomic<int> handled{0};
  auto scanner = std::make_unique<TComPortScanner>([&](int) {
    {
      std::lock_guard lock(mutex);
      workers.insert(gettid());
    }
    gate.Pass();
    return cpsFree;
  });
  scanner->SetOnPortState([&handled](int, TComPortState) { ++handled; });
  scanner->Scan();
  ASSERT_TRUE(ProcessEventsUntil([&] { return gate.Arrived() == 8; }));
  EXPECT_EQ(workers.size(), 8u);

  std::thread opener([&gate] {
    std::this_thread::sleep_for(20ms);
    gate.Open();
  });
  scanner.reset();
  EXPECT_EQ(gate.Passed(), gate.Arrived()) << "a probe still ran after the destruction";
  opener.join();
  EXPECT_TRUE(test::WaitUntil(
      [&] { return std::none_of(workers.begin(), workers.end(), ThreadExists); }, test::kPatience));
  // Whatever was still queued goes with the scanner.
  const int handledAtDestruction = handled;
  QCoreApplication::processEvents();
  EXPECT_EQ(handled, handledAtDestruction);
}

TEST(ComPortStringList, FindsTheLastPortNotAboveTheNumber) {
  QComboBox box;
  TComPortStringList list(&box);
  list.UpdatePort(7, cpsFree);
  list.UpdatePort(3, cpsBusy);
  ASSERT_EQ(Texts(box), QStringList({"COM 3", "COM 7"}));
  EXPECT_EQ(list.IndexOfPort(5), 0);
  EXPECT_EQ(list.IndexOfPort(7), 1);
  list.UpdatePort(3, cpsAbsent);
  EXPECT_EQ(list.IndexOfPort(5), -1);
  EXPECT_EQ(list.PortAt(-1), 0);
  EXPECT_EQ(list.PortAt(1), 0);
  box.addItem("no port");
  EXPECT_EQ(list.PortAt(1), 0);
  EXPECT_EQ(list.IndexOfPort(5), 1) << "the walk stops at an item without a port";

  TComPortStringList unbound(nullptr);
  unbound.UpdatePort(1, cpsFree);
  EXPECT_EQ(unbound.IndexOfPort(5), -1);
  EXPECT_EQ(unbound.PortAt(0), 0);
}

// A directory tree shaped like /sys and /dev of a machine with a built-in UART (ttyS0, COM 1)
// and two identical USB bridges on one hub that differ only in serial number (ttyUSB0 and
// ttyUSB1, COM 33 and 34), with the links the kernel and udev make.
class TDeviceTree {
 public:
  TDeviceTree() {
    AddTerminal("ttyS0", "platform/serial8250");
    WriteUsbDevice(kHub, {"1d6b", "0002", "Linux Foundation", "xHCI Host Controller", "hub"});
    AddUsbBridge("ttyUSB0", "1-1", "A1B2C3");
    AddUsbBridge("ttyUSB1", "1-2", "D4E5F6");
  }
  TDeviceRoots Roots() const { return {Path("sys"), Path("dev")}; }
  std::string ByIdLink(const std::string& serial) const {
    return Path("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_" + serial + "-if00-port0");
  }

 private:
  static constexpr const char* kHub = "pci0000:00/0000:00:14.0/usb1";

  std::filesystem::path Path(const std::string& relative) const {
    return std::filesystem::path(directory_.path().toStdString()) / relative;
  }
  void Write(const std::filesystem::path& file, const std::string& value) const {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << value << '\n';
  }
  void WriteUsbDevice(const std::string& device, std::array<std::string, 5> values) const {
    const auto directory = Path("sys/devices/" + device);
    const char* const names[] = {"idVendor", "idProduct", "manufacturer", "product", "serial"};
    for (std::size_t index = 0; index < values.size(); ++index)
      Write(directory / names[index], values[index]);
  }
  // The terminal's class directory below its device, and the class link to it.
  void AddTerminal(const std::string& name, const std::string& device) const {
    const std::string terminal = "devices/" + device + "/tty/" + name;
    std::filesystem::create_directories(Path("sys/" + terminal));
    std::filesystem::create_directory_symlink(
        "../../../" + std::filesystem::path(device).filename().string(),
        Path("sys/" + terminal + "/device"));
    std::filesystem::create_directories(Path("sys/class/tty"));
    std::filesystem::create_directory_symlink("../../" + terminal, Path("sys/class/tty/" + name));
  }
  void AddUsbBridge(const std::string& name, const std::string& port,
                    const std::string& serial) const {
    const std::string device = std::string(kHub) + "/" + port;
    WriteUsbDevice(device, {"0403", "6001", "FTDI", "FT232R USB UART", serial});
    AddTerminal(name, device + "/" + port + ":1.0/" + name);
    std::filesystem::create_directories(Path("dev/serial/by-id"));
    std::filesystem::create_symlink("../../" + name, ByIdLink(serial));
  }

  QTemporaryDir directory_;
};

// The bridges are told apart by serial number only while both are listed; the tooltip always
// names the stable link and the USB descriptors, and a port that is no USB device stays plain.
TEST(ComPortStringList, NamesIdenticalBridgesByTheirSerialNumbers) {
  const TDeviceTree tree;
  QComboBox box;
  TComPortStringList list(&box, tree.Roots());
  list.UpdatePort(1, cpsFree);
  list.UpdatePort(33, cpsFree);
  EXPECT_EQ(Texts(box), QStringList({"COM 1", "COM 33 – FT232R USB UART"}));
  list.UpdatePort(34, cpsProbing);
  EXPECT_EQ(Texts(box), QStringList({"COM 1", "COM 33 – FT232R USB UART (A1B2C3)",
                                     "COM 34 – FT232R USB UART (D4E5F6) ..."}));
  EXPECT_EQ(box.itemData(0, Qt::ToolTipRole).toString(), "/dev/ttyS0: free");
  EXPECT_EQ(
      box.itemData(2, Qt::ToolTipRole).toString(),
      QString::fromStdString("/dev/ttyUSB1: being probed\nstable name: " + tree.ByIdLink("D4E5F6") +
                             "\nUSB 0403:6001: FTDI, FT232R USB UART, serial number D4E5F6"));
  EXPECT_EQ(list.StablePathAt(1), tree.ByIdLink("A1B2C3"));
  EXPECT_EQ(list.StablePathAt(0), "/dev/ttyS0") << "without a stable name, the device's path";
  list.UpdatePort(34, cpsAbsent);
  EXPECT_EQ(Texts(box), QStringList({"COM 1", "COM 33 – FT232R USB UART"}));
}

// Port numbers without a default device, mapped to pseudo-terminals, a missing path and a
// device that is no terminal.
TEST(ComPortProbe, TellsFreeBusyAndAbsentDevices) {
  test::TPseudoTerminal freeLine;
  test::TPseudoTerminal heldLine;
  const test::TPortMapping freePort(200, freeLine.SlavePath());
  const test::TPortMapping busyPort(201, heldLine.SlavePath());
  const test::TPortMapping missingPort(202, "/dev/zorvid-no-such-port");
  const test::TPortMapping notALine(204, "/dev/null");
  TSerialDevice holder;
  ASSERT_EQ(holder.Open(heldLine.SlavePath()), TOpenOutcome::Opened) << holder.Failure();

  EXPECT_EQ(ProbeComPort(200), TPortPresence::Free);
  EXPECT_EQ(ProbeComPort(201), TPortPresence::Busy);
  EXPECT_EQ(ProbeComPort(202), TPortPresence::Absent);
  EXPECT_EQ(ProbeComPort(203), TPortPresence::Absent);
  EXPECT_EQ(ProbeComPort(204), TPortPresence::Absent) << "no terminal, so no port";
  TSerialDevice afterProbe;  // the probe let the free port go again
  EXPECT_EQ(afterProbe.Open(freeLine.SlavePath()), TOpenOutcome::Opened) << afterProbe.Failure();
  afterProbe.Close();

  TScanFixture scan(TComPortProbe{});  // the real probe
  scan.scanner.Scan();
  ASSERT_TRUE(scan.Complete());
  const int free = scan.list.IndexOfPort(200);
  ASSERT_GE(free, 0);
  ASSERT_EQ(scan.list.PortAt(free), 200);
  ASSERT_EQ(scan.list.PortAt(free + 1), 201);
  EXPECT_EQ(scan.list.IndexOfPort(255), free + 1) << "port 202 is listed";
  EXPECT_EQ(scan.box.itemText(free + 1), "COM 201");
  EXPECT_EQ(scan.box.itemData(free, Qt::ToolTipRole).toString(),
            QString::fromStdString(freeLine.SlavePath() + ": free"));
  EXPECT_TRUE(scan.box.itemData(free + 1, Qt::ToolTipRole)
                  .toString()
                  .startsWith(QString::fromStdString(heldLine.SlavePath() + ": busy")));
}

}  // namespace
}  // namespace zorvid
