// The windows' language: which one the user's settings choose, every window's texts in it with
// nothing left in the other, Qt's own texts, dates and numbers alike, and a mnemonic for every
// button and labelled field, unique where they can be pressed together.
#include "ui/Language.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QDateEdit>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <algorithm>
#include <iterator>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "transport/Transports.h"
#include "ui/DisplaySearch.h"
#include "ui/FTDISetup.h"
#include "ui/MainWindow.h"
#include "ui/ProgramWindows.h"
#include "ui/SerialSetup.h"
#include "ui/TCPSetup.h"

namespace zorvid {
namespace {

TEST(Language, TheUsersFirstLanguageThatIsSpokenWinsAndCzechIsTheRest) {
  EXPECT_EQ(LanguageFor(QLocale(QStringLiteral("en_US")).uiLanguages()), TLanguage::kEnglish);
  EXPECT_EQ(LanguageFor(QLocale(QStringLiteral("en_GB")).uiLanguages()), TLanguage::kEnglish);
  EXPECT_EQ(LanguageFor(QLocale(QStringLiteral("cs_CZ")).uiLanguages()), TLanguage::kCzech);
  EXPECT_EQ(LanguageFor(QLocale::c().uiLanguages()), TLanguage::kCzech) << "C is no choice";
  EXPECT_EQ(LanguageFor({QStringLiteral("de-DE"), QStringLiteral("en-US")}), TLanguage::kEnglish);
  EXPECT_EQ(LanguageFor({QStringLiteral("de-DE"), QStringLiteral("sk-SK")}), TLanguage::kCzech);
  EXPECT_EQ(LanguageFor({}), TLanguage::kCzech);
  EXPECT_EQ(ParseLanguage(QStringLiteral("EN")), TLanguage::kEnglish);
  EXPECT_EQ(ParseLanguage(QStringLiteral("cs")), TLanguage::kCzech);
  EXPECT_FALSE(ParseLanguage(QStringLiteral("de")).has_value());
}

TEST(Language, DatesHaveFourDigitYearsAndNumbersTheLanguagesDecimalMark) {
  const QDate date(2026, 12, 9);
  const QLocale czech = LocaleFor(TLanguage::kCzech, QLocale::c());
  EXPECT_EQ(czech.toString(date, ShortDateFormat(czech)), QStringLiteral("9. 12. 2026"));
  EXPECT_EQ(czech.toString(21.5, 'f', 1), QStringLiteral("21,5"));
  const QLocale american = LocaleFor(TLanguage::kEnglish, QLocale::c());
  EXPECT_EQ(american.toString(date, ShortDateFormat(american)), QStringLiteral("12/9/2026"));
  EXPECT_EQ(american.toString(21.5, 'f', 1), QStringLiteral("21.5"));
  const QLocale british = LocaleFor(TLanguage::kEnglish, QLocale(QStringLiteral("en_GB")));
  EXPECT_EQ(british.toString(date, ShortDateFormat(british)), QStringLiteral("09/12/2026"));
  EXPECT_EQ(LocaleFor(TLanguage::kEnglish, QLocale(QStringLiteral("cs_CZ"))).language(),
            QLocale::English);
}

// Every window of the program, each a top level of its own.
class TEveryWindow {
 public:
  TEveryWindow()
      : search_(std::make_unique<TfDisplaySearch>("provider=TCP_CLIENT;host=127.0.0.1;port=1")),
        tcp_(std::make_unique<TfTCPIPDialog>()),
        serial_(std::make_unique<TfSerialSetupDialog>(QStringLiteral("COM1"))),
        usb_(std::make_unique<TfFTDIdialog>()) {}

  std::vector<QWidget*> Windows() {
    std::vector<QWidget*> windows{
        &programs_.Main(), &programs_.Log(), &programs_.ConnectionDialog(),
        search_.get(),     tcp_.get(),       serial_.get(),
        usb_.get()};
    // The main window's own dialogs: the About window, the settings file's and the address's.
    for (QDialog* dialog : programs_.Main().findChildren<QDialog*>())
      windows.push_back(dialog);
    return windows;
  }

 private:
  TProgramWindows programs_;
  std::unique_ptr<TfDisplaySearch> search_;
  std::unique_ptr<TfTCPIPDialog> tcp_;
  std::unique_ptr<TfSerialSetupDialog> serial_;
  std::unique_ptr<TfFTDIdialog> usb_;
};

// The window `widget` belongs to, for the windows nested as children of another.
bool InWindow(const QWidget& widget, const QWidget& window) {
  return widget.window() == &window;
}

// Every text of `window` the user can read: its title, captions, tooltips, placeholders, tab
// and column titles, the items of its menus.
QStringList ShownTexts(QWidget& window) {
  QStringList texts{window.windowTitle(), window.toolTip()};
  for (QWidget* widget : window.findChildren<QWidget*>()) {
    if (!InWindow(*widget, window)) continue;
    texts << widget->toolTip() << widget->accessibleName();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) texts << button->text();
    if (auto* label = qobject_cast<QLabel*>(widget)) texts << label->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget)) texts << group->title();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) texts << edit->placeholderText();
    if (auto* tabs = qobject_cast<QTabWidget*>(widget))
      for (int i = 0; i < tabs->count(); ++i)
        texts << tabs->tabText(i);
    if (auto* table = qobject_cast<QTableWidget*>(widget))
      for (int i = 0; i < table->columnCount(); ++i)
        texts << table->horizontalHeaderItem(i)->text();
  }
  for (QAction* action : window.findChildren<QAction*>())
    texts << action->text();
  texts.removeAll(QString());
  return texts;
}

struct TMessage {
  QString translation;
  bool finished = false;
};

// The messages of a translations file by context and source text.
std::map<std::pair<QString, QString>, TMessage> ReadTranslations(const QString& path) {
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
  QXmlStreamReader xml(&file);
  std::map<std::pair<QString, QString>, TMessage> messages;
  QString context;
  QString source;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    if (xml.name() == QLatin1String("name")) {
      context = xml.readElementText();
    } else if (xml.name() == QLatin1String("source")) {
      source = xml.readElementText();
    } else if (xml.name() == QLatin1String("translation")) {
      const bool finished = !xml.attributes().hasAttribute(QStringLiteral("type"));
      messages[{context, source}] = {xml.readElementText(), finished};
    }
  }
  EXPECT_FALSE(xml.hasError()) << path.toStdString() << ": " << xml.errorString().toStdString();
  return messages;
}

// The Czech texts that have an English translation of another wording; a test failure for each
// message without a finished translation.
QSet<QString> CzechSources() {
  QSet<QString> sources;
  for (const auto& [key, message] : ReadTranslations(QStringLiteral(ZORVID_TRANSLATIONS_TS))) {
    EXPECT_TRUE(message.finished && !message.translation.isEmpty())
        << "no finished translation of \"" << key.second.toStdString() << '"';
    if (message.translation != key.second) sources << key.second;
  }
  EXPECT_FALSE(sources.isEmpty());
  return sources;
}

// lupdate finds in the sources exactly the texts that the translations hold: none is left out
// and none is kept that the program no longer shows.
TEST(Translations, HoldEveryTextOfTheSourcesAndNoOther) {
  const QTemporaryDir directory;
  ASSERT_TRUE(directory.isValid());
  const QString found = directory.filePath(QStringLiteral("found.ts"));
  QProcess lupdate;
  lupdate.start(QStringLiteral(ZORVID_LUPDATE),
                {QStringLiteral("-silent"), QStringLiteral("-locations"), QStringLiteral("none"),
                 QStringLiteral("-I"), QStringLiteral(ZORVID_SOURCE_DIR),
                 QStringLiteral(ZORVID_SOURCE_DIR "/ui"), QStringLiteral("-ts"), found});
  ASSERT_TRUE(lupdate.waitForFinished(60000)) << lupdate.errorString().toStdString();
  ASSERT_EQ(lupdate.exitCode(), 0) << lupdate.readAllStandardError().toStdString();
  std::vector<std::pair<QString, QString>> inSources, inTranslations;
  for (const auto& [key, message] : ReadTranslations(found))
    inSources.push_back(key);
  for (const auto& [key, message] : ReadTranslations(QStringLiteral(ZORVID_TRANSLATIONS_TS)))
    inTranslations.push_back(key);
  std::vector<std::pair<QString, QString>> missing, stale;
  std::set_difference(inSources.begin(), inSources.end(), inTranslations.begin(),
                      inTranslations.end(), std::back_inserter(missing));
  std::set_difference(inTranslations.begin(), inTranslations.end(), inSources.begin(),
                      inSources.end(), std::back_inserter(stale));
  for (const auto& [context, source] : missing)
    ADD_FAILURE() << "not in the translations: " << context.toStdString() << " \""
                  << source.toStdString() << "\" (build the target update_translations)";
  for (const auto& [context, source] : stale)
    ADD_FAILURE() << "in the translations, not in the sources: " << context.toStdString() << " \""
                  << source.toStdString() << '"';
  EXPECT_GT(inSources.size(), 100u);
}

bool HasCzechLetters(const QString& text) {
  static const QString kCzechOnly = QString::fromUtf8("áčďéěíňóřšťúůýžÁČĎÉĚÍŇÓŘŠŤÚŮÝŽ");
  return std::any_of(text.begin(), text.end(), [](QChar c) { return kCzechOnly.contains(c); });
}

class LanguageWindowsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterStandardTransports(); }
  static void TearDownTestSuite() { UnregisterStandardTransports(); }
};

TEST_F(LanguageWindowsTest, InEnglishNoWindowSaysAnythingInCzech) {
  const QSet<QString> czech = CzechSources();
  const TTranslations english(TLanguage::kEnglish, QLocale::c());
  ASSERT_TRUE(english.Problems().isEmpty()) << english.Problems().join('\n').toStdString();
  TEveryWindow windows;
  for (QWidget* window : windows.Windows()) {
    for (const QString& text : ShownTexts(*window)) {
      EXPECT_FALSE(czech.contains(text) || HasCzechLetters(text))
          << window->objectName().toStdString() << ": \"" << text.toStdString() << '"';
    }
  }
  EXPECT_EQ(QCoreApplication::translate("QLineEdit", "&Undo"), QStringLiteral("&Undo"));
}

TEST_F(LanguageWindowsTest, InCzechTheWindowsAndQtsOwnTextsAreCzech) {
  const TTranslations czech(TLanguage::kCzech, QLocale::c());
  ASSERT_TRUE(czech.Problems().isEmpty()) << czech.Problems().join('\n').toStdString();
  TEveryWindow windows;
  auto& main = *windows.Windows().front();
  EXPECT_EQ(main.findChild<QAbstractButton*>("btnCIOpen")->text(),
            QString::fromUtf8("&Navázat spojení"));
  // The edits' own menu, which Qt makes.
  QLineEdit edit;
  std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
  QStringList items;
  for (const QAction* action : menu->actions())
    items << action->text();
  EXPECT_TRUE(items.join(' ').contains(QString::fromUtf8("Vybrat vše")))
      << items.join(" | ").toStdString();
  auto* date = main.findChild<QDateEdit*>("dtpDeviceDate");
  date->setDate(QDate(2026, 12, 9));
  EXPECT_EQ(date->text(), QStringLiteral("9. 12. 2026"));
}

// A row of choices too many for a key each (the speeds of a search) is reached by its group's.
bool InGroupWithMnemonic(const QWidget& widget) {
  const auto* group = qobject_cast<const QGroupBox*>(widget.parentWidget());
  return group && !QKeySequence::mnemonic(group->title()).isEmpty();
}

// The scopes in which mnemonics must differ: a window's own controls are reached from every
// page of its tabs, each page's only while it shows.
std::vector<std::vector<QWidget*>> MnemonicScopes(QWidget& window) {
  std::vector<QWidget*> pages;
  for (QTabWidget* tabs : window.findChildren<QTabWidget*>())
    for (int i = 0; i < tabs->count(); ++i)
      pages.push_back(tabs->widget(i));
  std::vector<QWidget*> shared;
  std::map<QWidget*, std::vector<QWidget*>> onPage;
  for (QWidget* widget : window.findChildren<QWidget*>()) {
    auto* label = qobject_cast<QLabel*>(widget);
    auto* button = qobject_cast<QAbstractButton*>(widget);
    auto* group = qobject_cast<QGroupBox*>(widget);
    const bool pressable = (label && label->buddy()) || (button && !button->text().isEmpty()) ||
                           (group && !QKeySequence::mnemonic(group->title()).isEmpty());
    if (!InWindow(*widget, window) || !pressable || InGroupWithMnemonic(*widget)) continue;
    const auto page = std::find_if(pages.begin(), pages.end(), [widget](QWidget* candidate) {
      return candidate->isAncestorOf(widget);
    });
    (page == pages.end() ? shared : onPage[*page]).push_back(widget);
  }
  std::vector<std::vector<QWidget*>> scopes;
  if (onPage.empty()) scopes.push_back(shared);
  for (auto& [page, widgets] : onPage) {
    widgets.insert(widgets.end(), shared.begin(), shared.end());
    scopes.push_back(widgets);
  }
  return scopes;
}

QString Caption(QWidget* widget) {
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
  return static_cast<QAbstractButton*>(widget)->text();
}

TEST_F(LanguageWindowsTest, EveryButtonAndLabelledFieldHasAMnemonicUniqueInItsWindow) {
  for (const TLanguage language : {TLanguage::kCzech, TLanguage::kEnglish}) {
    const TTranslations translations(language, QLocale::c());
    TEveryWindow windows;
    for (QWidget* window : windows.Windows()) {
      for (const std::vector<QWidget*>& scope : MnemonicScopes(*window)) {
        std::map<QString, QString> taken;
        for (QWidget* widget : scope) {
          const QString caption = Caption(widget);
          const QString key = QKeySequence::mnemonic(caption).toString().toLower();
          SCOPED_TRACE(window->objectName().toStdString() + " / " +
                       widget->objectName().toStdString() + ": \"" + caption.toStdString() + '"');
          // A plain letter or digit: no key of the keyboard has a diacritic on every layout.
          EXPECT_TRUE(QRegularExpression(QStringLiteral("^alt\\+[a-z0-9]$")).match(key).hasMatch())
              << "no mnemonic of a plain letter or digit: " << key.toStdString();
          if (key.isEmpty()) continue;
          const auto [other, added] = taken.emplace(key, caption);
          EXPECT_TRUE(added) << key.toStdString() << " is also \"" << other->second.toStdString()
                             << '"';
        }
      }
    }
  }
}

}  // namespace
}  // namespace zorvid
