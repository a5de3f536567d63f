#pragma once

#include <cstdint>
#include <string>

namespace zorvid {

// Packets, raw transport data and instruction data: 8-bit, length-counted, may hold zero bytes.
using TByteString = std::string;
using TByte = std::uint8_t;

// The byte at `index` of a byte string as an unsigned value.
inline TByte ByteAt(const TByteString& bytes, std::size_t index) {
  return static_cast<TByte>(bytes[index]);
}

}  // namespace zorvid
