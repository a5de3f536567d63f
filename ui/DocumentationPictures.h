#pragma once

#include <QPixmap>
#include <QString>
#include <string>

#include "core/Types.h"

class QWidget;

namespace zorvid {

class TProgramWindows;

// The window as the screen shows it (on X the server's own pixels); where the platform grants
// no grab of the whole window, as the window paints itself. Either way in the screen's device
// pixels.
QPixmap WindowPicture(QWidget& window);

// The pictures of the user guide, taken from the program's own windows once the main window is
// connected and has polled: the main window, each of its pages after that page's settings were
// loaded from the display, the connection dialog in its normal and its expert form loaded with
// the current connection, the log window with the poll's traffic, and About.
//
// Takes them with the event loop running in between (the poll and the log's tick go on), so it
// must not run inside a timer's own handler. User-interface thread.
class TDocumentationPictures {
 public:
  // `connection` and `address` are what the main window connected with.
  TDocumentationPictures(TProgramWindows& windows, QString directory, std::string connection,
                         TByte address);

  // Saves all into the directory, which must exist; false at the first that fails, with the
  // reason in Failure().
  bool SaveAll();
  // What failed, naming the file or window; empty after a success.
  const QString& Failure() const { return failure_; }

 private:
  bool IsConnected();
  bool SaveMainWindow();
  bool SavePages();
  bool SaveConnectionDialog();
  bool SaveCommParams();
  bool SaveLog();
  bool SaveAbout();
  // Saves `window` as `fileName` in the directory once it is on the screen.
  bool Save(QWidget& window, const QString& fileName);
  bool Fail(const QString& failure);

  TProgramWindows& windows_;
  QString directory_;
  std::string connection_;
  TByte address_;
  QString failure_;
};

}  // namespace zorvid
