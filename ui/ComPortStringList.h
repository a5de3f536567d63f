#pragma once

#include <QPointer>
#include <map>
#include <string>

#include "transport/serial/SerialPortNames.h"
#include "ui/ComPortScanner.h"

class QComboBox;

namespace zorvid {

// The items of a drop-down list kept as the list of serial ports: one item per port being
// probed or found present, sorted by port number. An item's text is "COM n", followed for a
// USB adapter by its product and, when another listed port shows the same product, by its
// serial number, so that two identical bridges can be told apart; " ..." is appended while the
// port is being probed. Its Qt::UserRole data is the port number, its Qt::UserRole + 1 data
// the state, and its tooltip the device path and whether the port is free or busy, the stable
// name the system gave the port, and the USB adapter's maker, product and serial number.
//
// Threads: the user-interface thread only.
class TComPortStringList {
 public:
  // Bound to the items of `items`; nullptr (or a box that has gone) leaves the list unbound.
  // The ports' names are read from the system under `roots`.
  explicit TComPortStringList(QComboBox* items, TDeviceRoots roots = {});

  // Takes one state change of a scan: a port being probed or present is listed or updated,
  // an absent one is removed. The port's names are read again with every change, as another
  // adapter may have taken its number since the last scan.
  void UpdatePort(int portNumber, TComPortState state);
  // The index of the last item whose port number is not greater than `portNumber`, walking
  // from the end and stopping early at an item without a port; -1 when there is none.
  int IndexOfPort(int portNumber) const;
  // The port number of the item at `index`; 0 when unbound, out of range or without a port.
  int PortAt(int index) const;
  // The path that names the device of the item at `index` for good: its stable name when the
  // system made one, else its device path; empty when there is no port at `index`.
  std::string StablePathAt(int index) const;

 private:
  struct TListedPort {
    TComPortState state = cpsNotProbed;
    std::string devicePath;
    TSerialPortIdentity identity;
  };

  // Every item's text and tooltip: whether a serial number is shown depends on the others.
  void Describe();
  bool ProductShownTwice(const QString& product) const;

  QPointer<QComboBox> items_;
  const TDeviceRoots roots_;
  std::map<int, TListedPort> ports_;  // by port number: what each listed item describes
};

}  // namespace zorvid
