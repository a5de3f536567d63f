#include "tools/ctl/CtlText.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>
#include <array>
#include <charconv>

#include "core/EchoText.h"

namespace zorvid::ctl {
namespace {

constexpr auto kDateFormat = QLatin1StringView("yyyy-MM-dd");
constexpr auto kTimeFormat = QLatin1StringView("HH:mm:ss");

std::optional<int> HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return std::nullopt;
}

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

}  // namespace

std::optional<TByteString> ParseHex(std::string_view text) {
  TByteString bytes;
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

std::optional<TDateTime> ParseClock(std::string_view text) {
  // Date and time apart: the display's clock has no time zone, so a local daylight-saving gap
  // must not make a time invalid.
  const QStringList parts =
      QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).split(QLatin1Char(' '));
  if (parts.size() != 2) return std::nullopt;
  const QDate date = QDate::fromString(parts[0], kDateFormat);
  const QTime time = QTime::fromString(parts[1], kTimeFormat);
  if (!date.isValid() || !time.isValid()) return std::nullopt;
  return EncodeDateTime(
      {date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second(), 0});
}

std::string FormatClock(TDateTime value) {
  const TDateTimeParts parts = DecodeDateTime(value);
  const QDate date(parts.year, parts.month, parts.day);
  const QTime time(parts.hour, parts.minute, parts.second);
  return (date.toString(kDateFormat) + QLatin1Char(' ') + time.toString(kTimeFormat)).toStdString();
}

std::string FormatTenths(double value) {
  std::array<char, 64> text{};
  const auto result =
      std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, 1);
  return std::string(text.data(), result.ptr);
}

std::string Utf8Text(std::string_view bytes) {
  return Utf8Escaped(bytes, [](std::string_view character) { return std::string(character); });
}

std::string PrintableText(std::string_view bytes) {
  return Utf8Escaped(bytes, [](std::string_view character) {
    return IsC1Control(character) ? EscapedBytes(character) : EscapeControls(character);
  });
}

}  // namespace zorvid::ctl
