#include "transport/FTDICore.h"

#include <dlfcn.h>

#include <cstring>
#include <exception>
#include <iterator>
#include <mutex>
#include <vector>

namespace zorvid {
namespace {

// The library's handle, closed when the process ends.
class TLibraryHandle {
 public:
  TLibraryHandle() {
    for (const char* fileName : kFtd2xxFileNames) {
      triedNames_.emplace_back(fileName);
      handle_ = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
      if (handle_) return;
    }
  }
  ~TLibraryHandle() {
    if (handle_) dlclose(handle_);
  }
  TLibraryHandle(const TLibraryHandle&) = delete;
  TLibraryHandle& operator=(const TLibraryHandle&) = delete;

  void* Get() const { return handle_; }
  const std::vector<std::string>& TriedNames() const { return triedNames_; }

 private:
  void* handle_ = nullptr;
  std::vector<std::string> triedNames_;
};

// dlsym's result goes into a function pointer of the entry point's own type.
template <class TFunction>
void LookUp(void* library, const char* name, TFunction& entry, std::string& missingNames) {
  void* symbol = library ? dlsym(library, name) : nullptr;
  static_assert(sizeof(symbol) == sizeof(entry));
  std::memcpy(&entry, &symbol, sizeof entry);
  if (!symbol) missingNames += std::string(name) + "\r";
}

TFtd2xxBinding Bind(const TLibraryHandle& library) {
  TFtd2xxBinding binding;
  binding.loaded = library.Get() != nullptr;
  binding.triedNames = library.TriedNames();
  TFtd2xxEntryPoints& e = binding.entry;
  std::string& missing = binding.missingNames;
  void* handle = library.Get();
  LookUp(handle, "FT_Write", e.FT_Write, missing);
  LookUp(handle, "FT_Close", e.FT_Close, missing);
  LookUp(handle, "FT_Read", e.FT_Read, missing);
  LookUp(handle, "FT_SetBaudRate", e.FT_SetBaudRate, missing);
  LookUp(handle, "FT_SetDataCharacteristics", e.FT_SetDataCharacteristics, missing);
  LookUp(handle, "FT_ResetDevice", e.FT_ResetDevice, missing);
  LookUp(handle, "FT_SetDtr", e.FT_SetDtr, missing);
  LookUp(handle, "FT_ClrDtr", e.FT_ClrDtr, missing);
  LookUp(handle, "FT_SetRts", e.FT_SetRts, missing);
  LookUp(handle, "FT_ClrRts", e.FT_ClrRts, missing);
  LookUp(handle, "FT_Purge", e.FT_Purge, missing);
  LookUp(handle, "FT_GetQueueStatus", e.FT_GetQueueStatus, missing);
  LookUp(handle, "FT_OpenEx", e.FT_OpenEx, missing);
  LookUp(handle, "FT_CreateDeviceInfoList", e.FT_CreateDeviceInfoList, missing);
  LookUp(handle, "FT_GetDeviceInfoDetail", e.FT_GetDeviceInfoDetail, missing);
  LookUp(handle, "FT_SetEventNotification", e.FT_SetEventNotification, missing);
  return binding;
}

// The names of a message, ", " between them.
std::string JoinNames(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts)
    text += (text.empty() ? "" : ", ") + part;
  return text;
}

// The names of a list in which each one ends with "\r".
std::vector<std::string> SplitNames(const std::string& names) {
  std::vector<std::string> parts;
  std::size_t begin = 0;
  for (std::size_t end; (end = names.find('\r', begin)) != std::string::npos; begin = end + 1)
    parts.push_back(names.substr(begin, end - begin));
  return parts;
}

std::mutex lastErrorMutex;
std::string lastErrorMessage;  // guarded by lastErrorMutex

void RecordError(const std::string& message) {
  std::lock_guard guard(lastErrorMutex);
  lastErrorMessage = message;
}

enum class TDetail { kSerialNumber, kDescription };

// One text of the bridge at `index`, or the enumeration's result code.
std::uint32_t ReadDetail(std::int32_t index, TDetail detail, std::string& text) {
  if (!Ftd2xx().Available()) {
    RecordError(kFtd2xxNotLoadedMessage);
    return kUsbLibraryNotAvailable;
  }
  DWORD flags = 0, type = 0, id = 0, locationId = 0;
  FT_HANDLE handle = nullptr;
  char serialNumber[kFtSerialNumberBuffer] = {};
  char description[kFtDescriptionBuffer] = {};
  const FT_STATUS status =
      FtCall(Ftd2xx().entry.FT_GetDeviceInfoDetail, static_cast<DWORD>(index), &flags, &type, &id,
             &locationId, serialNumber, description, &handle);
  if (status != kFtOk) return kUsbLibraryCallFailed + status;
  // The library zero-terminates; the last byte is ours in case it did not.
  serialNumber[kFtSerialNumberBuffer - 1] = '\0';
  description[kFtDescriptionBuffer - 1] = '\0';
  text = detail == TDetail::kSerialNumber ? serialNumber : description;
  return 0;
}

std::uint32_t CopyDetail(std::int32_t index, TDetail detail, char* buffer, std::uint32_t& length) {
  try {
    std::string text;
    if (const std::uint32_t result = ReadDetail(index, detail, text); result != 0) return result;
    const auto needed = static_cast<std::uint32_t>(text.size() + 1);
    if (!buffer || length < needed) {
      length = needed;
      return buffer ? kUsbBufferTooSmall : 0;
    }
    std::memcpy(buffer, text.c_str(), needed);
    length = needed - 1;
    return 0;
  } catch (const std::exception& error) {
    RecordError(error.what());
    return kUsbErrorRaised;
  }
}

// The text of a detail read into a buffer of `size` bytes, or nothing.
bool DetailText(std::int32_t index, TDetail detail, std::size_t size, std::string& text) {
  std::string buffer(size, '\0');
  auto length = static_cast<std::uint32_t>(size);
  if (CopyDetail(index, detail, buffer.data(), length) != 0) return false;
  text = buffer.substr(0, length);
  return true;
}

}  // namespace

const TFtd2xxBinding& Ftd2xx() {
  static const TLibraryHandle library;
  static const TFtd2xxBinding binding = Bind(library);
  return binding;
}

std::string TFtd2xxBinding::UnavailableReason() const {
  if (!loaded) return "library not found: tried " + JoinNames(triedNames);
  if (!missingNames.empty())
    return "library " + triedNames.back() + " lacks " + JoinNames(SplitNames(missingNames));
  return {};
}

std::string FtStatusName(FT_STATUS status) {
  static constexpr const char* kNames[] = {
      "FT_OK",
      "FT_INVALID_HANDLE",
      "FT_DEVICE_NOT_FOUND",
      "FT_DEVICE_NOT_OPENED",
      "FT_IO_ERROR",
      "FT_INSUFFICIENT_RESOURCES",
      "FT_INVALID_PARAMETER",
      "FT_INVALID_BAUD_RATE",
      "FT_DEVICE_NOT_OPENED_FOR_ERASE",
      "FT_DEVICE_NOT_OPENED_FOR_WRITE",
      "FT_FAILED_TO_WRITE_DEVICE",
      "FT_EEPROM_READ_FAILED",
      "FT_EEPROM_WRITE_FAILED",
      "FT_EEPROM_ERASE_FAILED",
      "FT_EEPROM_NOT_PRESENT",
      "FT_EEPROM_NOT_PROGRAMMED",
      "FT_INVALID_ARGS",
      "FT_NOT_SUPPORTED",
      "FT_OTHER_ERROR",
      "FT_DEVICE_LIST_NOT_READY",
  };
  if (status < std::size(kNames)) return kNames[status];
  if (status == kFtEntryPointNotFound) return "entry point not found";
  return "status " + std::to_string(status);
}

std::string FtCallFailure(const std::string& call, const std::string& arguments, FT_STATUS status) {
  return call + "(" + arguments + ") failed: " + FtStatusName(status);
}

std::int32_t GetUSBDeviceCount() {
  if (!Ftd2xx().Available()) {
    RecordError(kFtd2xxNotLoadedMessage);
    return -1;
  }
  DWORD count = 0;
  if (FtCall(Ftd2xx().entry.FT_CreateDeviceInfoList, &count) != kFtOk) return -1;
  return static_cast<std::int32_t>(count);
}

std::uint32_t GetUSBSerialNumber(std::int32_t index, char* buffer, std::uint32_t& length) {
  return CopyDetail(index, TDetail::kSerialNumber, buffer, length);
}

std::uint32_t GetUSBDescription(std::int32_t index, char* buffer, std::uint32_t& length) {
  return CopyDetail(index, TDetail::kDescription, buffer, length);
}

void FillUSBDeviceList(TUsbDeviceList& list) {
  constexpr std::size_t kDescriptionSize = 128;
  list.clear();
  const std::int32_t count = GetUSBDeviceCount();
  for (std::int32_t index = 0; index < count; ++index) {
    std::string text;
    if (!DetailText(index, TDetail::kDescription, kDescriptionSize, text)) return;
    if (!text.empty()) list.push_back({text, index});
  }
}

std::string GetUSBItemSerialNumber(const TUsbDeviceList& list, std::int32_t itemIndex) {
  constexpr std::size_t kSerialNumberSize = 256;
  if (itemIndex < 0 || static_cast<std::size_t>(itemIndex) >= list.size()) return {};
  std::string text;
  const std::int32_t tag = list[static_cast<std::size_t>(itemIndex)].tag;
  return DetailText(tag, TDetail::kSerialNumber, kSerialNumberSize, text) ? text : std::string();
}

std::string GetUSBLastErrorMessage() {
  std::lock_guard guard(lastErrorMutex);
  return lastErrorMessage;
}

}  // namespace zorvid
