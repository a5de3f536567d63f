#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "core/Types.h"
#include "link/DisplaySession.h"
#include "ui/StatusLine.h"

class QPushButton;
class QTabWidget;
class QTimer;

namespace zorvid {

class TDataPage;
class TDisplayPage;
class TOtherPage;
class TfAbout;
class TfCiLog;
class TfCommParams;
class TfConnectionDialog;
class TfSettingsDifferences;
class TRecentConnections;

// The program's main window "Zorvid-L": three pages over one display session, the status line
// and the buttons of the connection. It only draws and forwards: each button asks the session
// for one procedure and shows its outcome on its page and in the status line; the session
// knows the line's state and which groups are loaded. A 500 ms poll mirrors the display's
// segments and temperature.
//
// Threads: the window runs on the user-interface thread and never waits for the line: the
// session runs every procedure on its link's thread and reports here. While a button's
// procedure runs, the pages are disabled; a poll tick is skipped while anything runs or waits.
class TfMain : public QWidget {
  Q_OBJECT

 public:
  explicit TfMain(QWidget* owner = nullptr);
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
  bool IsBusy() const { return FSession->IsBusy(); }

  // "Uložit do souboru…" with the file chosen: the display's settings read into a settings
  // file at `path`; the outcome shows in the status line.
  void SaveSettingsFile(const QString& path);
  // "Načíst ze souboru…" with the file chosen: a sound file's differences from the display are
  // shown in the dialog "Nastavení ze souboru" and written, then verified, only when confirmed.
  // A file that cannot be taken writes nothing and says why.
  void LoadSettingsFile(const QString& path);
  // Why the last connect failed (the failing step's reason); empty after a success.
  QString ConnectFailure() const { return FConnectFailure; }

  // The timer's tick: segments and temperature from the display, unless anything runs or waits
  // on the link. Public for the tests, which tick without waiting for the timer.
  void Timer1Timer();

 signals:
  // After every poll that ran, when its outcome is shown.
  void polled();
  // After every connect of the dialog or ConnectTo, when its outcome is shown.
  void connectFinished(bool connected);

 private:
  QWidget* BuildBottomPanel();
  void SetTabOrder();
  void ConnectControls();
  void CenterOnScreen();

  // A button's procedure: the pages disabled, "Probíhá komunikace…" and the busy arrow until
  // its outcome comes. The session's procedure is given `done` (which shows the outcome) and
  // the failure report.
  template <class TResult, class TShow>
  TDisplaySession::TDone<TResult> Begin(TShow show);
  TDisplaySession::TFailed Failed();
  void EndProcedure();
  void UpdateControls();

  void btnCIOpenClick();
  void ShowConnect(const TConnectReport& report);
  void Disconnect();
  // The groups of a connect or a restore shown on their pages, with how each load ended.
  std::vector<TGroupLoad> ApplySettings(const TSettingsReads& reads);
  // `segmentsFailed`: as the poll before this one left them.
  void ShowPoll(const TPollOutcome& poll, bool segmentsFailed);
  void ShowSessionState();

  void WriteText();
  void ShowInformation();
  void LoadParams();
  void SaveParams();
  void LoadBrightness();
  void SaveBrightness();
  void LoadClock();
  void SaveClock(bool fromPc);
  void ShowLoaded(const TGroupLoad& load);

  void AskSaveSettingsFile();
  void AskLoadSettingsFile();
  // The settings of `path` against those the display holds now: asks, writes, verifies.
  void OfferSettings(const QString& path, const TSettingsSnapshot& file,
                     const TDisplaySettingsRead& held);
  // "Adresa a rychlost…": reads the display's, asks for new ones and moves the display there.
  void ChangeCommParams();
  void ShowCommissioning(const TCommissioning& outcome);
  void ShowServiceFields();

  TDisplaySession* FSession;
  TSessionState FShownState = TSessionState::kClosed;  // as the status line last showed it
  int FProceduresRunning = 0;                          // buttons' procedures not ended yet
  std::string FConnectionString;
  TByte FAddress;
  // Why the last connect failed, for the status line's details; empty after a success.
  QString FConnectFailure;
  TfAbout* FAbout = nullptr;
  TfSettingsDifferences* FDifferences = nullptr;
  TfCommParams* FCommParams = nullptr;
  QPointer<TfCiLog> FLog;
  QPointer<TfConnectionDialog> FConnectionDialog;
  TRecentConnections* FRecent = nullptr;

  QTabWidget* PageControl1;
  TDisplayPage* FDisplayPage;
  TDataPage* FDataPage;
  TOtherPage* FOtherPage;
  QPushButton* btnAbout;
  TStatusLine* FStatus;
  QWidget* pnlButtons;
  QPushButton* btnCIOpen;
  QPushButton* btnCIClose;
  QPushButton* btnFile;  // its menu: "Uložit do souboru…", "Načíst ze souboru…"
  QPushButton* btnClose;
  QTimer* Timer1;
};

}  // namespace zorvid
