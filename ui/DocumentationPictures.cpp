#include "ui/DocumentationPictures.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QWindow>
#include <functional>
#include <utility>
#include <vector>

#include "ui/About.h"
#include "ui/CommParamsDialog.h"
#include "ui/ProgramWindows.h"

namespace zorvid {
namespace {

// Long enough for a window to reach the screen and for a few polls; a picture that needs more
// has a fault behind it.
constexpr int kWaitLimitMs = 5000;
constexpr int kWaitCheckMs = 20;
// Two polls' worth of packets: a request and its answer for the segments and the temperature.
constexpr int kLogLines = 8;

struct TPageShot {
  int index;
  const char* fileName;
  std::vector<const char*> loadButtons;
};

const std::vector<TPageShot> kPages{
    {0, "main-display.png", {}},
    {1, "main-data.png", {"btnDateTimeParamLoad"}},
    {2, "main-other.png", {"btnDisplayParamLoad", "btnDateTimeLoad"}},
};

// Runs the event loop until `done` holds, at most kWaitLimitMs; true when it holds.
// Once seen, the state counts: the loop handles what is pending before it returns, and a poll
// that starts meanwhile makes the window busy again.
bool WaitFor(const std::function<bool()>& done) {
  if (done()) return true;
  bool reached = false;
  QEventLoop loop;
  QTimer check;
  check.setInterval(kWaitCheckMs);
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (!done()) return;
    reached = true;
    loop.quit();
  });
  QTimer::singleShot(kWaitLimitMs, &loop, &QEventLoop::quit);
  check.start();
  loop.exec();
  return reached || done();
}

bool IsOnScreen(const QWidget& window) {
  const QWindow* handle = window.windowHandle();
  return window.isVisible() && handle && handle->isExposed();
}

int LineCount(const QListView& log) {
  return log.model()->rowCount();
}

template <class TChild>
TChild* Child(const QObject& parent, const char* name) {
  return parent.findChild<TChild*>(QString::fromLatin1(name));
}

}  // namespace

QPixmap WindowPicture(QWidget& window) {
  window.repaint();  // values set since the last paint are painted only when the loop gets to it
  // The offscreen platform's grab is as many device pixels as the window has logical ones, its
  // top-left part when the scale is above 1: a grab of another size is not the window.
  const QSize wholeWindow = window.size() * window.devicePixelRatio();
  if (QScreen* screen = window.screen()) {
    const QPixmap shown = screen->grabWindow(window.winId());
    if (shown.size() == wholeWindow) return shown;
  }
  return window.grab();
}

TDocumentationPictures::TDocumentationPictures(TProgramWindows& windows, QString directory,
                                               std::string connection, TByte address)
    : windows_(windows),
      directory_(std::move(directory)),
      connection_(std::move(connection)),
      address_(address) {}

// The main window's pictures come first: later windows would lie over it on a real screen.
bool TDocumentationPictures::SaveAll() {
  failure_.clear();
  if (!IsConnected()) return false;
  if (!QFileInfo(directory_).isDir())
    return Fail(QStringLiteral("the directory '%1' does not exist").arg(directory_));
  return SaveMainWindow() && SavePages() && SaveConnectionDialog() && SaveCommParams() &&
         SaveLog() && SaveAbout();
}

// Pictures of a program without its display would replace good ones: none are taken then.
bool TDocumentationPictures::IsConnected() {
  const auto* disconnect = Child<QPushButton>(windows_.Main(), "btnCIClose");
  const auto* status = Child<QLabel>(windows_.Main(), "pnlStatusbar");
  if (!disconnect || !status)
    return Fail(QStringLiteral("the main window has no 'btnCIClose' or status line"));
  if (!disconnect->isEnabled())
    return Fail(QStringLiteral("no pictures taken: the program is not connected to '%1' (%2)")
                    .arg(QString::fromStdString(connection_),
                         status->toolTip().isEmpty() ? status->text() : status->toolTip()));
  return true;
}

bool TDocumentationPictures::SaveMainWindow() {
  return Save(windows_.Main(), QStringLiteral("zorvid-l.png"));
}

bool TDocumentationPictures::SavePages() {
  TfMain& main = windows_.Main();
  auto* pages = Child<QTabWidget>(main, "PageControl1");
  const auto* status = Child<QLabel>(main, "pnlStatusbar");
  const auto* loaded = Child<QLabel>(main, "lblLanSettingsLoadOk");
  if (!pages || !status || !loaded)
    return Fail(QStringLiteral("the main window has no pages, status line or load status"));
  for (const TPageShot& page : kPages) {
    pages->setCurrentIndex(page.index);
    for (const char* name : page.loadButtons) {
      auto* button = Child<QPushButton>(main, name);
      if (!button || !button->isEnabled())
        return Fail(
            QStringLiteral("%1: the button '%2' is missing or disabled").arg(page.fileName, name));
      button->click();
      if (!WaitFor([&main] { return !main.IsBusy(); }))
        return Fail(QStringLiteral("%1: '%2' did not end within %3 ms")
                        .arg(page.fileName, name)
                        .arg(kWaitLimitMs));
      if (status->text() != loaded->text())
        return Fail(QStringLiteral("%1: '%2' did not load: \"%3\"")
                        .arg(page.fileName, name, status->text()));
    }
    if (!Save(main, QString::fromLatin1(page.fileName))) return false;
  }
  pages->setCurrentIndex(0);
  return true;
}

// The dialog as the user sees it when "Navázat spojení" opens it, then as a click on
// "Pro pokročilé" shows it; it is put back in its normal form afterwards.
bool TDocumentationPictures::SaveConnectionDialog() {
  TfConnectionDialog& dialog = windows_.ConnectionDialog();
  auto* expert = Child<QPushButton>(dialog, "sbExpertMode");
  if (!expert) return Fail(QStringLiteral("the connection dialog has no 'sbExpertMode'"));
  dialog.Load(connection_, address_);
  dialog.show();
  const bool wasExpert = expert->isChecked();
  bool saved = Save(dialog, QStringLiteral("connection-dialog.png"));
  if (saved) {
    if (!wasExpert) expert->click();
    saved = Save(dialog, QStringLiteral("connection-dialog-expert.png"));
  }
  if (expert->isChecked() != wasExpert) expert->click();
  dialog.close();
  return saved;
}

// "Adresa a rychlost" as it offers the display the next address at twice its speed; nothing
// is read or written for it.
bool TDocumentationPictures::SaveCommParams() {
  auto* dialog = windows_.Main().findChild<TfCommParams*>();
  if (!dialog) return Fail(QStringLiteral("the main window has no dialog 'Adresa a rychlost'"));
  auto* address = Child<QComboBox>(*dialog, "cbbNewADR");
  auto* speed = Child<QComboBox>(*dialog, "cbNewBaud");
  if (!address || !speed) return Fail(QStringLiteral("comm-params.png: the lists are missing"));
  dialog->Load({address_, 9600}, true);
  address->setCurrentIndex(address->currentIndex() + 1);
  speed->setCurrentIndex(speed->findText(QStringLiteral("19200")));
  dialog->show();
  const bool saved = Save(*dialog, QStringLiteral("comm-params.png"));
  dialog->close();
  return saved;
}

bool TDocumentationPictures::SaveLog() {
  TfCiLog& log = windows_.Log();
  const auto* text = Child<QListView>(log, "reLog");
  if (!text) return Fail(QStringLiteral("the log window has no 'reLog'"));
  log.ShowLog(QString());
  if (!WaitFor([text] { return LineCount(*text) >= kLogLines; }))
    return Fail(QStringLiteral("log.png: the log shows %1 lines of traffic after %2 ms, not %3")
                    .arg(LineCount(*text))
                    .arg(kWaitLimitMs)
                    .arg(kLogLines));
  const bool saved = Save(log, QStringLiteral("log.png"));
  log.hide();
  return saved;
}

bool TDocumentationPictures::SaveAbout() {
  auto* about = windows_.Main().findChild<TfAbout*>();
  if (!about) return Fail(QStringLiteral("the main window has no About window"));
  about->show();
  const bool saved = Save(*about, QStringLiteral("about.png"));
  about->close();
  return saved;
}

bool TDocumentationPictures::Save(QWidget& window, const QString& fileName) {
  const QString path = QDir(directory_).filePath(fileName);
  if (!WaitFor([&window] { return IsOnScreen(window); }))
    return Fail(QStringLiteral("%1: the window '%2' did not appear on the screen within %3 ms")
                    .arg(path, window.objectName())
                    .arg(kWaitLimitMs));
  // Layout changes of the last step (a page, a section shown) are posted: handle them first.
  QCoreApplication::processEvents();
  if (!WindowPicture(window).save(path, "PNG"))
    return Fail(QStringLiteral("cannot save the picture '%1'").arg(path));
  return true;
}

bool TDocumentationPictures::Fail(const QString& failure) {
  failure_ = failure;
  return false;
}

}  // namespace zorvid
