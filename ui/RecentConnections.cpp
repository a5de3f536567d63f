#include "ui/RecentConnections.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QtGlobal>
#include <algorithm>
#include <optional>

namespace zorvid {
namespace {

constexpr const char* kGroup = "RecentConnections";
constexpr const char* kConnectionKey = "connection";
constexpr const char* kAddressKey = "address";

const char* StatusText(QSettings::Status status) {
  switch (status) {
    case QSettings::NoError:
      break;
    case QSettings::AccessError:
      return "QSettings::AccessError (the file cannot be read or written)";
    case QSettings::FormatError:
      return "QSettings::FormatError (the file cannot be parsed)";
  }
  return "QSettings::NoError";
}

// The entry the settings' current array element holds; a reason when it holds none.
std::optional<TRecentConnection> EntryOf(const QSettings& settings, QString& reason) {
  const QString connection = settings.value(kConnectionKey).toString();
  bool isNumber = false;
  const int address = settings.value(kAddressKey).toInt(&isNumber);
  if (connection.isEmpty())
    reason = QStringLiteral("it has no connection string");
  else if (!isNumber || address < 0 || address > 255)
    reason = QStringLiteral("its address \"%1\" is not 0..255")
                 .arg(settings.value(kAddressKey).toString());
  else
    return TRecentConnection{connection.toStdString(), static_cast<TByte>(address)};
  return std::nullopt;
}

}  // namespace

TRecentConnections::TRecentConnections(QString path) : path_(std::move(path)) {
  Read();
}

void TRecentConnections::Add(const TRecentConnection& entry) {
  Read();
  std::erase(entries_, entry);
  entries_.insert(entries_.begin(), entry);
  if (entries_.size() > kCapacity) entries_.resize(kCapacity);
  Write();
}

void TRecentConnections::Read() {
  entries_.clear();
  QSettings settings(path_, QSettings::NativeFormat);
  // Qt parses a file once in a process until it changes, and only the reader that parsed it
  // learns that it is damaged: that is remembered until Write replaces the file.
  damaged_ = damaged_ || settings.status() == QSettings::FormatError;
  const QSettings::Status status = damaged_ ? QSettings::FormatError : settings.status();
  if (status != QSettings::NoError) {
    qWarning("Recent connections: the settings file \"%s\" is ignored: %s", qUtf8Printable(path_),
             StatusText(status));
    return;
  }
  const int size = settings.beginReadArray(kGroup);
  for (int index = 0; index < size && entries_.size() < kCapacity; ++index) {
    settings.setArrayIndex(index);
    QString reason;
    const std::optional<TRecentConnection> entry = EntryOf(settings, reason);
    if (!entry)
      qWarning("Recent connections: entry %d of the settings file \"%s\" is ignored: %s", index + 1,
               qUtf8Printable(path_), qUtf8Printable(reason));
    else if (std::find(entries_.begin(), entries_.end(), *entry) == entries_.end())
      entries_.push_back(*entry);
  }
  settings.endArray();
}

void TRecentConnections::Write() {
  // QSettings would merge what it could parse of a damaged file into the new one, and report
  // the damage again: the file, reported when read, is replaced as a whole instead.
  if (damaged_) QFile::remove(path_);
  QSettings settings(path_, QSettings::NativeFormat);
  if (damaged_) settings.clear();  // what Qt still holds of the removed file
  damaged_ = false;
  settings.remove(kGroup);
  settings.beginWriteArray(kGroup, static_cast<int>(entries_.size()));
  for (std::size_t index = 0; index < entries_.size(); ++index) {
    settings.setArrayIndex(static_cast<int>(index));
    settings.setValue(kConnectionKey, QString::fromStdString(entries_[index].connection));
    settings.setValue(kAddressKey, static_cast<int>(entries_[index].address));
  }
  settings.endArray();
  settings.sync();
  if (settings.status() != QSettings::NoError)
    qWarning("Recent connections: cannot write the settings file \"%s\": %s", qUtf8Printable(path_),
             StatusText(settings.status()));
}

// QSettings' default file, named without a QSettings object: that would parse the file, and
// the damage it found would stay its own (see Read).
QString UserSettingsPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + '/' +
         QCoreApplication::organizationName() + '/' + QCoreApplication::applicationName() +
         QStringLiteral(".conf");
}

}  // namespace zorvid
