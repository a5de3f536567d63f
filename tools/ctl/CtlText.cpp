#include "tools/ctl/CtlText.h"

#include <array>
#include <charconv>
#include <cstdio>

namespace zorvid::ctl {
namespace {

// A fixed-width run of decimal digits at `position`.
std::optional<int> DigitsAt(std::string_view text, std::size_t position, std::size_t width) {
  int value = 0;
  for (std::size_t i = position; i < position + width; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

std::optional<TDateTime> ParseClock(std::string_view text) {
  // Positions of the separators in "YYYY-MM-DD HH:MM:SS".
  constexpr std::string_view kPattern = "0000-00-00 00:00:00";
  if (text.size() != kPattern.size()) return std::nullopt;
  for (std::size_t i = 0; i < kPattern.size(); ++i) {
    if (kPattern[i] != '0' && text[i] != kPattern[i]) return std::nullopt;
  }
  const auto year = DigitsAt(text, 0, 4), month = DigitsAt(text, 5, 2), day = DigitsAt(text, 8, 2);
  const auto hour = DigitsAt(text, 11, 2), minute = DigitsAt(text, 14, 2);
  const auto second = DigitsAt(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  return EncodeDateTime({*year, *month, *day, *hour, *minute, *second, 0});
}

std::string FormatClock(TDateTime value) {
  const TDateTimeParts parts = DecodeDateTime(value);
  std::array<char, 80> text{};
  std::snprintf(text.data(), text.size(), "%04d-%02d-%02d %02d:%02d:%02d", parts.year, parts.month,
                parts.day, parts.hour, parts.minute, parts.second);
  return text.data();
}

std::string FormatTenths(double value) {
  std::array<char, 64> text{};
  const auto result =
      std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, 1);
  return std::string(text.data(), result.ptr);
}

std::string JsonString(std::string_view bytes) {
  std::string json = "\"";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const TByte byte = ByteAt(bytes, i);
    if (byte == '"' || byte == '\\') {
      json += '\\';
      json += static_cast<char>(byte);
    } else if (byte < 0x20 || byte >= 0x7F) {
      json += "\\u00" + FormatHexPacked(bytes.substr(i, 1));
    } else {
      json += static_cast<char>(byte);
    }
  }
  return json + "\"";
}

}  // namespace zorvid::ctl
