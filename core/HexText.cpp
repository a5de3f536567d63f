#include "core/HexText.h"

#include "core/Types.h"

namespace zorvid {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

std::string FormatHex(std::string_view bytes, bool spaced) {
  std::string text;
  text.reserve(bytes.size() * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (spaced && i > 0) text += ' ';
    const TByte byte = ByteAt(bytes, i);
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 0x0F];
  }
  return text;
}

std::optional<int> HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return std::nullopt;
}

}  // namespace

std::string FormatHexSpaced(std::string_view bytes) {
  return FormatHex(bytes, true);
}

std::string FormatHexPacked(std::string_view bytes) {
  return FormatHex(bytes, false);
}

std::optional<std::string> ParseHex(std::string_view text) {
  std::string bytes;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return std::nullopt;
    const auto high = HexDigitValue(text[i]);
    const auto low = HexDigitValue(text[i + 1]);
    if (!high || !low) return std::nullopt;
    bytes += static_cast<char>(*high * 16 + *low);
    i += 2;
  }
  return bytes;
}

}  // namespace zorvid
