#include "ui/Language.h"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace zorvid {
namespace {

// Where the program's own translations are embedded (see ui/CMakeLists.txt).
const char* const kProgramTranslations = ":/translations";

std::optional<TLanguage> LanguageOf(const QString& uiLanguage) {
  const QLocale::Language language = QLocale(uiLanguage).language();
  if (language == QLocale::Czech) return TLanguage::kCzech;
  if (language == QLocale::English) return TLanguage::kEnglish;
  return std::nullopt;
}

}  // namespace

TLanguage LanguageFor(const QStringList& uiLanguages) {
  for (const QString& uiLanguage : uiLanguages) {
    // The C locale counts as English to Qt, but it is no choice of the user's.
    if (uiLanguage == QLatin1String("C") || uiLanguage == QLatin1String("POSIX")) continue;
    if (const std::optional<TLanguage> language = LanguageOf(uiLanguage)) return *language;
  }
  return TLanguage::kCzech;
}

std::optional<TLanguage> ParseLanguage(const QString& text) {
  if (text.compare(QLatin1String("cs"), Qt::CaseInsensitive) == 0) return TLanguage::kCzech;
  if (text.compare(QLatin1String("en"), Qt::CaseInsensitive) == 0) return TLanguage::kEnglish;
  return std::nullopt;
}

QLocale LocaleFor(TLanguage language, const QLocale& system) {
  if (language == TLanguage::kCzech) return QLocale(QLocale::Czech, QLocale::Czechia);
  if (system.language() == QLocale::English) return system;
  return QLocale(QLocale::English, QLocale::UnitedStates);
}

QString ShortDateFormat(const QLocale& locale) {
  if (locale.language() == QLocale::Czech) return QStringLiteral("d. M. yyyy");
  QString format = locale.dateFormat(QLocale::ShortFormat);
  if (!format.contains(QLatin1String("yyyy")))
    format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
  return format;
}

TTranslations::TTranslations(TLanguage language, const QLocale& system)
    : language_(language), previousDefault_(QLocale()) {
  QLocale::setDefault(LocaleFor(language, system));
  // The program's texts are written in Czech and Qt's in English: each needs a translation only
  // in the other language.
  if (language == TLanguage::kEnglish)
    Install(program_, QStringLiteral("zorvid-l_en"), QString::fromLatin1(kProgramTranslations));
  else
    Install(qt_, QStringLiteral("qtbase_cs"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}

TTranslations::~TTranslations() {
  QCoreApplication::removeTranslator(&qt_);
  QCoreApplication::removeTranslator(&program_);
  QLocale::setDefault(previousDefault_);
}

void TTranslations::Install(QTranslator& translator, const QString& name,
                            const QString& directory) {
  if (!translator.load(name, directory)) {
    problems_ << QStringLiteral("cannot load the translation %1 from %2").arg(name, directory);
    return;
  }
  QCoreApplication::installTranslator(&translator);
}

}  // namespace zorvid
