#pragma once

#include <QPointer>

#include "ui/ComPortScanner.h"

class QComboBox;

namespace zorvid {

// The items of a drop-down list kept as the list of serial ports: one item per port being
// probed or found present, sorted by port number. An item's text is "COM n" (with " ..."
// while it is being probed), its Qt::UserRole data the port number, its Qt::UserRole + 1 data
// the state, and its tooltip the device path and whether the port is free or busy.
//
// Threads: the user-interface thread only.
class TComPortStringList {
 public:
  // Bound to the items of `items`; nullptr (or a box that has gone) leaves the list unbound.
  explicit TComPortStringList(QComboBox* items);

  // Takes one state change of a scan: a port being probed or present is listed or updated,
  // an absent one is removed.
  void UpdatePort(int portNumber, TComPortState state);
  // The index of the last item whose port number is not greater than `portNumber`, walking
  // from the end and stopping early at an item without a port; -1 when there is none.
  int IndexOfPort(int portNumber) const;
  // The port number of the item at `index`; 0 when unbound, out of range or without a port.
  int PortAt(int index) const;

 private:
  void Describe(int index, int portNumber, TComPortState state);

  QPointer<QComboBox> items_;
};

}  // namespace zorvid
