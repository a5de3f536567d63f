#include "ui/DataPage.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QVBoxLayout>
#include <initializer_list>
#include <tuple>

#include "ui/EnDis.h"
#include "ui/NamedControls.h"
#include "ui/controls/IntEdit.h"

namespace zorvid {

TDataPage::TDataPage(QWidget* parent) : QWidget(parent) {
  setObjectName("TabSheet2");
  gbDateTimeParams = NewGroup("gbDateTimeParams", tr("Zobrazení dat a automatických informací"));
  Label3 = NewLabel("Label3", tr("Platnost dat:"));
  std::tie(rbDisplayDataExpirationNo, rbDisplayDataExpirationDelay) =
      NewChoice("rbDisplayDataExpirationNo", tr("&Trvale"), "rbDisplayDataExpirationDelay",
                tr("&Po dobu [s]"));
  ieDisplayDataExpirationDelay = NewIntEdit("ieDisplayDataExpirationDelay", 0, kExpirationMax, 0);
  chbDateTimeShowTimeAfterTurnOn =
      NewCheck("chbDateTimeShowTimeAfterTurnOn", tr("Zo&brazit info. po zapnutí displeje"));
  chbDateTimeShowTimeAfterExpiration = NewCheck("chbDateTimeShowTimeAfterExpiration",
                                                tr("Zobrazit info. po v&ypršení platnosti dat"));
  chbDateTimeAutoUpdate = NewCheck("chbDateTimeAutoUpdate", tr("Auto&matické přepínání času"));
  chbDateTimeSummerTime = NewCheck("chbDateTimeSummerTime", tr("&Letní čas"));
  chbDateTimeFormat12Hour = NewCheck("chbDateTimeFormat12Hour", tr("&12 hodinový formát času"));
  chbDateTimeFormatMDY = NewCheck("chbDateTimeFormatMDY", tr("&Formát data měsíc/den/rok"));
  Label4 = NewLabel("Label4", tr("Rotovat tyto údaje:"));
  chbDateTimeShowTime = NewCheck("chbDateTimeShowTime", tr("Č&as"));
  chbDateTimeShowDate = NewCheck("chbDateTimeShowDate", tr("&Datum"));
  chbDateTimeShowTemp = NewCheck("chbDateTimeShowTemp", tr("T&eplota"));
  Label5 = NewLabel("Label5", tr("Časo&vý posun"));
  ieDateTimeOffset = NewIntEdit("ieDateTimeOffset", kDateTimeOffsetMin, kDateTimeOffsetMax, 0);
  Label6 = NewLabel("Label6", tr("&Index zóny"));
  ieDateTimeZone = NewIntEdit("ieDateTimeZone", 0, kDateTimeZoneMax, 0);
  for (QWidget* service : ServiceFields())
    service->setVisible(false);
  Label5->setBuddy(ieDateTimeOffset);
  Label6->setBuddy(ieDateTimeZone);
  btnDateTimeParamLoad = NewButton("btnDateTimeParamLoad", tr("Na&hrát nastavení"));
  btnDateTimeParamSave = NewButton("btnDateTimeParamSave", tr("&Uložit nastavení"));

  auto* grid = new QGridLayout(gbDateTimeParams);
  int row = 0;
  grid->addWidget(Label3, row++, 0, 1, 2);
  grid->addWidget(rbDisplayDataExpirationNo, row++, 0);
  grid->addWidget(rbDisplayDataExpirationDelay, row, 0);
  grid->addWidget(ieDisplayDataExpirationDelay, row++, 1);
  grid->addWidget(chbDateTimeShowTimeAfterTurnOn, row++, 0, 1, 2);
  grid->addWidget(chbDateTimeShowTimeAfterExpiration, row++, 0, 1, 2);
  grid->addWidget(chbDateTimeAutoUpdate, row, 0);
  grid->addWidget(chbDateTimeSummerTime, row++, 1);
  grid->addWidget(chbDateTimeFormat12Hour, row, 0);
  grid->addWidget(chbDateTimeFormatMDY, row++, 1);
  grid->addWidget(Label4, row++, 0, 1, 2);
  grid->addLayout(Row({chbDateTimeShowTime, chbDateTimeShowDate, chbDateTimeShowTemp}), row++, 0, 1,
                  2);
  grid->addWidget(Label5, row, 0);
  grid->addWidget(ieDateTimeOffset, row++, 1);
  grid->addWidget(Label6, row, 0);
  grid->addWidget(ieDateTimeZone, row++, 1);
  grid->setRowStretch(row++, 1);
  grid->addLayout(RightAlignedRow({btnDateTimeParamLoad, btnDateTimeParamSave}), row, 0, 1, 2);
  grid->setColumnStretch(0, 1);
  grid->setColumnStretch(1, 1);

  auto* page = new QVBoxLayout(this);
  page->addWidget(gbDateTimeParams);

  connect(btnDateTimeParamLoad, &QPushButton::clicked, this, &TDataPage::load);
  connect(btnDateTimeParamSave, &QPushButton::clicked, this, &TDataPage::save);
  for (QAbstractButton* toggle : std::initializer_list<QAbstractButton*>{
           rbDisplayDataExpirationNo, rbDisplayDataExpirationDelay, chbDateTimeShowTimeAfterTurnOn,
           chbDateTimeShowTimeAfterExpiration})
    connect(toggle, &QAbstractButton::toggled, this, &TDataPage::choiceChanged);
  UnmarkOnEdit(Markable());
}

QList<TMarkableField> TDataPage::Markable() const {
  return {{TSettingField::kTimeOffset, ieDateTimeOffset},
          {TSettingField::kZoneIndex, ieDateTimeZone},
          {TSettingField::kDataExpiration, ieDisplayDataExpirationDelay}};
}

void TDataPage::Show(const TDateTimeParamsRead& read) {
  if (!read.ok) return;
  ShowNumber(ieDisplayDataExpirationDelay, read.expiration.seconds);
  (read.expiration.seconds == 0 ? rbDisplayDataExpirationNo : rbDisplayDataExpirationDelay)
      ->setChecked(true);
  ShowParams(read.params);
  MarkInvalidField(Markable(), read.outcome.invalid);
}

void TDataPage::ShowParams(const TDateTimeParams& params) {
  chbDateTimeAutoUpdate->setChecked(params.autoUpdate);
  chbDateTimeSummerTime->setChecked(params.summerTime);
  chbDateTimeFormat12Hour->setChecked(params.format12Hour);
  chbDateTimeFormatMDY->setChecked(params.formatMDY);
  chbDateTimeShowTime->setChecked(params.showTime);
  chbDateTimeShowDate->setChecked(params.showDate);
  ShowNumber(ieDateTimeOffset, params.offset);
  ShowNumber(ieDateTimeZone, params.zone);
  chbDateTimeShowTimeAfterTurnOn->setChecked(params.showAfterTurnOn);
  chbDateTimeShowTimeAfterExpiration->setChecked(params.showAfterExpiration);
  chbDateTimeShowTemp->setChecked(params.showTemperature);
}

TDateTimeParams TDataPage::Params() const {
  return {chbDateTimeAutoUpdate->isChecked(),
          chbDateTimeSummerTime->isChecked(),
          chbDateTimeShowTimeAfterTurnOn->isChecked(),
          chbDateTimeShowTimeAfterExpiration->isChecked(),
          chbDateTimeFormat12Hour->isChecked(),
          chbDateTimeFormatMDY->isChecked(),
          chbDateTimeShowTime->isChecked(),
          chbDateTimeShowDate->isChecked(),
          chbDateTimeShowTemp->isChecked(),
          ieDateTimeOffset->Value(),
          ieDateTimeZone->Value()};
}

std::int32_t TDataPage::ExpirationSeconds() const {
  return rbDisplayDataExpirationNo->isChecked() ? 0 : ieDisplayDataExpirationDelay->Value();
}

std::optional<TOutcome> TDataPage::RefusedSave(TByte address) {
  return zorvid::RefusedSave(Markable(), address,
                             {{TStep::kWriteParams, CheckDateTimeParams(Params())},
                              {TStep::kWriteExpiration, CheckDataExpiration(ExpirationSeconds())}});
}

void TDataPage::ClearMarks() {
  MarkInvalidField(Markable(), std::nullopt);
}

void TDataPage::UpdateControls(bool usable, const TDisplayCapabilities& capabilities, bool loaded,
                               const QString& loadFirst) {
  EnableControls({this}, usable, true);
  if (!usable) return;
  const bool clock = OffersClockSettings(capabilities);
  EnableControls({gbDateTimeParams}, clock, true);
  // Without a clock its fields keep what the display holds, shown and not to be changed.
  if (!clock)
    EnableControls({gbDateTimeParams, chbDateTimeShowTemp, chbDateTimeShowTimeAfterTurnOn,
                    chbDateTimeShowTimeAfterExpiration, btnDateTimeParamLoad, btnDateTimeParamSave},
                   true, false);
  const bool rotates = chbDateTimeShowTimeAfterTurnOn->isChecked() ||
                       chbDateTimeShowTimeAfterExpiration->isChecked();
  EnableControls({chbDateTimeShowTemp}, rotates, false);
  EnableControls({chbDateTimeShowTime, chbDateTimeShowDate}, rotates && clock, false);
  ieDisplayDataExpirationDelay->setEnabled(rbDisplayDataExpirationDelay->isChecked());
  // What was not loaded from this display is not written back to it.
  btnDateTimeParamSave->setEnabled(loaded);
  btnDateTimeParamSave->setToolTip(loaded ? QString() : loadFirst);
}

QList<QWidget*> TDataPage::ServiceFields() const {
  return {Label5, ieDateTimeOffset, Label6, ieDateTimeZone};
}

void TDataPage::ShowServiceFields() {
  for (QWidget* service : ServiceFields())
    service->setVisible(true);
}

QList<QWidget*> TDataPage::TabOrder() const {
  return {rbDisplayDataExpirationNo,
          rbDisplayDataExpirationDelay,
          ieDisplayDataExpirationDelay,
          chbDateTimeShowTimeAfterTurnOn,
          chbDateTimeShowTimeAfterExpiration,
          chbDateTimeAutoUpdate,
          chbDateTimeSummerTime,
          chbDateTimeFormat12Hour,
          chbDateTimeFormatMDY,
          chbDateTimeShowTime,
          chbDateTimeShowDate,
          chbDateTimeShowTemp,
          ieDateTimeOffset,
          ieDateTimeZone,
          btnDateTimeParamLoad,
          btnDateTimeParamSave};
}

}  // namespace zorvid
