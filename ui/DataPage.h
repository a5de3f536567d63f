#pragma once

// The main window's page "Zobrazení dat": the date-time parameters and the data expiry. It
// shows what a load read (values a rule refuses marked) and collects what a save sends; it does
// no I/O. The time offset and the zone index are service fields, hidden until asked for.
//
// Threads: user-interface thread only.

#include <QCheckBox>
#include <QLabel>
#include <QList>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>
#include <cstdint>
#include <optional>

#include "device/ZorvidCodec.h"
#include "device/ZorvidRules.h"
#include "link/Capabilities.h"
#include "link/SettingsReads.h"
#include "ui/PageControls.h"

class QGroupBox;

namespace zorvid {

class TIntEdit;

class TDataPage : public QWidget {
  Q_OBJECT

 public:
  explicit TDataPage(QWidget* parent = nullptr);

  // What came is shown, the clock's fields of a display without a clock too (they are written
  // back as read); a value a rule refuses marked.
  void Show(const TDateTimeParamsRead& read);
  TDateTimeParams Params() const;
  std::int32_t ExpirationSeconds() const;
  // A save of the page's values that a rule refuses, its field marked: nothing is sent to
  // `address`. Nothing when all may be sent.
  std::optional<TOutcome> RefusedSave(TByte address);
  void ClearMarks();
  // Enabled as the display can take it: nothing while `usable` is false, the clock's fields
  // (shown as read) only on a display with a clock, Save only for values loaded from this
  // display.
  void UpdateControls(bool usable, const TDisplayCapabilities& capabilities, bool loaded,
                      const QString& loadFirst);
  void ShowServiceFields();
  QList<QWidget*> TabOrder() const;

 signals:
  void load();
  void save();
  // A choice that changes which fields are enabled.
  void choiceChanged();

 private:
  QList<QWidget*> ServiceFields() const;
  QList<TMarkableField> Markable() const;
  void ShowParams(const TDateTimeParams& params);

  QGroupBox* gbDateTimeParams;
  QLabel* Label3;
  QRadioButton* rbDisplayDataExpirationNo;
  QRadioButton* rbDisplayDataExpirationDelay;
  TIntEdit* ieDisplayDataExpirationDelay;
  QCheckBox* chbDateTimeShowTimeAfterTurnOn;
  QCheckBox* chbDateTimeShowTimeAfterExpiration;
  QCheckBox* chbDateTimeAutoUpdate;
  QCheckBox* chbDateTimeSummerTime;
  QCheckBox* chbDateTimeFormat12Hour;
  QCheckBox* chbDateTimeFormatMDY;
  QLabel* Label4;
  QCheckBox* chbDateTimeShowTime;
  QCheckBox* chbDateTimeShowDate;
  QCheckBox* chbDateTimeShowTemp;
  QLabel* Label5;
  TIntEdit* ieDateTimeOffset;
  QLabel* Label6;
  TIntEdit* ieDateTimeZone;
  QPushButton* btnDateTimeParamLoad;
  QPushButton* btnDateTimeParamSave;
};

}  // namespace zorvid
