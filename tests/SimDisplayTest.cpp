#include "tools/sim/SimDisplay.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "device/ZorvidCodec.h"
#include "protocol/Korvel97.h"
#include "protocol/KorvelInterfaces.h"
#include "protocol/PacketReader.h"
#include "tests/support/ByteText.h"
#include "tools/sim/SegmentFont.h"
#include "tools/sim/SimOptions.h"
#include "tools/sim/SimResponder.h"

namespace zorvid::sim {
namespace {

using test::Bytes;

using ::testing::HasSubstr;

TKorvelFormat97 Request(TByte adr, TByte inst, const TByteString& data = {}, TByte sig = 0x21) {
  TKorvelFormat97 request;
  ParsePacket97(BuildPacket97(adr, sig, inst, data), request);
  return request;
}

TDateTime At(int year, int month, int day, int hour, int minute, int second) {
  return EncodeDateTime({year, month, day, hour, minute, second, 0}).value();
}

constexpr TDateTime kOneSecond = 1.0 / 86400.0;
constexpr TByte kOwn = kZorvidDefaultAddress;

// --- The font ---

// Packed texts with the segments that show them, right-aligned, the colon in the first byte.
const std::pair<const char*, const char*> kPackedTexts[] = {
    {"12", "00 00 00 06 5B"},  {"", "00 00 00 00 00"},      {"1.5", "00 00 00 86 6D"},
    {"12:", "0C 00 00 06 5B"}, {"12.34", "00 06 DB 4F 66"}, {"-1.5", "00 00 40 86 6D"},
    {"AB-1", "00 77 7C 40 06"}};

TEST(SegmentFontTest, PackedTextsLightTheirSegments) {
  for (const auto& [text, segments] : kPackedTexts)
    EXPECT_EQ(FormatHexSpaced(RenderDisplayText(*PackDisplayText(text))), segments) << text;
}

TEST(SegmentFontTest, UnpackedDigitsAreRightAligned) {
  EXPECT_EQ(FormatHexSpaced(RenderDisplayText("12")), "00 00 00 06 5B");
  EXPECT_EQ(FormatHexSpaced(RenderDisplayText("0123")), "00 3F 06 5B 4F");
  EXPECT_EQ(FormatHexSpaced(RenderDisplayText("4567")), "00 66 6D 7D 07");
  EXPECT_EQ(FormatHexSpaced(RenderDisplayText("89")), "00 00 00 7F 6F");
  // Five characters without a padding blank: the first four show.
  EXPECT_EQ(FormatHexSpaced(RenderDisplayText("12345")), "00 06 5B 4F 66");
}

TEST(SegmentFontTest, LettersInEitherCaseAndTheUnshowableOnesBlank) {
  EXPECT_EQ(GlyphSegments('E'), GlyphSegments('e'));
  EXPECT_EQ(GlyphSegments('h'), 0x74);
  for (const char unshowable : std::string("kmvwxz"))
    EXPECT_EQ(GlyphSegments(unshowable), 0) << unshowable;
}

// --- The display model ---

class SimDisplayTest : public ::testing::Test {
 protected:
  TSimDisplayConfig Config() {
    TSimDisplayConfig config;
    config.identifiers = {0x1234, 0xABCD, 0xDEADBEEF};
    return config;
  }
  TSimDisplay Display(TSimDisplayConfig config) {
    return TSimDisplay(std::move(config), [this] { return now_; });
  }

  // The answer as a parsed, validated packet; nothing when the display stays silent.
  std::optional<TKorvelFormat97> Ask(TByte adr, TByte inst, const TByteString& data = {}) {
    const std::optional<TByteString> bytes = display_.Answer(Request(adr, inst, data));
    if (!bytes) return {};
    EXPECT_EQ(ValidatePacket97(*bytes), kPacket97Valid) << FormatHexSpaced(*bytes);
    TKorvelFormat97 answer;
    ParsePacket97(*bytes, answer);
    return answer;
  }
  // The data of an acknowledge-0 answer from the display's own address.
  std::string Read(TByte inst, const TByteString& data = {}) {
    const auto answer = Ask(display_.Address(), inst, data);
    if (!answer) return "no answer";
    if (answer->Inst != kAckOk) return "ack " + std::to_string(answer->Inst);
    return FormatHexSpaced(answer->Data);
  }
  int AckOf(TByte inst, const TByteString& data = {}) {
    const auto answer = Ask(display_.Address(), inst, data);
    if (!answer) return -1;
    EXPECT_EQ(answer->Data, "") << "an error acknowledge carries no data";
    return answer->Inst;
  }

  TDateTime now_ = At(2026, 3, 7, 14, 5, 9);
  TSimDisplay display_ = Display(Config());
};

// Answers come from the display's own address and carry the request's SIG.
TEST_F(SimDisplayTest, OnlyItsOwnAddressAndTheBroadcastAddressAreAnswered) {
  EXPECT_EQ(display_.Answer(Request(0x31, kInstIdentification, {}, 0x01)),
            BuildPacket97(0x31, 0x01, kAckOk, "ZorvidL;v1.0;rtc"));
  const auto broadcast = Ask(kBroadcastAddress, kInstIdentification);
  ASSERT_TRUE(broadcast);
  EXPECT_EQ(broadcast->Adr, kOwn);
  EXPECT_FALSE(Ask(0x32, kInstIdentification));
  EXPECT_FALSE(Ask(0xFF, kInstIdentification));
}

TEST_F(SimDisplayTest, TextWriteShowsInTheSegmentsAndReadsBack) {
  for (const auto& [text, segments] : kPackedTexts) {
    EXPECT_EQ(AckOf(kZorvidSetDisplayChars, *PackDisplayText(text)), kAckOk) << text;
    EXPECT_EQ(Read(kZorvidGetDisplayData), segments) << text;
  }
  EXPECT_EQ(AckOf(kZorvidSetDisplayChars, *PackDisplayText("12")), kAckOk);
  EXPECT_EQ(Read(kZorvidGetDisplayChars), "20 20 31 32 20");
  EXPECT_EQ(AckOf(kZorvidSetDisplayChars, *PackDisplayText("12:")), kAckOk);
  EXPECT_EQ(Read(kZorvidGetDisplayChars), "20 20 31 32 3A");
}

TEST_F(SimDisplayTest, InvalidTextIsRefusedAndLeavesTheDisplayAlone) {
  ASSERT_EQ(AckOf(kZorvidSetDisplayChars, *PackDisplayText("7")), kAckOk);
  EXPECT_EQ(AckOf(kZorvidSetDisplayChars, "123456"), kAckBadArgument);
  EXPECT_EQ(AckOf(kZorvidSetDisplayChars, "a_b"), kAckBadArgument);
  EXPECT_EQ(AckOf(kZorvidSetDisplayChars, "1..2"), kAckBadArgument);
  EXPECT_EQ(Read(kZorvidGetDisplayData), "00 00 00 00 07");
}

TEST_F(SimDisplayTest, SegmentWriteChangesWhatIsShown) {
  EXPECT_EQ(AckOf(kZorvidSetDisplayData, Bytes({0x03, 0x3F, 0x06, 0x5B, 0x4F})), kAckOk);
  EXPECT_EQ(Read(kZorvidGetDisplayData), "03 3F 06 5B 4F");
  EXPECT_EQ(AckOf(kZorvidSetDisplayData, Bytes({1, 2, 3, 4})), kAckBadArgument);
  EXPECT_EQ(AckOf(kZorvidSetDisplayData, Bytes({1, 2, 3, 4, 5, 6})), kAckBadArgument);
  EXPECT_EQ(Read(kZorvidGetDisplayData), "03 3F 06 5B 4F");
}

TEST_F(SimDisplayTest, ShowActualInformationShowsTheClock) {
  EXPECT_EQ(AckOf(kZorvidShowActualInformation), kAckOk);
  // 14:05 with the colon lit.
  EXPECT_EQ(Read(kZorvidGetDisplayData), "0C 06 66 3F 6D");
}

TEST_F(SimDisplayTest, ClockRunsFromWhatWasSet) {
  // 2031-12-24 23:59:58, six bytes without the weekday.
  ASSERT_EQ(AckOf(kZorvidSetDateTime, Bytes({23, 59, 58, 24, 12, 31})), kAckOk);
  now_ += 3 * kOneSecond;
  // 2031-12-25 00:00:01, a Thursday (4).
  EXPECT_EQ(Read(kZorvidGetDateTime), "00 00 01 04 19 0C 1F");
  EXPECT_EQ(AckOf(kZorvidSetDateTime, Bytes({12, 0, 0, 30, 2, 26})), kAckBadArgument);
  EXPECT_EQ(AckOf(kZorvidSetDateTime, Bytes({24, 0, 0, 1, 1, 26})), kAckBadArgument);
}

TEST_F(SimDisplayTest, ClockFollowsTheSystemClock) {
  display_ = TSimDisplay(TSimDisplayConfig{});  // on the system clock
  const TDateTime wanted = At(2030, 1, 2, 3, 4, 5);
  ASSERT_EQ(AckOf(kZorvidSetDateTime, *PackDateTime(wanted)), kAckOk);
  const auto read = Ask(kOwn, kZorvidGetDateTime);
  ASSERT_TRUE(read);
  const std::optional<TDateTime> got = UnpackDateTime(read->Data);
  ASSERT_TRUE(got);
  EXPECT_GE(*got, wanted);
  EXPECT_LT(*got - wanted, 1.5 * kOneSecond);
}

TEST_F(SimDisplayTest, SettingsReadBackWhatWasWritten) {
  EXPECT_EQ(AckOf(kZorvidSetDateTimeParams, Bytes({0x02, 0x02, 0xFF, 0xC4, 0x00, 0x03})), 0);
  EXPECT_EQ(Read(kZorvidGetDateTimeParams), "02 02 FF C4 00 03");
  EXPECT_EQ(AckOf(kZorvidSetDisplayBrightness, Bytes({0x50})), 0);
  EXPECT_EQ(Read(kZorvidGetDisplayBrightness), "50");
  EXPECT_EQ(AckOf(kZorvidSetDisplayBrightnessAuto, Bytes({1, 6, 36, 0})), 0);
  EXPECT_EQ(Read(kZorvidGetDisplayBrightnessAuto), "01 06 24 00");
  EXPECT_EQ(AckOf(kZorvidSetChannelValue, Bytes({0x0A, 0x82})), 0);
  EXPECT_EQ(AckOf(kZorvidSetChannelFlag, Bytes({0x81})), 0);
  EXPECT_EQ(Read(kZorvidGetChannelValues), "81 00 82 0A");
  EXPECT_EQ(Read(kZorvidGetChannelFlags), "03");
}

TEST_F(SimDisplayTest, ExpirationCountsDownFromTheLastPush) {
  ASSERT_EQ(AckOf(kZorvidSetDisplayDataExpiration, Bytes({0x00, 0x3C})), kAckOk);
  EXPECT_EQ(Read(kZorvidGetDisplayDataExpiration), "00 3C 00 00");  // nothing pushed yet
  ASSERT_EQ(AckOf(kZorvidSetDisplayChars, *PackDisplayText("1")), kAckOk);
  now_ += 10 * kOneSecond;
  EXPECT_EQ(Read(kZorvidGetDisplayDataExpiration), "00 3C 00 32");
  now_ += 100 * kOneSecond;
  EXPECT_EQ(Read(kZorvidGetDisplayDataExpiration), "00 3C 00 00");
}

TEST_F(SimDisplayTest, TemperatureIsFixedOrDriftsAroundTwentyTwo) {
  TSimDisplayConfig fixed = Config();
  fixed.temperature = 23.5;
  display_ = Display(fixed);
  EXPECT_EQ(Read(kZorvidGetTemperature, Bytes({0x01})), "01 00 EB");

  display_ = Display(Config());
  std::vector<double> seen;
  for (int step = 0; step < 4; ++step, now_ += 7 * kOneSecond) {
    const auto answer = Ask(kOwn, kZorvidGetTemperature, Bytes({0x01}));
    ASSERT_TRUE(answer);
    const std::optional<double> degrees = UnpackTemperature(answer->Data);
    ASSERT_TRUE(degrees);
    EXPECT_NEAR(*degrees, 22.0, 1.05);
    seen.push_back(*degrees);
  }
  EXPECT_NE(seen.front(), seen.back());
}

TEST_F(SimDisplayTest, CommonStoredValuesReadBack) {
  EXPECT_EQ(AckOf(kInstSetByte, Bytes({0x7F})), kAckOk);
  EXPECT_EQ(Read(kInstGetByte), "7F");
  EXPECT_EQ(AckOf(kInstSetText, Bytes({0x00, 'a', 'b', 'c', 0x00})), kAckOk);
  EXPECT_EQ(Read(kInstGetText), "61 62 63");
  EXPECT_EQ(AckOf(kInstSetFlag, Bytes({0x01})), kAckOk);
  EXPECT_EQ(Read(kInstGetFlag), "01");
  EXPECT_EQ(Read(kInstIdentifiers), "12 34 AB CD DE AD BE EF");
  EXPECT_EQ(Read(kInstReadCommParams), "31 06");
  EXPECT_EQ(AckOf(kInstCommandE3), kAckOk);
}

TEST_F(SimDisplayTest, WriteCommParamsChangesTheAddressOnlyAfterEnabling) {
  EXPECT_EQ(AckOf(kInstWriteCommParams, Bytes({0x32, 0x06})), kAckRefused);
  EXPECT_EQ(display_.Address(), kOwn);

  ASSERT_EQ(AckOf(kInstEnableConfiguration), kAckOk);
  const auto answer = Ask(kOwn, kInstWriteCommParams, Bytes({0x32, 0x0A}));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->Inst, kAckOk);
  EXPECT_EQ(answer->Adr, kOwn) << "answered from the address the request reached";

  EXPECT_FALSE(Ask(kOwn, kInstIdentification));
  EXPECT_EQ(Read(kInstReadCommParams), "32 0A");
  // The enabling was used up.
  EXPECT_EQ(AckOf(kInstWriteCommParams, Bytes({0x33, 0x06})), kAckRefused);
}

TEST_F(SimDisplayTest, WriteCommParamsRefusesImpossibleValues) {
  ASSERT_EQ(AckOf(kInstEnableConfiguration), kAckOk);
  EXPECT_EQ(AckOf(kInstWriteCommParams, Bytes({0x32, 0x0C})), kAckBadArgument);
  ASSERT_EQ(AckOf(kInstEnableConfiguration), kAckOk);
  EXPECT_EQ(AckOf(kInstWriteCommParams, Bytes({0xFE, 0x06})), kAckBadArgument);
  EXPECT_EQ(display_.Address(), kOwn);
}

TEST_F(SimDisplayTest, AddressAssignmentAnswersOnlyWhenTheIdentifiersMatch) {
  EXPECT_FALSE(Ask(kBroadcastAddress, kInstAssignAddress, Bytes({0x40, 0x12, 0x34, 0xAB, 0xCE})));
  EXPECT_EQ(display_.Address(), kOwn);
  const auto answer =
      Ask(kBroadcastAddress, kInstAssignAddress, Bytes({0x40, 0x12, 0x34, 0xAB, 0xCD}));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->Inst, kAckOk);
  EXPECT_EQ(display_.Address(), 0x40);
}

TEST_F(SimDisplayTest, UnknownInstructionGetsAcknowledgeTwo) {
  EXPECT_EQ(AckOf(0x99), kAckUnknown);
  EXPECT_EQ(AckOf(0x00), kAckUnknown);
  EXPECT_EQ(AckOf(0x52, Bytes({1})), kAckUnknown);
}

TEST_F(SimDisplayTest, OutOfRangeArgumentsGetAcknowledgeThree) {
  EXPECT_EQ(AckOf(kZorvidSetDisplayBrightness, Bytes({128})), kAckBadArgument);
  EXPECT_EQ(AckOf(kZorvidSetDisplayBrightnessAuto, Bytes({1, 5, 36, 0})), kAckBadArgument);
  EXPECT_EQ(AckOf(kZorvidSetDisplayBrightnessAuto, Bytes({1, 6, 36, 101})), kAckBadArgument);
  EXPECT_EQ(AckOf(kZorvidSetDisplayBrightnessAuto, Bytes({2, 6, 36, 0})), kAckBadArgument);
  // Offset 781.
  EXPECT_EQ(AckOf(kZorvidSetDateTimeParams, Bytes({0, 0, 0x03, 0x0D, 0, 0})), kAckBadArgument);
  EXPECT_EQ(AckOf(kZorvidSetChannelFlag, Bytes({0x83})), kAckBadArgument);
  EXPECT_EQ(AckOf(kZorvidSetChannelValue, Bytes({5, 0x04})), kAckBadArgument);
  EXPECT_EQ(AckOf(kZorvidGetTemperature, Bytes({0x02})), kAckBadArgument);
  EXPECT_EQ(AckOf(kInstSetFlag, Bytes({0x02})), kAckBadArgument);
  EXPECT_EQ(AckOf(kInstSetText, Bytes({0x01, 'a'})), kAckBadArgument);
  EXPECT_EQ(Read(kZorvidGetDisplayBrightness), "40") << "the refused values changed nothing";
}

TEST_F(SimDisplayTest, WrongLengthGetsAcknowledgeThree) {
  EXPECT_EQ(AckOf(kZorvidSetDisplayBrightness, Bytes({1, 2})), kAckBadArgument);
  EXPECT_EQ(AckOf(kZorvidGetDisplayBrightness, Bytes({1})), kAckBadArgument);
  EXPECT_EQ(AckOf(kZorvidGetTemperature), kAckBadArgument);
  EXPECT_EQ(AckOf(kZorvidSetDateTime, Bytes({1, 2, 3, 4, 5})), kAckBadArgument);
  EXPECT_EQ(AckOf(kInstIdentification, Bytes({0})), kAckBadArgument);
  EXPECT_EQ(AckOf(kInstSetText, TByteString(18, '\0')), kAckBadArgument);
}

TEST_F(SimDisplayTest, BasicVariantHasNoClockAndNoAutomaticBrightness) {
  TSimDisplayConfig basic = Config();
  basic.basic = true;
  basic.ident = kBasicIdent;
  display_ = Display(basic);
  EXPECT_EQ(AckOf(kZorvidGetDateTime), kAckUnknown);
  EXPECT_EQ(AckOf(kZorvidSetDateTime, Bytes({12, 0, 0, 1, 1, 26})), kAckUnknown);
  EXPECT_EQ(AckOf(kZorvidGetDisplayBrightnessAuto), kAckUnknown);
  EXPECT_EQ(AckOf(kZorvidSetDisplayBrightnessAuto, Bytes({1, 6, 36, 0})), kAckUnknown);
  EXPECT_EQ(AckOf(kZorvidSetDisplayBrightness, Bytes({10})), kAckOk);
  EXPECT_EQ(Read(kInstIdentification), FormatHexSpaced("Zorvid;v1.0;"));
}

// An altered field keeps its value through every write of it; the other fields take theirs.
TEST_F(SimDisplayTest, AnAlteredFieldStoresItsOwnValueWhateverAWriteSends) {
  TSimDisplayConfig altered = Config();
  altered.alterations = {{TSimField::kBrightness, 38}, {TSimField::kAutoGain, 7}};
  display_ = Display(altered);
  EXPECT_EQ(AckOf(kZorvidSetDisplayBrightness, Bytes({40})), kAckOk);
  EXPECT_EQ(Read(kZorvidGetDisplayBrightness), "26");
  EXPECT_EQ(AckOf(kZorvidSetDisplayBrightnessAuto, Bytes({1, 10, 30, 40})), kAckOk);
  EXPECT_EQ(Read(kZorvidGetDisplayBrightnessAuto), "01 0A 1E 07");
}

// --- Faults ---

class SimResponderTest : public SimDisplayTest {
 protected:
  static TSimFaults Faults(double drop, double corrupt) {
    TSimFaults faults;
    faults.drop = drop;
    faults.corrupt = corrupt;
    return faults;
  }

  std::optional<TByteString> Respond(TSimResponder& responder, TByte inst, TByte adr = kOwn) {
    return responder.Respond(Request(adr, inst, {}, 0x44));
  }
};

TEST_F(SimResponderTest, ForcedAcknowledgeAnswersWithoutData) {
  TSimFaults faults;
  faults.forcedAcks[kInstIdentification] = 5;
  TSimResponder responder(display_, faults, 1);
  EXPECT_EQ(Respond(responder, kInstIdentification), BuildPacket97(kOwn, 0x44, 5, {}));
  EXPECT_EQ(Respond(responder, kInstGetFlag), BuildPacket97(kOwn, 0x44, kAckOk, Bytes({0})));
  EXPECT_FALSE(Respond(responder, kInstIdentification, 0x50)) << "other addresses stay unanswered";
}

TEST_F(SimResponderTest, ForcedDataAnswersWithAcknowledgeZero) {
  TSimFaults faults;
  faults.forcedData[kInstIdentification] = "\x1B[2J";
  TSimResponder responder(display_, faults, 1);
  EXPECT_EQ(Respond(responder, kInstIdentification), BuildPacket97(kOwn, 0x44, kAckOk, "\x1B[2J"));
  EXPECT_EQ(Respond(responder, kInstGetFlag), BuildPacket97(kOwn, 0x44, kAckOk, Bytes({0})));
}

TEST_F(SimResponderTest, SilentInstructionIsNeverAnswered) {
  TSimFaults faults;
  faults.silent.insert(kInstIdentification);
  TSimResponder responder(display_, faults, 1);
  EXPECT_FALSE(Respond(responder, kInstIdentification));
  EXPECT_FALSE(Respond(responder, kInstIdentification, kBroadcastAddress));
  EXPECT_TRUE(Respond(responder, kInstGetFlag));
}

TEST_F(SimResponderTest, CorruptAnswerHasOnlyItsChecksumWrong) {
  TSimResponder responder(display_, Faults(0, 1), 1);
  const std::optional<TByteString> answer = Respond(responder, kInstIdentification);
  ASSERT_TRUE(answer);
  EXPECT_EQ(ValidatePacket97(*answer), kPacket97BadChecksum);
  const TByteString good = BuildPacket97(kOwn, 0x44, kAckOk, "ZorvidL;v1.0;rtc");
  EXPECT_EQ(answer->substr(0, good.size() - 2), good.substr(0, good.size() - 2));
}

TEST_F(SimResponderTest, DropWithCertaintyAnswersNothing) {
  TSimResponder responder(display_, Faults(1, 0), 1);
  for (int i = 0; i < 20; ++i)
    EXPECT_FALSE(Respond(responder, kInstIdentification));
}

TEST_F(SimResponderTest, SameSeedGivesTheSameFaults) {
  auto pattern = [this](std::uint32_t seed) {
    TSimResponder responder(display_, Faults(0.5, 0.5), seed);
    std::string outcomes;
    for (int i = 0; i < 200; ++i) {
      const auto answer = Respond(responder, kInstGetFlag);
      outcomes += !answer ? 'd' : ValidatePacket97(*answer) == kPacket97Valid ? 'v' : 'c';
    }
    return outcomes;
  };
  const std::string first = pattern(7);
  EXPECT_EQ(first, pattern(7));
  EXPECT_NE(first, pattern(8));
  const auto dropped = std::count(first.begin(), first.end(), 'd');
  const auto corrupt = std::count(first.begin(), first.end(), 'c');
  EXPECT_GT(dropped, 60);
  EXPECT_LT(dropped, 140);
  EXPECT_GT(corrupt, 25);
  EXPECT_LT(corrupt, 75);
}

TEST_F(SimResponderTest, UnsolicitedPacketComesFromTheCurrentAddress) {
  TSimResponder responder(display_, {}, 1);
  EXPECT_EQ(responder.UnsolicitedPacket(), BuildPacket97(kOwn, 0, 0x0E, {}));
}

// Three displays on one line, two at 9600 Bd and one at 19200 Bd, each with its own state.
class SimLineOfDisplaysTest : public ::testing::Test {
 protected:
  static TSimDisplayConfig At(TByte address, std::int32_t baud, std::string ident) {
    TSimDisplayConfig config;
    config.address = address;
    config.baud = baud;
    config.ident = std::move(ident);
    return config;
  }

  TSimDisplay first_{At(0x20, 9600, "A;v1;")}, second_{At(0x21, 9600, "B;v1;")},
      fast_{At(0x22, 19200, "C;v1;")};
  TSimResponder responder_{{&first_, &second_, &fast_}, {}, 1};
};

TEST_F(SimLineOfDisplaysTest, EachAddressAnswersAloneAndOnlyAtItsSpeed) {
  const TKorvelFormat97 toSecond = Request(0x21, kInstIdentification);
  EXPECT_EQ(responder_.Respond(toSecond, 9600), BuildPacket97(0x21, 0x21, kAckOk, "B;v1;"));
  EXPECT_FALSE(responder_.Respond(toSecond, 19200)) << "the line runs at another speed";
  EXPECT_EQ(responder_.Respond(Request(0x22, kInstIdentification), 19200),
            BuildPacket97(0x22, 0x21, kAckOk, "C;v1;"));
  EXPECT_TRUE(responder_.Respond(toSecond)) << "a line without a speed reaches every display";

  // A display that takes another speed hears the line at that speed from then on.
  EXPECT_TRUE(responder_.Respond(Request(0x20, kInstEnableConfiguration), 9600));
  EXPECT_EQ(responder_.Respond(Request(0x20, kInstWriteCommParams, Bytes({0x30, 7})), 9600),
            BuildPacket97(0x20, 0x21, kAckOk, {}))
      << "the answer still at the old speed";
  EXPECT_FALSE(responder_.Respond(Request(0x30, kInstIdentification), 9600));
  EXPECT_TRUE(responder_.Respond(Request(0x30, kInstIdentification), 19200));
  EXPECT_EQ(second_.Address(), 0x21) << "the others keep their state";
}

TEST_F(SimLineOfDisplaysTest, SimultaneousAnswersCollideIntoNoPacket) {
  const std::optional<TByteString> mixed =
      responder_.Respond(Request(kBroadcastAddress, kInstIdentification), 9600);
  ASSERT_TRUE(mixed);
  const TByteString a = BuildPacket97(0x20, 0x21, kAckOk, "A;v1;");
  const TByteString b = BuildPacket97(0x21, 0x21, kAckOk, "B;v1;");
  EXPECT_EQ(mixed->size(), a.size() + b.size());
  EXPECT_EQ(mixed->substr(0, 4), TByteString("\x2A\x2A\x61\x61", 4)) << "interleaved byte by byte";
  TPacketReader receiver;
  receiver.Append(*mixed);
  TKorvelFormat97 packet;
  EXPECT_FALSE(receiver.Next(packet)) << "a packet from " << int{packet.Adr};
  EXPECT_EQ(Collide({a}), a) << "one answer passes unchanged";
}

TEST(SimIdentifiersTest, SeedFixesTheIdentifiers) {
  const auto fields = [](const TSimIdentifiers& ids) {
    return std::tuple(ids.word1, ids.word2, ids.value);
  };
  EXPECT_EQ(fields(IdentifiersFromSeed(3)), fields(IdentifiersFromSeed(3)));
  EXPECT_NE(IdentifiersFromSeed(3).value, IdentifiersFromSeed(4).value);
}

// --- Command line ---

TEST(SimOptionsTest, DefaultsListenOnLoopback) {
  const TSimOptions options = ParseSimOptions({});
  ASSERT_TRUE(options.lines.tcp);
  EXPECT_EQ(options.lines.tcp->host, "127.0.0.1");
  EXPECT_EQ(options.lines.tcp->port, 10001);
  EXPECT_FALSE(options.lines.pty);
  EXPECT_EQ(options.display.address, 49);
  EXPECT_EQ(options.display.ident, kFullIdent);
  EXPECT_FALSE(options.display.temperature);
}

TEST(SimOptionsTest, EveryOptionTakesItsValue) {
  const TSimOptions options =
      ParseSimOptions({"--pty",        "/tmp/link", "--tcp",         "[::1]:0",
                       "--address",    "0x32",      "--basic",       "--temperature",
                       "21.5",         "--drop",    "0.25",          "--corrupt=0.5",
                       "--delay",      "30",        "--ack",         "0xF3=2",
                       "--ack",        "129=3",     "--silent",      "0x80",
                       "--silent",     "17",        "--unsolicited", "20",
                       "--seed",       "9",         "--log",         "--answer",
                       "0x83=C8",      "--answer",  "0x81=",         "--alter",
                       "brightness=38"});
  EXPECT_EQ(options.lines.pty, "/tmp/link");
  ASSERT_TRUE(options.lines.tcp);
  EXPECT_EQ(options.lines.tcp->host, "::1");
  EXPECT_EQ(options.lines.tcp->port, 0);
  EXPECT_EQ(options.display.address, 0x32);
  EXPECT_TRUE(options.display.basic);
  EXPECT_EQ(options.display.ident, kBasicIdent);
  EXPECT_EQ(options.display.temperature, 21.5);
  EXPECT_EQ(options.faults.drop, 0.25);
  EXPECT_EQ(options.faults.corrupt, 0.5);
  EXPECT_EQ(options.lines.delayMs, 30);
  EXPECT_EQ(options.faults.forcedAcks, (std::map<TByte, TByte>{{0xF3, 2}, {0x81, 3}}));
  EXPECT_EQ(options.faults.forcedData, (std::map<TByte, TByteString>{{0x83, "\xC8"}, {0x81, ""}}));
  EXPECT_EQ(options.faults.silent, (std::set<TByte>{0x80, 17}));
  EXPECT_EQ(options.lines.unsolicitedMs, 20);
  EXPECT_EQ(options.seed, 9u);
  EXPECT_TRUE(options.lines.log);
  ASSERT_EQ(options.display.alterations.size(), 1u);
  EXPECT_EQ(options.display.alterations[0].field, TSimField::kBrightness);
  EXPECT_EQ(options.display.alterations[0].value, 38);
}

TEST(SimOptionsTest, DisplaysOnOneLineShareTheSettingsButNotAddressTextOrIdentifiers) {
  const TSimOptions options = ParseSimOptions(
      {"--baud", "19200", "--ident", "Q;v3;", "--display", "0x20", "--display", "33,X;v1;a,b"});
  const std::vector<TSimDisplayConfig> displays = DisplayConfigs(options, 5);
  ASSERT_EQ(displays.size(), 2u);
  EXPECT_EQ(displays[0].address, 0x20);
  EXPECT_EQ(displays[0].ident, "Q;v3;");
  EXPECT_EQ(displays[1].address, 33);
  EXPECT_EQ(displays[1].ident, "X;v1;a,b");
  EXPECT_EQ(displays[1].baud, 19200);
  EXPECT_EQ(displays[0].identifiers.value, IdentifiersFromSeed(5).value);
  EXPECT_NE(displays[1].identifiers.value, displays[0].identifiers.value);

  const std::vector<TSimDisplayConfig> single = DisplayConfigs(ParseSimOptions({}), 5);
  ASSERT_EQ(single.size(), 1u);
  EXPECT_EQ(single[0].address, kZorvidDefaultAddress);
  EXPECT_EQ(single[0].baud, 9600);
}

TEST(SimOptionsTest, PtyWithoutLinkAndIdentBeatsBasic) {
  const TSimOptions options = ParseSimOptions({"--pty", "--ident", "X;v2;", "--basic"});
  EXPECT_EQ(options.lines.pty, "");
  EXPECT_FALSE(options.lines.tcp) << "a pty alone opens no TCP line";
  EXPECT_EQ(options.display.ident, "X;v2;");
}

// The message names every argument refused; `more` lists what else it must say.
TEST(SimOptionsTest, BadOptionsNameTheOptionAndTheValue) {
  const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> cases{
      {{"--drop", "1.5"}, {}},
      {{"--corrupt", "nan"}, {}},
      {{"--address", "254"}, {}},
      {{"--address", "0x"}, {}},
      {{"--ack", "0xF3"}, {}},
      {{"--ack", "0xF3=256"}, {}},
      {{"--answer", "0x83=C"}, {}},
      {{"--silent", "abc"}, {}},
      {{"--tcp", "host:70000"}, {}},
      {{"--unsolicited", "0"}, {}},
      {{"--temperature", "-1"}, {}},
      {{"--bogus"}, {}},
      {{"stray"}, {}},
      {{"--alter", "brightness=128"}, {"0..127"}},
      {{"--alter", "brightnes=1"}, {"params.offset"}},
      {{"--alter", "brightness"}, {}},
      {{"--log=1"}, {"--log"}},
      {{"--seed"}, {"missing"}},
      {{"--baud", "14400"}, {"9600, 19200"}},
      {{"--display", "254,X;v1;"}, {}},
      {{"--address", "3", "--display", "4"}, {}}};
  for (const auto& [args, more] : cases) {
    try {
      ParseSimOptions(args);
      ADD_FAILURE() << "accepted " << args.front();
    } catch (const ESimOptionError& error) {
      for (const std::string& part : args)
        EXPECT_THAT(error.what(), HasSubstr(part));
      for (const std::string& part : more)
        EXPECT_THAT(error.what(), HasSubstr(part));
    }
  }
}

}  // namespace
}  // namespace zorvid::sim
