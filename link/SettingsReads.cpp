#include "link/SettingsReads.h"

#include <cmath>

namespace zorvid {
namespace {

// Sends the steps of one procedure until one fails; later steps send nothing and the first
// failure is the procedure's outcome.
class TProcedure {
 public:
  TProcedure(IZorvid& display, const TStepSender& send) : display_(display), send_(send) {
    outcome.address = display.GetAddress();
  }

  // A write's `holds` settles a lost answer by reading the value back.
  bool Step(TStep step, const std::function<bool()>& request, const THolds& holds = {}) {
    if (!outcome.Ok()) return false;
    outcome = send_(step, request);
    if (holds) outcome = SettleLostWrite(outcome, holds);
    return outcome.Ok();
  }

  // A value that breaks a rule, when every answer came: named as an invalid answer of `step`.
  void Check(TStep step, const std::optional<TInvalidValue>& invalid) {
    if (outcome.Ok() && invalid) outcome = InvalidAnswer(step, display_.GetAddress(), *invalid);
  }

  TOutcome outcome;

 private:
  IZorvid& display_;
  const TStepSender& send_;
};

TStep ParamsStepOf(const TInvalidValue& invalid) {
  return invalid.field == TSettingField::kDataExpiration ? TStep::kReadExpiration
                                                         : TStep::kReadParams;
}

TStep BrightnessStepOf(const TInvalidValue& invalid) {
  return invalid.field == TSettingField::kStaticBrightness ? TStep::kReadBrightness
                                                           : TStep::kReadBrightnessAuto;
}

}  // namespace

THolds HoldsParams(IZorvid& display, const TStepSender& send, const TDateTimeParams& sent) {
  return ReadsBack<TDateTimeParams>(
      send, TStep::kReadParams,
      [&display](TDateTimeParams& held) { return display.GetDateTimeParams(held); }, sent);
}

THolds HoldsExpiration(IZorvid& display, const TStepSender& send, std::int32_t sent) {
  return ReadsBack<std::int32_t>(
      send, TStep::kReadExpiration,
      [&display](std::int32_t& held) {
        TDataExpiration expiration;
        const bool read = display.GetDisplayDataExpiration(expiration);
        held = expiration.seconds;
        return read;
      },
      sent);
}

THolds HoldsBrightness(IZorvid& display, const TStepSender& send, std::int32_t sent) {
  return ReadsBack<std::int32_t>(
      send, TStep::kReadBrightness,
      [&display](std::int32_t& held) { return display.GetDisplayBrightness(held); }, sent);
}

THolds HoldsBrightnessAuto(IZorvid& display, const TStepSender& send, const TBrightnessAuto& sent) {
  return ReadsBack<TBrightnessAuto>(
      send, TStep::kReadBrightnessAuto,
      [&display](TBrightnessAuto& held) { return display.GetDisplayBrightnessAuto(held); }, sent);
}

std::optional<TInvalidValue> TDateTimeParamsRead::Invalid() const {
  if (!ok) return std::nullopt;
  if (auto invalid = CheckDateTimeParams(params)) return invalid;
  return CheckDataExpiration(expiration.seconds);
}

std::optional<TInvalidValue> TBrightnessRead::Invalid() const {
  std::optional<TInvalidValue> invalid = staticRead ? CheckBrightness(value) : std::nullopt;
  if (!invalid && automaticRead) invalid = CheckBrightnessAuto(automatic);
  return invalid;
}

std::optional<TInvalidValue> TClockRead::Invalid() const {
  return ok ? CheckClock(value) : std::nullopt;
}

TDateTimeParamsRead ReadDateTimeParams(IZorvid& display, const TStepSender& send) {
  TDateTimeParamsRead read;
  TProcedure procedure(display, send);
  read.ok =
      procedure.Step(TStep::kReadParams, [&] { return display.GetDateTimeParams(read.params); }) &&
      procedure.Step(TStep::kReadExpiration,
                     [&] { return display.GetDisplayDataExpiration(read.expiration); });
  if (const auto invalid = read.Invalid()) procedure.Check(ParamsStepOf(*invalid), invalid);
  read.outcome = procedure.outcome;
  return read;
}

TDateTimeParamsRead ReadDateTimeParams(IZorvid& display) {
  return ReadDateTimeParams(display, SenderFor(display, 1));
}

// What came is kept even when the other read failed.
TBrightnessRead ReadBrightness(IZorvid& display, bool automaticOffered, const TStepSender& send) {
  TBrightnessRead read;
  read.offered = automaticOffered;
  TProcedure procedure(display, send);
  read.staticRead = procedure.Step(TStep::kReadBrightness,
                                   [&] { return display.GetDisplayBrightness(read.value); });
  read.automaticRead = automaticOffered && procedure.Step(TStep::kReadBrightnessAuto, [&] {
    return display.GetDisplayBrightnessAuto(read.automatic);
  });
  if (const auto invalid = read.Invalid()) procedure.Check(BrightnessStepOf(*invalid), invalid);
  read.outcome = procedure.outcome;
  return read;
}

TBrightnessRead ReadBrightness(IZorvid& display, bool automaticOffered) {
  return ReadBrightness(display, automaticOffered, SenderFor(display, 1));
}

TClockRead ReadClock(IZorvid& display) {
  TClockRead read;
  const TStepSender send = SenderFor(display, 1);
  TProcedure procedure(display, send);
  read.ok = procedure.Step(TStep::kReadClock, [&] { return display.GetDateTime(read.value); });
  procedure.Check(TStep::kReadClock, read.Invalid());
  read.outcome = procedure.outcome;
  return read;
}

namespace {

// A clock runs on: it holds what was sent when it reads back within the tolerance of it.
bool SameClock(TDateTime held, TDateTime sent) {
  constexpr double kSecondsPerDay = 86400;
  return std::abs(held - sent) * kSecondsPerDay <= kClockToleranceSeconds;
}

}  // namespace

bool TClockSave::Holds() const {
  return readBack.ok && SameClock(readBack.value, sent);
}

THolds HoldsClock(IZorvid& display, const TStepSender& send, TDateTime sent) {
  return ReadsBack<TDateTime>(
      send, TStep::kReadClock, [&display](TDateTime& held) { return display.GetDateTime(held); },
      sent, [](const TDateTime& held, const TDateTime& wanted) { return SameClock(held, wanted); });
}

TClockSave SaveClock(IZorvid& display, TDateTime value) {
  TClockSave save;
  save.sent = value;
  const TStepSender send = SenderFor(display, 1);
  save.outcome =
      SettleLostWrite(send(TStep::kWriteClock, [&] { return display.SetDateTime(value); }),
                      HoldsClock(display, send, value));
  save.written = save.outcome.Ok();
  if (!save.written) return save;
  save.readBack = ReadClock(display);
  save.outcome = save.readBack.outcome;
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
  const TStepSender send = SenderFor(display, 1);
  TProcedure procedure(display, send);
  save.paramsWritten = procedure.Step(
      TStep::kWriteParams, [&] { return display.SetDateTimeParams(params); },
      HoldsParams(display, send, params));
  save.expirationWritten =
      save.paramsWritten && procedure.Step(
                                TStep::kWriteExpiration,
                                [&] { return display.SetDisplayDataExpiration(expirationSeconds); },
                                HoldsExpiration(display, send, expirationSeconds));
  save.outcome = procedure.outcome;
  if (!save.expirationWritten) return save;
  save.readBack = ReadDateTimeParams(display);
  save.outcome = save.readBack.outcome;
  return save;
}

TBrightnessSave SaveBrightness(IZorvid& display, std::int32_t value,
                               const std::optional<TBrightnessAuto>& automatic) {
  TBrightnessSave save;
  const TStepSender send = SenderFor(display, 1);
  TProcedure procedure(display, send);
  save.staticWritten = procedure.Step(
      TStep::kWriteBrightness, [&] { return display.SetDisplayBrightness(value); },
      HoldsBrightness(display, send, value));
  save.automaticWritten =
      save.staticWritten &&
      (!automatic || procedure.Step(
                         TStep::kWriteBrightnessAuto,
                         [&] { return display.SetDisplayBrightnessAuto(*automatic); },
                         HoldsBrightnessAuto(display, send, *automatic)));
  save.outcome = procedure.outcome;
  if (!save.automaticWritten) return save;
  save.readBack = ReadBrightness(display, automatic.has_value());
  save.outcome = save.readBack.outcome;
  return save;
}

}  // namespace zorvid
