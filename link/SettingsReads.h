#pragma once

// The display's settings read and written group by group, as the window's pages hold them and
// in their order: the date-time parameters with the data expiry, the brightness with the
// automatic brightness, the clock. Each read says whether it got its answers and checks them;
// each save says which of its steps were written and what the display holds afterwards. They
// run on whatever thread owns the display's line.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/DateTime.h"
#include "device/Zorvid.h"
#include "link/AnswerCheck.h"
#include "link/Capabilities.h"

namespace zorvid {

// Sends one request of a procedure, named for messages ("read brightness"); true when it
// succeeded. SendOnce sends it once; zorvidctl tries again one that got no answer.
using TRequestSender =
    std::function<bool(std::string_view step, const std::function<bool()>& request)>;
bool SendOnce(std::string_view step, const std::function<bool()>& request);

struct TDateTimeParamsRead {
  bool ok = false;  // both answers came
  TDateTimeParams params;
  TDataExpiration expiration;
  // The first value no setter would accept, when both came.
  std::optional<TInvalidAnswer> Invalid() const;
};

struct TBrightnessRead {
  bool offered = false;  // the display has automatic brightness
  bool staticRead = false;
  std::int32_t value = 0;
  bool automaticRead = false;
  TBrightnessAuto automatic = kNoAutomaticBrightness;
  bool ok() const { return staticRead && (automaticRead || !offered); }
  // The first value no setter would accept among those that came.
  std::optional<TInvalidAnswer> Invalid() const;
};

struct TClockRead {
  bool ok = false;
  TDateTime value = 0;
  std::optional<TInvalidAnswer> Invalid() const;
};

// The two reads go out as the window's load always sent them: the expiry only after the
// parameters came, the automatic brightness only where it is offered.
TDateTimeParamsRead ReadDateTimeParams(IZorvid& display, const TRequestSender& send = SendOnce);
TBrightnessRead ReadBrightness(IZorvid& display, bool automaticOffered,
                               const TRequestSender& send = SendOnce);
TClockRead ReadClock(IZorvid& display);

// The clock written, then read back; a clock runs on, so it holds what was sent when it reads
// back within kClockTolerance of it.
struct TClockSave {
  TDateTime sent = 0;
  bool written = false;
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
struct TDateTimeParamsSave {
  bool paramsWritten = false;
  bool expirationWritten = false;
  TDateTimeParamsRead readBack;  // after both were written
};
TDateTimeParamsSave SaveDateTimeParams(IZorvid& display, const TDateTimeParams& params,
                                       std::int32_t expirationSeconds);

struct TBrightnessSave {
  bool staticWritten = false;
  bool automaticWritten = false;  // also when the display has none to write
  TBrightnessRead readBack;       // after both were written
};
// `automatic` only for a display that offers it.
TBrightnessSave SaveBrightness(IZorvid& display, std::int32_t value,
                               const std::optional<TBrightnessAuto>& automatic);

}  // namespace zorvid
