#include "ui/MainWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <initializer_list>
#include <map>
#include <tuple>
#include <utility>

#include "core/DateTime.h"
#include "link/Commissioning.h"
#include "link/DisplayPoll.h"
#include "transport/ConnectionString.h"
#include "ui/About.h"
#include "ui/Application.h"
#include "ui/CiLog.h"
#include "ui/CommParamsDialog.h"
#include "ui/ConnectionDialog.h"
#include "ui/DialogFrame.h"
#include "ui/DisplayPanel.h"
#include "ui/EnDis.h"
#include "ui/Language.h"
#include "ui/NamedControls.h"
#include "ui/OutcomeTexts.h"
#include "ui/RecentConnections.h"
#include "ui/SettingsDifferences.h"
#include "ui/controls/IntEdit.h"

namespace zorvid {
namespace {

constexpr const char* kCaption = "Zorvid-L";
constexpr QSize kClientSize(433, 449);
constexpr int kPollIntervalMs = 500;
// A display that misses one identification answer is not yet a failed connect.
constexpr int kIdentificationTries = 3;
// The bottom panel's separator line takes its top rows: a press there is no service gesture.
constexpr int kSeparatorHeight = 17;
constexpr int kButtonsHeight = 40;
constexpr int kStatusHeight = 17;
constexpr int kStatusLines = 2;
const QColor kGreen(0, 128, 0);
const QColor kRed(255, 0, 0);
const QColor kInvalidTextBackground(255, 160, 160);

// The two radio buttons of one choice, the first checked.
std::pair<QRadioButton*, QRadioButton*> NewChoice(const char* firstName,
                                                  const QString& firstCaption,
                                                  const char* secondName,
                                                  const QString& secondCaption) {
  auto* first = NewCaptioned<QRadioButton>(firstName, firstCaption);
  first->setChecked(true);
  return {first, NewCaptioned<QRadioButton>(secondName, secondCaption)};
}

// A numeric edit of the pages, with the pages' common settings.
TIntEdit* NewIntEdit(const char* name, qint32 minValue, qint32 maxValue, qint32 value) {
  auto* edit = Named(new TIntEdit, name);
  edit->SetMinValue(minValue);
  edit->SetMaxValue(maxValue);
  edit->SetValue(value);
  edit->SetShowName(QCoreApplication::translate("zorvid::TfMain", "Hodnota"));
  edit->SetColored(false);
  edit->SetIncrement(1);
  edit->SetPageMult(10);
  edit->SetAutoCorrect(true);
  return edit;
}

QGroupBox* NewGroup(const char* name, const QString& caption) {
  return NewCaptioned<QGroupBox>(name, caption);
}

void SetBold(QWidget* control) {
  QFont font = control->font();
  font.setBold(true);
  control->setFont(font);
}

void SetTextColour(QWidget* control, const QColor& colour) {
  QPalette palette = control->palette();
  palette.setColor(QPalette::WindowText, colour);
  control->setPalette(palette);
}

// A field whose value a rule refuses: its background as the display text's when invalid.
void SetMarked(QWidget* field, bool marked) {
  if (!marked) {
    if (field->property("marked").toBool()) field->setPalette(QPalette());
    field->setProperty("marked", false);
    field->setToolTip(QString());
    return;
  }
  QPalette palette = field->palette();
  palette.setColor(QPalette::Base, kInvalidTextBackground);
  field->setPalette(palette);
  field->setProperty("marked", true);
}

// `text` as far as it fits `lines` wrapped lines of `label`, cut with an ellipsis when it does not.
QString FittedText(const QString& text, const QLabel& label, int lines) {
  const QFontMetrics metrics(label.font());
  const int width = label.contentsRect().width();
  const auto fits = [&](const QString& candidate) {
    return metrics.boundingRect(QRect(0, 0, width, 1 << 16), Qt::TextWordWrap, candidate)
               .height() <= lines * metrics.lineSpacing();
  };
  if (width <= 0 || fits(text)) return text;
  qsizetype low = 0, high = text.size();  // the longest prefix that fits lies in [low, high)
  while (high - low > 1) {
    const qsizetype middle = (low + high) / 2;
    (fits(text.left(middle) + QChar(0x2026)) ? low : high) = middle;
  }
  return text.left(low) + QChar(0x2026);
}

// A value as it came, even one outside the field's range: the rule names it, the user mends it.
void ShowNumber(TIntEdit* field, std::int32_t value) {
  if (value >= field->MinValue() && value <= field->MaxValue())
    field->SetValue(value);
  else
    field->setText(QString::number(value));
}

QHBoxLayout* Row(std::initializer_list<QWidget*> controls) {
  auto* row = new QHBoxLayout;
  for (QWidget* control : controls)
    row->addWidget(control);
  row->addStretch(1);
  return row;
}

// A group's buttons, at its right edge.
QHBoxLayout* RightAlignedRow(std::initializer_list<QWidget*> controls) {
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  for (QWidget* control : controls)
    row->addWidget(control);
  return row;
}

QDateTime ToQDateTime(TDateTime value) {
  const TDateTimeParts parts = DecodeDateTime(value);
  return QDateTime(QDate(parts.year, parts.month, parts.day),
                   QTime(parts.hour, parts.minute, parts.second, parts.millisecond));
}

// The day count of the date of `date` and the time of day of `time`.
std::optional<TDateTime> Combined(QDate date, QTime time) {
  return EncodeDateTime(
      {date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second(), 0});
}

}  // namespace

struct TConnectOutcome {
  bool connected = false;
  std::string failure;
  TOutcome identification;
  TDisplayCapabilities capabilities;
  TSettingsReads reads;  // of a display that answered
};

// Connects, says what the identification told and reads the settings the pages show; runs on
// the link thread.
TConnectOutcome ConnectLink(TDisplayConnection& connection, const std::string& connectionString,
                            TByte address, int tries) {
  TConnectOutcome outcome;
  outcome.connected = connection.Connect(connectionString, address, tries);
  outcome.failure = connection.FailureReason();
  outcome.identification = connection.Identification();
  outcome.capabilities = connection.Capabilities();
  if (outcome.connected) outcome.reads = ReadSettings(connection.Device(), outcome.capabilities);
  return outcome;
}

namespace {

// The group as sent against the group as read back, key by key.
std::vector<TSettingChange> ReadBackChanges(const TDateTimeParams& params, std::int32_t seconds,
                                            const TDateTimeParamsRead& read) {
  return CompareSettings({params, seconds, 0, std::nullopt},
                         {read.params, read.expiration.seconds, 0, std::nullopt})
      .differences;
}

std::vector<TSettingChange> ReadBackChanges(std::int32_t value,
                                            const std::optional<TBrightnessAuto>& automatic,
                                            const TBrightnessRead& read) {
  TDisplaySettings held{{}, 0, read.value, std::nullopt};
  if (automatic) held.automaticBrightness = read.automatic;
  return CompareSettings({{}, 0, value, automatic}, held).differences;
}

}  // namespace

TfMain::TfMain(QWidget* owner) : QWidget(owner) {
  setObjectName("fMain");
  setWindowTitle(kCaption);
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  FLink = std::make_unique<TDisplayLink>();
  connect(FLink.get(), &TDisplayLink::lineLost, this,
          GuardedSlot([this](const QString& reason) { LineLost(reason); }));
  BuildControls();
  BuildStatusTexts();
  SetTabOrder();
  FixClientSize(*this, kClientSize);
  const QDateTime now = QDateTime::currentDateTime();
  dtpDeviceTime->setTime(now.time());
  dtpDeviceDate->setDate(now.date());
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
  FReconnectTimer->stop();
  FLink.reset();
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

void TfMain::BuildControls() {
  PageControl1 = Named(new QTabWidget, "PageControl1");
  PageControl1->addTab(BuildDisplayPage(), tr("Displej"));
  PageControl1->addTab(BuildDataPage(), tr("Zobrazení dat"));
  PageControl1->addTab(BuildOtherPage(), tr("Ostatní"));
  PageControl1->setCurrentIndex(0);
  btnAbout = NewButton("btnAbout", tr("&O programu"));
  PageControl1->setCornerWidget(btnAbout, Qt::TopRightCorner);

  pnlStatusbar = Named(new QLabel, "pnlStatusbar");
  pnlStatusbar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  pnlStatusbar->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  SetBold(pnlStatusbar);
  // Two lines: what failed and why fit on screen, not only in a tooltip.
  pnlStatusbar->setWordWrap(true);
  pnlStatusbar->setMinimumHeight(
      std::max(kStatusHeight, kStatusLines * QFontMetrics(pnlStatusbar->font()).lineSpacing() +
                                  2 * pnlStatusbar->frameWidth()));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(1);
  layout->addWidget(PageControl1, 1);
  // The details of the last outcome, reached by Tab as by the mouse; its picture names it.
  btnStatusDetails = Named(new QToolButton, "btnStatusDetails");
  btnStatusDetails->setIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));
  btnStatusDetails->setToolTip(tr("Podrobnosti"));
  btnStatusDetails->setAccessibleName(tr("Podrobnosti"));
  btnStatusDetails->setAutoRaise(true);
  btnStatusDetails->setFocusPolicy(Qt::StrongFocus);
  btnStatusDetails->setEnabled(false);
  auto* status = new QHBoxLayout;
  status->setSpacing(1);
  status->addWidget(pnlStatusbar, 1);
  status->addWidget(btnStatusDetails);
  layout->addLayout(status);
  layout->addWidget(BuildBottomPanel());

  Timer1 = Named(new QTimer(this), "Timer1");
  Timer1->setInterval(kPollIntervalMs);
  FReconnectTimer = Named(new QTimer(this), "tmReconnect");
  FReconnectTimer->setSingleShot(true);
}

QWidget* TfMain::BuildDisplayPage() {
  TabSheet1 = Named(new QWidget, "TabSheet1");
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

  auto* page = new QVBoxLayout(TabSheet1);
  page->addWidget(pnlDisplay, 0, Qt::AlignHCenter);
  page->addWidget(GroupBox1);
  page->addStretch(1);
  return TabSheet1;
}

QWidget* TfMain::BuildDataPage() {
  TabSheet2 = Named(new QWidget, "TabSheet2");
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

  auto* page = new QVBoxLayout(TabSheet2);
  page->addWidget(gbDateTimeParams);
  return TabSheet2;
}

QWidget* TfMain::BuildOtherPage() {
  TabSheet3 = Named(new QWidget, "TabSheet3");
  auto* page = new QVBoxLayout(TabSheet3);
  page->addWidget(BuildBrightnessGroup());
  page->addWidget(BuildClockGroup());
  page->addWidget(BuildCommParamsGroup());
  page->addStretch(1);
  return TabSheet3;
}

QGroupBox* TfMain::BuildBrightnessGroup() {
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

QGroupBox* TfMain::BuildClockGroup() {
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

QGroupBox* TfMain::BuildCommParamsGroup() {
  gbCommParams = NewGroup("gbCommParams", tr("Komunikace"));
  lblCommParams = Named(new QLabel, "lblCommParams");
  btnCommParams = NewButton("btnCommParams", tr("Adr&esa a rychlost…"));
  auto* layout = new QHBoxLayout(gbCommParams);
  layout->addWidget(lblCommParams, 1);
  layout->addWidget(btnCommParams);
  return gbCommParams;
}

QWidget* TfMain::BuildBottomPanel() {
  pnlButtons = Named(new QWidget, "pnlButtons");
  pnlButtons->setFixedHeight(kButtonsHeight);
  pnlButtons->installEventFilter(this);
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
  buttons->addWidget(btnCIOpen);
  buttons->addWidget(btnCIClose);
  buttons->addWidget(btnFile);
  buttons->addStretch(1);
  buttons->addWidget(btnClose);
  layout->addLayout(buttons);
  return pnlButtons;
}

void TfMain::BuildStatusTexts() {
  pnllanguage = Named(new QWidget(this), "pnllanguage");
  pnllanguage->setVisible(false);
  auto* layout = new QVBoxLayout(pnllanguage);
  layout->addWidget(NewLabel("Label8", "Language"));
  const auto add = [layout](const char* name, const QString& text, const QColor& colour) {
    QLabel* label = NewLabel(name, text);
    SetTextColour(label, colour);
    layout->addWidget(label);
    return label;
  };
  lblLanOpenCIOk = add("lblLanOpenCIOk", tr("Spojení bylo úspěšně navázáno."), kGreen);
  lblLanOpenCIErr = add("lblLanOpenCIErr", tr("Spojení se nepodařilo navázat!"), kRed);
  lblLanSettingsLoadOk =
      add("lblLanSettingsLoadOk", tr("Nastavení bylo úspěšně nahráno ze zařízení."), kGreen);
  lblLanSettingsLoadErr =
      add("lblLanSettingsLoadErr", tr("Nastavení se nepodařilo nahrát ze zařízení!"), kRed);
  lblLanSettingsSaveOk =
      add("lblLanSettingsSaveOk", tr("Nastavení bylo úspěšně uloženo do zařízení."), kGreen);
  lblLanSettingsSaveErr =
      add("lblLanSettingsSaveErr", tr("Nastavení se nepodařilo uložit do zařízení!"), kRed);
  lblLanShowActualInformationOk =
      add("lblLanShowActualInformationOk",
          tr("Zobrazování aktuální informace bylo úspěšně uloženo do zařízení."), kGreen);
  lblLanShowActualInformationErr =
      add("lblLanShowActualInformationErr",
          tr("Zobrazování aktuální informace se nepodařilo uložit do zařízení!"), kRed);
  const QColor normal = pnllanguage->palette().color(QPalette::WindowText);
  lblLanBusy = add("lblLanBusy", tr("Probíhá komunikace…"), normal);
  lblLanSilent = add("lblLanSilent", tr("Displej neodpovídá."), kRed);
  lblLanLineLost = add("lblLanLineLost", tr("Spojení bylo přerušeno."), kRed);
  lblLanReconnecting = add("lblLanReconnecting", tr("Obnovuji spojení…"), normal);
  lblLanReconnected = add("lblLanReconnected", tr("Spojení bylo obnoveno."), kGreen);
  lblLanDisconnected = add("lblLanDisconnected", tr("Spojení bylo ukončeno."), normal);
  lblLanConnectedNotLoaded =
      add("lblLanConnectedNotLoaded",
          tr("Spojení bylo navázáno, ale nastavení se nepodařilo nahrát."), kRed);
  lblLanLoadFirst = add("lblLanLoadFirst", tr("Nejdříve nahrajte nastavení ze zařízení."), normal);
  lblLanParamsSavedExpirationNot =
      add("lblLanParamsSavedExpirationNot",
          tr("Parametry zobrazení byly uloženy, platnost dat ne."), kRed);
  lblLanBrightnessSavedAutomaticNot = add("lblLanBrightnessSavedAutomaticNot",
                                          tr("Statický jas byl uložen, automatický jas ne."), kRed);
  lblLanSavedNotVerified =
      add("lblLanSavedNotVerified",
          tr("Nastavení bylo uloženo, ale nepodařilo se ho přečíst zpět."), kRed);
  lblLanSavedOtherValues =
      add("lblLanSavedOtherValues", tr("Zařízení uložilo jiné hodnoty:"), kRed);
  lblLanFileSaved = add("lblLanFileSaved", tr("Nastavení bylo uloženo do souboru."), kGreen);
  lblLanFileNotSaved =
      add("lblLanFileNotSaved", tr("Nastavení se nepodařilo uložit do souboru!"), kRed);
  lblLanFileRefused = add("lblLanFileRefused", tr("Soubor s nastavením nelze použít!"), kRed);
  lblLanFileSame = add("lblLanFileSame", tr("Soubor se shoduje se zařízením."), normal);
  lblLanFileNotWritten =
      add("lblLanFileNotWritten", tr("Nastavení ze souboru nebylo zapsáno."), normal);
  lblLanCommReadErr =
      add("lblLanCommReadErr", tr("Adresu a rychlost se nepodařilo přečíst ze zařízení!"), kRed);
  lblLanCommChanged =
      add("lblLanCommChanged", tr("Displej odpovídá na nové adrese a rychlosti."), kGreen);
  lblLanCommEnableErr = add("lblLanCommEnableErr",
                            tr("Displej nepovolil konfiguraci (0xE4), nic se nezměnilo."), kRed);
  lblLanCommWriteErr =
      add("lblLanCommWriteErr", tr("Displej nepřijal novou adresu a rychlost (0xE0)."), kRed);
  lblLanCommBack =
      add("lblLanCommBack", tr("Na nových hodnotách displej neodpověděl, spojení je na původních."),
          kRed);
  lblLanCommLost =
      add("lblLanCommLost", tr("Displej neodpovídá na nových ani na původních hodnotách!"), kRed);
  lblLanLoadedInvalid =
      add("lblLanLoadedInvalid", tr("Nahráno, ale displej drží neplatnou hodnotu."), kRed);
  lblLanPollFailed = add("lblLanPollFailed", tr("Stav displeje nelze přečíst."), kRed);
  lblLanCommUnchanged =
      add("lblLanCommUnchanged", tr("Adresa a rychlost displeje se nezměnily."), kRed);
  lblLanCommUnknown =
      add("lblLanCommUnknown", tr("Není známo, zda displej novou adresu a rychlost přijal."), kRed);
  lblLanSaveUnknown =
      add("lblLanSaveUnknown", tr("Není známo, zda displej nastavení uložil."), kRed);
  lblLanProcedureFailed =
      add("lblLanProcedureFailed", tr("Komunikace skončila chybou programu."), kRed);

  // The status line is as wide as its longest text, so that none is ever cut off.
  const QFontMetrics metrics(pnlStatusbar->font());
  int widest = 0;
  QStringList texts;
  for (const QLabel* label : pnllanguage->findChildren<QLabel*>())
    texts << label->text();
  for (const QString& text : texts)
    widest = std::max(widest, metrics.horizontalAdvance(text));
  pnlStatusbar->setMinimumWidth(widest + 2 * pnlStatusbar->frameWidth() +
                                metrics.averageCharWidth());
}

void TfMain::SetTabOrder() {
  const QList<QWidget*> order{
      PageControl1,
      btnAbout,
      edtDisplayChars,
      btnDisplayCharsSet,
      btnShowActualInformation,
      rbDisplayDataExpirationNo,
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
      btnDateTimeParamSave,
      rbDisplayBrightnessStatic,
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
      btnCommParams,
      btnCIOpen,
      btnCIClose,
      btnFile,
      btnClose,
      btnStatusDetails,
  };
  for (qsizetype i = 1; i < order.size(); ++i)
    setTabOrder(order[i - 1], order[i]);
}

void TfMain::ConnectControls() {
  const auto on = [this](auto* sender, auto signal, void (TfMain::*handler)()) {
    connect(sender, signal, this, GuardedSlot([this, handler] { (this->*handler)(); }));
  };
  on(btnCIOpen, &QPushButton::clicked, &TfMain::btnCIOpenClick);
  on(btnCIClose, &QPushButton::clicked, &TfMain::Disconnect);
  on(FReconnectTimer, &QTimer::timeout, &TfMain::Reconnect);
  connect(btnClose, &QPushButton::clicked, this, GuardedSlot([this] { close(); }));
  connect(btnAbout, &QPushButton::clicked, this, GuardedSlot([this] { FAbout->exec(); }));
  on(btnStatusDetails, &QToolButton::clicked, &TfMain::ShowStatusDetails);
  for (TIntEdit* edit : MarkableFields())
    connect(edit, &QLineEdit::textChanged, this, [edit] { SetMarked(edit, false); });
  on(Timer1, &QTimer::timeout, &TfMain::Timer1Timer);
  on(btnDisplayCharsSet, &QPushButton::clicked, &TfMain::btnDisplayCharsSetClick);
  on(edtDisplayChars, &QLineEdit::textChanged, &TfMain::edtDisplayCharsChange);
  on(btnShowActualInformation, &QPushButton::clicked, &TfMain::btnShowActualInformationClick);
  on(pnlDisplay, &TDisplayPanel::segmentReleased, &TfMain::SegmentReleased);
  on(btnDateTimeParamLoad, &QPushButton::clicked, &TfMain::btnDateTimeParamLoadClick);
  on(btnDateTimeParamSave, &QPushButton::clicked, &TfMain::btnDateTimeParamSaveClick);
  on(btnDisplayParamLoad, &QPushButton::clicked, &TfMain::btnDisplayParamLoadClick);
  on(btnDisplayParamSave, &QPushButton::clicked, &TfMain::btnDisplayParamSaveClick);
  on(btnDateTimeLoad, &QPushButton::clicked, &TfMain::btnDateTimeLoadClick);
  on(btnDateTimeSave, &QPushButton::clicked, &TfMain::btnDateTimeSaveClick);
  on(btnDateTimeSavePC, &QPushButton::clicked, &TfMain::btnDateTimeSavePCClick);
  on(btnCommParams, &QPushButton::clicked, &TfMain::btnCommParamsClick);
  for (QAbstractButton* toggle : std::initializer_list<QAbstractButton*>{
           rbDisplayDataExpirationNo, rbDisplayDataExpirationDelay, chbDateTimeShowTimeAfterTurnOn,
           chbDateTimeShowTimeAfterExpiration, rbDisplayBrightnessStatic, rbDisplayBrightnessAuto})
    on(toggle, &QAbstractButton::toggled, &TfMain::UpdateControls);
}

void TfMain::CenterOnScreen() {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

// ---- Procedures on the link ----------------------------------------------------------------

template <class TProcedureFn, class TShowFn>
void TfMain::RunProcedure(TProcedureFn procedure, TShowFn show) {
  BeginProcedure();
  FLink->Call(
      std::move(procedure),
      [this, show = std::move(show)](auto& result) {
        EndProcedure();
        show(result);
      },
      [this](const std::string& error) {
        EndProcedure();
        ShowProcedureFailure(error);
      });
}

void TfMain::ShowProcedureFailure(const std::string& error) {
  ShowStatusOf(lblLanProcedureFailed, tr("Důvod: %1").arg(QString::fromStdString(error)));
}

void TfMain::BeginProcedure() {
  if (FProceduresRunning++ == 0) setCursor(Qt::BusyCursor);
  UpdateControls();
  ShowStatusOf(lblLanBusy);
}

void TfMain::EndProcedure() {
  if (--FProceduresRunning == 0) unsetCursor();
  UpdateControls();
}

// ---- Connection ----------------------------------------------------------------------------

void TfMain::ConnectTo(const std::string& connection, TByte address) {
  FConnectionString = connection;
  FAddress = address;
  ConnectAndShowStatus();
}

void TfMain::btnCIOpenClick() {
  if (!FConnectionDialog || !FConnectionDialog->Execute(FConnectionString, FAddress)) return;
  ConnectAndShowStatus();
}

void TfMain::ConnectAndShowStatus() {
  ++FLinkEpoch;
  FReconnectTimer->stop();
  FLineState = TLineState::kClosed;
  ForgetLoads();
  RunProcedure(
      [connection = FConnectionString, address = FAddress](TDisplayConnection& link) {
        return ConnectLink(link, connection, address, kIdentificationTries);
      },
      [this, connection = FConnectionString, address = FAddress](const TConnectOutcome& outcome) {
        FConnectFailure = QString::fromStdString(outcome.failure);
        if (outcome.connected && FRecent) FRecent->Add({connection, address});
        if (!outcome.connected) {
          FLineState = TLineState::kClosed;
          UpdateControls();
          ShowConnectFailure(outcome);
        } else {
          FLineState = TLineState::kConnected;
          FCapabilities = outcome.capabilities;
          ShowLoads(ApplySettings(outcome.reads), lblLanOpenCIOk);
        }
        emit connectFinished(outcome.connected);
      });
}

void TfMain::Disconnect() {
  ++FLinkEpoch;
  FReconnectTimer->stop();
  FLineState = TLineState::kClosed;
  ForgetLoads();
  UpdateControls();
  FLink->Run([](TDisplayConnection& link) { link.Disconnect(); },
             [this] { ShowStatusOf(lblLanDisconnected); });
}

bool TfMain::IsConnected() const {
  return FLineState == TLineState::kConnected || FLineState == TLineState::kSilent;
}

// The line closed under the program: said at once, then reconnected by itself.
void TfMain::LineLost(const QString& reason) {
  if (!IsConnected()) return;  // the user has disconnected meanwhile
  FLineState = TLineState::kLost;
  ForgetLoads();
  UpdateControls();
  ShowStatusOf(lblLanLineLost, reason);
  FReconnectAttempts = 0;
  FReconnectFailure = reason;
  ScheduleReconnect();
}

void TfMain::ScheduleReconnect() {
  FReconnectTimer->start(ReconnectDelay(FReconnectAttempts + 1));
}

void TfMain::Reconnect() {
  ++FReconnectAttempts;
  ShowStatusOf(lblLanReconnecting, tr("Pokusů o obnovení: %1").arg(FReconnectAttempts) +
                                       QLatin1Char('\n') + tr("Důvod: %1").arg(FReconnectFailure));
  const auto failed = [this, epoch = FLinkEpoch](const QString& why) {
    if (epoch != FLinkEpoch) return;  // the user connected or disconnected meanwhile
    FReconnectFailure = why;
    ScheduleReconnect();
  };
  FLink->Call([connection = FConnectionString, address = FAddress](
                  TDisplayConnection& link) { return ConnectLink(link, connection, address, 1); },
              [this, epoch = FLinkEpoch, failed](const TConnectOutcome& outcome) {
                if (epoch != FLinkEpoch) return;
                if (!outcome.connected) return failed(QString::fromStdString(outcome.failure));
                FLineState = TLineState::kConnected;
                FCapabilities = outcome.capabilities;
                ShowLoads(ApplySettings(outcome.reads), lblLanReconnected);
              },
              [failed](const std::string& error) { failed(QString::fromStdString(error)); });
}

void TfMain::UpdateControls() {
  // No second procedure starts while one runs.
  const bool usable = IsConnected() && FProceduresRunning == 0;
  EnableControls({TabSheet1, TabSheet2, TabSheet3}, usable, true);
  // "Zrušit spojení" also stops the attempts to reconnect.
  btnCIClose->setEnabled(FLineState != TLineState::kClosed);
  btnFile->setEnabled(usable);
  ShowCommParams();
  if (!usable) return;
  const TDisplayCapabilities& capabilities = FCapabilities;
  const bool clock = OffersClockSettings(capabilities);
  EnableControls({gbDateTime, gbDateTimeParams}, clock, true);
  if (!clock) {
    for (QCheckBox* clockBox :
         {chbDateTimeAutoUpdate, chbDateTimeSummerTime, chbDateTimeFormat12Hour,
          chbDateTimeFormatMDY, chbDateTimeShowTime, chbDateTimeShowDate})
      clockBox->setChecked(false);
    ieDateTimeOffset->SetValue(0);
    ieDateTimeZone->SetValue(0);
    EnableControls({gbDateTimeParams, chbDateTimeShowTemp, chbDateTimeShowTimeAfterTurnOn,
                    chbDateTimeShowTimeAfterExpiration, btnDateTimeParamLoad, btnDateTimeParamSave},
                   true, false);
  }
  const bool automatic = OffersAutomaticBrightness(capabilities);
  rbDisplayBrightnessAuto->setEnabled(automatic);
  if (!automatic) ShowBrightnessAuto(kNoAutomaticBrightness);
  EnableControls({chbDateTimeShowTime, chbDateTimeShowDate, chbDateTimeShowTemp},
                 chbDateTimeShowTimeAfterTurnOn->isChecked() ||
                     chbDateTimeShowTimeAfterExpiration->isChecked(),
                 false);
  EnableControls({lblDisplayBrightness, ieDisplayBrightness},
                 rbDisplayBrightnessStatic->isChecked(), false);
  EnableControls({lblDisplayBrightnessMin, ieDisplayBrightnessMin, lblDisplayBrightnessMax,
                  ieDisplayBrightnessMax, lblDisplayBrightnessGain, ieDisplayBrightnessGain},
                 rbDisplayBrightnessAuto->isChecked(), false);
  ieDisplayDataExpirationDelay->setEnabled(rbDisplayDataExpirationDelay->isChecked());
  // What was not loaded from this display is not written back to it.
  for (auto [save, loaded] : {std::pair{btnDateTimeParamSave, FParamsLoaded},
                              std::pair{btnDisplayParamSave, FBrightnessLoaded},
                              std::pair{btnDateTimeSave, FClockLoaded}}) {
    save->setEnabled(loaded);
    save->setToolTip(loaded ? QString() : lblLanLoadFirst->text());
  }
  // A mirror of a display that does not answer, or not with its segments, is not current.
  pnlDisplay->setEnabled(FLineState == TLineState::kConnected && !FPollFaulty);
}

// ---- Status line ---------------------------------------------------------------------------

void TfMain::ShowStatus(const QString& text, const QColor& colour, const QString& details) {
  const QString shown = FittedText(text, *pnlStatusbar, kStatusLines);
  pnlStatusbar->setText(shown);
  SetTextColour(pnlStatusbar, colour);
  // What the line cannot show whole, and why it failed, is one keystroke away.
  FStatusDetails = shown == text || details.contains(text) ? details
                   : details.isEmpty()                     ? text
                                                           : text + QLatin1Char('\n') + details;
  pnlStatusbar->setToolTip(FStatusDetails);
  btnStatusDetails->setEnabled(!FStatusDetails.isEmpty());
}

void TfMain::ShowStatusOf(const QLabel* label, const QString& details) {
  ShowStatus(label->text(), label->palette().color(QPalette::WindowText), details);
}

void TfMain::ShowOutcome(const QLabel* label, const TOutcome& outcome) {
  // A write whose answer was lost is no failure to save: nobody knows whether it was stored.
  if (outcome.kind == TOutcomeKind::kUnknownWhetherStored && label == lblLanSettingsSaveErr)
    label = lblLanSaveUnknown;
  ShowStatus(WithCause(label->text(), outcome), label->palette().color(QPalette::WindowText),
             OutcomeDetails(outcome));
}

void TfMain::ShowStatusDetails() {
  if (FStatusDetails.isEmpty()) return;
  auto* box = new QMessageBox(QMessageBox::Information, windowTitle(), pnlStatusbar->text(),
                              QMessageBox::Close, this);
  box->setObjectName("msgStatusDetails");
  box->setInformativeText(FStatusDetails);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void TfMain::ShowSaveOutcome(const TOutcome& outcome) {
  if (outcome.Ok()) return ShowStatusOf(lblLanSettingsSaveOk);
  ShowOutcome(lblLanSettingsSaveErr, outcome);
}

// The line opened and the display did not answer as it should: the identification says how;
// else the transport says why the line did not open or closed.
void TfMain::ShowConnectFailure(const TConnectOutcome& outcome) {
  const TOutcomeKind kind = outcome.identification.kind;
  if (kind != TOutcomeKind::kDone && kind != TOutcomeKind::kNotSent &&
      kind != TOutcomeKind::kLineClosed)
    return ShowOutcome(lblLanOpenCIErr, outcome.identification);
  ShowStatusOf(lblLanOpenCIErr, tr("Důvod: %1").arg(FConnectFailure));
}

void TfMain::ShowTwoStepSave(bool firstWritten, bool secondWritten, const QLabel* onlyFirst,
                             const TOutcome& outcome,
                             const std::vector<TSettingChange>& differences) {
  if (!firstWritten) return ShowOutcome(lblLanSettingsSaveErr, outcome);
  if (!secondWritten) return ShowOutcome(onlyFirst, outcome);
  ShowVerifiedSave(outcome, differences);
}

void TfMain::ShowVerifiedSave(const TOutcome& readBack,
                              const std::vector<TSettingChange>& differences) {
  if (!readBack.Ok()) return ShowOutcome(lblLanSavedNotVerified, readBack);
  if (differences.empty()) return ShowStatusOf(lblLanSettingsSaveOk);
  ShowStatus(lblLanSavedOtherValues->text() + QLatin1Char(' ') + ReadBackText(differences),
             lblLanSavedOtherValues->palette().color(QPalette::WindowText));
}

// ---- Poll and the first page ---------------------------------------------------------------

void TfMain::Timer1Timer() {
  if (IsBusy()) return;  // polls never queue up behind another exchange
  if (!IsConnected()) {
    lblTemperature->setText(QStringLiteral("---"));
    emit polled();
    return;
  }
  FLink->Call([](TDisplayConnection& link) { return PollDisplay(link.Device()); },
              [this, epoch = FLinkEpoch](const TPollOutcome& outcome) {
                if (epoch == FLinkEpoch && IsConnected()) ShowPoll(outcome);
                emit polled();
              },
              [this](const std::string& error) {
                ShowStatusOf(lblLanPollFailed, tr("Důvod: %1").arg(QString::fromStdString(error)));
                emit polled();
              });
}

void TfMain::ShowPoll(const TPollOutcome& outcome) {
  // Another number of bytes is no picture of the display: the shapes keep what they show.
  if (outcome.segmentsRead.Ok()) pnlDisplay->ShowDisplayData(outcome.segments);
  lblTemperature->setText(outcome.temperatureRead.Ok()
                              ? QLocale().toString(outcome.degrees, 'f', 1) +
                                    QString::fromUtf8(" °C")
                              : QStringLiteral("---"));
  const bool silent = outcome.Silent();
  ShowSilence(silent);
  if (!silent) ShowPollFault(outcome.segmentsRead);
}

// A display that answers the poll but not with its segments is said once, when it starts; the
// panel is no picture of the display until they come again.
void TfMain::ShowPollFault(const TOutcome& segmentsRead) {
  const bool faulty = !segmentsRead.Ok() && segmentsRead.kind != TOutcomeKind::kLineClosed;
  if (faulty && !FPollFaulty) ShowOutcome(lblLanPollFailed, segmentsRead);
  if (faulty == FPollFaulty) return;
  FPollFaulty = faulty;
  UpdateControls();
}

// While the display is silent the status line says so, and since when, after every poll (a
// button's outcome shows until then); the first answer brings the connect's green text back.
void TfMain::ShowSilence(bool silent) {
  const bool wasSilent = FLineState == TLineState::kSilent;
  if (silent && !wasSilent) FSilentSince = QDateTime::currentDateTime();
  if (silent)
    ShowStatusOf(lblLanSilent,
                 tr("Bez odpovědi od %1").arg(FSilentSince.toString(QStringLiteral("HH:mm:ss"))));
  else if (wasSilent)
    ShowStatusOf(lblLanOpenCIOk);
  if (silent == wasSilent) return;
  FLineState = silent ? TLineState::kSilent : TLineState::kConnected;
  UpdateControls();
}

void TfMain::SegmentReleased() {
  // The result is not reported: the next poll shows what the display really shows.
  FLink->Run([data = pnlDisplay->CollectDisplayData()](
                 TDisplayConnection& link) { link.Device().SetDisplayData(data); },
             [] {});
}

void TfMain::btnDisplayCharsSetClick() {
  RunProcedure(
      [text = edtDisplayChars->text().toLatin1().toStdString()](TDisplayConnection& link) {
        TZorvid& display = link.Device();
        return SendStep(display, TStep::kWriteText, 1,
                        [&] { return display.SetDisplayChars(text); });
      },
      [this](const TOutcome& outcome) { ShowSaveOutcome(outcome); });
}

void TfMain::edtDisplayCharsChange() {
  if (IsValidDisplayText(edtDisplayChars->text().toLatin1().toStdString())) {
    edtDisplayChars->setPalette(QPalette());  // the inherited colours again
    return;
  }
  QPalette palette = edtDisplayChars->palette();
  palette.setColor(QPalette::Base, kInvalidTextBackground);
  edtDisplayChars->setPalette(palette);
}

void TfMain::btnShowActualInformationClick() {
  RunProcedure(
      [](TDisplayConnection& link) {
        TZorvid& display = link.Device();
        return SendStep(display, TStep::kShowInformation, 1,
                        [&] { return display.ShowActualInformation(); });
      },
      [this](const TOutcome& outcome) {
        if (outcome.Ok()) return ShowStatusOf(lblLanShowActualInformationOk);
        ShowOutcome(lblLanShowActualInformationErr, outcome);
      });
}

// ---- Loads ---------------------------------------------------------------------------------

// Values that break a rule are shown as they came, their field marked, so that the user sees
// what the display holds and can mend it; a group that did not come keeps nothing of another
// read.
TfMain::TLoadOutcome TfMain::ApplyDateTimeParams(const TDateTimeParamsRead& read) {
  FParamsLoaded = false;
  if (!read.ok) return {false, read.outcome};
  ShowNumber(ieDisplayDataExpirationDelay, read.expiration.seconds);
  (read.expiration.seconds == 0 ? rbDisplayDataExpirationNo : rbDisplayDataExpirationDelay)
      ->setChecked(true);
  ShowDateTimeParams(ShownDateTimeParams(read.params, FCapabilities));
  MarkInvalidField({ieDateTimeOffset, ieDateTimeZone, ieDisplayDataExpirationDelay},
                   read.outcome.invalid);
  FParamsLoaded = true;
  return {true, read.outcome};
}

// What came is shown even when the other read failed.
TfMain::TLoadOutcome TfMain::ApplyBrightness(const TBrightnessRead& read) {
  FBrightnessLoaded = false;
  if (read.staticRead) ShowNumber(ieDisplayBrightness, read.value);
  if (!read.offered)
    rbDisplayBrightnessStatic->setChecked(true);
  else if (read.automaticRead)
    ShowBrightnessAuto(read.automatic);
  MarkInvalidField({ieDisplayBrightness, ieDisplayBrightnessMin, ieDisplayBrightnessMax,
                    ieDisplayBrightnessGain},
                   read.outcome.invalid);
  FBrightnessLoaded = read.ok();
  return {FBrightnessLoaded, read.outcome};
}

// A year the date field cannot hold is not shown: the clock is then not loaded.
TfMain::TLoadOutcome TfMain::ApplyClock(const TClockRead& read) {
  FClockLoaded = false;
  if (!read.ok || read.Invalid()) return {false, read.outcome};
  const QDateTime loaded = ToQDateTime(read.value);
  dtpDeviceTime->setTime(loaded.time());
  dtpDeviceDate->setDate(loaded.date());
  FClockLoaded = true;
  return {true, read.outcome};
}

void TfMain::ShowLoadOutcome(const TLoadOutcome& outcome) {
  if (outcome.outcome.Ok()) return ShowStatusOf(lblLanSettingsLoadOk);
  ShowOutcome(outcome.loaded ? lblLanLoadedInvalid : lblLanSettingsLoadErr, outcome.outcome);
}

std::vector<TfMain::TLoadOutcome> TfMain::ApplySettings(const TSettingsReads& reads) {
  std::vector<TLoadOutcome> loads{ApplyDateTimeParams(reads.params),
                                  ApplyBrightness(reads.brightness)};
  if (reads.clock) loads.push_back(ApplyClock(*reads.clock));
  return loads;
}

// A connect's loads: `loaded` when all came sound, else the first that did not, with its cause.
void TfMain::ShowLoads(const std::vector<TLoadOutcome>& loads, const QLabel* loaded) {
  UpdateControls();
  QStringList details;
  for (const TLoadOutcome& load : loads)
    if (!load.outcome.Ok())
      details << OutcomeCause(load.outcome) + QLatin1Char('\n') + OutcomeDetails(load.outcome);
  const auto failed = std::find_if(loads.begin(), loads.end(),
                                   [](const TLoadOutcome& load) { return !load.outcome.Ok(); });
  if (failed == loads.end()) return ShowStatusOf(loaded);
  const QLabel* label = failed->loaded ? lblLanLoadedInvalid : lblLanConnectedNotLoaded;
  ShowStatus(WithCause(label->text(), failed->outcome),
             label->palette().color(QPalette::WindowText), details.join(QStringLiteral("\n\n")));
}

void TfMain::ForgetLoads() {
  FParamsLoaded = FBrightnessLoaded = FClockLoaded = false;
  FPollFaulty = false;
  MarkInvalidField(MarkableFields(), std::nullopt);
}

// ---- Marked fields -------------------------------------------------------------------------

QList<TIntEdit*> TfMain::MarkableFields() const {
  return {ieDisplayBrightness,         ieDisplayBrightnessMin, ieDisplayBrightnessMax,
          ieDisplayBrightnessGain,     ieDateTimeOffset,       ieDateTimeZone,
          ieDisplayDataExpirationDelay};
}

TIntEdit* TfMain::FieldOf(TSettingField field) const {
  switch (field) {
    case TSettingField::kStaticBrightness:
      return ieDisplayBrightness;
    case TSettingField::kMinimumBrightness:
      return ieDisplayBrightnessMin;
    case TSettingField::kMaximumBrightness:
      return ieDisplayBrightnessMax;
    case TSettingField::kSensorGain:
      return ieDisplayBrightnessGain;
    case TSettingField::kTimeOffset:
      return ieDateTimeOffset;
    case TSettingField::kZoneIndex:
      return ieDateTimeZone;
    case TSettingField::kDataExpiration:
      return ieDisplayDataExpirationDelay;
    default:
      return nullptr;
  }
}

void TfMain::MarkInvalidField(const QList<TIntEdit*>& group,
                              const std::optional<TInvalidValue>& invalid) {
  for (TIntEdit* edit : group)
    SetMarked(edit, false);
  TIntEdit* field = invalid ? FieldOf(invalid->field) : nullptr;
  if (!field) return;
  SetMarked(field, true);
  field->setToolTip(ShownInvalidValue(*invalid));
}

// A value a rule refuses goes nowhere: its field is marked and the status line names it.
bool TfMain::RefuseInvalid(const std::optional<TInvalidValue>& invalid, TStep step) {
  if (!invalid) return false;
  MarkInvalidField({}, invalid);
  TOutcome outcome = Done(step, FAddress);
  outcome.kind = TOutcomeKind::kNotSent;
  outcome.invalid = invalid;
  ShowOutcome(lblLanSettingsSaveErr, outcome);
  return true;
}

// ---- "Zobrazení dat" -----------------------------------------------------------------------

void TfMain::btnDateTimeParamLoadClick() {
  RunProcedure(
      [](TDisplayConnection& link) { return ReadDateTimeParams(link.Device()); },
      [this](const TDateTimeParamsRead& read) { ShowLoadOutcome(ApplyDateTimeParams(read)); });
}

void TfMain::ShowDateTimeParams(const TDateTimeParams& params) {
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

TDateTimeParams TfMain::CollectDateTimeParams() const {
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

// Written, then read back: the status says what the display holds afterwards.
void TfMain::btnDateTimeParamSaveClick() {
  const TDateTimeParams params = CollectDateTimeParams();
  const std::int32_t seconds =
      rbDisplayDataExpirationNo->isChecked() ? 0 : ieDisplayDataExpirationDelay->Value();
  if (RefuseInvalid(CheckDateTimeParams(params), TStep::kWriteParams) ||
      RefuseInvalid(CheckDataExpiration(seconds), TStep::kWriteExpiration))
    return;
  RunProcedure(
      [params, seconds](TDisplayConnection& link) {
        return SaveDateTimeParams(link.Device(), params, seconds);
      },
      [this, params, seconds](const TDateTimeParamsSave& save) {
        ShowTwoStepSave(save.paramsWritten, save.expirationWritten, lblLanParamsSavedExpirationNot,
                        save.outcome, ReadBackChanges(params, seconds, save.readBack));
      });
}

// ---- "Ostatní" -----------------------------------------------------------------------------

void TfMain::btnDisplayParamLoadClick() {
  RunProcedure([offered = OffersAutomaticBrightness(FCapabilities)](
                   TDisplayConnection& link) { return ReadBrightness(link.Device(), offered); },
               [this](const TBrightnessRead& read) { ShowLoadOutcome(ApplyBrightness(read)); });
}

void TfMain::ShowBrightnessAuto(const TBrightnessAuto& settings) {
  (settings.automatic ? rbDisplayBrightnessAuto : rbDisplayBrightnessStatic)->setChecked(true);
  ShowNumber(ieDisplayBrightnessMin, settings.min);
  ShowNumber(ieDisplayBrightnessMax, settings.max);
  ShowNumber(ieDisplayBrightnessGain, settings.gain);
}

void TfMain::btnDisplayParamSaveClick() {
  const std::int32_t value = ieDisplayBrightness->Value();
  std::optional<TBrightnessAuto> automatic;
  if (OffersAutomaticBrightness(FCapabilities))
    automatic =
        TBrightnessAuto{rbDisplayBrightnessAuto->isChecked(), ieDisplayBrightnessMin->Value(),
                        ieDisplayBrightnessMax->Value(), ieDisplayBrightnessGain->Value()};
  if (RefuseInvalid(CheckBrightness(value), TStep::kWriteBrightness) ||
      (automatic && RefuseInvalid(CheckBrightnessAuto(*automatic), TStep::kWriteBrightnessAuto)))
    return;
  RunProcedure(
      [value, automatic](TDisplayConnection& link) {
        return SaveBrightness(link.Device(), value, automatic);
      },
      [this, value, automatic](const TBrightnessSave& save) {
        ShowTwoStepSave(save.staticWritten, save.automaticWritten,
                        lblLanBrightnessSavedAutomaticNot, save.outcome,
                        ReadBackChanges(value, automatic, save.readBack));
      });
}

void TfMain::btnDateTimeLoadClick() {
  RunProcedure([](TDisplayConnection& link) { return ReadClock(link.Device()); },
               [this](const TClockRead& read) { ShowLoadOutcome(ApplyClock(read)); });
}

void TfMain::btnDateTimeSaveClick() {
  const std::optional<TDateTime> value = Combined(dtpDeviceDate->date(), dtpDeviceTime->time());
  if (!value) return ShowStatusOf(lblLanSettingsSaveErr);  // the date field holds no date
  RunProcedure(
      [value = *value](TDisplayConnection& link) { return SaveClock(link.Device(), value); },
      [this](const TClockSave& save) { ShowClockSave(save); });
}

// The PC's time as the request leaves, however long the procedures before it took.
void TfMain::btnDateTimeSavePCClick() {
  RunProcedure([](TDisplayConnection& link) { return SaveClock(link.Device(), Now()); },
               [this](const TClockSave& save) { ShowClockSave(save); });
}

void TfMain::ShowClockSave(const TClockSave& save) {
  if (!save.written) return ShowOutcome(lblLanSettingsSaveErr, save.outcome);
  if (!save.readBack.ok) return ShowOutcome(lblLanSavedNotVerified, save.outcome);
  if (save.Holds()) return ShowStatusOf(lblLanSettingsSaveOk);
  const auto text = [](TDateTime value) {
    return ToQDateTime(value).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  };
  ShowStatus(lblLanSavedOtherValues->text() + tr(" datum a čas (odesláno %1, přečteno %2)")
                                                  .arg(text(save.sent), text(save.readBack.value)),
             lblLanSavedOtherValues->palette().color(QPalette::WindowText));
}

// ---- Settings in a file --------------------------------------------------------------------

namespace {

// A settings file's rows for the dialog, and the texts of a restore.
QList<TDifferenceRow> DifferenceRows(const std::vector<TSettingChange>& changes) {
  QList<TDifferenceRow> rows;
  for (const TSettingChange& change : changes)
    rows << TDifferenceRow{KeyName(change.key), ValueText(change.wanted), ValueText(change.held)};
  return rows;
}

// What the snapshot of the display needs besides its settings.
struct TSnapshotRead {
  TDisplaySettingsRead held;
  std::string identification;
};

// A restore, and the pages' settings read after it.
struct TRestoreOutcome {
  TSettingsRestore restore;
  TSettingsReads reads;
};

}  // namespace

void TfMain::AskSaveSettingsFile() {
  const QString path = QFileDialog::getSaveFileName(this, tr("Uložit do souboru…"),
                                                    QStringLiteral("zorvid-%1.json").arg(FAddress),
                                                    tr("Nastavení (*.json)"));
  if (!path.isEmpty()) SaveSettingsFile(path);
}

void TfMain::AskLoadSettingsFile() {
  const QString path = QFileDialog::getOpenFileName(this, tr("Načíst ze souboru…"), QString(),
                                                    tr("Nastavení (*.json);;Vše (*)"));
  if (!path.isEmpty()) LoadSettingsFile(path);
}

void TfMain::SaveSettingsFile(const QString& path) {
  RunProcedure(
      [capabilities = FCapabilities](TDisplayConnection& link) {
        TZorvid& display = link.Device();
        return TSnapshotRead{ReadDisplaySettings(display, capabilities, SenderFor(display, 1)),
                             display.GetIdentificationText()};
      },
      [this, path](const TSnapshotRead& read) {
        if (!read.held.settings) return ShowOutcome(lblLanSettingsLoadErr, read.held.outcome);
        const TSettingsSnapshot snapshot{QDateTime::currentDateTimeUtc(), read.identification,
                                         FAddress, FConnectionString, *read.held.settings};
        const std::string json = SnapshotJson(snapshot);
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly) &&
            file.write(json.data(), static_cast<qint64>(json.size())) ==
                static_cast<qint64>(json.size()) &&
            file.commit())
          return ShowStatusOf(lblLanFileSaved, QDir::toNativeSeparators(path));
        ShowStatusOf(
            lblLanFileNotSaved,
            QString::fromUtf8("„%1“: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
      });
}

// The file is read and checked whole before anything goes to the display.
void TfMain::LoadSettingsFile(const QString& path) {
  TSettingsSnapshot file;
  try {
    file = LoadSnapshot(path.toStdString());
  } catch (const TSettingsFileError& error) {
    return ShowStatusOf(lblLanFileRefused, QString::fromUtf8(error.what()));
  }
  RunProcedure(
      [capabilities = FCapabilities](TDisplayConnection& link) {
        TZorvid& display = link.Device();
        return ReadDisplaySettings(display, capabilities, SenderFor(display, 1));
      },
      [this, path, file](const TDisplaySettingsRead& held) {
        // The dialog runs its own loop: not inside the link's report of this procedure.
        QTimer::singleShot(
            0, this, GuardedSlot([this, path, file, held] { OfferSettings(path, file, held); }));
      });
}

void TfMain::OfferSettings(const QString& path, const TSettingsSnapshot& file,
                           const TDisplaySettingsRead& held) {
  if (!held.settings) return ShowOutcome(lblLanSettingsLoadErr, held.outcome);
  const TSettingsComparison comparison = CompareSettings(file.settings, *held.settings);
  QStringList skipped;
  for (const std::string& key : comparison.skipped)
    skipped << KeyName(key);
  if (!FDifferences->Execute(QFileInfo(path).fileName(), DifferenceRows(comparison.differences),
                             skipped))
    return ShowStatusOf(comparison.differences.empty() ? lblLanFileSame : lblLanFileNotWritten,
                        QDir::toNativeSeparators(path));
  if (!IsConnected()) return ShowStatusOf(lblLanFileNotWritten);  // the line went meanwhile
  RunProcedure(
      [wanted = file.settings, held = *held.settings,
       capabilities = FCapabilities](TDisplayConnection& link) {
        TRestoreOutcome outcome;
        TZorvid& display = link.Device();
        outcome.restore = WriteSettingsDifferences(display, wanted, held, SenderFor(display, 1));
        outcome.reads = ReadSettings(link.Device(), capabilities);
        return outcome;
      },
      [this](const TRestoreOutcome& outcome) {
        ApplySettings(outcome.reads);
        UpdateControls();
        ShowRestore(outcome.restore);
      });
}

void TfMain::ShowRestore(const TSettingsRestore& restore) {
  const QColor red = lblLanSettingsSaveErr->palette().color(QPalette::WindowText);
  if (restore.Verified()) return ShowStatusOf(lblLanSettingsSaveOk);
  if (restore.written.empty()) return ShowOutcome(lblLanSettingsSaveErr, restore.outcome);
  if (restore.failedReadingBack) return ShowOutcome(lblLanSavedNotVerified, restore.outcome);
  if (!restore.notWritten.empty() || !restore.outcome.Ok())
    return ShowStatus(
        tr("Ze souboru bylo zapsáno: %1; nezapsáno: %2.")
            .arg(KeyNameList(restore.written).join(QStringLiteral(", ")),
                 KeyNameList(restore.notWritten).join(QStringLiteral(", "))),
        red, OutcomeCause(restore.outcome) + QLatin1Char('\n') + OutcomeDetails(restore.outcome));
  ShowStatus(lblLanSavedOtherValues->text() + QLatin1Char(' ') + ReadBackText(restore.readBack),
             red);
}

// ---- Service gesture -----------------------------------------------------------------------

// Ctrl and a double click on the bottom panel itself, below its separator line.
bool TfMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == pnlButtons && event->type() == QEvent::MouseButtonDblClick) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->modifiers().testFlag(Qt::ControlModifier) &&
        mouse->position().y() >= kSeparatorHeight) {
      GuardedSlot([this] { ShowServiceFields(); })();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

QList<QWidget*> TfMain::ServiceFields() const {
  return {Label5, ieDateTimeOffset, Label6, ieDateTimeZone};
}

void TfMain::ShowServiceFields() {
  if (FLog) FLog->ShowLog(QString());
  for (QWidget* service : ServiceFields())
    service->setVisible(true);
}

// ---- "Komunikace" --------------------------------------------------------------------------

void TfMain::ShowCommParams() {
  if (!IsConnected()) return lblCommParams->setText(tr("Nepřipojeno."));
  const QString address = QString::fromStdString(AddressText(FAddress));
  if (const std::optional<std::int32_t> speed = ChoiceOfConnection(FConnectionString).Speed())
    lblCommParams->setText(tr("Adresa %1, %2 Bd").arg(address).arg(*speed));
  else
    lblCommParams->setText(tr("Adresa %1, linka TCP").arg(address));
}

void TfMain::btnCommParamsClick() {
  RunProcedure([](TDisplayConnection& link) { return ReadCommParams(link); },
               [this](const TCommParamsRead& read) {
                 if (!read.read) return ShowOutcome(lblLanCommReadErr, read.outcome);
                 ShowStatusOf(lblLanSettingsLoadOk);
                 const std::optional<TCommParams> wanted =
                     FCommParams->Execute(read.params, read.lineHasSpeed);
                 if (!wanted || !IsConnected()) return;  // cancelled, or the line went meanwhile
                 // The reconnects are the procedure's: attempts of a lost line before it are old.
                 ++FLinkEpoch;
                 FReconnectTimer->stop();
                 RunProcedure(
                     [connection = FConnectionString, address = FAddress,
                      wanted = *wanted](TDisplayConnection& link) {
                       return Commission(link, connection, address, wanted, kIdentificationTries);
                     },
                     [this](const TCommissioning& outcome) { ShowCommissioning(outcome); });
               });
}

void TfMain::ShowCommissioning(const TCommissioning& outcome) {
  FConnectionString = outcome.connectionString;
  FAddress = outcome.address;
  if (outcome.connected) {
    FLineState = TLineState::kConnected;
    FCapabilities = outcome.capabilities;
  } else {
    FLineState = TLineState::kClosed;
    ForgetLoads();
  }
  const bool moved = outcome.failedStep == TCommissionStep::kDone;
  if (moved && FRecent) FRecent->Add({FConnectionString, FAddress});
  UpdateControls();
  const QLabel* status = lblLanCommChanged;
  // Only the display's refusal is said as one; a lost answer leaves open what it took.
  const bool refused = outcome.outcome.kind == TOutcomeKind::kRefused;
  switch (outcome.failedStep) {
    case TCommissionStep::kEnable:
      return ShowOutcome(refused ? lblLanCommEnableErr : lblLanCommUnchanged, outcome.outcome);
    case TCommissionStep::kWrite:
      return ShowOutcome(refused ? lblLanCommWriteErr : lblLanCommUnknown, outcome.outcome);
    case TCommissionStep::kReconnect:
      status = outcome.connected ? lblLanCommBack : lblLanCommLost;
      break;
    case TCommissionStep::kDone:
      break;
  }
  ShowStatusOf(status, QString::fromStdString(outcome.failure));
}

}  // namespace zorvid
