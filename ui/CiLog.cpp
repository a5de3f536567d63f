#include "ui/CiLog.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QStyle>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "core/HexText.h"
#include "core/NodedInterface.h"
#include "protocol/Korvel97.h"
#include "ui/Application.h"
#include "ui/NamedControls.h"

namespace zorvid {
namespace {

// Byte 6 of a packet: the instruction code of a request, the acknowledge code of an answer.
constexpr std::size_t kCodeOffset = 6;

constexpr int kTickMs = 250;
constexpr QSize kWindowSize(581, 546);

const QColor kSentPacketColour(0, 128, 0);
const QColor kAcknowledgedColour(0, 0, 255);
const QColor kRefusedColour(255, 0, 0);
const QColor kLeftOverSentColour(255, 128, 0);
const QColor kWaitingReceivedColour(255, 0, 255);

QColor PacketColour(TByte kind, TByte code) {
  if (kind == kSpySent) return kSentPacketColour;
  return code == 0 ? kAcknowledgedColour : kRefusedColour;
}

// The bytes as characters. A control byte shows as its two hex digits in angle brackets ("<0D>"):
// a line break in the data must not split one entry over several lines of the log, and not
// every font has visible symbols for control characters.
QString RawText(std::string_view bytes) {
  QString text;
  text.reserve(static_cast<qsizetype>(bytes.size()));
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const TByte byte = ByteAt(bytes, i);
    if (byte < 0x20 || byte == 0x7F)
      text +=
          QLatin1Char('<') + QLatin1String(FormatHexPacked(bytes.substr(i, 1))) + QLatin1Char('>');
    else
      text += QChar(byte);
  }
  return text;
}

QTextCharFormat PrefixFormat() {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSize(6);
  QTextCharFormat format;
  format.setFont(font);
  format.setForeground(QColor(Qt::black));
  return format;
}

QTextCharFormat TextFormat() {
  const QString carlito = QStringLiteral("Carlito");
  QFont font = QFontDatabase::hasFamily(carlito)
                   ? QFont(carlito)
                   : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPointSize(10);
  QTextCharFormat format;
  format.setFont(font);
  return format;
}

QAction* NewAction(QMenu* menu, const char* name, const char* caption) {
  QAction* action = menu->addAction(QString::fromUtf8(caption));
  action->setObjectName(name);
  return action;
}

}  // namespace

// ---- Cutting ------------------------------------------------------------------------------

std::vector<TLogLine> TLogCutter::Cut(const std::vector<TLogStruct>& items,
                                      const QString& disabledInst) {
  std::vector<TLogLine> lines;
  disabledInst_ = disabledInst;
  lines_ = &lines;
  for (const TLogStruct& item : items)
    CutItem(item);
  lines_ = nullptr;
  return lines;
}

void TLogCutter::CutItem(const TLogStruct& item) {
  if (item.kind == kSpyReceived) {
    FReceived += item.data;
    FReceived.erase(0, CutPackets(FReceived, item));
    return;
  }
  const std::string_view text(item.data);
  const std::string_view leftOver = text.substr(CutPackets(text, item));
  if (item.kind != kSpySent || leftOver.empty()) return;
  if (!FReceived.empty()) {
    lines_->push_back({RawText(FReceived), kWaitingReceivedColour, item.time});
    FReceived.clear();
  }
  lines_->push_back({RawText(leftOver), kLeftOverSentColour, item.time});
}

std::size_t TLogCutter::CutPackets(std::string_view buffer, const TLogStruct& item) {
  std::size_t used = 0;
  while (const std::size_t size = CompletePacketSize97(buffer.substr(used))) {
    AddPacket(buffer.substr(used, size), item);
    used += size;
  }
  return used;
}

void TLogCutter::AddPacket(std::string_view packet, const TLogStruct& item) {
  if (ValidatePacket97(TByteString(packet)) != kPacket97Valid) return;
  const std::string_view code = packet.substr(kCodeOffset, 1);
  if (disabledInst_.contains(QLatin1String(FormatHexPacked(code)))) {
    FSkipNext = true;
    return;
  }
  if (std::exchange(FSkipNext, false)) return;  // the answer to a hidden request
  lines_->push_back({QString::fromLatin1(FormatHexSpaced(packet)),
                     PacketColour(item.kind, ByteAt(code, 0)), item.time});
}

// ---- Writing ------------------------------------------------------------------------------

TLogWriter::TLogWriter(QTextEdit& control, bool scroll)
    : control_(control),
      scroll_(scroll),
      cursor_(control.document()),
      selectionAnchor_(control.textCursor().anchor()),
      selectionPosition_(control.textCursor().position()),
      prefixFormat_(PrefixFormat()),
      textFormat_(TextFormat()) {
  cursor_.movePosition(QTextCursor::End);
  cursor_.beginEditBlock();
}

TLogWriter::~TLogWriter() {
  cursor_.endEditBlock();
  RestoreSelection();
  if (scroll_) ScrollToEnd();
}

void TLogWriter::Add(const QString& text, const QColor& colour, TLogTime time) {
  if (!control_.document()->isEmpty()) cursor_.insertBlock();
  if (const QString& prefix = Prefix(time); !prefix.isEmpty())
    cursor_.insertText(prefix, prefixFormat_);
  textFormat_.setForeground(colour);
  cursor_.insertText(text, textFormat_);
}

const QString& TLogWriter::Prefix(TLogTime time) {
  static const QString none;
  if (time == TLogTime()) return none;
  const auto second = std::chrono::floor<std::chrono::seconds>(time);
  if (second != prefixSecond_) {
    prefixSecond_ = second;
    prefix_ = QDateTime::fromSecsSinceEpoch(second.time_since_epoch().count())
                  .toString(QStringLiteral("[yyyy-MM-dd hh:mm:ss] "));
  }
  return prefix_;
}

// A user's cursor at the end moves along with the text appended there; put it back.
void TLogWriter::RestoreSelection() {
  QTextCursor selection = control_.textCursor();
  if (selection.anchor() == selectionAnchor_ && selection.position() == selectionPosition_) return;
  selection.setPosition(selectionAnchor_);
  selection.setPosition(selectionPosition_, QTextCursor::KeepAnchor);
  control_.setTextCursor(selection);
}

void TLogWriter::ScrollToEnd() {
  QScrollBar* bar = control_.verticalScrollBar();
  bar->setValue(bar->maximum());
}

void AddLogLine(QTextEdit& control, const QString& text, const QColor& colour, TLogTime time,
                bool scroll) {
  TLogWriter writer(control, scroll);
  writer.Add(text, colour, time);
}

// ---- The window ---------------------------------------------------------------------------

TfCiLog::TfCiLog(QWidget* owner) : QWidget(owner, Qt::Tool) {
  setObjectName("fCILog");
  setWindowTitle(QString::fromUtf8("Komunikační log"));
  BuildControls();
  BuildMenu();
  ConnectControls();
  CenterOnScreen();
  FSink.emplace(TSpySink(this, &TfCiLog::LogTraffic));
  Timer1->start();
}

TfCiLog::~TfCiLog() {
  FVisible = false;
  FSink.reset();
}

void TfCiLog::BuildControls() {
  reLog = new QTextEdit;
  reLog->setObjectName("reLog");
  reLog->setReadOnly(true);
  reLog->setUndoRedoEnabled(false);  // an undo record per line would cost as much as the line
  reLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  reLog->setContextMenuPolicy(Qt::CustomContextMenu);

  btnClear = NewButton("btnClear", "Clear");
  sbPause = NewButton("sbPause", "Pause");
  sbPause->setCheckable(true);
  edtDisabledInst = new QLineEdit(QStringLiteral("Disabled Inst"));
  edtDisabledInst->setObjectName("edtDisabledInst");

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnClear);
  buttons->addWidget(sbPause);
  buttons->addWidget(edtDisabledInst);
  buttons->addStretch();

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(reLog, 1);
  layout->addLayout(buttons);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(kTickMs);
}

void TfCiLog::BuildMenu() {
  pmLog = new QMenu(this);
  pmLog->setObjectName("pmLog");
  miCopy = NewAction(pmLog, "miCopy", "Kopírovat");
  miCopy->setEnabled(false);
  miSelectAll = NewAction(pmLog, "miSelectAll", "Vybrat vše");
  miSaveAs = NewAction(pmLog, "miSaveAs", "Uložit jako…");
}

void TfCiLog::ConnectControls() {
  connect(Timer1, &QTimer::timeout, this, GuardedSlot([this] { Timer1Timer(); }));
  // The log text belongs to this thread alone, so emptying it needs no lock; the buffered
  // items, the waiting received bytes and the hiding state stay.
  connect(btnClear, &QPushButton::clicked, this, GuardedSlot([this] { reLog->clear(); }));
  connect(sbPause, &QPushButton::toggled, this, GuardedSlot([this](bool paused) {
            if (paused)
              Timer1->stop();
            else
              Timer1->start();
          }));
  connect(reLog, &QTextEdit::customContextMenuRequested, this,
          GuardedSlot([this](const QPoint& position) { ShowMenu(position); }));
  connect(reLog, &QTextEdit::copyAvailable, miCopy, &QAction::setEnabled);
  connect(miCopy, &QAction::triggered, this, GuardedSlot([this] { reLog->copy(); }));
  connect(miSelectAll, &QAction::triggered, this, GuardedSlot([this] { reLog->selectAll(); }));
  connect(miSaveAs, &QAction::triggered, this, GuardedSlot([this] { SaveLogAs(); }));
}

void TfCiLog::CenterOnScreen() {
  resize(kWindowSize);
  if (const QScreen* display = screen())
    move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, frameSize(),
                             display->availableGeometry())
             .topLeft());
}

void TfCiLog::ShowLog(const QString& filter) {
  {
    std::lock_guard lock(FLock);
    FFilter = filter.toStdString();
  }
  show();
}

void TfCiLog::showEvent(QShowEvent* event) {
  FVisible = true;
  QWidget::showEvent(event);
}

// A minimised window still counts as visible and keeps logging.
void TfCiLog::hideEvent(QHideEvent* event) {
  if (!event->spontaneous()) FVisible = false;
  QWidget::hideEvent(event);
}

std::string TfCiLog::Filter() {
  std::lock_guard lock(FLock);
  return FFilter;
}

void TfCiLog::LogTraffic(TCiRef ci, const TByteString& bytes, TByte kind) {
  if (!ci || bytes.empty() || !FVisible) return;
  TLogStruct item{bytes, std::chrono::system_clock::now(), kind};
  const TRef<INodedInterface> node = Supports<INodedInterface>(ci);
  if (!node) return;
  // The GUID is read outside FLock: the node's lock is held by callers that spy under it.
  if (const std::string filter = Filter(); !filter.empty() && node->GetGUIDString() != filter)
    return;
  std::lock_guard lock(FLock);
  FPending.push_back(std::move(item));
}

std::vector<TLogStruct> TfCiLog::TakePending() {
  std::vector<TLogStruct> items;
  std::lock_guard lock(FLock);
  items.swap(FPending);
  return items;
}

// The pending items are taken out under FLock and written after it is let go, so a spy call on
// a transport thread never waits for the writing.
void TfCiLog::Timer1Timer() {
  const std::vector<TLogStruct> items = TakePending();
  if (items.empty()) return;
  const std::vector<TLogLine> lines = FCutter.Cut(items, edtDisabledInst->text());
  if (lines.empty()) return;
  TLogWriter writer(*reLog, true);
  for (const TLogLine& line : lines)
    writer.Add(line.text, line.colour, line.time);
}

void TfCiLog::ShowMenu(const QPoint& position) {
  pmLog->popup(reLog->viewport()->mapToGlobal(position));
}

void TfCiLog::SaveLogAs() {
  const QString path =
      QFileDialog::getSaveFileName(this, QString::fromUtf8("Uložit jako…"), QString(),
                                   QString::fromUtf8("Text (*.txt);;Vše (*)"));
  if (!path.isEmpty()) SaveLog(path);
}

bool TfCiLog::SaveLog(const QString& path) {
  QString text = reLog->toPlainText();
  if (!text.isEmpty()) text += u'\n';
  const QByteArray bytes = text.toUtf8();
  QSaveFile file(path);
  if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
    return true;
  QMessageBox::warning(this, windowTitle(),
                       QString::fromUtf8("Log se nepodařilo uložit do souboru „%1“: %2")
                           .arg(QDir::toNativeSeparators(path), file.errorString()));
  return false;
}

}  // namespace zorvid
