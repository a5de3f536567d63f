#include "transport/FTDICore.h"

#include <dlfcn.h>

#include <cstring>
#include <exception>
#include <mutex>

namespace zorvid {
namespace {

// The library's handle, closed when the process ends.
class TLibraryHandle {
 public:
  TLibraryHandle() {
    for (const char* fileName : kFtd2xxFileNames) {
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

 private:
  void* handle_ = nullptr;
};

// dlsym's result goes into a function pointer of the entry point's own type.
template <class TFunction>
void LookUp(void* library, const char* name, TFunction& entry, std::string& missingNames) {
  void* symbol = library ? dlsym(library, name) : nullptr;
  static_assert(sizeof(symbol) == sizeof(entry));
  std::memcpy(&entry, &symbol, sizeof entry);
  if (!symbol) missingNames += std::string(name) + "\r";
}

TFtd2xxBinding Bind(void* library) {
  TFtd2xxBinding binding;
  binding.loaded = library != nullptr;
  TFtd2xxEntryPoints& e = binding.entry;
  std::string& missing = binding.missingNames;
  LookUp(library, "FT_Write", e.FT_Write, missing);
  LookUp(library, "FT_Open", e.FT_Open, missing);
  LookUp(library, "FT_Close", e.FT_Close, missing);
  LookUp(library, "FT_Read", e.FT_Read, missing);
  LookUp(library, "FT_SetBaudRate", e.FT_SetBaudRate, missing);
  LookUp(library, "FT_SetDataCharacteristics", e.FT_SetDataCharacteristics, missing);
  LookUp(library, "FT_SetFlowControl", e.FT_SetFlowControl, missing);
  LookUp(library, "FT_ResetDevice", e.FT_ResetDevice, missing);
  LookUp(library, "FT_SetDtr", e.FT_SetDtr, missing);
  LookUp(library, "FT_ClrDtr", e.FT_ClrDtr, missing);
  LookUp(library, "FT_SetRts", e.FT_SetRts, missing);
  LookUp(library, "FT_ClrRts", e.FT_ClrRts, missing);
  LookUp(library, "FT_GetModemStatus", e.FT_GetModemStatus, missing);
  LookUp(library, "FT_SetChars", e.FT_SetChars, missing);
  LookUp(library, "FT_Purge", e.FT_Purge, missing);
  LookUp(library, "FT_SetTimeouts", e.FT_SetTimeouts, missing);
  LookUp(library, "FT_GetQueueStatus", e.FT_GetQueueStatus, missing);
  // Three uses of the one listing function: a count, one bridge's text, all bridges' texts.
  for (int use = 0; use < 3; ++use)
    LookUp(library, "FT_ListDevices", e.FT_ListDevices, missing);
  LookUp(library, "FT_OpenEx", e.FT_OpenEx, missing);
  LookUp(library, "FT_GetDeviceInfoList", e.FT_GetDeviceInfoList, missing);
  LookUp(library, "FT_CreateDeviceInfoList", e.FT_CreateDeviceInfoList, missing);
  LookUp(library, "FT_GetDeviceInfoDetail", e.FT_GetDeviceInfoDetail, missing);
  LookUp(library, "FT_SetEventNotification", e.FT_SetEventNotification, missing);
  LookUp(library, "FT_EraseEE", e.FT_EraseEE, missing);
  LookUp(library, "FT_EE_Read", e.FT_EE_Read, missing);
  LookUp(library, "FT_EE_Program", e.FT_EE_Program, missing);
  return binding;
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
  static const TFtd2xxBinding binding = Bind(library.Get());
  return binding;
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
