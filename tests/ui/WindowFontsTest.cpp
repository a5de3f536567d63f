#include "ui/WindowFonts.h"

#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontInfo>

namespace zorvid {
namespace {

// The packaged families win over whatever the desktop binds the original names to (run also
// under a configuration that binds Arial to Nimbus Sans); where one is missing, fontconfig
// chooses the substitute.
TEST(WindowFonts, ThePackagedFamilyIsDrawnWhereverItIsInstalled) {
  const struct {
    QFont font;
    QString packaged;
  } fonts[] = {{AddressListFont(9), QStringLiteral("Liberation Sans")},
               {LogPrefixFont(), QStringLiteral("DejaVu Sans Mono")},
               {LogTextFont(), QStringLiteral("Carlito")}};
  for (const auto& [font, packaged] : fonts) {
    if (!QFontDatabase::hasFamily(packaged)) continue;
    EXPECT_EQ(QFontInfo(font).family(), packaged);
  }
  EXPECT_TRUE(QFontInfo(LogPrefixFont()).fixedPitch());
  EXPECT_EQ(LogPrefixFont().pointSize(), 6);
  EXPECT_EQ(LogTextFont().pointSize(), 10);
}

}  // namespace
}  // namespace zorvid
