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

}  // namespace

std::string FormatHexSpaced(std::string_view bytes) {
  return FormatHex(bytes, true);
}

std::string FormatHexPacked(std::string_view bytes) {
  return FormatHex(bytes, false);
}

}  // namespace zorvid
