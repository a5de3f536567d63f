#pragma once

#include <QApplication>
#include <QString>
#include <exception>
#include <type_traits>
#include <utility>

namespace zorvid {

// The program's application object. It is the general error report: an exception that escapes
// an event handler (a click, a timer, a paint) is caught where Qt delivers the event, its text
// is shown in a message box and the program goes on. It also installs the message hook through
// which the layers below the user interface show their message boxes.
//
// Threads: created, run and destroyed on the user-interface thread. The message hook may be
// called on any thread (see ShowQueuedMessage).
class TZorvidApplication : public QApplication {
  Q_OBJECT

 public:
  TZorvidApplication(int& argc, char** argv);
  ~TZorvidApplication() override;

  bool notify(QObject* receiver, QEvent* event) override;

  // Shows an error's text in a box of its own. At most one such box is open at a time: an error
  // that repeats on every event (a failing paint) would otherwise bury the window in boxes, so
  // the texts of errors raised while one is open go to stderr.
  void ReportError(const QString& text);

 private:
  bool errorShown_ = false;  // user-interface thread
};

// Shows an error's text through the application's general error report (stderr without a
// TZorvidApplication).
void ReportError(const std::exception& error);

// Wraps a slot so that an exception it raises is reported where it is raised. Qt's widget code
// is built without exception support: an exception unwinding through a click's delivery
// skips Qt's clean-ups there (leaked event copies, guards left counted), so every handler of
// a window is connected through this; notify's catch stays the net for everything else.
// The handler may take the signal's leading arguments, as many as it wants, or none.
template <class THandler>
auto GuardedSlot(THandler handler) {
  // Callable with exactly the arguments the handler takes: Qt then passes a signal's leading
  // arguments as far as the handler wants them, and never has to look into the body to find out.
  return [handler = std::move(handler)](auto&&... arguments) mutable
         -> void requires std::is_invocable_v<THandler&, decltype(arguments)...> {
    try {
      handler(std::forward<decltype(arguments)>(arguments)...);
    } catch (const std::exception& error) {
      ReportError(error);
    }
  };
}

// Shows `text` in a message box on the user-interface thread and returns at once, from any
// thread: from another thread the box is queued to the user-interface thread (waiting there
// would deadlock against a user-interface thread that waits for the caller); on the
// user-interface thread it opens without a nested event loop, since the layers below call this
// with their locks held. Without an application object the text goes to stderr.
void ShowQueuedMessage(const QString& text);

}  // namespace zorvid
