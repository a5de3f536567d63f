#pragma once

// The main window's page "Ostatní": the brightness (static or automatic), the display's date
// and time, and its address and speed. It shows what a load read (values a rule refuses
// marked) and collects what a save sends; it does no I/O.
//
// Threads: user-interface thread only.

#include <QDateEdit>
#include <QLabel>
#include <QList>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <string>

#include "core/DateTime.h"
#include "device/ZorvidCodec.h"
#include "device/ZorvidRules.h"
#include "link/Capabilities.h"
#include "link/Outcome.h"
#include "link/SettingsReads.h"
#include "ui/PageControls.h"

class QGroupBox;

namespace zorvid {

class TIntEdit;

class TOtherPage : public QWidget {
  Q_OBJECT

 public:
  explicit TOtherPage(QWidget* parent = nullptr);

  // What came is shown even when the other read failed; a value a rule refuses marked.
  void ShowBrightness(const TBrightnessRead& read);
  std::int32_t StaticBrightness() const;
  TBrightnessAuto AutomaticBrightness() const;
  // A save of the brightness that a rule refuses, its field marked: nothing is sent to
  // `address`. The automatic brightness counts only where offered.
  std::optional<TOutcome> RefusedBrightnessSave(bool automaticOffered, TByte address);
  void ClearMarks();
  // A clock in the years the date field holds.
  void ShowClock(TDateTime clock);
  // The date and time of the fields; nothing when they form no date.
  std::optional<TDateTime> Clock() const;
  // Where the window reaches the display: the address, and the line's speed or TCP.
  void ShowCommParams(bool connected, TByte address, const std::string& connection);
  // Enabled as the display can take it: nothing while `usable` is false, the clock only on a
  // display with one, the automatic brightness only where offered, Save only for values
  // loaded from this display.
  void UpdateControls(bool usable, const TDisplayCapabilities& capabilities, bool brightnessLoaded,
                      bool clockLoaded, const QString& loadFirst);
  QList<QWidget*> TabOrder() const;

 signals:
  void loadBrightness();
  void saveBrightness();
  void loadClock();
  void saveClock();
  void saveClockFromPc();
  void changeCommParams();
  void choiceChanged();

 private:
  QGroupBox* BuildBrightnessGroup();
  QGroupBox* BuildClockGroup();
  QGroupBox* BuildCommParamsGroup();
  QList<TMarkableField> Markable() const;
  void ShowAutomatic(const TBrightnessAuto& settings);

  QGroupBox* gbDisplay;
  QRadioButton* rbDisplayBrightnessStatic;
  QLabel* lblDisplayBrightness;
  TIntEdit* ieDisplayBrightness;
  QRadioButton* rbDisplayBrightnessAuto;
  QLabel* lblDisplayBrightnessMin;
  TIntEdit* ieDisplayBrightnessMin;
  QLabel* lblDisplayBrightnessMax;
  TIntEdit* ieDisplayBrightnessMax;
  QLabel* lblDisplayBrightnessGain;
  TIntEdit* ieDisplayBrightnessGain;
  QPushButton* btnDisplayParamLoad;
  QPushButton* btnDisplayParamSave;
  QGroupBox* gbDateTime;
  QLabel* Label1;
  QDateEdit* dtpDeviceDate;
  QTimeEdit* dtpDeviceTime;
  QPushButton* btnDateTimeSavePC;
  QPushButton* btnDateTimeLoad;
  QPushButton* btnDateTimeSave;
  QGroupBox* gbCommParams;
  QLabel* lblCommParams;
  QPushButton* btnCommParams;
};

}  // namespace zorvid
