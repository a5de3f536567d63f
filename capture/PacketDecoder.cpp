#include "capture/PacketDecoder.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <iterator>
#include <string>

#include "core/DateTime.h"
#include "core/EchoText.h"
#include "core/HexText.h"
#include "device/ZorvidCodec.h"
#include "protocol/KorvelInterfaces.h"
#include "protocol/KorvelStackDevice.h"

namespace zorvid {
namespace {

// The acknowledge of an accepted request: the only answer whose data follows the layout.
constexpr TByte kAckAccepted = 0;

// Data in words; nothing when the bytes do not fit the layout.
using TDataText = std::optional<std::string>;
using TDataDecoder = TDataText (*)(const TByteString&);

template <class... TArgs>
std::string Printed(const char* format, TArgs... args) {
  char text[64];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

std::string HexByte(TByte value) {
  return Printed("0x%02X", value);
}

std::string OnOff(bool on) {
  return on ? "on" : "off";
}

// The whole text, unlike Quoted, which cuts what a message echoes: a log keeps what came.
std::string QuotedText(std::string_view bytes) {
  return InQuotes(EscapeControls(bytes));
}

std::string Unexpected(std::size_t size) {
  if (size == 0) return "data missing";
  return "unexpected " + std::to_string(size) + (size == 1 ? " byte" : " bytes");
}

std::uint16_t WordAt(const TByteString& bytes, std::size_t index) {
  return static_cast<std::uint16_t>(ByteAt(bytes, index) << 8 | ByteAt(bytes, index + 1));
}

// An unpacked value in words, or nothing when the unpacker refused the bytes.
template <class T, class TFormat>
TDataText Formatted(const std::optional<T>& value, TFormat format) {
  if (!value) return {};
  return format(*value);
}

// What the unpacker found wrong with data of the layout's length; for data of another length
// nothing, which says the length is what is wrong.
TDataText OrWrongContents(TDataText text, const TByteString& data, std::size_t layoutSize,
                          const char* wrong) {
  if (text || data.size() != layoutSize) return text;
  return wrong;
}

// --- The display's layouts, read by its own unpackers ---

TDataText DisplayText(const TByteString& data) {
  return "text " + QuotedText(data);
}

TDataText Segments(const TByteString& data) {
  // Packing passes exactly the five bytes a segment pattern has, and nothing else.
  return Formatted(PackDisplayData(data), [](const TByteString& pattern) {
    return "segments " + FormatHexSpaced(pattern);
  });
}

TDataText Brightness(const TByteString& data) {
  return Formatted(UnpackBrightness(data),
                   [](std::int32_t value) { return "brightness " + std::to_string(value); });
}

TDataText BrightnessAuto(const TByteString& data) {
  return Formatted(UnpackBrightnessAuto(data), [](const TBrightnessAuto& settings) {
    return "auto " + OnOff(settings.automatic) +
           Printed(", min %d, max %d, gain %d %%", settings.min, settings.max, settings.gain);
  });
}

std::string ClockText(TDateTime dateTime) {
  const TDateTimeParts parts = DecodeDateTime(dateTime);
  return Printed("%04d-%02d-%02d %02d:%02d:%02d", parts.year, parts.month, parts.day, parts.hour,
                 parts.minute, parts.second);
}

TDataText ClockAnswer(const TByteString& data) {
  return OrWrongContents(Formatted(UnpackDateTime(data), ClockText), data, kDateTimeAnswerSize,
                         "no such date and time");
}

// The setting lacks the answer's weekday byte (the display works the weekday out itself);
// with a blank one put in, the answer's unpacker reads it.
constexpr std::size_t kClockWeekdayIndex = 3;
TDataText ClockSetting(const TByteString& data) {
  if (data.size() < kClockWeekdayIndex) return {};
  TByteString withWeekday = data;
  withWeekday.insert(kClockWeekdayIndex, 1, '\0');
  return ClockAnswer(withWeekday);
}

TDataText TemperatureSensor(const TByteString& data) {
  if (data.size() != 1) return {};
  return "sensor " + std::to_string(ByteAt(data, 0));
}

// With a point whatever the locale: the application takes the user's locale, and a log or a
// CSV file must read the same everywhere.
std::string Tenths(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1).ptr;
  return std::string(text, end);
}

TDataText Temperature(const TByteString& data) {
  return Formatted(UnpackTemperature(data),
                   [](double degrees) { return Tenths(degrees) + " \u00B0C"; });
}

struct TNamedFlag {
  const char* name;
  bool TDateTimeParams::*flag;
};
constexpr TNamedFlag kParamFlagNames[] = {
    {"showTime", &TDateTimeParams::showTime},
    {"showDate", &TDateTimeParams::showDate},
    {"showTemperature", &TDateTimeParams::showTemperature},
    {"autoUpdate", &TDateTimeParams::autoUpdate},
    {"summerTime", &TDateTimeParams::summerTime},
    {"showAfterTurnOn", &TDateTimeParams::showAfterTurnOn},
    {"showAfterExpiration", &TDateTimeParams::showAfterExpiration},
    {"format12Hour", &TDateTimeParams::format12Hour},
    {"formatMDY", &TDateTimeParams::formatMDY},
};

TDataText DateTimeParams(const TByteString& data) {
  return Formatted(UnpackDateTimeParams(data), [](const TDateTimeParams& params) {
    std::string flags;
    for (const TNamedFlag& named : kParamFlagNames)
      if (params.*named.flag) flags.append(flags.empty() ? "" : " ").append(named.name);
    return (flags.empty() ? "no flags" : flags) +
           Printed(", offset %d, zone %d", params.offset, params.zone);
  });
}

std::string ExpirationText(std::int32_t seconds) {
  return seconds == 0 ? "never expires" : "expires after " + std::to_string(seconds) + " s";
}

TDataText ExpirationAnswer(const TByteString& data) {
  return Formatted(UnpackDataExpiration(data), [](const TDataExpiration& expiration) {
    return ExpirationText(expiration.seconds) + ", second value " +
           std::to_string(expiration.second);
  });
}

// The setting is the answer's first word alone; with a blank second value the answer's
// unpacker reads it.
TDataText ExpirationSetting(const TByteString& data) {
  return Formatted(
      UnpackDataExpiration(data + TByteString(2, '\0')),
      [](const TDataExpiration& expiration) { return ExpirationText(expiration.seconds); });
}

std::string ChannelText(std::int32_t channel, bool flag) {
  return "channel " + std::to_string(channel) + " " + OnOff(flag);
}

std::string ChannelText(std::int32_t channel, bool flag, std::int32_t value) {
  return ChannelText(channel, flag) + ", value " + std::to_string(value);
}

// The selector at `index` of data `size` bytes long, in words.
std::optional<TChannelSelector> SelectorAt(const TByteString& data, std::size_t size,
                                           std::size_t index) {
  if (data.size() != size) return {};
  return UnpackChannelSelector(ByteAt(data, index));
}

constexpr char kNoChannel[] = "a selector of no channel";

// One selector byte.
TDataText ChannelFlag(const TByteString& data) {
  return OrWrongContents(Formatted(SelectorAt(data, 1, 0),
                                   [](const TChannelSelector& selector) {
                                     return ChannelText(selector.channel, selector.flag);
                                   }),
                         data, 1, kNoChannel);
}

// The value, then the selector.
TDataText ChannelValue(const TByteString& data) {
  return OrWrongContents(Formatted(SelectorAt(data, 2, 1),
                                   [&data](const TChannelSelector& selector) {
                                     return ChannelText(selector.channel, selector.flag,
                                                        ByteAt(data, 0));
                                   }),
                         data, 2, kNoChannel);
}

TDataText ChannelFlags(const TByteString& data) {
  return Formatted(UnpackChannelFlags(data), [](const TChannelFlags& flags) {
    return ChannelText(1, flags.flag1) + "; " + ChannelText(2, flags.flag2);
  });
}

TDataText ChannelValues(const TByteString& data) {
  return OrWrongContents(Formatted(UnpackChannelValues(data),
                                   [](const TChannelValues& values) {
                                     return ChannelText(1, values.flag1, values.value1) + "; " +
                                            ChannelText(2, values.flag2, values.value2);
                                   }),
                         data, kChannelValuesSize, "not one pair for each channel");
}

// --- The layouts every device shares; what the values mean is the device's ---

// The address, the baud index and whatever else the device reports: reading them and changing
// the address write the same bytes back.
TDataText CommParams(const TByteString& data) {
  if (data.size() < 2) return {};
  const TByte baudIndex = ByteAt(data, 1);
  return "address " + HexByte(ByteAt(data, 0)) + ", " +
         (baudIndex < kBaudTable.size() ? std::to_string(kBaudTable[baudIndex]) + " Bd"
                                        : "baud index " + HexByte(baudIndex));
}

TDataText StoredByte(const TByteString& data) {
  if (data.size() != 1) return {};
  return "value " + HexByte(ByteAt(data, 0));
}

TDataText StoredFlag(const TByteString& data) {
  if (data.size() != 1) return {};
  return "flag " + OnOff(ByteAt(data, 0) != 0);
}

// A zero byte, then the text, ended by another zero byte when shorter than the device keeps.
TDataText StoredTextSetting(const TByteString& data) {
  if (data.empty() || data[0] != '\0') return {};
  const std::string_view text = std::string_view(data).substr(1);
  return "text " + QuotedText(text.substr(0, text.find('\0')));
}

TDataText Identification(const TByteString& data) {
  return "identification " + QuotedText(data);
}

TDataText AssignedAddress(const TByteString& data) {
  if (data.size() != 5) return {};
  return "address " + HexByte(ByteAt(data, 0)) +
         Printed(", identifiers 0x%04X 0x%04X", WordAt(data, 1), WordAt(data, 3));
}

// Two words and a long, any bytes after them unread.
TDataText Identifiers(const TByteString& data) {
  if (data.size() < 8) return {};
  const auto value = static_cast<std::uint32_t>(WordAt(data, 4)) << 16 | WordAt(data, 6);
  return Printed("identifiers 0x%04X 0x%04X 0x%08X", WordAt(data, 0), WordAt(data, 2), value);
}

// Every instruction this program knows: its name and how the data of its request and of an
// accepted answer read. A missing decoder means the packet carries no data.
struct TInstructionLayout {
  TByte code;
  std::string_view name;
  TDataDecoder request;
  TDataDecoder answer;
};

// The array's size follows its entries: a fixed size would pad a short list with entries of
// code 0.
constexpr TInstructionLayout kInstructions[] = {
    {kZorvidSetChannelFlag, "SetChannelFlag", ChannelFlag, nullptr},
    {kZorvidSetChannelValue, "SetChannelValue", ChannelValue, nullptr},
    {kZorvidGetChannelFlags, "GetChannelFlags", nullptr, ChannelFlags},
    {kZorvidGetChannelValues, "GetChannelValues", nullptr, ChannelValues},
    {kZorvidGetTemperature, "GetTemperature", TemperatureSensor, Temperature},
    {kZorvidSetDateTime, "SetDateTime", ClockSetting, nullptr},
    {kZorvidGetDateTime, "GetDateTime", nullptr, ClockAnswer},
    {kZorvidSetDateTimeParams, "SetDateTimeParams", DateTimeParams, nullptr},
    {kZorvidGetDateTimeParams, "GetDateTimeParams", nullptr, DateTimeParams},
    {kZorvidShowActualInformation, "ShowActualInformation", nullptr, nullptr},
    {kZorvidGetDisplayChars, "GetDisplayChars", nullptr, DisplayText},
    {kZorvidGetDisplayData, "GetDisplayData", nullptr, Segments},
    {kZorvidGetDisplayBrightness, "GetDisplayBrightness", nullptr, Brightness},
    {kZorvidGetDisplayDataExpiration, "GetDisplayDataExpiration", nullptr, ExpirationAnswer},
    {kZorvidGetDisplayBrightnessAuto, "GetDisplayBrightnessAuto", nullptr, BrightnessAuto},
    {kZorvidSetDisplayChars, "SetDisplayChars", DisplayText, nullptr},
    {kZorvidSetDisplayData, "SetDisplayData", Segments, nullptr},
    {kZorvidSetDisplayBrightness, "SetDisplayBrightness", Brightness, nullptr},
    {kZorvidSetDisplayDataExpiration, "SetDisplayDataExpiration", ExpirationSetting, nullptr},
    {kZorvidSetDisplayBrightnessAuto, "SetDisplayBrightnessAuto", BrightnessAuto, nullptr},
    {kInstWriteCommParams, "WriteCommParams", CommParams, nullptr},
    {kInstSetByte, "SetByte", StoredByte, nullptr},
    {kInstSetText, "SetText", StoredTextSetting, nullptr},
    {kInstCommandE3, "CommandE3", nullptr, nullptr},
    {kInstEnableConfiguration, "EnableConfiguration", nullptr, nullptr},
    {kInstAssignAddress, "AssignAddress", AssignedAddress, nullptr},
    {kInstSetFlag, "SetFlag", StoredFlag, nullptr},
    {kInstReadCommParams, "ReadCommParams", nullptr, CommParams},
    {kInstGetByte, "GetByte", nullptr, StoredByte},
    {kInstGetText, "GetText", nullptr, DisplayText},
    {kInstIdentification, "Identification", nullptr, Identification},
    {kInstIdentifiers, "ReadIdentifiers", nullptr, Identifiers},
    {kInstGetFlag, "GetFlag", nullptr, StoredFlag},
};

const TInstructionLayout* FindInstruction(TByte code) {
  const auto found =
      std::find_if(std::begin(kInstructions), std::end(kInstructions),
                   [code](const TInstructionLayout& known) { return known.code == code; });
  return found == std::end(kInstructions) ? nullptr : &*found;
}

std::string CodeText(TByte code, std::string_view name) {
  return name.empty() ? HexByte(code) : std::string(name) + " (" + HexByte(code) + ")";
}

// The data by the layout `side` chooses; empty for an instruction this program does not know.
std::string LaidOutData(std::optional<TByte> instruction, TDataDecoder TInstructionLayout::*side,
                        const TByteString& data) {
  const TInstructionLayout* layout = instruction ? FindInstruction(*instruction) : nullptr;
  if (!layout) return {};
  const TDataDecoder decode = layout->*side;
  if (!decode) return data.empty() ? std::string() : Unexpected(data.size());
  return decode(data).value_or(Unexpected(data.size()));
}

}  // namespace

std::string_view InstructionName(TByte code) {
  const TInstructionLayout* layout = FindInstruction(code);
  return layout ? layout->name : std::string_view();
}

std::string_view AcknowledgeName(TByte code) {
  if (code == kAckAccepted) return "OK";
  if (IsUnsolicitedAck(code)) return "unsolicited";
  return "refused";
}

TPacketDecoding DecodePacket(const TKorvelFormat97& packet, TTrafficDirection direction,
                             std::optional<TByte> requestInstruction) {
  if (direction == TTrafficDirection::kToDisplay)
    return {CodeText(packet.Inst, InstructionName(packet.Inst)),
            LaidOutData(packet.Inst, &TInstructionLayout::request, packet.Data)};
  TPacketDecoding decoding{CodeText(packet.Inst, AcknowledgeName(packet.Inst)), {}};
  if (IsUnsolicitedAck(packet.Inst))
    decoding.data = FormatHexSpaced(packet.Data);
  else if (packet.Inst == kAckAccepted)
    decoding.data = LaidOutData(requestInstruction, &TInstructionLayout::answer, packet.Data);
  return decoding;
}

bool IsUnsolicitedCode(TByte code) {
  return IsUnsolicitedAck(code);
}

TPacketSummary SummarizePacket(const TByteString& bytes, TTrafficDirection direction,
                               std::optional<TByte> requestInstruction) {
  TKorvelFormat97 packet;
  ParsePacket97(bytes, packet);
  return {packet.Adr, packet.Sig, IsUnsolicitedAck(packet.Inst),
          DecodePacket(packet, direction, requestInstruction)};
}

std::string_view DamageName(const TByteString& bytes) {
  switch (ValidatePacket97(bytes)) {
    case kPacket97BadChecksum:
      return "bad checksum";
    case kPacket97BadTerminator:
      return "bad terminator";
    default:
      return {};
  }
}

std::string DecodingText(const TPacketDecoding& decoding) {
  return decoding.data.empty() ? decoding.code : decoding.code + ": " + decoding.data;
}

}  // namespace zorvid
