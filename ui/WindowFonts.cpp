#include "ui/WindowFonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace zorvid {
namespace {

// `families` in order of preference; where none is installed, `fallback`'s family, which
// fontconfig always has.
QFont NamedFont(const QStringList& families, QFontDatabase::SystemFont fallback, int pointSize) {
  QFont font = QFontDatabase::systemFont(fallback);
  QStringList preferred = families;
  preferred.append(font.families().isEmpty() ? QStringList{font.family()} : font.families());
  font.setFamilies(preferred);
  font.setPointSize(pointSize);
  return font;
}

}  // namespace

QFont AddressListFont(int pointSize) {
  return NamedFont({QStringLiteral("Liberation Sans"), QStringLiteral("Arial")},
                   QFontDatabase::GeneralFont, pointSize);
}

QFont LogPrefixFont() {
  return NamedFont({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Lucida Console")},
                   QFontDatabase::FixedFont, 6);
}

QFont LogTextFont() {
  return NamedFont({QStringLiteral("Carlito"), QStringLiteral("Calibri")},
                   QFontDatabase::GeneralFont, 10);
}

}  // namespace zorvid
