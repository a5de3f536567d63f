#include "ui/SettingsDifferences.h"

#include "ui/OutcomeTexts.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ui/NamedControls.h"

namespace zorvid {
namespace {

QTableWidgetItem* ReadOnlyItem(const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  return item;
}

}  // namespace

TfSettingsDifferences::TfSettingsDifferences(QWidget* owner) : QDialog(owner) {
  setObjectName("fSettingsDifferences");
  setWindowTitle(tr("Nastavení ze souboru"));
  lblFile = Named(new QLabel, "lblFile");
  lblFile->setWordWrap(true);
  tblChanges = Named(new QTableWidget(0, 3), "tblChanges");
  tblChanges->setHorizontalHeaderLabels({tr("Nastavení"), tr("V souboru"), tr("V zařízení")});
  tblChanges->verticalHeader()->setVisible(false);
  tblChanges->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  tblChanges->setSelectionBehavior(QAbstractItemView::SelectRows);
  lblSkipped = Named(new QLabel, "lblSkipped");
  lblSkipped->setWordWrap(true);
  btnWrite = NewButton("btnWrite", tr("&Zapsat do zařízení"));
  btnCancel = NewButton("btnCancel", tr("Zruši&t"));
  connect(btnWrite, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnWrite);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblFile);
  layout->addWidget(tblChanges, 1);
  layout->addWidget(lblSkipped);
  layout->addLayout(buttons);
  setTabOrder(tblChanges, btnWrite);
  setTabOrder(btnWrite, btnCancel);
  resize(480, 320);
}

bool TfSettingsDifferences::Execute(const QString& fileName,
                                    const TSettingsComparison& comparison) {
  const std::vector<TSettingChange>& changes = comparison.differences;
  const bool anything = !changes.empty();
  lblFile->setText(anything ? tr("Zápis souboru %1 změní v zařízení:").arg(fileName)
                            : tr("Soubor %1 se shoduje se zařízením.").arg(fileName));
  tblChanges->setRowCount(static_cast<int>(changes.size()));
  for (int row = 0; row < static_cast<int>(changes.size()); ++row) {
    const TSettingChange& change = changes[static_cast<std::size_t>(row)];
    tblChanges->setItem(row, 0, ReadOnlyItem(KeyName(change.key)));
    tblChanges->setItem(row, 1, ReadOnlyItem(ValueText(change.wanted)));
    tblChanges->setItem(row, 2, ReadOnlyItem(ValueText(change.held)));
  }
  tblChanges->resizeColumnToContents(1);
  tblChanges->resizeColumnToContents(2);
  tblChanges->setVisible(anything);
  const QStringList skipped = KeyNameList(comparison.skipped);
  lblSkipped->setText(
      skipped.isEmpty()
          ? QString()
          : tr("Zařízení nemá a nezapíše se: %1").arg(skipped.join(QStringLiteral(", "))));
  lblSkipped->setVisible(!skipped.isEmpty());
  btnWrite->setVisible(anything);
  btnCancel->setText(anything ? tr("Zruši&t") : tr("Za&vřít"));
  (anything ? btnWrite : btnCancel)->setDefault(true);
  (anything ? static_cast<QWidget*>(tblChanges) : btnCancel)->setFocus();
  return exec() == QDialog::Accepted && anything;
}

}  // namespace zorvid
