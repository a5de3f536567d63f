#include "core/EchoText.h"

#include "core/HexText.h"

namespace zorvid {
namespace {

bool IsControl(unsigned char byte) {
  return byte < 0x20 || byte == 0x7F;
}

// A byte that continues a UTF-8 sequence rather than starting a character.
bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// Where the first `count` characters of `text` end.
std::size_t EndOfCharacters(std::string_view text, std::size_t count) {
  std::size_t at = 0;
  for (std::size_t started = 0; at < text.size(); ++at) {
    if (IsContinuation(static_cast<unsigned char>(text[at]))) continue;
    if (started++ == count) break;
  }
  return at;
}

}  // namespace

std::string EscapeControls(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsControl(byte) || c == '\\')
      escaped += "\\x" + FormatHexPacked(std::string_view(&c, 1));
    else
      escaped += c;
  }
  return escaped;
}

std::string EchoedText(std::string_view text) {
  const std::size_t end = EndOfCharacters(text, kEchoedCharacters);
  std::string echoed = EscapeControls(text.substr(0, end));
  if (end < text.size()) echoed += "…";
  return echoed;
}

std::string Quoted(std::string_view text) {
  return "\"" + EchoedText(text) + "\"";
}

}  // namespace zorvid
