#pragma once

// Case-insensitive ASCII keys: connection strings, providers and line settings compare their
// names without regard to case, whatever the user's locale.

#include <string>
#include <string_view>

namespace zorvid {

// `text` with the ASCII letters a..z in upper case; every other byte as it is.
std::string AsciiUpper(std::string_view text);

}  // namespace zorvid
