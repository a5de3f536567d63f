// Text from outside as messages show it, and hex as the tools read it.
#include <gtest/gtest.h>

#include <string>

#include "core/EchoText.h"
#include "core/HexText.h"

namespace zorvid {
namespace {

TEST(EchoTextTest, ControlCharactersAreEscapedAndNothingElse) {
  EXPECT_EQ(EscapeControls("\x1B[2J\r\n\x7F ok\\"), "\\x1B[2J\\x0D\\x0A\\x7F ok\\x5C");
  EXPECT_EQ(EscapeControls("Zörvid ~"), "Zörvid ~");
  EXPECT_EQ(EscapeControls(std::string("a\0b", 3)), "a\\x00b");
}

TEST(EchoTextTest, AnEchoIsCutAfterSixtyFourCharactersWithoutSplittingOne) {
  const std::string sixtyFour(64, 'x');
  EXPECT_EQ(EchoedText(sixtyFour), sixtyFour);
  EXPECT_EQ(EchoedText(sixtyFour + "y"), sixtyFour + "…");
  // 63 plain characters, then two-byte ones: the 64th is kept whole, the 65th cut.
  EXPECT_EQ(EchoedText(std::string(63, 'x') + "ööö"), std::string(63, 'x') + "ö…");
  EXPECT_EQ(
      Quoted(std::string(70, '\n')), "\"" + [] {
        std::string escaped;
        for (int i = 0; i < 64; ++i)
          escaped += "\\x0A";
        return escaped;
      }() + "…\"");
}

TEST(HexTextTest, PairsInEitherCaseWithBlanksBetweenThem) {
  EXPECT_EQ(ParseHex(" 033f 065B4F "), std::string("\x03\x3F\x06\x5B\x4F"));
  EXPECT_EQ(ParseHex(""), std::string());
  EXPECT_FALSE(ParseHex("0 3"));
  EXPECT_FALSE(ParseHex("03F"));
  EXPECT_FALSE(ParseHex("0g"));
}

}  // namespace
}  // namespace zorvid
