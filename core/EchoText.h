#pragma once

// Text that came from outside (a user's argument, a display's answer) as messages and outputs
// show it: never a raw control character, which a terminal would act on, and never so long
// that a message turns into a wall of text.

#include <cstddef>
#include <string>
#include <string_view>

namespace zorvid {

// Control characters (0x00..0x1F, 0x7F) and a backslash become "\xNN"; all other bytes, UTF-8
// sequences included, stay as they are.
std::string EscapeControls(std::string_view text);

// At most kEchoedCharacters characters of `text` (UTF-8 sequences are not split), then "…" if
// anything was cut; its control characters escaped.
inline constexpr std::size_t kEchoedCharacters = 64;
std::string EchoedText(std::string_view text);

// EchoedText in double quotes: how a message quotes what it refuses.
std::string Quoted(std::string_view text);

}  // namespace zorvid
