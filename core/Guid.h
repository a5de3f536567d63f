#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zorvid {

// A 128-bit GUID; its text is the registry form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
struct TGUID {
  std::uint32_t D1 = 0;
  std::uint16_t D2 = 0;
  std::uint16_t D3 = 0;
  std::array<std::uint8_t, 8> D4{};

  friend bool operator==(const TGUID&, const TGUID&) = default;
};

// A fresh random (version 4) GUID.
TGUID CreateGUID();
// Registry form with upper-case hex digits.
std::string GUIDToString(const TGUID& guid);
// Parses the registry form (hex digits of either case); raises EConvertError naming the text.
TGUID StringToGUID(std::string_view text);

}  // namespace zorvid
