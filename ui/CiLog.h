#pragma once

#include <QColor>
#include <QString>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transport/CommunicationInterfaceDataSpy.h"

class QAction;
class QHideEvent;
class QLineEdit;
class QMenu;
class QPushButton;
class QShowEvent;
class QTextEdit;
class QTimer;

namespace zorvid {

// When a piece of traffic arrived; the zero value stands for "no time" (a line without prefix).
using TLogTime = std::chrono::system_clock::time_point;

// One piece of spied traffic waiting to be written.
struct TLogStruct {
  TByteString data;
  TLogTime time;
  TByte kind = 0;  // kSpySent or kSpyReceived, as the data spy passes it
};

// One line of the log: the text after the time prefix, in `colour`.
struct TLogLine {
  QString text;
  QColor colour;
  TLogTime time;
};

// Turns buffered traffic into log lines: every valid packet one line in hexadecimal, coloured by
// direction and acknowledge code; invalid packets are dropped; sent bytes that start no complete
// packet one raw line, after the received bytes still waiting for a packet. A packet whose code
// (byte 6) occurs as two upper-case hex digits in the hidden-codes text gives no line, and
// neither does the packet after it (the answer to a hidden request).
// Keeps the waiting received bytes and the hiding state between calls. Not thread-safe: the
// log window uses it on the user-interface thread only.
class TLogCutter {
 public:
  std::vector<TLogLine> Cut(const std::vector<TLogStruct>& items, const QString& disabledInst);

 private:
  void CutItem(const TLogStruct& item);
  // Cuts the complete packets off the front of `buffer`; returns how many bytes they took.
  std::size_t CutPackets(std::string_view buffer, const TLogStruct& item);
  void AddPacket(std::string_view packet, const TLogStruct& item);

  TByteString FReceived;  // received bytes that do not form a complete packet yet
  bool FSkipNext = false;
  // Set for one Cut call.
  QString disabledInst_;
  std::vector<TLogLine>* lines_ = nullptr;
};

// Appends lines at the end of a rich-text log: the time prefix "[yyyy-MM-dd hh:mm:ss] " in black
// in the fixed font at size 6, then the text in the line's colour in the text font at size 10.
// All lines of one writer go into one edit block, so the document is laid out once for them.
// When the writer goes, the user's selection is as it was and, with `scroll`, the newest line is
// in view. User-interface thread.
class TLogWriter {
 public:
  TLogWriter(QTextEdit& control, bool scroll);
  ~TLogWriter();
  TLogWriter(const TLogWriter&) = delete;
  TLogWriter& operator=(const TLogWriter&) = delete;

  void Add(const QString& text, const QColor& colour, TLogTime time);

 private:
  const QString& Prefix(TLogTime time);
  void RestoreSelection();
  void ScrollToEnd();

  QTextEdit& control_;
  bool scroll_;
  QTextCursor cursor_;
  int selectionAnchor_;
  int selectionPosition_;
  QTextCharFormat prefixFormat_;
  QTextCharFormat textFormat_;
  // The prefix of the last second formatted: consecutive lines mostly share it.
  std::chrono::sys_seconds prefixSecond_{std::chrono::seconds::min()};
  QString prefix_;
};

// Appends one line to `control` (see TLogWriter).
void AddLogLine(QTextEdit& control, const QString& text, const QColor& colour, TLogTime time,
                bool scroll);

// The communication log window: the traffic between the program and its devices, one line per
// packet, written from a buffer every 250 ms. It installs its sink at creation in front of the
// sinks installed before it, which go on getting the traffic, and removes it when it goes.
//
// Threads: LogTraffic runs on whatever thread the data spy runs on; it reads only FVisible and
// FFilter and appends to FPending. Everything else, and every widget, belongs to the
// user-interface thread.
class TfCiLog : public QWidget {
  Q_OBJECT

 public:
  explicit TfCiLog(QWidget* owner = nullptr);
  // Removes the sink, which waits for calls inside LogTraffic on other threads to return, so no
  // later call can reach the window.
  ~TfCiLog() override;

  // Logs only the traffic of the interface whose GUID text is `filter` (empty: every
  // interface) and shows the window.
  void ShowLog(const QString& filter);

  // Buffers a piece of traffic while the window is visible. Any thread.
  void LogTraffic(TCiRef ci, const TByteString& bytes, TByte kind);

  // The timer's tick: writes the buffered traffic into the log. User-interface thread.
  void Timer1Timer();

  // Writes the whole log to `path` as UTF-8 text, one line per entry; on failure tells the user
  // which file and why, and returns false. The log stays as it is either way.
  bool SaveLog(const QString& path);

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void BuildControls();
  void BuildMenu();
  void ConnectControls();
  void CenterOnScreen();
  std::string Filter();
  std::vector<TLogStruct> TakePending();
  void ShowMenu(const QPoint& position);
  void SaveLogAs();

  QTextEdit* reLog;
  QPushButton* btnClear;
  QPushButton* sbPause;
  QLineEdit* edtDisabledInst;
  QTimer* Timer1;
  QMenu* pmLog;
  QAction* miCopy;
  QAction* miSelectAll;
  QAction* miSaveAs;

  // Set on the user-interface thread when the window is shown and hidden; read by LogTraffic.
  std::atomic<bool> FVisible{false};
  std::mutex FLock;
  std::string FFilter;                     // guarded by FLock
  std::vector<TLogStruct> FPending;        // guarded by FLock; in arrival order
  TLogCutter FCutter;                      // user-interface thread
  std::optional<TInstalledSpySink> FSink;  // LogTraffic; from construction to destruction
};

}  // namespace zorvid
