#pragma once

// The display's settings read and written group by group, as the window's pages hold them and
// in their order: the date-time parameters with the data expiry, the brightness with the
// automatic brightness, the clock. Each read says what it got and how it ended, its answers
// checked against the rule book; each save says which of its steps were written and what the
// display holds afterwards. They run on whatever thread owns the display's line. Requests go
// out through a TStepSender, so that zorvidctl may repeat one the retry rule allows.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/DateTime.h"
#include "device/Zorvid.h"
#include "device/ZorvidRules.h"
#include "link/Capabilities.h"
#include "link/Outcome.h"

namespace zorvid {

// A key whose value differs, both values as the settings file writes them.
struct TSettingChange {
  std::string key;
  std::string wanted;  // from the file, or what was sent
  std::string held;    // on the display, or what was read back
  bool operator==(const TSettingChange&) const = default;
};

// `outcome` is done, or the first request that failed, or (with every answer in) the first
// value that breaks a rule: such values are still kept, so that a program can show them and
// let the user mend them.
struct TDateTimeParamsRead {
  bool ok = false;  // both answers came
  TDateTimeParams params;
  TDataExpiration expiration;
  TOutcome outcome;
  std::optional<TInvalidValue> Invalid() const;
};

struct TBrightnessRead {
  bool offered = false;  // the display has automatic brightness
  bool staticRead = false;
  std::int32_t value = 0;
  bool automaticRead = false;
  TBrightnessAuto automatic = kNoAutomaticBrightness;
  TOutcome outcome;
  bool ok() const { return staticRead && (automaticRead || !offered); }
  std::optional<TInvalidValue> Invalid() const;
};

struct TClockRead {
  bool ok = false;
  TDateTime value = 0;
  TOutcome outcome;
  std::optional<TInvalidValue> Invalid() const;
};

// Whether the display holds what a write of one value sent, read back through `send`: what
// settles a write whose answer was lost (SettleLostWrite).
THolds HoldsParams(IZorvid& display, const TStepSender& send, const TDateTimeParams& sent);
THolds HoldsExpiration(IZorvid& display, const TStepSender& send, std::int32_t sent);
THolds HoldsBrightness(IZorvid& display, const TStepSender& send, std::int32_t sent);
THolds HoldsBrightnessAuto(IZorvid& display, const TStepSender& send, const TBrightnessAuto& sent);
// Within kClockToleranceSeconds: a clock runs on.
THolds HoldsClock(IZorvid& display, const TStepSender& send, TDateTime sent);

// The two reads go out as the window's load always sent them: the expiry only after the
// parameters came, the automatic brightness only where it is offered.
TDateTimeParamsRead ReadDateTimeParams(IZorvid& display, const TStepSender& send);
TDateTimeParamsRead ReadDateTimeParams(IZorvid& display);
TBrightnessRead ReadBrightness(IZorvid& display, bool automaticOffered, const TStepSender& send);
TBrightnessRead ReadBrightness(IZorvid& display, bool automaticOffered);
TClockRead ReadClock(IZorvid& display);

// The clock written, then read back; a clock runs on, so it holds what was sent when it reads
// back within kClockTolerance of it.
struct TClockSave {
  TDateTime sent = 0;
  bool written = false;
  TOutcome outcome;     // of the write, then of the read back
  TClockRead readBack;  // after it was written
  bool Holds() const;
};
inline constexpr double kClockToleranceSeconds = 2;
TClockSave SaveClock(IZorvid& display, TDateTime value);

// Every group a display has, in the pages' order; the clock only where there is one.
struct TSettingsReads {
  TDateTimeParamsRead params;
  TBrightnessRead brightness;
  std::optional<TClockRead> clock;
};
TSettingsReads ReadSettings(IZorvid& display, const TDisplayCapabilities& capabilities);

// A save of two steps, the second sent only after the first was written, then read back.
// `outcome` is that of the first write that failed, else that of the read back.
struct TDateTimeParamsSave {
  bool paramsWritten = false;
  bool expirationWritten = false;
  TOutcome outcome;
  TDateTimeParamsRead readBack;  // after both were written
  // The keys read back other than sent, sent and read (settings file keys).
  std::vector<TSettingChange> readBackChanges;
};
TDateTimeParamsSave SaveDateTimeParams(IZorvid& display, const TDateTimeParams& params,
                                       std::int32_t expirationSeconds);

struct TBrightnessSave {
  bool staticWritten = false;
  bool automaticWritten = false;  // also when the display has none to write
  TOutcome outcome;
  TBrightnessRead readBack;  // after both were written
  std::vector<TSettingChange> readBackChanges;
};
// `automatic` only for a display that offers it.
TBrightnessSave SaveBrightness(IZorvid& display, std::int32_t value,
                               const std::optional<TBrightnessAuto>& automatic);

}  // namespace zorvid
