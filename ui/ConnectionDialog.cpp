#include "ui/ConnectionDialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>
#include <initializer_list>

#include "core/AsciiText.h"
#include "device/ZorvidCodec.h"
#include "transport/ConnectionString.h"
#include "ui/AddressComboBox.h"
#include "ui/BusyCursor.h"
#include "ui/ComPortStringList.h"
#include "ui/DialogFrame.h"
#include "ui/DisplaySearch.h"
#include "ui/EnDis.h"
#include "ui/NamedControls.h"
#include "ui/controls/IntEdit.h"

namespace zorvid {
namespace {

constexpr QSize kClientSize(369, 390);
constexpr std::int32_t kDefaultBaudRate = 9600;
// A private-network address: a display on the technician's own bench network.
constexpr const char* kDefaultHost = "192.168.1.100";
// How long a COM refresh lets the scan run before it selects the first port found.
constexpr unsigned long kComRefreshWaitMs = 200;
constexpr int kComRefreshEventRounds = 3;

// The three radio buttons sit in different sections: the dialog keeps them exclusive itself.
QRadioButton* NewRadio(const char* name, const QString& caption) {
  auto* radio = NewCaptioned<QRadioButton>(name, caption);
  radio->setAutoExclusive(false);
  return radio;
}

// A caption as it is drawn: without the marker of its mnemonic.
QString DrawnCaption(const QString& caption) {
  return QString(caption).remove(u'&');
}

QComboBox* NewList(const char* name) {
  auto* list = Named(new QComboBox, name);
  list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  return list;
}

// Room for the longest rate, drawn in bold, beside the arrow.
constexpr int kBaudListCharacters = 8;

QComboBox* NewBaudList(const char* name) {
  QComboBox* list = NewList(name);
  list->setMinimumContentsLength(kBaudListCharacters);
  SetupBaudRateComboBox(list);
  return list;
}

// A section: a panel without frame whose grid holds its controls; a hidden section takes no
// room, as the sections are stacked by a layout.
QWidget* NewSection(const char* name, QGridLayout*& grid) {
  auto* section = Named(new QWidget, name);
  grid = new QGridLayout(section);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setColumnStretch(1, 1);
  return section;
}

// A section of one list with its label, the list as wide as the lines' fields and buttons.
QWidget* NewListSection(const char* name, QLabel* label, QComboBox* list) {
  QGridLayout* grid = nullptr;
  QWidget* section = NewSection(name, grid);
  label->setBuddy(list);
  grid->addWidget(label, 0, 0);
  grid->addWidget(list, 0, 1, 1, 2);
  return section;
}

// The baud rate's text, or the list's first item when the rate is not listed.
void SelectBaudRate(QComboBox* list, std::int32_t rate) {
  list->setCurrentIndex(std::max(0, list->findText(QString::number(rate))));
}

// A field of a section with its caption: a label, or a check box that switches the field on.
struct TLabelledField {
  QWidget* label;
  QWidget* field;
  int columns = 1;  // 2: also under the refresh button, for a long text
};

// A line's section: its radio button across the top, the line's fields below it with the
// refresh button beside the first, and the baud rate last, at 9600 Bd.
QWidget* NewLineSection(const char* name, QRadioButton* radio,
                        std::initializer_list<TLabelledField> fields, QPushButton* refresh,
                        QLabel* baudLabel, QComboBox* baudList) {
  QGridLayout* grid = nullptr;
  QWidget* section = NewSection(name, grid);
  grid->addWidget(radio, 0, 0, 1, 3);
  int row = 1;
  for (const TLabelledField& labelled : fields) {
    if (auto* label = qobject_cast<QLabel*>(labelled.label)) label->setBuddy(labelled.field);
    grid->addWidget(labelled.label, row, 0);
    grid->addWidget(labelled.field, row++, 1, 1, labelled.columns);
  }
  grid->addWidget(refresh, 1, 2);
  baudLabel->setBuddy(baudList);
  grid->addWidget(baudLabel, row, 0);
  grid->addWidget(baudList, row, 1);
  SelectBaudRate(baudList, kDefaultBaudRate);
  return section;
}

}  // namespace

std::optional<std::int32_t> TConnectionChoice::Speed() const {
  switch (line) {
    case lnSerial:
      return comBaudRate;
    case lnUsb:
      return usbBaudRate;
    case lnTcp:
      break;
  }
  return std::nullopt;
}

TConnectionChoice ChoiceOfConnection(const std::string& connection) {
  TConnectionChoice choice;
  const std::string provider = AsciiUpper(GetConnectionValue(connection, "provider", ""));
  if (provider == "FTD_USB") {
    choice.line = TConnectionChoice::lnUsb;
    choice.serialNumber = GetConnectionValue(connection, "serial_number", "");
    choice.usbBaudRate = GetConnectionInt(connection, "baudrate", choice.usbBaudRate);
  } else if (provider == "TCP_CLIENT") {
    choice.line = TConnectionChoice::lnTcp;
    choice.host = GetConnectionValue(connection, "host", "");
    choice.tcpPort = GetConnectionInt(connection, "port", choice.tcpPort);
  } else {
    choice.comPort = GetConnectionInt(connection, "comport", choice.comPort);
    choice.device = GetConnectionValue(connection, "device", "");
    choice.comBaudRate = GetConnectionInt(connection, "baudrate", choice.comBaudRate);
  }
  return choice;
}

QString RecentConnectionText(const TRecentConnection& recent) {
  const TConnectionChoice choice = ChoiceOfConnection(recent.connection);
  QString line;
  switch (choice.line) {
    case TConnectionChoice::lnSerial:
      line = (choice.device.empty() ? QStringLiteral("COM %1").arg(choice.comPort)
                                    : QString::fromStdString(choice.device)) +
             QStringLiteral(", %1 Bd").arg(choice.comBaudRate);
      break;
    case TConnectionChoice::lnUsb:
      line = QStringLiteral("USB %1, %2 Bd")
                 .arg(QString::fromStdString(choice.serialNumber))
                 .arg(choice.usbBaudRate);
      break;
    case TConnectionChoice::lnTcp:
      line = QStringLiteral("%1:%2").arg(QString::fromStdString(choice.host)).arg(choice.tcpPort);
      break;
  }
  return TfConnectionDialog::tr("%1, adresa %2")
      .arg(line, QString::number(static_cast<int>(recent.address)));
}

TfConnectionDialog::TfConnectionDialog(QWidget* owner, TComPortProbe probe, TDeviceRoots roots)
    : QDialog(owner) {
  setObjectName("fConnectionDialog");
  setWindowTitle(tr("Nastavení připojení"));
  ShowCloseButtonOnly(*this);
  BuildControls();
  FComPorts = std::make_unique<TComPortStringList>(cbCOM, std::move(roots));
  FScanner = probe ? std::make_unique<TComPortScanner>(std::move(probe))
                   : std::make_unique<TComPortScanner>();
  FScanner->SetOnPortState(
      [this](int port, TComPortState state) { FComPorts->UpdatePort(port, state); });
  SetupAddressComboBox(cbbADR, 0, true, true, kZorvidDefaultAddress, 255);
  // The fixed size must hold every section: measured in expert mode, then back to the plain one.
  sbExpertMode->setChecked(true);
  ApplyExpertMode();
  FixClientSize(*this, kClientSize);
  sbExpertMode->setChecked(false);
  ApplyExpertMode();
}

TfConnectionDialog::~TfConnectionDialog() {
  FScanner->Stop();
  FScanner.reset();
  FComPorts.reset();
}

// ---- Controls ------------------------------------------------------------------------------

// Every button and every label of a field has an Alt key of its own, in each language; with
// nineteen of them, some keys fall on a later letter of the caption.
void TfConnectionDialog::BuildControls() {
  gbMain = Named(new QGroupBox, "gbMain");
  gbMain->setFlat(true);
  gbMain->setStyleSheet("QGroupBox#gbMain { border: none; }");
  auto* sections = new QVBoxLayout(gbMain);
  for (QWidget* section : {BuildRecentSection(), BuildAddressSection(), BuildSerialSection(),
                           BuildUsbSection(), BuildTcpSection()})
    sections->addWidget(section);
  sections->addStretch();

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(gbMain, 1);
  layout->addWidget(BuildButtons());

  for (QRadioButton* radio : {rbCOM, rbUSB, rbTCP})
    connect(radio, &QRadioButton::clicked, this, [this, radio] { ApplyRadioRule(radio); });
  connect(cbRecent, &QComboBox::activated, this, &TfConnectionDialog::ChooseRecentConnection);
  connect(bCOMRefresh, &QPushButton::clicked, this, &TfConnectionDialog::RefreshComPorts);
  connect(chbDevice, &QCheckBox::clicked, this, &TfConnectionDialog::ChooseDeviceByPath);
  connect(bUSBRefresh, &QPushButton::clicked, this, &TfConnectionDialog::RefreshUsbDevices);
  connect(cbDeviceName, &QComboBox::currentIndexChanged, this, &TfConnectionDialog::ChooseDevice);
  connect(sbExpertMode, &QPushButton::clicked, this, &TfConnectionDialog::ApplyExpertMode);
  connect(bFindDisplays, &QPushButton::clicked, this, &TfConnectionDialog::FindDisplays);
  connect(bOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
}

QWidget* TfConnectionDialog::BuildRecentSection() {
  lRecent = NewLabel("lRecent", tr("&Nedávná připojení:"));
  cbRecent = NewList("cbRecent");
  pRecent = NewListSection("pRecent", lRecent, cbRecent);
  FillRecentConnections();
  return pRecent;
}

QWidget* TfConnectionDialog::BuildAddressSection() {
  Label1 = NewLabel("Label1", tr("&Adresa:"));
  cbbADR = NewList("cbbADR");
  pADR = NewListSection("pADR", Label1, cbbADR);
  return pADR;
}

QWidget* TfConnectionDialog::BuildSerialSection() {
  rbCOM = NewRadio("rbCOM", tr("&Sériový port:"));
  rbCOM->setChecked(true);
  lCOM = NewLabel("lCOM", tr("Číslo portu &RS232/485:"));
  cbCOM = NewList("cbCOM");
  bCOMRefresh = NewButton("bCOMRefresh", tr("&Obnovit"));
  chbDevice = NewCheck("chbDevice", tr("&Jiné zařízení:"));
  eDevice = Named(new QLineEdit, "eDevice");
  eDevice->setPlaceholderText(QStringLiteral("/dev/serial/by-id/…"));
  lCOMBaudrate = NewLabel("lCOMBaudrate", tr("Ko&munikační rychlost [Bd]:"));
  cbCOMBaudrate = NewBaudList("cbCOMBaudrate");
  pCOM = NewLineSection("pCOM", rbCOM, {{lCOM, cbCOM}, {chbDevice, eDevice, 2}}, bCOMRefresh,
                        lCOMBaudrate, cbCOMBaudrate);
  return pCOM;
}

QWidget* TfConnectionDialog::BuildUsbSection() {
  rbUSB = NewRadio("rbUSB", tr("&USB:"));
  lDeviceName = NewLabel("lDeviceName", tr("&Zařízení:"));
  cbDeviceName = NewList("cbDeviceName");
  lSerialNumber = NewLabel("lSerialNumber", tr("Sério&vé číslo:"));
  eSerialNumber = Named(new QLineEdit, "eSerialNumber");
  eSerialNumber->setReadOnly(true);
  bUSBRefresh = NewButton("bUSBRefresh", tr("O&bnovit"));
  lUSBBaudRate = NewLabel("lUSBBaudRate", tr("Komunikační r&ychlost [Bd]:"));
  cbUSBBaudRate = NewBaudList("cbUSBBaudRate");
  pUSB =
      NewLineSection("pUSB", rbUSB, {{lDeviceName, cbDeviceName}, {lSerialNumber, eSerialNumber}},
                     bUSBRefresh, lUSBBaudRate, cbUSBBaudRate);
  return pUSB;
}

QWidget* TfConnectionDialog::BuildTcpSection() {
  QGridLayout* grid = nullptr;
  pTCP = NewSection("pTCP", grid);
  rbTCP = NewRadio("rbTCP", tr("&Ethernet:"));
  lIP = NewLabel("lIP", tr("&IP adresa:"));
  eIP = Named(new QLineEdit(QString::fromUtf8(kDefaultHost)), "eIP");
  lPort = NewLabel("lPort", tr("&Datový port:"));
  iePort = Named(new TIntEdit, "iePort");
  iePort->SetMinValue(0);
  iePort->SetMaxValue(65535);
  iePort->SetValue(10001);
  iePort->SetShowName(DrawnCaption(lPort->text()));
  lIP->setBuddy(eIP);
  lPort->setBuddy(iePort);
  grid->addWidget(rbTCP, 0, 0, 1, 3);
  grid->addWidget(lIP, 1, 0);
  grid->addWidget(eIP, 1, 1);
  grid->addWidget(lPort, 2, 0);
  grid->addWidget(iePort, 2, 1);
  return pTCP;
}

QWidget* TfConnectionDialog::BuildButtons() {
  auto* buttons = new QWidget;
  auto* row = new QHBoxLayout(buttons);
  row->setContentsMargins(0, 0, 0, 0);
  sbExpertMode = NewButton("sbExpertMode", tr("&Pro pokročilé"));
  sbExpertMode->setCheckable(true);
  sbExpertMode->setAutoDefault(false);
  bFindDisplays = NewButton("bFindDisplays", tr("Najít disp&leje…"));
  bFindDisplays->setAutoDefault(false);
  // The style's size hint leaves these captions' diacritics no room of their own.
  for (QPushButton* button : {sbExpertMode, bFindDisplays}) {
    const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin);
    button->setMinimumWidth(button->fontMetrics().horizontalAdvance(DrawnCaption(button->text())) +
                            4 * margin);
  }
  bOK = NewButton("bOK", tr("O&k"));
  bOK->setDefault(true);
  bCancel = NewButton("bCancel", tr("Zruši&t"));
  bCancel->setAutoDefault(false);
  for (QPushButton* refresh : {bCOMRefresh, bUSBRefresh})
    refresh->setAutoDefault(false);
  row->addWidget(sbExpertMode);
  row->addWidget(bFindDisplays);
  row->addStretch();
  row->addWidget(bOK);
  row->addWidget(bCancel);
  return buttons;
}

// ---- Rules ---------------------------------------------------------------------------------

void TfConnectionDialog::ApplyRadioRule(QRadioButton* chosen) {
  if (chosen)
    for (QRadioButton* radio : {rbCOM, rbUSB, rbTCP})
      radio->setChecked(radio == chosen);
  if (rbCOM->isChecked() && cbCOM->count() == 0) RefreshComPorts();
  if (rbUSB->isChecked() && cbDeviceName->count() == 0) RefreshUsbDevices();
  EnableControls({lCOM, lCOMBaudrate, cbCOM, bCOMRefresh, cbCOMBaudrate}, rbCOM->isChecked(),
                 false);
  EnableControls({lDeviceName, lSerialNumber, lUSBBaudRate, cbDeviceName, eSerialNumber,
                  bUSBRefresh, cbUSBBaudRate},
                 rbUSB->isChecked(), false);
  EnableControls({lIP, lPort, eIP, iePort}, rbTCP->isChecked(), false);
  ApplyDeviceRule();
}

void TfConnectionDialog::ApplyDeviceRule() {
  const bool serial = rbCOM->isChecked();
  chbDevice->setEnabled(serial);
  eDevice->setEnabled(serial && chbDevice->isChecked());
  cbCOM->setEnabled(serial && !chbDevice->isChecked());
}

// The path starts as the chosen port's stable name, so that the line stays with that adapter
// whatever number the system gives it; with no port chosen, it stays as it was.
void TfConnectionDialog::ChooseDeviceByPath() {
  const std::string chosen = FComPorts->StablePathAt(cbCOM->currentIndex());
  if (chbDevice->isChecked() && !chosen.empty()) eDevice->setText(QString::fromStdString(chosen));
  ApplyDeviceRule();
}

// Hidden controls keep their values: they still go into the built string.
void TfConnectionDialog::ApplyExpertMode() {
  const bool expert = sbExpertMode->isChecked();
  for (QWidget* control :
       {pADR, pUSB, static_cast<QWidget*>(lCOMBaudrate), static_cast<QWidget*>(cbCOMBaudrate),
        static_cast<QWidget*>(bFindDisplays)})
    control->setVisible(expert);
}

// The scan goes on in the background after this returns; what it found by then is listed.
void TfConnectionDialog::RefreshComPorts() {
  FScanner->Scan();
  {
    const TBusyCursor busy;
    QThread::msleep(kComRefreshWaitMs);
  }
  // The scan's results are queued calls, not user input: a click cannot re-enter here.
  for (int round = 0; round < kComRefreshEventRounds; ++round)
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  if (cbCOM->count() > 0) cbCOM->setCurrentIndex(0);
}

// A missing library or any failure of the enumeration leaves the list as far as it got,
// without a message.
void TfConnectionDialog::RefreshUsbDevices() {
  const QSignalBlocker quiet(cbDeviceName);
  cbDeviceName->clear();
  FillUSBDeviceList(FUsbDevices);
  for (const TUsbDeviceItem& device : FUsbDevices)
    cbDeviceName->addItem(QString::fromStdString(device.text), device.tag);
  if (cbDeviceName->count() == 0) {
    eSerialNumber->clear();
    return;
  }
  cbDeviceName->setCurrentIndex(0);
  ChooseDevice();
}

void TfConnectionDialog::ChooseDevice() {
  const int index = cbDeviceName->currentIndex();
  eSerialNumber->setText(
      index < 0 ? QString() : QString::fromStdString(GetUSBItemSerialNumber(FUsbDevices, index)));
}

// ---- Running -------------------------------------------------------------------------------

void TfConnectionDialog::LoadFrom(const std::string& connection) {
  const TConnectionChoice choice = ChoiceOfConnection(connection);
  switch (choice.line) {
    case TConnectionChoice::lnSerial:
      // A path is shown as it was given, even when a listed port has that device: the string
      // then comes back unchanged.
      chbDevice->setChecked(!choice.device.empty());
      if (!choice.device.empty()) eDevice->setText(QString::fromStdString(choice.device));
      ApplyRadioRule(rbCOM);
      cbCOM->setCurrentIndex(FComPorts->IndexOfPort(choice.comPort));
      SelectBaudRate(cbCOMBaudrate, choice.comBaudRate);
      break;
    case TConnectionChoice::lnUsb:
      ApplyRadioRule(rbUSB);
      eSerialNumber->setText(QString::fromStdString(choice.serialNumber));
      SelectBaudRate(cbUSBBaudRate, choice.usbBaudRate);
      break;
    case TConnectionChoice::lnTcp:
      ApplyRadioRule(rbTCP);
      eIP->setText(QString::fromStdString(choice.host));
      iePort->SetValue(choice.tcpPort);
      break;
  }
}

std::int32_t TfConnectionDialog::SelectedComPort() const {
  return FComPorts->PortAt(cbCOM->currentIndex());
}

std::string TfConnectionDialog::BuildConnectionString() const {
  if (rbCOM->isChecked() && chbDevice->isChecked())
    return "provider=SERIAL_PORT;device=" + eDevice->text().toStdString() +
           ";baudrate=" + cbCOMBaudrate->currentText().toStdString();
  if (rbCOM->isChecked())
    return "provider=SERIAL_PORT;comport=" + std::to_string(SelectedComPort()) +
           ";baudrate=" + cbCOMBaudrate->currentText().toStdString();
  if (rbUSB->isChecked())
    return "provider=FTD_USB;serial_number=" + eSerialNumber->text().toStdString() +
           ";baudrate=" + cbUSBBaudRate->currentText().toStdString();
  return "provider=TCP_CLIENT;host=" + eIP->text().toStdString() +
         ";port=" + std::to_string(iePort->Value());
}

void TfConnectionDialog::LoadConnection(const std::string& connection, TByte address) {
  LoadFrom(connection);
  cbbADR->setCurrentIndex(address);
  // A USB connection is always shown with its section.
  if (rbUSB->isChecked() && !sbExpertMode->isChecked()) {
    sbExpertMode->setChecked(true);
    ApplyExpertMode();
  }
}

void TfConnectionDialog::FindDisplays() {
  TfDisplaySearch search(BuildConnectionString(), this);
  if (search.exec() == QDialog::Accepted && search.Chosen()) ApplyFoundDisplay(*search.Chosen());
}

void TfConnectionDialog::ApplyFoundDisplay(const TFoundDisplay& found) {
  cbbADR->setCurrentIndex(found.address);
  if (found.baud > 0)
    SelectBaudRate(rbUSB->isChecked() ? cbUSBBaudRate : cbCOMBaudrate, found.baud);
}

void TfConnectionDialog::SetRecentConnections(const TRecentConnections* recent) {
  FRecent = recent;
  FillRecentConnections();
}

// Nothing is chosen: the dialog shows the connection it was given until the user picks one.
void TfConnectionDialog::FillRecentConnections() {
  FRecentShown = FRecent ? FRecent->Entries() : std::vector<TRecentConnection>{};
  cbRecent->clear();
  for (const TRecentConnection& recent : FRecentShown) {
    cbRecent->addItem(RecentConnectionText(recent));
    cbRecent->setItemData(cbRecent->count() - 1, QString::fromStdString(recent.connection),
                          Qt::ToolTipRole);
  }
  cbRecent->setCurrentIndex(-1);
  cbRecent->setPlaceholderText(FRecentShown.empty() ? tr("žádná") : tr("vyberte…"));
  cbRecent->setEnabled(!FRecentShown.empty());
}

void TfConnectionDialog::ChooseRecentConnection(int index) {
  if (index < 0 || index >= static_cast<int>(FRecentShown.size())) return;
  const TRecentConnection recent = FRecentShown[static_cast<std::size_t>(index)];
  LoadConnection(recent.connection, recent.address);
}

void TfConnectionDialog::Load(const std::string& connection, TByte address) {
  LoadConnection(connection, address);
  FillRecentConnections();
  if (const QScreen* screen = this->screen())
    move(screen->availableGeometry().center() - rect().center());
}

bool TfConnectionDialog::Execute(std::string& connection, TByte& address) {
  Load(connection, address);
  if (exec() != QDialog::Accepted) return false;
  connection = BuildConnectionString();
  address = static_cast<TByte>(cbbADR->currentIndex());
  return true;
}

}  // namespace zorvid
