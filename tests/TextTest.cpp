// Text from outside as messages show it, and hex as the tools read it.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "core/EchoText.h"
#include "core/HexText.h"

namespace zorvid {
namespace {

TEST(EchoTextTest, ControlCharactersAreEscapedAndNothingElse) {
  EXPECT_EQ(EscapeControls("\x1B[2J\r\n\x7F ok\\"), "\\x1B[2J\\x0D\\x0A\\x7F ok\\x5C");
  EXPECT_EQ(EscapeControls("Zörvid ~"), "Zörvid ~");
  EXPECT_EQ(EscapeControls(std::string("a\0b", 3)), "a\\x00b");
}

// Well-formed UTF-8 stays whole, every other byte is written \xNN; the printable form also
// escapes what a terminal would act on, and the backslash, so that "\x" is always an escape.
TEST(EchoTextTest, TextIsUtf8WithEverythingElseEscaped) {
  const std::vector<std::tuple<std::string, std::string, std::string>> cases{
      // bytes, Utf8Text, EscapeControls
      {"Z\xC3\xB6rvid \xE2\x82\xAC \xF0\x9F\x98\x80", "Zörvid € 😀", "Zörvid € 😀"},
      {std::string("\x00\n\x1B[2J\x7F", 7), std::string("\x00\n\x1B[2J\x7F", 7),
       "\\x00\\x0A\\x1B[2J\\x7F"},
      {"a\\b", "a\\b", "a\\x5Cb"},
      // C1 control characters: CSI (U+009B) and its neighbours.
      {"\xC2\x9B"
       "2J\xC2\x80\xC2\x9F\xC2\xA0",
       "\xC2\x9B"
       "2J\xC2\x80\xC2\x9F\xC2\xA0",
       "\\xC2\\x9B"
       "2J\\xC2\\x80\\xC2\\x9F\xC2\xA0"},
      // Latin-1, a cut sequence, overlong, a surrogate, past U+10FFFF, a lone continuation.
      {"Z\xF6rvid", "Z\\xF6rvid", "Z\\xF6rvid"},
      {"\xE2\x82", "\\xE2\\x82", "\\xE2\\x82"},
      {"\xC0\xAF\xE0\x80\xAF", "\\xC0\\xAF\\xE0\\x80\\xAF", "\\xC0\\xAF\\xE0\\x80\\xAF"},
      {"\xED\xA0\x80", "\\xED\\xA0\\x80", "\\xED\\xA0\\x80"},
      {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80", "\\xF4\\x90\\x80\\x80"},
      {"\x80z", "\\x80z", "\\x80z"},
  };
  for (const auto& [bytes, utf8, printable] : cases) {
    EXPECT_EQ(Utf8Text(bytes), utf8) << FormatHexSpaced(bytes);
    EXPECT_EQ(EscapeControls(bytes), printable) << FormatHexSpaced(bytes);
  }
}

TEST(EchoTextTest, AnEchoIsCutAfterSixtyFourCharactersWithoutSplittingOne) {
  const std::string sixtyFour(64, 'x');
  EXPECT_EQ(EchoedText(sixtyFour), sixtyFour);
  EXPECT_EQ(EchoedText(sixtyFour + "y"), sixtyFour + "…");
  // 63 plain characters, then two-byte ones: the 64th is kept whole, the 65th cut.
  EXPECT_EQ(EchoedText(std::string(63, 'x') + "ööö"), std::string(63, 'x') + "ö…");
  std::string escapedLineFeeds;
  for (int i = 0; i < 64; ++i)
    escapedLineFeeds += "\\x0A";
  EXPECT_EQ(Quoted(std::string(70, '\n')), InQuotes(escapedLineFeeds + "…"));
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
