// The main window driven through its controls against a real zorvid-sim on loopback TCP.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimeEdit>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/HexText.h"
#include "link/DisplayConnection.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/EventLoop.h"
#include "tests/support/ModalWindows.h"
#include "tests/support/SimProcess.h"
#include "transport/ConnectionString.h"
#include "transport/Transports.h"
#include "ui/CiLog.h"
#include "ui/ConnectionDialog.h"
#include "ui/DisplayPanel.h"
#include "ui/MainWindow.h"
#include "ui/controls/IntEdit.h"

namespace zorvid {
namespace {

using namespace std::chrono_literals;
using test::TModalAnswer;
using test::TSimProcess;

const QColor kGreen(0, 128, 0);
const QColor kRed(255, 0, 0);
const char* kConnectedText = "Spojení bylo úspěšně navázáno.";
const char* kSavedText = "Nastavení bylo úspěšně uloženo do zařízení.";
const char* kLoadedText = "Nastavení bylo úspěšně nahráno ze zařízení.";

// A second client of the simulator, to see what the window wrote (the simulator serves one
// client at a time, so the window disconnects first).
class TProbe {
 public:
  explicit TProbe(const TSimProcess& sim) {
    EXPECT_TRUE(connection_.Connect(sim.Connection(), kZorvidDefaultAddress))
        << connection_.FailureReason();
  }
  IZorvid* operator->() { return &connection_.Device(); }

 private:
  TDisplayConnection connection_;
};

class MainWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterStandardTransports(); }
  static void TearDownTestSuite() { UnregisterStandardTransports(); }

  template <class TChild = QWidget>
  TChild* Child(const char* name) {
    auto* child = window_.findChild<TChild*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  bool Checked(const char* name) { return Child<QAbstractButton>(name)->isChecked(); }
  bool Enabled(const char* name) { return Child(name)->isEnabled(); }
  TIntEdit* Edit(const char* name) { return Child<TIntEdit>(name); }
  // Clicks and waits for the procedure's outcome.
  void Click(const char* name) {
    auto* button = Child<QAbstractButton>(name);
    ASSERT_TRUE(button->isEnabled()) << name;
    button->click();
    WaitIdle();
  }
  void WaitIdle() {
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window_.IsBusy(); }, 5000))
        << "the window's procedures did not end";
  }
  // One tick of the poll, once whatever runs has ended, with its outcome shown.
  void Poll() {
    WaitIdle();
    QSignalSpy polled(&window_, &TfMain::polled);
    window_.Timer1Timer();
    ASSERT_TRUE(!polled.isEmpty() || polled.wait(5000)) << "no poll";
  }
  bool Connect(const std::string& connection, TByte address) {
    QSignalSpy finished(&window_, &TfMain::connectFinished);
    window_.ConnectTo(connection, address);
    if (finished.isEmpty() && !finished.wait(10000)) {
      ADD_FAILURE() << "the connect did not end";
      return false;
    }
    return finished.first().first().toBool();
  }
  void Check(const char* name, bool checked) { Child<QAbstractButton>(name)->setChecked(checked); }
  QString Status() { return Child<QLabel>("pnlStatusbar")->text(); }
  QColor StatusColour() {
    return Child<QLabel>("pnlStatusbar")->palette().color(QPalette::WindowText);
  }
  void ExpectStatus(const char* text, const QColor& colour) {
    EXPECT_EQ(Status(), QString::fromUtf8(text));
    EXPECT_EQ(StatusColour(), colour);
  }
  void ConnectTo(const TSimProcess& sim) {
    ASSERT_TRUE(Connect(sim.Connection(), 49));
    ExpectStatus(kConnectedText, kGreen);
  }
  void Disconnect() { Click("btnCIClose"); }
  TDisplayPanel* Panel() { return Child<TDisplayPanel>("pnlDisplay"); }

  TfMain window_;
};

// The whole window before a connect: the controls' starting state, every caption fitting its
// control, and a picture of each page (the service fields shown), kept for a look by eye when a
// check failed.
TEST_F(MainWindowTest, StartsDisconnectedWithItsInitialValuesAndNothingClipped) {
  window_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  EXPECT_EQ(window_.windowTitle(), "Zorvid-L");
  for (const char* page : {"TabSheet1", "TabSheet2", "TabSheet3", "btnCIClose"})
    EXPECT_FALSE(Enabled(page)) << page;
  for (const char* button : {"btnCIOpen", "btnClose", "btnAbout"})
    EXPECT_TRUE(Enabled(button)) << button;
  EXPECT_TRUE(Checked("rbDisplayDataExpirationNo"));
  EXPECT_TRUE(Checked("rbDisplayBrightnessStatic"));
  EXPECT_EQ(Edit("ieDisplayBrightness")->Value(), 27);
  EXPECT_EQ(Edit("ieDisplayBrightnessMin")->Value(), 6);
  EXPECT_EQ(Edit("ieDisplayBrightnessMax")->Value(), 36);
  EXPECT_EQ(Edit("ieDisplayBrightnessGain")->Value(), 0);
  EXPECT_EQ(Child<QLabel>("lblTemperature")->text(), "---");
  EXPECT_TRUE(Status().isEmpty());
  EXPECT_TRUE(Child("ieDateTimeOffset")->isHidden());
  EXPECT_EQ(Child<QDateEdit>("dtpDeviceDate")->minimumDate(), QDate(2000, 1, 1));
  EXPECT_EQ(Child<QDateEdit>("dtpDeviceDate")->maximumDate(), QDate(2099, 12, 31));

  // The service gesture: Ctrl and a double click below the separator of the bottom panel.
  QWidget* buttons = Child("pnlButtons");
  QTest::mouseDClick(buttons, Qt::LeftButton, Qt::ControlModifier, QPoint(buttons->width() / 2, 5));
  EXPECT_TRUE(Child("ieDateTimeOffset")->isHidden()) << "on the separator line";
  QTest::mouseDClick(buttons, Qt::LeftButton, {}, QPoint(buttons->width() / 2, 30));
  EXPECT_TRUE(Child("ieDateTimeOffset")->isHidden()) << "without Ctrl";
  QTest::mouseDClick(buttons, Qt::LeftButton, Qt::ControlModifier,
                     QPoint(buttons->width() / 2, 30));
  for (const char* service : {"Label5", "Label6", "ieDateTimeOffset", "ieDateTimeZone"})
    EXPECT_FALSE(Child(service)->isHidden()) << service;

  QTemporaryDir pictures;
  ASSERT_TRUE(pictures.isValid());
  auto* pages = Child<QTabWidget>("PageControl1");
  for (int page = 0; page < pages->count(); ++page) {
    pages->setCurrentIndex(page);
    QCoreApplication::processEvents();
    for (QWidget* control : pages->currentWidget()->findChildren<QWidget*>()) {
      // The controls the window placed; the parts inside a control are its own business.
      const QWidget* parent = control->parentWidget();
      if (!control->isVisible() ||
          !(qobject_cast<const QGroupBox*>(parent) || parent == pages->currentWidget()))
        continue;
      EXPECT_GE(control->width(), control->minimumSizeHint().width())
          << control->objectName().toStdString();
      EXPECT_GE(control->height(), control->minimumSizeHint().height())
          << control->objectName().toStdString();
    }
    window_.grab().save(pictures.filePath(QStringLiteral("main-%1.png").arg(page + 1)));
  }
  if (HasFailure()) {
    pictures.setAutoRemove(false);
    ADD_FAILURE() << "the pages' pictures are in " << pictures.path().toStdString();
  }
}

// Connect through the dialog, mirror and set segments, temperature in the user's locale, and the
// connect's failures with their reasons.
TEST_F(MainWindowTest, ConnectsThroughTheDialogAndMirrorsTheDisplay) {
  TSimProcess sim({"--temperature", "21.5"});
  TfConnectionDialog dialog(nullptr, [](int) { return cpsAbsent; });
  window_.SetConnectionDialog(&dialog);
  const auto answerDialog = [&sim](const char* finish) {
    return std::make_unique<TModalAnswer>([&sim, finish](QWidget* modal) {
      modal->findChild<QRadioButton*>("rbTCP")->click();
      modal->findChild<QLineEdit*>("eIP")->setText("127.0.0.1");
      modal->findChild<TIntEdit*>("iePort")->SetValue(sim.Port());
      modal->findChild<QAbstractButton*>(finish)->click();
    });
  };
  auto answer = answerDialog("bOK");
  Click("btnCIOpen");
  EXPECT_TRUE(answer->answered());
  ExpectStatus(kConnectedText, kGreen);
  EXPECT_TRUE(Enabled("TabSheet1"));
  EXPECT_TRUE(Enabled("btnCIClose"));

  const QLocale userLocale;
  QLocale::setDefault(QLocale(QLocale::Czech));
  Poll();
  EXPECT_EQ(Child<QLabel>("lblTemperature")->text(), QString::fromUtf8("21,5 °C"));
  QLocale::setDefault(QLocale(QLocale::English));
  Poll();
  EXPECT_EQ(Child<QLabel>("lblTemperature")->text(), QString::fromUtf8("21.5 °C"));
  QLocale::setDefault(userLocale);

  Child<QLineEdit>("edtDisplayChars")->setText("0123");
  Click("btnDisplayCharsSet");
  ExpectStatus(kSavedText, kGreen);
  Poll();
  EXPECT_EQ(FormatHexSpaced(Panel()->CollectDisplayData().substr(1)), "3F 06 5B 4F");
  // Digit 2 shows "1": its top bar is dark until clicked, and the display then shows it lit.
  auto* topBar = Panel()->findChild<QWidget*>("shDigit2Bit0");
  ASSERT_NE(topBar, nullptr);
  QTest::mouseClick(topBar, Qt::LeftButton, {}, topBar->rect().center());
  Panel()->ShowDisplayData(TByteString(5, '\0'));
  Poll();
  EXPECT_EQ(FormatHexSpaced(Panel()->CollectDisplayData().substr(1)), "3F 07 5B 4F");
  // A right-button release toggles nothing but sends the pattern as shown.
  Panel()->ShowDisplayData(TByteString("\x01\x40\x40\x40\x40", 5));
  QTest::mouseClick(topBar, Qt::RightButton, {}, topBar->rect().center());
  Panel()->ShowDisplayData(TByteString(5, '\0'));
  Poll();
  EXPECT_EQ(FormatHexSpaced(Panel()->CollectDisplayData()), "01 40 40 40 40");

  // Cancelling leaves the connection; confirming it unchanged connects again.
  Click("btnShowActualInformation");
  answer = answerDialog("bCancel");
  Click("btnCIOpen");
  EXPECT_TRUE(answer->answered());
  EXPECT_EQ(Status(), QString::fromUtf8("Zobrazování aktuální informace bylo úspěšně uloženo do "
                                        "zařízení."));
  EXPECT_TRUE(Enabled("TabSheet1"));
  answer = answerDialog("bOK");
  Click("btnCIOpen");
  ExpectStatus(kConnectedText, kGreen);

  auto* status = Child<QLabel>("pnlStatusbar");
  EXPECT_FALSE(Connect(sim.Connection(), 50));
  ExpectStatus("Spojení se nepodařilo navázat!", kRed);
  EXPECT_TRUE(status->toolTip().startsWith("no identification from address 50 (0x32)"))
      << status->toolTip().toStdString();
  EXPECT_FALSE(Enabled("TabSheet1"));
  Poll();
  EXPECT_EQ(Child<QLabel>("lblTemperature")->text(), "---");
  EXPECT_FALSE(Connect("provider=TCP_CLIENT;host=127.0.0.1;port=1", 49));
  EXPECT_TRUE(status->toolTip().contains("127.0.0.1")) << status->toolTip().toStdString();
  EXPECT_FALSE(Connect("provider=NONE", 49));
  EXPECT_TRUE(status->toolTip().contains("provider=NONE")) << status->toolTip().toStdString();
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "the hourglass stayed on";
  ASSERT_TRUE(Connect(sim.Connection(), 49));
  EXPECT_TRUE(status->toolTip().isEmpty());
}

// Every save changes the display as the window shows it, every load shows what the display holds.
TEST_F(MainWindowTest, SavesAndLoadsEverySettingThroughTheDisplay) {
  TSimProcess sim;
  ConnectTo(sim);
  EXPECT_FALSE(Enabled("ieDisplayDataExpirationDelay")) << "while \"Trvale\" is checked";
  EXPECT_FALSE(Enabled("ieDisplayBrightnessMin")) << "while \"Staticky\" is checked";
  Edit("ieDisplayBrightness")->SetValue(90);
  Check("rbDisplayBrightnessAuto", true);
  Edit("ieDisplayBrightnessMin")->SetValue(10);
  Edit("ieDisplayBrightnessMax")->SetValue(30);
  Edit("ieDisplayBrightnessGain")->SetValue(40);
  Click("btnDisplayParamSave");
  ExpectStatus(kSavedText, kGreen);
  Check("chbDateTimeShowTimeAfterTurnOn", true);
  Check("chbDateTimeShowDate", true);
  Check("chbDateTimeFormat12Hour", true);
  Edit("ieDateTimeOffset")->SetValue(-60);
  Edit("ieDisplayDataExpirationDelay")->SetValue(77);  // not sent: "Trvale" is checked
  Click("btnDateTimeParamSave");
  ExpectStatus(kSavedText, kGreen);
  Child<QDateEdit>("dtpDeviceDate")->setDate(QDate(2031, 5, 6));
  Child<QTimeEdit>("dtpDeviceTime")->setTime(QTime(7, 8, 9));
  Click("btnDateTimeSave");
  ExpectStatus(kSavedText, kGreen);
  Disconnect();
  {
    TProbe probe(sim);
    std::int32_t value = 0;
    ASSERT_TRUE(probe->GetDisplayBrightness(value));
    EXPECT_EQ(value, 90);
    TBrightnessAuto automatic;
    ASSERT_TRUE(probe->GetDisplayBrightnessAuto(automatic));
    EXPECT_EQ(automatic, (TBrightnessAuto{true, 10, 30, 40}));
    TDateTimeParams params;
    ASSERT_TRUE(probe->GetDateTimeParams(params));
    EXPECT_EQ(params,
              (TDateTimeParams{
                  .showAfterTurnOn = true, .format12Hour = true, .showDate = true, .offset = -60}));
    TDataExpiration expiration{-1, 0};
    ASSERT_TRUE(probe->GetDisplayDataExpiration(expiration));
    EXPECT_EQ(expiration.seconds, 0);
    TDateTime clock = 0;
    ASSERT_TRUE(probe->GetDateTime(clock));
    const TDateTimeParts parts = DecodeDateTime(clock);
    EXPECT_EQ(parts.year * 10000 + parts.month * 100 + parts.day, 20310506);
    EXPECT_LE(parts.hour * 3600 + parts.minute * 60 + parts.second - (7 * 3600 + 8 * 60 + 9), 2);
    // What the next connect loads.
    ASSERT_TRUE(probe->SetDisplayBrightness(12));
    ASSERT_TRUE(probe->SetDisplayBrightnessAuto({false, 7, 20, 5}));
    ASSERT_TRUE(probe->SetDateTimeParams(
        {true, true, false, true, false, true, true, false, true, 120, 3}));
    ASSERT_TRUE(probe->SetDisplayDataExpiration(300));
  }
  ConnectTo(sim);
  Click("btnDisplayParamLoad");
  ExpectStatus(kLoadedText, kGreen);
  EXPECT_TRUE(Checked("rbDisplayBrightnessStatic"));
  EXPECT_EQ(Edit("ieDisplayBrightness")->Value(), 12);
  EXPECT_EQ(Edit("ieDisplayBrightnessMin")->Value(), 7);
  EXPECT_EQ(Edit("ieDisplayBrightnessMax")->Value(), 20);
  EXPECT_EQ(Edit("ieDisplayBrightnessGain")->Value(), 5);
  EXPECT_FALSE(Enabled("ieDisplayBrightnessMin"));
  Click("btnDateTimeParamLoad");
  ExpectStatus(kLoadedText, kGreen);
  EXPECT_TRUE(Checked("rbDisplayDataExpirationDelay"));
  EXPECT_EQ(Edit("ieDisplayDataExpirationDelay")->Value(), 300);
  EXPECT_TRUE(Enabled("ieDisplayDataExpirationDelay"));
  EXPECT_TRUE(Checked("chbDateTimeAutoUpdate"));
  EXPECT_FALSE(Checked("chbDateTimeShowTimeAfterTurnOn"));
  EXPECT_TRUE(Checked("chbDateTimeShowTimeAfterExpiration"));
  EXPECT_TRUE(Checked("chbDateTimeFormatMDY"));
  EXPECT_TRUE(Checked("chbDateTimeShowTime"));
  EXPECT_TRUE(Checked("chbDateTimeShowTemp"));
  EXPECT_EQ(Edit("ieDateTimeOffset")->Value(), 120);
  EXPECT_EQ(Edit("ieDateTimeZone")->Value(), 3);
  Click("btnDateTimeLoad");
  ExpectStatus(kLoadedText, kGreen);
  EXPECT_EQ(Child<QDateEdit>("dtpDeviceDate")->date(), QDate(2031, 5, 6));
  Click("btnDateTimeSavePC");
  ExpectStatus(kSavedText, kGreen);
  Click("btnDateTimeLoad");
  EXPECT_LE(Child<QTimeEdit>("dtpDeviceTime")->time().secsTo(QTime::currentTime()), 2);
  EXPECT_EQ(Child<QDateEdit>("dtpDeviceDate")->date(), QDate::currentDate());
}

// A display that refuses an instruction gives the red status; the steps after it are not sent.
TEST_F(MainWindowTest, ARefusedInstructionGivesTheRedStatus) {
  TSimProcess sim({"--ack", "0x93=5"});  // SetDisplayBrightness refused
  ConnectTo(sim);
  Click("btnDisplayParamSave");
  ExpectStatus("Nastavení se nepodařilo uložit do zařízení!", kRed);
  Click("btnDisplayParamLoad");
  ExpectStatus(kLoadedText, kGreen);
}

// Answers that no setter would accept are shown nowhere: the status names the value and its
// range in red, and every control keeps what it showed.
TEST_F(MainWindowTest, AnswersNoSetterWouldAcceptChangeNoControl) {
  struct TCase {
    const char* answer;  // the simulator's --answer
    const char* button;
    const char* status;
  };
  const TCase cases[] = {
      {"0x83=C8", "btnDisplayParamLoad", "jas 200 (0..127)"},
      {"0x85=01FF00C8", "btnDisplayParamLoad", "minimální jas 255 (6..36)"},
      {"0x77=073F030D0003", "btnDateTimeParamLoad", "časový posun 781 (-660..780)"},
      {"0x71=0E050900010C9C", "btnDateTimeLoad", "rok 2156 (2000..2099)"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.answer);
    TSimProcess sim({"--answer", c.answer});
    ConnectTo(sim);
    Edit("ieDisplayBrightness")->SetValue(99);
    Edit("ieDateTimeOffset")->SetValue(5);
    Child<QDateEdit>("dtpDeviceDate")->setDate(QDate(2030, 3, 4));
    Click(c.button);
    ExpectStatus((std::string("Neplatná hodnota ze zařízení: ") + c.status).c_str(), kRed);
    EXPECT_EQ(Edit("ieDisplayBrightness")->Value(), 99);
    EXPECT_TRUE(Checked("rbDisplayBrightnessStatic"));
    EXPECT_EQ(Edit("ieDisplayBrightnessMin")->Value(), 6);
    EXPECT_EQ(Edit("ieDateTimeOffset")->Value(), 5);
    EXPECT_FALSE(Checked("chbDateTimeSummerTime"));
    EXPECT_EQ(Child<QDateEdit>("dtpDeviceDate")->date(), QDate(2030, 3, 4));
    Disconnect();
  }
}

// Without "rtc" and "ZorvidL" in the identification the clock and automatic brightness are off.
TEST_F(MainWindowTest, ABasicDisplayGatesTheClockAndTheAutomaticBrightness) {
  TSimProcess sim({"--basic"});
  {
    TProbe probe(sim);
    ASSERT_TRUE(
        probe->SetDateTimeParams({true, true, true, false, true, true, true, true, true, 60, 2}));
  }
  Check("rbDisplayBrightnessAuto", true);
  Edit("ieDisplayBrightnessMax")->SetValue(20);
  Check("chbDateTimeSummerTime", true);
  ConnectTo(sim);
  EXPECT_FALSE(Enabled("gbDateTime"));
  EXPECT_TRUE(Checked("rbDisplayBrightnessStatic"));
  EXPECT_FALSE(Enabled("rbDisplayBrightnessAuto"));
  EXPECT_EQ(Edit("ieDisplayBrightnessMax")->Value(), 36);
  EXPECT_FALSE(Checked("chbDateTimeSummerTime"));
  for (const char* on :
       {"gbDateTimeParams", "chbDateTimeShowTimeAfterTurnOn", "chbDateTimeShowTimeAfterExpiration",
        "btnDateTimeParamLoad", "btnDateTimeParamSave"})
    EXPECT_TRUE(Enabled(on)) << on;
  for (const char* off : {"chbDateTimeAutoUpdate", "chbDateTimeSummerTime",
                          "rbDisplayDataExpirationNo", "chbDateTimeShowTime", "chbDateTimeShowDate",
                          "chbDateTimeShowTemp", "ieDisplayDataExpirationDelay"})
    EXPECT_FALSE(Enabled(off)) << off;
  Check("chbDateTimeShowTimeAfterExpiration", true);
  for (const char* rotated : {"chbDateTimeShowTime", "chbDateTimeShowDate", "chbDateTimeShowTemp"})
    EXPECT_TRUE(Enabled(rotated)) << rotated;
  Click("btnDisplayParamLoad");  // the static value only: the automatic one would be refused
  ExpectStatus(kLoadedText, kGreen);
  // Loading shows the information settings but clears what only a clock can do.
  Click("btnDateTimeParamLoad");
  ExpectStatus(kLoadedText, kGreen);
  EXPECT_TRUE(Checked("chbDateTimeShowTimeAfterTurnOn"));
  EXPECT_TRUE(Checked("chbDateTimeShowTemp"));
  for (const char* clock : {"chbDateTimeAutoUpdate", "chbDateTimeFormatMDY", "chbDateTimeShowTime"})
    EXPECT_FALSE(Checked(clock)) << clock;
  EXPECT_EQ(Edit("ieDateTimeOffset")->Value(), 0);
}

// The text edit turns light red for a text the display refuses, as the device's own rule says.
TEST_F(MainWindowTest, MarksADisplayTextTheDeviceRefuses) {
  window_.show();
  auto* edit = Child<QLineEdit>("edtDisplayChars");
  const auto background = [edit] { return edit->grab().toImage().pixelColor(8, 4); };
  const QColor normal = background();
  edit->setText("12.34");
  EXPECT_EQ(background(), normal);
  for (const char* refused : {"123456", "12.3:", ".12"}) {
    edit->setText(refused);
    EXPECT_EQ(background(), QColor(255, 160, 160)) << refused;
  }
  edit->setText("AB-1:");
  EXPECT_EQ(background(), normal);
}

// The log window the gesture opens shows the poll's packets.
// A sink installed before the log window (the forwarder of the "DST" switch) still gets it all.
TEST_F(MainWindowTest, TheServiceGestureOpensTheLogWithThePollsTraffic) {
  TSimProcess sim;
  // Removed again after the log window has gone.
  struct TCounter {
    void Count(TCiRef, const TByteString& data, TByte) { bytes += data.size(); }
    std::atomic<std::size_t> bytes{0};
  } forwarded;
  const TInstalledSpySink counting(TSpySink(&forwarded, &TCounter::Count));
  TfCiLog log;
  window_.SetCommunicationLog(&log);
  ConnectTo(sim);
  QWidget* buttons = Child("pnlButtons");
  QTest::mouseDClick(buttons, Qt::LeftButton, Qt::ControlModifier,
                     QPoint(buttons->width() / 2, 30));
  EXPECT_TRUE(log.isVisible());
  Poll();
  log.Timer1Timer();
  // The two requests of the poll, each followed by its answer.
  const QStringList lines = log.findChild<QTextEdit*>("reLog")->toPlainText().split('\n');
  ASSERT_EQ(lines.size(), 4) << lines.join('\n').toStdString();
  EXPECT_TRUE(lines[0].contains(QRegularExpression(" 31 [0-9A-F]{2} 81 "))) << "segments";
  EXPECT_TRUE(lines[2].contains(QRegularExpression(" 31 [0-9A-F]{2} 51 "))) << "temperature";
  EXPECT_GT(forwarded.bytes, 0u);
}

}  // namespace
}  // namespace zorvid
