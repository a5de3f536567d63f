#include "protocol/Korvel97.h"
#include "tests/support/ByteText.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>
#include <type_traits>

namespace zorvid {
namespace {

using test::Bytes;

using ::testing::StrEq;
using ::testing::ThrowsMessage;

// The identification request to address '1', SIG 1: the smallest packet, no data.
const TByteString kIdentRequest = Bytes({0x2A, 0x61, 0x00, 0x05, 0x31, 0x01, 0xF3, 0x4A, 0x0D});
// Data bytes that look like prefix, terminator and string end must travel unescaped.
const TByteString kAwkwardData = Bytes({0x2A, 0x0D, 0x00});
const TByteString kAwkwardPacket =
    Bytes({0x2A, 0x61, 0x00, 0x08, 0x31, 0x07, 0x20, 0x2A, 0x0D, 0x00, 0xDD, 0x0D});
constexpr char kParseError[] = "Incorrect PACKET (Korvel format 97)!";

TEST(Checksum97Test, IsComplementOfByteSumModulo256) {
  EXPECT_EQ(Checksum97(""), 0xFF);
  EXPECT_EQ(Checksum97(kIdentRequest.substr(0, 7)), 0x4A);  // sum 0x1B5 wraps to 0xB5
  EXPECT_EQ(Checksum97(Bytes({0xFF, 0x01})), 0xFF);
  EXPECT_EQ(Checksum97(Bytes({0x80, 0x80, 0x7F})), 0x80);
  EXPECT_EQ(Checksum97(TByteString(3, '\0')), 0xFF);
}

TEST(BuildPacket97Test, ProducesExactWireBytes) {
  EXPECT_EQ(FormatHexSpaced(BuildPacket97(0x31, 0x01, 0xF3, "")), FormatHexSpaced(kIdentRequest));
  EXPECT_EQ(FormatHexSpaced(BuildPacket97(0x31, 0x07, 0x20, kAwkwardData)),
            FormatHexSpaced(kAwkwardPacket));
}

TEST(BuildPacket97Test, LengthFieldIsBigEndianAndWrapsIn16Bits) {
  const TByteString mid = BuildPacket97(0x31, 0x01, 0x20, TByteString(300, 'x'));
  EXPECT_EQ(FormatHexSpaced(mid.substr(2, 2)), "01 31");  // 305
  const TByteString largest = BuildPacket97(0x31, 0x01, 0x20, TByteString(kPacket97MaxData, 'x'));
  EXPECT_EQ(FormatHexSpaced(largest.substr(2, 2)), "FF FF");
  EXPECT_EQ(ValidatePacket97(largest), kPacket97Valid);
  const TByteString wrapped =
      BuildPacket97(0x31, 0x01, 0x20, TByteString(kPacket97MaxData + 1, 'x'));
  EXPECT_EQ(FormatHexSpaced(wrapped.substr(2, 2)), "00 00");
  EXPECT_EQ(ValidatePacket97(wrapped), kPacket97BadLength);
}

TEST(Packet97RoundTripTest, ParseReturnsWhatWasBuilt) {
  for (const std::size_t size : {0u, 1u, 255u, 256u, 1000u, 65530u}) {
    SCOPED_TRACE(size);
    TByteString data(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
      data[i] = static_cast<char>(i * 7);
    const TByteString packet = BuildPacket97(0xFE, 0x80, 0x0C, data);
    ASSERT_EQ(packet.size(), size + kPacket97MinSize);
    ASSERT_EQ(ValidatePacket97(packet), kPacket97Valid);
    TKorvelFormat97 record;
    ParsePacket97(packet, record);
    EXPECT_EQ(record, (TKorvelFormat97{0x2A, 0x61, static_cast<std::uint16_t>(size + 5), 0xFE, 0x80,
                                       0x0C, data, ByteAt(packet, packet.size() - 2), 0x0D}));
  }
}

TEST(ValidatePacket97Test, ReportsFirstFailingCheck) {
  TByteString appended = kIdentRequest + 'x';
  TByteString badTerminator = kIdentRequest;
  badTerminator.back() = 0x0A;
  const struct {
    const char* what;
    TByteString packet;
    std::uint16_t code;
  } cases[] = {
      {"valid", kIdentRequest, kPacket97Valid},
      {"valid with awkward data", kAwkwardPacket, kPacket97Valid},
      {"empty", "", kPacket97TooShort},
      {"7 bytes", kIdentRequest.substr(0, 7), kPacket97TooShort},
      {"7 bytes of garbage", "ABCDEFG", kPacket97TooShort},
      {"8 bytes, checksum over 6", Bytes({0x2A, 0x61, 0x00, 0x04, 0x31, 0x01, 0x3E, 0x0D}),
       kPacket97Valid},
      {"8 bytes, bad checksum", Bytes({0x2A, 0x61, 0x00, 0x04, 0x31, 0x01, 0x3F, 0x0D}),
       kPacket97BadChecksum},
      {"bad prefix and format", "#b" + kIdentRequest.substr(2), kPacket97BadPrefix},
      {"bad format", "*A" + kIdentRequest.substr(2), kPacket97BadFormat},
      {"one byte appended", appended, kPacket97BadLength},
      {"two packets", kIdentRequest + kIdentRequest, kPacket97BadLength},
      {"length 0xFFFF", Bytes({0x2A, 0x61, 0xFF, 0xFF, 0x31, 0x01, 0xF3, 0x4A, 0x0D}),
       kPacket97BadLength},
      {"length below 5", Bytes({0x2A, 0x61, 0x00, 0x02, 0x31, 0x01, 0xF3, 0x4A, 0x0D}),
       kPacket97BadLength},
      {"bad terminator", badTerminator, kPacket97BadTerminator},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ValidatePacket97(c.packet), c.code) << c.what << ": " << FormatHexSpaced(c.packet);
  }
}

// Changes one byte of a valid packet with data, for every offset and a few bit patterns.
class Packet97ByteChangeTest : public ::testing::TestWithParam<std::tuple<std::size_t, unsigned>> {
};

constexpr std::size_t kSweepPacketSize = 14;

TEST_P(Packet97ByteChangeTest, IsCaughtByTheCheckForThatOffset) {
  TByteString packet = BuildPacket97(0x31, 0x42, 0x20, "12.34");
  ASSERT_EQ(packet.size(), kSweepPacketSize);
  const auto [offset, mask] = GetParam();
  packet[offset] = static_cast<char>(ByteAt(packet, offset) ^ mask);
  std::uint16_t expected = kPacket97BadChecksum;  // address through data, and the checksum
  if (offset == 0) expected = kPacket97BadPrefix;
  if (offset == 1) expected = kPacket97BadFormat;
  if (offset == 2 || offset == 3) expected = kPacket97BadLength;  // checked before the sum
  if (offset == kSweepPacketSize - 1) expected = kPacket97BadTerminator;
  EXPECT_EQ(ValidatePacket97(packet), expected) << FormatHexSpaced(packet);
}

INSTANTIATE_TEST_SUITE_P(AllOffsets, Packet97ByteChangeTest,
                         ::testing::Combine(::testing::Range<std::size_t>(0, kSweepPacketSize),
                                            ::testing::Values(0x01u, 0x80u, 0xFFu)));

TEST(ParsePacket97Test, ReadsFieldsAsReceivedWithoutChecking) {
  TKorvelFormat97 record;
  ParsePacket97(kIdentRequest, record);  // the record's fields are in wire order
  EXPECT_EQ(record, (TKorvelFormat97{0x2A, 0x61, 5, 0x31, 0x01, 0xF3, "", 0x4A, 0x0D}));

  // Foreign prefix, wrong checksum and terminator, trailing bytes: reported, not judged.
  const TByteString odd = Bytes({0x23, 0x62, 0x00, 0x06, 0x10, 0x20, 0x30, 0x40, 0x55, 0x0A, 0x99});
  ParsePacket97(odd, record);
  EXPECT_EQ(record, (TKorvelFormat97{0x23, 0x62, 6, 0x10, 0x20, 0x30, Bytes({0x40}), 0x55, 0x0A}));

  ParsePacket97(kAwkwardPacket, record);
  EXPECT_EQ(record.Data, kAwkwardData);
}

// Callers that know only the standard errors catch it as well.
static_assert(std::is_base_of_v<std::runtime_error, EKorvelPacketError>);

TEST(ParsePacket97Test, RaisesTheOneErrorForUnreadablePackets) {
  const struct {
    const char* what;
    TByteString packet;
  } cases[] = {
      {"empty", ""},
      {"2 bytes", "*a"},
      {"5 bytes", kIdentRequest.substr(0, 5)},
      {"8 bytes that validate", Bytes({0x2A, 0x61, 0x00, 0x04, 0x31, 0x01, 0x3E, 0x0D})},
      {"truncated data", BuildPacket97(0x31, 0x01, 0x20, "12.34").substr(0, 12)},
      {"length 0xFFFF", Bytes({0x2A, 0x61, 0xFF, 0xFF, 0x31, 0x01, 0xF3, 0x4A, 0x0D})},
      {"length 4", Bytes({0x2A, 0x61, 0x00, 0x04, 0x31, 0x01, 0xF3, 0x4A, 0x0D})},
      {"length 0", Bytes({0x2A, 0x61, 0x00, 0x00, 0x31, 0x01, 0xF3, 0x4A, 0x0D})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TKorvelFormat97 record;
    record.Cr = 0x0D;
    EXPECT_THAT([&] { ParsePacket97(c.packet, record); },
                ThrowsMessage<EKorvelPacketError>(StrEq(kParseError)));
    EXPECT_EQ(record.Cr, 0);  // a failed parse leaves no terminator that could pass for one
  }
}

TEST(ExtractPacket97Test, WaitsForTheWholePacket) {
  const TByteString packet = BuildPacket97(0x31, 0x01, 0x20, "12.34");  // "*a" 00 0A, 14 bytes
  TByteString buffer = packet.substr(0, 9);
  EXPECT_EQ(ExtractPacket97(buffer, true), "");
  EXPECT_EQ(buffer, packet.substr(0, 9));

  buffer = packet;
  EXPECT_EQ(ExtractPacket97(buffer, false), packet);
  EXPECT_EQ(buffer, packet);
  EXPECT_EQ(ExtractPacket97(buffer, true), packet);
  EXPECT_EQ(buffer, "");
}

TEST(ExtractPacket97Test, CutsBackToBackPacketsInOrder) {
  const TByteString first = BuildPacket97(0x31, 0x01, 0x20, kAwkwardData);
  const TByteString second = BuildPacket97(0x32, 0x02, 0xF3, "");
  TByteString buffer = first + second + "*a";
  EXPECT_EQ(ExtractPacket97(buffer, true), first);
  EXPECT_EQ(buffer, second + "*a");
  EXPECT_EQ(ExtractPacket97(buffer, true), second);
  EXPECT_EQ(ExtractPacket97(buffer, true), "");
  EXPECT_EQ(buffer, "*a");
}

TEST(ExtractPacket97Test, LeavesBuffersWithoutPacketAtTheFrontUnchanged) {
  const TByteString cases[] = {
      "",
      "*",
      "*a",
      Bytes({0x2A, 0x61, 0x00}),
      "x" + kIdentRequest,                                      // no resynchronisation
      "a*" + kIdentRequest.substr(2),                           // prefix and format swapped
      "#a" + kIdentRequest.substr(2),                           // prefix alone wrong
      kIdentRequest.substr(0, 8),                               // one byte short
      Bytes({0x2A, 0x61, 0xFF, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8}),  // declares 65539 bytes
  };
  for (const TByteString& original : cases) {
    TByteString buffer = original;
    EXPECT_EQ(ExtractPacket97(buffer, true), "") << FormatHexSpaced(original);
    EXPECT_EQ(buffer, original) << FormatHexSpaced(original);
  }
}

TEST(ExtractPacket97Test, DoesNotValidateWhatItCuts) {
  TByteString corrupt = kIdentRequest;
  corrupt[7] = 0x00;  // checksum
  corrupt[8] = 0x0A;  // terminator
  TByteString buffer = corrupt + kIdentRequest;
  EXPECT_EQ(ExtractPacket97(buffer, true), corrupt);
  EXPECT_EQ(buffer, kIdentRequest);

  // A length field below 5 yields a fragment shorter than any packet.
  buffer = Bytes({0x2A, 0x61, 0x00, 0x01, 0x31, 0x01});
  EXPECT_EQ(ExtractPacket97(buffer, true), Bytes({0x2A, 0x61, 0x00, 0x01, 0x31}));
  EXPECT_EQ(buffer, Bytes({0x01}));
}

TEST(TKorvelFormat97Test, DefaultRecordIsAllZero) {
  EXPECT_EQ(TKorvelFormat97{}, (TKorvelFormat97{0, 0, 0, 0, 0, 0, "", 0, 0}));
}

}  // namespace
}  // namespace zorvid
