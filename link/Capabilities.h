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
// parameters) can be changed only on a display with a clock; a display without one still
// holds them, and they are written back as read.
bool OffersClockSettings(const TDisplayCapabilities& capabilities);
// The automatic brightness can be chosen, loaded and saved only on the variant that has it.
bool OffersAutomaticBrightness(const TDisplayCapabilities& capabilities);

// The automatic brightness shown for a display without it: off, at the widest range, no gain.
inline constexpr TBrightnessAuto kNoAutomaticBrightness{};

}  // namespace zorvid
