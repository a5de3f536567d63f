#include "device/ZorvidRules.h"

namespace zorvid {
namespace {

std::optional<TInvalidValue> InRange(TSettingField field, std::int64_t value, std::int64_t min,
                                     std::int64_t max) {
  if (value >= min && value <= max) return std::nullopt;
  return TInvalidValue{field, value, min, max};
}

// The first of the checks that fails.
template <class... TChecks>
std::optional<TInvalidValue> FirstFailure(const TChecks&... checks) {
  std::optional<TInvalidValue> failure;
  ((failure = failure ? failure : checks), ...);
  return failure;
}

}  // namespace

std::optional<TInvalidValue> CheckBrightness(std::int32_t value) {
  return InRange(TSettingField::kStaticBrightness, value, 0, kBrightnessMax);
}

std::optional<TInvalidValue> CheckBrightnessAuto(const TBrightnessAuto& settings) {
  using F = TSettingField;
  return FirstFailure(
      InRange(F::kMinimumBrightness, settings.min, kBrightnessAutoMin, kBrightnessAutoMax),
      InRange(F::kMaximumBrightness, settings.max, kBrightnessAutoMin, kBrightnessAutoMax),
      InRange(F::kMinimumBrightness, settings.min, kBrightnessAutoMin, settings.max),
      InRange(F::kSensorGain, settings.gain, 0, kBrightnessGainMax));
}

std::optional<TInvalidValue> CheckDateTimeParams(const TDateTimeParams& params) {
  return FirstFailure(
      InRange(TSettingField::kTimeOffset, params.offset, kDateTimeOffsetMin, kDateTimeOffsetMax),
      InRange(TSettingField::kZoneIndex, params.zone, 0, kDateTimeZoneMax));
}

std::optional<TInvalidValue> CheckDataExpiration(std::int32_t seconds) {
  return InRange(TSettingField::kDataExpiration, seconds, 0, kExpirationMax);
}

std::optional<TInvalidValue> CheckClock(TDateTime clock) {
  return InRange(TSettingField::kClockYear, DecodeDateTime(clock).year, kDisplayYearFirst,
                 kDisplayYearLast);
}

std::optional<TInvalidValue> CheckSegments(const TByteString& data) {
  constexpr auto kPositions = static_cast<std::int64_t>(kZorvidPositions);
  return InRange(TSettingField::kSegmentCount, static_cast<std::int64_t>(data.size()), kPositions,
                 kPositions);
}

std::optional<TInvalidValue> CheckOwnAddress(std::int32_t address) {
  return InRange(TSettingField::kAddress, address, 0, kHighestOwnAddress);
}

}  // namespace zorvid
