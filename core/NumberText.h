#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zorvid {

// A whole text as an integer: decimal with a "-" for a value below zero ("-0" is refused), or
// hexadecimal after "0x" / "0X" (no sign there). None when any character is left over or the value
// does not fit 64 bits. The number syntax of the command-line tools.
std::optional<std::int64_t> ParseInteger(std::string_view text);

}  // namespace zorvid
