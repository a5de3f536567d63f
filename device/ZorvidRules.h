#pragma once

// The display's rule book: which values each setting may take, alone and together. One check
// per record serves every path a value takes: a command's argument before it is sent, the
// display's answer before anything shows or prints it, a settings file before it is taken and
// a window field before it is saved. The codec's Pack… functions refuse exactly what these
// checks refuse, so a value that passes is one the display can be sent.
//
// Each check returns the first value that breaks a rule, or nothing for a sound record.

#include <cstdint>
#include <optional>

#include "core/DateTime.h"
#include "core/Types.h"
#include "device/ZorvidCodec.h"
#include "protocol/KorvelInterfaces.h"

namespace zorvid {

// A value a rule names, by the setter's name for it. Programs name them in tables in this order.
enum class TSettingField {
  kStaticBrightness,
  kMinimumBrightness,
  kMaximumBrightness,
  kSensorGain,
  kTimeOffset,
  kZoneIndex,
  kDataExpiration,
  kClockYear,
  kSegmentCount,  // the number of segment bytes
  kAddress,       // a display's own address
};
inline constexpr int kSettingFieldCount = static_cast<int>(TSettingField::kAddress) + 1;

// The value that broke a rule and the range it must lie in. For a rule across fields the range
// is the one the other fields leave ("min 30 outside 6..10" while max is 10).
struct TInvalidValue {
  TSettingField field;
  std::int64_t value;
  std::int64_t min;
  std::int64_t max;
  bool operator==(const TInvalidValue&) const = default;
};

std::optional<TInvalidValue> CheckBrightness(std::int32_t value);
// MIN and MAX in kBrightnessAutoMin..kBrightnessAutoMax and MIN not above MAX: the display
// follows the light between the two; GAIN 0..kBrightnessGainMax.
std::optional<TInvalidValue> CheckBrightnessAuto(const TBrightnessAuto& settings);
std::optional<TInvalidValue> CheckDateTimeParams(const TDateTimeParams& params);
std::optional<TInvalidValue> CheckDataExpiration(std::int32_t seconds);
// The years the display's clock holds.
std::optional<TInvalidValue> CheckClock(TDateTime clock);
// Exactly one byte per display position.
std::optional<TInvalidValue> CheckSegments(const TByteString& data);
// The highest address a display can be given: the one above reaches every display, the one
// above that none.
inline constexpr TByte kHighestOwnAddress = kBroadcastAddress - 1;
std::optional<TInvalidValue> CheckOwnAddress(std::int32_t address);

}  // namespace zorvid
