// The connection dialog driven through its controls, over a scripted port scan, and by the
// keyboard alone to a simulated display.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "link/DisplayConnection.h"
#include "tests/support/ModalWindows.h"
#include "tests/support/Patience.h"
#include "tests/support/SimProcess.h"
#include "tests/support/WidgetLookup.h"
#include "transport/Transports.h"
#include "ui/ConnectionDialog.h"
#include "ui/controls/IntEdit.h"

namespace zorvid {
namespace {

using test::Child;
using test::TModalAnswer;

// A scan that finds exactly these ports, all free.
TComPortProbe PortsPresent(std::set<int> ports) {
  return [ports](int port) { return ports.contains(port) ? cpsFree : cpsAbsent; };
}

QString Text(QWidget* window, const char* name) {
  if (auto* list = qobject_cast<QComboBox*>(window->findChild<QWidget*>(name)))
    return list->currentText();
  return Child<QLineEdit>(window, name)->text();
}

// Clicked where a user clicks: a radio button or check box at its indicator, others in the
// middle.
void Click(QWidget* window, const char* button) {
  auto* target = Child<QAbstractButton>(window, button);
  const bool indicator = qobject_cast<QRadioButton*>(target) || qobject_cast<QCheckBox*>(target);
  const QPoint at = indicator ? QPoint(6, target->height() / 2) : target->rect().center();
  QTest::mouseClick(target, Qt::LeftButton, {}, at);
}

// Where a section starts once the layouts have taken in the latest changes: a section's own
// layout first, then the one that stacks the sections, each in a round of events.
int TopOf(QWidget* window, const char* section) {
  for (int round = 0; round < 3; ++round)
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  return Child(window, section)->y();
}

// One run of the dialog: `look` sees it open, then `finish` ("bOK", "bCancel") ends it.
struct TRun {
  bool confirmed = false;
  std::string connection;
  TByte address = 0;
};
TRun RunDialog(TfConnectionDialog& dialog, const std::string& connection, TByte address,
               const std::function<void(QWidget*)>& look, const char* finish = "bOK") {
  TRun run{false, connection, address};
  TModalAnswer answer([&](QWidget* window) {
    look(window);
    Click(window, finish);
  });
  run.confirmed = dialog.Execute(run.connection, run.address);
  EXPECT_TRUE(answer.answered());
  return run;
}

// The empty string of a first start: the serial line, port 1 wanted, 9600 Bd, the first scan
// run. Port 1 is not listed, so no port is selected and the string names port 0.
TEST(ConnectionDialog, AnEmptyStringOpensOnTheSerialLineAndScans) {
  TfConnectionDialog dialog(nullptr, PortsPresent({3, 7}));
  const TRun run = RunDialog(dialog, "", 49, [](QWidget* window) {
    EXPECT_TRUE(Child<QAbstractButton>(window, "rbCOM")->isChecked());
    auto* ports = Child<QComboBox>(window, "cbCOM");
    EXPECT_EQ(ports->count(), 2) << "the scan's results arrived within the refresh";
    EXPECT_EQ(ports->currentIndex(), -1);
    EXPECT_EQ(Text(window, "cbCOMBaudrate"), "9600");
    for (const char* hidden : {"pADR", "pUSB", "cbCOMBaudrate"})
      EXPECT_FALSE(Child(window, hidden)->isVisible()) << hidden;
    EXPECT_FALSE(Child(window, "eIP")->isEnabled());
    EXPECT_TRUE(Child(window, "cbCOM")->isEnabled());
  });
  EXPECT_TRUE(run.confirmed);
  EXPECT_EQ(run.connection, "provider=SERIAL_PORT;comport=0;baudrate=9600");
  EXPECT_EQ(run.address, 49);
}

// The nearest lower listed port, or none; a rate that is not listed picks the first.
TEST(ConnectionDialog, AnUnlistedPortOrRateSelectsTheNearestLowerPortAndTheFirstRate) {
  TfConnectionDialog dialog(nullptr, PortsPresent({3, 7}));
  const TRun lower = RunDialog(dialog, "provider=SERIAL_PORT;comport=5;baudrate=14400", 1,
                               [](QWidget* window) { EXPECT_EQ(Text(window, "cbCOM"), "COM 3"); });
  EXPECT_EQ(lower.connection, "provider=SERIAL_PORT;comport=3;baudrate=110");

  TfConnectionDialog onlySeven(nullptr, PortsPresent({7}));
  const TRun none = RunDialog(onlySeven, "provider=SERIAL_PORT;comport=5", 1, [](QWidget* window) {
    EXPECT_EQ(Child<QComboBox>(window, "cbCOM")->currentIndex(), -1);
  });
  EXPECT_EQ(none.connection, "provider=SERIAL_PORT;comport=0;baudrate=9600");
}

// A USB connection is always shown with its section; the serial number stands though no such
// bridge is attached (here no bridge library at all, which shows no message).
TEST(ConnectionDialog, AUsbStringShowsItsSectionAndItsSerialNumber) {
  TfConnectionDialog dialog(nullptr, PortsPresent({}));
  const TRun run = RunDialog(
      dialog, "provider=ftd_usb;serial_number=A1B2C3;baudrate=57600", 49, [](QWidget* window) {
        EXPECT_TRUE(Child<QAbstractButton>(window, "rbUSB")->isChecked());
        EXPECT_TRUE(Child<QAbstractButton>(window, "sbExpertMode")->isChecked());
        EXPECT_TRUE(Child(window, "pUSB")->isVisible());
        EXPECT_EQ(Child<QComboBox>(window, "cbDeviceName")->count(), 0);
        EXPECT_EQ(Text(window, "eSerialNumber"), "A1B2C3");
        EXPECT_EQ(Text(window, "cbUSBBaudRate"), "57600");
        EXPECT_EQ(QApplication::activeModalWidget(), window) << "no message box";
      });
  EXPECT_EQ(run.connection, "provider=FTD_USB;serial_number=A1B2C3;baudrate=57600");
}

// The Ethernet fields survive a later run with a serial string, which does not describe them.
TEST(ConnectionDialog, AnEthernetStringFillsItsFieldsWhichSurviveOtherRuns) {
  TfConnectionDialog dialog(nullptr, PortsPresent({1}));
  const TRun tcp = RunDialog(dialog, "provider=TCP_CLIENT;host=10.0.0.7", 49, [](QWidget* window) {
    EXPECT_TRUE(Child<QAbstractButton>(window, "rbTCP")->isChecked());
    EXPECT_EQ(Text(window, "eIP"), "10.0.0.7");
    EXPECT_EQ(Child<TIntEdit>(window, "iePort")->Value(), 10001);
    EXPECT_FALSE(Child(window, "cbCOM")->isEnabled());
  });
  EXPECT_EQ(tcp.connection, "provider=TCP_CLIENT;host=10.0.0.7;port=10001");

  const TRun serial = RunDialog(dialog, "", 49, [](QWidget* window) {
    EXPECT_EQ(Text(window, "cbCOM"), "COM 1");
    EXPECT_EQ(Text(window, "eIP"), "10.0.0.7");
    Click(window, "rbTCP");
    EXPECT_FALSE(Child<QAbstractButton>(window, "rbCOM")->isChecked());
  });
  EXPECT_EQ(serial.connection, "provider=TCP_CLIENT;host=10.0.0.7;port=10001");
}

// Expert mode shows the address, the USB section and the serial rate; what it hides still goes
// into the result, and a hidden section takes no room.
TEST(ConnectionDialog, ExpertModeShowsMoreAndHiddenValuesStillCount) {
  TfConnectionDialog dialog(nullptr, PortsPresent({1}));
  const TRun run =
      RunDialog(dialog, "provider=SERIAL_PORT;comport=1;baudrate=19200", 49, [](QWidget* window) {
        const int tcpTopPlain = TopOf(window, "pTCP");
        Click(window, "sbExpertMode");
        EXPECT_TRUE(Child(window, "pADR")->isVisible());
        EXPECT_GT(TopOf(window, "pTCP"), tcpTopPlain);
        Child<QComboBox>(window, "cbbADR")->setCurrentIndex(50);
        Click(window, "sbExpertMode");
        EXPECT_FALSE(Child(window, "pADR")->isVisible());
        EXPECT_EQ(TopOf(window, "pTCP"), tcpTopPlain);
      });
  EXPECT_EQ(run.connection, "provider=SERIAL_PORT;comport=1;baudrate=19200");
  EXPECT_EQ(run.address, 50);
}

// A port given by its path comes back as it was given, though the list has a port; ticking
// "Jiné zařízení:" starts from the chosen port's stable name, and a typed path is what goes out.
TEST(ConnectionDialog, APortGivenByItsPathComesBackAsGivenOrAsTyped) {
  QTemporaryDir tree;
  ASSERT_TRUE(tree.isValid());
  const std::filesystem::path dev = tree.filePath(QStringLiteral("dev")).toStdString();
  const std::string stableName = (dev / "serial/by-id/usb-Maker_Bridge_S1-if00-port0").string();
  std::filesystem::create_directories(dev / "serial/by-id");
  std::filesystem::create_symlink("../../ttyS2", stableName);  // port 3's device
  TfConnectionDialog dialog(nullptr, PortsPresent({3}), {dev.parent_path() / "sys", dev});

  const std::string given =
      "provider=SERIAL_PORT;device=/dev/serial/by-id/usb-Other-if00-port0;baudrate=19200";
  const TRun run = RunDialog(dialog, given, 49, [](QWidget* window) {
    EXPECT_TRUE(Child<QCheckBox>(window, "chbDevice")->isChecked());
    EXPECT_EQ(Text(window, "eDevice"), "/dev/serial/by-id/usb-Other-if00-port0");
    EXPECT_FALSE(Child(window, "cbCOM")->isEnabled());
  });
  EXPECT_EQ(run.connection, given);

  const TRun chosen =
      RunDialog(dialog, "provider=SERIAL_PORT;comport=3;baudrate=9600", 49, [&](QWidget* window) {
        EXPECT_FALSE(Child<QCheckBox>(window, "chbDevice")->isChecked());
        EXPECT_EQ(Text(window, "cbCOM"), "COM 3");
        Click(window, "chbDevice");
        EXPECT_EQ(Text(window, "eDevice").toStdString(), stableName);
      });
  EXPECT_EQ(chosen.connection, "provider=SERIAL_PORT;device=" + stableName + ";baudrate=9600");

  const TRun typed = RunDialog(dialog, chosen.connection, 49, [](QWidget* window) {
    auto* path = Child<QLineEdit>(window, "eDevice");
    path->clear();
    QTest::keyClicks(path, "/dev/ttyACM0");
  });
  EXPECT_EQ(typed.connection, "provider=SERIAL_PORT;device=/dev/ttyACM0;baudrate=9600");
}

TEST(ConnectionDialog, CancelAndTheCloseBoxChangeNothing) {
  TfConnectionDialog dialog(nullptr, PortsPresent({1}));
  const auto changeEverything = [](QWidget* window) {
    Click(window, "rbTCP");
    Child<QLineEdit>(window, "eIP")->setText("10.9.9.9");
    Child<QComboBox>(window, "cbbADR")->setCurrentIndex(7);
  };
  const std::string connection = "provider=SERIAL_PORT;comport=1;baudrate=9600";
  const TRun cancelled = RunDialog(dialog, connection, 49, changeEverything, "bCancel");
  EXPECT_FALSE(cancelled.confirmed);
  EXPECT_EQ(cancelled.connection, connection);
  EXPECT_EQ(cancelled.address, 49);

  std::string closedConnection = connection;
  TByte closedAddress = 49;
  TModalAnswer closeBox([&](QWidget* window) {
    changeEverything(window);
    window->close();
  });
  EXPECT_FALSE(dialog.Execute(closedConnection, closedAddress));
  EXPECT_EQ(closedConnection, connection);
  EXPECT_EQ(closedAddress, 49);
}

// ---- The keyboard alone --------------------------------------------------------------------

// A key pressed as the user presses it: into the control that has the focus.
void Press(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWidget* focused = window->focusWidget();
  QTest::keyClick(focused ? focused : window, key, modifiers);
}

void Type(QWidget* window, const char* text) {
  QTest::keyClicks(window->focusWidget(), text);
}

// The mnemonic of a button clicks it a tenth of a second later, as it shows it pressed.
bool WaitForChecked(QWidget* window, const char* button) {
  auto* target = Child<QAbstractButton>(window, button);
  return QTest::qWaitFor([target] { return target->isChecked(); }, test::kPatienceMs);
}

std::string Focused(QWidget* window) {
  return window->focusWidget() ? window->focusWidget()->objectName().toStdString() : "";
}

// No mouse: Alt+E chooses the Ethernet line, Alt+I and Alt+D lead to its fields, which take
// `host` and `port` as typed; Alt+P shows the address, Alt+A leads to it and typing picks
// `address`; Tab reaches "Ok" and Enter confirms.
void SetUpByKeyboard(QWidget* window, const char* host, const char* port, const char* address) {
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));
  Press(window, Qt::Key_E, Qt::AltModifier);
  ASSERT_TRUE(WaitForChecked(window, "rbTCP"));
  EXPECT_FALSE(Child<QAbstractButton>(window, "rbCOM")->isChecked());
  Press(window, Qt::Key_I, Qt::AltModifier);
  ASSERT_EQ(Focused(window), "eIP");
  Type(window, host);  // over the old host, which the focus selected
  Press(window, Qt::Key_D, Qt::AltModifier);
  ASSERT_EQ(Focused(window), "iePort");
  Type(window, port);

  Press(window, Qt::Key_P, Qt::AltModifier);
  ASSERT_TRUE(WaitForChecked(window, "sbExpertMode"));
  Press(window, Qt::Key_A, Qt::AltModifier);
  ASSERT_EQ(Focused(window), "cbbADR");
  Type(window, address);

  Press(window, Qt::Key_D, Qt::AltModifier);
  for (const char* next : {"sbExpertMode", "bFindDisplays", "bOK"}) {
    Press(window, Qt::Key_Tab);
    ASSERT_EQ(Focused(window), next);
  }
  Press(window, Qt::Key_Return);
}

TEST(ConnectionDialog, TheKeyboardAloneSetsUpAConnectionThatReachesTheDisplay) {
  const TStandardTransports transports;
  test::TSimProcess sim({"--address", "66"});
  TfConnectionDialog dialog(nullptr, PortsPresent({1}));
  std::string connection = "provider=SERIAL_PORT;comport=1;baudrate=9600";
  TByte address = kZorvidDefaultAddress;
  TModalAnswer answer([&](QWidget* window) {
    SetUpByKeyboard(window, "127.0.0.1", std::to_string(sim.Port()).c_str(), "66");
    if (window->isVisible()) window->close();  // a step failed before Enter
  });
  const bool confirmed = dialog.Execute(connection, address);
  ASSERT_TRUE(answer.answered());
  ASSERT_TRUE(confirmed);
  EXPECT_EQ(connection, sim.Connection());
  EXPECT_EQ(address, 66);
  TDisplayConnection display;
  EXPECT_TRUE(display.Connect(connection, address)) << display.FailureReason();
}

}  // namespace
}  // namespace zorvid
