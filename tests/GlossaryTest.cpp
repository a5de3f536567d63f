// One vocabulary: the synonyms that docs/glossary.md forbids appear in none of the English
// window's texts, zorvidctl's help and the manual pages' sections, and in no Czech window text
// but the ones the glossary lists as not yet changed.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QXmlStreamReader>
#include <sstream>
#include <vector>

#include "tools/ctl/ZorvidCtl.h"

namespace zorvid {
namespace {

const QString kSourceDir = QStringLiteral(ZORVID_SOURCE_DIR);

QString ReadText(const QString& path) {
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
  return QString::fromUtf8(file.readAll());
}

enum class TLanguage { kEnglish, kCzech };

struct TForbidden {
  TLanguage language;
  QString phrase;  // as the glossary writes it
  QString term;    // the glossary's term, which replaces it
  QRegularExpression pattern;
};

// Whole words in any case, any run of blanks between them; a final '*' is any ending.
QRegularExpression PhrasePattern(QString phrase) {
  const bool anyEnding = phrase.endsWith(QLatin1Char('*'));
  if (anyEnding) phrase.chop(1);
  QStringList words;
  for (const QString& word : phrase.split(QLatin1Char(' '), Qt::SkipEmptyParts))
    words << QRegularExpression::escape(word);
  return QRegularExpression(
      QStringLiteral("(?<!\\w)") + words.join(QStringLiteral("\\s+")) +
          (anyEnding ? QStringLiteral("\\w*") : QString()) + QStringLiteral("(?!\\w)"),
      QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
}

struct TGlossary {
  std::vector<TForbidden> forbidden;
  QStringList terms;
  QStringList keptCzech;  // Czech sources, mnemonics included, that keep a forbidden synonym
};

// The tables' rows name their term in the first cell and the synonyms it forbids as EN `...`
// and CS `...`; the Czech texts that keep one are the code spans of the list under its heading.
TGlossary ReadGlossary() {
  TGlossary glossary;
  static const QRegularExpression synonym(QStringLiteral("\\b(EN|CS) `([^`]+)`"));
  static const QRegularExpression kept(QStringLiteral("^- `(.+)`$"));
  static const QRegularExpression separator(QStringLiteral("^\\|[-| ]+\\|$"));
  static const QRegularExpression describing(QStringLiteral("[:(]"));
  bool inKeptList = false;
  for (const QString& line :
       ReadText(kSourceDir + QStringLiteral("/docs/glossary.md")).split(QLatin1Char('\n'))) {
    if (line.startsWith(QStringLiteral("## ")))
      inKeptList = line.contains(QStringLiteral("keep a forbidden synonym"));
    if (inKeptList) {
      if (const QRegularExpressionMatch item = kept.match(line); item.hasMatch())
        glossary.keptCzech << item.captured(1);
      continue;
    }
    if (!line.startsWith(QLatin1Char('|')) || separator.match(line).hasMatch()) continue;
    // The term itself, without what the cell adds after a colon or in parentheses.
    const QString term = line.section(QLatin1Char('|'), 1, 1).section(describing, 0, 0).trimmed();
    if (term == QStringLiteral("term")) continue;
    glossary.terms << term;
    for (QRegularExpressionMatchIterator found = synonym.globalMatch(line); found.hasNext();) {
      const QRegularExpressionMatch match = found.next();
      glossary.forbidden.push_back(
          {match.captured(1) == QStringLiteral("EN") ? TLanguage::kEnglish : TLanguage::kCzech,
           match.captured(2), term, PhrasePattern(match.captured(2))});
    }
  }
  return glossary;
}

// One text a user reads and where it comes from.
struct TText {
  QString where;
  QString text;
};

// A caption as it shows: "&&" is an ampersand, a single '&' marks the mnemonic.
QString WithoutMnemonics(const QString& caption) {
  QString shown;
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] != QLatin1Char('&')) {
      shown += caption[i];
    } else if (i + 1 < caption.size() && caption[i + 1] == QLatin1Char('&')) {
      shown += QLatin1Char('&');
      ++i;
    }
  }
  return shown;
}

struct TMessage {
  QString context;
  QString source;
  QString translation;
};

std::vector<TMessage> ReadTranslations() {
  QFile file(kSourceDir + QStringLiteral("/ui/translations/zorvid-l_en.ts"));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly));
  QXmlStreamReader xml(&file);
  std::vector<TMessage> messages;
  QString context;
  QString source;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    if (xml.name() == QLatin1String("name"))
      context = xml.readElementText();
    else if (xml.name() == QLatin1String("source"))
      source = xml.readElementText();
    else if (xml.name() == QLatin1String("translation"))
      messages.push_back({context, source, xml.readElementText()});
  }
  EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
  EXPECT_GT(messages.size(), 100u);
  return messages;
}

// Every phrase of `language` found in `texts`, with the lines it stands on.
QStringList Hits(const TGlossary& glossary, TLanguage language, const std::vector<TText>& texts) {
  QStringList hits;
  for (const TForbidden& forbidden : glossary.forbidden) {
    if (forbidden.language != language) continue;
    for (const TText& text : texts) {
      for (QRegularExpressionMatchIterator found = forbidden.pattern.globalMatch(text.text);
           found.hasNext();) {
        const QRegularExpressionMatch match = found.next();
        const qsizetype first = text.text.lastIndexOf(QLatin1Char('\n'), match.capturedStart());
        qsizetype last = text.text.indexOf(QLatin1Char('\n'), match.capturedEnd());
        if (last < 0) last = text.text.size();
        const QString lines = text.text.mid(first + 1, last - first - 1);
        hits << QStringLiteral("%1, line %2: \"%3\" (the glossary's \"%4\") in: %5")
                    .arg(text.where)
                    .arg(text.text.left(match.capturedStart()).count(QLatin1Char('\n')) + 1)
                    .arg(match.captured(), forbidden.term, lines.simplified());
      }
    }
  }
  return hits;
}

// The text of a manual page's sections as it reads, line for line: without the examples, which
// are command lines, the requests' names and the escapes of hyphens, fonts and hyphenation.
TText ManualPageText(const QString& path) {
  static const QRegularExpression request(QStringLiteral("^\\.[A-Za-z]+\\s*"));
  static const QRegularExpression font(QStringLiteral("\\\\f[BIRP]"));
  QStringList lines;
  bool inExample = false;
  for (QString line : ReadText(path).split(QLatin1Char('\n'))) {
    if (line.startsWith(QStringLiteral(".nf"))) inExample = true;
    if (line.startsWith(QStringLiteral(".fi"))) inExample = false;
    if (inExample) line.clear();
    line.remove(request).remove(font).remove(QStringLiteral("\\%"));
    lines << line.replace(QStringLiteral("\\-"), QStringLiteral("-"));
  }
  return {QFileInfo(path).fileName(), lines.join(QLatin1Char('\n'))};
}

TEST(Glossary, ForbidsSynonymsInBothLanguagesAndNoneOfItsOwnTerms) {
  const TGlossary glossary = ReadGlossary();
  int english = 0, czech = 0;
  for (const TForbidden& forbidden : glossary.forbidden) {
    EXPECT_TRUE(forbidden.pattern.isValid()) << forbidden.phrase.toStdString();
    (forbidden.language == TLanguage::kEnglish ? english : czech) += 1;
  }
  EXPECT_GE(english, 10) << "the glossary's tables, EN `...` in the column \"forbids\"";
  EXPECT_GE(czech, 1);
  ASSERT_GE(glossary.terms.size(), 30);
  // A term that its own glossary forbids could never be written.
  std::vector<TText> terms;
  for (const QString& term : glossary.terms)
    terms.push_back({QStringLiteral("docs/glossary.md, term"), term});
  const QStringList hits = Hits(glossary, TLanguage::kEnglish, terms);
  EXPECT_TRUE(hits.isEmpty()) << hits.join(QLatin1Char('\n')).toStdString();
}

TEST(Glossary, TheEnglishWindowUsesNoForbiddenSynonym) {
  std::vector<TText> texts;
  for (const TMessage& message : ReadTranslations())
    texts.push_back({QStringLiteral("zorvid-l_en.ts, ") + message.context,
                     WithoutMnemonics(message.translation)});
  const QStringList hits = Hits(ReadGlossary(), TLanguage::kEnglish, texts);
  EXPECT_TRUE(hits.isEmpty()) << hits.join(QLatin1Char('\n')).toStdString();
}

TEST(Glossary, TheCzechWindowUsesNoForbiddenSynonymButInTheTextsItLists) {
  const TGlossary glossary = ReadGlossary();
  const QSet<QString> kept(glossary.keptCzech.begin(), glossary.keptCzech.end());
  std::vector<TText> unlisted;
  QSet<QString> sources;
  for (const TMessage& message : ReadTranslations()) {
    sources << message.source;
    if (!kept.contains(message.source))
      unlisted.push_back(
          {QStringLiteral("zorvid-l_en.ts, ") + message.context, WithoutMnemonics(message.source)});
  }
  const QStringList hits = Hits(glossary, TLanguage::kCzech, unlisted);
  EXPECT_TRUE(hits.isEmpty()) << hits.join(QLatin1Char('\n')).toStdString();
  // The list shrinks as the texts change: a listed text is still there and still needs it.
  for (const QString& text : glossary.keptCzech) {
    EXPECT_TRUE(sources.contains(text)) << "listed, but no window text: " << text.toStdString();
    EXPECT_FALSE(Hits(glossary, TLanguage::kCzech, {{QString(), WithoutMnemonics(text)}}).isEmpty())
        << "listed, but has no forbidden synonym: " << text.toStdString();
  }
}

TEST(Glossary, ZorvidctlsHelpUsesNoForbiddenSynonym) {
  std::ostringstream out, err;
  ASSERT_EQ(ctl::RunZorvidCtl({"--help"}, out, err, false), 0) << err.str();
  const QString help = QString::fromStdString(out.str());
  ASSERT_TRUE(help.contains(QStringLiteral("Exit codes")));
  const QStringList hits =
      Hits(ReadGlossary(), TLanguage::kEnglish, {{QStringLiteral("zorvidctl --help"), help}});
  EXPECT_TRUE(hits.isEmpty()) << hits.join(QLatin1Char('\n')).toStdString();
}

TEST(Glossary, TheManualPagesSectionsUseNoForbiddenSynonym) {
  const QDir packaging(kSourceDir + QStringLiteral("/packaging"));
  const QStringList pages = packaging.entryList({QStringLiteral("*.h2m")}, QDir::Files);
  ASSERT_EQ(pages.size(), 3) << "zorvid-l, zorvidctl and zorvid-sim";
  std::vector<TText> texts;
  for (const QString& page : pages)
    texts.push_back(ManualPageText(packaging.filePath(page)));
  const QStringList hits = Hits(ReadGlossary(), TLanguage::kEnglish, texts);
  EXPECT_TRUE(hits.isEmpty()) << hits.join(QLatin1Char('\n')).toStdString();
}

}  // namespace
}  // namespace zorvid
