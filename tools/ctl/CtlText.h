#pragma once

// Conversions between the command line's and the output's text and the display's values.

#include <optional>
#include <string>
#include <string_view>

#include "core/DateTime.h"
#include "core/HexText.h"
#include "core/Types.h"

namespace zorvid::ctl {

// Pairs of hex digits in either case; blanks may separate the pairs but not split one.
std::optional<TByteString> ParseHex(std::string_view text);

// "YYYY-MM-DD HH:MM:SS" with exactly these digits, forming a valid date and time.
std::optional<TDateTime> ParseClock(std::string_view text);
std::string FormatClock(TDateTime value);

// One decimal place with a dot, whatever the locale ("23.5").
std::string FormatTenths(double value);

// Bytes as UTF-8 text: each byte that is not part of a well-formed UTF-8 sequence becomes
// "\xNN"; everything else stays.
std::string Utf8Text(std::string_view bytes);

// Text a display sent, as both output forms give it: Utf8Text, and control characters (C0, DEL
// and the C1 characters U+0080..U+009F) and backslashes also as "\xNN" byte by byte, so that
// nothing a terminal acts on reaches it and every "\x" is an escape.
std::string PrintableText(std::string_view bytes);

}  // namespace zorvid::ctl
