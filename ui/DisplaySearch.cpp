#include "ui/DisplaySearch.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>

#include "core/EchoText.h"
#include "link/DisplayConnection.h"
#include "ui/Application.h"
#include "ui/ConnectionDialog.h"
#include "ui/NamedControls.h"

namespace zorvid {
namespace {

enum TColumn { kAddressColumn, kBaudColumn, kIdentificationColumn };

QString BaudText(std::int32_t baud) {
  return baud > 0 ? QStringLiteral("%1 Bd").arg(baud) : QStringLiteral("–");
}

bool IsDefaultBaud(std::int32_t baud) {
  return std::find(kDefaultScanBauds.begin(), kDefaultScanBauds.end(), baud) !=
         kDefaultScanBauds.end();
}

}  // namespace

QString AddressNotations(TByte address) {
  const QChar character(address);
  const QString shown = address < 0x80 && character.isLetterOrNumber()
                            ? QStringLiteral("'%1'").arg(character)
                            : QStringLiteral("   ");
  return QStringLiteral("%1 %2 0x%3")
      .arg(shown)
      .arg(address, 3)
      .arg(QStringLiteral("%1").arg(address, 2, 16, QLatin1Char('0')).toUpper());
}

TfDisplaySearch::TfDisplaySearch(std::string connection, QWidget* owner, TByte first, TByte last)
    : QDialog(owner),
      FConnection(std::move(connection)),
      FFirst(first),
      FLast(last),
      FHasSpeed(ChoiceOfConnection(FConnection).Speed().has_value()) {
  setObjectName("fDisplaySearch");
  setWindowTitle(tr("Najít displeje"));
  tblFound = new QTableWidget(0, 3);
  tblFound->setObjectName("tblFound");
  tblFound->setHorizontalHeaderLabels({tr("Adresa"), tr("Rychlost"), tr("Identifikace")});
  tblFound->horizontalHeader()->setStretchLastSection(true);
  tblFound->verticalHeader()->hide();
  tblFound->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tblFound->setSelectionBehavior(QAbstractItemView::SelectRows);
  tblFound->setSelectionMode(QAbstractItemView::SingleSelection);
  tblFound->setToolTip(tr("Dvojklikem vyberete displej pro připojení."));

  btnSearch = NewButton("btnSearch", tr("&Hledat"));
  btnStop = NewButton("btnStop", tr("&Zastavit"));
  btnClose = NewButton("btnClose", tr("Za&vřít"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnSearch);
  buttons->addWidget(btnStop);
  buttons->addStretch();
  buttons->addWidget(btnClose);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(BuildBauds());
  layout->addWidget(BuildProgress());
  layout->addWidget(tblFound, 1);
  layout->addLayout(buttons);
  resize(520, 420);

  connect(btnSearch, &QPushButton::clicked, this, GuardedSlot([this] { Start(); }));
  connect(btnStop, &QPushButton::clicked, this, GuardedSlot([this] { Stop(); }));
  connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
  connect(tblFound, &QTableWidget::cellDoubleClicked, this,
          GuardedSlot([this](int row, int) { ChooseRow(row); }));
  tblFound->installEventFilter(this);
  ShowSearching(false);
  btnSearch->setDefault(true);
}

TfDisplaySearch::~TfDisplaySearch() {
  if (!FThread) return;
  FScan->Stop();
  FThread->wait();
}

QWidget* TfDisplaySearch::BuildBauds() {
  // The rates are numbers, too many for a mnemonic each: the group's mnemonic leads to them.
  auto* group = new QGroupBox(tr("&Rychlosti"));
  group->setObjectName("gbBauds");
  auto* grid = new QGridLayout(group);
  constexpr int kColumns = 4;
  for (const std::int32_t baud : kBaudTable) {
    auto* choice = new QCheckBox(QString::number(baud));
    choice->setObjectName(QStringLiteral("chbBaud%1").arg(baud));
    choice->setChecked(IsDefaultBaud(baud));
    const int index = static_cast<int>(FBaudChoices.size());
    grid->addWidget(choice, index / kColumns, index % kColumns);
    FBaudChoices.push_back(choice);
  }
  group->setEnabled(FHasSpeed);
  if (!FHasSpeed) group->setToolTip(tr("Linka TCP se prohledá jednou."));
  return group;
}

QWidget* TfDisplaySearch::BuildProgress() {
  auto* box = new QWidget;
  pbSearch = new QProgressBar;
  pbSearch->setObjectName("pbSearch");
  pbSearch->setRange(0, 1);
  pbSearch->setValue(0);
  lblSearch = new QLabel;
  lblSearch->setObjectName("lblSearch");
  // A failure names the whole connection string: it wraps, and never widens the window.
  lblSearch->setWordWrap(true);
  lblSearch->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(pbSearch);
  layout->addWidget(lblSearch);
  return box;
}

std::vector<std::int32_t> TfDisplaySearch::ChosenBauds() const {
  std::vector<std::int32_t> bauds;
  for (std::size_t i = 0; i < FBaudChoices.size(); ++i)
    if (FBaudChoices[i]->isChecked()) bauds.push_back(kBaudTable[i]);
  return bauds;
}

void TfDisplaySearch::Start() {
  if (FThread) return;
  const std::vector<std::int32_t> bauds = ChosenBauds();
  if (FHasSpeed && bauds.empty()) {
    lblSearch->setText(tr("Zaškrtněte alespoň jednu rychlost."));
    return;
  }
  lblSearch->setToolTip(QString());
  tblFound->setRowCount(0);
  FFound.clear();
  FChosen.reset();
  FResult = {};
  TScanOptions options;
  options.connection = FConnection;
  options.first = FFirst;
  options.last = FLast;
  options.bauds = bauds;
  // The callbacks run on the search's thread: they only queue their values to this one.
  FScan = std::make_unique<TDisplayScan>(
      options,
      [this](TByte address, std::int32_t baud, int done, int total) {
        QMetaObject::invokeMethod(
            this, [this, address, baud, done, total] { ShowProgress(address, baud, done, total); },
            Qt::QueuedConnection);
      },
      [this](const TFoundDisplay& display) {
        QMetaObject::invokeMethod(
            this, [this, display] { AddFound(display); }, Qt::QueuedConnection);
      });
  FThread.reset(QThread::create([this] {
    try {
      FResult = FScan->Run();
    } catch (const std::exception& error) {
      FResult.failure = error.what();
    }
  }));
  connect(FThread.get(), &QThread::finished, this, GuardedSlot([this] { Finish(); }));
  lblSearch->setText(tr("Hledám…"));
  ShowSearching(true);
  FThread->start();
}

void TfDisplaySearch::Stop() {
  if (FScan) FScan->Stop();
}

void TfDisplaySearch::ShowProgress(TByte address, std::int32_t baud, int done, int total) {
  pbSearch->setRange(0, total);
  pbSearch->setValue(done);
  const QString asked =
      address == kBroadcastAddress
          ? tr("všechny adresy (0xFE)")
          : QStringLiteral("0x") +
                QStringLiteral("%1").arg(address, 2, 16, QLatin1Char('0')).toUpper();
  lblSearch->setText(FHasSpeed ? tr("Adresa %1, %2").arg(asked, BaudText(baud))
                               : tr("Adresa %1").arg(asked));
}

void TfDisplaySearch::AddFound(const TFoundDisplay& display) {
  const int row = tblFound->rowCount();
  tblFound->insertRow(row);
  tblFound->setItem(row, kAddressColumn, new QTableWidgetItem(AddressNotations(display.address)));
  tblFound->setItem(row, kBaudColumn, new QTableWidgetItem(BaudText(display.baud)));
  tblFound->setItem(row, kIdentificationColumn,
                    new QTableWidgetItem(QString::fromStdString(
                        EscapeControls(std::string_view(display.identification)))));
  FFound.push_back(display);
}

void TfDisplaySearch::Finish() {
  FThread->wait();
  FThread.reset();
  FScan.reset();
  ShowSearching(false);
  const int count = static_cast<int>(FFound.size());
  QString text = FResult.stopped ? tr("Hledání zastaveno; nalezeno displejů: %1.")
                                 : tr("Hledání skončilo; nalezeno displejů: %1.");
  text = text.arg(count);
  // The failure's reason comes from the line as it gave it.
  if (!FResult.failure.empty())
    text = tr("%1 Chyba: %2").arg(text, QString::fromStdString(FResult.failure));
  lblSearch->setText(text);
  lblSearch->setToolTip(text);
  emit searchFinished();
}

// Enter on a display of the table chooses it as a double click does; the dialog's default
// button would start another search.
bool TfDisplaySearch::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tblFound && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && tblFound->currentRow() >= 0) {
      GuardedSlot([this] { ChooseRow(tblFound->currentRow()); })();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TfDisplaySearch::ChooseRow(int row) {
  if (row < 0 || row >= static_cast<int>(FFound.size())) return;
  Stop();
  FChosen = FFound[static_cast<std::size_t>(row)];
  if (FThread) FThread->wait();
  accept();
}

// Closing the window stops the search first; the thread is waited for when it has ended.
void TfDisplaySearch::reject() {
  Stop();
  QDialog::reject();
}

void TfDisplaySearch::ShowSearching(bool searching) {
  btnSearch->setEnabled(!searching);
  btnStop->setEnabled(searching);
  for (QCheckBox* choice : FBaudChoices)
    choice->setEnabled(!searching);
}

}  // namespace zorvid
