#include "capture/PacketDecoder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "capture/CsvExport.h"
#include "core/HexText.h"
#include "tests/support/ByteText.h"

namespace zorvid {
namespace {

using test::Bytes;
using namespace std::chrono;

constexpr auto kSent = TTrafficDirection::kToDisplay;
constexpr auto kReceived = TTrafficDirection::kFromDisplay;

// A packet as it went over the line, read back the way the log reads it.
TKorvelFormat97 Packet(TByte code, const TByteString& data) {
  TKorvelFormat97 packet;
  ParsePacket97(BuildPacket97(0x31, 0x07, code, data), packet);
  return packet;
}

struct TDecodeCase {
  TTrafficDirection direction;
  TByte code;  // instruction of a request, acknowledge of an answer
  TByteString data;
  std::optional<TByte> request;  // the instruction an answer answers
  std::string text;
};

void ExpectDecoded(const std::vector<TDecodeCase>& cases) {
  for (const TDecodeCase& c : cases)
    EXPECT_EQ(DecodingText(DecodePacket(Packet(c.code, c.data), c.direction, c.request)), c.text)
        << "code " << int{c.code} << ", data " << FormatHexSpaced(c.data);
}

TEST(PacketDecoderTest, RequestsAndAnswersReadByTheirLayouts) {
  ExpectDecoded({
      {kSent, 0x51, Bytes({0x01}), {}, "GetTemperature (0x51): sensor 1"},
      {kReceived, 0x00, Bytes({0x01, 0x00, 0xEB}), 0x51, "OK (0x00): 23.5 \u00B0C"},
      {kSent, 0x90, "  12 ", {}, "SetDisplayChars (0x90): text \"  12 \""},
      {kSent, 0x80, "", {}, "GetDisplayChars (0x80)"},
      {kReceived, 0x00, "12.34", 0x80, "OK (0x00): text \"12.34\""},
      {kSent,
       0x70,
       Bytes({0x0E, 0x05, 0x09, 0x07, 0x03, 0x1A}),
       {},
       "SetDateTime (0x70): 2026-03-07 14:05:09"},
      {kReceived, 0x00, Bytes({0x17, 0x3B, 0x3A, 0x04, 0x1F, 0x0C, 0x63}), 0x71,
       "OK (0x00): 2099-12-31 23:59:58"},
      {kSent,
       0x95,
       Bytes({0x01, 0x06, 0x24, 0x00}),
       {},
       "SetDisplayBrightnessAuto (0x95): auto on, min 6, max 36, gain 0 %"},
      {kReceived, 0x00, Bytes({0x00, 0x0A, 0x14, 0x64}), 0x85,
       "OK (0x00): auto off, min 10, max 20, gain 100 %"},
      {kSent,
       0x76,
       Bytes({0x02, 0x02, 0xFF, 0xC4, 0x00, 0x03}),
       {},
       "SetDateTimeParams (0x76): showDate summerTime, offset -60, zone 3"},
      {kReceived, 0x00, Bytes({0x00, 0x00, 0x03, 0x0C, 0xFF, 0xFF}), 0x77,
       "OK (0x00): no flags, offset 780, zone 65535"},
      {kSent, 0xF3, "", {}, "Identification (0xF3)"},
      {kReceived, 0x00, "ZorvidL;v2.1;\n", 0xF3,
       "OK (0x00): identification \"ZorvidL;v2.1;\\x0A\""},
      {kSent, 0x23, Bytes({0x0A, 0x82}), {}, "SetChannelValue (0x23): channel 2 on, value 10"},
      {kReceived, 0x00, Bytes({0x82, 0x0A, 0x01, 0x05}), 0x33,
       "OK (0x00): channel 1 off, value 5; channel 2 on, value 10"},
      {kSent, 0x94, Bytes({0x00, 0x00}), {}, "SetDisplayDataExpiration (0x94): never expires"},
      {kReceived, 0x00, Bytes({0x01, 0x2C, 0x00, 0x05}), 0x84,
       "OK (0x00): expires after 300 s, second value 5"},
      {kReceived, 0x00, Bytes({0x31, 0x06}), 0xF0, "OK (0x00): address 0x31, 9600 Bd"},
      {kSent,
       0xE0,
       Bytes({0x32, 0xFF}),
       {},
       "WriteCommParams (0xE0): address 0x32, baud index 0xFF"},
      {kSent,
       0xEB,
       Bytes({0x32, 0x12, 0x34, 0xAB, 0xCD}),
       {},
       "AssignAddress (0xEB): address 0x32, identifiers 0x1234 0xABCD"},
      {kSent, 0xE2, Bytes({0x00, 'a', 'b', 'c', 0x00}), {}, "SetText (0xE2): text \"abc\""},
  });
}

TEST(PacketDecoderTest, DataThatDoesNotFitItsLayoutIsNamedNotGuessed) {
  ExpectDecoded({
      {kReceived, 0x00, Bytes({0x00, 0xEB}), 0x51, "OK (0x00): unexpected 2 bytes"},
      {kReceived, 0x00, "", 0x51, "OK (0x00): data missing"},
      {kSent, 0x91, Bytes({1, 2, 3, 4}), {}, "SetDisplayData (0x91): unexpected 4 bytes"},
      {kSent, 0x80, Bytes({0x01}), {}, "GetDisplayChars (0x80): unexpected 1 byte"},
      {kReceived, 0x00, Bytes({0x01}), 0x93, "OK (0x00): unexpected 1 byte"},
      // The setting's weekday is put in by the decoder: five bytes must not become a clock.
      {kSent,
       0x70,
       Bytes({0x0E, 0x05, 0x09, 0x07, 0x03}),
       {},
       "SetDateTime (0x70): unexpected 5 bytes"},
      {kSent,
       0x94,
       Bytes({0x00, 0x00, 0x00, 0x00}),
       {},
       "SetDisplayDataExpiration (0x94): unexpected 4 bytes"},
      // The right length, contents the layout refuses: said as such, not as a wrong length.
      {kReceived, 0x00, Bytes({0x17, 0x3B, 0x3A, 0x04, 0x1F, 0x12, 0x63}), 0x71,
       "OK (0x00): no such date and time"},
      {kSent,
       0x70,
       Bytes({0x0E, 0x05, 0x09, 0x1F, 0x12, 0x1A}),
       {},
       "SetDateTime (0x70): no such date and time"},
      {kReceived, 0x00, Bytes({0x01, 0x0A, 0x01, 0x05}), 0x33,
       "OK (0x00): not one pair for each channel"},
      {kSent, 0x20, Bytes({0x83}), {}, "SetChannelFlag (0x20): a selector of no channel"},
  });
}

TEST(PacketDecoderTest, UnknownCodesAndAnswersWithoutLayoutKeepToTheCode) {
  ExpectDecoded({
      {kSent, 0x42, Bytes({0x01}), {}, "0x42"},
      {kReceived, 0x00, Bytes({0x01, 0x00, 0xEB}), {}, "OK (0x00)"},
      {kReceived, 0x00, Bytes({0x01}), 0x42, "OK (0x00)"},
      {kReceived, 0x02, Bytes({0x01}), 0x51, "refused (0x02)"},
      {kReceived, 0x0E, Bytes({0x01, 0xFF}), {}, "unsolicited (0x0E): 01 FF"},
      {kReceived, 0x0C, "", 0x51, "unsolicited (0x0C)"},
  });
  EXPECT_EQ(InstructionName(0x42), "");
}

TEST(PacketDecoderTest, AcknowledgeNamesFollowTheUnsolicitedRange) {
  EXPECT_EQ(AcknowledgeName(0x00), "OK");
  EXPECT_EQ(AcknowledgeName(0x01), "refused");
  EXPECT_EQ(AcknowledgeName(0x0B), "refused");
  EXPECT_EQ(AcknowledgeName(0x0C), "unsolicited");
  EXPECT_EQ(AcknowledgeName(0x0F), "unsolicited");
  EXPECT_EQ(AcknowledgeName(0x10), "refused");
}

// The time column depends on the local zone: each case sets its own and puts the old one back.
class CsvExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* zone = std::getenv("TZ")) savedZone_ = zone;
  }
  void TearDown() override {
    if (savedZone_)
      setenv("TZ", savedZone_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  static void UseZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }

 private:
  std::optional<std::string> savedZone_;
};

// 2026-12-09 16:05:09.123 UTC.
const TTrafficTime kTime = sys_days(year(2026) / December / 9) + 16h + 5min + 9s + 123ms;

TEST_F(CsvExportTest, HeaderNamesTheColumnsAndEndsInCrLf) {
  EXPECT_EQ(CsvHeader(), "time,direction,address,sig,code,data,decoded\r\n");
}

TEST_F(CsvExportTest, TimeIsLocalWithMillisecondsAndOffset) {
  const TTrafficRecord record{TTrafficRecord::TKind::kNoise, kSent, kTime, "x"};
  UseZone("CET-1");
  EXPECT_EQ(CsvRow(record, {}).substr(0, 30), "2026-12-09T17:05:09.123+01:00,");
  UseZone("<-0330>3:30");
  EXPECT_EQ(CsvRow(record, {}).substr(0, 30), "2026-12-09T12:35:09.123-03:30,");
  UseZone("UTC0");
  const TTrafficRecord beforeSecond{record.kind, kSent, kTime - 124ms, "x"};
  EXPECT_EQ(CsvRow(beforeSecond, {}).substr(0, 30), "2026-12-09T16:05:08.999+00:00,");
}

TEST_F(CsvExportTest, DecodedTextWithCommaAndQuoteIsQuoted) {
  UseZone("UTC0");
  const TTrafficRecord request{TTrafficRecord::TKind::kPacket, kSent, kTime,
                               BuildPacket97(0x31, 0x07, 0x90, "a,\"b")};
  EXPECT_EQ(CsvRow(request, {}),
            "2026-12-09T16:05:09.123+00:00,sent,31,07,90,61 2C 22 62,"
            "\"SetDisplayChars (0x90): text \"\"a,\"\"b\"\"\"\r\n");
  const TTrafficRecord answer{TTrafficRecord::TKind::kPacket, kReceived, kTime,
                              BuildPacket97(0x31, 0x07, 0x00, Bytes({0x01, 0x00, 0xD7}))};
  EXPECT_EQ(CsvRow(answer, 0x51),
            "2026-12-09T16:05:09.123+00:00,received,31,07,00,01 00 D7,OK (0x00): 21.5 \u00B0C\r\n");
}

TEST_F(CsvExportTest, BytesThatAreNoPacketFillOnlyTheDataColumn) {
  const TTrafficRecord noise{TTrafficRecord::TKind::kNoise, kReceived, TTrafficTime(),
                             Bytes({0x00, 0x2A, 0x0D})};
  EXPECT_EQ(CsvRow(noise, 0x51), ",received,,,,00 2A 0D,no packet\r\n");
  TByteString badChecksum = BuildPacket97(0x31, 0x07, 0x00, "");
  badChecksum[7] ^= 1;
  const TTrafficRecord damaged{TTrafficRecord::TKind::kDamaged, kReceived, TTrafficTime(),
                               badChecksum};
  EXPECT_EQ(CsvRow(damaged, {}),
            ",received,,,," + FormatHexSpaced(badChecksum) + ",damaged packet\r\n");
}

}  // namespace
}  // namespace zorvid
