#pragma once

// Reading zorvidctl's arguments, for the options and the commands alike: each reader returns
// the value or raises TUsageError with a message naming what was wrong and with which value.

#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/Types.h"
#include "link/DisplayConnection.h"

class QCommandLineParser;

namespace zorvid::ctl {

// Raises TUsageError: the run stops before anything is sent.
[[noreturn]] void Refuse(const std::string& message);

// "(MIN..MAX)", as the refusals give a range.
std::string RangeText(std::int64_t min, std::int64_t max);

// The arguments are UTF-8; Qt's texts are QStrings.
QString FromUtf8(std::string_view text);

// A whole number in the tools' syntax that fits 32 bits, or a refusal naming `what` and the
// text. A wider value is refused rather than narrowed, which could wrap it into range.
std::int32_t Number(std::string_view what, std::string_view text);
std::int32_t NumberInRange(std::string_view what, std::string_view text, std::int64_t min,
                           std::int64_t max);
// An address to reach a display at, or (`highest` kHighestOwnAddress) one a display can have.
TByte Address(std::string_view text, TByte highest = kHighestDisplayAddress);
// A speed the display can be set to: one of its baud table.
std::int32_t DisplayBaud(std::string_view text);
// One of the identifiers' 16-bit words: 0..0xFFFF.
std::uint16_t Word(std::string_view what, std::string_view text);
// "on" or "off".
bool OnOff(std::string_view what, std::string_view text);

// Why the parser refused the options. Unknown names came from the user and are echoed as any
// argument is; the parser's other errors name one of the table's options.
std::string ParserError(const QCommandLineParser& parser);

template <std::size_t N>
std::string JoinedNumbers(const std::array<std::int32_t, N>& numbers, const char* separator) {
  std::string text;
  for (const std::int32_t number : numbers)
    text += (text.empty() ? "" : separator) + std::to_string(number);
  return text;
}

}  // namespace zorvid::ctl
