#pragma once

#include <QString>
#include <QWidget>
#include <atomic>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/TrafficTap.h"
#include "ui/LogModel.h"

class QAction;
class QActionGroup;
class QHideEvent;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QPushButton;
class QShowEvent;
class QTimer;
class QToolButton;

namespace zorvid {

// The communication log window: the traffic between the program and its devices, one line per
// packet, written from a buffer every 250 ms. It installs its sink at creation in front of the
// sinks installed before it, which go on getting the traffic, and removes it when it goes.
// It keeps at most a chosen number of lines (TLogModel), follows the newest line only while the
// view is at the bottom, finds text or bytes (Ctrl+F, F3, Shift+F3), decodes a packet in its
// tooltip, and saves the log as text, CSV or pcapng.
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
  void LogTraffic(const TCiRef& ci, TTrafficDirection direction, const TByteString& bytes);

  // The timer's tick: writes the buffered traffic into the log. User-interface thread.
  void Timer1Timer();

  enum class TFileFormat { kText, kCsv, kPcapng };
  // Writes the whole log to `path`: UTF-8 text, one line per entry with milliseconds in its
  // time; CSV; or pcapng. On failure tells the user which file and why, and returns false. The
  // log stays as it is either way.
  bool SaveLog(const QString& path, TFileFormat format);
  // The format by the file's extension: .csv, .pcapng, anything else text.
  bool SaveLog(const QString& path);

  TLogModel& Model() { return *FModel; }
  // Opens the find bar with the focus in its field.
  void OpenFind();
  // Selects the next (or previous) matching line and brings it into view; false when none.
  bool FindNext(bool forward);

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void BuildControls();
  QWidget* BuildFindBar();
  void BuildMenu();
  void ConnectControls();
  void ConnectFind();
  void CenterOnScreen();
  std::string Filter();
  std::vector<TLogStruct> TakePending();
  void ShowMenu(const QPoint& position);
  void SaveLogAs();
  QByteArray FileContents(TFileFormat format) const;
  void CopySelection();
  void SetLimit(int limit);
  bool AtBottom() const;
  void FollowNewLines(int added);
  void KeepPlace(int removed);
  void ShowNewLines();
  void ScrollToNewest();
  void QueryChanged();
  void ShowCurrentDescription();

  QListView* reLog;
  TLogModel* FModel;
  class TLogLineDelegate* FDelegate;
  QPushButton* btnNewLines;
  QPushButton* btnClear;
  QPushButton* sbPause;
  QLineEdit* edtDisabledInst;
  QWidget* pnlFind;
  QLineEdit* edtFind;
  QPushButton* btnFindPrevious;
  QPushButton* btnFindNext;
  QLabel* lblFindStatus;
  QToolButton* btnFindClose;
  QTimer* Timer1;
  QTimer* FDescriptionDelay;  // the current line's tooltip after the keys rest
  QMenu* pmLog;
  QAction* miCopy;
  QAction* miSelectAll;
  QAction* miSaveAs;
  QAction* miMilliseconds;
  QMenu* pmLimit;
  QActionGroup* FLimitChoices;

  TLogQuery FQuery{QString()};  // what the find bar looks for; user-interface thread
  int FNewLines = 0;            // lines that came while the view was scrolled up

  // Set on the user-interface thread when the window is shown, and cleared under FLock when it
  // is hidden; read by LogTraffic first without the lock, then again under it.
  std::atomic<bool> FVisible{false};
  std::mutex FLock;
  std::string FFilter;              // guarded by FLock
  std::deque<TLogStruct> FPending;  // guarded by FLock; in arrival order
  // At most as many items wait as the log keeps lines (a long pause drops the oldest).
  std::atomic<int> FPendingLimit{TLogModel::kDefaultLimit};
  TLogCutter FCutter;                // user-interface thread
  std::optional<TTrafficTap> FSink;  // LogTraffic; from construction to destruction
};

}  // namespace zorvid
