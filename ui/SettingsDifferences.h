#pragma once

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

class QLabel;
class QPushButton;
class QTableWidget;

namespace zorvid {

// One row of the dialog: a setting that writing a settings file would change on the display.
struct TDifferenceRow {
  QString name;
  QString fileValue;
  QString displayValue;
};

// "Nastavení ze souboru": what a settings file would change on the connected display, and the
// technician's choice to write it. It does no I/O: the window reads the file and the display,
// and writes when Execute says so.
class TfSettingsDifferences : public QDialog {
  Q_OBJECT

 public:
  explicit TfSettingsDifferences(QWidget* owner = nullptr);

  // Shows `changes` of the file `fileName` modally, with the settings the display does not have
  // (`skipped`); true when "Zapsat do zařízení" was pressed. With no change there is nothing to
  // write and only "Zavřít" is offered.
  bool Execute(const QString& fileName, const QList<TDifferenceRow>& changes,
               const QStringList& skipped);

 private:
  QLabel* lblFile;
  QTableWidget* tblChanges;
  QLabel* lblSkipped;
  QPushButton* btnWrite;
  QPushButton* btnCancel;
};

}  // namespace zorvid
