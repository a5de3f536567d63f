#pragma once

// Answers are checked before anything shows or prints them: a value that the matching setter
// would refuse did not come from a sound display (or not intact), and shown as it is, clamped
// by a control or printed as a date that cannot be, it would pass for the display's setting.
// Each check returns what is wrong, or nothing for a sound answer.

#include <cstdint>
#include <optional>

#include "core/DateTime.h"
#include "core/Types.h"
#include "device/ZorvidCodec.h"

namespace zorvid {

// The value of an answer that failed its check, by the setter's name for it. Programs name them
// in tables in this order.
enum class TAnswerField {
  kStaticBrightness,
  kMinimumBrightness,
  kMaximumBrightness,
  kSensorGain,
  kTimeOffset,
  kZoneIndex,
  kDataExpiration,
  kClockYear,
  kSegmentCount,  // the number of segment bytes
};

struct TInvalidAnswer {
  TAnswerField field;
  std::int64_t value;
  std::int64_t min;  // the range the setter accepts
  std::int64_t max;
  bool operator==(const TInvalidAnswer&) const = default;
};

std::optional<TInvalidAnswer> CheckBrightness(std::int32_t value);
std::optional<TInvalidAnswer> CheckBrightnessAuto(const TBrightnessAuto& settings);
std::optional<TInvalidAnswer> CheckDateTimeParams(const TDateTimeParams& params);
std::optional<TInvalidAnswer> CheckDataExpiration(const TDataExpiration& expiration);
// The years the display's clock holds.
std::optional<TInvalidAnswer> CheckClock(TDateTime clock);
// Exactly one byte per display position.
std::optional<TInvalidAnswer> CheckSegments(const TByteString& data);

}  // namespace zorvid
