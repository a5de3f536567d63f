#include "core/Guid.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "core/Errors.h"

namespace zorvid {
namespace {

using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

TEST(Guid, TextRoundTrip) {
  const TGUID parsed = StringToGUID("{01234567-89AB-CDEF-0123-456789ABCDEF}");
  EXPECT_EQ(parsed.D1, 0x01234567u);
  EXPECT_EQ(parsed.D2, 0x89ABu);
  EXPECT_EQ(parsed.D3, 0xCDEFu);
  EXPECT_EQ(parsed.D4,
            (std::array<std::uint8_t, 8>{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}));
  EXPECT_EQ(GUIDToString(parsed), "{01234567-89AB-CDEF-0123-456789ABCDEF}");

  // All bits set: no sign extension or truncation in any field.
  const TGUID ones = StringToGUID("{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}");
  EXPECT_EQ(ones.D1, 0xFFFFFFFFu);
  EXPECT_EQ(ones.D2, 0xFFFFu);
  EXPECT_EQ(ones.D3, 0xFFFFu);
  EXPECT_EQ(GUIDToString(ones), "{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}");
  EXPECT_EQ(GUIDToString(TGUID{}), "{00000000-0000-0000-0000-000000000000}");

  for (int i = 0; i < 100; ++i) {
    const TGUID guid = CreateGUID();
    EXPECT_EQ(StringToGUID(GUIDToString(guid)), guid) << GUIDToString(guid);
  }
}

TEST(Guid, LowerCaseIsAccepted) {
  const TGUID lower = StringToGUID("{abcdef01-2345-6789-abcd-ef0123456789}");
  EXPECT_EQ(lower, StringToGUID("{ABCDEF01-2345-6789-ABCD-EF0123456789}"));
  EXPECT_EQ(StringToGUID("{aBcDeF01-2345-6789-AbCd-eF0123456789}"), lower);
  EXPECT_EQ(GUIDToString(lower), "{ABCDEF01-2345-6789-ABCD-EF0123456789}");
}

TEST(Guid, MalformedTextRaisesConvertError) {
  const std::vector<std::string> malformed{
      "{01234567-89AB-CDEF-0123-456789ABCDE}",    // one digit short
      "{01234567-89AB-CDEF-0123-456789ABCDEF0}",  // one digit too many
      "01234567-89AB-CDEF-0123-456789ABCDEF",     // no braces
      "(01234567-89AB-CDEF-0123-456789ABCDEF)",   // other brackets
      "{01234567-89AB-CDEF-0123-456789ABCDEF ",   // closing brace missing
      "01234567-89AB-CDEF-0123-456789ABCDEF}{",   // braces in the wrong places
      "{0123456-789AB-CDEF-0123-456789ABCDEF}",   // first dash one too early
      "{01234567-89ABC-DEF-0123-456789ABCDEF}",   // second dash one too late
      "{01234567-89AB-CDEF-01234-56789ABCDEF}",   // fourth dash one too late
      "{01234567089AB-CDEF-0123-456789ABCDEF}",   // digit in place of a dash
      "{01234567-89AB_CDEF-0123-456789ABCDEF}",   // other separator
      "{0123456G-89AB-CDEF-0123-456789ABCDEF}",   // not hex
      "{01234567-89AB-CDEF-0123-456789ABCDE }",   // blank in place of a digit
      "{01234567-89AB-CDEF-0123-456789ABCDEf}x",  // trailing text
  };
  for (const auto& text : malformed) {
    EXPECT_THAT([&] { StringToGUID(text); }, ThrowsMessage<EConvertError>(HasSubstr(text))) << text;
  }
  EXPECT_THROW(StringToGUID(""), EConvertError);
  EXPECT_THROW(StringToGUID(std::string("{01234567-89AB-CDEF-0123-456789ABCDE\0}", 38)),
               EConvertError);
}

TEST(Guid, CreateGUIDMakesDistinctVersion4Values) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const TGUID guid = CreateGUID();
    const std::string text = GUIDToString(guid);
    EXPECT_EQ(guid.D3 >> 12, 4) << text;
    EXPECT_EQ(text[15], '4') << text;
    EXPECT_EQ(guid.D4[0] & 0xC0, 0x80) << text;  // the standard variant
    seen.insert(text);
  }
  EXPECT_EQ(seen.size(), 200u);
}

}  // namespace
}  // namespace zorvid
