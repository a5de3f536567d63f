// The small dialogs: TCP settings, USB settings, serial port settings, About, and the changes a
// settings file would make; the captions and Alt keys of the windows, in both languages.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <memory>

#include "tests/support/ModalWindows.h"
#include "tests/support/WidgetLookup.h"
#include "ui/About.h"
#include "ui/ConnectionDialog.h"
#include "ui/FTDISetup.h"
#include "ui/Language.h"
#include "ui/ProgramVersion.h"
#include "ui/SerialSetup.h"
#include "ui/SettingsDifferences.h"
#include "ui/TCPSetup.h"
#include "ui/controls/ShapeEx.h"

namespace zorvid {
namespace {

using test::Child;
using test::TModalAnswer;

void Click(QWidget* window, const char* button) {
  QTest::mouseClick(Child<QAbstractButton>(window, button), Qt::LeftButton);
}

void ReplaceText(QLineEdit* edit, const QString& text) {
  edit->selectAll();
  QTest::keyClicks(edit, text);
}

// ---- TCP settings ------------------------------------------------------------------------

// Types a port over the old one and ends with `key`, as a user does.
void TypePort(QWidget* dialog, const char* port, Qt::Key key) {
  auto* portEdit = Child<QSpinBox>(dialog, "sePort");
  portEdit->setFocus();
  portEdit->selectAll();
  QTest::keyClicks(portEdit, port);
  QTest::keyClick(portEdit, key);
}

TEST(TcpDialog, ApplyThenCancelReturnsTheAppliedHost) {
  std::string host = "192.168.1.100";
  std::uint16_t port = 10001;
  bool applyEnabledAtStart = true;
  bool applyEnabledAfterEdit = false;
  bool applyEnabledAfterApply = true;
  bool localTabVisible = true;
  QString title;
  TModalAnswer answer([&](QWidget* dialog) {
    title = dialog->windowTitle();
    auto* pages = Child<QTabWidget>(dialog, "pcPage");
    localTabVisible = pages->isTabVisible(pages->indexOf(Child(dialog, "tsServer")));
    auto* apply = Child<QPushButton>(dialog, "cmdAply");
    applyEnabledAtStart = apply->isEnabled();
    ReplaceText(Child<QLineEdit>(dialog, "txtHost"), "10.0.0.7");
    applyEnabledAfterEdit = apply->isEnabled();
    Click(dialog, "cmdAply");
    applyEnabledAfterApply = apply->isEnabled();
    ReplaceText(Child<QLineEdit>(dialog, "txtHost"), "10.0.0.99");
    Click(dialog, "cmdCancel");
  });
  EXPECT_TRUE(ExecuteTcpDialog(nullptr, QString::fromUtf8("Nastavení TCP"), host, port));
  ASSERT_TRUE(answer.answered());
  EXPECT_EQ(host, "10.0.0.7");
  EXPECT_EQ(port, 10001);
  EXPECT_EQ(title, QString::fromUtf8("Nastavení TCP"));
  EXPECT_FALSE(localTabVisible);
  EXPECT_FALSE(applyEnabledAtStart);
  EXPECT_TRUE(applyEnabledAfterEdit);
  EXPECT_FALSE(applyEnabledAfterApply);
}

TEST(TcpDialog, OkWithoutChangesAcceptsAndCancelAloneChangesNothing) {
  std::string host = "192.168.1.100";
  std::uint16_t port = 10001;
  TModalAnswer ok([](QWidget* dialog) { Click(dialog, "cmdOK"); });
  EXPECT_TRUE(ExecuteTcpDialog(nullptr, "TCP", host, port));
  EXPECT_EQ(host, "192.168.1.100");
  EXPECT_EQ(port, 10001);

  TModalAnswer cancel([](QWidget* dialog) { TypePort(dialog, "502", Qt::Key_Escape); });
  EXPECT_FALSE(ExecuteTcpDialog(nullptr, "TCP", host, port));
  EXPECT_TRUE(cancel.answered());
  EXPECT_EQ(port, 10001);
}

TEST(TcpDialog, EnterConfirmsTheTypedPort) {
  std::string host = "192.168.1.100";
  std::uint16_t port = 10001;
  TModalAnswer answer([](QWidget* dialog) { TypePort(dialog, "65535", Qt::Key_Return); });
  EXPECT_TRUE(ExecuteTcpDialog(nullptr, "TCP", host, port));
  EXPECT_EQ(port, 65535);
}

// ---- USB settings ------------------------------------------------------------------------

TEST(UsbDialog, ShowsTheBaudRateAndOnlyItsCloseBoxClosesIt) {
  bool openAfterButtons = false;
  QString label;
  TModalAnswer answer([&](QWidget* dialog) {
    label = Child<QLabel>(dialog, "lblBaudRate")->text();
    for (const char* button : {"Button1", "Button2", "Button3"})
      Click(dialog, button);
    openAfterButtons = dialog->isVisible();
    dialog->close();  // the close box
  });
  EXPECT_FALSE(ExecuteUsbDialog(nullptr, 115200));
  EXPECT_TRUE(openAfterButtons);
  EXPECT_EQ(label, "115200");
}

// ---- Serial port settings ----------------------------------------------------------------

TEST(SerialSetup, TheChoiceChangesOnlyTheLineSettings) {
  TComSettings settings;
  settings.xonChar = 0x11;
  settings.dtrControl = TDtrControl::Disable;
  TSerialLineChoice choice{19200, 7, paEven, sbTwo, fwRtsCts};
  ApplyLineChoice(choice, settings);
  EXPECT_EQ(LineChoiceOf(settings), choice);
  EXPECT_EQ(settings.rtsControl, TRtsControl::Handshake);
  EXPECT_EQ(settings.dtrControl, TDtrControl::Disable);
  choice.flowControl = fwXOnXOff;
  ApplyLineChoice(choice, settings);
  EXPECT_EQ(LineChoiceOf(settings), choice);
  EXPECT_EQ(settings.rtsControl, TRtsControl::Enable) << "RTS stays asserted after handshake";

  EXPECT_EQ(ParseBaudRate(" 250000 "), 250000);
  for (const char* bad : {"", "0", "-9600", "96O0", "9600.5"})
    EXPECT_FALSE(ParseBaudRate(bad).has_value()) << bad;
}

TEST(SerialSetup, TheDialogReturnsWhatWasChosenAndRefusesABadRate) {
  TComSettings settings;
  bool okWithBadRate = true;
  TModalAnswer answer([&](QWidget* dialog) {
    auto* rate = Child<QComboBox>(dialog, "cbBaudRate");
    ReplaceText(rate->lineEdit(), "abc");
    okWithBadRate = Child<QPushButton>(dialog, "btnOk")->isEnabled();
    ReplaceText(rate->lineEdit(), "250000");
    auto* parity = Child<QComboBox>(dialog, "cbParity");
    parity->setCurrentIndex(parity->findData(paOdd));
    Click(dialog, "btnOk");
  });
  EXPECT_TRUE(ExecuteSerialSetupDialog(nullptr, "COM3", settings));
  EXPECT_FALSE(okWithBadRate);
  EXPECT_EQ(settings.baudRate, 250000);
  EXPECT_EQ(settings.parity, paOdd);
  EXPECT_EQ(settings.byteSize, 8);
}

// ---- About -------------------------------------------------------------------------------

// Receives the URLs the program asks the desktop to open.
class TUrlCatcher : public QObject {
  Q_OBJECT

 public:
  TUrlCatcher() { QDesktopServices::setUrlHandler("https", this, "Open"); }
  ~TUrlCatcher() override { QDesktopServices::unsetUrlHandler("https"); }
  QList<QUrl> opened;

 public slots:
  void Open(const QUrl& url) { opened << url; }
};

std::unique_ptr<TfAbout> ShownAbout() {
  std::unique_ptr<TfAbout> about(CreateAbout(nullptr, "Zorvid-L"));
  about->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(about.get()));
  return about;
}

TEST(About, ShowsTheProgramNameAndTheVersionOfTheBuild) {
  auto about = ShownAbout();
  EXPECT_EQ(about->windowTitle(), "Zorvid-L");
  EXPECT_EQ(Child<QLabel>(about.get(), "lProjectName")->text(), "Zorvid-L");
  EXPECT_EQ(Child<QLabel>(about.get(), "lVersionCaption")->text(), "Verze:");
  EXPECT_EQ(Child<QLabel>(about.get(), "lVersion")->text(), "1.2.3.4");
  EXPECT_EQ(FileVersionText({0x00010002u, 0x00030004u}), "1.2.3.4");
  EXPECT_EQ(FileVersionText({0xFFFF0000u, 0x0000FFFFu}), "65535.0.0.65535");

  std::unique_ptr<TfAbout> named(CreateAbout(nullptr, "Zorvid-L", "Servis"));
  EXPECT_EQ(Child<QLabel>(named.get(), "lProjectName")->text(), "Servis");
}

TEST(About, TheLinkShowsItsHoverPictureAndOpensTheHomePage) {
  auto about = ShownAbout();
  auto* link = Child<TShapeEx>(about.get(), "shexLinkButton");
  auto* picture = Child<QLabel>(about.get(), "iLink");
  auto* hover = Child<QLabel>(about.get(), "iLinkHover");
  EXPECT_EQ(link->size(), QSize(193, 25));
  EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_TRUE(picture->isVisible());
  EXPECT_FALSE(hover->isVisible());

  QTest::mouseMove(link, QPoint(10, 10));
  QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), link->mapToGlobal(QPointF(10, 10)));
  QApplication::sendEvent(link, &enter);
  EXPECT_TRUE(hover->isVisible());
  EXPECT_FALSE(picture->isVisible());
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(link, &leave);
  EXPECT_TRUE(picture->isVisible());

  TUrlCatcher catcher;
  QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(5, 5));  // through the picture
  ASSERT_EQ(catcher.opened.size(), 1);
  EXPECT_EQ(catcher.opened.front(), ProgramHomePage());
}

TEST(About, TabReachesTheLinkWhichShowsItsFocusAndOpensByEnterOrSpace) {
  auto about = ShownAbout();
  about->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(about.get()));
  auto* link = Child<TShapeEx>(about.get(), "shexLinkButton");
  QWidget* focusFrame = Child(about.get(), "frLinkFocus");
  link->clearFocus();
  EXPECT_FALSE(focusFrame->isVisible());
  QTest::keyClick(about.get(), Qt::Key_Tab);
  ASSERT_TRUE(link->hasFocus());
  EXPECT_TRUE(focusFrame->isVisible());

  TUrlCatcher catcher;
  for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
    catcher.opened.clear();
    QTest::keyClick(link, key);
    EXPECT_EQ(catcher.opened, QList<QUrl>{ProgramHomePage()}) << key;
  }
  QKeyEvent held(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ", true);
  QApplication::sendEvent(link, &held);
  EXPECT_EQ(catcher.opened.size(), 1) << "a held Space opened the page again";
}

TEST(About, PaintsItsPanelsAndLogo) {
  auto about = ShownAbout();
  const QImage image = about->grab().toImage();
  const auto colourAt = [&](const char* name) {
    QWidget* widget = Child(about.get(), name);
    const QPoint centre = widget->mapTo(about.get(), widget->rect().center());
    return image.pixelColor(centre * image.devicePixelRatio());
  };
  EXPECT_EQ(colourAt("shpLinkLine"), QColor(0, 135, 90));
  EXPECT_EQ(image.pixelColor(QPoint(2, 2)), QColor(Qt::white));
  // The logo: a dark body with lit red segments on the dark green panel.
  QWidget* logo = Child(about.get(), "iLogo");
  int red = 0;
  const QRect area(logo->mapTo(about.get(), QPoint(0, 0)) * image.devicePixelRatio(),
                   logo->size() * image.devicePixelRatio());
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (const QColor c = image.pixelColor(x, y); c.red() > 200 && c.green() < 100) ++red;
  EXPECT_GT(red, 200) << "the logo picture was not drawn";
}

// ---- Captions ----------------------------------------------------------------------------

// Every caption of a window fits its control in the window's font, and every character of it
// (the Czech diacritics included) is in that font.
void ExpectCaptionsFit(QWidget* window) {
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
  const auto check = [](QWidget* control, const QString& text, int room) {
    const QFontMetrics metrics(control->font());
    const std::string where = (control->objectName() + ": " + text).toStdString();
    EXPECT_LE(metrics.horizontalAdvance(text), room) << where;
    for (const char32_t character : text.toUcs4())
      EXPECT_TRUE(metrics.inFontUcs4(character)) << where;
  };
  for (auto* label : window->findChildren<QLabel*>())
    if (label->isVisible() && !label->text().isEmpty())
      check(label, QString(label->text()).remove('&'), label->contentsRect().width());
  for (auto* button : window->findChildren<QAbstractButton*>())
    if (button->isVisible() && !button->text().isEmpty())
      check(button, QString(button->text()).remove('&'),
            button->width() - 2 * button->style()->pixelMetric(QStyle::PM_ButtonMargin));
  for (auto* group : window->findChildren<QGroupBox*>())
    check(group, group->title(), group->width() - 2 * group->fontMetrics().averageCharWidth());
  for (auto* pages : window->findChildren<QTabWidget*>())
    for (int i = 0; i < pages->count(); ++i)
      if (pages->isTabVisible(i))
        check(pages, pages->tabText(i), pages->tabBar()->tabRect(i).width());
}

// The windows whose captions are translated: the connection dialog with every section shown,
// and the serial port's settings.
void ExpectTranslatedCaptionsFit() {
  TfSerialSetupDialog serial("COM1");
  ExpectCaptionsFit(&serial);
  TfConnectionDialog connection(nullptr, [](int) { return cpsAbsent; });
  Child<QPushButton>(&connection, "sbExpertMode")->click();  // every section shown
  ExpectCaptionsFit(&connection);
}

TEST(Captions, FitTheirControlsInEveryWindow) {
  TfTCPIPDialog tcp;
  tcp.Prepare(QString::fromUtf8("Nastavení TCP"), "192.168.1.100", 10001);
  ExpectCaptionsFit(&tcp);
  TfFTDIdialog usb;
  ExpectCaptionsFit(&usb);
  auto about = ShownAbout();
  ExpectCaptionsFit(about.get());
  ExpectTranslatedCaptionsFit();
}

TEST(Captions, FitTheirControlsInEnglish) {
  const TTranslations english(TLanguage::kEnglish);
  ASSERT_TRUE(english.Problems().isEmpty()) << english.Problems().join(' ').toStdString();
  ExpectTranslatedCaptionsFit();
}

// ---- Changes from a settings file ---------------------------------------------------------

// The changes are listed before anything is written; only "Zapsat do zařízení" says write, and
// a file that changes nothing offers nothing to write.
TEST(SettingsDifferencesDialog, ListsTheChangesAndWritesOnlyWhenAskedTo) {
  TfSettingsDifferences dialog;
  const TSettingsComparison changes{{{"params.offset", "120", "0"}, {"brightness", "55", "27"}},
                                    {"brightness-auto.min"}};
  int rows = 0;
  QString second, skipped;
  const TModalAnswer write([&](QWidget* modal) {
    const auto* table = Child<QTableWidget>(modal, "tblChanges");
    rows = table->rowCount();
    second = table->item(1, 0)->text() + "=" + table->item(1, 1)->text() + "/" +
             table->item(1, 2)->text();
    skipped = Child<QLabel>(modal, "lblSkipped")->text();
    Click(modal, "btnWrite");
  });
  EXPECT_TRUE(dialog.Execute("a.json", changes));
  EXPECT_EQ(rows, 2);
  // The window's names for the keys.
  EXPECT_EQ(second, "jas=55/27");
  EXPECT_TRUE(skipped.contains(QString::fromUtf8("minimální jas"))) << skipped.toStdString();

  const TModalAnswer cancel([](QWidget* modal) { Click(modal, "btnCancel"); });
  EXPECT_FALSE(dialog.Execute("a.json", {changes.differences, {}}));

  bool writeOffered = true;
  const TModalAnswer close([&](QWidget* modal) {
    writeOffered = Child<QPushButton>(modal, "btnWrite")->isVisible();
    QTest::keyClick(modal, Qt::Key_Escape);
  });
  EXPECT_FALSE(dialog.Execute("a.json", {}));
  EXPECT_FALSE(writeOffered);
}

}  // namespace
}  // namespace zorvid

#include "DialogsTest.moc"
