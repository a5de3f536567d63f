#pragma once

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

#include "link/SettingsSnapshot.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace zorvid {

// "Nastavení ze souboru": what a settings file would change on the connected display, and the
// technician's choice to write it. It does no I/O: the window reads the file and the display,
// and writes when Execute says so.
class TfSettingsDifferences : public QDialog {
  Q_OBJECT

 public:
  explicit TfSettingsDifferences(QWidget* owner = nullptr);

  // Shows what the file `fileName` would change modally, by the window's names for the keys,
  // with the settings the display does not have; true when "Zapsat do zařízení" was pressed.
  // With no change there is nothing to write and only "Zavřít" is offered.
  bool Execute(const QString& fileName, const TSettingsComparison& comparison);

 private:
  QLabel* lblFile;
  QTableWidget* tblChanges;
  QLabel* lblSkipped;
  QPushButton* btnWrite;
  QPushButton* btnCancel;
};

}  // namespace zorvid
