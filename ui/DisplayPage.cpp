#include "ui/DisplayPage.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLocale>
#include <QVBoxLayout>

#include "device/ZorvidCodec.h"
#include "ui/Application.h"
#include "ui/DisplayPanel.h"
#include "ui/NamedControls.h"
#include "ui/PageControls.h"

namespace zorvid {

TDisplayPage::TDisplayPage(QWidget* parent) : QWidget(parent) {
  setObjectName("TabSheet1");
  pnlDisplay = Named(new TDisplayPanel, "pnlDisplay");
  GroupBox1 = NewGroup("GroupBox1", tr("Displej"));
  Label2 = NewLabel("Label2", tr("&Text displeje:"));
  edtDisplayChars = Named(new QLineEdit, "edtDisplayChars");
  Label2->setBuddy(edtDisplayChars);
  btnDisplayCharsSet = NewButton("btnDisplayCharsSet", tr("N&astavit"));
  btnShowActualInformation =
      NewButton("btnShowActualInformation", tr("Zobrazit aktuální &informace"));
  Label7 = NewLabel("Label7", tr("Teplota:"));
  lblTemperature = NewLabel("lblTemperature", "---");
  SetBold(lblTemperature);

  auto* grid = new QGridLayout(GroupBox1);
  grid->addWidget(Label2, 0, 0);
  grid->addWidget(edtDisplayChars, 0, 1);
  grid->addWidget(btnDisplayCharsSet, 0, 2);
  grid->addLayout(Row({btnShowActualInformation}), 1, 1, 1, 2);
  grid->addWidget(Label7, 2, 0);
  grid->addWidget(lblTemperature, 2, 1, 1, 2);
  grid->setColumnStretch(1, 1);

  auto* page = new QVBoxLayout(this);
  page->addWidget(pnlDisplay, 0, Qt::AlignHCenter);
  page->addWidget(GroupBox1);
  page->addStretch(1);

  connect(btnDisplayCharsSet, &QPushButton::clicked, this, &TDisplayPage::writeText);
  connect(btnShowActualInformation, &QPushButton::clicked, this, &TDisplayPage::showInformation);
  connect(pnlDisplay, &TDisplayPanel::segmentReleased, this, &TDisplayPage::segmentsChanged);
  connect(edtDisplayChars, &QLineEdit::textChanged, this, GuardedSlot([this] { ColourText(); }));
}

void TDisplayPage::ShowPoll(const TPollOutcome& poll) {
  // Another number of bytes is no picture of the display: the shapes keep what they show.
  if (poll.segmentsRead.Ok()) pnlDisplay->ShowDisplayData(poll.segments);
  if (!poll.temperatureRead.Ok()) return ShowNoTemperature();
  lblTemperature->setText(QLocale().toString(poll.degrees, 'f', 1) + QString::fromUtf8(" °C"));
}

void TDisplayPage::ShowNoTemperature() {
  lblTemperature->setText(QStringLiteral("---"));
}

void TDisplayPage::SetMirrorCurrent(bool current) {
  pnlDisplay->setEnabled(current);
  pnlDisplay->setProperty("stale", !current);  // for whoever checks the mirror, tests included
}

std::string TDisplayPage::DisplayText() const {
  return edtDisplayChars->text().toLatin1().toStdString();
}

TByteString TDisplayPage::Segments() const {
  return pnlDisplay->CollectDisplayData();
}

QList<QWidget*> TDisplayPage::TabOrder() const {
  return {edtDisplayChars, btnDisplayCharsSet, btnShowActualInformation};
}

// A text the display cannot show is marked while it is typed.
void TDisplayPage::ColourText() {
  if (IsValidDisplayText(DisplayText())) {
    edtDisplayChars->setPalette(QPalette());  // the inherited colours again
    return;
  }
  QPalette palette = edtDisplayChars->palette();
  palette.setColor(QPalette::Base, kInvalidTextBackground);
  edtDisplayChars->setPalette(palette);
}

}  // namespace zorvid
