#pragma once

// The language the windows speak: Czech, as their texts are written, or English from the
// program's translation, with Qt's own texts (context menus, standard buttons, pickers), dates
// and numbers in the same language.

#include <QLocale>
#include <QString>
#include <QStringList>
#include <QTranslator>
#include <optional>

namespace zorvid {

enum class TLanguage { kCzech, kEnglish };

// The first of the user's languages, most preferred first (QLocale::uiLanguages, which follows
// LANGUAGE, LC_ALL, LC_MESSAGES and LANG), that the program speaks; Czech when none is (the C
// and POSIX locales included).
TLanguage LanguageFor(const QStringList& uiLanguages);
// "cs" or "en" in any case, as --lang gives it; nothing for anything else.
std::optional<TLanguage> ParseLanguage(const QString& text);

// The locale of dates and numbers in a window of `language`: Czech ones in Czech (a decimal
// comma); in English the system's when it is an English one, else the United States'.
QLocale LocaleFor(TLanguage language, const QLocale& system);
// The date form of the windows' date fields in `locale`: "d. M. yyyy" in Czech, else the
// locale's short form with a four-digit year.
QString ShortDateFormat(const QLocale& locale);

// The translations of one language, installed into the application for the object's life, and
// the locale of dates and numbers made the default. Made on the user-interface thread after the
// application object, before the first window.
class TTranslations {
 public:
  explicit TTranslations(TLanguage language, const QLocale& system = QLocale::system());
  ~TTranslations();
  TTranslations(const TTranslations&) = delete;
  TTranslations& operator=(const TTranslations&) = delete;

  TLanguage Language() const { return language_; }
  // What could not be loaded, one line each, naming the file; empty when everything was.
  const QStringList& Problems() const { return problems_; }

 private:
  void Install(QTranslator& translator, const QString& name, const QString& directory);

  TLanguage language_;
  QLocale previousDefault_;
  QTranslator program_;
  QTranslator qt_;
  QStringList problems_;
};

}  // namespace zorvid
