#pragma once

#include "ui/CiLog.h"
#include "ui/ConnectionDialog.h"
#include "ui/MainWindow.h"

namespace zorvid {

// The desktop program's three windows, made in the order main window, log window, connection
// dialog and wired together; they go in the reverse order. Closing the main window ends the
// program: neither the log window nor the dialog keeps it running.
class TProgramWindows {
 public:
  // The main window adds its successful connects to `recent` and the dialog offers them; with
  // none, nothing is remembered. `recent` must outlive the windows.
  explicit TProgramWindows(TRecentConnections* recent = nullptr);
  TProgramWindows(const TProgramWindows&) = delete;
  TProgramWindows& operator=(const TProgramWindows&) = delete;

  TfMain& Main() { return main_; }
  TfCiLog& Log() { return log_; }
  TfConnectionDialog& ConnectionDialog() { return dialog_; }

 private:
  TfMain main_;
  TfCiLog log_;
  TfConnectionDialog dialog_;
};

}  // namespace zorvid
