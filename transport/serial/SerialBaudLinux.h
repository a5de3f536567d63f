#pragma once

#include <cstdint>
#include <optional>

// Bit rates through the kernel's termios2 interface; see SerialBaudLinux.cpp for why these two
// calls live apart from the rest of the platform layer.

namespace zorvid {

// Sets input and output to `rate` bits per second, standard or not; false when refused.
bool SetAnyBaudRate(int handle, std::int32_t rate);
// The output rate the device runs at, in bits per second.
std::optional<std::int32_t> ReadBaudRate(int handle);

}  // namespace zorvid
