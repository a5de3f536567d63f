#pragma once

// Conversions between the command line's and the output's text and the display's values.

#include <cstdint>
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

// A JSON string literal of arbitrary bytes: quotes, backslashes and control characters are
// escaped, and bytes above 0x7F are taken as Latin-1 characters, so the result is plain ASCII.
std::string JsonString(std::string_view bytes);

// Words joined with a separator.
std::string JoinWords(const auto& words, std::string_view separator = " ") {
  std::string joined;
  bool first = true;
  for (const auto& word : words) {
    if (!first) joined += separator;
    joined += word;
    first = false;
  }
  return joined;
}

}  // namespace zorvid::ctl
