#include "ui/Application.h"

#include <QMessageBox>
#include <QThread>
#include <cstdio>
#include <exception>
#include <mutex>

#include "core/MessageHook.h"

namespace zorvid {
namespace {

// The application object that the message hook posts to. Set and cleared by the application
// object on the user-interface thread, read by the hook on any thread; guarded by hookMutex, so
// a post never reaches an application object that is being destroyed.
std::mutex hookMutex;
TZorvidApplication* hookTarget = nullptr;  // hookMutex

void PrintLine(const QString& text) {
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

// Opens an application-modal box and returns; the box deletes itself when closed.
QMessageBox* OpenBox(QMessageBox::Icon icon, const QString& text) {
  auto* box = new QMessageBox(icon, QApplication::applicationDisplayName(), text, QMessageBox::Ok,
                              QApplication::activeWindow());
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::ApplicationModal);
  box->show();
  return box;
}

void ShowHookedMessage(const std::string& text) {
  ShowQueuedMessage(QString::fromStdString(text));
}

}  // namespace

TZorvidApplication::TZorvidApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // The title of every message box, and what the desktop calls the program.
  setApplicationDisplayName(QStringLiteral("Zorvid-L"));
  {
    std::lock_guard lock(hookMutex);
    hookTarget = this;
  }
  SetMessageHook(&ShowHookedMessage);
}

TZorvidApplication::~TZorvidApplication() {
  SetMessageHook(nullptr);
  std::lock_guard lock(hookMutex);
  hookTarget = nullptr;
}

bool TZorvidApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ReportError(QString::fromUtf8(error.what()));
  }
  return false;
}

void TZorvidApplication::ReportError(const QString& text) {
  if (errorShown_) {
    PrintLine(text);
    return;
  }
  errorShown_ = true;
  QMessageBox* box = OpenBox(QMessageBox::Critical, text);
  connect(box, &QObject::destroyed, this, [this] { errorShown_ = false; });
}

void ReportError(const std::exception& error) {
  const QString text = QString::fromUtf8(error.what());
  if (auto* application = qobject_cast<TZorvidApplication*>(QCoreApplication::instance()))
    application->ReportError(text);
  else
    PrintLine(text);
}

void ShowQueuedMessage(const QString& text) {
  std::unique_lock lock(hookMutex);
  if (!hookTarget) {
    lock.unlock();
    PrintLine(text);
  } else if (QThread::currentThread() != hookTarget->thread()) {
    QMetaObject::invokeMethod(
        hookTarget, [text] { OpenBox(QMessageBox::Warning, text); }, Qt::QueuedConnection);
  } else {
    // The application object is destroyed on this very thread, so it outlives the call; the
    // lock is let go first because showing the box delivers events.
    lock.unlock();
    OpenBox(QMessageBox::Warning, text);
  }
}

}  // namespace zorvid
