#include "ui/SerialSetup.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <initializer_list>
#include <utility>

#include "ui/DialogFrame.h"

namespace zorvid {
namespace {

constexpr std::uint8_t kFewestDataBits = 5;  // the terminal interface has no 4-bit characters
constexpr std::uint8_t kMostDataBits = 8;

constexpr std::int32_t kStandardBaudRates[] = {110,   300,    600,    1200,   2400,
                                               4800,  9600,   14400,  19200,  38400,
                                               57600, 115200, 230400, 460800, 921600};

using TItem = std::pair<QString, int>;

QComboBox* NewChoiceBox(const char* name, std::initializer_list<TItem> items) {
  auto* box = new QComboBox;
  box->setObjectName(name);
  for (const auto& [text, value] : items)
    box->addItem(text, value);
  return box;
}

QComboBox* NewBaudRateBox() {
  auto* box = new QComboBox;
  box->setObjectName("cbBaudRate");
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);
  for (const std::int32_t rate : kStandardBaudRates)
    box->addItem(QString::number(rate));
  return box;
}

QComboBox* NewDataBitsBox() {
  auto* box = new QComboBox;
  box->setObjectName("cbDataBits");
  for (int bits = kFewestDataBits; bits <= kMostDataBits; ++bits)
    box->addItem(QString::number(bits), bits);
  return box;
}

// Selects the item whose data is `value`; the first when there is none.
void SelectData(QComboBox* box, int value) {
  box->setCurrentIndex(std::max(0, box->findData(value)));
}

}  // namespace

TSerialLineChoice LineChoiceOf(const TComSettings& settings) {
  TSerialLineChoice choice;
  choice.baudRate = settings.baudRate;
  choice.dataBits = settings.byteSize;
  choice.parity = settings.parity <= paSpace ? static_cast<TComParity>(settings.parity) : paNone;
  choice.stopBits =
      settings.stopBits <= sbTwo ? static_cast<TComStopbits>(settings.stopBits) : sbOne;
  choice.flowControl = DecodeFlowControl(settings);
  return choice;
}

void ApplyLineChoice(const TSerialLineChoice& choice, TComSettings& settings) {
  settings.baudRate = choice.baudRate;
  settings.byteSize = choice.dataBits;
  settings.parity = choice.parity;
  settings.stopBits = choice.stopBits;
  EncodeFlowControl(choice.flowControl, settings);
}

std::optional<std::int32_t> ParseBaudRate(const QString& text) {
  bool ok = false;
  const int rate = text.trimmed().toInt(&ok, 10);
  if (!ok || rate <= 0) return std::nullopt;
  return rate;
}

TfSerialSetupDialog::TfSerialSetupDialog(const QString& portName, QWidget* owner) : QDialog(owner) {
  setObjectName("fSerialSetupDialog");
  setWindowTitle(tr("Nastavení portu %1").arg(portName));
  ShowCloseButtonOnly(*this);

  cbBaudRate = NewBaudRateBox();
  cbDataBits = NewDataBitsBox();
  cbParity = NewChoiceBox("cbParity", {{tr("Žádná"), paNone},
                                       {tr("Lichá"), paOdd},
                                       {tr("Sudá"), paEven},
                                       {tr("Značka"), paMark},
                                       {tr("Mezera"), paSpace}});
  // "1,5" is written with the window's decimal separator.
  cbStopBits = NewChoiceBox(
      "cbStopBits",
      {{QStringLiteral("1"), sbOne}, {tr("1,5"), sbOneAndHalf}, {QStringLiteral("2"), sbTwo}});
  cbFlowControl = NewChoiceBox("cbFlowControl", {{tr("Žádné"), fwNone},
                                                 {QStringLiteral("Xon / Xoff"), fwXOnXOff},
                                                 {tr("Hardware (RTS/CTS)"), fwRtsCts}});

  auto* form = new QFormLayout;
  const auto addRow = [form](const QString& caption, QComboBox* box) {
    auto* label = new QLabel(caption);
    label->setBuddy(box);
    form->addRow(label, box);
  };
  addRow(tr("&Bity za sekundu:"), cbBaudRate);
  addRow(tr("&Datové bity:"), cbDataBits);
  addRow(tr("&Parita:"), cbParity);
  addRow(tr("&Stop bity:"), cbStopBits);
  addRow(tr("Ří&zení toku:"), cbFlowControl);

  auto* buttons = new QDialogButtonBox;
  btnOk = buttons->addButton(tr("&OK"), QDialogButtonBox::AcceptRole);
  btnOk->setObjectName("btnOk");
  btnOk->setDefault(true);
  btnCancel = buttons->addButton(tr("Zruši&t"), QDialogButtonBox::RejectRole);
  btnCancel->setObjectName("btnCancel");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(cbBaudRate, &QComboBox::currentTextChanged, this, &TfSerialSetupDialog::UpdateOk);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(buttons);
  FixClientSize(*this, QSize(300, 200));
}

void TfSerialSetupDialog::SetChoice(const TSerialLineChoice& choice) {
  cbBaudRate->setCurrentText(QString::number(choice.baudRate));
  SelectData(cbDataBits, choice.dataBits);
  SelectData(cbParity, choice.parity);
  SelectData(cbStopBits, choice.stopBits);
  SelectData(cbFlowControl, choice.flowControl);
}

TSerialLineChoice TfSerialSetupDialog::Choice() const {
  TSerialLineChoice choice;
  choice.baudRate = ParseBaudRate(cbBaudRate->currentText()).value_or(choice.baudRate);
  choice.dataBits = static_cast<std::uint8_t>(cbDataBits->currentData().toInt());
  choice.parity = static_cast<TComParity>(cbParity->currentData().toInt());
  choice.stopBits = static_cast<TComStopbits>(cbStopBits->currentData().toInt());
  choice.flowControl = static_cast<TComFlowControl>(cbFlowControl->currentData().toInt());
  return choice;
}

void TfSerialSetupDialog::UpdateOk() {
  btnOk->setEnabled(ParseBaudRate(cbBaudRate->currentText()).has_value());
}

bool ExecuteSerialSetupDialog(QWidget* owner, const QString& portName, TComSettings& settings) {
  TfSerialSetupDialog dialog(portName, owner);
  dialog.SetChoice(LineChoiceOf(settings));
  if (dialog.exec() != QDialog::Accepted) return false;
  ApplyLineChoice(dialog.Choice(), settings);
  return true;
}

}  // namespace zorvid
