#include "capture/CsvExport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <string_view>

#include "capture/PacketDecoder.h"
#include "core/HexText.h"
#include "protocol/Korvel97.h"

namespace zorvid {
namespace {

using TKind = TTrafficRecord::TKind;

// A field as RFC 4180 wants it: quoted, with its quotes doubled, when it holds a comma, a quote
// or a line break; as it is otherwise.
std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted(1, '"');
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted += '"';
}

std::string CsvLine(std::initializer_list<std::string_view> fields) {
  std::string line;
  const char* separator = "";
  for (const std::string_view field : fields) {
    line.append(separator).append(CsvField(field));
    separator = ",";
  }
  return line += "\r\n";
}

// ISO 8601 in the local time zone, to the millisecond, with the offset from UTC in minutes;
// empty for "no time", and for a time the C library cannot place in the local zone.
std::string LocalTimeText(TTrafficTime time) {
  using namespace std::chrono;
  if (time == TTrafficTime()) return {};
  const auto inMilliseconds = floor<milliseconds>(time);
  const auto inSeconds = floor<seconds>(inMilliseconds);
  const std::time_t since1970 = system_clock::to_time_t(inSeconds);
  std::tm local{};
  if (!localtime_r(&since1970, &local)) return {};
  // Zones lie within a day of UTC.
  const int offsetMinutes = static_cast<int>(local.tm_gmtoff / 60);
  char text[96];  // room for any year an int holds
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d",
                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<int>((inMilliseconds - inSeconds).count()),
                offsetMinutes < 0 ? '-' : '+', std::abs(offsetMinutes) / 60,
                std::abs(offsetMinutes) % 60);
  return text;
}

std::string_view DirectionText(TTrafficDirection direction) {
  return direction == TTrafficDirection::kToDisplay ? "sent" : "received";
}

std::string HexPair(TByte value) {
  return FormatHexPacked(std::string(1, static_cast<char>(value)));
}

// The packet of a record that holds one; nothing for noise and damaged packets, and for a
// record that claims a packet it does not hold (shown as damaged, not dropped).
std::optional<TKorvelFormat97> ReadablePacket(const TTrafficRecord& record) {
  if (record.kind != TKind::kPacket) return {};
  TKorvelFormat97 packet;
  try {
    ParsePacket97(record.bytes, packet);
  } catch (const EKorvelPacketError&) {
    return {};
  }
  return packet;
}

}  // namespace

std::string CsvHeader() {
  return CsvLine({"time", "direction", "address", "sig", "code", "data", "decoded"});
}

std::string CsvRow(const TTrafficRecord& record, std::optional<TByte> requestInstruction) {
  const std::string time = LocalTimeText(record.time);
  const std::optional<TKorvelFormat97> packet = ReadablePacket(record);
  if (!packet) {
    const std::string_view decoded = record.kind == TKind::kNoise ? "no packet" : "damaged packet";
    return CsvLine({time, DirectionText(record.direction), "", "", "",
                    FormatHexSpaced(record.bytes), decoded});
  }
  const TPacketDecoding decoding = DecodePacket(*packet, record.direction, requestInstruction);
  return CsvLine({time, DirectionText(record.direction), HexPair(packet->Adr), HexPair(packet->Sig),
                  HexPair(packet->Inst), FormatHexSpaced(packet->Data), DecodingText(decoding)});
}

}  // namespace zorvid
