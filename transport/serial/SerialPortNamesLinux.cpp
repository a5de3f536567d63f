// Serial port names on Linux: sysfs for the USB descriptors, udev's links in /dev/serial for the
// stable names.
#include <fstream>
#include <optional>
#include <system_error>

#include "transport/serial/SerialPortNames.h"

namespace zorvid {
namespace {

namespace fs = std::filesystem;

// The value of a sysfs attribute file (its first line without trailing blanks); empty when the
// file is not there.
std::string ReadAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t'))
    line.pop_back();
  return line;
}

// The kernel's name of the device: the node's file name once links are resolved, so that a
// port named by a link (ZORVID_COM<n>=/dev/serial/by-id/...) is found under its own name.
std::string KernelName(const std::string& devicePath) {
  std::error_code error;
  const fs::path resolved = fs::weakly_canonical(devicePath, error);
  return (error ? fs::path(devicePath) : resolved).filename().string();
}

// The USB device a terminal hangs under: the nearest directory above the terminal's device in
// the device tree that carries a vendor id (a USB serial port sits in an interface directory,
// whose parent is the device). A port without one, such as a built-in UART, has none.
std::optional<fs::path> UsbDeviceOf(const std::string& name, const fs::path& sys) {
  std::error_code error;
  fs::path directory = fs::canonical(sys / "class" / "tty" / name / "device", error);
  if (error) return std::nullopt;
  const fs::path top = fs::canonical(sys, error);
  if (error) return std::nullopt;
  for (; directory != top && directory != directory.parent_path();
       directory = directory.parent_path()) {
    if (fs::exists(directory / "idVendor", error)) return directory;
  }
  return std::nullopt;
}

// The link in `directory` that leads to the node `name`; the first by name when several do, so
// the choice does not depend on the directory's order. Empty when none does.
std::string LinkTo(const std::string& name, const fs::path& directory) {
  std::error_code error;
  std::string found;
  for (fs::directory_iterator entry(directory, error), end; !error && entry != end;
       entry.increment(error)) {
    std::error_code linkError;
    const fs::path target = fs::read_symlink(entry->path(), linkError);
    if (linkError || target.filename() != name) continue;
    if (found.empty() || entry->path().string() < found) found = entry->path().string();
  }
  return found;
}

}  // namespace

TSerialPortIdentity IdentifySerialPort(const std::string& devicePath, const TDeviceRoots& roots) {
  TSerialPortIdentity identity;
  const std::string name = KernelName(devicePath);
  if (name.empty()) return identity;
  // A name by the adapter's own serial number survives a move to another socket; a name by
  // the socket is all that two adapters without serial numbers can have.
  identity.stablePath = LinkTo(name, roots.dev / "serial" / "by-id");
  if (identity.stablePath.empty())
    identity.stablePath = LinkTo(name, roots.dev / "serial" / "by-path");
  if (const std::optional<fs::path> usb = UsbDeviceOf(name, roots.sys)) {
    identity.vendorId = ReadAttribute(*usb / "idVendor");
    identity.productId = ReadAttribute(*usb / "idProduct");
    identity.manufacturer = ReadAttribute(*usb / "manufacturer");
    identity.product = ReadAttribute(*usb / "product");
    identity.serialNumber = ReadAttribute(*usb / "serial");
  }
  return identity;
}

}  // namespace zorvid
