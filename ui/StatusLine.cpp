#include "ui/StatusLine.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/NamedControls.h"
#include "ui/OutcomeTexts.h"
#include "ui/PageControls.h"

namespace zorvid {
namespace {

constexpr int kStatusHeight = 17;
constexpr int kStatusLines = 2;
const QColor kGreen(0, 128, 0);
const QColor kRed(255, 0, 0);

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

}  // namespace

TStatusLine::TStatusLine(QWidget* parent) : QWidget(parent) {
  setObjectName("pnlStatus");
  text_ = Named(new QLabel, "pnlStatusbar");
  text_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  text_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  SetBold(text_);
  // Two lines: what failed and why fit on screen, not only in a tooltip.
  text_->setWordWrap(true);
  text_->setMinimumHeight(
      std::max(kStatusHeight,
               kStatusLines * QFontMetrics(text_->font()).lineSpacing() + 2 * text_->frameWidth()));
  // The details of the last outcome, reached by Tab as by the mouse; its picture names it.
  details_ = Named(new QToolButton, "btnStatusDetails");
  details_->setIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));
  details_->setToolTip(tr("Podrobnosti"));
  details_->setAccessibleName(tr("Podrobnosti"));
  details_->setAutoRaise(true);
  details_->setFocusPolicy(Qt::StrongFocus);
  details_->setEnabled(false);
  connect(details_, &QToolButton::clicked, this, &TStatusLine::ShowDetails);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(1);
  layout->addWidget(text_, 1);
  layout->addWidget(details_);
  BuildTexts();
}

void TStatusLine::BuildTexts() {
  auto* panel = Named(new QWidget(this), "pnllanguage");
  panel->setVisible(false);
  auto* layout = new QVBoxLayout(panel);
  layout->addWidget(NewLabel("Label8", "Language"));
  const QColor normal = panel->palette().color(QPalette::WindowText);
  const auto add = [&](TStatus status, const char* name, const QString& text,
                       const QColor& colour) {
    QLabel* label = NewLabel(name, text);
    SetTextColour(label, colour);
    layout->addWidget(label);
    texts_[status] = label;
  };
  add(kOpenOk, "lblLanOpenCIOk", tr("Spojení bylo úspěšně navázáno."), kGreen);
  add(kOpenErr, "lblLanOpenCIErr", tr("Spojení se nepodařilo navázat!"), kRed);
  add(kLoadOk, "lblLanSettingsLoadOk", tr("Nastavení bylo úspěšně nahráno ze zařízení."), kGreen);
  add(kLoadErr, "lblLanSettingsLoadErr", tr("Nastavení se nepodařilo nahrát ze zařízení!"), kRed);
  add(kSaveOk, "lblLanSettingsSaveOk", tr("Nastavení bylo úspěšně uloženo do zařízení."), kGreen);
  add(kSaveErr, "lblLanSettingsSaveErr", tr("Nastavení se nepodařilo uložit do zařízení!"), kRed);
  add(kShowInfoOk, "lblLanShowActualInformationOk",
      tr("Zobrazování aktuální informace bylo úspěšně uloženo do zařízení."), kGreen);
  add(kShowInfoErr, "lblLanShowActualInformationErr",
      tr("Zobrazování aktuální informace se nepodařilo uložit do zařízení!"), kRed);
  add(kBusy, "lblLanBusy", tr("Probíhá komunikace…"), normal);
  add(kSilent, "lblLanSilent", tr("Displej neodpovídá."), kRed);
  add(kLineLost, "lblLanLineLost", tr("Spojení bylo přerušeno."), kRed);
  add(kReconnecting, "lblLanReconnecting", tr("Obnovuji spojení…"), normal);
  add(kReconnected, "lblLanReconnected", tr("Spojení bylo obnoveno."), kGreen);
  add(kDisconnected, "lblLanDisconnected", tr("Spojení bylo ukončeno."), normal);
  add(kConnectedNotLoaded, "lblLanConnectedNotLoaded",
      tr("Spojení bylo navázáno, ale nastavení se nepodařilo nahrát."), kRed);
  add(kLoadFirst, "lblLanLoadFirst", tr("Nejdříve nahrajte nastavení ze zařízení."), normal);
  add(kParamsSavedExpirationNot, "lblLanParamsSavedExpirationNot",
      tr("Parametry zobrazení byly uloženy, platnost dat ne."), kRed);
  add(kBrightnessSavedAutomaticNot, "lblLanBrightnessSavedAutomaticNot",
      tr("Statický jas byl uložen, automatický jas ne."), kRed);
  add(kSavedNotVerified, "lblLanSavedNotVerified",
      tr("Nastavení bylo uloženo, ale nepodařilo se ho přečíst zpět."), kRed);
  add(kSavedOtherValues, "lblLanSavedOtherValues", tr("Zařízení uložilo jiné hodnoty:"), kRed);
  add(kFileSaved, "lblLanFileSaved", tr("Nastavení bylo uloženo do souboru."), kGreen);
  add(kFileNotSaved, "lblLanFileNotSaved", tr("Nastavení se nepodařilo uložit do souboru!"), kRed);
  add(kFileRefused, "lblLanFileRefused", tr("Soubor s nastavením nelze použít!"), kRed);
  add(kFileSame, "lblLanFileSame", tr("Soubor se shoduje se zařízením."), normal);
  add(kFileNotWritten, "lblLanFileNotWritten", tr("Nastavení ze souboru nebylo zapsáno."), normal);
  add(kCommReadErr, "lblLanCommReadErr", tr("Adresu a rychlost se nepodařilo přečíst ze zařízení!"),
      kRed);
  add(kCommChanged, "lblLanCommChanged", tr("Displej odpovídá na nové adrese a rychlosti."),
      kGreen);
  add(kCommEnableErr, "lblLanCommEnableErr",
      tr("Displej nepovolil konfiguraci (0xE4), nic se nezměnilo."), kRed);
  add(kCommWriteErr, "lblLanCommWriteErr", tr("Displej nepřijal novou adresu a rychlost (0xE0)."),
      kRed);
  add(kCommBack, "lblLanCommBack",
      tr("Na nových hodnotách displej neodpověděl, spojení je na původních."), kRed);
  add(kCommLost, "lblLanCommLost", tr("Displej neodpovídá na nových ani na původních hodnotách!"),
      kRed);
  add(kLoadedInvalid, "lblLanLoadedInvalid", tr("Nahráno, ale displej drží neplatnou hodnotu."),
      kRed);
  add(kPollFailed, "lblLanPollFailed", tr("Stav displeje nelze přečíst."), kRed);
  add(kCommUnchanged, "lblLanCommUnchanged", tr("Adresa a rychlost displeje se nezměnily."), kRed);
  add(kCommUnknown, "lblLanCommUnknown",
      tr("Není známo, zda displej novou adresu a rychlost přijal."), kRed);
  add(kSaveUnknown, "lblLanSaveUnknown", tr("Není známo, zda displej nastavení uložil."), kRed);
  add(kProcedureFailed, "lblLanProcedureFailed", tr("Komunikace skončila chybou programu."), kRed);
  add(kAnotherDisplay, "lblLanAnotherDisplay", tr("Na lince je jiný displej!"), kRed);

  // Wide enough that each of its own texts fits its two lines whole, so that none is cut off;
  // a cause after a text may need the details.
  const QFontMetrics metrics(text_->font());
  const auto fits = [&](int width) {
    return std::all_of(texts_.begin(), texts_.end(), [&](const QLabel* label) {
      return metrics.boundingRect(QRect(0, 0, width, 1 << 16), Qt::TextWordWrap, label->text())
                 .height() <= kStatusLines * metrics.lineSpacing();
    });
  };
  int width = metrics.averageCharWidth();
  while (!fits(width))
    width += metrics.averageCharWidth();
  text_->setMinimumWidth(width + 2 * text_->frameWidth() + metrics.averageCharWidth());
}

QString TStatusLine::Text(TStatus status) const {
  return texts_[status]->text();
}

QColor TStatusLine::Colour(TStatus status) const {
  return texts_[status]->palette().color(QPalette::WindowText);
}

void TStatusLine::ShowText(const QString& text, const QColor& colour, const QString& details) {
  const QString shown = FittedText(text, *text_, kStatusLines);
  text_->setText(shown);
  SetTextColour(text_, colour);
  // What the line cannot show whole, and why it failed, is one keystroke away.
  detailsText_ = shown == text || details.contains(text) ? details
                 : details.isEmpty()                     ? text
                                                         : text + QLatin1Char('\n') + details;
  text_->setToolTip(detailsText_);
  details_->setEnabled(!detailsText_.isEmpty());
}

void TStatusLine::Show(TStatus status, const QString& details) {
  ShowText(Text(status), Colour(status), details);
}

void TStatusLine::ShowOutcome(TStatus status, const TOutcome& outcome) {
  if (outcome.kind == TOutcomeKind::kUnknownWhetherStored && status == kSaveErr)
    status = kSaveUnknown;
  ShowText(WithCause(Text(status), outcome), Colour(status), OutcomeDetails(outcome));
}

void TStatusLine::ShowLoads(const std::vector<TGroupLoad>& loads, TStatus allLoaded) {
  QStringList details;
  for (const TGroupLoad& load : loads)
    if (!load.outcome.Ok())
      details << OutcomeCause(load.outcome) + QLatin1Char('\n') + OutcomeDetails(load.outcome);
  const auto failed = std::find_if(loads.begin(), loads.end(),
                                   [](const TGroupLoad& load) { return !load.outcome.Ok(); });
  if (failed == loads.end()) return Show(allLoaded);
  const TStatus status = failed->loaded ? kLoadedInvalid : kConnectedNotLoaded;
  ShowText(WithCause(Text(status), failed->outcome), Colour(status),
           details.join(QStringLiteral("\n\n")));
}

void TStatusLine::ShowState(const TDisplaySession& session) {
  switch (session.State()) {
    case TSessionState::kSilent:
      return Show(
          kSilent,
          tr("Bez odpovědi od %1").arg(session.SilentSince().toString(QStringLiteral("HH:mm:ss"))));
    case TSessionState::kLost:
      if (session.ReconnectAttempts() == 0) Show(kLineLost, session.ReconnectFailure());
      return;
    case TSessionState::kReconnecting:
      return Show(kReconnecting, tr("Pokusů o obnovení: %1").arg(session.ReconnectAttempts()) +
                                     QLatin1Char('\n') +
                                     tr("Důvod: %1").arg(session.ReconnectFailure()));
    default:
      return;
  }
}

void TStatusLine::ShowLoad(const TGroupLoad& load) {
  if (load.outcome.Ok()) return Show(kLoadOk);
  ShowOutcome(load.loaded ? kLoadedInvalid : kLoadErr, load.outcome);
}

void TStatusLine::ShowSave(const TOutcome& outcome) {
  if (outcome.Ok()) return Show(kSaveOk);
  ShowOutcome(kSaveErr, outcome);
}

void TStatusLine::ShowTwoStepSave(bool firstWritten, bool secondWritten, TStatus onlyFirst,
                                  const TOutcome& outcome,
                                  const std::vector<TSettingChange>& differences) {
  if (!firstWritten) return ShowOutcome(kSaveErr, outcome);
  if (!secondWritten) return ShowOutcome(onlyFirst, outcome);
  if (!outcome.Ok()) return ShowOutcome(kSavedNotVerified, outcome);
  if (differences.empty()) return Show(kSaveOk);
  ShowText(Text(kSavedOtherValues) + QLatin1Char(' ') + ReadBackText(differences),
           Colour(kSavedOtherValues));
}

void TStatusLine::ShowClockSave(const TClockSave& save) {
  if (!save.written) return ShowOutcome(kSaveErr, save.outcome);
  if (!save.readBack.ok) return ShowOutcome(kSavedNotVerified, save.outcome);
  if (save.Holds()) return Show(kSaveOk);
  const auto text = [](TDateTime value) {
    const TDateTimeParts parts = DecodeDateTime(value);
    return QDateTime(QDate(parts.year, parts.month, parts.day),
                     QTime(parts.hour, parts.minute, parts.second))
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  };
  ShowText(Text(kSavedOtherValues) + tr(" datum a čas (odesláno %1, přečteno %2)")
                                         .arg(text(save.sent), text(save.readBack.value)),
           Colour(kSavedOtherValues));
}

void TStatusLine::ShowRestore(const TSettingsRestore& restore) {
  if (restore.Verified()) return Show(kSaveOk);
  if (restore.written.empty()) return ShowOutcome(kSaveErr, restore.outcome);
  if (restore.failedReadingBack) return ShowOutcome(kSavedNotVerified, restore.outcome);
  if (!restore.notWritten.empty() || !restore.outcome.Ok())
    return ShowText(
        tr("Ze souboru bylo zapsáno: %1; nezapsáno: %2.")
            .arg(KeyNameList(restore.written).join(QStringLiteral(", ")),
                 KeyNameList(restore.notWritten).join(QStringLiteral(", "))),
        Colour(kSaveErr),
        OutcomeCause(restore.outcome) + QLatin1Char('\n') + OutcomeDetails(restore.outcome));
  ShowText(Text(kSavedOtherValues) + QLatin1Char(' ') + ReadBackText(restore.readBack),
           Colour(kSaveErr));
}

void TStatusLine::ShowConnectFailure(const TConnectReport& report) {
  const TOutcomeKind kind = report.identification.kind;
  if (kind != TOutcomeKind::kDone && kind != TOutcomeKind::kNotSent &&
      kind != TOutcomeKind::kLineClosed)
    return ShowOutcome(kOpenErr, report.identification);
  Show(kOpenErr, tr("Důvod: %1").arg(QString::fromStdString(report.failure)));
}

void TStatusLine::ShowCommissioning(const TCommissioning& outcome) {
  const bool refused = outcome.outcome.kind == TOutcomeKind::kRefused;
  switch (outcome.failedStep) {
    case TCommissionStep::kEnable:
      return ShowOutcome(refused ? kCommEnableErr : kCommUnchanged, outcome.outcome);
    case TCommissionStep::kWrite:
      return ShowOutcome(refused ? kCommWriteErr : kCommUnknown, outcome.outcome);
    case TCommissionStep::kReconnect:
      return Show(outcome.connected ? kCommBack : kCommLost,
                  QString::fromStdString(outcome.failure));
    case TCommissionStep::kDone:
      return Show(kCommChanged);
  }
}

void TStatusLine::ShowAnotherDisplay(const TDisplayIdentity& before, const TDisplayIdentity& now) {
  Show(kAnotherDisplay,
       tr("Před přerušením: %1\nNyní: %2")
           .arg(QString::fromStdString(before.Text()), QString::fromStdString(now.Text())));
}

void TStatusLine::ShowDetails() {
  if (detailsText_.isEmpty()) return;
  auto* box = new QMessageBox(QMessageBox::Information, window()->windowTitle(), text_->text(),
                              QMessageBox::Close, window());
  box->setObjectName("msgStatusDetails");
  box->setInformativeText(detailsText_);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

}  // namespace zorvid
