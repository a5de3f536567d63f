#pragma once

#include <QColor>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "core/ICommunicationInterface.h"
#include "core/Types.h"
#include "device/Zorvid.h"
#include "link/AnswerCheck.h"
#include "link/DisplayConnection.h"

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

namespace zorvid {

class TDisplayPanel;
class TfAbout;
class TfCiLog;
class TfConnectionDialog;
class TIntEdit;

// The program's main window "Zorvid-L": it owns the one display connection, connects it to the
// line the connection dialog describes, and reads and writes the
// display's settings on three pages, each button one or two device operations whose outcome the
// status line reports. A 500 ms poll mirrors the display's segments and temperature.
//
// Threads: everything runs on the user-interface thread. Every device operation blocks it until
// the answer or the device's time-out, so no timer tick starts while one is pending.
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

  // Connects as if the connection dialog had been confirmed with `connection` and `address`,
  // and shows the outcome in the status line; true when connected.
  bool ConnectTo(const std::string& connection, TByte address);
  // Why the last connect failed (the failing step's reason); empty after a success.
  QString ConnectFailure() const { return FConnectFailure; }

  // The timer's tick: segments and temperature from the device. Public for the tests, which
  // tick without waiting for the timer.
  void Timer1Timer();

 signals:
  // After every tick of the poll.
  void polled();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  QWidget* BuildDisplayPage();
  QWidget* BuildDataPage();
  QWidget* BuildOtherPage();
  QGroupBox* BuildBrightnessGroup();
  QGroupBox* BuildClockGroup();
  QWidget* BuildBottomPanel();
  void BuildStatusTexts();
  void SetTabOrder();
  void ConnectControls();
  void CenterOnScreen();

  // Connect with the confirmed settings, then UpdateControls and the connect status.
  bool ConnectAndShowStatus();
  bool Connect();
  void Disconnect();
  bool IsConnected();
  void UpdateControls();
  void ShowStatus(const QString& text, const QColor& colour);
  void ShowStatusOf(const QLabel* label);
  void ShowLoadStatus(bool ok);
  // An answer no setter would accept: red, naming the value; no control has changed.
  void ShowInvalidAnswer(const TInvalidAnswer& invalid);
  void ShowSaveStatus(bool ok);

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

  // The display device with its stack, and the transport while connected.
  std::unique_ptr<TDisplayConnection> FConnection;
  IZorvid* FDevice = nullptr;  // FConnection's device
  std::string FConnectionString;
  TByte FAddress = kZorvidDefaultAddress;
  // Why the last connect failed, for the status line's tooltip; empty after a success.
  QString FConnectFailure;
  TfAbout* FAbout = nullptr;
  QPointer<TfCiLog> FLog;
  QPointer<TfConnectionDialog> FConnectionDialog;

  QTabWidget* PageControl1;
  QWidget* TabSheet1;
  QWidget* TabSheet2;
  QWidget* TabSheet3;
  QPushButton* btnAbout;
  QLabel* pnlStatusbar;
  QWidget* pnlButtons;
  QPushButton* btnCIOpen;
  QPushButton* btnCIClose;
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
};

}  // namespace zorvid
