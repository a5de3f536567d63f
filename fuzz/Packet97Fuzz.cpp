// Arbitrary bytes through the packet format 97 functions. Any broken invariant traps; any
// exception other than EKorvelPacketError escapes and aborts the run.

#include <cstddef>
#include <cstdint>

#include "protocol/Korvel97.h"

namespace {

using namespace zorvid;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

// A validated packet parses (unless it is the 8-byte form without instruction byte, which
// validation lets through) and rebuilds to the same bytes.
void CheckValidatedPacket(const TByteString& packet) {
  TKorvelFormat97 record;
  try {
    ParsePacket97(packet, record);
  } catch (const EKorvelPacketError&) {
    Require(packet.size() < kPacket97MinSize && record.Cr == 0);
    return;
  }
  Require(record.Len == packet.size() - kPacket97HeaderSize);
  Require(BuildPacket97(record.Adr, record.Sig, record.Inst, record.Data) == packet);
}

void CheckPacket(const TByteString& packet) {
  const std::uint16_t code = ValidatePacket97(packet);
  Require(code <= kPacket97BadTerminator);
  if (code == kPacket97Valid) {
    CheckValidatedPacket(packet);
    return;
  }
  // Parsing unvalidated bytes is allowed too; it may only raise its one error.
  TKorvelFormat97 record;
  try {
    ParsePacket97(packet, record);
  } catch (const EKorvelPacketError&) {
    Require(record.Cr == 0);
  }
}

// Returns the packet cut from the front of `input`, after checking both modes agree.
TByteString CheckExtract(const TByteString& input) {
  TByteString kept = input;
  const TByteString peeked = ExtractPacket97(kept, false);
  Require(kept == input);
  Require(input.compare(0, peeked.size(), peeked) == 0);

  TByteString cut = input;
  const TByteString removed = ExtractPacket97(cut, true);
  Require(removed == peeked);
  Require(cut == input.substr(removed.size()));
  return removed;
}

// Builds a packet from fuzzer-chosen fields; it must always validate and parse back.
void CheckBuild(const TByteString& input) {
  // Beyond kPacket97MaxData data bytes the length field wraps by design.
  if (input.size() < 3 || input.size() - 3 > kPacket97MaxData) return;
  const TByteString packet =
      BuildPacket97(ByteAt(input, 0), ByteAt(input, 1), ByteAt(input, 2), input.substr(3));
  Require(ValidatePacket97(packet) == kPacket97Valid);
  TKorvelFormat97 record;
  ParsePacket97(packet, record);
  Require(record.Adr == ByteAt(input, 0) && record.Sig == ByteAt(input, 1) &&
          record.Inst == ByteAt(input, 2) && record.Data == input.substr(3) &&
          record.Cr == kPacket97Terminator);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const TByteString input(reinterpret_cast<const char*>(data), size);
  CheckPacket(input);
  // Cut the input the way the receive path does and check every piece.
  TByteString rest = input;
  while (!rest.empty()) {
    const TByteString packet = CheckExtract(rest);
    if (packet.empty()) break;
    CheckPacket(packet);
    rest.erase(0, packet.size());
  }
  CheckBuild(input);
  return 0;
}
