#include "ui/CommParamsDialog.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "link/DisplayConnection.h"
#include "ui/AddressComboBox.h"
#include "ui/DisplaySearch.h"
#include "ui/NamedControls.h"

namespace zorvid {
namespace {

QString ParamsText(const TCommParams& params) {
  return QStringLiteral("%1, %2 Bd").arg(AddressNotations(params.address)).arg(params.baud);
}

}  // namespace

TfCommParams::TfCommParams(QWidget* owner) : QDialog(owner) {
  setObjectName("fCommParams");
  setWindowTitle(tr("Adresa a rychlost"));
  auto* currentLabel = NewLabel("lCurrent", tr("Nyní:"));
  lblCurrent = Named(new QLabel, "lblCurrent");
  auto* addressLabel = NewLabel("lNewADR", tr("Nová &adresa:"));
  cbbNewADR = Named(new QComboBox, "cbbNewADR");
  SetupAddressComboBox(cbbNewADR, 0, false, true, kZorvidDefaultAddress, kHighestOwnAddress);
  addressLabel->setBuddy(cbbNewADR);
  auto* baudLabel = NewLabel("lNewBaud", tr("Nová &rychlost [Bd]:"));
  cbNewBaud = Named(new QComboBox, "cbNewBaud");
  for (const std::int32_t baud : kBaudTable)
    cbNewBaud->addItem(QString::number(baud), baud);
  baudLabel->setBuddy(cbNewBaud);
  lblNote = NewLabel("lblNote",
                     tr("Po zápisu displej odpovídá jen na nové adrese a rychlosti; program se k "
                        "němu na nich znovu připojí. Když se to nepodaří, zůstane na původních."));
  lblNote->setWordWrap(true);
  btnWrite = NewButton("btnWrite", tr("&Zapsat"));
  btnCancel = NewButton("btnCancel", tr("Zruši&t"));

  auto* grid = new QGridLayout;
  grid->addWidget(currentLabel, 0, 0);
  grid->addWidget(lblCurrent, 0, 1);
  grid->addWidget(addressLabel, 1, 0);
  grid->addWidget(cbbNewADR, 1, 1);
  grid->addWidget(baudLabel, 2, 0);
  grid->addWidget(cbNewBaud, 2, 1);
  grid->setColumnStretch(1, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnWrite);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(lblNote);
  layout->addStretch(1);
  layout->addLayout(buttons);
  setTabOrder(cbbNewADR, cbNewBaud);
  setTabOrder(cbNewBaud, btnWrite);
  setTabOrder(btnWrite, btnCancel);
  resize(380, sizeHint().height());

  connect(btnWrite, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(cbbNewADR, &QComboBox::currentIndexChanged, this, &TfCommParams::UpdateWrite);
  connect(cbNewBaud, &QComboBox::currentIndexChanged, this, &TfCommParams::UpdateWrite);
}

void TfCommParams::Load(const TCommParams& current, bool lineHasSpeed) {
  FCurrent = current;
  lblCurrent->setText(ParamsText(current));
  cbbNewADR->setCurrentIndex(current.address <= kHighestOwnAddress ? current.address : -1);
  cbNewBaud->setCurrentIndex(cbNewBaud->findData(current.baud));
  cbNewBaud->setEnabled(lineHasSpeed);
  cbNewBaud->setToolTip(lineHasSpeed
                            ? QString()
                            : tr("Rychlost linky TCP nastavuje převodník; zde ji nelze změnit."));
  UpdateWrite();
  cbbNewADR->setFocus();
}

std::optional<TCommParams> TfCommParams::Execute(const TCommParams& current, bool lineHasSpeed) {
  Load(current, lineHasSpeed);
  if (exec() != QDialog::Accepted) return std::nullopt;
  return Choice();
}

TCommParams TfCommParams::Choice() const {
  return {static_cast<TByte>(cbbNewADR->currentIndex()), cbNewBaud->currentData().toInt()};
}

void TfCommParams::UpdateWrite() {
  const bool chosen = cbbNewADR->currentIndex() >= 0 && cbNewBaud->currentIndex() >= 0;
  btnWrite->setEnabled(chosen && Choice() != FCurrent);
  btnWrite->setDefault(btnWrite->isEnabled());
  btnCancel->setDefault(!btnWrite->isEnabled());
}

}  // namespace zorvid
