#include "link/AnswerCheck.h"

namespace zorvid {
namespace {

std::optional<TInvalidAnswer> InRange(TAnswerField field, std::int64_t value, std::int64_t min,
                                      std::int64_t max) {
  if (value >= min && value <= max) return std::nullopt;
  return TInvalidAnswer{field, value, min, max};
}

// The first of the checks that fails.
template <class... TChecks>
std::optional<TInvalidAnswer> FirstFailure(const TChecks&... checks) {
  std::optional<TInvalidAnswer> failure;
  ((failure = failure ? failure : checks), ...);
  return failure;
}

}  // namespace

std::optional<TInvalidAnswer> CheckBrightness(std::int32_t value) {
  return InRange(TAnswerField::kStaticBrightness, value, 0, kBrightnessMax);
}

std::optional<TInvalidAnswer> CheckBrightnessAuto(const TBrightnessAuto& settings) {
  return FirstFailure(InRange(TAnswerField::kMinimumBrightness, settings.min, kBrightnessAutoMin,
                              kBrightnessAutoMax),
                      InRange(TAnswerField::kMaximumBrightness, settings.max, kBrightnessAutoMin,
                              kBrightnessAutoMax),
                      InRange(TAnswerField::kSensorGain, settings.gain, 0, kBrightnessGainMax));
}

std::optional<TInvalidAnswer> CheckDateTimeParams(const TDateTimeParams& params) {
  return FirstFailure(
      InRange(TAnswerField::kTimeOffset, params.offset, kDateTimeOffsetMin, kDateTimeOffsetMax),
      InRange(TAnswerField::kZoneIndex, params.zone, 0, kDateTimeZoneMax));
}

std::optional<TInvalidAnswer> CheckDataExpiration(const TDataExpiration& expiration) {
  return InRange(TAnswerField::kDataExpiration, expiration.seconds, 0, kExpirationMax);
}

std::optional<TInvalidAnswer> CheckClock(TDateTime clock) {
  return InRange(TAnswerField::kClockYear, DecodeDateTime(clock).year, kDisplayYearFirst,
                 kDisplayYearLast);
}

std::optional<TInvalidAnswer> CheckSegments(const TByteString& data) {
  constexpr auto kPositions = static_cast<std::int64_t>(kZorvidPositions);
  return InRange(TAnswerField::kSegmentCount, static_cast<std::int64_t>(data.size()), kPositions,
                 kPositions);
}

}  // namespace zorvid
