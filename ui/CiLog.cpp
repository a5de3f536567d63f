#include "ui/CiLog.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <sstream>
#include <utility>

#include "capture/CsvExport.h"
#include "capture/PcapngWriter.h"
#include "core/NodedInterface.h"
#include "ui/Application.h"
#include "ui/LogLineDelegate.h"
#include "ui/NamedControls.h"

namespace zorvid {
namespace {

constexpr int kTickMs = 250;
constexpr QSize kWindowSize(581, 546);
constexpr int kLimits[] = {10'000, 100'000, 1'000'000};

QAction* NewAction(QMenu* menu, const char* name, const QString& caption) {
  QAction* action = menu->addAction(caption);
  action->setObjectName(name);
  return action;
}

// "1 000 000": thousands apart by a space, as the window's language writes them.
QString LimitCaption(int limit) {
  QString digits = QString::number(limit);
  for (auto at = digits.size() - 3; at > 0; at -= 3)
    digits.insert(at, u' ');
  return digits;
}

}  // namespace

// ---- The window ---------------------------------------------------------------------------

TfCiLog::TfCiLog(QWidget* owner) : QWidget(owner, Qt::Tool) {
  setObjectName("fCILog");
  setWindowTitle(tr("Komunikační log"));
  // The technician reads the log beside the main window, which keeps the focus.
  setAttribute(Qt::WA_AlwaysShowToolTips);
  BuildControls();
  BuildMenu();
  ConnectControls();
  ConnectFind();
  CenterOnScreen();
  FSink.emplace([this](const TCiRef& line, TTrafficDirection direction, const TByteString& bytes) {
    LogTraffic(line, direction, bytes);
  });
  Timer1->start();
}

TfCiLog::~TfCiLog() {
  FVisible = false;
  FSink.reset();
}

void TfCiLog::BuildControls() {
  FModel = new TLogModel(this);
  FDelegate = new TLogLineDelegate(*FModel, this);
  reLog = new QListView;
  reLog->setObjectName("reLog");
  reLog->setModel(FModel);
  reLog->setItemDelegate(FDelegate);
  // Rows of one size are laid out without asking each one: the cost of a tick does not grow
  // with the lines already in the log.
  reLog->setUniformItemSizes(true);
  reLog->setSelectionMode(QAbstractItemView::ExtendedSelection);
  reLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
  reLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  reLog->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  reLog->setContextMenuPolicy(Qt::CustomContextMenu);

  btnNewLines = NewButton("btnNewLines", "");
  btnNewLines->hide();

  btnClear = NewButton("btnClear", "&Clear");
  sbPause = NewButton("sbPause", "P&ause");
  sbPause->setCheckable(true);
  edtDisabledInst = new QLineEdit(QStringLiteral("Disabled Inst"));
  edtDisabledInst->setObjectName("edtDisabledInst");

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnClear);
  buttons->addWidget(sbPause);
  buttons->addWidget(edtDisabledInst);
  buttons->addStretch();
  buttons->addWidget(btnNewLines);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(reLog, 1);
  layout->addWidget(BuildFindBar());
  layout->addLayout(buttons);

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(kTickMs);
}

QWidget* TfCiLog::BuildFindBar() {
  pnlFind = new QWidget;
  pnlFind->setObjectName("pnlFind");
  edtFind = new QLineEdit;
  edtFind->setObjectName("edtFind");
  edtFind->setPlaceholderText(QStringLiteral("Text or hex bytes"));
  edtFind->setClearButtonEnabled(true);
  auto* label = new QLabel(QStringLiteral("&Find:"));
  label->setBuddy(edtFind);
  btnFindPrevious = NewButton("btnFindPrevious", "&Previous");
  btnFindNext = NewButton("btnFindNext", "&Next");
  lblFindStatus = new QLabel;
  lblFindStatus->setObjectName("lblFindStatus");
  btnFindClose = new QToolButton;
  btnFindClose->setObjectName("btnFindClose");
  btnFindClose->setAutoRaise(true);
  btnFindClose->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
  btnFindClose->setToolTip(QStringLiteral("Close (Esc)"));

  auto* layout = new QHBoxLayout(pnlFind);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(label);
  layout->addWidget(edtFind, 1);
  layout->addWidget(btnFindPrevious);
  layout->addWidget(btnFindNext);
  layout->addWidget(lblFindStatus);
  layout->addWidget(btnFindClose);
  pnlFind->hide();
  return pnlFind;
}

void TfCiLog::BuildMenu() {
  pmLog = new QMenu(this);
  pmLog->setObjectName("pmLog");
  miCopy = NewAction(pmLog, "miCopy", tr("Kopírovat"));
  miCopy->setEnabled(false);
  miCopy->setShortcut(QKeySequence::Copy);
  miCopy->setShortcutContext(Qt::WidgetShortcut);
  reLog->addAction(miCopy);
  miSelectAll = NewAction(pmLog, "miSelectAll", tr("Vybrat vše"));
  miSaveAs = NewAction(pmLog, "miSaveAs", tr("Uložit jako…"));
  pmLog->addSeparator();
  miMilliseconds = NewAction(pmLog, "miMilliseconds", tr("Zobrazit milisekundy"));
  miMilliseconds->setCheckable(true);
  pmLimit = pmLog->addMenu(tr("Nejvýše řádků"));
  pmLimit->setObjectName("pmLimit");
  FLimitChoices = new QActionGroup(this);
  for (const int limit : kLimits) {
    QAction* choice = pmLimit->addAction(LimitCaption(limit));
    choice->setObjectName(QStringLiteral("miLimit%1").arg(limit));
    choice->setData(limit);
    choice->setCheckable(true);
    choice->setChecked(limit == FModel->Limit());
    FLimitChoices->addAction(choice);
  }
}

void TfCiLog::ConnectControls() {
  connect(Timer1, &QTimer::timeout, this, GuardedSlot([this] { Timer1Timer(); }));
  // The log belongs to this thread alone, so emptying it needs no lock; the buffered items,
  // the waiting received bytes and the requests waiting for answers stay.
  connect(btnClear, &QPushButton::clicked, this, GuardedSlot([this] {
            FModel->Clear();
            ShowNewLines();
          }));
  connect(sbPause, &QPushButton::toggled, this, GuardedSlot([this](bool paused) {
            if (paused)
              Timer1->stop();
            else
              Timer1->start();
          }));
  connect(btnNewLines, &QPushButton::clicked, this, GuardedSlot([this] { ScrollToNewest(); }));
  connect(reLog->verticalScrollBar(), &QScrollBar::valueChanged, this, GuardedSlot([this] {
            if (FNewLines > 0 && AtBottom()) ShowNewLines();
          }));
  connect(FModel, &TLogModel::oldestRemoved, this,
          GuardedSlot([this](int removed) { KeepPlace(removed); }));
  connect(FModel, &TLogModel::widestChanged, this,
          GuardedSlot([this] { emit FDelegate->sizeHintChanged(FModel->index(0)); }));
  connect(reLog, &QListView::customContextMenuRequested, this,
          GuardedSlot([this](const QPoint& position) { ShowMenu(position); }));
  connect(reLog->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          GuardedSlot([this] { miCopy->setEnabled(reLog->selectionModel()->hasSelection()); }));
  // As a hover shows a tooltip after a pause: a tooltip goes with the next key, so it comes
  // once the keys rest.
  FDescriptionDelay = new QTimer(this);
  FDescriptionDelay->setSingleShot(true);
  FDescriptionDelay->setInterval(QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay));
  connect(reLog->selectionModel(), &QItemSelectionModel::currentChanged, FDescriptionDelay,
          qOverload<>(&QTimer::start));
  connect(FDescriptionDelay, &QTimer::timeout, this,
          GuardedSlot([this] { ShowCurrentDescription(); }));
  connect(miCopy, &QAction::triggered, this, GuardedSlot([this] { CopySelection(); }));
  connect(miSelectAll, &QAction::triggered, this, GuardedSlot([this] { reLog->selectAll(); }));
  connect(miSaveAs, &QAction::triggered, this, GuardedSlot([this] { SaveLogAs(); }));
  connect(miMilliseconds, &QAction::toggled, this, GuardedSlot([this](bool show) {
            FModel->SetShowMilliseconds(show);
            emit FDelegate->sizeHintChanged(FModel->index(0));
          }));
  connect(FLimitChoices, &QActionGroup::triggered, this,
          GuardedSlot([this](QAction* choice) { SetLimit(choice->data().toInt()); }));
}

void TfCiLog::ConnectFind() {
  auto* find = new QShortcut(QKeySequence::Find, this);
  connect(find, &QShortcut::activated, this, GuardedSlot([this] { OpenFind(); }));
  auto* next = new QShortcut(QKeySequence::FindNext, this);
  connect(next, &QShortcut::activated, this, GuardedSlot([this] { FindNext(true); }));
  auto* previous = new QShortcut(QKeySequence::FindPrevious, this);
  connect(previous, &QShortcut::activated, this, GuardedSlot([this] { FindNext(false); }));
  auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), pnlFind);
  close->setContext(Qt::WidgetWithChildrenShortcut);
  connect(close, &QShortcut::activated, btnFindClose, &QToolButton::click);

  connect(edtFind, &QLineEdit::textChanged, this, GuardedSlot([this] { QueryChanged(); }));
  connect(edtFind, &QLineEdit::returnPressed, this, GuardedSlot([this] { FindNext(true); }));
  connect(btnFindNext, &QPushButton::clicked, this, GuardedSlot([this] { FindNext(true); }));
  connect(btnFindPrevious, &QPushButton::clicked, this, GuardedSlot([this] { FindNext(false); }));
  connect(btnFindClose, &QToolButton::clicked, this, GuardedSlot([this] {
            pnlFind->hide();
            FDelegate->SetQuery(nullptr);
            reLog->viewport()->update();
            reLog->setFocus();
          }));
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
// Under FLock, so that no line a thread is about to add comes after the window was hidden.
void TfCiLog::hideEvent(QHideEvent* event) {
  if (!event->spontaneous()) {
    std::lock_guard lock(FLock);
    FVisible = false;
  }
  QWidget::hideEvent(event);
}

std::string TfCiLog::Filter() {
  std::lock_guard lock(FLock);
  return FFilter;
}

void TfCiLog::LogTraffic(const TCiRef& ci, TTrafficDirection direction, const TByteString& bytes) {
  if (!ci || bytes.empty() || !FVisible) return;
  TLogStruct item{bytes, std::chrono::system_clock::now(), direction};
  const TRef<INodedInterface> node = Supports<INodedInterface>(ci);
  if (!node) return;
  // The GUID is read outside FLock: the node's lock is held by callers that spy under it.
  if (const std::string filter = Filter(); !filter.empty() && node->GetGUIDString() != filter)
    return;
  std::lock_guard lock(FLock);
  if (!FVisible) return;  // hidden since the look above
  FPending.push_back(std::move(item));
  if (FPending.size() > static_cast<std::size_t>(FPendingLimit.load())) FPending.pop_front();
}

std::vector<TLogStruct> TfCiLog::TakePending() {
  std::vector<TLogStruct> items;
  std::lock_guard lock(FLock);
  items.assign(std::make_move_iterator(FPending.begin()), std::make_move_iterator(FPending.end()));
  FPending.clear();
  return items;
}

// The pending items are taken out under FLock and written after it is let go, so a spy call on
// a transport thread never waits for the writing.
void TfCiLog::Timer1Timer() {
  const std::vector<TLogStruct> items = TakePending();
  if (items.empty()) return;
  std::vector<TLogEntry> entries = FCutter.Cut(items, edtDisabledInst->text());
  if (entries.empty()) return;
  const int added = static_cast<int>(entries.size());
  const bool following = AtBottom();
  FModel->Append(std::move(entries));
  if (following)
    ScrollToNewest();
  else
    FollowNewLines(added);
}

// ---- Following ----------------------------------------------------------------------------

bool TfCiLog::AtBottom() const {
  const QScrollBar* bar = reLog->verticalScrollBar();
  return bar->value() >= bar->maximum();
}

void TfCiLog::FollowNewLines(int added) {
  FNewLines += added;
  ShowNewLines();
}

// The lines the reader looks at moved up with the removal: the view goes with them.
void TfCiLog::KeepPlace(int removed) {
  if (AtBottom()) return;
  QScrollBar* bar = reLog->verticalScrollBar();
  bar->setValue(std::max(0, bar->value() - removed));
}

void TfCiLog::ShowNewLines() {
  if (AtBottom()) FNewLines = 0;
  btnNewLines->setText(QStringLiteral("%1 new &lines \u2193").arg(FNewLines));
  btnNewLines->setVisible(FNewLines > 0);
}

void TfCiLog::ScrollToNewest() {
  reLog->scrollToBottom();
  FNewLines = 0;
  ShowNewLines();
}

// ---- Finding ------------------------------------------------------------------------------

void TfCiLog::OpenFind() {
  pnlFind->show();
  FDelegate->SetQuery(&FQuery);
  edtFind->setFocus();
  edtFind->selectAll();
  reLog->viewport()->update();
}

void TfCiLog::QueryChanged() {
  FQuery = TLogQuery(edtFind->text());
  lblFindStatus->clear();
  reLog->viewport()->update();
}

bool TfCiLog::FindNext(bool forward) {
  if (pnlFind->isHidden()) OpenFind();
  const int current = reLog->currentIndex().isValid() ? reLog->currentIndex().row() : -1;
  const std::optional<int> row = FindLogLine(*FModel, FQuery, current, forward);
  lblFindStatus->setText(row || FQuery.IsEmpty() ? QString() : QStringLiteral("no match"));
  if (!row) return false;
  const QModelIndex index = FModel->index(*row);
  // In view first, so that its description shows beside it.
  reLog->scrollTo(index, QAbstractItemView::PositionAtCenter);
  reLog->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  return true;
}

// A line chosen by keyboard shows what its tooltip would show under the mouse.
void TfCiLog::ShowCurrentDescription() {
  const QModelIndex current = reLog->currentIndex();
  if (!current.isValid() || !isVisible() || !reLog->hasFocus()) return;
  const QRect rect = reLog->visualRect(current);
  QToolTip::showText(reLog->viewport()->mapToGlobal(rect.bottomLeft()),
                     FModel->data(current, Qt::ToolTipRole).toString(), reLog->viewport());
}

// ---- The menu -----------------------------------------------------------------------------

void TfCiLog::ShowMenu(const QPoint& position) {
  pmLog->popup(reLog->viewport()->mapToGlobal(position));
}

void TfCiLog::SetLimit(int limit) {
  FPendingLimit = limit;
  FModel->SetLimit(limit);
  for (QAction* choice : FLimitChoices->actions())
    choice->setChecked(choice->data().toInt() == limit);
}

void TfCiLog::CopySelection() {
  QModelIndexList rows = reLog->selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end());
  QStringList lines;
  for (const QModelIndex& row : rows)
    lines += FModel->Line(row.row());
  QGuiApplication::clipboard()->setText(lines.join(u'\n'));
}

void TfCiLog::SaveLogAs() {
  static const QString kFilters[] = {QStringLiteral("Text (*.txt)"), QStringLiteral("CSV (*.csv)"),
                                     QStringLiteral("pcapng (*.pcapng)")};
  static const char* const kSuffixes[] = {"txt", "csv", "pcapng"};
  QString chosen = kFilters[0];
  QString path = QFileDialog::getSaveFileName(
      this, tr("Uložit jako…"), QString(),
      QStringList(std::begin(kFilters), std::end(kFilters)).join(QStringLiteral(";;")), &chosen);
  if (path.isEmpty()) return;
  const auto format = static_cast<std::size_t>(
      std::find(std::begin(kFilters), std::end(kFilters), chosen) - std::begin(kFilters));
  if (format >= std::size(kFilters)) return void(SaveLog(path));
  if (QFileInfo(path).suffix().isEmpty()) path += u'.' + QLatin1String(kSuffixes[format]);
  SaveLog(path, static_cast<TFileFormat>(format));
}

bool TfCiLog::SaveLog(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix == QLatin1String("csv")) return SaveLog(path, TFileFormat::kCsv);
  if (suffix == QLatin1String("pcapng")) return SaveLog(path, TFileFormat::kPcapng);
  return SaveLog(path, TFileFormat::kText);
}

bool TfCiLog::SaveLog(const QString& path, TFileFormat format) {
  const QByteArray bytes = FileContents(format);
  QSaveFile file(path);
  if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
    return true;
  QMessageBox::warning(this, QApplication::applicationDisplayName(),
                       tr("Log se nepodařilo uložit do souboru „%1“: %2")
                           .arg(QDir::toNativeSeparators(path), file.errorString()));
  return false;
}

QByteArray TfCiLog::FileContents(TFileFormat format) const {
  const int count = FModel->rowCount();
  if (format == TFileFormat::kText) {
    QString text;
    for (int row = 0; row < count; ++row)
      text += FModel->Line(row, true) + u'\n';
    return text.toUtf8();
  }
  std::ostringstream out;
  if (format == TFileFormat::kCsv) {
    out << CsvHeader();
    for (int row = 0; row < count; ++row)
      out << CsvRow(FModel->Entry(row).record, FModel->Entry(row).requestInstruction);
  } else {
    TPcapngWriter writer(out);
    for (int row = 0; row < count; ++row)
      writer.Write(FModel->Entry(row).record);
  }
  const std::string contents = std::move(out).str();
  return QByteArray(contents.data(), static_cast<qsizetype>(contents.size()));
}

}  // namespace zorvid
