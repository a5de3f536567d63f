#include "ui/MainWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QDateTime>
#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QTimeEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <initializer_list>
#include <tuple>
#include <utility>

#include "core/DateTime.h"
#include "ui/About.h"
#include "ui/Application.h"
#include "ui/BusyCursor.h"
#include "ui/CiLog.h"
#include "ui/ConnectionDialog.h"
#include "ui/DialogFrame.h"
#include "ui/DisplayPanel.h"
#include "ui/EnDis.h"
#include "ui/NamedControls.h"
#include "ui/controls/IntEdit.h"

namespace zorvid {
namespace {

constexpr const char* kCaption = "Zorvid-L";
constexpr QSize kClientSize(433, 449);
constexpr int kPollIntervalMs = 500;
// The bottom panel's separator line takes its top rows: a press there is no service gesture.
constexpr int kSeparatorHeight = 17;
constexpr int kButtonsHeight = 40;
constexpr int kStatusHeight = 17;
const QColor kGreen(0, 128, 0);
const QColor kRed(255, 0, 0);
const QColor kInvalidTextBackground(255, 160, 160);

// The two radio buttons of one choice, the first checked.
std::pair<QRadioButton*, QRadioButton*> NewChoice(const char* firstName, const char* firstCaption,
                                                  const char* secondName,
                                                  const char* secondCaption) {
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
  edit->SetShowName(QStringLiteral("Hodnota"));
  edit->SetColored(false);
  edit->SetIncrement(1);
  edit->SetPageMult(10);
  edit->SetAutoCorrect(true);
  return edit;
}

QGroupBox* NewGroup(const char* name, const char* caption) {
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

// How the status line names a value of the display's answers, by TAnswerField.
constexpr const char* kFieldNames[] = {
    "jas",        "minimální jas", "maximální jas", "zvýšení osvětlení",    "časový posun",
    "index zóny", "platnost dat",  "rok",           "počet bajtů segmentů",
};

QString FieldName(TAnswerField field) {
  return QString::fromUtf8(kFieldNames[static_cast<int>(field)]);
}

QString InvalidAnswerText(const TInvalidAnswer& invalid) {
  return QString::fromUtf8("Neplatná hodnota ze zařízení: %1 %2 (%3..%4)")
      .arg(FieldName(invalid.field))
      .arg(invalid.value)
      .arg(invalid.min)
      .arg(invalid.max);
}

// The widest texts an invalid answer can give in this window: the values come in one byte,
// the offset in two and the year as 2000 plus a byte.
QStringList WidestInvalidAnswerTexts() {
  using F = TAnswerField;
  QStringList texts;
  for (const TInvalidAnswer& invalid : {TInvalidAnswer{F::kStaticBrightness, 255, 0, 127},
                                        TInvalidAnswer{F::kMinimumBrightness, 255, 6, 36},
                                        TInvalidAnswer{F::kMaximumBrightness, 255, 6, 36},
                                        TInvalidAnswer{F::kSensorGain, 255, 0, 100},
                                        TInvalidAnswer{F::kTimeOffset, -32768, -660, 780},
                                        TInvalidAnswer{F::kClockYear, 2255, 2000, 2099}})
    texts << InvalidAnswerText(invalid);
  return texts;
}

}  // namespace

TfMain::TfMain(QWidget* owner) : QWidget(owner) {
  setObjectName("fMain");
  setWindowTitle(kCaption);
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  FConnection = std::make_unique<TDisplayConnection>();
  FDevice = &FConnection->Device();
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
  CenterOnScreen();
  Timer1->start();
}

TfMain::~TfMain() {
  Timer1->stop();
  FDevice = nullptr;
  FConnection.reset();
}

void TfMain::SetCommunicationLog(TfCiLog* log) {
  FLog = log;
}

void TfMain::SetConnectionDialog(TfConnectionDialog* dialog) {
  FConnectionDialog = dialog;
}

// ---- Controls ------------------------------------------------------------------------------

void TfMain::BuildControls() {
  PageControl1 = Named(new QTabWidget, "PageControl1");
  PageControl1->addTab(BuildDisplayPage(), QString::fromUtf8("Displej"));
  PageControl1->addTab(BuildDataPage(), QString::fromUtf8("Zobrazení dat"));
  PageControl1->addTab(BuildOtherPage(), QString::fromUtf8("Ostatní"));
  PageControl1->setCurrentIndex(0);
  btnAbout = NewButton("btnAbout", "O programu");
  PageControl1->setCornerWidget(btnAbout, Qt::TopRightCorner);

  pnlStatusbar = Named(new QLabel, "pnlStatusbar");
  pnlStatusbar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  pnlStatusbar->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  pnlStatusbar->setMinimumHeight(kStatusHeight);
  SetBold(pnlStatusbar);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(1);
  layout->addWidget(PageControl1, 1);
  layout->addWidget(pnlStatusbar);
  layout->addWidget(BuildBottomPanel());

  Timer1 = Named(new QTimer(this), "Timer1");
  Timer1->setInterval(kPollIntervalMs);
}

QWidget* TfMain::BuildDisplayPage() {
  TabSheet1 = Named(new QWidget, "TabSheet1");
  pnlDisplay = Named(new TDisplayPanel, "pnlDisplay");
  GroupBox1 = NewGroup("GroupBox1", "Displej");
  Label2 = NewLabel("Label2", "Text displeje:");
  edtDisplayChars = Named(new QLineEdit, "edtDisplayChars");
  Label2->setBuddy(edtDisplayChars);
  btnDisplayCharsSet = NewButton("btnDisplayCharsSet", "Nastavit");
  btnShowActualInformation = NewButton("btnShowActualInformation", "Zobrazit aktuální informace");
  Label7 = NewLabel("Label7", "Teplota:");
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
  gbDateTimeParams = NewGroup("gbDateTimeParams", "Zobrazení dat a automatických informací");
  Label3 = NewLabel("Label3", "Platnost dat:");
  std::tie(rbDisplayDataExpirationNo, rbDisplayDataExpirationDelay) = NewChoice(
      "rbDisplayDataExpirationNo", "Trvale", "rbDisplayDataExpirationDelay", "Po dobu [s]");
  ieDisplayDataExpirationDelay = NewIntEdit("ieDisplayDataExpirationDelay", 0, 65535, 0);
  chbDateTimeShowTimeAfterTurnOn =
      NewCheck("chbDateTimeShowTimeAfterTurnOn", "Zobrazit info. po zapnutí displeje");
  chbDateTimeShowTimeAfterExpiration =
      NewCheck("chbDateTimeShowTimeAfterExpiration", "Zobrazit info. po vypršení platnosti dat");
  chbDateTimeAutoUpdate = NewCheck("chbDateTimeAutoUpdate", "Automatické přepínání času");
  chbDateTimeSummerTime = NewCheck("chbDateTimeSummerTime", "Letní čas");
  chbDateTimeFormat12Hour = NewCheck("chbDateTimeFormat12Hour", "12 hodinový formát času");
  chbDateTimeFormatMDY = NewCheck("chbDateTimeFormatMDY", "Formát data měsíc/den/rok");
  Label4 = NewLabel("Label4", "Rotovat tyto údaje:");
  chbDateTimeShowTime = NewCheck("chbDateTimeShowTime", "Čas");
  chbDateTimeShowDate = NewCheck("chbDateTimeShowDate", "Datum");
  chbDateTimeShowTemp = NewCheck("chbDateTimeShowTemp", "Teplota");
  Label5 = NewLabel("Label5", "Časový posun");
  ieDateTimeOffset = NewIntEdit("ieDateTimeOffset", -660, 780, 0);
  Label6 = NewLabel("Label6", "Index zóny");
  ieDateTimeZone = NewIntEdit("ieDateTimeZone", 0, 65535, 0);
  for (QWidget* service : ServiceFields())
    service->setVisible(false);
  Label5->setBuddy(ieDateTimeOffset);
  Label6->setBuddy(ieDateTimeZone);
  btnDateTimeParamLoad = NewButton("btnDateTimeParamLoad", "Nahrát nastavení");
  btnDateTimeParamSave = NewButton("btnDateTimeParamSave", "Uložit nastavení");

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
  page->addStretch(1);
  return TabSheet3;
}

QGroupBox* TfMain::BuildBrightnessGroup() {
  gbDisplay = NewGroup("gbDisplay", "Jas displeje");
  std::tie(rbDisplayBrightnessStatic, rbDisplayBrightnessAuto) =
      NewChoice("rbDisplayBrightnessStatic", "Staticky", "rbDisplayBrightnessAuto",
                "Automaticky dle okolního osvětlení");
  lblDisplayBrightness = NewLabel("lblDisplayBrightness", "Hodnota jasu:");
  ieDisplayBrightness = NewIntEdit("ieDisplayBrightness", 0, 127, 27);
  lblDisplayBrightnessMin = NewLabel("lblDisplayBrightnessMin", "Minimální jas:");
  ieDisplayBrightnessMin = NewIntEdit("ieDisplayBrightnessMin", 6, 36, 6);
  lblDisplayBrightnessMax = NewLabel("lblDisplayBrightnessMax", "Maximální jas:");
  ieDisplayBrightnessMax = NewIntEdit("ieDisplayBrightnessMax", 6, 36, 36);
  lblDisplayBrightnessGain =
      NewLabel("lblDisplayBrightnessGain", "Umělé zvýšení hodnoty osvětlení senzoru [%]:");
  ieDisplayBrightnessGain = NewIntEdit("ieDisplayBrightnessGain", 0, 100, 0);
  btnDisplayParamLoad = NewButton("btnDisplayParamLoad", "Nahrát nastavení");
  btnDisplayParamSave = NewButton("btnDisplayParamSave", "Uložit nastavení");
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
  gbDateTime = NewGroup("gbDateTime", "Datum a čas");
  Label1 = NewLabel("Label1", "Datum a čas:");
  dtpDeviceDate = Named(new QDateEdit, "dtpDeviceDate");
  dtpDeviceDate->setCalendarPopup(true);
  // The display's clock holds only these years.
  dtpDeviceDate->setDateRange(QDate(kDisplayYearFirst, 1, 1), QDate(kDisplayYearLast, 12, 31));
  dtpDeviceTime = Named(new QTimeEdit, "dtpDeviceTime");
  dtpDeviceTime->setDisplayFormat(QStringLiteral("HH:mm:ss"));
  Label1->setBuddy(dtpDeviceDate);
  btnDateTimeSavePC = NewButton("btnDateTimeSavePC", "Uložit podle PC");
  btnDateTimeLoad = NewButton("btnDateTimeLoad", "Nahrát nastavení");
  btnDateTimeSave = NewButton("btnDateTimeSave", "Uložit nastavení");

  auto* layout = new QVBoxLayout(gbDateTime);
  layout->addLayout(Row({Label1, dtpDeviceDate, dtpDeviceTime}));
  auto* buttons = RightAlignedRow({btnDateTimeLoad, btnDateTimeSave});
  buttons->insertWidget(0, btnDateTimeSavePC);
  layout->addLayout(buttons);
  return gbDateTime;
}

QWidget* TfMain::BuildBottomPanel() {
  pnlButtons = Named(new QWidget, "pnlButtons");
  pnlButtons->setFixedHeight(kButtonsHeight);
  pnlButtons->installEventFilter(this);
  auto* separator = Named(new QFrame, "Bevel1");
  separator->setFrameStyle(QFrame::HLine | QFrame::Sunken);
  btnCIOpen = NewButton("btnCIOpen", "Navázat spojení");
  btnCIClose = NewButton("btnCIClose", "Zrušit spojení");
  btnClose = NewButton("btnClose", "Zavřít");

  auto* layout = new QVBoxLayout(pnlButtons);
  layout->setContentsMargins(4, 0, 4, 4);
  layout->setSpacing(0);
  layout->addWidget(separator);
  layout->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnCIOpen);
  buttons->addWidget(btnCIClose);
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
  const auto add = [layout](const char* name, const char* text, const QColor& colour) {
    QLabel* label = NewLabel(name, text);
    SetTextColour(label, colour);
    layout->addWidget(label);
    return label;
  };
  lblLanOpenCIOk = add("lblLanOpenCIOk", "Spojení bylo úspěšně navázáno.", kGreen);
  lblLanOpenCIErr = add("lblLanOpenCIErr", "Spojení se nepodařilo navázat!", kRed);
  lblLanSettingsLoadOk =
      add("lblLanSettingsLoadOk", "Nastavení bylo úspěšně nahráno ze zařízení.", kGreen);
  lblLanSettingsLoadErr =
      add("lblLanSettingsLoadErr", "Nastavení se nepodařilo nahrát ze zařízení!", kRed);
  lblLanSettingsSaveOk =
      add("lblLanSettingsSaveOk", "Nastavení bylo úspěšně uloženo do zařízení.", kGreen);
  lblLanSettingsSaveErr =
      add("lblLanSettingsSaveErr", "Nastavení se nepodařilo uložit do zařízení!", kRed);
  lblLanShowActualInformationOk =
      add("lblLanShowActualInformationOk",
          "Zobrazování aktuální informace bylo úspěšně uloženo do zařízení.", kGreen);
  lblLanShowActualInformationErr =
      add("lblLanShowActualInformationErr",
          "Zobrazování aktuální informace se nepodařilo uložit do zařízení!", kRed);

  // The status line is as wide as its longest text, so that none is ever cut off.
  const QFontMetrics metrics(pnlStatusbar->font());
  int widest = 0;
  QStringList texts = WidestInvalidAnswerTexts();
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
      btnCIOpen,
      btnCIClose,
      btnClose,
  };
  for (qsizetype i = 1; i < order.size(); ++i)
    setTabOrder(order[i - 1], order[i]);
}

void TfMain::ConnectControls() {
  const auto on = [this](auto* sender, auto signal, void (TfMain::*handler)()) {
    connect(sender, signal, this, GuardedSlot([this, handler] { (this->*handler)(); }));
  };
  on(btnCIOpen, &QPushButton::clicked, &TfMain::btnCIOpenClick);
  connect(btnCIClose, &QPushButton::clicked, this, GuardedSlot([this] {
            Disconnect();
            UpdateControls();
          }));
  connect(btnClose, &QPushButton::clicked, this, GuardedSlot([this] { close(); }));
  connect(btnAbout, &QPushButton::clicked, this, GuardedSlot([this] { FAbout->exec(); }));
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

// ---- Connection ----------------------------------------------------------------------------

bool TfMain::ConnectTo(const std::string& connection, TByte address) {
  FConnectionString = connection;
  FAddress = address;
  return ConnectAndShowStatus();
}

void TfMain::btnCIOpenClick() {
  if (!FConnectionDialog || !FConnectionDialog->Execute(FConnectionString, FAddress)) return;
  ConnectAndShowStatus();
}

bool TfMain::ConnectAndShowStatus() {
  const bool connected = Connect();
  UpdateControls();
  ShowStatusOf(connected ? lblLanOpenCIOk : lblLanOpenCIErr);
  pnlStatusbar->setToolTip(FConnectFailure);
  return connected;
}

bool TfMain::Connect() {
  TBusyCursor busy;
  const bool connected = FConnection->Connect(FConnectionString, FAddress);
  FConnectFailure = QString::fromStdString(FConnection->FailureReason());
  return connected;
}

void TfMain::Disconnect() {
  FConnection->Disconnect();
}

bool TfMain::IsConnected() {
  return FConnection->IsConnected();
}

void TfMain::UpdateControls() {
  const bool connected = IsConnected();
  EnableControls({TabSheet1, TabSheet2, TabSheet3, btnCIClose}, connected, true);
  if (!connected) return;
  const TDisplayCapabilities& capabilities = FConnection->Capabilities();
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
}

// ---- Status line ---------------------------------------------------------------------------

void TfMain::ShowStatus(const QString& text, const QColor& colour) {
  pnlStatusbar->setText(text);
  SetTextColour(pnlStatusbar, colour);
  pnlStatusbar->setToolTip(QString());
}

void TfMain::ShowStatusOf(const QLabel* label) {
  ShowStatus(label->text(), label->palette().color(QPalette::WindowText));
}

void TfMain::ShowLoadStatus(bool ok) {
  ShowStatusOf(ok ? lblLanSettingsLoadOk : lblLanSettingsLoadErr);
}

void TfMain::ShowSaveStatus(bool ok) {
  ShowStatusOf(ok ? lblLanSettingsSaveOk : lblLanSettingsSaveErr);
}

void TfMain::ShowInvalidAnswer(const TInvalidAnswer& invalid) {
  ShowStatus(InvalidAnswerText(invalid),
             lblLanSettingsLoadErr->palette().color(QPalette::WindowText));
  pnlStatusbar->setToolTip(lblLanSettingsLoadErr->text());
}

// ---- Poll and the first page ---------------------------------------------------------------

void TfMain::Timer1Timer() {
  TByteString segments;
  // Another number of bytes is no picture of the display: the shapes keep what they show.
  if (FDevice->GetDisplayData(segments) && !CheckSegments(segments))
    pnlDisplay->ShowDisplayData(segments);
  double degrees = 0;
  lblTemperature->setText(FDevice->GetTemperature(degrees)
                              ? QLocale().toString(degrees, 'f', 1) + QString::fromUtf8(" °C")
                              : QStringLiteral("---"));
  emit polled();
}

void TfMain::SegmentReleased() {
  // The result is not reported: the next poll shows what the display really shows.
  FDevice->SetDisplayData(pnlDisplay->CollectDisplayData());
}

void TfMain::btnDisplayCharsSetClick() {
  ShowSaveStatus(FDevice->SetDisplayChars(edtDisplayChars->text().toLatin1().toStdString()));
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
  ShowStatusOf(FDevice->ShowActualInformation() ? lblLanShowActualInformationOk
                                                : lblLanShowActualInformationErr);
}

// ---- "Zobrazení dat" -----------------------------------------------------------------------

void TfMain::btnDateTimeParamLoadClick() {
  TDateTimeParams params;
  TDataExpiration expiration;
  if (!FDevice->GetDateTimeParams(params) || !FDevice->GetDisplayDataExpiration(expiration))
    return ShowLoadStatus(false);
  if (const auto invalid = CheckDateTimeParams(params)) return ShowInvalidAnswer(*invalid);
  if (const auto invalid = CheckDataExpiration(expiration)) return ShowInvalidAnswer(*invalid);
  ieDisplayDataExpirationDelay->SetValue(expiration.seconds);
  (expiration.seconds == 0 ? rbDisplayDataExpirationNo : rbDisplayDataExpirationDelay)
      ->setChecked(true);
  ShowDateTimeParams(ShownDateTimeParams(params, FConnection->Capabilities()));
  ShowLoadStatus(true);
}

void TfMain::ShowDateTimeParams(const TDateTimeParams& params) {
  chbDateTimeAutoUpdate->setChecked(params.autoUpdate);
  chbDateTimeSummerTime->setChecked(params.summerTime);
  chbDateTimeFormat12Hour->setChecked(params.format12Hour);
  chbDateTimeFormatMDY->setChecked(params.formatMDY);
  chbDateTimeShowTime->setChecked(params.showTime);
  chbDateTimeShowDate->setChecked(params.showDate);
  ieDateTimeOffset->SetValue(params.offset);
  ieDateTimeZone->SetValue(params.zone);
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

void TfMain::btnDateTimeParamSaveClick() {
  const std::int32_t seconds =
      rbDisplayDataExpirationNo->isChecked() ? 0 : ieDisplayDataExpirationDelay->Value();
  if (!FDevice->SetDateTimeParams(CollectDateTimeParams())) return ShowSaveStatus(false);
  ShowSaveStatus(FDevice->SetDisplayDataExpiration(seconds));
}

// ---- "Ostatní" -----------------------------------------------------------------------------

// Both reads go out as they always have; a value that no setter would accept shows nothing.
void TfMain::btnDisplayParamLoadClick() {
  std::int32_t value = 0;
  const bool staticRead = FDevice->GetDisplayBrightness(value);
  const bool offered = OffersAutomaticBrightness(FConnection->Capabilities());
  TBrightnessAuto automatic = kNoAutomaticBrightness;
  const bool automaticRead = offered && FDevice->GetDisplayBrightnessAuto(automatic);
  std::optional<TInvalidAnswer> invalid = staticRead ? CheckBrightness(value) : std::nullopt;
  if (!invalid && automaticRead) invalid = CheckBrightnessAuto(automatic);
  if (invalid) return ShowInvalidAnswer(*invalid);
  if (staticRead) ieDisplayBrightness->SetValue(value);
  if (!offered)
    rbDisplayBrightnessStatic->setChecked(true);
  else if (automaticRead)
    ShowBrightnessAuto(automatic);
  ShowLoadStatus(staticRead && (automaticRead || !offered));
}

void TfMain::ShowBrightnessAuto(const TBrightnessAuto& settings) {
  (settings.automatic ? rbDisplayBrightnessAuto : rbDisplayBrightnessStatic)->setChecked(true);
  ieDisplayBrightnessMin->SetValue(settings.min);
  ieDisplayBrightnessMax->SetValue(settings.max);
  ieDisplayBrightnessGain->SetValue(settings.gain);
}

void TfMain::btnDisplayParamSaveClick() {
  if (!FDevice->SetDisplayBrightness(ieDisplayBrightness->Value())) return ShowSaveStatus(false);
  if (OffersAutomaticBrightness(FConnection->Capabilities()) &&
      !FDevice->SetDisplayBrightnessAuto(
          {rbDisplayBrightnessAuto->isChecked(), ieDisplayBrightnessMin->Value(),
           ieDisplayBrightnessMax->Value(), ieDisplayBrightnessGain->Value()}))
    return ShowSaveStatus(false);
  ShowSaveStatus(true);
}

void TfMain::btnDateTimeLoadClick() {
  TDateTime value = 0;
  if (!FDevice->GetDateTime(value)) return ShowLoadStatus(false);
  if (const auto invalid = CheckClock(value)) return ShowInvalidAnswer(*invalid);
  const QDateTime loaded = ToQDateTime(value);
  dtpDeviceTime->setTime(loaded.time());
  dtpDeviceDate->setDate(loaded.date());
  ShowLoadStatus(true);
}

void TfMain::btnDateTimeSaveClick() {
  const std::optional<TDateTime> value = Combined(dtpDeviceDate->date(), dtpDeviceTime->time());
  ShowSaveStatus(value && FDevice->SetDateTime(*value));
}

void TfMain::btnDateTimeSavePCClick() {
  ShowSaveStatus(FDevice->SetDateTime(Now()));
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

}  // namespace zorvid
