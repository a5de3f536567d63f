#pragma once

#include <QColor>
#include <QDateTime>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/ICommunicationInterface.h"
#include "core/Types.h"
#include "device/Zorvid.h"
#include "device/ZorvidRules.h"
#include "link/Capabilities.h"
#include "link/DisplayLink.h"
#include "link/DisplayPoll.h"
#include "link/Outcome.h"
#include "link/SettingsReads.h"
#include "link/SettingsSnapshot.h"

class QCheckBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTimeEdit;
class QTimer;
class QToolButton;

namespace zorvid {

class TDisplayPanel;
class TfAbout;
class TfCiLog;
class TfCommParams;
class TfConnectionDialog;
class TfSettingsDifferences;
class TRecentConnections;
class TIntEdit;
struct TCommissioning;
struct TConnectOutcome;

// The program's main window "Zorvid-L": it owns the display link, connects it to the line the
// connection dialog describes, and reads and writes the display's settings on three pages, each
// button one procedure of one or two device operations whose outcome the status line reports.
// A 500 ms poll mirrors the display's segments and temperature. The status line always shows
// the state of the line: a silent display, a line that closed, the attempts to reconnect.
//
// Threads: the window runs on the user-interface thread and never waits for the line: it hands
// each procedure to the link, which runs it on its own thread, and shows the outcome when the
// link reports it. While a button's procedure runs, the pages are disabled; a poll tick is
// skipped while anything runs or waits on the link.
class TfMain : public QWidget {
  Q_OBJECT

 public:
  explicit TfMain(QWidget* owner = nullptr);
  // Disconnects and detaches the stack from the device before the device goes.
  ~TfMain() override;

  // The log window the service gesture shows and the dialog "Navázat spojení" runs. They are
  // made after this window; without them the gesture and the button do nothing.
  void SetCommunicationLog(TfCiLog* log);
  void SetConnectionDialog(TfConnectionDialog* dialog);
  // Where every connect that succeeds, of the dialog or ConnectTo, is added; without it none is
  // remembered. The list must outlive the window or be unset first.
  void SetRecentConnections(TRecentConnections* recent);

  // Connects as if the connection dialog had been confirmed with `connection` and `address`;
  // the outcome shows in the status line and comes with connectFinished.
  void ConnectTo(const std::string& connection, TByte address);
  // A procedure runs or waits on the link.
  bool IsBusy() const { return FLink->IsBusy(); }

  // "Uložit do souboru…" with the file chosen: the display's settings read into a settings
  // file at `path`; the outcome shows in the status line.
  void SaveSettingsFile(const QString& path);
  // "Načíst ze souboru…" with the file chosen: a sound file's differences from the display are
  // shown in the dialog "Nastavení ze souboru" and written, then verified, only when confirmed.
  // A file that cannot be taken writes nothing and says why.
  void LoadSettingsFile(const QString& path);
  // Why the last connect failed (the failing step's reason); empty after a success.
  QString ConnectFailure() const { return FConnectFailure; }

  // The timer's tick: segments and temperature from the device, unless anything runs or waits
  // on the link. Public for the tests, which tick without waiting for the timer.
  void Timer1Timer();

 signals:
  // After every poll that ran, when its outcome is shown.
  void polled();
  // After every connect of the dialog or ConnectTo, when its outcome is shown.
  void connectFinished(bool connected);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  QWidget* BuildDisplayPage();
  QWidget* BuildDataPage();
  QWidget* BuildOtherPage();
  QGroupBox* BuildBrightnessGroup();
  QGroupBox* BuildClockGroup();
  QGroupBox* BuildCommParamsGroup();
  QWidget* BuildBottomPanel();
  void BuildStatusTexts();
  void SetTabOrder();
  void ConnectControls();
  void CenterOnScreen();

  // What the window knows of the line.
  enum class TLineState { kClosed, kConnected, kSilent, kLost };

  // Connect with the confirmed settings, then UpdateControls and the connect status.
  void ConnectAndShowStatus();
  void Disconnect();
  bool IsConnected() const;
  void UpdateControls();
  // A button's procedure on the link: the pages disabled, "Probíhá komunikace…" and the busy
  // arrow until `show` gets its result.
  template <class TProcedureFn, class TShowFn>
  void RunProcedure(TProcedureFn procedure, TShowFn show);
  void BeginProcedure();
  // A procedure that raised: the status line says so, with the error's text in its details.
  void ShowProcedureFailure(const std::string& error);
  void EndProcedure();
  void ShowPoll(const TPollOutcome& outcome);
  void ShowSilence(bool silent);
  void ShowPollFault(const TOutcome& segmentsRead);
  void LineLost(const QString& reason);
  void ScheduleReconnect();
  void Reconnect();
  // The text, elided to the line's width, and its details: the whole text when it did not fit,
  // and why it failed. The details show in the tooltip and behind btnStatusDetails.
  void ShowStatus(const QString& text, const QColor& colour, const QString& details = {});
  void ShowStatusOf(const QLabel* label, const QString& details = {});
  // The label's text with the outcome's cause after a colon, its step and reason in the details.
  void ShowOutcome(const QLabel* label, const TOutcome& outcome);
  void ShowStatusDetails();
  void ShowSaveOutcome(const TOutcome& outcome);
  void ShowConnectFailure(const TConnectOutcome& outcome);
  // A save whose steps were all written: green when the display reads back what was sent,
  // else red with what it holds instead.
  void ShowVerifiedSave(const TOutcome& readBack, const std::vector<TSettingChange>& differences);
  // A save of two steps: the failure when the first failed, `onlyFirst` when only the first was
  // written, else what the read-back found.
  void ShowTwoStepSave(bool firstWritten, bool secondWritten, const QLabel* onlyFirst,
                       const TOutcome& outcome, const std::vector<TSettingChange>& differences);

  // How a group's load ended: `loaded` when its values show (those of a rule refuses marked).
  struct TLoadOutcome {
    bool loaded = false;
    TOutcome outcome;
  };
  TLoadOutcome ApplyDateTimeParams(const TDateTimeParamsRead& read);
  TLoadOutcome ApplyBrightness(const TBrightnessRead& read);
  TLoadOutcome ApplyClock(const TClockRead& read);
  void ShowLoadOutcome(const TLoadOutcome& outcome);
  std::vector<TLoadOutcome> ApplySettings(const TSettingsReads& reads);
  void ShowLoads(const std::vector<TLoadOutcome>& loads, const QLabel* loaded);
  void ForgetLoads();
  // The numeric fields a rule can name, and the one it names.
  QList<TIntEdit*> MarkableFields() const;
  TIntEdit* FieldOf(TSettingField field) const;
  // Clears the marks of `group`, then marks the field `invalid` names.
  void MarkInvalidField(const QList<TIntEdit*>& group, const std::optional<TInvalidValue>& invalid);
  // True, with the field marked and the status line naming it, when a rule refuses the value.
  bool RefuseInvalid(const std::optional<TInvalidValue>& invalid, TStep step);

  void btnCIOpenClick();
  void btnDisplayCharsSetClick();
  void btnShowActualInformationClick();
  void edtDisplayCharsChange();
  void SegmentReleased();
  void btnDateTimeParamLoadClick();
  void btnDateTimeParamSaveClick();
  void ShowDateTimeParams(const TDateTimeParams& params);
  TDateTimeParams CollectDateTimeParams() const;
  void btnDisplayParamLoadClick();
  void ShowBrightnessAuto(const TBrightnessAuto& settings);
  void btnDisplayParamSaveClick();
  void btnDateTimeLoadClick();
  void btnDateTimeSaveClick();
  void btnDateTimeSavePCClick();
  // The time offset and zone index with their labels, shown by the service gesture.
  QList<QWidget*> ServiceFields() const;
  void ShowServiceFields();
  void AskSaveSettingsFile();
  void AskLoadSettingsFile();
  // The settings of `path` against those the display holds now: asks, writes, verifies.
  void OfferSettings(const QString& path, const TSettingsSnapshot& file,
                     const TDisplaySettingsRead& held);
  void ShowRestore(const TSettingsRestore& restore);
  void ShowClockSave(const TClockSave& save);
  // "Adresa a rychlost…": reads the display's, asks for new ones and moves the display there.
  void btnCommParamsClick();
  void ShowCommissioning(const TCommissioning& outcome);
  // The address and speed the window reaches the display at, beside the button.
  void ShowCommParams();

  // The display connection on its own thread.
  std::unique_ptr<TDisplayLink> FLink;
  // What the last successful connect's identification said.
  TDisplayCapabilities FCapabilities;
  TLineState FLineState = TLineState::kClosed;
  int FProceduresRunning = 0;  // buttons' procedures not ended yet
  QDateTime FSilentSince;      // of the poll that first got no answer
  // A connect or a disconnect of the user outdates the reconnect attempts before it.
  std::uint64_t FLinkEpoch = 0;
  int FReconnectAttempts = 0;
  QString FReconnectFailure;  // why the last attempt failed
  // Which groups show the values of the connected display: only those can be saved.
  bool FParamsLoaded = false;
  bool FBrightnessLoaded = false;
  bool FClockLoaded = false;
  QTimer* FReconnectTimer;
  // The poll reads the temperature but not the segments: the panel is no picture of them.
  bool FPollFaulty = false;
  QString FStatusDetails;  // of the status line's text
  std::string FConnectionString;
  TByte FAddress = kZorvidDefaultAddress;
  // Why the last connect failed, for the status line's tooltip; empty after a success.
  QString FConnectFailure;
  TfAbout* FAbout = nullptr;
  TfSettingsDifferences* FDifferences = nullptr;
  TfCommParams* FCommParams = nullptr;
  QPointer<TfCiLog> FLog;
  QPointer<TfConnectionDialog> FConnectionDialog;
  TRecentConnections* FRecent = nullptr;

  QTabWidget* PageControl1;
  QWidget* TabSheet1;
  QWidget* TabSheet2;
  QWidget* TabSheet3;
  QPushButton* btnAbout;
  QLabel* pnlStatusbar;
  QToolButton* btnStatusDetails;
  QWidget* pnlButtons;
  QPushButton* btnCIOpen;
  QPushButton* btnCIClose;
  QPushButton* btnFile;  // its menu: "Uložit do souboru…", "Načíst ze souboru…"
  QPushButton* btnClose;
  QTimer* Timer1;

  TDisplayPanel* pnlDisplay;
  QGroupBox* GroupBox1;
  QLabel* Label2;
  QLineEdit* edtDisplayChars;
  QPushButton* btnDisplayCharsSet;
  QPushButton* btnShowActualInformation;
  QLabel* Label7;
  QLabel* lblTemperature;

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

  // The hidden panel whose labels carry the status texts and colours.
  QWidget* pnllanguage;
  QLabel* lblLanOpenCIOk;
  QLabel* lblLanOpenCIErr;
  QLabel* lblLanSettingsLoadOk;
  QLabel* lblLanSettingsLoadErr;
  QLabel* lblLanSettingsSaveOk;
  QLabel* lblLanSettingsSaveErr;
  QLabel* lblLanShowActualInformationOk;
  QLabel* lblLanShowActualInformationErr;
  QLabel* lblLanBusy;
  QLabel* lblLanSilent;
  QLabel* lblLanLineLost;
  QLabel* lblLanReconnecting;
  QLabel* lblLanReconnected;
  QLabel* lblLanDisconnected;
  QLabel* lblLanConnectedNotLoaded;
  QLabel* lblLanLoadFirst;
  QLabel* lblLanParamsSavedExpirationNot;
  QLabel* lblLanBrightnessSavedAutomaticNot;
  QLabel* lblLanSavedNotVerified;
  QLabel* lblLanSavedOtherValues;
  QLabel* lblLanFileSaved;
  QLabel* lblLanFileNotSaved;
  QLabel* lblLanFileRefused;
  QLabel* lblLanFileSame;
  QLabel* lblLanFileNotWritten;
  QLabel* lblLanCommReadErr;
  QLabel* lblLanCommChanged;
  QLabel* lblLanCommEnableErr;
  QLabel* lblLanCommWriteErr;
  QLabel* lblLanCommBack;
  QLabel* lblLanCommLost;
  QLabel* lblLanLoadedInvalid;
  QLabel* lblLanPollFailed;
  QLabel* lblLanProcedureFailed;
  QLabel* lblLanSaveUnknown;
  QLabel* lblLanCommUnchanged;
  QLabel* lblLanCommUnknown;
};

}  // namespace zorvid
