#include "device/ZorvidCodec.h"

#include "device/ZorvidRules.h"

#include <array>
#include <cmath>

namespace zorvid {
namespace {

constexpr std::size_t kDateTimeParamsSize = 6;
constexpr std::size_t kExpirationAnswerSize = 4;
constexpr std::size_t kChannelFlagsSize = 1;
constexpr std::size_t kBrightnessSize = 1;
constexpr std::size_t kBrightnessAutoSize = 4;
constexpr std::size_t kTemperatureSize = 3;

constexpr TByte kChannelNumberMask = 0x03;
constexpr TByte kChannelFlagBit = 0x80;
constexpr double kTenthsPerDegree = 10.0;

// Day counts of 0001-01-01 and 10000-01-01: the calendar the date-time conversions know.
constexpr TDateTime kFirstCalendarDay = -693593.0;
constexpr TDateTime kDayAfterCalendar = 2958466.0;

bool InRange(std::int32_t value, std::int32_t low, std::int32_t high) {
  return value >= low && value <= high;
}

char Byte(std::int32_t value) {
  return static_cast<char>(static_cast<TByte>(value));
}

void AppendWord(TByteString& bytes, std::uint16_t value) {
  bytes += Byte(value >> 8);
  bytes += Byte(value);
}

std::uint16_t WordAt(const TByteString& bytes, std::size_t index) {
  return static_cast<std::uint16_t>(ByteAt(bytes, index) << 8 | ByteAt(bytes, index + 1));
}

bool IsPlainDisplayChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ' ' ||
         c == '-';
}

char ToLowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Where each flag of the date-time parameters lives: byte 0 chooses what the automatic
// information shows, byte 1 how the clock behaves.
struct TParamFlag {
  std::size_t byte;
  TByte mask;
  bool TDateTimeParams::*flag;
};
constexpr std::array<TParamFlag, 9> kParamFlags{{
    {0, 0x01, &TDateTimeParams::showTime},
    {0, 0x02, &TDateTimeParams::showDate},
    {0, 0x04, &TDateTimeParams::showTemperature},
    {1, 0x01, &TDateTimeParams::autoUpdate},
    {1, 0x02, &TDateTimeParams::summerTime},
    {1, 0x04, &TDateTimeParams::showAfterTurnOn},
    {1, 0x08, &TDateTimeParams::showAfterExpiration},
    {1, 0x10, &TDateTimeParams::format12Hour},
    {1, 0x20, &TDateTimeParams::formatMDY},
}};
constexpr std::size_t kOffsetIndex = 2;
constexpr std::size_t kZoneIndex = 4;

std::optional<TByte> ChannelSelector(std::int32_t channel, bool flag) {
  if (!InRange(channel, 1, 2)) return {};
  return static_cast<TByte>(channel | (flag ? kChannelFlagBit : 0));
}

}  // namespace

bool IsValidDisplayText(std::string_view text) {
  if (text.size() > kZorvidPositions) return false;
  bool dotSeen = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (IsPlainDisplayChar(c)) continue;
    if (i + 1 == text.size()) return (c == '.' || c == ':') && !dotSeen;
    if (c != '.' || i == 0 || dotSeen) return false;
    dotSeen = true;
  }
  return true;
}

std::optional<TByteString> PackDisplayText(std::string_view text) {
  if (!IsValidDisplayText(text)) return {};
  TByteString shown(text);
  if (shown.size() < kZorvidPositions && shown.find_first_of(".:") == TByteString::npos)
    shown += ' ';
  shown.insert(0, kZorvidPositions - shown.size(), ' ');
  for (char& c : shown)
    c = ToLowerAscii(c);
  return shown;
}

std::optional<TByteString> PackDisplayData(const TByteString& data) {
  if (CheckSegments(data)) return {};
  return data;
}

std::optional<TByteString> PackDateTime(TDateTime dateTime) {
  // Outside the calendar the day count has no date to split into.
  if (!std::isfinite(dateTime) || dateTime <= kFirstCalendarDay - 1 ||
      dateTime >= kDayAfterCalendar)
    return {};
  if (CheckClock(dateTime)) return {};
  const TDateTimeParts parts = DecodeDateTime(dateTime);
  TByteString bytes;
  for (const int part :
       {parts.hour, parts.minute, parts.second, parts.day, parts.month, parts.year % 100})
    bytes += Byte(part);
  return bytes;
}

std::optional<TDateTime> UnpackDateTime(const TByteString& bytes) {
  if (bytes.size() != kDateTimeAnswerSize) return {};
  TDateTimeParts parts;
  parts.hour = ByteAt(bytes, 0);
  parts.minute = ByteAt(bytes, 1);
  parts.second = ByteAt(bytes, 2);
  parts.day = ByteAt(bytes, 4);  // byte 3, the weekday, follows from the date
  parts.month = ByteAt(bytes, 5);
  parts.year = kDisplayYearFirst + ByteAt(bytes, 6);
  return EncodeDateTime(parts);
}

std::optional<TByteString> PackDateTimeParams(const TDateTimeParams& params) {
  if (CheckDateTimeParams(params)) return {};
  TByteString bytes(kOffsetIndex, '\0');
  for (const TParamFlag& bit : kParamFlags)
    if (params.*bit.flag) bytes[bit.byte] = static_cast<char>(ByteAt(bytes, bit.byte) | bit.mask);
  AppendWord(bytes, static_cast<std::uint16_t>(params.offset));  // two's complement
  AppendWord(bytes, static_cast<std::uint16_t>(params.zone));
  return bytes;
}

std::optional<TDateTimeParams> UnpackDateTimeParams(const TByteString& bytes) {
  if (bytes.size() != kDateTimeParamsSize) return {};
  TDateTimeParams params;
  for (const TParamFlag& bit : kParamFlags)
    params.*bit.flag = (ByteAt(bytes, bit.byte) & bit.mask) != 0;
  params.offset = static_cast<std::int16_t>(WordAt(bytes, kOffsetIndex));
  params.zone = WordAt(bytes, kZoneIndex);
  return params;
}

std::optional<TByteString> PackDataExpiration(std::int32_t seconds) {
  if (CheckDataExpiration(seconds)) return {};
  TByteString bytes;
  AppendWord(bytes, static_cast<std::uint16_t>(seconds));
  return bytes;
}

std::optional<TDataExpiration> UnpackDataExpiration(const TByteString& bytes) {
  if (bytes.size() != kExpirationAnswerSize) return {};
  return TDataExpiration{WordAt(bytes, 0), WordAt(bytes, 2)};
}

std::optional<TByteString> PackChannelFlag(std::int32_t channel, bool flag) {
  const std::optional<TByte> selector = ChannelSelector(channel, flag);
  if (!selector) return {};
  return TByteString(1, Byte(*selector));
}

std::optional<TByteString> PackChannelValue(std::int32_t channel, bool flag, std::int32_t value) {
  const std::optional<TByte> selector = ChannelSelector(channel, flag);
  if (!selector || !InRange(value, 0, 0xFF)) return {};
  return TByteString{Byte(value), Byte(*selector)};
}

std::optional<TChannelFlags> UnpackChannelFlags(const TByteString& bytes) {
  if (bytes.size() != kChannelFlagsSize) return {};
  const TByte bits = ByteAt(bytes, 0);
  return TChannelFlags{(bits & 0x01) != 0, (bits & 0x02) != 0};
}

std::optional<TChannelSelector> UnpackChannelSelector(TByte selector) {
  const std::int32_t channel = selector & kChannelNumberMask;
  if (!InRange(channel, 1, 2)) return {};  // the display has no other channel
  return TChannelSelector{channel, (selector & kChannelFlagBit) != 0};
}

std::optional<TChannelValues> UnpackChannelValues(const TByteString& bytes) {
  if (bytes.size() != kChannelValuesSize) return {};
  TChannelValues values;
  bool seen1 = false, seen2 = false;
  for (std::size_t pair = 0; pair < kChannelValuesSize; pair += 2) {
    const std::optional<TChannelSelector> selector = UnpackChannelSelector(ByteAt(bytes, pair));
    if (!selector) continue;
    const std::int32_t value = ByteAt(bytes, pair + 1);
    if (selector->channel == 1) {
      values.flag1 = selector->flag;
      values.value1 = value;
      seen1 = true;
    } else {
      values.flag2 = selector->flag;
      values.value2 = value;
      seen2 = true;
    }
  }
  if (!seen1 || !seen2) return {};
  return values;
}

std::optional<TByteString> PackBrightness(std::int32_t value) {
  if (CheckBrightness(value)) return {};
  return TByteString(1, Byte(value));
}

std::optional<std::int32_t> UnpackBrightness(const TByteString& bytes) {
  if (bytes.size() != kBrightnessSize) return {};
  return ByteAt(bytes, 0);
}

std::optional<TByteString> PackBrightnessAuto(const TBrightnessAuto& settings) {
  if (CheckBrightnessAuto(settings)) return {};
  return TByteString{Byte(settings.automatic ? 1 : 0), Byte(settings.min), Byte(settings.max),
                     Byte(settings.gain)};
}

std::optional<TBrightnessAuto> UnpackBrightnessAuto(const TByteString& bytes) {
  if (bytes.size() != kBrightnessAutoSize) return {};
  return TBrightnessAuto{ByteAt(bytes, 0) != 0, ByteAt(bytes, 1), ByteAt(bytes, 2),
                         ByteAt(bytes, 3)};
}

std::optional<double> UnpackTemperature(const TByteString& bytes) {
  if (bytes.size() != kTemperatureSize) return {};
  return WordAt(bytes, 1) / kTenthsPerDegree;
}

}  // namespace zorvid
