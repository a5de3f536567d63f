#include "device/Zorvid.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device/ZorvidCodec.h"
#include "tests/support/ByteText.h"
#include "tests/support/FakeKorvelStack.h"

namespace zorvid {
namespace {

using test::Bytes;

using test::AnswerTo;
using test::TFakeKorvelStack;

std::string Hex(const std::optional<TByteString>& bytes) {
  return bytes ? FormatHexSpaced(*bytes) : "nothing";
}

TDateTime At(int year, int month, int day, int hour, int minute, int second, int ms = 0) {
  return EncodeDateTime({year, month, day, hour, minute, second, ms}).value();
}

std::string Text(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day,
                p.hour, p.minute, p.second, p.millisecond);
  return text;
}

// 2026-03-07 14:05:09 as the display exchanges it.
const TByteString kDateTimeBytes = Bytes({0x0E, 0x05, 0x09, 0x07, 0x03, 0x1A});
const TByteString kDateTimeAnswer = Bytes({0x0E, 0x05, 0x09, 0x06, 0x07, 0x03, 0x1A});
// Date-time settings, and the same as the display exchanges them.
const TDateTimeParams kSummerDateParams{
    .summerTime = true, .showDate = true, .offset = -60, .zone = 3};
const TByteString kParamsBytes = Bytes({0x02, 0x02, 0xFF, 0xC4, 0x00, 0x03});

// Names each case of a parameterised test after its `name`.
struct TCaseName {
  template <class TInfo>
  std::string operator()(const TInfo& testInfo) const {
    return testInfo.param.name;
  }
};

// ---------------------------------------------------------------------------------------------
// Display text

struct TDisplayTextCase {
  std::string text;
  std::string sent;  // hex, or "nothing"
};

void PrintTo(const TDisplayTextCase& value, std::ostream* out) {
  *out << '"' << value.text << '"';
}

class DisplayTextTest : public ::testing::TestWithParam<TDisplayTextCase> {};

TEST_P(DisplayTextTest, ValidityAndBytesAgree) {
  const auto& [text, sent] = GetParam();
  EXPECT_EQ(Hex(PackDisplayText(text)), sent);
  EXPECT_EQ(IsValidDisplayText(text), sent != "nothing");
}

INSTANTIATE_TEST_SUITE_P(
    Accepted, DisplayTextTest,
    ::testing::Values(
        // Without "." or ":" a blank goes after the text, the rest is padded in front.
        TDisplayTextCase{"12", "20 20 31 32 20"}, TDisplayTextCase{"AB-1", "61 62 2D 31 20"},
        TDisplayTextCase{"", "20 20 20 20 20"}, TDisplayTextCase{"1234", "31 32 33 34 20"},
        // With "." or ":" only the padding in front.
        TDisplayTextCase{"1.5", "20 20 31 2E 35"}, TDisplayTextCase{"12:", "20 20 31 32 3A"},
        TDisplayTextCase{"-1.5", "20 2D 31 2E 35"},
        // Five characters go as they are, lower-cased.
        TDisplayTextCase{"12.34", "31 32 2E 33 34"}, TDisplayTextCase{"HeLlO", "68 65 6C 6C 6F"},
        TDisplayTextCase{"zZ 09", "7A 7A 20 30 39"}, TDisplayTextCase{"1234.", "31 32 33 34 2E"}));

INSTANTIATE_TEST_SUITE_P(
    Refused, DisplayTextTest,
    ::testing::Values(TDisplayTextCase{"123456", "nothing"}, TDisplayTextCase{".12", "nothing"},
                      TDisplayTextCase{"1..2", "nothing"}, TDisplayTextCase{"1.2.", "nothing"},
                      TDisplayTextCase{"a_b", "nothing"}, TDisplayTextCase{"1:2", "nothing"},
                      TDisplayTextCase{"1.2:", "nothing"}, TDisplayTextCase{"12\t", "nothing"},
                      TDisplayTextCase{"\xC3\xA9", "nothing"},
                      TDisplayTextCase{std::string("1\0", 2), "nothing"}));

// ---------------------------------------------------------------------------------------------
// Date and time

TEST(DateTimeCodecTest, PacksClockFieldsAndDropsMilliseconds) {
  EXPECT_EQ(Hex(PackDateTime(At(2026, 3, 7, 14, 5, 9))), Hex(kDateTimeBytes));
  EXPECT_EQ(Hex(PackDateTime(At(2026, 3, 7, 14, 5, 9, 999))), Hex(kDateTimeBytes));
  EXPECT_EQ(Hex(PackDateTime(At(2000, 1, 1, 0, 0, 0))), "00 00 00 01 01 00");
  EXPECT_EQ(Hex(PackDateTime(At(2099, 12, 31, 23, 59, 59, 999))), "17 3B 3B 1F 0C 63");
}

// Only 2000..2099 come back as they were sent: the display reads the year as 2000 + byte.
TEST(DateTimeCodecTest, RefusesValuesTheDisplayCannotHold) {
  for (const TDateTime value : {At(1999, 12, 31, 23, 59, 59), At(2100, 1, 1, 0, 0, 0),
                                At(1, 1, 1, 0, 0, 0), At(9999, 12, 31, 23, 59, 59)}) {
    SCOPED_TRACE(Text(value));
    EXPECT_EQ(Hex(PackDateTime(value)), "nothing");
  }
  for (const TDateTime value :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(), -693594.0, 2958466.0, 1e300}) {
    SCOPED_TRACE(value);
    EXPECT_EQ(Hex(PackDateTime(value)), "nothing");
  }
}

TEST(DateTimeCodecTest, UnpacksSevenBytesIgnoringTheWeekday) {
  ASSERT_TRUE(UnpackDateTime(kDateTimeAnswer).has_value());
  EXPECT_EQ(Text(*UnpackDateTime(kDateTimeAnswer)), Text(At(2026, 3, 7, 14, 5, 9)));
  TByteString otherWeekday = kDateTimeAnswer;
  otherWeekday[3] = 0x7F;
  EXPECT_EQ(UnpackDateTime(otherWeekday), UnpackDateTime(kDateTimeAnswer));
  EXPECT_EQ(Text(UnpackDateTime(Bytes({23, 59, 59, 0, 31, 12, 255})).value()),
            "2255-12-31 23:59:59.000");
}

struct TBadDateTimeCase {
  const char* name;
  TByteString answer;
};

class DateTimeAnswerRefusedTest : public ::testing::TestWithParam<TBadDateTimeCase> {};

TEST_P(DateTimeAnswerRefusedTest, GivesNothing) {
  EXPECT_FALSE(UnpackDateTime(GetParam().answer).has_value()) << Hex(GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    All, DateTimeAnswerRefusedTest,
    ::testing::Values(TBadDateTimeCase{"Month13", Bytes({14, 5, 9, 6, 7, 13, 26})},
                      TBadDateTimeCase{"Month0", Bytes({14, 5, 9, 6, 7, 0, 26})},
                      TBadDateTimeCase{"Day0", Bytes({14, 5, 9, 6, 0, 3, 26})},
                      TBadDateTimeCase{"February29Of2026", Bytes({14, 5, 9, 6, 29, 2, 26})},
                      TBadDateTimeCase{"Hour24", Bytes({24, 5, 9, 6, 7, 3, 26})},
                      TBadDateTimeCase{"Minute60", Bytes({14, 60, 9, 6, 7, 3, 26})},
                      TBadDateTimeCase{"Second60", Bytes({14, 5, 60, 6, 7, 3, 26})},
                      TBadDateTimeCase{"SixBytes", kDateTimeBytes},
                      TBadDateTimeCase{"EightBytes", kDateTimeAnswer + '\0'}),
    TCaseName());

// ---------------------------------------------------------------------------------------------
// Date-time parameters

TEST(DateTimeParamsCodecTest, PacksFlagsOffsetAndZone) {
  EXPECT_EQ(Hex(PackDateTimeParams(kSummerDateParams)), Hex(kParamsBytes));
  EXPECT_EQ(UnpackDateTimeParams(kParamsBytes), kSummerDateParams);
}

struct TParamFlagCase {
  bool TDateTimeParams::*flag;
  const char* bytes;
};

class DateTimeParamsFlagTest : public ::testing::TestWithParam<TParamFlagCase> {};

TEST_P(DateTimeParamsFlagTest, EachFlagHasItsOwnBit) {
  TDateTimeParams params;
  params.*GetParam().flag = true;
  EXPECT_EQ(Hex(PackDateTimeParams(params)), GetParam().bytes);
  EXPECT_EQ(UnpackDateTimeParams(PackDateTimeParams(params).value()), params);
}

INSTANTIATE_TEST_SUITE_P(
    All, DateTimeParamsFlagTest,
    ::testing::Values(TParamFlagCase{&TDateTimeParams::showTime, "01 00 00 00 00 00"},
                      TParamFlagCase{&TDateTimeParams::showDate, "02 00 00 00 00 00"},
                      TParamFlagCase{&TDateTimeParams::showTemperature, "04 00 00 00 00 00"},
                      TParamFlagCase{&TDateTimeParams::autoUpdate, "00 01 00 00 00 00"},
                      TParamFlagCase{&TDateTimeParams::summerTime, "00 02 00 00 00 00"},
                      TParamFlagCase{&TDateTimeParams::showAfterTurnOn, "00 04 00 00 00 00"},
                      TParamFlagCase{&TDateTimeParams::showAfterExpiration, "00 08 00 00 00 00"},
                      TParamFlagCase{&TDateTimeParams::format12Hour, "00 10 00 00 00 00"},
                      TParamFlagCase{&TDateTimeParams::formatMDY, "00 20 00 00 00 00"}));

TEST(DateTimeParamsCodecTest, OffsetAndZoneLimits) {
  EXPECT_EQ(Hex(PackDateTimeParams({.offset = -660, .zone = 65535})), "00 00 FD 6C FF FF");
  EXPECT_EQ(Hex(PackDateTimeParams({.offset = 780, .zone = 0})), "00 00 03 0C 00 00");
  for (const auto& [offset, zone] :
       std::vector<std::pair<int, int>>{{781, 0}, {-661, 0}, {0, 65536}, {0, -1}}) {
    SCOPED_TRACE(testing::Message() << "offset " << offset << " zone " << zone);
    EXPECT_EQ(Hex(PackDateTimeParams({.offset = offset, .zone = zone})), "nothing");
  }
}

TEST(DateTimeParamsCodecTest, UnpackReadsSignedOffsetAndIgnoresUnusedBits) {
  const auto params = UnpackDateTimeParams(Bytes({0xF8, 0xC0, 0x80, 0x00, 0xFF, 0xFE}));
  ASSERT_TRUE(params.has_value());
  // The display's offset, even outside the range we send.
  EXPECT_EQ(*params, (TDateTimeParams{.offset = -32768, .zone = 65534}));
  EXPECT_FALSE(UnpackDateTimeParams(kParamsBytes.substr(0, 5)).has_value());
  EXPECT_FALSE(UnpackDateTimeParams(kParamsBytes + '\0').has_value());
}

// ---------------------------------------------------------------------------------------------
// Expiration, channels, brightness, temperature

TEST(ExpirationCodecTest, TwoBytesFromZeroTo65535) {
  EXPECT_EQ(Hex(PackDataExpiration(0)), "00 00");
  EXPECT_EQ(Hex(PackDataExpiration(300)), "01 2C");
  EXPECT_EQ(Hex(PackDataExpiration(65535)), "FF FF");
  EXPECT_EQ(Hex(PackDataExpiration(-1)), "nothing");
  EXPECT_EQ(Hex(PackDataExpiration(65536)), "nothing");
  EXPECT_EQ(UnpackDataExpiration(Bytes({0x01, 0x2C, 0xFF, 0xFE})), (TDataExpiration{300, 65534}));
  EXPECT_FALSE(UnpackDataExpiration(Bytes({0x01, 0x2C})).has_value());
}

TEST(ChannelCodecTest, SelectorCarriesChannelAndFlag) {
  EXPECT_EQ(Hex(PackChannelFlag(1, false)), "01");
  EXPECT_EQ(Hex(PackChannelFlag(2, true)), "82");
  EXPECT_EQ(Hex(PackChannelFlag(0, true)), "nothing");
  EXPECT_EQ(Hex(PackChannelFlag(3, false)), "nothing");
  EXPECT_EQ(UnpackChannelSelector(0x82), (TChannelSelector{2, true}));
  EXPECT_EQ(UnpackChannelSelector(0x41), (TChannelSelector{1, false}));  // other bits ignored
  EXPECT_FALSE(UnpackChannelSelector(0x80).has_value());
  EXPECT_FALSE(UnpackChannelSelector(0x03).has_value());
}

TEST(ChannelCodecTest, ValueGoesBeforeSelector) {
  EXPECT_EQ(Hex(PackChannelValue(2, true, 10)), "0A 82");
  EXPECT_EQ(Hex(PackChannelValue(1, false, 255)), "FF 01");
  EXPECT_EQ(Hex(PackChannelValue(1, false, 256)), "nothing");
  EXPECT_EQ(Hex(PackChannelValue(2, false, -1)), "nothing");
  EXPECT_EQ(Hex(PackChannelValue(3, false, 0)), "nothing");
}

TEST(ChannelCodecTest, FlagsAnswerIsOneByteOfTwoBits) {
  EXPECT_EQ(UnpackChannelFlags(Bytes({0x01})), (TChannelFlags{true, false}));
  EXPECT_EQ(UnpackChannelFlags(Bytes({0x02})), (TChannelFlags{false, true}));
  EXPECT_EQ(UnpackChannelFlags(Bytes({0xFC})), (TChannelFlags{false, false}));
  EXPECT_FALSE(UnpackChannelFlags("").has_value());
  EXPECT_FALSE(UnpackChannelFlags(Bytes({0x03, 0x03})).has_value());
}

struct TChannelValuesCase {
  TByteString answer;
  std::optional<TChannelValues> values;  // flag1, flag2, value1, value2
};

class ChannelValuesCodecTest : public ::testing::TestWithParam<TChannelValuesCase> {};

TEST_P(ChannelValuesCodecTest, NeedsOnePairForEachChannel) {
  EXPECT_EQ(UnpackChannelValues(GetParam().answer), GetParam().values) << Hex(GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    All, ChannelValuesCodecTest,
    ::testing::Values(
        TChannelValuesCase{Bytes({0x82, 0x0A, 0x01, 0x05}), TChannelValues{false, true, 5, 10}},
        TChannelValuesCase{Bytes({0x01, 0x05, 0x82, 0x0A}), TChannelValues{false, true, 5, 10}},
        // Only bits 0-1 name the channel; bits 2-6 are not the display's business here.
        TChannelValuesCase{Bytes({0xFD, 0xFF, 0x7E, 0x00}), TChannelValues{true, false, 255, 0}},
        TChannelValuesCase{Bytes({0x01, 0x0A, 0x01, 0x05}), std::nullopt},
        TChannelValuesCase{Bytes({0x82, 0x0A, 0x02, 0x05}), std::nullopt},
        TChannelValuesCase{Bytes({0x03, 0x0A, 0x01, 0x05}), std::nullopt},
        TChannelValuesCase{Bytes({0x80, 0x0A, 0x02, 0x05}), std::nullopt},
        TChannelValuesCase{Bytes({0x82, 0x0A, 0x01}), std::nullopt},
        TChannelValuesCase{Bytes({0x82, 0x0A, 0x01, 0x05, 0x00}), std::nullopt}));

TEST(BrightnessCodecTest, StaticValueFromZeroTo127) {
  EXPECT_EQ(Hex(PackBrightness(0)), "00");
  EXPECT_EQ(Hex(PackBrightness(127)), "7F");
  EXPECT_EQ(Hex(PackBrightness(128)), "nothing");
  EXPECT_EQ(Hex(PackBrightness(-1)), "nothing");
  EXPECT_EQ(UnpackBrightness(Bytes({0xFF})), 255);
  EXPECT_FALSE(UnpackBrightness(Bytes({0x01, 0x02})).has_value());
}

struct TBrightnessAutoCase {
  TBrightnessAuto settings;
  const char* sent;
};

class BrightnessAutoCodecTest : public ::testing::TestWithParam<TBrightnessAutoCase> {};

TEST_P(BrightnessAutoCodecTest, PacksWithinLimits) {
  EXPECT_EQ(Hex(PackBrightnessAuto(GetParam().settings)), GetParam().sent);
}

const TBrightnessAutoCase kBrightnessAuto[] = {
    // The display follows the light between the two: MIN above MAX is refused, equal taken.
    {{true, 6, 36, 0}, "01 06 24 00"},     {{false, 36, 6, 100}, "nothing"},
    {{false, 20, 20, 100}, "00 14 14 64"}, {{true, 5, 36, 0}, "nothing"},
    {{true, 37, 36, 0}, "nothing"},        {{true, 6, 37, 0}, "nothing"},
    {{true, 6, 5, 0}, "nothing"},          {{true, 6, 36, 101}, "nothing"},
    {{true, 6, 36, -1}, "nothing"}};
INSTANTIATE_TEST_SUITE_P(All, BrightnessAutoCodecTest, ::testing::ValuesIn(kBrightnessAuto));

TEST(BrightnessAutoCodecTest, AnyNonZeroFirstByteMeansAutomatic) {
  EXPECT_EQ(UnpackBrightnessAuto(Bytes({0x07, 0x06, 0x24, 0x32})),
            (TBrightnessAuto{true, 6, 36, 50}));
  EXPECT_EQ(UnpackBrightnessAuto(Bytes({0x00, 0x01, 0x02, 0x03})),
            (TBrightnessAuto{false, 1, 2, 3}));
  EXPECT_FALSE(UnpackBrightnessAuto(Bytes({0x01, 0x06, 0x24})).has_value());
}

TEST(TemperatureCodecTest, TenthsOfADegreeAfterAnIgnoredByte) {
  EXPECT_EQ(UnpackTemperature(Bytes({0x01, 0x00, 0xEB})), 23.5);
  EXPECT_EQ(UnpackTemperature(Bytes({0xFF, 0x00, 0x00})), 0.0);
  EXPECT_EQ(UnpackTemperature(Bytes({0x00, 0xFF, 0xFF})), 6553.5);  // unsigned
  EXPECT_FALSE(UnpackTemperature(Bytes({0x00, 0xEB})).has_value());
  EXPECT_FALSE(UnpackTemperature(Bytes({0x01, 0x00, 0xEB, 0x00})).has_value());
}

// ---------------------------------------------------------------------------------------------
// The device on a stack without a line

constexpr TByte kAddress = 0x31;
constexpr TByte kErrorAck = 0x02;

class ZorvidDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(stack_->AddDevice(device_)); }
  void TearDown() override { stack_->RemoveDevice(device_); }

  // Every request gets an answer with `ack` and `data`.
  void AnswerWith(const TByteString& data, TByte ack = 0) {
    stack_->SetScript([=](const TKorvelFormat97& request) { return AnswerTo(request, ack, data); });
  }
  void AnswerNothing() {
    stack_->SetScript([](const TKorvelFormat97&) { return std::nullopt; });
  }
  // The one packet the device sent, as "INST: DATA".
  std::string SentPacket() {
    const std::vector<TKorvelFormat97> sent = stack_->Sent();
    if (sent.size() != 1) return std::to_string(sent.size()) + " packets";
    EXPECT_EQ(sent[0].Adr, kAddress);
    return Hex(TByteString(1, static_cast<char>(sent[0].Inst))) + ": " + Hex(sent[0].Data);
  }

  TRef<TFakeKorvelStack> stack_ = New<TFakeKorvelStack>();
  TRef<TZorvid> device_ = New<TZorvid>(kAddress);
};

// SetDisplayData with `data`, for the tables below.
std::function<bool(IZorvid&)> SetData(const TByteString& data) {
  return [data](IZorvid& d) { return d.SetDisplayData(data); };
}

TEST_F(ZorvidDeviceTest, IsTheDisplayDevice) {
  EXPECT_EQ(device_->GetName(), "TZorvid");
  EXPECT_TRUE(IID_IZorvid.offeredBy(device_.Get()));
  EXPECT_FALSE(IID_IZorvid.offeredBy(New<TKorvelStackDevice>(kAddress).Get()));
  const std::string guid = "{0E5B9C9A-2A4C-4C1B-9D3E-6F7A8B9C0D1E}";
  EXPECT_EQ(New<TZorvid>(guid, kAddress)->GetGUIDString(), guid);
}

// --- Commands: exact request bytes ---

struct TCommandCase {
  const char* name;
  std::function<bool(IZorvid&)> call;
  const char* sent;  // "INST: DATA"
};

class ZorvidCommandTest : public ZorvidDeviceTest,
                          public ::testing::WithParamInterface<TCommandCase> {};

TEST_P(ZorvidCommandTest, SendsExactBytesAndSucceedsOnAcknowledgeZero) {
  AnswerWith("");
  EXPECT_TRUE(GetParam().call(*device_));
  EXPECT_EQ(SentPacket(), GetParam().sent);
  EXPECT_EQ(device_->GetLastResult(), kResultAnswered);
}

TEST_P(ZorvidCommandTest, FailsOnErrorAcknowledgeAndWithoutAnswer) {
  AnswerWith("", kErrorAck);
  EXPECT_FALSE(GetParam().call(*device_));
  EXPECT_EQ(device_->GetLastResult(), kResultErrorAck);
  EXPECT_EQ(device_->GetLastAck(), kErrorAck);

  stack_->ClearSent();
  AnswerNothing();
  EXPECT_FALSE(GetParam().call(*device_));
  EXPECT_EQ(SentPacket(), GetParam().sent);
  EXPECT_EQ(device_->GetLastResult(), kResultNoAnswer);
}

const TCommandCase kCommands[] = {
    {"DisplayChars12", [](IZorvid& d) { return d.SetDisplayChars("12"); }, "90: 20 20 31 32 20"},
    {"DisplayCharsLetters", [](IZorvid& d) { return d.SetDisplayChars("AB-1"); },
     "90: 61 62 2D 31 20"},
    {"DisplayCharsDot", [](IZorvid& d) { return d.SetDisplayChars("1.5"); }, "90: 20 20 31 2E 35"},
    {"DisplayCharsEmpty", [](IZorvid& d) { return d.SetDisplayChars(""); }, "90: 20 20 20 20 20"},
    {"DisplayData", SetData(Bytes({1, 2, 4, 8, 0x80})), "91: 01 02 04 08 80"},
    {"DataExpiration", [](IZorvid& d) { return d.SetDisplayDataExpiration(300); }, "94: 01 2C"},
    {"DataExpirationPermanent", [](IZorvid& d) { return d.SetDisplayDataExpiration(0); },
     "94: 00 00"},
    {"DataExpirationLongest", [](IZorvid& d) { return d.SetDisplayDataExpiration(65535); },
     "94: FF FF"},
    {"ChannelFlag", [](IZorvid& d) { return d.SetChannelFlag(1, true); }, "20: 81"},
    {"ChannelValue", [](IZorvid& d) { return d.SetChannelValue(2, true, 10); }, "23: 0A 82"},
    {"BrightnessLowest", [](IZorvid& d) { return d.SetDisplayBrightness(0); }, "93: 00"},
    {"BrightnessHighest", [](IZorvid& d) { return d.SetDisplayBrightness(127); }, "93: 7F"},
    {"DateTime", [](IZorvid& d) { return d.SetDateTime(At(2026, 3, 7, 14, 5, 9)); },
     "70: 0E 05 09 07 03 1A"},
    {"DateTimeParams", [](IZorvid& d) { return d.SetDateTimeParams(kSummerDateParams); },
     "76: 02 02 FF C4 00 03"},
    {"DateTimeParamsAllFlags",
     [](IZorvid& d) {
       return d.SetDateTimeParams(
           TDateTimeParams{true, true, true, true, true, true, true, true, true, 780, 65535});
     },
     "76: 07 3F 03 0C FF FF"},
    {"ShowActualInformation", [](IZorvid& d) { return d.ShowActualInformation(); }, "78: "},
    {"BrightnessAuto",
     [](IZorvid& d) {
       return d.SetDisplayBrightnessAuto({true, 6, 36, 0});
     },
     "95: 01 06 24 00"},
};

INSTANTIATE_TEST_SUITE_P(All, ZorvidCommandTest, ::testing::ValuesIn(kCommands), TCaseName());

// --- Arguments out of range: nothing goes out ---

struct TRefusedCase {
  const char* name;
  std::function<bool(IZorvid&)> call;
};

class ZorvidRefusedTest : public ZorvidDeviceTest,
                          public ::testing::WithParamInterface<TRefusedCase> {};

TEST_P(ZorvidRefusedTest, SendsNothing) {
  AnswerWith("");
  EXPECT_FALSE(GetParam().call(*device_));
  EXPECT_THAT(stack_->Sent(), ::testing::IsEmpty());
}

const TRefusedCase kRefused[] = {
    {"SixDigits", [](IZorvid& d) { return d.SetDisplayChars("123456"); }},
    {"LeadingDot", [](IZorvid& d) { return d.SetDisplayChars(".12"); }},
    {"DotsInARow", [](IZorvid& d) { return d.SetDisplayChars("1..2"); }},
    {"TwoDots", [](IZorvid& d) { return d.SetDisplayChars("1.2."); }},
    {"Underscore", [](IZorvid& d) { return d.SetDisplayChars("a_b"); }},
    {"FourDataBytes", SetData(Bytes({1, 2, 3, 4}))},
    {"SixDataBytes", SetData(Bytes({1, 2, 3, 4, 5, 6}))},
    {"NegativeExpiration", [](IZorvid& d) { return d.SetDisplayDataExpiration(-1); }},
    {"ExpirationAbove65535", [](IZorvid& d) { return d.SetDisplayDataExpiration(65536); }},
    {"FlagOfChannel0", [](IZorvid& d) { return d.SetChannelFlag(0, true); }},
    {"FlagOfChannel3", [](IZorvid& d) { return d.SetChannelFlag(3, false); }},
    {"ValueOfChannel3", [](IZorvid& d) { return d.SetChannelValue(3, false, 1); }},
    {"ChannelValue256", [](IZorvid& d) { return d.SetChannelValue(1, false, 256); }},
    {"Brightness128", [](IZorvid& d) { return d.SetDisplayBrightness(128); }},
    {"NegativeBrightness", [](IZorvid& d) { return d.SetDisplayBrightness(-1); }},
    {"DateTimeNotANumber",
     [](IZorvid& d) { return d.SetDateTime(std::numeric_limits<double>::quiet_NaN()); }},
    {"DateTime1999", [](IZorvid& d) { return d.SetDateTime(At(1999, 12, 31, 23, 59, 59)); }},
    {"Offset781",
     [](IZorvid& d) {
       return d.SetDateTimeParams(TDateTimeParams{.showTime = true, .offset = 781});
     }},
    {"OffsetMinus661",
     [](IZorvid& d) {
       return d.SetDateTimeParams(TDateTimeParams{.showTime = true, .offset = -661});
     }},
    {"Zone65536",
     [](IZorvid& d) {
       return d.SetDateTimeParams(TDateTimeParams{.showTime = true, .zone = 65536});
     }},
    {"AutoMin5",
     [](IZorvid& d) {
       return d.SetDisplayBrightnessAuto({true, 5, 36, 0});
     }},
    {"AutoMax37",
     [](IZorvid& d) {
       return d.SetDisplayBrightnessAuto({true, 6, 37, 0});
     }},
    {"AutoGain101",
     [](IZorvid& d) {
       return d.SetDisplayBrightnessAuto({true, 6, 36, 101});
     }},
};

INSTANTIATE_TEST_SUITE_P(All, ZorvidRefusedTest, ::testing::ValuesIn(kRefused), TCaseName());

// --- Reads of a fixed length ---

// A read prints its outputs whether or not it succeeded; they start from values that no
// answer below produces, so "untouched" shows in the print.
struct TReadCase {
  const char* name;
  // Reads, sets `succeeded` to what the read returned, and gives the outputs printed.
  std::function<std::string(IZorvid&, bool& succeeded)> call;
  const char* sent;       // "INST: DATA"
  TByteString answer;     // of the required length
  const char* decoded;    // the outputs after that answer
  const char* untouched;  // the outputs as they started
};

std::string Flag(bool value) {
  return value ? "1" : "0";
}

class ZorvidReadTest : public ZorvidDeviceTest, public ::testing::WithParamInterface<TReadCase> {
 protected:
  std::string Read(bool expected) {
    bool succeeded = !expected;
    const std::string outputs = GetParam().call(*device_, succeeded);
    EXPECT_EQ(succeeded, expected);
    return outputs;
  }
};

TEST_P(ZorvidReadTest, SendsRequestAndDecodesAnswer) {
  AnswerWith(GetParam().answer);
  EXPECT_EQ(Read(true), GetParam().decoded);
  EXPECT_EQ(SentPacket(), GetParam().sent);
}

// An answer one byte short or long, an error acknowledge, or none.
TEST_P(ZorvidReadTest, FailedReadLeavesOutputsUntouched) {
  const TByteString& answer = GetParam().answer;
  for (const TByteString& wrong : {answer.substr(0, answer.size() - 1), answer + '\0'}) {
    SCOPED_TRACE(Hex(wrong));
    AnswerWith(wrong);
    EXPECT_EQ(Read(false), GetParam().untouched);
  }
  AnswerWith(answer, kErrorAck);
  EXPECT_EQ(Read(false), GetParam().untouched) << "error acknowledge";
  EXPECT_EQ(device_->GetLastResult(), kResultErrorAck);
  AnswerNothing();
  EXPECT_EQ(Read(false), GetParam().untouched) << "no answer";
}

const TReadCase kReads[] = {
    {"DataExpiration",
     [](IZorvid& d, bool& ok) {
       TDataExpiration expiration{-7, -7};
       ok = d.GetDisplayDataExpiration(expiration);
       return std::to_string(expiration.seconds) + " " + std::to_string(expiration.second);
     },
     "84: ", Bytes({0x01, 0x2C, 0xFF, 0xFE}), "300 65534", "-7 -7"},
    {"ChannelFlags",
     [](IZorvid& d, bool& ok) {
       TChannelFlags flags{.flag1 = true, .flag2 = false};
       ok = d.GetChannelFlags(flags);
       return "flag2=" + Flag(flags.flag2) + " flag1=" + Flag(flags.flag1);
     },
     "30: ", Bytes({0x02}), "flag2=1 flag1=0", "flag2=0 flag1=1"},
    {"ChannelValues",
     [](IZorvid& d, bool& ok) {
       TChannelValues v{.flag1 = true, .flag2 = false, .value1 = -7, .value2 = -7};
       ok = d.GetChannelValues(v);
       return "flag2=" + Flag(v.flag2) + " flag1=" + Flag(v.flag1) +
              " value2=" + std::to_string(v.value2) + " value1=" + std::to_string(v.value1);
     },
     "33: ", Bytes({0x82, 0x0A, 0x01, 0x05}), "flag2=1 flag1=0 value2=10 value1=5",
     "flag2=0 flag1=1 value2=-7 value1=-7"},
    {"Brightness",
     [](IZorvid& d, bool& ok) {
       std::int32_t value = -7;
       ok = d.GetDisplayBrightness(value);
       return std::to_string(value);
     },
     "83: ", Bytes({0x7F}), "127", "-7"},
    {"DateTime",
     [](IZorvid& d, bool& ok) {
       TDateTime value = 0;
       ok = d.GetDateTime(value);
       return Text(value);
     },
     "71: ", kDateTimeAnswer, "2026-03-07 14:05:09.000", "1899-12-30 00:00:00.000"},
    {"DateTimeParams",
     [](IZorvid& d, bool& ok) {
       TDateTimeParams p{true, false, true, true, true, true, true, false, true, 1, 1};
       ok = d.GetDateTimeParams(p);
       std::string out;
       for (const bool flag :
            {p.autoUpdate, p.summerTime, p.showAfterTurnOn, p.showAfterExpiration, p.format12Hour,
             p.formatMDY, p.showTime, p.showDate, p.showTemperature})
         out += Flag(flag);
       return out + " " + std::to_string(p.offset) + " " + std::to_string(p.zone);
     },
     "77: ", kParamsBytes, "010000010 -60 3", "101111101 1 1"},
    {"Temperature",
     [](IZorvid& d, bool& ok) {
       double degrees = -99;
       ok = d.GetTemperature(degrees);
       char text[16];
       std::snprintf(text, sizeof text, "%1.1f", degrees);
       return std::string(text);
     },
     "51: 01", Bytes({0x01, 0x00, 0xEB}), "23.5", "-99.0"},
    {"BrightnessAuto",
     [](IZorvid& d, bool& ok) {
       TBrightnessAuto s{false, -7, -7, -7};
       ok = d.GetDisplayBrightnessAuto(s);
       return Flag(s.automatic) + " " + std::to_string(s.min) + " " + std::to_string(s.max) + " " +
              std::to_string(s.gain);
     },
     "85: ", Bytes({0x01, 0x06, 0x24, 0x00}), "1 6 36 0", "0 -7 -7 -7"},
};

INSTANTIATE_TEST_SUITE_P(All, ZorvidReadTest, ::testing::ValuesIn(kReads), TCaseName());

TEST_F(ZorvidDeviceTest, ChannelValuesNamingOneChannelTwiceFail) {
  AnswerWith(Bytes({0x01, 0x0A, 0x01, 0x05}));
  TChannelValues values{.flag1 = true, .flag2 = true, .value1 = -7, .value2 = -7};
  EXPECT_FALSE(device_->GetChannelValues(values));
  EXPECT_TRUE(values.flag1);  // a half-decoded answer writes nothing
  EXPECT_EQ(values.value1, -7);
}

TEST_F(ZorvidDeviceTest, DateTimeThatIsNoDateFails) {
  TByteString month13 = kDateTimeAnswer;
  month13[5] = 13;
  AnswerWith(month13);
  TDateTime value = 1.5;
  EXPECT_FALSE(device_->GetDateTime(value));
  EXPECT_EQ(value, 1.5);
  EXPECT_EQ(device_->GetLastResult(), kResultAnswered);  // the display did answer
}

TEST_F(ZorvidDeviceTest, DateTimeSetAndReadBackAgree) {
  const TDateTime now = At(2031, 12, 31, 23, 59, 58, 400);
  // A display displayClock: keeps what it is set to and reads it back with a weekday inserted.
  auto displayClock = std::make_shared<TByteString>();
  stack_->SetScript([displayClock](const TKorvelFormat97& request) {
    if (request.Inst == kZorvidSetDateTime) *displayClock = request.Data;
    if (request.Inst != kZorvidGetDateTime) return AnswerTo(request, 0);
    return AnswerTo(request, 0, displayClock->substr(0, 3) + '\x03' + displayClock->substr(3));
  });
  ASSERT_TRUE(device_->SetDateTime(now));
  TDateTime read = 0;
  ASSERT_TRUE(device_->GetDateTime(read));
  EXPECT_EQ(Text(read), "2031-12-31 23:59:58.000");
}

// --- Reads of any length: text and segment pattern ---

struct TAnyLengthReadCase {
  const char* name;
  bool (IZorvid::*read)(TByteString&);
  const char* inst;
};

class ZorvidAnyLengthReadTest : public ZorvidDeviceTest,
                                public ::testing::WithParamInterface<TAnyLengthReadCase> {
 protected:
  bool Read(TByteString& out) { return ((*device_).*GetParam().read)(out); }
};

TEST_P(ZorvidAnyLengthReadTest, ReturnsAnswerDataUnchanged) {
  for (const TByteString& answer :
       {Bytes({0x20, 0x31, 0x2E, 0x35, 0x00}), Bytes({0xFF}), TByteString(), TByteString(9, 'x')}) {
    SCOPED_TRACE(Hex(answer));
    stack_->ClearSent();
    AnswerWith(answer);
    TByteString out = "stale";
    EXPECT_TRUE(Read(out));
    EXPECT_EQ(Hex(out), Hex(answer));
    EXPECT_EQ(SentPacket(), std::string(GetParam().inst) + ": ");
  }
}

TEST_P(ZorvidAnyLengthReadTest, FailureLeavesOutputEmpty) {
  TByteString out = "stale";
  AnswerWith("abc", kErrorAck);
  EXPECT_FALSE(Read(out));
  EXPECT_EQ(out, "");
  out = "stale";
  AnswerNothing();
  EXPECT_FALSE(Read(out));
  EXPECT_EQ(out, "");
}

INSTANTIATE_TEST_SUITE_P(
    All, ZorvidAnyLengthReadTest,
    ::testing::Values(TAnyLengthReadCase{"DisplayChars", &IZorvid::GetDisplayChars, "80"},
                      TAnyLengthReadCase{"DisplayData", &IZorvid::GetDisplayData, "81"}),
    TCaseName());

}  // namespace
}  // namespace zorvid
