#include "tools/ctl/CtlArguments.h"

#include <QCommandLineParser>
#include <QStringList>
#include <algorithm>
#include <limits>
#include <optional>

#include "core/EchoText.h"
#include "core/NumberText.h"
#include "protocol/KorvelInterfaces.h"
#include "protocol/KorvelStackDevice.h"
#include "tools/ctl/CtlCommands.h"

namespace zorvid::ctl {
namespace {

bool FitsInt32(std::int64_t value) {
  return value >= std::numeric_limits<std::int32_t>::min() &&
         value <= std::numeric_limits<std::int32_t>::max();
}

// An option as it is written: one dash before a one-letter name, two before a longer one.
QString OptionForm(const QString& name) {
  return (name.size() == 1 ? "-" : "--") + name;
}

}  // namespace

[[noreturn]] void Refuse(const std::string& message) {
  throw TUsageError(message);
}

std::string RangeText(std::int64_t min, std::int64_t max) {
  return "(" + std::to_string(min) + ".." + std::to_string(max) + ")";
}

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::int32_t Number(std::string_view what, std::string_view text) {
  const std::optional<std::int64_t> value = ParseInteger(text);
  if (!value || !FitsInt32(*value)) Refuse("invalid " + std::string(what) + ": " + Quoted(text));
  return static_cast<std::int32_t>(*value);
}

std::int32_t NumberInRange(std::string_view what, std::string_view text, std::int64_t min,
                           std::int64_t max) {
  const std::int32_t value = Number(what, text);
  if (value < min || value > max)
    Refuse(std::string(what) + " out of range " + RangeText(min, max) + ": " + EchoedText(text));
  return value;
}

TByte Address(std::string_view text, TByte highest) {
  const TParsedAddress parsed = ParseDisplayAddress(text, highest);
  switch (parsed.fault) {
    case TAddressFault::kNone:
      return parsed.address;
    case TAddressFault::kNotANumber:
      Refuse("invalid address: " + Quoted(text));
    case TAddressFault::kRefused:
      Refuse("address out of range " + RangeText(0, highest) + ": " + AddressText(kRefusedAddress) +
             " is refused by every receiver");
    case TAddressFault::kOutOfRange:
      break;
  }
  Refuse("address out of range " + RangeText(0, highest) + ": " + EchoedText(text));
}

std::int32_t DisplayBaud(std::string_view text) {
  const std::int32_t baud = Number("baud", text);
  if (std::find(kBaudTable.begin(), kBaudTable.end(), baud) == kBaudTable.end())
    Refuse("baud is none of the display's speeds (" + JoinedNumbers(kBaudTable, ", ") +
           "): " + EchoedText(text));
  return baud;
}

std::uint16_t Word(std::string_view what, std::string_view text) {
  return static_cast<std::uint16_t>(NumberInRange(what, text, 0, 0xFFFF));
}

bool OnOff(std::string_view what, std::string_view text) {
  if (text != "on" && text != "off")
    Refuse(std::string(what) + " must be on or off: " + Quoted(text));
  return text == "on";
}

std::string ParserError(const QCommandLineParser& parser) {
  const QStringList unknown = parser.unknownOptionNames();
  if (unknown.isEmpty()) return EscapeControls(parser.errorText().toStdString());
  QStringList quoted;
  for (const QString& name : unknown)
    quoted << FromUtf8(Quoted(OptionForm(name).toStdString()));
  return (unknown.size() == 1 ? "unknown option: " : "unknown options: ") +
         quoted.join(", ").toStdString();
}

}  // namespace zorvid::ctl
