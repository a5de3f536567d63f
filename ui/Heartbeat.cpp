#include "ui/Heartbeat.h"

#include <QByteArray>
#include <cstdio>

#include "core/EchoText.h"

namespace zorvid {

namespace {

QString CannotWrite(const QFile& file, const char* what) {
  return QStringLiteral("--heartbeat-log: cannot %1 %2: %3")
      .arg(QString::fromLatin1(what), QString::fromStdString(Quoted(file.fileName().toStdString())),
           file.errorString());
}

}  // namespace

THeartbeat::THeartbeat(const QString& path) : file_(path) {
  clock_.start();
  // Unbuffered: every line is one write to the system, none waits in the program.
  if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
    failure_ = CannotWrite(file_, "open");
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setInterval(kIntervalMs);
  timer_.callOnTimeout([this] { Beat(); });
}

void THeartbeat::Start() {
  if (IsOpen()) timer_.start();
}

void THeartbeat::Beat() {
  const QByteArray line = QByteArray::number(clock_.elapsed()) + '\n';
  if (file_.write(line) == line.size()) return;
  timer_.stop();
  failure_ = CannotWrite(file_, "write to");
  std::fprintf(stderr, "zorvid-l: %s\n", failure_.toLocal8Bit().constData());
}

}  // namespace zorvid
