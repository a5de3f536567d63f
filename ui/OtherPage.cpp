#include "ui/OtherPage.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLocale>
#include <QStyle>
#include <QVBoxLayout>
#include <initializer_list>
#include <tuple>
#include <utility>

#include "link/DisplayConnection.h"
#include "ui/ConnectionDialog.h"
#include "ui/EnDis.h"
#include "ui/Language.h"
#include "ui/NamedControls.h"
#include "ui/controls/IntEdit.h"

namespace zorvid {

TOtherPage::TOtherPage(QWidget* parent) : QWidget(parent) {
  setObjectName("TabSheet3");
  auto* page = new QVBoxLayout(this);
  page->addWidget(BuildBrightnessGroup());
  page->addWidget(BuildClockGroup());
  page->addWidget(BuildCommParamsGroup());
  page->addStretch(1);

  connect(btnDisplayParamLoad, &QPushButton::clicked, this, &TOtherPage::loadBrightness);
  connect(btnDisplayParamSave, &QPushButton::clicked, this, &TOtherPage::saveBrightness);
  connect(btnDateTimeLoad, &QPushButton::clicked, this, &TOtherPage::loadClock);
  connect(btnDateTimeSave, &QPushButton::clicked, this, &TOtherPage::saveClock);
  connect(btnDateTimeSavePC, &QPushButton::clicked, this, &TOtherPage::saveClockFromPc);
  connect(btnCommParams, &QPushButton::clicked, this, &TOtherPage::changeCommParams);
  for (QAbstractButton* toggle :
       std::initializer_list<QAbstractButton*>{rbDisplayBrightnessStatic, rbDisplayBrightnessAuto})
    connect(toggle, &QAbstractButton::toggled, this, &TOtherPage::choiceChanged);
  UnmarkOnEdit(Markable());
}

QGroupBox* TOtherPage::BuildBrightnessGroup() {
  gbDisplay = NewGroup("gbDisplay", tr("Jas displeje"));
  std::tie(rbDisplayBrightnessStatic, rbDisplayBrightnessAuto) =
      NewChoice("rbDisplayBrightnessStatic", tr("S&taticky"), "rbDisplayBrightnessAuto",
                tr("Automati&cky dle okolního osvětlení"));
  lblDisplayBrightness = NewLabel("lblDisplayBrightness", tr("&Hodnota jasu:"));
  ieDisplayBrightness = NewIntEdit("ieDisplayBrightness", 0, kBrightnessMax, 27);
  lblDisplayBrightnessMin = NewLabel("lblDisplayBrightnessMin", tr("&Minimální jas:"));
  ieDisplayBrightnessMin = NewIntEdit("ieDisplayBrightnessMin", kBrightnessAutoMin,
                                      kBrightnessAutoMax, kBrightnessAutoMin);
  lblDisplayBrightnessMax = NewLabel("lblDisplayBrightnessMax", tr("Maximální &jas:"));
  ieDisplayBrightnessMax = NewIntEdit("ieDisplayBrightnessMax", kBrightnessAutoMin,
                                      kBrightnessAutoMax, kBrightnessAutoMax);
  lblDisplayBrightnessGain =
      NewLabel("lblDisplayBrightnessGain", tr("Umělé zvýšení hodnot&y osvětlení senzoru [%]:"));
  ieDisplayBrightnessGain = NewIntEdit("ieDisplayBrightnessGain", 0, kBrightnessGainMax, 0);
  btnDisplayParamLoad = NewButton("btnDisplayParamLoad", tr("N&ahrát nastavení"));
  btnDisplayParamSave = NewButton("btnDisplayParamSave", tr("U&ložit nastavení"));
  lblDisplayBrightness->setBuddy(ieDisplayBrightness);
  lblDisplayBrightnessMin->setBuddy(ieDisplayBrightnessMin);
  lblDisplayBrightnessMax->setBuddy(ieDisplayBrightnessMax);
  lblDisplayBrightnessGain->setBuddy(ieDisplayBrightnessGain);

  // The values of each mode are indented under its radio button.
  const int indent = style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth) +
                     style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing);
  auto* grid = new QGridLayout(gbDisplay);
  grid->setColumnMinimumWidth(0, indent);
  int row = 0;
  grid->addWidget(rbDisplayBrightnessStatic, row++, 0, 1, 3);
  grid->addWidget(lblDisplayBrightness, row, 1);
  grid->addWidget(ieDisplayBrightness, row++, 2);
  grid->addWidget(rbDisplayBrightnessAuto, row++, 0, 1, 3);
  for (auto [label, edit] : {std::pair{lblDisplayBrightnessMin, ieDisplayBrightnessMin},
                             std::pair{lblDisplayBrightnessMax, ieDisplayBrightnessMax},
                             std::pair{lblDisplayBrightnessGain, ieDisplayBrightnessGain}}) {
    grid->addWidget(label, row, 1);
    grid->addWidget(edit, row++, 2);
  }
  grid->addLayout(RightAlignedRow({btnDisplayParamLoad, btnDisplayParamSave}), row, 0, 1, 3);
  grid->setColumnStretch(2, 1);
  return gbDisplay;
}

QGroupBox* TOtherPage::BuildClockGroup() {
  gbDateTime = NewGroup("gbDateTime", tr("Datum a čas"));
  Label1 = NewLabel("Label1", tr("&Datum a čas:"));
  dtpDeviceDate = Named(new QDateEdit, "dtpDeviceDate");
  dtpDeviceDate->setCalendarPopup(true);
  // Four-digit years in either language; the locale's own short form has two in Czech.
  dtpDeviceDate->setDisplayFormat(ShortDateFormat(QLocale()));
  // The display's clock holds only these years.
  dtpDeviceDate->setDateRange(QDate(kDisplayYearFirst, 1, 1), QDate(kDisplayYearLast, 12, 31));
  dtpDeviceTime = Named(new QTimeEdit, "dtpDeviceTime");
  dtpDeviceTime->setDisplayFormat(QStringLiteral("HH:mm:ss"));
  Label1->setBuddy(dtpDeviceDate);
  const QDateTime now = QDateTime::currentDateTime();
  dtpDeviceTime->setTime(now.time());
  dtpDeviceDate->setDate(now.date());
  btnDateTimeSavePC = NewButton("btnDateTimeSavePC", tr("&Uložit podle PC"));
  btnDateTimeLoad = NewButton("btnDateTimeLoad", tr("Nahrát nasta&vení"));
  btnDateTimeSave = NewButton("btnDateTimeSave", tr("Ulož&it nastavení"));

  auto* layout = new QVBoxLayout(gbDateTime);
  layout->addLayout(Row({Label1, dtpDeviceDate, dtpDeviceTime}));
  auto* buttons = RightAlignedRow({btnDateTimeLoad, btnDateTimeSave});
  buttons->insertWidget(0, btnDateTimeSavePC);
  layout->addLayout(buttons);
  return gbDateTime;
}

QGroupBox* TOtherPage::BuildCommParamsGroup() {
  gbCommParams = NewGroup("gbCommParams", tr("Komunikace"));
  lblCommParams = Named(new QLabel, "lblCommParams");
  btnCommParams = NewButton("btnCommParams", tr("Adr&esa a rychlost…"));
  auto* layout = new QHBoxLayout(gbCommParams);
  layout->addWidget(lblCommParams, 1);
  layout->addWidget(btnCommParams);
  return gbCommParams;
}

QList<TMarkableField> TOtherPage::Markable() const {
  return {{TSettingField::kStaticBrightness, ieDisplayBrightness},
          {TSettingField::kMinimumBrightness, ieDisplayBrightnessMin},
          {TSettingField::kMaximumBrightness, ieDisplayBrightnessMax},
          {TSettingField::kSensorGain, ieDisplayBrightnessGain}};
}

void TOtherPage::ShowBrightness(const TBrightnessRead& read) {
  if (read.staticRead) ShowNumber(ieDisplayBrightness, read.value);
  if (!read.offered)
    rbDisplayBrightnessStatic->setChecked(true);
  else if (read.automaticRead)
    ShowAutomatic(read.automatic);
  MarkInvalidField(Markable(), read.outcome.invalid);
}

void TOtherPage::ShowAutomatic(const TBrightnessAuto& settings) {
  (settings.automatic ? rbDisplayBrightnessAuto : rbDisplayBrightnessStatic)->setChecked(true);
  ShowNumber(ieDisplayBrightnessMin, settings.min);
  ShowNumber(ieDisplayBrightnessMax, settings.max);
  ShowNumber(ieDisplayBrightnessGain, settings.gain);
}

std::int32_t TOtherPage::StaticBrightness() const {
  return ieDisplayBrightness->Value();
}

TBrightnessAuto TOtherPage::AutomaticBrightness() const {
  return {rbDisplayBrightnessAuto->isChecked(), ieDisplayBrightnessMin->Value(),
          ieDisplayBrightnessMax->Value(), ieDisplayBrightnessGain->Value()};
}

std::optional<TOutcome> TOtherPage::RefusedBrightnessSave(bool automaticOffered, TByte address) {
  return RefusedSave(
      Markable(), address,
      {{TStep::kWriteBrightness, CheckBrightness(StaticBrightness())},
       {TStep::kWriteBrightnessAuto,
        automaticOffered ? CheckBrightnessAuto(AutomaticBrightness()) : std::nullopt}});
}

void TOtherPage::ClearMarks() {
  MarkInvalidField(Markable(), std::nullopt);
}

void TOtherPage::ShowClock(TDateTime clock) {
  const TDateTimeParts parts = DecodeDateTime(clock);
  dtpDeviceTime->setTime(QTime(parts.hour, parts.minute, parts.second, parts.millisecond));
  dtpDeviceDate->setDate(QDate(parts.year, parts.month, parts.day));
}

std::optional<TDateTime> TOtherPage::Clock() const {
  const QDate date = dtpDeviceDate->date();
  const QTime time = dtpDeviceTime->time();
  return EncodeDateTime(
      {date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second(), 0});
}

void TOtherPage::ShowCommParams(bool connected, TByte address, const std::string& connection) {
  if (!connected) return lblCommParams->setText(tr("Nepřipojeno."));
  const QString at = QString::fromStdString(AddressText(address));
  if (const std::optional<std::int32_t> speed = ChoiceOfConnection(connection).Speed())
    lblCommParams->setText(tr("Adresa %1, %2 Bd").arg(at).arg(*speed));
  else
    lblCommParams->setText(tr("Adresa %1, linka TCP").arg(at));
}

void TOtherPage::UpdateControls(bool usable, const TDisplayCapabilities& capabilities,
                                bool brightnessLoaded, bool clockLoaded, const QString& loadFirst) {
  EnableControls({this}, usable, true);
  if (!usable) return;
  EnableControls({gbDateTime}, OffersClockSettings(capabilities), true);
  const bool automatic = OffersAutomaticBrightness(capabilities);
  rbDisplayBrightnessAuto->setEnabled(automatic);
  if (!automatic) ShowAutomatic(kNoAutomaticBrightness);
  EnableControls({lblDisplayBrightness, ieDisplayBrightness},
                 rbDisplayBrightnessStatic->isChecked(), false);
  EnableControls({lblDisplayBrightnessMin, ieDisplayBrightnessMin, lblDisplayBrightnessMax,
                  ieDisplayBrightnessMax, lblDisplayBrightnessGain, ieDisplayBrightnessGain},
                 rbDisplayBrightnessAuto->isChecked(), false);
  // What was not loaded from this display is not written back to it.
  for (auto [save, loaded] : {std::pair{btnDisplayParamSave, brightnessLoaded},
                              std::pair{btnDateTimeSave, clockLoaded}}) {
    save->setEnabled(loaded);
    save->setToolTip(loaded ? QString() : loadFirst);
  }
}

QList<QWidget*> TOtherPage::TabOrder() const {
  return {rbDisplayBrightnessStatic,
          ieDisplayBrightness,
          rbDisplayBrightnessAuto,
          ieDisplayBrightnessMin,
          ieDisplayBrightnessMax,
          ieDisplayBrightnessGain,
          btnDisplayParamLoad,
          btnDisplayParamSave,
          dtpDeviceDate,
          dtpDeviceTime,
          btnDateTimeSavePC,
          btnDateTimeLoad,
          btnDateTimeSave,
          btnCommParams};
}

}  // namespace zorvid
