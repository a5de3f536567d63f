#pragma once

// The display's byte layouts and the conversions between them and ordinary values. Pure
// functions without a line, shared by the device class, the main window (which colours its text
// edit with IsValidDisplayText) and anything else that speaks to the display.
//
// Pack… functions return nothing when an argument breaks a rule of device/ZorvidRules.h: the
// device then sends nothing. Unpack… functions return nothing unless the answer has exactly the
// required length (and, where stated, decodes). Multi-byte numbers are big-endian.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/DateTime.h"
#include "core/Types.h"

namespace zorvid {

// The display's instructions.
enum TZorvidInstruction : TByte {
  kZorvidSetChannelFlag = 0x20,
  kZorvidSetChannelValue = 0x23,
  kZorvidGetChannelFlags = 0x30,
  kZorvidGetChannelValues = 0x33,
  kZorvidGetTemperature = 0x51,
  kZorvidSetDateTime = 0x70,
  kZorvidGetDateTime = 0x71,
  kZorvidSetDateTimeParams = 0x76,
  kZorvidGetDateTimeParams = 0x77,
  kZorvidShowActualInformation = 0x78,
  kZorvidGetDisplayChars = 0x80,
  kZorvidGetDisplayData = 0x81,
  kZorvidGetDisplayBrightness = 0x83,
  kZorvidGetDisplayDataExpiration = 0x84,
  kZorvidGetDisplayBrightnessAuto = 0x85,
  kZorvidSetDisplayChars = 0x90,
  kZorvidSetDisplayData = 0x91,
  kZorvidSetDisplayBrightness = 0x93,
  kZorvidSetDisplayDataExpiration = 0x94,
  kZorvidSetDisplayBrightnessAuto = 0x95,
};

// The address a display has unless it was given another: the character "1".
inline constexpr TByte kZorvidDefaultAddress = 0x31;

// Four digits with their decimal points plus the indicator LEDs: five positions.
inline constexpr std::size_t kZorvidPositions = 5;

// --- Display text ---

// At most five characters of digits, ASCII letters, space and "-"; one "." anywhere but first,
// and a final "." or ":" unless a "." came before it. The empty text is valid.
bool IsValidDisplayText(std::string_view text);
// The bytes that show `text`, lower-cased and right-aligned with blanks to five characters; a
// shorter text without "." or ":" first gets one trailing blank. Nothing for an invalid text.
std::optional<TByteString> PackDisplayText(std::string_view text);

// --- Segment pattern ---

// Exactly five bytes, one per position, one bit per segment.
std::optional<TByteString> PackDisplayData(const TByteString& data);

// --- Date and time ---

// The years the display's clock holds: the wire carries the year's last two digits and the
// display reads them back as 2000 plus that number.
inline constexpr int kDisplayYearFirst = 2000;
inline constexpr int kDisplayYearLast = 2099;

// hour, minute, second, day, month, year mod 100; milliseconds dropped. Nothing for a value
// outside the years kDisplayYearFirst..kDisplayYearLast (or not a number).
std::optional<TByteString> PackDateTime(TDateTime dateTime);
// hour, minute, second, weekday (ignored), day, month, year − 2000; nothing when these do not
// form a valid date and time.
inline constexpr std::size_t kDateTimeAnswerSize = 7;
std::optional<TDateTime> UnpackDateTime(const TByteString& bytes);

// What the display's automatic information shows and how it keeps its clock.
struct TDateTimeParams {
  bool autoUpdate = false;  // automatic time change
  bool summerTime = false;
  bool showAfterTurnOn = false;
  bool showAfterExpiration = false;
  bool format12Hour = false;
  bool formatMDY = false;
  bool showTime = false;
  bool showDate = false;
  bool showTemperature = false;
  std::int32_t offset = 0;  // kDateTimeOffsetMin..kDateTimeOffsetMax
  std::int32_t zone = 0;    // 0..kDateTimeZoneMax
  bool operator==(const TDateTimeParams&) const = default;
};
inline constexpr std::int32_t kDateTimeOffsetMin = -660;
inline constexpr std::int32_t kDateTimeOffsetMax = 780;
inline constexpr std::int32_t kDateTimeZoneMax = 0xFFFF;

std::optional<TByteString> PackDateTimeParams(const TDateTimeParams& params);
std::optional<TDateTimeParams> UnpackDateTimeParams(const TByteString& bytes);

// --- Expiration of pushed data ---

inline constexpr std::int32_t kExpirationMax = 0xFFFF;  // 0: the data stays for good

std::optional<TByteString> PackDataExpiration(std::int32_t seconds);
struct TDataExpiration {
  std::int32_t seconds = 0;
  std::int32_t second = 0;  // the display's second value, passed on unread
  bool operator==(const TDataExpiration&) const = default;
};
std::optional<TDataExpiration> UnpackDataExpiration(const TByteString& bytes);

// --- The two channels ---

// A channel selector: the channel number (1 or 2) in bits 0-1, the channel's flag in bit 7.
std::optional<TByteString> PackChannelFlag(std::int32_t channel, bool flag);
// The value first, then the selector.
std::optional<TByteString> PackChannelValue(std::int32_t channel, bool flag, std::int32_t value);

struct TChannelSelector {
  std::int32_t channel = 1;
  bool flag = false;
  bool operator==(const TChannelSelector&) const = default;
};
// What a selector names, other bits ignored; nothing unless it names channel 1 or 2.
std::optional<TChannelSelector> UnpackChannelSelector(TByte selector);

struct TChannelFlags {
  bool flag1 = false;
  bool flag2 = false;
  bool operator==(const TChannelFlags&) const = default;
};
std::optional<TChannelFlags> UnpackChannelFlags(const TByteString& bytes);

struct TChannelValues {
  bool flag1 = false;
  bool flag2 = false;
  std::int32_t value1 = 0;
  std::int32_t value2 = 0;
  bool operator==(const TChannelValues&) const = default;
};
// Two [selector, value] pairs in either order; nothing unless one names channel 1 and the
// other channel 2.
inline constexpr std::size_t kChannelValuesSize = 4;
std::optional<TChannelValues> UnpackChannelValues(const TByteString& bytes);

// --- Brightness ---

inline constexpr std::int32_t kBrightnessMax = 127;
inline constexpr std::int32_t kBrightnessAutoMin = 6;
inline constexpr std::int32_t kBrightnessAutoMax = 36;
inline constexpr std::int32_t kBrightnessGainMax = 100;  // percent added to the sensor value

std::optional<TByteString> PackBrightness(std::int32_t value);
std::optional<std::int32_t> UnpackBrightness(const TByteString& bytes);

struct TBrightnessAuto {
  bool automatic = false;
  std::int32_t min = kBrightnessAutoMin;
  std::int32_t max = kBrightnessAutoMax;
  std::int32_t gain = 0;
  bool operator==(const TBrightnessAuto&) const = default;
};
std::optional<TByteString> PackBrightnessAuto(const TBrightnessAuto& settings);
std::optional<TBrightnessAuto> UnpackBrightnessAuto(const TByteString& bytes);

// --- Temperature ---

// The one data byte of the temperature request.
inline constexpr TByte kTemperatureSensor = 0x01;
// Byte 0 ignored, bytes 1-2 tenths of a degree, unsigned.
std::optional<double> UnpackTemperature(const TByteString& bytes);

}  // namespace zorvid
