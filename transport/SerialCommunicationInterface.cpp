#include "transport/SerialCommunicationInterface.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <string_view>
#include <utility>

#include "core/AsciiText.h"

namespace zorvid {
namespace {

// Ten bit times per character: start bit, eight data bits, stop bit.
constexpr double kBitsPerCharacter = 10.0;

constexpr std::array<const char*, 3> kStopBitsNames{"One", "OneAndHalf", "Two"};
constexpr std::array<const char*, 5> kParityNames{"None", "Odd", "Even", "Mark", "Space"};

template <std::size_t N>
std::string NameOrNumber(const std::array<const char*, N>& names, std::uint8_t value) {
  return value < names.size() ? names[value] : std::to_string(value);
}

template <class TEnum>
std::uint8_t Number(TEnum value) {
  return static_cast<std::uint8_t>(value);
}

// The spellings a connection string may use for each stop-bits setting.
std::optional<TStopBits> ParseStopBits(const std::string& text) {
  static const std::array<std::pair<const char*, TStopBits>, 7> kSpellings{{
      {"1", TStopBits::One},
      {"ONE", TStopBits::One},
      {"1.5", TStopBits::OneAndHalf},
      {"1,5", TStopBits::OneAndHalf},
      {"ONEANDHALF", TStopBits::OneAndHalf},
      {"2", TStopBits::Two},
      {"TWO", TStopBits::Two},
  }};
  const std::string upper = AsciiUpper(text);
  for (const auto& [spelling, value] : kSpellings)
    if (upper == spelling) return value;
  return std::nullopt;
}

std::optional<TParity> ParseParity(const std::string& text) {
  const std::string upper = AsciiUpper(text);
  for (std::uint8_t value = 0; value < kParityNames.size(); ++value)
    if (upper == AsciiUpper(kParityNames[value])) return static_cast<TParity>(value);
  return std::nullopt;
}

// A number of data bits beyond the 8-bit range is as invalid as 9: it must not wrap into the
// valid range on its way to the raw setter.
std::uint8_t DatabitsValue(std::int32_t number) {
  return number >= 0 && number <= 0xFF ? static_cast<std::uint8_t>(number) : std::uint8_t{0xFF};
}

// A refused value as the error report shows it.
std::string SettingText(std::int32_t value) {
  return std::to_string(value);
}
std::string SettingText(std::uint8_t value) {
  return std::to_string(value);
}
std::string SettingText(bool value) {
  return value ? "True" : "False";
}
std::string SettingText(TStopBits value) {
  return StopBitsName(value);
}
std::string SettingText(TParity value) {
  return ParityName(value);
}

}  // namespace

std::string StopBitsName(TStopBits value) {
  return NameOrNumber(kStopBitsNames, Number(value));
}

std::string ParityName(TParity value) {
  return NameOrNumber(kParityNames, Number(value));
}

bool TSerialCommunicationInterface::ApplyBaudRate(std::int32_t value) {
  if (!ValidBaudRate(value)) return false;
  SetCharTime(1000.0 / value * kBitsPerCharacter);
  return true;
}

template <class TValue>
void TSerialCommunicationInterface::ChangeSetting(
    const char* operation, const char* key, bool (TSerialCommunicationInterface::*apply)(TValue),
    TValue value) {
  ClearFailureReason();
  if ((this->*apply)(value)) {
    DoConfigurationChanged();
    return;
  }
  // A line that refused the value has said why; a value refused before it reached the line
  // has only its key and value.
  SetFailureReasonUnlessKnown(std::string("setting refused: ") + key + "=" + SettingText(value));
  ReportError(operation, {SettingText(value)}, 0);
}

void TSerialCommunicationInterface::SetBaudRate(std::int32_t value) {
  ChangeSetting("SetBaudRate", "baudrate", &TSerialCommunicationInterface::ApplyBaudRate, value);
}

void TSerialCommunicationInterface::SetParity(TParity value) {
  ChangeSetting("SetParity", "parity", &TSerialCommunicationInterface::ApplyParity, value);
}

void TSerialCommunicationInterface::SetStopBits(TStopBits value) {
  ChangeSetting("SetStopBits", "stopbits", &TSerialCommunicationInterface::ApplyStopBits, value);
}

void TSerialCommunicationInterface::SetDatabits(std::uint8_t value) {
  ChangeSetting("SetDatabits", "databits", &TSerialCommunicationInterface::ApplyDatabits, value);
}

void TSerialCommunicationInterface::SetDTR(bool value) {
  ChangeSetting("SetDTR", "dtr", &TSerialCommunicationInterface::ApplyDTR, value);
}

void TSerialCommunicationInterface::SetRTS(bool value) {
  ChangeSetting("SetRTS", "rts", &TSerialCommunicationInterface::ApplyRTS, value);
}

std::string TSerialCommunicationInterface::GetConfiguration() {
  std::string text = TCommunicationInterfaceDataSpy::GetConfiguration();
  if (!text.empty()) text += ';';
  TReadLocker guard(*this);
  text += "baudrate=" + std::to_string(GetBaudRate());
  text += ";databits=" + std::to_string(GetDatabits());
  text += ";stopbits=" + StopBitsName(GetStopBits());
  text += ";parity=" + ParityName(GetParity());
  text += ";dtr=" + std::string(ConnectionBool(GetDTR()));
  text += ";rts=" + std::string(ConnectionBool(GetRTS()));
  return text;
}

bool TSerialCommunicationInterface::ApplyConfiguration(const std::string& text) {
  ApplyLineSettings(TConnectionSettings(text));
  return true;
}

namespace {

// The line keys of a connection string, each checked against what a line can carry.
struct TLineSettings {
  std::optional<std::int32_t> baudRate;
  std::optional<std::uint8_t> databits;
  std::optional<TStopBits> stopBits;
  std::optional<TParity> parity;
  std::optional<bool> dtr, rts;
};

// Raises EConvertError naming the key and the value for the first value no line can use, so
// nothing of a connection string that cannot work is applied.
TLineSettings ParseLineSettings(const TConnectionSettings& settings) {
  using TLine = TSerialCommunicationInterface;
  TLineSettings line;
  line.baudRate = settings.Int("baudrate");
  if (line.baudRate && !TLine::ValidBaudRate(*line.baudRate))
    throw settings.Unusable("baudrate", "a baud rate above 0");
  if (const auto databits = settings.Int("databits")) {
    line.databits = DatabitsValue(*databits);
    if (!TLine::ValidDatabits(*line.databits))
      throw settings.Unusable("databits", "a number of data bits from 4 to 8");
  }
  if (const auto text = settings.Find("stopbits")) {
    line.stopBits = ParseStopBits(*text);
    if (!line.stopBits) throw settings.Unusable("stopbits", "a number of stop bits: 1, 1.5 or 2");
  }
  if (const auto text = settings.Find("parity")) {
    line.parity = ParseParity(*text);
    if (!line.parity) throw settings.Unusable("parity", "a parity: none, odd, even, mark or space");
  }
  line.dtr = settings.LineLevel("dtr");
  line.rts = settings.LineLevel("rts");
  return line;
}

}  // namespace

std::vector<std::string> TSerialCommunicationInterface::LineKeys() {
  return {"baudrate", "databits", "stopbits", "parity", "dtr", "rts", "active"};
}

void TSerialCommunicationInterface::CheckLineSettings(const TConnectionSettings& settings) {
  ParseLineSettings(settings);
}

void TSerialCommunicationInterface::ApplyLineSettings(const TConnectionSettings& settings) {
  const TLineSettings line = ParseLineSettings(settings);
  {
    TWriteLocker guard(*this);
    if (line.baudRate) ApplyBaudRate(*line.baudRate);
    if (line.databits) ApplyDatabits(*line.databits);
    if (line.stopBits) ApplyStopBits(*line.stopBits);
    if (line.parity) ApplyParity(*line.parity);
    if (line.dtr) ApplyDTR(*line.dtr);
    if (line.rts) ApplyRTS(*line.rts);
  }
  // Opened outside the lock, as any client would open it.
  if (settings.Active("active").value_or(false)) Open();
}

}  // namespace zorvid
