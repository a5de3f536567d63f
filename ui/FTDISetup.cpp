#include "ui/FTDISetup.h"

#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace zorvid {
namespace {

// A button without caption and without action.
QPushButton* NewInertButton(const char* name) {
  auto* button = new QPushButton;
  button->setObjectName(name);
  button->setAutoDefault(false);
  return button;
}

}  // namespace

TfFTDIdialog::TfFTDIdialog(QWidget* owner) : QDialog(owner) {
  setObjectName("fFTDIdialog");
  setWindowTitle("fFTDIdialog");
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  lblBaudRate = new QLabel("Baud rate:");
  lblBaudRate->setObjectName("lblBaudRate");
  auto* group = new QGroupBox("GroupBox1");
  group->setObjectName("GroupBox1");
  auto* groupLayout = new QVBoxLayout(group);
  groupLayout->addWidget(lblBaudRate);
  groupLayout->addStretch();

  Button1 = NewInertButton("Button1");
  Button2 = NewInertButton("Button2");
  Button3 = NewInertButton("Button3");
  auto* bottom = new QFrame;
  bottom->setObjectName("Panel1");
  auto* bottomLayout = new QHBoxLayout(bottom);
  bottomLayout->addStretch();
  for (QPushButton* button : {Button1, Button2, Button3})
    bottomLayout->addWidget(button);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group, 1);
  layout->addWidget(bottom);
  resize(315, 258);
}

void TfFTDIdialog::ShowBaudRate(std::int32_t baudRate) {
  lblBaudRate->setText(QString::number(baudRate));
}

bool ExecuteUsbDialog(QWidget* owner, std::int32_t baudRate) {
  TfFTDIdialog dialog(owner);
  dialog.ShowBaudRate(baudRate);
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace zorvid
