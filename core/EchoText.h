#pragma once

// Text that came from outside (a user's argument, a display's answer) as messages and outputs
// show it: never a raw control character, which a terminal would act on, and never so long
// that a message turns into a wall of text.

#include <cstddef>
#include <string>
#include <string_view>

namespace zorvid {

// Bytes as UTF-8 text: each byte that is not part of a well-formed UTF-8 sequence (a Latin-1
// byte, a cut or overlong sequence, a surrogate) becomes "\xNN"; everything else stays.
std::string Utf8Text(std::string_view bytes);

// Utf8Text, and control characters (C0, DEL and the C1 characters U+0080..U+009F) and the
// backslash also as "\xNN" byte by byte: nothing a terminal acts on gets through, and every
// "\x" is an escape.
std::string EscapeControls(std::string_view text);

// At most kEchoedCharacters characters of `text` (UTF-8 sequences are not split), then "…" if
// anything was cut; its control characters escaped.
inline constexpr std::size_t kEchoedCharacters = 64;
std::string EchoedText(std::string_view text);

// `text` as it is, in double quotes.
std::string InQuotes(std::string_view text);
// EchoedText in double quotes: how a message quotes what it refuses.
std::string Quoted(std::string_view text);

}  // namespace zorvid
