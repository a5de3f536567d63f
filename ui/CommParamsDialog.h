#pragma once

#include <QDialog>
#include <optional>

#include "link/Commissioning.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace zorvid {

// "Adresa a rychlost": the new address and line speed the technician gives the connected
// display, shown beside the ones it reported. It does no I/O: the window reads the display,
// and writes and follows it when Execute returns a choice.
class TfCommParams : public QDialog {
  Q_OBJECT

 public:
  explicit TfCommParams(QWidget* owner = nullptr);

  // Shows `current` modally; the speed can be changed only when `lineHasSpeed` (on a TCP line
  // it is the converter's). The new values when "Zapsat" was pressed, nothing when cancelled.
  std::optional<TCommParams> Execute(const TCommParams& current, bool lineHasSpeed);
  // What Execute shows, without showing it.
  void Load(const TCommParams& current, bool lineHasSpeed);
  // The values chosen in the lists.
  TCommParams Choice() const;

 private:
  // "Zapsat" only for values that differ from the display's.
  void UpdateWrite();

  TCommParams FCurrent;
  QLabel* lblCurrent;
  QComboBox* cbbNewADR;
  QComboBox* cbNewBaud;
  QLabel* lblNote;
  QPushButton* btnWrite;
  QPushButton* btnCancel;
};

}  // namespace zorvid
