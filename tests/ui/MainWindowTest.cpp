// The main window driven through its controls against a real zorvid-sim on loopback TCP.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/HexText.h"
#include "device/ZorvidCodec.h"
#include "link/DisplayConnection.h"
#include "link/DisplayLink.h"
#include "link/SettingsSnapshot.h"
#include "protocol/Korvel97.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/EventLoop.h"
#include "tests/support/ModalWindows.h"
#include "tests/support/Patience.h"
#include "tests/support/SentRequests.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Tshark.h"
#include "transport/CommunicationInterfaceDataSpy.h"
#include "transport/ConnectionString.h"
#include "transport/Transports.h"
#include "ui/CiLog.h"
#include "ui/ConnectionDialog.h"
#include "ui/DisplayPanel.h"
#include "ui/Language.h"
#include "ui/MainWindow.h"
#include "ui/controls/IntEdit.h"

namespace zorvid {
namespace {

using namespace std::chrono_literals;
using test::kPatienceMs;
using test::TModalAnswer;
using test::TSentRequests;
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
  // The tests poll when they choose (Poll), so that no poll of the timer changes what they
  // look at; the test of a silent display starts the timer.
  MainWindowTest() { PollTimer()->stop(); }
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
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window_.IsBusy(); }, kPatienceMs))
        << "the window's procedures did not end";
  }
  // One tick of the poll, once whatever runs has ended, with its outcome shown.
  void Poll() {
    WaitIdle();
    QSignalSpy polled(&window_, &TfMain::polled);
    window_.Timer1Timer();
    ASSERT_TRUE(!polled.isEmpty() || polled.wait(kPatienceMs)) << "no poll";
  }
  bool Connect(const std::string& connection, TByte address) {
    QSignalSpy finished(&window_, &TfMain::connectFinished);
    window_.ConnectTo(connection, address);
    if (finished.isEmpty() && !finished.wait(kPatienceMs)) {
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
    EXPECT_EQ(Status().toStdString(), text);
    EXPECT_EQ(StatusColour(), colour);
  }
  void ConnectTo(const TSimProcess& sim) {
    ASSERT_TRUE(Connect(sim.Connection(), 49));
    ExpectStatus(kConnectedText, kGreen);
  }
  void Disconnect() { Click("btnCIClose"); }
  TDisplayPanel* Panel() { return Child<TDisplayPanel>("pnlDisplay"); }
  QTimer* PollTimer() { return Child<QTimer>("Timer1"); }

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
  EXPECT_EQ(Child<QLabel>("lblTemperature")->text(),
            QLocale().toString(21.5, 'f', 1) + QString::fromUtf8(" °C"));
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
  ExpectStatus("Spojení se nepodařilo navázat: identifikace – displej neodpovídá.", kRed);
  EXPECT_EQ(status->toolTip(),
            QString::fromUtf8("Krok: identifikace, adresa 50 (0x32), pokusů: 3"));
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
  TDateTimeParams expectedParams;  // the display's own, with the changes made below
  ASSERT_TRUE(TProbe(sim)->GetDateTimeParams(expectedParams));
  expectedParams.showAfterTurnOn = expectedParams.showDate = expectedParams.format12Hour = true;
  expectedParams.offset = -60;
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
    EXPECT_EQ(params, expectedParams);
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
  ExpectStatus("Nastavení se nepodařilo uložit do zařízení: jas – displej odmítl (potvrzení 5).",
               kRed);
  Click("btnDisplayParamLoad");
  ExpectStatus(kLoadedText, kGreen);
}

// A value a rule refuses still loads, shown as the display holds it with its field marked and
// named in the status line: saved untouched it goes nowhere, mended it is saved. A clock year
// the date field cannot hold is not loaded, and the status line says why.
TEST_F(MainWindowTest, AValueARuleRefusesLoadsMarkedAndOnlyAMendedOneIsSaved) {
  struct TCase {
    const char* answer;  // the simulator's --answer
    const char* field;   // the field that shows the value, marked; none for the clock
    std::int32_t shown;
    const char* status;
  };
  const TCase cases[] = {
      {"0x83=C8", "ieDisplayBrightness", 200,
       "Nahráno, ale displej drží neplatnou hodnotu: jas – neplatná hodnota jas 200 (povoleno "
       "0..127)."},
      {"0x85=01FF00C8", "ieDisplayBrightnessMin", 255,
       "Nahráno, ale displej drží neplatnou hodnotu: automatický jas – neplatná hodnota "
       "minimální jas 255 (povoleno 6..36)."},
      {"0x77=073F030D0003", "ieDateTimeOffset", 781,
       "Nahráno, ale displej drží neplatnou hodnotu: parametry zobrazení – neplatná hodnota "
       "časový posun 781 (povoleno -660..780)."},
      {"0x71=0E050900010C9C", nullptr, 0,
       "Spojení bylo navázáno, ale nastavení se nepodařilo nahrát: datum a čas – neplatná "
       "hodnota rok 2156 (povoleno 2000..2099)."},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.answer);
    TSimProcess sim({"--answer", c.answer});
    ASSERT_TRUE(Connect(sim.Connection(), 49));
    ExpectStatus(c.status, kRed);
    if (!c.field) {
      EXPECT_FALSE(Enabled("btnDateTimeSave"));
      Disconnect();
      continue;
    }
    EXPECT_EQ(Edit(c.field)->Value(), c.shown);
    EXPECT_TRUE(Edit(c.field)->property("marked").toBool());
    const bool brightness = QString::fromUtf8(c.field).startsWith("ieDisplayBrightness");
    Click(brightness ? "btnDisplayParamSave" : "btnDateTimeParamSave");
    EXPECT_TRUE(
        Status().startsWith(QString::fromUtf8("Nastavení se nepodařilo uložit do zařízení: ")))
        << Status().toStdString();
    EXPECT_TRUE(Status().contains(QString::fromUtf8("nic neodesláno"))) << Status().toStdString();
    Disconnect();
  }
}

// The field case: a display holding a minimum above its maximum (its firmware compares them
// not) loads marked; nothing of the page goes out until the user mends it, then all of it does.
TEST_F(MainWindowTest, AMinimumAboveTheMaximumLoadsMarkedAndIsMendedFromThePage) {
  TSimProcess sim;
  {
    TProbe probe(sim);
    std::int32_t ack = -1;
    TByteString data;
    // Sent raw: no setter of the programs sends it.
    ASSERT_TRUE(probe->Query(kZorvidSetDisplayBrightnessAuto, "\x01\x1E\x0A\x28", -1, ack, data));
    ASSERT_EQ(ack, 0);
    ASSERT_TRUE(probe->SetDisplayBrightness(40));
  }
  ASSERT_TRUE(Connect(sim.Connection(), 49));
  ExpectStatus(
      "Nahráno, ale displej drží neplatnou hodnotu: automatický jas – neplatná hodnota "
      "minimální jas 30 (povoleno 6..10).",
      kRed);
  EXPECT_TRUE(Checked("rbDisplayBrightnessAuto"));
  EXPECT_EQ(Edit("ieDisplayBrightnessMin")->Value(), 30);
  EXPECT_EQ(Edit("ieDisplayBrightnessMax")->Value(), 10);
  EXPECT_TRUE(Edit("ieDisplayBrightnessMin")->property("marked").toBool());

  Check("rbDisplayBrightnessStatic", true);
  Edit("ieDisplayBrightness")->SetValue(50);
  Click("btnDisplayParamSave");
  ExpectStatus(
      "Nastavení se nepodařilo uložit do zařízení: automatický jas – nic neodesláno, "
      "neplatná hodnota minimální jas 30 (povoleno 6..10).",
      kRed);
  Click("btnDisplayParamLoad");
  EXPECT_EQ(Edit("ieDisplayBrightness")->Value(), 40)
      << "the static brightness went out with the refused minimum";
  EXPECT_TRUE(Checked("rbDisplayBrightnessAuto"));

  Check("rbDisplayBrightnessStatic", true);
  Edit("ieDisplayBrightness")->SetValue(50);
  Edit("ieDisplayBrightnessMin")->SetValue(8);
  EXPECT_FALSE(Edit("ieDisplayBrightnessMin")->property("marked").toBool());
  Click("btnDisplayParamSave");
  ExpectStatus(kSavedText, kGreen);
  Disconnect();
  TProbe probe(sim);
  TBrightnessAuto held;
  ASSERT_TRUE(probe->GetDisplayBrightnessAuto(held));
  EXPECT_EQ(held, (TBrightnessAuto{false, 8, 10, 40}));
}

// From the connect on, the pages show the display's own values, and saving them untouched
// writes exactly those values back: nothing of the window's defaults reaches the display.
TEST_F(MainWindowTest, TheConnectLoadsThePagesAndUntouchedSavesKeepTheDisplaysValues) {
  TSimProcess sim;
  const TDateTimeParams params{.autoUpdate = true,
                               .summerTime = true,
                               .showAfterExpiration = true,
                               .showTemperature = true,
                               .offset = 120,
                               .zone = 3};
  const TBrightnessAuto automatic{true, 10, 30, 40};
  {
    TProbe probe(sim);
    ASSERT_TRUE(probe->SetDateTimeParams(params));
    ASSERT_TRUE(probe->SetDisplayDataExpiration(300));
    ASSERT_TRUE(probe->SetDisplayBrightness(55));
    ASSERT_TRUE(probe->SetDisplayBrightnessAuto(automatic));
  }
  ConnectTo(sim);
  EXPECT_TRUE(Checked("chbDateTimeSummerTime"));
  EXPECT_EQ(Edit("ieDateTimeOffset")->Value(), 120);
  EXPECT_EQ(Edit("ieDateTimeZone")->Value(), 3);
  EXPECT_TRUE(Checked("rbDisplayDataExpirationDelay"));
  EXPECT_EQ(Edit("ieDisplayDataExpirationDelay")->Value(), 300);
  EXPECT_EQ(Edit("ieDisplayBrightness")->Value(), 55);
  EXPECT_TRUE(Checked("rbDisplayBrightnessAuto"));
  EXPECT_EQ(Edit("ieDisplayBrightnessGain")->Value(), 40);
  Click("btnDateTimeParamSave");
  ExpectStatus(kSavedText, kGreen);
  Click("btnDisplayParamSave");
  ExpectStatus(kSavedText, kGreen);
  Disconnect();

  TProbe probe(sim);
  TDateTimeParams heldParams;
  ASSERT_TRUE(probe->GetDateTimeParams(heldParams));
  EXPECT_EQ(heldParams, params);
  TDataExpiration expiration;
  ASSERT_TRUE(probe->GetDisplayDataExpiration(expiration));
  EXPECT_EQ(expiration.seconds, 300);
  std::int32_t brightness = 0;
  ASSERT_TRUE(probe->GetDisplayBrightness(brightness));
  EXPECT_EQ(brightness, 55);
  TBrightnessAuto heldAutomatic;
  ASSERT_TRUE(probe->GetDisplayBrightnessAuto(heldAutomatic));
  EXPECT_EQ(heldAutomatic, automatic);
}

// A group whose values did not load cannot be saved; a save whose second write is refused says
// which half the display has.
TEST_F(MainWindowTest, WhatDidNotLoadCannotBeSavedAndAHalfSaveSaysWhichHalf) {
  TSimProcess sim({"--silent", "0x85", "--ack", "0x94=5"});
  ASSERT_TRUE(Connect(sim.Connection(), 49));
  ExpectStatus(
      "Spojení bylo navázáno, ale nastavení se nepodařilo nahrát: automatický jas – "
      "displej neodpovídá.",
      kRed);
  EXPECT_FALSE(Enabled("btnDisplayParamSave"));
  EXPECT_EQ(Child("btnDisplayParamSave")->toolTip(),
            QString::fromUtf8("Nejdříve nahrajte nastavení ze zařízení."));
  EXPECT_TRUE(Enabled("btnDateTimeParamSave"));
  EXPECT_TRUE(Child("btnDateTimeParamSave")->toolTip().isEmpty());
  EXPECT_TRUE(Enabled("btnDateTimeSavePC")) << "writes what the technician sees";
  Click("btnDateTimeParamSave");
  ExpectStatus(
      "Parametry zobrazení byly uloženy, platnost dat ne: platnost dat – displej odmítl "
      "(potvrzení 5).",
      kRed);
}

// The display reads back another value than the one saved: the status names it.
TEST_F(MainWindowTest, ASaveThatReadsBackOtherValuesNamesThem) {
  // Whatever offset it is sent, the display keeps 0.
  TSimProcess sim({"--alter", "params.offset=0"});
  ConnectTo(sim);
  Edit("ieDateTimeOffset")->SetValue(120);
  Click("btnDateTimeParamSave");
  EXPECT_EQ(StatusColour(), kRed);
  auto* status = Child<QLabel>("pnlStatusbar");
  EXPECT_TRUE(status->text().startsWith(QString::fromUtf8("Zařízení uložilo jiné hodnoty: ")))
      << status->text().toStdString();
  const QString whole = status->toolTip().isEmpty() ? status->text() : status->toolTip();
  EXPECT_EQ(whole, QString::fromUtf8(
                       "Zařízení uložilo jiné hodnoty: časový posun (odesláno 120, přečteno 0)"));
  // The field shows what the display holds: the next save does not send 120 again.
  EXPECT_EQ(Edit("ieDateTimeOffset")->Value(), 0);
  Disconnect();

  // A clock that reads back 2031-12-01 14:05:09 whatever it was set to.
  TSimProcess stuck({"--answer", "0x71=0E050900010C1F"});
  ConnectTo(stuck);
  Child<QDateEdit>("dtpDeviceDate")->setDate(QDate(2030, 3, 4));
  Child<QTimeEdit>("dtpDeviceTime")->setTime(QTime(7, 8, 9));
  Click("btnDateTimeSave");
  const QString clock = status->toolTip().isEmpty() ? status->text() : status->toolTip();
  EXPECT_EQ(clock, QString::fromUtf8("Zařízení uložilo jiné hodnoty: datum a čas (odesláno "
                                     "2030-03-04 07:08:09, přečteno 2031-12-01 14:05:09)"));
  EXPECT_EQ(Child<QDateEdit>("dtpDeviceDate")->date(), QDate(2031, 12, 1));
}

// Without "rtc" and "ZorvidL" in the identification the clock and automatic brightness are off.
TEST_F(MainWindowTest, ABasicDisplayGatesTheClockAndTheAutomaticBrightness) {
  TSimProcess sim({"--basic"});
  {
    TProbe probe(sim);
    ASSERT_TRUE(
        probe->SetDateTimeParams({true, true, false, false, true, true, true, true, true, 60, 2}));
  }
  Check("rbDisplayBrightnessAuto", true);
  Edit("ieDisplayBrightnessMax")->SetValue(20);
  Check("chbDateTimeSummerTime", false);
  ConnectTo(sim);
  EXPECT_FALSE(Enabled("gbDateTime"));
  EXPECT_TRUE(Checked("rbDisplayBrightnessStatic"));
  EXPECT_FALSE(Enabled("rbDisplayBrightnessAuto"));
  EXPECT_EQ(Edit("ieDisplayBrightnessMax")->Value(), 36);
  // What only a clock uses is shown as the display holds it, and cannot be changed here.
  EXPECT_TRUE(Checked("chbDateTimeSummerTime"));
  EXPECT_EQ(Edit("ieDateTimeOffset")->Value(), 60);
  for (const char* on :
       {"gbDateTimeParams", "chbDateTimeShowTimeAfterTurnOn", "chbDateTimeShowTimeAfterExpiration",
        "btnDateTimeParamLoad", "btnDateTimeParamSave"})
    EXPECT_TRUE(Enabled(on)) << on;
  for (const char* off : {"chbDateTimeAutoUpdate", "chbDateTimeSummerTime",
                          "rbDisplayDataExpirationNo", "chbDateTimeShowTime", "chbDateTimeShowDate",
                          "chbDateTimeShowTemp", "ieDisplayDataExpirationDelay"})
    EXPECT_FALSE(Enabled(off)) << off;
  Check("chbDateTimeShowTimeAfterExpiration", true);
  EXPECT_TRUE(Enabled("chbDateTimeShowTemp"));
  for (const char* clock : {"chbDateTimeShowTime", "chbDateTimeShowDate"})
    EXPECT_FALSE(Enabled(clock)) << clock << ": a time and a date need a clock";
  Click("btnDisplayParamLoad");  // the static value only: the automatic one would be refused
  ExpectStatus(kLoadedText, kGreen);
  Click("btnDateTimeParamLoad");
  ExpectStatus(kLoadedText, kGreen);
  EXPECT_FALSE(Checked("chbDateTimeShowTimeAfterExpiration")) << "the display's value again";
  EXPECT_TRUE(Checked("chbDateTimeShowTemp"));
  for (const char* clock : {"chbDateTimeAutoUpdate", "chbDateTimeFormatMDY", "chbDateTimeShowTime"})
    EXPECT_TRUE(Checked(clock)) << clock << " as the display holds it";

  // An untouched save writes back exactly what was read, the clock's fields included.
  Click("btnDateTimeParamSave");
  ExpectStatus(kSavedText, kGreen);
  Disconnect();
  TProbe probe(sim);
  TDateTimeParams held;
  ASSERT_TRUE(probe->GetDateTimeParams(held));
  EXPECT_EQ(held, (TDateTimeParams{true, true, false, false, true, true, true, true, true, 60, 2}));
}

// The mirror is drawn current only while it shows the display as it is: not after a connect
// until a poll read the segments, not while their read fails (the status line names why),
// while the temperature, read on its own, still shows.
TEST_F(MainWindowTest, TheMirrorIsStaleUntilItsSegmentsAreReadAndWhileTheirReadFails) {
  TSimProcess sim({"--ack", "0x81=2", "--temperature", "21.5"});
  ConnectTo(sim);
  EXPECT_TRUE(Panel()->property("stale").toBool()) << "nothing read yet";
  Poll();
  EXPECT_TRUE(Panel()->property("stale").toBool());
  ExpectStatus("Stav displeje nelze přečíst: segmenty – displej odmítl (potvrzení 2).", kRed);
  EXPECT_EQ(Child<QLabel>("lblTemperature")->text(),
            QLocale().toString(21.5, 'f', 1) + QString::fromUtf8(" °C"));
  Disconnect();

  TSimProcess sound;
  ConnectTo(sound);
  EXPECT_TRUE(Panel()->property("stale").toBool()) << "the last display's segments are not these";
  Poll();
  EXPECT_FALSE(Panel()->property("stale").toBool());
}

// The gaps between the ticks of a 20 ms timer on the user-interface thread.
class TStallMeter {
 public:
  TStallMeter() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const auto now = std::chrono::steady_clock::now();
      gaps_.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(now - last_));
      last_ = now;
    });
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.start(20);
  }
  std::chrono::milliseconds Longest() const {
    return gaps_.empty() ? std::chrono::milliseconds::max()
                         : *std::max_element(gaps_.begin(), gaps_.end());
  }

 private:
  QTimer timer_;
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
  std::vector<std::chrono::milliseconds> gaps_;
};

// A display that stops answering: the window goes on (its event loop is never held for an
// exchange), says so in red at the first poll that gets no answer and shows the mirror as not
// current; a save started meanwhile disables the pages at once and cannot be started twice; when
// answers come back, the green text returns. How long the thread may be held is a goal that
// bench/ui_stall.py measures.
TEST_F(MainWindowTest, ASilentDisplayNeitherFreezesTheWindowNorGoesUnsaid) {
  TSimProcess sim;
  ConnectTo(sim);
  PollTimer()->start();
  window_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));  // the first paint is no stall
  TStallMeter stalls;
  const TSentRequests segmentReads(kZorvidGetDisplayData);
  sim.Pause(true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Status() == QString::fromUtf8("Displej neodpovídá."); },
                              kPatienceMs));
  // The poll under way when the display stopped may still have had its answer.
  EXPECT_LE(segmentReads.Count(), 2) << "said at the first poll that got no answer";
  EXPECT_EQ(StatusColour(), kRed);
  EXPECT_TRUE(Child("pnlStatusbar")->toolTip().startsWith(QString::fromUtf8("Bez odpovědi od ")));
  EXPECT_FALSE(Panel()->isEnabled()) << "the mirror is not current";
  EXPECT_TRUE(Enabled("TabSheet3"));

  const TSentRequests brightnessSaves(kZorvidSetDisplayBrightness);
  auto* save = Child<QAbstractButton>("btnDisplayParamSave");
  QTest::mouseClick(save, Qt::LeftButton);
  EXPECT_FALSE(Enabled("TabSheet3")) << "at once";
  ExpectStatus("Probíhá komunikace…", Child("pnllanguage")->palette().color(QPalette::WindowText));
  EXPECT_EQ(window_.cursor().shape(), Qt::BusyCursor);
  QTest::mouseClick(save, Qt::LeftButton);
  QTest::keyClick(save, Qt::Key_Space);
  // Behind it the polls go on back to back, so the link is never idle for long: the outcome
  // is what to wait for.
  // Its answer lost, the write may or may not be stored: the status says neither "saved" nor
  // "not saved".
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        return Status() == QString::fromUtf8(
                               "Není známo, zda displej nastavení uložil: jas – odpověď se "
                               "ztratila.");
      },
      kPatienceMs))
      << Status().toStdString();
  EXPECT_EQ(StatusColour(), kRed);
  EXPECT_EQ(brightnessSaves.Count(), 1);
  EXPECT_NE(window_.cursor().shape(), Qt::BusyCursor);
  // An exchange on this thread would hold it for a whole time-out of 1000 ms, fifty ticks.
  EXPECT_LT(stalls.Longest(), 1000ms) << "the event loop waited for the display";

  sim.Pause(false);
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return Status() == QString::fromUtf8(kConnectedText); }, kPatienceMs))
      << Status().toStdString();
  EXPECT_EQ(StatusColour(), kGreen);
  EXPECT_TRUE(Panel()->isEnabled());
}

// The line comes back with another unit on it (a port's number reused by another adapter): the
// window says so in red, shows the new display's settings and writes nothing to it.
TEST_F(MainWindowTest, AReconnectToAnotherDisplaySaysSoAndWritesNothing) {
  std::optional<TSimProcess> sim(std::in_place);
  const std::string port = std::to_string(sim->Port());
  ConnectTo(*sim);
  sim->Stop();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Status() == QString::fromUtf8("Obnovuji spojení…"); },
                              kPatienceMs));
  std::vector<std::unique_ptr<TSentRequests>> writes;
  for (const TByte write : {0x70, 0x76, 0x90, 0x91, 0x93, 0x94, 0x95})
    writes.push_back(std::make_unique<TSentRequests>(write));
  sim.emplace(std::vector<std::string>{"--tcp", "127.0.0.1:" + port, "--ident", "ZorvidL;v2.0;rtc",
                                       "--seed", "99"});
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return Status() == QString::fromUtf8("Na lince je jiný displej!"); }, kPatienceMs))
      << Status().toStdString();
  EXPECT_EQ(StatusColour(), kRed);
  EXPECT_TRUE(Child("pnlStatusbar")->toolTip().contains("ZorvidL;v2.0;rtc"))
      << Child("pnlStatusbar")->toolTip().toStdString();
  for (const auto& sent : writes)
    EXPECT_EQ(sent->Count(), 0) << "nothing is written to another unit";
}

// The simulator ends under the window: said at once in red with the line's reason, the pages
// disabled; a new simulator on the same port is found again by itself and mirrored. Then
// "Zrušit spojení" ends it for good.
TEST_F(MainWindowTest, ALineThatClosesIsSaidAndReconnectedByItself) {
  // The same seed: the same unit, identifiers and all, each time the simulator starts.
  const std::vector<std::string> sameUnit{"--seed", "7"};
  std::optional<TSimProcess> sim(std::in_place, sameUnit);
  const std::string port = std::to_string(sim->Port());
  ConnectTo(*sim);
  sim->Stop();
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return Status() == QString::fromUtf8("Spojení bylo přerušeno."); }, kPatienceMs))
      << Status().toStdString();
  EXPECT_EQ(StatusColour(), kRed);
  EXPECT_FALSE(Child("pnlStatusbar")->toolTip().isEmpty());
  EXPECT_FALSE(Enabled("TabSheet1"));
  EXPECT_TRUE(Enabled("btnCIClose")) << "it stops the attempts";
  EXPECT_TRUE(QTest::qWaitFor([&] { return Status() == QString::fromUtf8("Obnovuji spojení…"); },
                              kPatienceMs));
  EXPECT_TRUE(
      Child("pnlStatusbar")->toolTip().startsWith(QString::fromUtf8("Pokusů o obnovení: 1")))
      << Child("pnlStatusbar")->toolTip().toStdString();

  sim.emplace(std::vector<std::string>{"--tcp", "127.0.0.1:" + port, "--seed", "7"});
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return Status() == QString::fromUtf8("Spojení bylo obnoveno."); }, kPatienceMs))
      << Status().toStdString() << ": " << Child("pnlStatusbar")->toolTip().toStdString();
  EXPECT_EQ(StatusColour(), kGreen);
  Child<QLineEdit>("edtDisplayChars")->setText("4567");
  Click("btnDisplayCharsSet");
  Poll();
  EXPECT_EQ(FormatHexSpaced(Panel()->CollectDisplayData().substr(1)), "66 6D 7D 07");

  sim->Stop();
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return Status() == QString::fromUtf8("Spojení bylo přerušeno."); }, kPatienceMs));
  Disconnect();
  ExpectStatus("Spojení bylo ukončeno.",
               Child("pnllanguage")->palette().color(QPalette::WindowText));
  EXPECT_FALSE(Enabled("btnCIClose"));
  sim.emplace(std::vector<std::string>{"--tcp", "127.0.0.1:" + port, "--seed", "7"});
  // A timer of this thread that runs out after the first attempt would have been due: timers of
  // one thread run out in order, so an attempt, had one been scheduled, would have come first.
  QTimer after;
  after.setSingleShot(true);
  after.setTimerType(Qt::PreciseTimer);
  after.start(ReconnectDelay(1) * 11 / 10);
  QSignalSpy ranOut(&after, &QTimer::timeout);
  ASSERT_TRUE(ranOut.wait(kPatienceMs));
  EXPECT_EQ(Status(), QString::fromUtf8("Spojení bylo ukončeno.")) << "no attempts after it";
}

// The same over a pseudo-terminal: the window opened the port by the simulator's link to its
// terminal; the terminal hangs up with the simulator, and a new simulator makes the link again
// to a terminal of another name, which the window finds by itself.
TEST_F(MainWindowTest, APseudoTerminalMadeAgainUnderItsLinkIsReconnected) {
  QTemporaryDir directory;
  ASSERT_TRUE(directory.isValid());
  const std::string link = directory.filePath("display").toStdString();
  // The same seed: the same unit, identifiers and all, each time the simulator starts.
  const std::vector<std::string> fast{"--baud", "115200", "--seed", "7"};
  std::optional<test::TSimPty> sim(std::in_place, fast, link);
  ASSERT_TRUE(Connect(sim->Connection() + ";baudrate=115200", 49))
      << window_.ConnectFailure().toStdString();
  sim.reset();
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return Status() == QString::fromUtf8("Spojení bylo přerušeno."); }, kPatienceMs))
      << Status().toStdString();
  sim.emplace(fast, link);
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return Status() == QString::fromUtf8("Spojení bylo obnoveno."); }, kPatienceMs))
      << Status().toStdString() << ": " << Child("pnlStatusbar")->toolTip().toStdString();
  Child<QLineEdit>("edtDisplayChars")->setText("89");
  Click("btnDisplayCharsSet");
  Poll();
  EXPECT_EQ(FormatHexSpaced(Panel()->CollectDisplayData().substr(3)), "7F 6F");
}

// "Adresa a rychlost…" on a display on a pseudo-terminal: the dialog shows what the display
// reported, and the window follows the display to its new address and speed.
TEST_F(MainWindowTest, ADisplayGivenANewAddressAndSpeedIsFollowedThere) {
  test::TSimPty sim;
  ASSERT_TRUE(Connect(sim.Connection() + ";baudrate=9600", 0x31))
      << window_.ConnectFailure().toStdString();
  EXPECT_EQ(Child<QLabel>("lblCommParams")->text(), QString::fromUtf8("Adresa 49 (0x31), 9600 Bd"));

  QString shown, whileAsked;
  bool writableUnchanged = true;
  TModalAnswer answer([&](QWidget* modal) {
    whileAsked = Status();
    shown = modal->findChild<QLabel*>("lblCurrent")->text();
    auto* write = modal->findChild<QAbstractButton*>("btnWrite");
    writableUnchanged = write->isEnabled();
    modal->findChild<QComboBox*>("cbbNewADR")->setCurrentIndex(0x42);
    auto* speeds = modal->findChild<QComboBox*>("cbNewBaud");
    speeds->setCurrentIndex(speeds->findText("19200"));
    write->click();
  });
  Click("btnCommParams");
  ASSERT_TRUE(QTest::qWaitFor([&] { return answer.answered() && !window_.IsBusy(); }, kPatienceMs));
  EXPECT_EQ(shown, QString::fromUtf8("'1'  49 0x31, 9600 Bd"));
  EXPECT_NE(whileAsked, QString::fromUtf8("Probíhá komunikace…")) << "nothing runs while it asks";
  EXPECT_FALSE(writableUnchanged) << "nothing to write before anything changed";
  ExpectStatus("Displej odpovídá na nové adrese a rychlosti.", kGreen);
  EXPECT_EQ(Child<QLabel>("lblCommParams")->text(),
            QString::fromUtf8("Adresa 66 (0x42), 19200 Bd"));
  Child<QLineEdit>("edtDisplayChars")->setText("42");
  Click("btnDisplayCharsSet");
  ExpectStatus(kSavedText, kGreen);
}

// A step that fails is named, and the window stays where the display answers.
TEST_F(MainWindowTest, AFailedAddressChangeNamesItsStepAndKeepsTheConnection) {
  const struct {
    const char* fault;
    const char* status;
    const char* reason;
  } cases[] = {
      {"0xE4=2",
       "Displej nepovolil konfiguraci (0xE4), nic se nezměnilo: adresa a rychlost – displej "
       "odmítl (potvrzení 2).",
       "Krok: povolení konfigurace (0xE4), adresa 49 (0x31)"},
      {"0xE0=2",
       "Displej nepřijal novou adresu a rychlost (0xE0): adresa a rychlost – displej odmítl "
       "(potvrzení 2).",
       "Krok: zápis – adresa a rychlost (0xE0), adresa 49 (0x31)"},
      // Acknowledged, but the display stays where it was.
      {"0xE0=0", "Na nových hodnotách displej neodpověděl, spojení je na původních.",
       "reconnect to address 66 (0x42): no identification from address 66 (0x42) in 3 tries"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    TSimProcess sim({"--ack", c.fault});
    ConnectTo(sim);
    TModalAnswer answer([](QWidget* modal) {
      EXPECT_FALSE(modal->findChild<QComboBox*>("cbNewBaud")->isEnabled())
          << "a TCP line's speed is its converter's";
      modal->findChild<QComboBox*>("cbbNewADR")->setCurrentIndex(0x42);
      modal->findChild<QAbstractButton*>("btnWrite")->click();
    });
    Click("btnCommParams");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return answer.answered() && !window_.IsBusy(); }, kPatienceMs));
    ExpectStatus(c.status, kRed);
    EXPECT_TRUE(Child("pnlStatusbar")->toolTip().startsWith(QString::fromUtf8(c.reason)))
        << Child("pnlStatusbar")->toolTip().toStdString();
    EXPECT_EQ(Child<QLabel>("lblCommParams")->text(),
              QString::fromUtf8("Adresa 49 (0x31), linka TCP"));
    Poll();
    EXPECT_NE(Status(), QString::fromUtf8("Displej neodpovídá.")) << "the display answers still";
    Disconnect();
  }
}

// Closing the window while a procedure waits for a silent display abandons the exchange: the
// window is gone before the request's 1000 ms time-out would have ended.
TEST(MainWindowCloseTest, ClosingWhileAProcedureWaitsDoesNotWaitForTheDisplay) {
  const TStandardTransports transports;
  TSimProcess sim;
  auto window = std::make_unique<TfMain>();
  QSignalSpy connected(window.get(), &TfMain::connectFinished);
  window->ConnectTo(sim.Connection(), 49);
  ASSERT_TRUE(connected.wait(kPatienceMs));
  sim.Pause(true);
  const TSentRequests clockReads(kZorvidGetDateTime);
  window->findChild<QAbstractButton*>("btnDateTimeLoad")->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return clockReads.Count() > 0; }, kPatienceMs));
  ASSERT_TRUE(window->IsBusy());
  window.reset();
  const auto closed = std::chrono::steady_clock::now() - clockReads.FirstSentAt();
  EXPECT_LT(closed, 1000ms) << std::chrono::duration_cast<std::chrono::milliseconds>(closed).count()
                            << " ms after the request went out";
  sim.Pause(false);
}

// The display's settings go to a file and come back from it: the differences are shown first,
// written only when confirmed and read back; a file that cannot be taken writes nothing.
TEST_F(MainWindowTest, SettingsGoToAFileAndComeBackWhenConfirmed) {
  QTemporaryDir directory;
  ASSERT_TRUE(directory.isValid());
  const QString saved = directory.filePath("display.json");
  TSimProcess sim;
  ConnectTo(sim);
  const std::int32_t brightness = Edit("ieDisplayBrightness")->Value();
  window_.SaveSettingsFile(saved);
  WaitIdle();
  ExpectStatus("Nastavení bylo uloženo do souboru.", kGreen);
  EXPECT_EQ(LoadSnapshot(saved.toStdString()).settings.brightness, brightness);

  Edit("ieDisplayBrightness")->SetValue(brightness == 99 ? 98 : 99);
  Click("btnDisplayParamSave");
  ExpectStatus(kSavedText, kGreen);

  // Refused: written nowhere, whatever part of it was sound.
  const QString broken = directory.filePath("broken.json");
  QFile(saved).copy(broken);
  {
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.resize(file.size() / 2);
  }
  const TSentRequests writes(0x93);
  window_.LoadSettingsFile(broken);
  WaitIdle();
  ExpectStatus("Soubor s nastavením nelze použít!", kRed);
  EXPECT_TRUE(Child("pnlStatusbar")->toolTip().contains("broken.json"))
      << Child("pnlStatusbar")->toolTip().toStdString();

  // Cancelled in the dialog: nothing written either.
  auto answer = std::make_unique<TModalAnswer>(
      [](QWidget* modal) { modal->findChild<QAbstractButton*>("btnCancel")->click(); });
  window_.LoadSettingsFile(saved);
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return answer->answered() && !window_.IsBusy(); }, kPatienceMs));
  EXPECT_EQ(Status(), QString::fromUtf8("Nastavení ze souboru nebylo zapsáno."));
  EXPECT_EQ(writes.Count(), 0);

  int rows = 0;
  answer = std::make_unique<TModalAnswer>([&rows](QWidget* modal) {
    rows = modal->findChild<QTableWidget*>("tblChanges")->rowCount();
    modal->findChild<QAbstractButton*>("btnWrite")->click();
  });
  window_.LoadSettingsFile(saved);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return answer->answered() && Status() == QString::fromUtf8(kSavedText); }, kPatienceMs))
      << Status().toStdString();
  EXPECT_EQ(rows, 1) << "only the brightness differs";
  EXPECT_EQ(writes.Count(), 1);
  EXPECT_EQ(Edit("ieDisplayBrightness")->Value(), brightness) << "the pages show it again";
}

// A file whose second group the display refuses: the status names what was written and what
// was not.
TEST_F(MainWindowTest, AFileWrittenHalfSaysWhichHalf) {
  QTemporaryDir directory;
  ASSERT_TRUE(directory.isValid());
  const QString path = directory.filePath("display.json");
  TSimProcess sim({"--ack", "0x93=5"});  // the static brightness refused
  ConnectTo(sim);
  window_.SaveSettingsFile(path);
  WaitIdle();
  ExpectStatus("Nastavení bylo uloženo do souboru.", kGreen);
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    QJsonObject settings = root["settings"].toObject();
    QJsonObject params = settings["params"].toObject();
    params["offset"] = params["offset"].toInt() == 60 ? 30 : 60;
    settings["params"] = params;
    settings["brightness"] = settings["brightness"].toInt() == 11 ? 12 : 11;
    root["settings"] = settings;
    file.resize(0);
    file.write(QJsonDocument(root).toJson());
  }
  // While the technician decides, nothing is on the line and the status line says so.
  QString whileAsked;
  const TModalAnswer write([&](QWidget* modal) {
    whileAsked = Status();
    modal->findChild<QAbstractButton*>("btnWrite")->click();
  });
  window_.LoadSettingsFile(path);
  const QString expected =
      QString::fromUtf8("Ze souboru bylo zapsáno: parametry zobrazení; nezapsáno: jas.");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Status() == expected; }, kPatienceMs))
      << Status().toStdString();
  EXPECT_EQ(whileAsked.toStdString(), kLoadedText);
  EXPECT_EQ(StatusColour(), kRed);
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
  QStringList lines;
  for (int row = 0; row < log.Model().rowCount(); ++row)
    lines += log.Model().Line(row);
  ASSERT_EQ(lines.size(), 4) << lines.join('\n').toStdString();
  EXPECT_TRUE(lines[0].contains(QRegularExpression(" 31 [0-9A-F]{2} 81 "))) << "segments";
  EXPECT_TRUE(lines[2].contains(QRegularExpression(" 31 [0-9A-F]{2} 51 "))) << "temperature";
  EXPECT_GT(forwarded.bytes, 0u);
}

// The log of a real session saved as CSV and as pcapng: Python's csv module reads one row per
// line, and tshark with the project's dissector decodes every packet by name, none malformed.
TEST_F(MainWindowTest, TheLogOfASessionSavesAsCsvAndPcapngThatReadBackPacketForPacket) {
  const std::string tshark = test::FindOnPath("tshark");
  if (tshark.empty()) GTEST_SKIP() << "tshark is not installed (scripts/setup installs it)";
  TSimProcess sim;
  TfCiLog log;
  log.setAttribute(Qt::WA_DontShowOnScreen);
  log.ShowLog(QString());
  ConnectTo(sim);  // the identification and the loads of every page
  Poll();
  log.Timer1Timer();
  const int lines = log.Model().rowCount();
  ASSERT_GE(lines, 8);

  QTemporaryDir directory;
  const QString csv = directory.filePath("log.csv");
  const QString pcapng = directory.filePath("log.pcapng");
  ASSERT_TRUE(log.SaveLog(csv));
  ASSERT_TRUE(log.SaveLog(pcapng));

  const test::TProcessResult rows = test::RunProcess(
      {test::FindOnPath("python3"), "-c",
       "import csv, sys\n"
       "rows = list(csv.reader(open(sys.argv[1], newline='', encoding='utf-8')))\n"
       "assert rows[0] == ['time', 'direction', 'address', 'sig', 'code', 'data', 'decoded']\n"
       "assert all(len(row) == 7 for row in rows), rows\n"
       "print(len(rows) - 1)\n",
       csv.toStdString()});
  ASSERT_EQ(rows.exitCode, 0) << rows.err;
  EXPECT_EQ(std::stoi(rows.out), lines);

  const test::TDissection dissection = test::DissectKorvel(
      tshark, KORVEL_DISSECTOR_PATH, pcapng.toStdString(), directory.path().toStdString());
  ASSERT_EQ(dissection.exitCode, 0) << dissection.err;
  ASSERT_EQ(static_cast<int>(dissection.frames.size()), lines);
  for (const test::TFrame& frame : dissection.frames) {
    SCOPED_TRACE(frame.at("_ws.col.Info"));
    EXPECT_NE(frame.at("frame.protocols").find("korvel"), std::string::npos);
    EXPECT_EQ(
        frame.at("_ws.malformed") + frame.at("_ws.lua.error") + frame.at("_ws.expert.message"), "");
    EXPECT_FALSE(frame.at("korvel.sig").empty());
    const bool request = frame.at("korvel.direction") == "0";
    EXPECT_FALSE(
        frame.at(request ? "korvel.instruction.name" : "korvel.request.instruction").empty())
        << "named, or answering a named request";
  }
}

// A failed load is named on screen in the window's language, the group and why, never only in a
// tooltip: a keyboard user reaches its details by Tab from the last button and opens them with
// Space, to find the step and the address.
TEST(MainWindowLanguageTest, AFailedLoadNamesTheGroupAndTheCauseOnScreenAndItsDetailsByTab) {
  const TStandardTransports transports;
  struct TCase {
    TLanguage language;
    const char* status;
    const char* details;
  };
  const TCase cases[] = {
      {TLanguage::kCzech,
       "Spojení bylo navázáno, ale nastavení se nepodařilo nahrát: jas – displej neodpovídá.",
       "Krok: čtení – jas, adresa 49 (0x31)"},
      {TLanguage::kEnglish,
       "Connected, but the settings could not be loaded: brightness – no answer.",
       "Step: read – brightness, address 49 (0x31)"},
  };
  TSimProcess sim({"--silent", "0x83"});
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.status);
    const TTranslations translations(c.language, QLocale::c());
    TfMain window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QSignalSpy finished(&window, &TfMain::connectFinished);
    window.ConnectTo(sim.Connection(), kZorvidDefaultAddress);
    ASSERT_TRUE(!finished.isEmpty() || finished.wait(kPatienceMs));
    EXPECT_EQ(window.findChild<QLabel*>("pnlStatusbar")->text().toStdString(), c.status);

    window.activateWindow();
    auto* close = window.findChild<QWidget*>("btnClose");
    close->setFocus(Qt::TabFocusReason);
    QTest::keyClick(close, Qt::Key_Tab);
    QWidget* details = window.findChild<QWidget*>("btnStatusDetails");
    ASSERT_EQ(QApplication::focusWidget(), details);
    QTest::keyClick(details, Qt::Key_Space);
    auto* box = test::WaitForTopLevel<QMessageBox>();
    ASSERT_NE(box, nullptr) << "no details";
    EXPECT_EQ(box->text().toStdString(), c.status);
    EXPECT_TRUE(box->informativeText().contains(QString::fromUtf8(c.details)))
        << box->informativeText().toStdString();
    box->close();
  }
}

}  // namespace
}  // namespace zorvid
