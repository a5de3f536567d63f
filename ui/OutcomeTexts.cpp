#include "ui/OutcomeTexts.h"

#include <QCoreApplication>
#include <map>

#include "link/DisplayConnection.h"

namespace zorvid {
namespace {

// The window's texts keep the main window's translation context, where they were written;
// the words a table names (kFieldNames, KeyNames) are translated where they are shown.
QString Translated(const char* text) {
  return QCoreApplication::translate("zorvid::TfMain", text);
}

// How the window names the values a rule names, by TSettingField.
constexpr const char* kFieldNames[kSettingFieldCount] = {
    QT_TRANSLATE_NOOP("zorvid::TfMain", "jas"),
    QT_TRANSLATE_NOOP("zorvid::TfMain", "minimální jas"),
    QT_TRANSLATE_NOOP("zorvid::TfMain", "maximální jas"),
    QT_TRANSLATE_NOOP("zorvid::TfMain", "zvýšení osvětlení"),
    QT_TRANSLATE_NOOP("zorvid::TfMain", "časový posun"),
    QT_TRANSLATE_NOOP("zorvid::TfMain", "index zóny"),
    QT_TRANSLATE_NOOP("zorvid::TfMain", "platnost dat"),
    QT_TRANSLATE_NOOP("zorvid::TfMain", "rok"),
    QT_TRANSLATE_NOOP("zorvid::TfMain", "počet bajtů segmentů"),
    QT_TRANSLATE_NOOP("zorvid::TfMain", "adresa"),
};

// How the window names the keys of a settings file and the groups the steps concern.
const std::map<std::string, const char*>& KeyNames() {
  static const std::map<std::string, const char*> names{
      {"params.auto-update", QT_TRANSLATE_NOOP("zorvid::TfMain", "automatické přepínání času")},
      {"params.summer-time", QT_TRANSLATE_NOOP("zorvid::TfMain", "letní čas")},
      {"params.after-turn-on",
       QT_TRANSLATE_NOOP("zorvid::TfMain", "zobrazit info. po zapnutí displeje")},
      {"params.after-expiration",
       QT_TRANSLATE_NOOP("zorvid::TfMain", "zobrazit info. po vypršení platnosti dat")},
      {"params.12h", QT_TRANSLATE_NOOP("zorvid::TfMain", "12 hodinový formát času")},
      {"params.mdy", QT_TRANSLATE_NOOP("zorvid::TfMain", "formát data měsíc/den/rok")},
      {"params.show-time", QT_TRANSLATE_NOOP("zorvid::TfMain", "rotovat čas")},
      {"params.show-date", QT_TRANSLATE_NOOP("zorvid::TfMain", "rotovat datum")},
      {"params.show-temp", QT_TRANSLATE_NOOP("zorvid::TfMain", "rotovat teplotu")},
      {"params.offset", QT_TRANSLATE_NOOP("zorvid::TfMain", "časový posun")},
      {"params.zone", QT_TRANSLATE_NOOP("zorvid::TfMain", "index zóny")},
      {"expiration", QT_TRANSLATE_NOOP("zorvid::TfMain", "platnost dat")},
      {"brightness", QT_TRANSLATE_NOOP("zorvid::TfMain", "jas")},
      {"brightness-auto", QT_TRANSLATE_NOOP("zorvid::TfMain", "automatický jas")},
      {"brightness-auto.auto", QT_TRANSLATE_NOOP("zorvid::TfMain", "automatický jas zapnut")},
      {"brightness-auto.min", QT_TRANSLATE_NOOP("zorvid::TfMain", "minimální jas")},
      {"brightness-auto.max", QT_TRANSLATE_NOOP("zorvid::TfMain", "maximální jas")},
      {"brightness-auto.gain", QT_TRANSLATE_NOOP("zorvid::TfMain", "zvýšení osvětlení")},
      {"params", QT_TRANSLATE_NOOP("zorvid::TfMain", "parametry zobrazení")},
      {"identification", QT_TRANSLATE_NOOP("zorvid::TfMain", "identifikace")},
      {"text", QT_TRANSLATE_NOOP("zorvid::TfMain", "text displeje")},
      {"data", QT_TRANSLATE_NOOP("zorvid::TfMain", "segmenty")},
      {"clock", QT_TRANSLATE_NOOP("zorvid::TfMain", "datum a čas")},
      {"temperature", QT_TRANSLATE_NOOP("zorvid::TfMain", "teplota")},
      {"comm", QT_TRANSLATE_NOOP("zorvid::TfMain", "adresa a rychlost")},
      {"ids", QT_TRANSLATE_NOOP("zorvid::TfMain", "identifikátory")},
      {"show-info", QT_TRANSLATE_NOOP("zorvid::TfMain", "aktuální informace")},
      {"address", QT_TRANSLATE_NOOP("zorvid::TfMain", "adresa")},
      {"raw", QT_TRANSLATE_NOOP("zorvid::TfMain", "požadavek")},
  };
  return names;
}

QString KindText(const TOutcome& outcome) {
  switch (outcome.kind) {
    case TOutcomeKind::kDone:
      return QCoreApplication::translate("zorvid::TfMain", "hotovo");
    case TOutcomeKind::kRefused:
      return QCoreApplication::translate("zorvid::TfMain", "displej odmítl (potvrzení %1)")
          .arg(outcome.ack);
    case TOutcomeKind::kNoAnswer:
      return QCoreApplication::translate("zorvid::TfMain", "displej neodpovídá");
    case TOutcomeKind::kDamagedAnswer:
      return QCoreApplication::translate("zorvid::TfMain", "odpověď přišla poškozená");
    case TOutcomeKind::kInvalidAnswer:
      return outcome.invalid ? QCoreApplication::translate("zorvid::TfMain", "neplatná hodnota %1")
                                   .arg(ShownInvalidValue(*outcome.invalid))
                             : QCoreApplication::translate("zorvid::TfMain", "neplatná odpověď");
    case TOutcomeKind::kLineClosed:
      return QCoreApplication::translate("zorvid::TfMain", "spojení bylo přerušeno");
    case TOutcomeKind::kNotLoaded:
      return QCoreApplication::translate("zorvid::TfMain", "nenahráno z tohoto displeje");
    case TOutcomeKind::kUnknownWhetherStored:
      return QCoreApplication::translate("zorvid::TfMain", "odpověď se ztratila");
    case TOutcomeKind::kNotSent:
      return outcome.invalid ? QCoreApplication::translate("zorvid::TfMain",
                                                           "nic neodesláno, neplatná hodnota %1")
                                   .arg(ShownInvalidValue(*outcome.invalid))
                             : QCoreApplication::translate("zorvid::TfMain", "nic neodesláno");
  }
  return {};
}

// "čtení – jas", "zápis – adresa a rychlost (0xE0)": what a step does to which group, with the
// instruction where the step's name gives one (the address change's, as the log shows them).
QString StepText(TStep step) {
  const TStepRule& rule = RuleOf(step);
  const QString group = KeyName(std::string(rule.group));
  QString text = step == TStep::kEnableConfiguration
                     ? QCoreApplication::translate("zorvid::TfMain", "povolení konfigurace")
                 : rule.stores
                     ? QCoreApplication::translate("zorvid::TfMain", "zápis – %1").arg(group)
                 : rule.name.starts_with("read")
                     ? QCoreApplication::translate("zorvid::TfMain", "čtení – %1").arg(group)
                     : group;
  if (const std::size_t code = rule.name.find("(0x"); code != std::string_view::npos)
    text += QLatin1Char(' ') + QString::fromLatin1(rule.name.substr(code));
  return text;
}

}  // namespace

QString KeyName(const std::string& key) {
  const auto found = KeyNames().find(key);
  return found == KeyNames().end() ? QString::fromStdString(key) : Translated(found->second);
}

QStringList KeyNameList(const std::vector<std::string>& keys) {
  QStringList names;
  for (const std::string& key : keys)
    names << KeyName(key);
  return names;
}

QString ValueText(const std::string& value) {
  if (value == "true") return QCoreApplication::translate("zorvid::TfMain", "ano");
  if (value == "false") return QCoreApplication::translate("zorvid::TfMain", "ne");
  return QString::fromStdString(value);
}

QString ReadBackText(const std::vector<TSettingChange>& changes) {
  QStringList parts;
  for (const TSettingChange& change : changes)
    parts << QCoreApplication::translate("zorvid::TfMain", "%1 (odesláno %2, přečteno %3)")
                 .arg(KeyName(change.key), ValueText(change.wanted), ValueText(change.held));
  return parts.join(QStringLiteral("; "));
}

QString FieldName(TSettingField field) {
  return Translated(kFieldNames[static_cast<int>(field)]);
}

QString ShownInvalidValue(const TInvalidValue& invalid) {
  return QCoreApplication::translate("zorvid::TfMain", "%1 %2 (povoleno %3..%4)")
      .arg(FieldName(invalid.field))
      .arg(invalid.value)
      .arg(invalid.min)
      .arg(invalid.max);
}

QString OutcomeCause(const TOutcome& outcome) {
  const std::string_view group = RuleOf(outcome.step).group;
  const QString kind = KindText(outcome);
  if (group.empty()) return kind;
  return KeyName(std::string(group)) + QString::fromUtf8(" – ") + kind;
}

QString WithCause(const QString& status, const TOutcome& outcome) {
  QString text = status;
  if (text.endsWith(QLatin1Char('!')) || text.endsWith(QLatin1Char('.'))) text.chop(1);
  return text + QStringLiteral(": ") + OutcomeCause(outcome) + QLatin1Char('.');
}

QString OutcomeDetails(const TOutcome& outcome) {
  QString text =
      QCoreApplication::translate("zorvid::TfMain", "Krok: %1, adresa %2")
          .arg(StepText(outcome.step), QString::fromStdString(AddressText(outcome.address)));
  if (outcome.tries > 1)
    text += QCoreApplication::translate("zorvid::TfMain", ", pokusů: %1").arg(outcome.tries);
  if (!outcome.reason.empty())
    text += QLatin1Char('\n') + QCoreApplication::translate("zorvid::TfMain", "Důvod: %1")
                                    .arg(QString::fromStdString(outcome.reason));
  return text;
}

}  // namespace zorvid
