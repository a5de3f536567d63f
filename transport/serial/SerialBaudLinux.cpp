// Fenced off from SerialPlatformLinux.cpp: glibc's <termios.h> and the kernel's
// <asm/termbits.h> both define `struct termios` (with different layouts) and many of the same
// macros, so no file can include both. Only the kernel header offers termios2 and BOTHER,
// which set a bit rate that is not one of the B... constants.
#include "transport/serial/SerialBaudLinux.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

// <sys/ioctl.h> drags in glibc's terminal types as well; the one declaration needed is this.
extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace zorvid {

bool SetAnyBaudRate(int handle, std::int32_t rate) {
  if (rate <= 0) return false;
  termios2 settings{};
  if (ioctl(handle, TCGETS2, &settings) != 0) return false;
  settings.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  settings.c_ispeed = static_cast<speed_t>(rate);
  settings.c_ospeed = static_cast<speed_t>(rate);
  return ioctl(handle, TCSETS2, &settings) == 0;
}

std::optional<std::int32_t> ReadBaudRate(int handle) {
  termios2 settings{};
  if (ioctl(handle, TCGETS2, &settings) != 0) return std::nullopt;
  return static_cast<std::int32_t>(settings.c_ospeed);
}

}  // namespace zorvid
