#include "ui/TCPSetup.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <array>
#include <initializer_list>
#include <limits>

#include "ui/DialogFrame.h"
#include "ui/NamedControls.h"

namespace zorvid {
namespace {

// The dialog's texts, set on every run, in this order. They are English in either language.
enum TCaption {
  cRemote,
  cLocal,
  cHostIp,
  cPort,
  cLocalPort,
  cAutomaticLocalPort,
  cOk,
  cCancel,
  cApply
};
constexpr std::array<const char*, 9> kCaptions = {"Remote", "Local",      "Host IP",
                                                  "Port",   "Local port", "A&utomatic local port",
                                                  "&OK",    "&Cancel",    "&Apply"};

QString Caption(TCaption caption) {
  return QString::fromUtf8(kCaptions[caption]);
}

QSpinBox* NewPortEdit(const char* name) {
  auto* edit = new QSpinBox;
  edit->setObjectName(name);
  edit->setRange(0, std::numeric_limits<std::uint16_t>::max());
  return edit;
}

// A group box around one control.
QGroupBox* NewGroup(const char* name, QWidget* content) {
  auto* group = new QGroupBox;
  group->setObjectName(name);
  auto* layout = new QVBoxLayout(group);
  layout->addWidget(content);
  return group;
}

// A page with its controls stacked from the top.
QWidget* NewPage(const char* name, std::initializer_list<QWidget*> controls) {
  auto* page = new QWidget;
  page->setObjectName(name);
  auto* layout = new QVBoxLayout(page);
  for (QWidget* control : controls)
    layout->addWidget(control);
  layout->addStretch();
  return page;
}

}  // namespace

TfTCPIPDialog::TfTCPIPDialog(QWidget* owner) : QDialog(owner) {
  setObjectName("fTCPIPDialog");
  ShowCloseButtonOnly(*this);
  BuildControls();
  connect(txtHost, &QLineEdit::textChanged, this, [this] { cmdAply->setEnabled(true); });
  for (QSpinBox* edit : {sePort, seListenPort})
    connect(edit, &QSpinBox::valueChanged, this, [this] { cmdAply->setEnabled(true); });
  connect(chLocalPort, &QCheckBox::clicked, this,
          [this](bool checked) { seListenPort->setEnabled(!checked); });
  connect(cmdAply, &QPushButton::clicked, this, &TfTCPIPDialog::Apply);
  connect(cmdOK, &QPushButton::clicked, this, &TfTCPIPDialog::Confirm);
  connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
  SetCaptions();
  FixClientSize(*this, QSize(343, 206));
}

void TfTCPIPDialog::BuildControls() {
  txtHost = new QLineEdit;
  txtHost->setObjectName("txtHost");
  sePort = NewPortEdit("sePort");
  gbHost = NewGroup("gbHost", txtHost);
  gbPort = NewGroup("gbPort", sePort);
  tsClient = NewPage("tsClient", {gbHost, gbPort});

  seListenPort = NewPortEdit("seListenPort");
  gbLocPort = NewGroup("gbLocPort", seListenPort);
  chLocalPort = new QCheckBox;
  chLocalPort->setObjectName("chLocalPort");
  chLocalPort->setVisible(false);
  tsServer = NewPage("tsServer", {gbLocPort, chLocalPort});

  pcPage = new QTabWidget;
  pcPage->setObjectName("pcPage");
  pcPage->addTab(tsClient, QString());
  pcPage->addTab(tsServer, QString());
  pcPage->setTabVisible(pcPage->indexOf(tsServer), false);

  cmdOK = Named(new QPushButton, "cmdOK");
  cmdOK->setDefault(true);
  cmdCancel = Named(new QPushButton, "cmdCancel");
  cmdAply = Named(new QPushButton, "cmdAply");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cmdOK);
  buttons->addWidget(cmdCancel);
  buttons->addWidget(cmdAply);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pcPage);
  layout->addLayout(buttons);
}

void TfTCPIPDialog::SetCaptions() {
  pcPage->setTabText(pcPage->indexOf(tsClient), Caption(cRemote));
  pcPage->setTabText(pcPage->indexOf(tsServer), Caption(cLocal));
  gbHost->setTitle(Caption(cHostIp));
  gbPort->setTitle(Caption(cPort));
  gbLocPort->setTitle(Caption(cLocalPort));
  chLocalPort->setText(Caption(cAutomaticLocalPort));
  cmdOK->setText(Caption(cOk));
  cmdCancel->setText(Caption(cCancel));
  cmdAply->setText(Caption(cApply));
}

void TfTCPIPDialog::Prepare(const QString& caption, const QString& host, std::uint16_t port) {
  SetCaptions();
  setWindowTitle(caption);
  txtHost->setText(host);
  sePort->setValue(port);
  cmdAply->setEnabled(false);
  FAccepted = false;
  pcPage->setCurrentWidget(tsClient);
  txtHost->setFocus();
}

void TfTCPIPDialog::Store() {
  FHost = txtHost->text();
  FPort = static_cast<std::uint16_t>(sePort->value());
  FLocalPort = chLocalPort->isChecked() ? 0 : static_cast<std::uint16_t>(seListenPort->value());
}

void TfTCPIPDialog::Apply() {
  FAccepted = true;
  Store();
  cmdAply->setEnabled(false);
}

void TfTCPIPDialog::Confirm() {
  FAccepted = true;
  Store();
  accept();
}

bool ExecuteTcpDialog(QWidget* owner, const QString& caption, std::string& host,
                      std::uint16_t& port) {
  TfTCPIPDialog dialog(owner);
  dialog.Prepare(caption, QString::fromStdString(host), port);
  dialog.exec();
  if (!dialog.Accepted()) return false;
  host = dialog.Host().toStdString();
  port = dialog.Port();
  return true;
}

}  // namespace zorvid
