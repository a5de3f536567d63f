#pragma once

#include <filesystem>
#include <string>

// What the operating system knows of a serial port beyond its device path: a name that stays
// with the adapter, and the maker, product and serial number of a USB adapter. The header is
// platform-neutral; one implementation file per platform, chosen by the build.

namespace zorvid {

// Where the system keeps its device database and its device nodes. Tests point them at a
// directory tree shaped like them.
struct TDeviceRoots {
  std::filesystem::path sys = "/sys";
  std::filesystem::path dev = "/dev";
};

struct TSerialPortIdentity {
  // A path under the device root that leads to the port as long as the same adapter is plugged
  // in, whatever number the system gives it (serial/by-id/..., else serial/by-path/...); empty
  // when the system made none.
  std::string stablePath;
  // For a port of a USB adapter, from the USB device's descriptors (the ids as four hexadecimal
  // digits); all empty for a port that is no USB device, each empty when the device lacks it.
  std::string vendorId;
  std::string productId;
  std::string manufacturer;
  std::string product;
  std::string serialNumber;

  bool IsUsb() const { return !vendorId.empty(); }
  friend bool operator==(const TSerialPortIdentity&, const TSerialPortIdentity&) = default;
};

// What the system's device database says of the terminal device at `devicePath` (a device node
// such as /dev/ttyUSB0, or a link to one). A device it knows nothing of, or a path that does not
// exist, gives an empty identity: that is no error. Reads files only; any thread.
TSerialPortIdentity IdentifySerialPort(const std::string& devicePath,
                                       const TDeviceRoots& roots = {});

}  // namespace zorvid
