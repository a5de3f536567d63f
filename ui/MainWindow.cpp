#include "ui/MainWindow.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <utility>

#include "ui/About.h"
#include "ui/Application.h"
#include "ui/CiLog.h"
#include "ui/CommParamsDialog.h"
#include "ui/ConnectionDialog.h"
#include "ui/DataPage.h"
#include "ui/DialogFrame.h"
#include "ui/DisplayPage.h"
#include "ui/EnDis.h"
#include "ui/NamedControls.h"
#include "ui/OtherPage.h"
#include "ui/OutcomeTexts.h"
#include "ui/RecentConnections.h"
#include "ui/ServiceGesture.h"
#include "ui/SettingsDifferences.h"

namespace zorvid {
namespace {

constexpr const char* kCaption = "Zorvid-L";
constexpr QSize kClientSize(433, 449);
constexpr int kPollIntervalMs = 500;
// The bottom panel's separator line takes its top rows: a press there is no service gesture.
constexpr int kSeparatorHeight = 17;
constexpr int kButtonsHeight = 40;

using S = TStatusLine::TStatus;

}  // namespace

TfMain::TfMain(QWidget* owner) : QWidget(owner), FAddress(kZorvidDefaultAddress) {
  setObjectName("fMain");
  setWindowTitle(kCaption);
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  FSession = new TDisplaySession(this);
  PageControl1 = Named(new QTabWidget, "PageControl1");
  PageControl1->addTab(FDisplayPage = new TDisplayPage, tr("Displej"));
  PageControl1->addTab(FDataPage = new TDataPage, tr("Zobrazení dat"));
  PageControl1->addTab(FOtherPage = new TOtherPage, tr("Ostatní"));
  btnAbout = NewButton("btnAbout", tr("&O programu"));
  PageControl1->setCornerWidget(btnAbout, Qt::TopRightCorner);
  FStatus = new TStatusLine;
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(1);
  layout->addWidget(PageControl1, 1);
  layout->addWidget(FStatus);
  layout->addWidget(BuildBottomPanel());
  Timer1 = Named(new QTimer(this), "Timer1");
  Timer1->setInterval(kPollIntervalMs);
  SetTabOrder();
  FixClientSize(*this, kClientSize);
  ConnectControls();
  UpdateControls();
  FAbout = CreateAbout(this, kCaption);
  FDifferences = new TfSettingsDifferences(this);
  FCommParams = new TfCommParams(this);
  CenterOnScreen();
  Timer1->start();
}

TfMain::~TfMain() {
  Timer1->stop();
  delete FSession;  // its link goes before the pages it reports to
}

void TfMain::SetCommunicationLog(TfCiLog* log) {
  FLog = log;
}

void TfMain::SetConnectionDialog(TfConnectionDialog* dialog) {
  FConnectionDialog = dialog;
}

void TfMain::SetRecentConnections(TRecentConnections* recent) {
  FRecent = recent;
}

// ---- Controls ------------------------------------------------------------------------------

QWidget* TfMain::BuildBottomPanel() {
  pnlButtons = Named(new QWidget, "pnlButtons");
  pnlButtons->setFixedHeight(kButtonsHeight);
  connect(new TServiceGesture(pnlButtons, kSeparatorHeight), &TServiceGesture::triggered, this,
          GuardedSlot([this] { ShowServiceFields(); }));
  auto* separator = Named(new QFrame, "Bevel1");
  separator->setFrameStyle(QFrame::HLine | QFrame::Sunken);
  btnCIOpen = NewButton("btnCIOpen", tr("&Navázat spojení"));
  btnCIClose = NewButton("btnCIClose", tr("Z&rušit spojení"));
  btnFile = NewButton("btnFile", tr("&Soubor"));
  auto* fileMenu = Named(new QMenu(btnFile), "pmFile");
  auto* saveFile = Named(fileMenu->addAction(tr("Uložit do souboru…")), "miSaveSettingsFile");
  auto* loadFile = Named(fileMenu->addAction(tr("Načíst ze souboru…")), "miLoadSettingsFile");
  connect(saveFile, &QAction::triggered, this, GuardedSlot([this] { AskSaveSettingsFile(); }));
  connect(loadFile, &QAction::triggered, this, GuardedSlot([this] { AskLoadSettingsFile(); }));
  btnFile->setMenu(fileMenu);
  btnClose = NewButton("btnClose", tr("&Zavřít"));

  auto* layout = new QVBoxLayout(pnlButtons);
  layout->setContentsMargins(4, 0, 4, 4);
  layout->setSpacing(0);
  layout->addWidget(separator);
  layout->addStretch(1);
  auto* buttons = new QHBoxLayout;
  for (QWidget* button : {btnCIOpen, btnCIClose, btnFile})
    buttons->addWidget(button);
  buttons->addStretch(1);
  buttons->addWidget(btnClose);
  layout->addLayout(buttons);
  return pnlButtons;
}

void TfMain::SetTabOrder() {
  QList<QWidget*> order{PageControl1, btnAbout};
  order << FDisplayPage->TabOrder() << FDataPage->TabOrder() << FOtherPage->TabOrder();
  order << btnCIOpen << btnCIClose << btnFile << btnClose << FStatus->DetailsButton();
  for (qsizetype i = 1; i < order.size(); ++i)
    setTabOrder(order[i - 1], order[i]);
}

void TfMain::ConnectControls() {
  const auto on = [this](auto* sender, auto signal, auto handler) {
    connect(sender, signal, this, GuardedSlot([this, handler] { (this->*handler)(); }));
  };
  on(btnCIOpen, &QPushButton::clicked, &TfMain::btnCIOpenClick);
  on(btnCIClose, &QPushButton::clicked, &TfMain::Disconnect);
  connect(btnClose, &QPushButton::clicked, this, GuardedSlot([this] { close(); }));
  connect(btnAbout, &QPushButton::clicked, this, GuardedSlot([this] { FAbout->exec(); }));
  on(Timer1, &QTimer::timeout, &TfMain::Timer1Timer);
  on(FDisplayPage, &TDisplayPage::writeText, &TfMain::WriteText);
  on(FDisplayPage, &TDisplayPage::showInformation, &TfMain::ShowInformation);
  connect(FDisplayPage, &TDisplayPage::segmentsChanged, this,
          GuardedSlot([this] { FSession->WriteSegments(FDisplayPage->Segments()); }));
  on(FDataPage, &TDataPage::load, &TfMain::LoadParams);
  on(FDataPage, &TDataPage::save, &TfMain::SaveParams);
  on(FDataPage, &TDataPage::choiceChanged, &TfMain::UpdateControls);
  on(FOtherPage, &TOtherPage::loadBrightness, &TfMain::LoadBrightness);
  on(FOtherPage, &TOtherPage::saveBrightness, &TfMain::SaveBrightness);
  on(FOtherPage, &TOtherPage::loadClock, &TfMain::LoadClock);
  connect(FOtherPage, &TOtherPage::saveClock, this, GuardedSlot([this] { SaveClock(false); }));
  connect(FOtherPage, &TOtherPage::saveClockFromPc, this, GuardedSlot([this] { SaveClock(true); }));
  on(FOtherPage, &TOtherPage::changeCommParams, &TfMain::ChangeCommParams);
  on(FOtherPage, &TOtherPage::choiceChanged, &TfMain::UpdateControls);
  on(FSession, &TDisplaySession::stateChanged, &TfMain::ShowSessionState);
  connect(FSession, &TDisplaySession::reconnected, this,
          GuardedSlot([this](const TConnectReport& report) {
            const std::vector<TGroupLoad> loads = ApplySettings(report.reads);
            if (report.replaced)
              return FStatus->ShowAnotherDisplay(*report.replaced, report.identity);
            FStatus->ShowLoads(loads, S::kReconnected);
          }));
}

void TfMain::CenterOnScreen() {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

// ---- Procedures ----------------------------------------------------------------------------

template <class TResult, class TShow>
TDisplaySession::TDone<TResult> TfMain::Begin(TShow show) {
  if (FProceduresRunning++ == 0) setCursor(Qt::BusyCursor);
  UpdateControls();
  FStatus->Show(S::kBusy);
  return [this, show = std::move(show)](const TResult& result) {
    EndProcedure();
    show(result);
  };
}

// A procedure that raised: the status line says so, with the error's text in its details.
TDisplaySession::TFailed TfMain::Failed() {
  return [this](const std::string& error) {
    EndProcedure();
    FStatus->Show(S::kProcedureFailed, tr("Důvod: %1").arg(QString::fromStdString(error)));
  };
}

void TfMain::EndProcedure() {
  if (--FProceduresRunning == 0) unsetCursor();
  UpdateControls();
}

void TfMain::UpdateControls() {
  // No second procedure starts while one runs.
  const bool usable = FSession->IsConnected() && FProceduresRunning == 0;
  const TDisplayCapabilities& capabilities = FSession->Capabilities();
  const QString loadFirst = FStatus->Text(S::kLoadFirst);
  EnableControls({FDisplayPage}, usable, true);
  FDataPage->UpdateControls(usable, capabilities, FSession->Loaded(TSettingsGroup::kParams),
                            loadFirst);
  FOtherPage->UpdateControls(usable, capabilities, FSession->Loaded(TSettingsGroup::kBrightness),
                             FSession->Loaded(TSettingsGroup::kClock), loadFirst);
  // "Zrušit spojení" also stops the attempts to reconnect.
  btnCIClose->setEnabled(FSession->State() != TSessionState::kClosed);
  btnFile->setEnabled(usable);
  FOtherPage->ShowCommParams(FSession->IsConnected(), FSession->Address(), FSession->Connection());
  // A mirror of a display that does not answer, or not with its segments, is not current.
  FDisplayPage->SetMirrorCurrent(usable && FSession->SegmentsCurrent());
}

// ---- The line ------------------------------------------------------------------------------

void TfMain::btnCIOpenClick() {
  if (FConnectionDialog && FConnectionDialog->Execute(FConnectionString, FAddress))
    ConnectTo(FConnectionString, FAddress);
}

void TfMain::ConnectTo(const std::string& connection, TByte address) {
  FConnectionString = connection;
  FAddress = address;
  FDataPage->ClearMarks();
  FOtherPage->ClearMarks();
  FSession->Connect(FConnectionString, FAddress,
                    Begin<TConnectReport>([this](const TConnectReport& report) {
                      ShowConnect(report);
                      emit connectFinished(report.connected);
                    }),
                    [this, failed = Failed()](const std::string& error) {
                      failed(error);
                      emit connectFinished(false);
                    });
}

void TfMain::ShowConnect(const TConnectReport& report) {
  FConnectFailure = QString::fromStdString(report.failure);
  if (!report.connected) return FStatus->ShowConnectFailure(report);
  if (FRecent) FRecent->Add({FConnectionString, FAddress});
  FStatus->ShowLoads(ApplySettings(report.reads), S::kOpenOk);
}

void TfMain::Disconnect() {
  FSession->Disconnect([this] { FStatus->Show(S::kDisconnected); });
  UpdateControls();
}

std::vector<TGroupLoad> TfMain::ApplySettings(const TSettingsReads& reads) {
  FDataPage->Show(reads.params);
  FOtherPage->ShowBrightness(reads.brightness);
  std::vector<TGroupLoad> loads{
      {FSession->Loaded(TSettingsGroup::kParams), reads.params.outcome},
      {FSession->Loaded(TSettingsGroup::kBrightness), reads.brightness.outcome}};
  if (reads.clock) {
    if (FSession->Loaded(TSettingsGroup::kClock)) FOtherPage->ShowClock(reads.clock->value);
    loads.push_back({FSession->Loaded(TSettingsGroup::kClock), reads.clock->outcome});
  }
  UpdateControls();
  return loads;
}

// What the state says by itself goes to the status line; the first answer after a silence
// brings the connect's green text back.
void TfMain::ShowSessionState() {
  const TSessionState state = FSession->State();
  if (state == TSessionState::kConnected && FShownState == TSessionState::kSilent)
    FStatus->Show(S::kOpenOk);
  FShownState = state;
  FStatus->ShowState(*FSession);
  UpdateControls();
}

void TfMain::Timer1Timer() {
  if (IsBusy()) return;  // polls never queue up behind another exchange
  if (!FSession->IsConnected()) {
    FDisplayPage->ShowNoTemperature();
    emit polled();
    return;
  }
  FSession->Poll(
      [this, failing = FSession->SegmentsFailing()](const std::optional<TPollOutcome>& poll) {
        if (poll) ShowPoll(*poll, failing);
        emit polled();
      },
      [this](const std::string& error) {
        FStatus->Show(S::kPollFailed, tr("Důvod: %1").arg(QString::fromStdString(error)));
        emit polled();
      });
}

// A display that answers the poll but not with its segments is said once, when it starts.
void TfMain::ShowPoll(const TPollOutcome& poll, bool segmentsFailed) {
  FDisplayPage->ShowPoll(poll);
  if (poll.Silent()) return ShowSessionState();  // said again at every poll, with since when
  if (FSession->SegmentsFailing() && !segmentsFailed)
    FStatus->ShowOutcome(S::kPollFailed, poll.segmentsRead);
  UpdateControls();
}

// ---- "Displej" -----------------------------------------------------------------------------

void TfMain::WriteText() {
  FSession->WriteText(
      FDisplayPage->DisplayText(),
      Begin<TOutcome>([this](const TOutcome& outcome) { FStatus->ShowSave(outcome); }), Failed());
}

void TfMain::ShowInformation() {
  FSession->ShowInformation(Begin<TOutcome>([this](const TOutcome& outcome) {
                              if (outcome.Ok()) return FStatus->Show(S::kShowInfoOk);
                              FStatus->ShowOutcome(S::kShowInfoErr, outcome);
                            }),
                            Failed());
}

// ---- Loads and saves -----------------------------------------------------------------------

void TfMain::ShowLoaded(const TGroupLoad& load) {
  UpdateControls();
  FStatus->ShowLoad(load);
}

void TfMain::LoadParams() {
  FSession->LoadParams(Begin<TDateTimeParamsRead>([this](const TDateTimeParamsRead& read) {
                         FDataPage->Show(read);
                         ShowLoaded({read.ok, read.outcome});
                       }),
                       Failed());
}

// Written, then read back: the status says what the display holds afterwards. A value a rule
// refuses goes nowhere: its field is marked and the status line names it.
void TfMain::SaveParams() {
  const TDateTimeParams params = FDataPage->Params();
  const std::int32_t seconds = FDataPage->ExpirationSeconds();
  if (const std::optional<TOutcome> refused = FDataPage->RefusedSave(FSession->Address()))
    return FStatus->ShowOutcome(S::kSaveErr, *refused);
  FSession->SaveParams(
      params, seconds, Begin<TDateTimeParamsSave>([this](const TDateTimeParamsSave& save) {
        FDataPage->Show(save.readBack);  // what the display holds now, not what was sent
        FStatus->ShowTwoStepSave(save.paramsWritten, save.expirationWritten,
                                 S::kParamsSavedExpirationNot, save.outcome, save.readBackChanges);
      }),
      Failed());
}

void TfMain::LoadBrightness() {
  FSession->LoadBrightness(Begin<TBrightnessRead>([this](const TBrightnessRead& read) {
                             FOtherPage->ShowBrightness(read);
                             ShowLoaded({read.ok(), read.outcome});
                           }),
                           Failed());
}

void TfMain::SaveBrightness() {
  const bool offered = OffersAutomaticBrightness(FSession->Capabilities());
  const std::int32_t value = FOtherPage->StaticBrightness();
  const TBrightnessAuto automatic = FOtherPage->AutomaticBrightness();
  if (const auto refused = FOtherPage->RefusedBrightnessSave(offered, FSession->Address()))
    return FStatus->ShowOutcome(S::kSaveErr, *refused);
  FSession->SaveBrightness(value, automatic,
                           Begin<TBrightnessSave>([this](const TBrightnessSave& save) {
                             FOtherPage->ShowBrightness(save.readBack);
                             FStatus->ShowTwoStepSave(save.staticWritten, save.automaticWritten,
                                                      S::kBrightnessSavedAutomaticNot, save.outcome,
                                                      save.readBackChanges);
                           }),
                           Failed());
}

void TfMain::LoadClock() {
  FSession->LoadClock(Begin<TClockRead>([this](const TClockRead& read) {
                        const bool shown = FSession->Loaded(TSettingsGroup::kClock);
                        if (shown) FOtherPage->ShowClock(read.value);
                        ShowLoaded({shown, read.outcome});
                      }),
                      Failed());
}

void TfMain::SaveClock(bool fromPc) {
  const std::optional<TDateTime> value = FOtherPage->Clock();
  if (!fromPc && !value) return FStatus->Show(S::kSaveErr);  // the fields hold no date
  FSession->SaveClock(fromPc ? std::nullopt : value,
                      Begin<TClockSave>([this](const TClockSave& save) {
                        if (save.readBack.ok && !save.readBack.Invalid())
                          FOtherPage->ShowClock(save.readBack.value);
                        FStatus->ShowClockSave(save);
                      }),
                      Failed());
}

// ---- Settings in a file --------------------------------------------------------------------

void TfMain::AskSaveSettingsFile() {
  const QString path = QFileDialog::getSaveFileName(
      this, tr("Uložit do souboru…"), QStringLiteral("zorvid-%1.json").arg(FSession->Address()),
      tr("Nastavení (*.json)"));
  if (!path.isEmpty()) SaveSettingsFile(path);
}

void TfMain::AskLoadSettingsFile() {
  const QString path = QFileDialog::getOpenFileName(this, tr("Načíst ze souboru…"), QString(),
                                                    tr("Nastavení (*.json);;Vše (*)"));
  if (!path.isEmpty()) LoadSettingsFile(path);
}

void TfMain::SaveSettingsFile(const QString& path) {
  FSession->ReadSnapshot(Begin<TSnapshotRead>([this, path](const TSnapshotRead& read) {
                           if (!read.snapshot)
                             return FStatus->ShowOutcome(S::kLoadErr, read.held.outcome);
                           try {
                             SaveSnapshot(*read.snapshot, path.toStdString());
                             FStatus->Show(S::kFileSaved, QDir::toNativeSeparators(path));
                           } catch (const TSettingsFileError& error) {
                             FStatus->Show(S::kFileNotSaved, QString::fromUtf8(error.what()));
                           }
                         }),
                         Failed());
}

// The file is read and checked whole before anything goes to the display.
void TfMain::LoadSettingsFile(const QString& path) {
  TSettingsSnapshot file;
  try {
    file = LoadSnapshot(path.toStdString());
  } catch (const TSettingsFileError& error) {
    return FStatus->Show(S::kFileRefused, QString::fromUtf8(error.what()));
  }
  FSession->ReadSnapshot(Begin<TSnapshotRead>([this, path, file](const TSnapshotRead& read) {
                           // The dialog runs its own loop: not inside the link's report.
                           QTimer::singleShot(0, this, GuardedSlot([this, path, file, read] {
                                                OfferSettings(path, file, read.held);
                                              }));
                         }),
                         Failed());
}

void TfMain::OfferSettings(const QString& path, const TSettingsSnapshot& file,
                           const TDisplaySettingsRead& held) {
  if (!held.settings) return FStatus->ShowOutcome(S::kLoadErr, held.outcome);
  // The technician decides now: nothing is on the line meanwhile.
  FStatus->Show(S::kLoadOk);
  const TSettingsComparison comparison = CompareSettings(file.settings, *held.settings);
  if (!FDifferences->Execute(QFileInfo(path).fileName(), comparison))
    return FStatus->Show(comparison.differences.empty() ? S::kFileSame : S::kFileNotWritten,
                         QDir::toNativeSeparators(path));
  if (!FSession->IsConnected()) return FStatus->Show(S::kFileNotWritten);  // the line went
  FSession->Restore(file.settings, *held.settings,
                    Begin<TRestoreReport>([this](const TRestoreReport& report) {
                      ApplySettings(report.reads);
                      FStatus->ShowRestore(report.restore);
                    }),
                    Failed());
}

void TfMain::ShowServiceFields() {
  if (FLog) FLog->ShowLog(QString());
  FDataPage->ShowServiceFields();
}

// ---- "Komunikace" --------------------------------------------------------------------------

void TfMain::ChangeCommParams() {
  FSession->ReadCommParams(
      Begin<TCommParamsRead>([this](const TCommParamsRead& read) {
        if (!read.read) return FStatus->ShowOutcome(S::kCommReadErr, read.outcome);
        FStatus->Show(S::kLoadOk);
        const std::optional<TCommParams> wanted =
            FCommParams->Execute(read.params, read.lineHasSpeed);
        if (!wanted || !FSession->IsConnected()) return;  // cancelled, or the line went
        FSession->Commission(*wanted, Begin<TCommissioning>([this](const TCommissioning& outcome) {
          ShowCommissioning(outcome);
        }),
                             Failed());
      }),
      Failed());
}

void TfMain::ShowCommissioning(const TCommissioning& outcome) {
  FConnectionString = FSession->Connection();
  FAddress = FSession->Address();
  if (outcome.failedStep == TCommissionStep::kDone && FRecent)
    FRecent->Add({FConnectionString, FAddress});
  UpdateControls();
  FStatus->ShowCommissioning(outcome);
}

}  // namespace zorvid
