#pragma once

// What a display can do, read from its identification, and what that means for its settings:
// plain rules that the window and the tools apply alike.

#include <string_view>

#include "device/ZorvidCodec.h"

namespace zorvid {

struct TDisplayCapabilities {
  bool hasClock = false;             // "rtc" in the identification: a real-time clock
  bool automaticBrightness = false;  // "ZorvidL": the variant with automatic brightness
  bool operator==(const TDisplayCapabilities&) const = default;
};

// Both searches are case-sensitive, anywhere in the text.
TDisplayCapabilities CapabilitiesOf(std::string_view identification);

// The clock's settings (the clock group, and the clock's own fields among the date-time
// parameters) exist only on a display with a clock.
bool OffersClockSettings(const TDisplayCapabilities& capabilities);
// The automatic brightness can be chosen, loaded and saved only on the variant that has it.
bool OffersAutomaticBrightness(const TDisplayCapabilities& capabilities);

// The date-time parameters as a display without a clock shows them: its clock's fields
// (automatic time change, summer time, both formats, showing time and date, offset, zone)
// cleared, the rest as read. Unchanged on a display with a clock.
TDateTimeParams ShownDateTimeParams(const TDateTimeParams& params,
                                    const TDisplayCapabilities& capabilities);

// The automatic brightness shown for a display without it: off, at the widest range, no gain.
inline constexpr TBrightnessAuto kNoAutomaticBrightness{};

}  // namespace zorvid
