#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QTimer>

namespace zorvid {

// The user-interface thread's pulse for measurements: every 20 ms tick appends a line with the
// milliseconds since the heartbeat was made (a monotonic clock) to a file. A gap between two
// lines well over 20 ms is the time the thread was held. Each line goes straight to the system,
// so a program that is killed leaves every line it wrote.
class THeartbeat {
 public:
  static constexpr int kIntervalMs = 20;

  // Opens `path` for writing, emptying it; Failure() says why it could not.
  explicit THeartbeat(const QString& path);
  THeartbeat(const THeartbeat&) = delete;
  THeartbeat& operator=(const THeartbeat&) = delete;

  bool IsOpen() const { return file_.isOpen(); }
  // The path and the system's reason; empty while all is well.
  QString Failure() const { return failure_; }
  // Starts the ticks on this thread; needs the application object. A write that fails stops
  // them and is reported on the error output.
  void Start();

 private:
  void Beat();

  QFile file_;
  QElapsedTimer clock_;
  QTimer timer_;
  QString failure_;
};

}  // namespace zorvid
