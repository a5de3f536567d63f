#pragma once

// Byte strings written as lists of numbers in tests, and shown as hex pairs in their messages.
#include <initializer_list>

#include "core/HexText.h"
#include "core/Types.h"

namespace zorvid::test {

inline TByteString Bytes(std::initializer_list<int> values) {
  TByteString bytes;
  for (const int value : values)
    bytes.push_back(static_cast<char>(value));
  return bytes;
}

}  // namespace zorvid::test
