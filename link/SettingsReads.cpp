#include "link/SettingsReads.h"

#include <cmath>

namespace zorvid {

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

bool TClockSave::Holds() const {
  constexpr double kSecondsPerDay = 86400;
  return readBack.ok && std::abs(readBack.value - sent) * kSecondsPerDay <= kClockToleranceSeconds;
}

TClockSave SaveClock(IZorvid& display, TDateTime value) {
  TClockSave save;
  save.sent = value;
  save.written = display.SetDateTime(value);
  if (save.written) save.readBack = ReadClock(display);
  return save;
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

}  // namespace zorvid
