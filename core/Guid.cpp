#include "core/Guid.h"

#include <cstdio>
#include <mutex>
#include <random>

#include "core/Errors.h"

namespace zorvid {
namespace {

// Offsets of the 32 hex digits inside "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
constexpr std::size_t kGuidTextLength = 38;
constexpr std::array<std::size_t, 4> kDashes{9, 14, 19, 24};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsDigitPosition(std::size_t position) {
  for (std::size_t dash : kDashes)
    if (position == dash) return false;
  return position > 0 && position + 1 < kGuidTextLength;
}

// The 16 bytes of the GUID in text order.
std::array<std::uint8_t, 16> TextBytes(std::string_view text) {
  auto invalid = [&] {
    // Appended, not prefixed: g++ 12 at -O3 takes a prefix to a moved string for an overlapping
    // copy (-Wrestrict).
    std::string message(1, '\'');
    message.append(text).append("' is not a valid GUID value");
    return EConvertError(message);
  };
  if (text.size() != kGuidTextLength || text.front() != '{' || text.back() != '}') throw invalid();
  std::array<std::uint8_t, 16> bytes{};
  std::size_t nibble = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!IsDigitPosition(i)) {
      if (i != 0 && i + 1 != text.size() && text[i] != '-') throw invalid();
      continue;
    }
    const int value = HexValue(text[i]);
    if (value < 0) throw invalid();
    bytes[nibble / 2] = static_cast<std::uint8_t>(bytes[nibble / 2] << 4 | value);
    ++nibble;
  }
  return bytes;
}

}  // namespace

TGUID CreateGUID() {
  static std::mutex mutex;
  static std::mt19937_64 generator{std::random_device{}()};
  std::uint64_t high, low;
  {
    std::lock_guard lock(mutex);
    high = generator();
    low = generator();
  }
  TGUID guid;
  guid.D1 = static_cast<std::uint32_t>(high >> 32);
  guid.D2 = static_cast<std::uint16_t>(high >> 16);
  guid.D3 = static_cast<std::uint16_t>((high & 0x0FFF) | 0x4000);  // version 4
  for (std::size_t i = 0; i < 8; ++i)
    guid.D4[i] = static_cast<std::uint8_t>(low >> (56 - 8 * i));
  guid.D4[0] = static_cast<std::uint8_t>((guid.D4[0] & 0x3F) | 0x80);  // RFC 4122 variant
  return guid;
}

std::string GUIDToString(const TGUID& guid) {
  char text[kGuidTextLength + 1];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(guid.D1), guid.D2, guid.D3, guid.D4[0], guid.D4[1],
                guid.D4[2], guid.D4[3], guid.D4[4], guid.D4[5], guid.D4[6], guid.D4[7]);
  return text;
}

TGUID StringToGUID(std::string_view text) {
  const auto b = TextBytes(text);
  TGUID guid;
  guid.D1 = static_cast<std::uint32_t>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
  guid.D2 = static_cast<std::uint16_t>(b[4] << 8 | b[5]);
  guid.D3 = static_cast<std::uint16_t>(b[6] << 8 | b[7]);
  for (std::size_t i = 0; i < 8; ++i)
    guid.D4[i] = b[8 + i];
  return guid;
}

}  // namespace zorvid
