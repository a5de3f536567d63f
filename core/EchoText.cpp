#include "core/EchoText.h"

#include <array>

#include "core/HexText.h"
#include "core/Types.h"

namespace zorvid {
namespace {

// The lead bytes of well-formed UTF-8 and the range of the byte after each; that range shuts
// out overlong forms, surrogates and values past U+10FFFF.
struct TUtf8Lead {
  TByte first, last;
  std::size_t length;
  TByte secondMin, secondMax;
};
constexpr std::array<TUtf8Lead, 8> kUtf8Leads{{
    {0xC2, 0xDF, 2, 0x80, 0xBF},
    {0xE0, 0xE0, 3, 0xA0, 0xBF},
    {0xE1, 0xEC, 3, 0x80, 0xBF},
    {0xED, 0xED, 3, 0x80, 0x9F},
    {0xEE, 0xEF, 3, 0x80, 0xBF},
    {0xF0, 0xF0, 4, 0x90, 0xBF},
    {0xF1, 0xF3, 4, 0x80, 0xBF},
    {0xF4, 0xF4, 4, 0x80, 0x8F},
}};

bool IsContinuation(TByte byte) {
  return (byte & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence that starts at `at`, or 0.
std::size_t Utf8LengthAt(std::string_view text, std::size_t at) {
  const TByte lead = ByteAt(text, at);
  if (lead < 0x80) return 1;
  for (const TUtf8Lead& form : kUtf8Leads) {
    if (lead < form.first || lead > form.last) continue;
    if (at + form.length > text.size()) return 0;
    const TByte second = ByteAt(text, at + 1);
    if (second < form.secondMin || second > form.secondMax) return 0;
    for (std::size_t i = at + 2; i < at + form.length; ++i)
      if (!IsContinuation(ByteAt(text, i))) return 0;
    return form.length;
  }
  return 0;
}

// A C1 control character: U+0080..U+009F, which UTF-8 writes C2 80..C2 9F.
bool IsC1Control(std::string_view character) {
  return character.size() == 2 && ByteAt(character, 0) == 0xC2 && ByteAt(character, 1) <= 0x9F;
}

std::string EscapedBytes(std::string_view bytes) {
  std::string escaped;
  for (std::size_t i = 0; i < bytes.size(); ++i)
    escaped += "\\x" + FormatHexPacked(bytes.substr(i, 1));
  return escaped;
}

// The text character by character: each well-formed one through `keep`, every other byte
// escaped on its own.
template <class TKeep>
std::string Utf8Escaped(std::string_view bytes, TKeep keep) {
  std::string text;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = Utf8LengthAt(bytes, at);
    text += length == 0 ? EscapedBytes(bytes.substr(at, 1)) : keep(bytes.substr(at, length));
    at += length == 0 ? 1 : length;
  }
  return text;
}

bool IsControl(TByte byte) {
  return byte < 0x20 || byte == 0x7F;
}

// Where the first `count` characters of `text` end.
std::size_t EndOfCharacters(std::string_view text, std::size_t count) {
  std::size_t at = 0;
  for (std::size_t started = 0; at < text.size(); ++at) {
    if (IsContinuation(ByteAt(text, at))) continue;
    if (started++ == count) break;
  }
  return at;
}

}  // namespace

std::string Utf8Text(std::string_view bytes) {
  return Utf8Escaped(bytes, [](std::string_view character) { return std::string(character); });
}

std::string EscapeControls(std::string_view text) {
  return Utf8Escaped(text, [](std::string_view character) {
    const bool control = character.size() == 1
                             ? IsControl(ByteAt(character, 0)) || character == "\\"
                             : IsC1Control(character);
    return control ? EscapedBytes(character) : std::string(character);
  });
}

std::string EchoedText(std::string_view text) {
  const std::size_t end = EndOfCharacters(text, kEchoedCharacters);
  std::string echoed = EscapeControls(text.substr(0, end));
  if (end < text.size()) echoed += "…";
  return echoed;
}

std::string InQuotes(std::string_view text) {
  // Appended rather than added to a literal, which g++ 12 at -O3 takes for an overlap.
  std::string quoted(1, '"');
  return quoted.append(text).append(1, '"');
}

std::string Quoted(std::string_view text) {
  return InQuotes(EchoedText(text));
}

}  // namespace zorvid
