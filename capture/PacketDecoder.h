#pragma once

// What a packet says, in words: the names of instructions and acknowledge codes and the data
// decoded where its layout is known. For people reading a log or a capture.

#include <optional>
#include <string>
#include <string_view>

#include "capture/Traffic.h"
#include "protocol/Korvel97.h"

namespace zorvid {

// The name of an instruction: the display's own (GetTemperature, SetDisplayChars, ...) or one
// common to every device (Identification, ReadCommParams, ...); empty when unknown.
std::string_view InstructionName(TByte code);
// What an acknowledge code means: "OK" for 0, "unsolicited" for 0x0C..0x0F (packets a device
// sends on its own), "refused" for any other code; what each refusal means is the device's.
// Never empty.
std::string_view AcknowledgeName(TByte code);

struct TPacketDecoding {
  // The instruction of a request or the acknowledge of an answer, by name and in hex:
  // "GetTemperature (0x51)", "OK (0x00)"; only the hex when the code has no name.
  std::string code;
  // The data in words where the layout is known ("21.5 °C", "text \"12.34\"",
  // "brightness 40"), "unexpected 3 bytes" (or "data missing") when the bytes do not fit it;
  // an unsolicited packet's data in hex. Empty when there is no data, when the layout is unknown
  // and for a refused answer, whose data follows no layout.
  std::string data;
};

// Decodes a readable packet. A request's data is laid out by its own instruction, an answer's
// by its request's, so an answer's data is decoded only when `requestInstruction` is known.
TPacketDecoding DecodePacket(const TKorvelFormat97& packet, TTrafficDirection direction,
                             std::optional<TByte> requestInstruction);

// The decoding in one line: the code, then ": " and the data when there is any.
std::string DecodingText(const TPacketDecoding& decoding);

// A code that a device sends on its own (acknowledge 0x0C..0x0F), answering no request.
bool IsUnsolicitedCode(TByte code);

// A readable packet as a log names it: who sent it to whom, its SIG, and what it says.
struct TPacketSummary {
  TByte address = 0;
  TByte sig = 0;
  bool unsolicited = false;  // sent by a device on its own (acknowledge 0x0C..0x0F)
  TPacketDecoding decoding;
};
TPacketSummary SummarizePacket(const TByteString& bytes, TTrafficDirection direction,
                               std::optional<TByte> requestInstruction);
// Why bytes framed like a packet were refused: "bad checksum", "bad terminator", or nothing
// said for any other check.
std::string_view DamageName(const TByteString& bytes);

}  // namespace zorvid
