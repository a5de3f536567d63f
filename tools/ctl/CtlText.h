#pragma once

// Conversions between the command line's and the output's text and the display's values.

#include <optional>
#include <string>
#include <string_view>

#include "core/DateTime.h"
#include "core/HexText.h"
#include "core/Types.h"

namespace zorvid::ctl {

// "YYYY-MM-DD HH:MM:SS" with exactly these digits, forming a valid date and time.
std::optional<TDateTime> ParseClock(std::string_view text);
std::string FormatClock(TDateTime value);

// One decimal place with a dot, whatever the locale ("23.5").
std::string FormatTenths(double value);

}  // namespace zorvid::ctl
