#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zorvid {

// Upper-case hex pairs separated by one space ("03 3F 06"): how logs and tools show bytes.
std::string FormatHexSpaced(std::string_view bytes);
// Upper-case hex pairs without separators ("033F06").
std::string FormatHexPacked(std::string_view bytes);
// Pairs of hex digits in either case; blanks may separate the pairs but not split one.
std::optional<std::string> ParseHex(std::string_view text);

}  // namespace zorvid
