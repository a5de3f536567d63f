#include "ui/ComPortStringList.h"

#include <QComboBox>
#include <QString>

#include "transport/serial/SerialPlatform.h"

namespace zorvid {
namespace {

constexpr int kStateRole = Qt::UserRole + 1;

QString ItemText(int portNumber, TComPortState state) {
  QString text = QStringLiteral("COM %1").arg(portNumber);
  if (state == cpsProbing) text += QStringLiteral(" ...");
  return text;
}

QString StateText(TComPortState state) {
  switch (state) {
    case cpsFree:
      return QStringLiteral("free");
    case cpsBusy:
      return QStringLiteral("busy (in use, or access refused)");
    case cpsProbing:
      return QStringLiteral("being probed");
    case cpsNotProbed:
    case cpsAbsent:
      break;
  }
  return QStringLiteral("not probed");
}

QString ToolTip(int portNumber, TComPortState state) {
  const std::string path = DevicePathForPort(portNumber);
  const QString device =
      path.empty() ? QStringLiteral("no device path") : QString::fromStdString(path);
  return device + QStringLiteral(": ") + StateText(state);
}

}  // namespace

TComPortStringList::TComPortStringList(QComboBox* items) : items_(items) {}

void TComPortStringList::UpdatePort(int portNumber, TComPortState state) {
  if (!items_) return;
  const int at = IndexOfPort(portNumber);
  const bool found = at >= 0 && PortAt(at) == portNumber;
  if (state == cpsAbsent) {
    if (found) items_->removeItem(at);
    return;
  }
  if (!found) items_->insertItem(at + 1, QString(), portNumber);
  Describe(found ? at : at + 1, portNumber, state);
}

int TComPortStringList::IndexOfPort(int portNumber) const {
  if (!items_) return -1;
  int index = items_->count() - 1;
  for (; index >= 0; --index) {
    const int port = PortAt(index);
    if (port == 0 || port <= portNumber) break;
  }
  return index;
}

int TComPortStringList::PortAt(int index) const {
  if (!items_ || index < 0 || index >= items_->count()) return 0;
  const QVariant port = items_->itemData(index, Qt::UserRole);
  return port.isValid() ? port.toInt() : 0;
}

void TComPortStringList::Describe(int index, int portNumber, TComPortState state) {
  items_->setItemText(index, ItemText(portNumber, state));
  items_->setItemData(index, static_cast<int>(state), kStateRole);
  items_->setItemData(index, ToolTip(portNumber, state), Qt::ToolTipRole);
}

}  // namespace zorvid
