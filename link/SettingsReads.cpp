#include "link/SettingsReads.h"

#include <array>
#include <utility>

namespace zorvid {
namespace {

using F = TSettingField;

// Appends a difference when the two values are not the same.
void Compare(std::vector<TSettingDifference>& differences, TSettingField field, std::int64_t sent,
             std::int64_t read) {
  if (sent != read) differences.push_back({field, sent, read});
}

// The flags of the date-time parameters by their fields, in the order the page shows them.
constexpr std::array<std::pair<TSettingField, bool TDateTimeParams::*>, 9> kParamFlags{{
    {F::kShowAfterTurnOn, &TDateTimeParams::showAfterTurnOn},
    {F::kShowAfterExpiration, &TDateTimeParams::showAfterExpiration},
    {F::kAutoUpdate, &TDateTimeParams::autoUpdate},
    {F::kSummerTime, &TDateTimeParams::summerTime},
    {F::kFormat12Hour, &TDateTimeParams::format12Hour},
    {F::kFormatMDY, &TDateTimeParams::formatMDY},
    {F::kShowTime, &TDateTimeParams::showTime},
    {F::kShowDate, &TDateTimeParams::showDate},
    {F::kShowTemperature, &TDateTimeParams::showTemperature},
}};

}  // namespace

std::optional<TInvalidAnswer> TDateTimeParamsRead::Invalid() const {
  if (!ok) return std::nullopt;
  if (auto invalid = CheckDateTimeParams(params)) return invalid;
  return CheckDataExpiration(expiration);
}

std::optional<TInvalidAnswer> TBrightnessRead::Invalid() const {
  std::optional<TInvalidAnswer> invalid = staticRead ? CheckBrightness(value) : std::nullopt;
  if (!invalid && automaticRead) invalid = CheckBrightnessAuto(automatic);
  return invalid;
}

std::optional<TInvalidAnswer> TClockRead::Invalid() const {
  return ok ? CheckClock(value) : std::nullopt;
}

bool SendOnce(std::string_view, const std::function<bool()>& request) {
  return request();
}

TDateTimeParamsRead ReadDateTimeParams(IZorvid& display, const TRequestSender& send) {
  TDateTimeParamsRead read;
  read.ok =
      send("read params", [&] { return display.GetDateTimeParams(read.params); }) &&
      send("read expiration", [&] { return display.GetDisplayDataExpiration(read.expiration); });
  return read;
}

TBrightnessRead ReadBrightness(IZorvid& display, bool automaticOffered,
                               const TRequestSender& send) {
  TBrightnessRead read;
  read.offered = automaticOffered;
  read.staticRead =
      send("read brightness", [&] { return display.GetDisplayBrightness(read.value); });
  read.automaticRead = automaticOffered && send("read brightness-auto", [&] {
                         return display.GetDisplayBrightnessAuto(read.automatic);
                       });
  return read;
}

TClockRead ReadClock(IZorvid& display) {
  TClockRead read;
  read.ok = display.GetDateTime(read.value);
  return read;
}

TSettingsReads ReadSettings(IZorvid& display, const TDisplayCapabilities& capabilities) {
  TSettingsReads reads;
  reads.params = ReadDateTimeParams(display);
  reads.brightness = ReadBrightness(display, OffersAutomaticBrightness(capabilities));
  if (OffersClockSettings(capabilities)) reads.clock = ReadClock(display);
  return reads;
}

TDateTimeParamsSave SaveDateTimeParams(IZorvid& display, const TDateTimeParams& params,
                                       std::int32_t expirationSeconds) {
  TDateTimeParamsSave save;
  save.paramsWritten = display.SetDateTimeParams(params);
  save.expirationWritten =
      save.paramsWritten && display.SetDisplayDataExpiration(expirationSeconds);
  if (save.expirationWritten) save.readBack = ReadDateTimeParams(display);
  return save;
}

TBrightnessSave SaveBrightness(IZorvid& display, std::int32_t value,
                               const std::optional<TBrightnessAuto>& automatic) {
  TBrightnessSave save;
  save.staticWritten = display.SetDisplayBrightness(value);
  save.automaticWritten =
      save.staticWritten && (!automatic || display.SetDisplayBrightnessAuto(*automatic));
  if (save.automaticWritten) save.readBack = ReadBrightness(display, automatic.has_value());
  return save;
}

std::vector<TSettingDifference> Differences(const TDateTimeParams& sent,
                                            std::int32_t sentExpirationSeconds,
                                            const TDateTimeParamsRead& read) {
  std::vector<TSettingDifference> differences;
  Compare(differences, F::kDataExpiration, sentExpirationSeconds, read.expiration.seconds);
  for (const auto& [field, flag] : kParamFlags)
    Compare(differences, field, sent.*flag, read.params.*flag);
  Compare(differences, F::kTimeOffset, sent.offset, read.params.offset);
  Compare(differences, F::kZoneIndex, sent.zone, read.params.zone);
  return differences;
}

std::vector<TSettingDifference> Differences(std::int32_t sentValue,
                                            const std::optional<TBrightnessAuto>& sentAutomatic,
                                            const TBrightnessRead& read) {
  std::vector<TSettingDifference> differences;
  Compare(differences, F::kStaticBrightness, sentValue, read.value);
  if (!sentAutomatic) return differences;
  Compare(differences, F::kAutomaticBrightness, sentAutomatic->automatic, read.automatic.automatic);
  Compare(differences, F::kMinimumBrightness, sentAutomatic->min, read.automatic.min);
  Compare(differences, F::kMaximumBrightness, sentAutomatic->max, read.automatic.max);
  Compare(differences, F::kSensorGain, sentAutomatic->gain, read.automatic.gain);
  return differences;
}

bool IsFlag(TSettingField field) {
  return field <= F::kShowTemperature || field == F::kAutomaticBrightness;
}

}  // namespace zorvid
