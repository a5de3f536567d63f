#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zorvid {

// Packets, raw transport data and instruction data: 8-bit, length-counted, may hold zero bytes.
using TByteString = std::string;
using TByte = std::uint8_t;

// The byte at `index` of a byte string as an unsigned value.
inline TByte ByteAt(std::string_view bytes, std::size_t index) {
  return static_cast<TByte>(bytes[index]);
}

}  // namespace zorvid
