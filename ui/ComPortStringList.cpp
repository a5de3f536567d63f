#include "ui/ComPortStringList.h"

#include <QComboBox>
#include <QString>
#include <QStringList>

#include "transport/serial/SerialPlatform.h"

namespace zorvid {
namespace {

constexpr int kStateRole = Qt::UserRole + 1;

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

// How a USB adapter is called in the list: its product, else its maker, else its ids; empty for
// a port that is no USB device.
QString ProductName(const TSerialPortIdentity& identity) {
  if (!identity.IsUsb()) return {};
  if (!identity.product.empty()) return Text(identity.product);
  if (!identity.manufacturer.empty()) return Text(identity.manufacturer);
  return QStringLiteral("USB %1:%2").arg(Text(identity.vendorId), Text(identity.productId));
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

// "USB 0403:6001: FTDI, FT232R USB UART, serial number A1B2C3", of what the adapter gives.
QString UsbText(const TSerialPortIdentity& identity) {
  QStringList parts;
  for (const std::string* part : {&identity.manufacturer, &identity.product})
    if (!part->empty()) parts << Text(*part);
  if (!identity.serialNumber.empty())
    parts << QStringLiteral("serial number ") + Text(identity.serialNumber);
  return QStringLiteral("USB %1:%2: ").arg(Text(identity.vendorId), Text(identity.productId)) +
         parts.join(QStringLiteral(", "));
}

QString ToolTip(const std::string& devicePath, TComPortState state,
                const TSerialPortIdentity& identity) {
  QStringList lines;
  lines << (devicePath.empty() ? QStringLiteral("no device path") : Text(devicePath)) +
               QStringLiteral(": ") + StateText(state);
  if (!identity.stablePath.empty())
    lines << QStringLiteral("stable name: ") + Text(identity.stablePath);
  if (identity.IsUsb()) lines << UsbText(identity);
  return lines.join('\n');
}

}  // namespace

TComPortStringList::TComPortStringList(QComboBox* items, TDeviceRoots roots)
    : items_(items), roots_(std::move(roots)) {}

void TComPortStringList::UpdatePort(int portNumber, TComPortState state) {
  if (!items_) return;
  const int at = IndexOfPort(portNumber);
  const bool found = at >= 0 && PortAt(at) == portNumber;
  if (state == cpsAbsent) {
    if (!found) return;
    items_->removeItem(at);
    ports_.erase(portNumber);
  } else {
    if (!found) items_->insertItem(at + 1, QString(), portNumber);
    const std::string path = DevicePathForPort(portNumber);
    ports_[portNumber] = {state, path, IdentifySerialPort(path, roots_)};
  }
  Describe();
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

std::string TComPortStringList::StablePathAt(int index) const {
  const auto listed = ports_.find(PortAt(index));
  if (listed == ports_.end()) return {};
  const TListedPort& port = listed->second;
  return port.identity.stablePath.empty() ? port.devicePath : port.identity.stablePath;
}

bool TComPortStringList::ProductShownTwice(const QString& product) const {
  int shown = 0;
  for (const auto& [number, port] : ports_)
    shown += ProductName(port.identity) == product ? 1 : 0;
  return shown > 1;
}

void TComPortStringList::Describe() {
  for (int index = 0; index < items_->count(); ++index) {
    const int portNumber = PortAt(index);
    const auto listed = ports_.find(portNumber);
    if (listed == ports_.end()) continue;
    const TListedPort& port = listed->second;
    QString text = QStringLiteral("COM %1").arg(portNumber);
    const QString product = ProductName(port.identity);
    if (!product.isEmpty()) text += QStringLiteral(" – ") + product;
    if (!product.isEmpty() && !port.identity.serialNumber.empty() && ProductShownTwice(product))
      text += QStringLiteral(" (%1)").arg(Text(port.identity.serialNumber));
    if (port.state == cpsProbing) text += QStringLiteral(" ...");
    items_->setItemText(index, text);
    items_->setItemData(index, static_cast<int>(port.state), kStateRole);
    items_->setItemData(index, ToolTip(port.devicePath, port.state, port.identity),
                        Qt::ToolTipRole);
  }
}

}  // namespace zorvid
