#pragma once

// Korvel packet format 97, the framing of every exchange with a device:
//
//   '*' 'a' LEN_HI LEN_LO ADR SIG INST DATA[n] CHECKSUM 0x0D
//
// LEN (big-endian) counts ADR up to and including the terminator, so LEN = n + 5 and the whole
// packet is LEN + 4 bytes. The functions keep no state and may be called from any thread.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "core/Types.h"

namespace zorvid {

// One parsed packet, copied by value. The all-zero record stands for "no packet".
struct TKorvelFormat97 {
  TByte Prefix = 0;
  TByte Format = 0;
  std::uint16_t Len = 0;
  TByte Adr = 0;
  TByte Sig = 0;
  TByte Inst = 0;  // instruction code in a request, acknowledge code in an answer
  TByteString Data;
  TByte Checksum = 0;  // as received, not recomputed
  TByte Cr = 0;        // as received; 0 after a failed parse

  bool operator==(const TKorvelFormat97&) const = default;
};

inline constexpr TByte kPacket97Prefix = 0x2A;  // '*'
inline constexpr TByte kPacket97Format = 0x61;  // 'a', 97
inline constexpr TByte kPacket97Terminator = 0x0D;
// Prefix, format and the length field itself: the bytes the length field does not count.
inline constexpr std::size_t kPacket97HeaderSize = 4;
// Address, SIG, instruction, checksum and terminator: what the length field counts besides data.
inline constexpr std::size_t kPacket97Overhead = 5;
inline constexpr std::size_t kPacket97MinSize = kPacket97HeaderSize + kPacket97Overhead;
inline constexpr std::size_t kPacket97MaxData = 0xFFFF - kPacket97Overhead;

// Results of ValidatePacket97, listed in the order the checks are made.
inline constexpr std::uint16_t kPacket97Valid = 0;
inline constexpr std::uint16_t kPacket97TooShort = 1;
inline constexpr std::uint16_t kPacket97BadPrefix = 2;
inline constexpr std::uint16_t kPacket97BadFormat = 3;
inline constexpr std::uint16_t kPacket97BadLength = 4;
inline constexpr std::uint16_t kPacket97BadChecksum = 5;
inline constexpr std::uint16_t kPacket97BadTerminator = 6;

// The one error of ParsePacket97, whatever made the packet unreadable.
class EKorvelPacketError : public std::runtime_error {
 public:
  EKorvelPacketError();
};

// 0xFF minus the byte sum modulo 256. A packet's checksum covers everything before it.
TByte Checksum97(std::string_view bytes);

// A complete packet. The length field is computed in 16 bits, so more than kPacket97MaxData
// data bytes wrap it.
TByteString BuildPacket97(TByte adr, TByte sig, TByte inst, const TByteString& data);

// Fills `record` from `packet` without checking prefix, format, checksum or terminator: callers
// run ValidatePacket97 first. Bytes beyond the declared length are ignored. `record.Cr` is
// cleared before anything else. Raises EKorvelPacketError when the packet is shorter than
// kPacket97MinSize, declares a length below kPacket97Overhead or is shorter than it declares.
void ParsePacket97(std::string_view packet, TKorvelFormat97& record);

// The size of the complete packet at the front of `buffer` (as many bytes as its length field
// declares), or 0 when the buffer does not start with '*' 'a' or the packet is incomplete.
std::size_t CompletePacketSize97(std::string_view buffer);

// The first complete packet at the front of `buffer` (as many bytes as its length field
// declares, not validated), or empty when the buffer does not start with '*' 'a' or the packet
// is still incomplete. With `remove` the packet is cut from the buffer; otherwise, and whenever
// the result is empty, the buffer is unchanged. Leading garbage is not skipped. Never raises.
TByteString ExtractPacket97(TByteString& buffer, bool remove);

// kPacket97Valid when `packet` is exactly one well-formed packet, else the first failing check.
std::uint16_t ValidatePacket97(std::string_view packet);

}  // namespace zorvid
