#include "protocol/Korvel97.h"

#include <new>

namespace zorvid {

namespace {

constexpr std::size_t kAdrOffset = 4;
constexpr std::size_t kSigOffset = 5;
constexpr std::size_t kInstOffset = 6;
constexpr std::size_t kDataOffset = 7;

// Caller guarantees at least kPacket97HeaderSize bytes.
std::uint16_t DeclaredLength(std::string_view packet) {
  return static_cast<std::uint16_t>(ByteAt(packet, 2) << 8 | ByteAt(packet, 3));
}

bool HasPrefixAndFormat(std::string_view bytes) {
  return ByteAt(bytes, 0) == kPacket97Prefix && ByteAt(bytes, 1) == kPacket97Format;
}

}  // namespace

EKorvelPacketError::EKorvelPacketError()
    : std::runtime_error("Incorrect PACKET (Korvel format 97)!") {}

TByte Checksum97(std::string_view bytes) {
  TByte sum = 0;
  for (const char byte : bytes)
    sum = static_cast<TByte>(sum + static_cast<TByte>(byte));
  return static_cast<TByte>(0xFF - sum);
}

TByteString BuildPacket97(TByte adr, TByte sig, TByte inst, const TByteString& data) {
  // Unsigned narrowing is the modulo-65536 wrap the wire format defines.
  const auto len = static_cast<std::uint16_t>(data.size() + kPacket97Overhead);
  TByteString packet;
  packet.reserve(data.size() + kPacket97MinSize);
  for (const TByte byte : {kPacket97Prefix, kPacket97Format, static_cast<TByte>(len >> 8),
                           static_cast<TByte>(len & 0xFF), adr, sig, inst}) {
    packet.push_back(static_cast<char>(byte));
  }
  packet += data;
  packet.push_back(static_cast<char>(Checksum97(packet)));
  packet.push_back(static_cast<char>(kPacket97Terminator));
  return packet;
}

void ParsePacket97(std::string_view packet, TKorvelFormat97& record) {
  record.Cr = 0;
  if (packet.size() < kPacket97MinSize) throw EKorvelPacketError();
  const std::uint16_t len = DeclaredLength(packet);
  // A length below the fixed fields would mean a negative data count; one beyond the string
  // would put checksum and terminator past its end.
  if (len < kPacket97Overhead || packet.size() < len + kPacket97HeaderSize) {
    throw EKorvelPacketError();
  }
  const std::size_t checksumOffset = kPacket97HeaderSize + len - 2;
  record.Prefix = ByteAt(packet, 0);
  record.Format = ByteAt(packet, 1);
  record.Len = len;
  record.Adr = ByteAt(packet, kAdrOffset);
  record.Sig = ByteAt(packet, kSigOffset);
  record.Inst = ByteAt(packet, kInstOffset);
  record.Data.assign(packet.substr(kDataOffset, len - kPacket97Overhead));
  record.Checksum = ByteAt(packet, checksumOffset);
  record.Cr = ByteAt(packet, checksumOffset + 1);
}

std::size_t CompletePacketSize97(std::string_view buffer) {
  if (buffer.size() < kPacket97HeaderSize || !HasPrefixAndFormat(buffer)) return 0;
  const std::size_t total = DeclaredLength(buffer) + kPacket97HeaderSize;
  return buffer.size() < total ? 0 : total;  // 0 also while the rest has not arrived
}

TByteString ExtractPacket97(TByteString& buffer, bool remove) {
  const std::size_t total = CompletePacketSize97(buffer);
  if (total == 0) return {};
  TByteString packet;
  try {
    packet = buffer.substr(0, total);
    if (remove) buffer.erase(0, total);
  } catch (const std::bad_alloc&) {
    // Out of memory is the only possible failure; the receive path must not see an exception,
    // and an empty result with an unchanged buffer reads as "incomplete, try later".
  }
  return packet;
}

std::uint16_t ValidatePacket97(std::string_view packet) {
  const std::size_t size = packet.size();
  // One byte below the smallest packet: an 8-byte string is left to the later checks.
  if (size < kPacket97MinSize - 1) return kPacket97TooShort;
  if (ByteAt(packet, 0) != kPacket97Prefix) return kPacket97BadPrefix;
  if (ByteAt(packet, 1) != kPacket97Format) return kPacket97BadFormat;
  if (size - kPacket97HeaderSize != DeclaredLength(packet)) return kPacket97BadLength;
  const std::string_view covered = packet.substr(0, size - 2);
  if (ByteAt(packet, size - 2) != Checksum97(covered)) return kPacket97BadChecksum;
  if (ByteAt(packet, size - 1) != kPacket97Terminator) return kPacket97BadTerminator;
  return kPacket97Valid;
}

}  // namespace zorvid
