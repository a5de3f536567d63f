#pragma once

// The USB bridge's driver library, bound at run time: its types in their Linux form, one
// function-pointer type per entry point, the process-wide binding and the enumeration of the
// attached bridges. Every dlopen/dlsym of the program is in FTDICore.cpp.

#include <pthread.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zorvid {

using DWORD = std::uint32_t;
using ULONG = std::uint32_t;
using USHORT = std::uint16_t;
using UCHAR = unsigned char;
using FT_HANDLE = void*;
using FT_STATUS = std::uint32_t;

// What the library signals when bytes arrive or a modem line changes; its owner initialises
// the mutex and the condition variable.
struct EVENT_HANDLE {
  pthread_cond_t eCondVar;
  pthread_mutex_t eMutex;
  int iVar;
};

inline constexpr FT_STATUS kFtOk = 0;
inline constexpr FT_STATUS kFtIoError = 4;
// What calling an entry point yields when the library lacks it.
inline constexpr FT_STATUS kFtEntryPointNotFound = 0xFFFF;

// The library's name of a status ("FT_IO_ERROR"), or "status N" for one it does not define.
std::string FtStatusName(FT_STATUS status);
// Why a call failed: `FT_OpenEx("A1B2C3") failed: FT_DEVICE_NOT_FOUND`, the arguments as given.
std::string FtCallFailure(const std::string& call, const std::string& arguments, FT_STATUS status);

inline constexpr DWORD kFtOpenBySerialNumber = 1;
inline constexpr DWORD kFtEventRxChar = 1;
inline constexpr DWORD kFtEventModemStatus = 2;
inline constexpr ULONG kFtPurgeRx = 1;
inline constexpr ULONG kFtPurgeTx = 2;
// The buffers FT_GetDeviceInfoDetail fills, larger than any text it writes.
inline constexpr std::size_t kFtSerialNumberBuffer = 128;
inline constexpr std::size_t kFtDescriptionBuffer = 129;

// The entry points the program calls, in the order in which they are looked up. The library
// has more; binding only these lets a library that lacks an unused one still serve.
extern "C" {
using TFT_Write = FT_STATUS (*)(FT_HANDLE handle, void* buffer, DWORD count, DWORD* written);
using TFT_Close = FT_STATUS (*)(FT_HANDLE handle);
using TFT_Read = FT_STATUS (*)(FT_HANDLE handle, void* buffer, DWORD count, DWORD* read);
using TFT_SetBaudRate = FT_STATUS (*)(FT_HANDLE handle, ULONG baudRate);
using TFT_SetDataCharacteristics = FT_STATUS (*)(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                                 UCHAR parity);
using TFT_ResetDevice = FT_STATUS (*)(FT_HANDLE handle);
using TFT_SetDtr = FT_STATUS (*)(FT_HANDLE handle);
using TFT_ClrDtr = FT_STATUS (*)(FT_HANDLE handle);
using TFT_SetRts = FT_STATUS (*)(FT_HANDLE handle);
using TFT_ClrRts = FT_STATUS (*)(FT_HANDLE handle);
using TFT_Purge = FT_STATUS (*)(FT_HANDLE handle, ULONG mask);
using TFT_GetQueueStatus = FT_STATUS (*)(FT_HANDLE handle, DWORD* receivedCount);
using TFT_OpenEx = FT_STATUS (*)(void* arg, DWORD flags, FT_HANDLE* handle);
using TFT_CreateDeviceInfoList = FT_STATUS (*)(DWORD* count);
using TFT_GetDeviceInfoDetail = FT_STATUS (*)(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                              DWORD* locationId, void* serialNumber,
                                              void* description, FT_HANDLE* handle);
// `event` is the address of an EVENT_HANDLE.
using TFT_SetEventNotification = FT_STATUS (*)(FT_HANDLE handle, DWORD mask, void* event);
}

// The entry points found; null for one the library lacks (calls go through FtCall).
struct TFtd2xxEntryPoints {
  TFT_Write FT_Write = nullptr;
  TFT_Close FT_Close = nullptr;
  TFT_Read FT_Read = nullptr;
  TFT_SetBaudRate FT_SetBaudRate = nullptr;
  TFT_SetDataCharacteristics FT_SetDataCharacteristics = nullptr;
  TFT_ResetDevice FT_ResetDevice = nullptr;
  TFT_SetDtr FT_SetDtr = nullptr;
  TFT_ClrDtr FT_ClrDtr = nullptr;
  TFT_SetRts FT_SetRts = nullptr;
  TFT_ClrRts FT_ClrRts = nullptr;
  TFT_Purge FT_Purge = nullptr;
  TFT_GetQueueStatus FT_GetQueueStatus = nullptr;
  TFT_OpenEx FT_OpenEx = nullptr;
  TFT_CreateDeviceInfoList FT_CreateDeviceInfoList = nullptr;
  TFT_GetDeviceInfoDetail FT_GetDeviceInfoDetail = nullptr;
  TFT_SetEventNotification FT_SetEventNotification = nullptr;
};

// The library as this process bound it. Loaded once, on first use (registering the transport
// does that at start-up), and released when the process ends; immutable in between, so any
// thread may read it.
struct TFtd2xxBinding {
  bool loaded = false;
  // The file names tried, up to and including the one loaded.
  std::vector<std::string> triedNames;
  // Every entry point not found, each followed by "\r"; every one of them without a library.
  std::string missingNames;
  TFtd2xxEntryPoints entry;

  bool Available() const { return loaded && missingNames.empty(); }
  // Why the library cannot be used: the names tried, or the entry points it lacks; "" when it
  // can.
  std::string UnavailableReason() const;
};

const TFtd2xxBinding& Ftd2xx();

// Calls an entry point of the binding, or yields kFtEntryPointNotFound for one not found.
template <class... Params, class... Args>
FT_STATUS FtCall(FT_STATUS (*entry)(Params...), Args... args) {
  return entry ? entry(args...) : kFtEntryPointNotFound;
}

// The file names tried, in order, and the message for a library that could not be used.
inline constexpr const char* kFtd2xxFileNames[] = {"libftd2xx.so", "libftd2xx.so.1"};
inline constexpr const char* kFtd2xxNotLoadedMessage = "Library libftd2xx.so was not loaded.";

// Result codes of the enumeration: 0 is success.
inline constexpr std::uint32_t kUsbErrorRaised = 0x20000002;
inline constexpr std::uint32_t kUsbBufferTooSmall = 0x20000004;
inline constexpr std::uint32_t kUsbLibraryNotAvailable = 0x20000015;
// Plus the library's status.
inline constexpr std::uint32_t kUsbLibraryCallFailed = 0x20000064;

// An attached bridge as the connection dialog lists it: its description, and its index in the
// library's list as the tag.
struct TUsbDeviceItem {
  std::string text;
  std::int32_t tag = 0;
};
using TUsbDeviceList = std::vector<TUsbDeviceItem>;

// The number of attached bridges, or -1 on any failure.
std::int32_t GetUSBDeviceCount();
// The serial number / description of the bridge at `index`. With a buffer of at least the text's
// length + 1 bytes: the text and a terminating zero, `length` becomes the text's length. With a
// shorter buffer: kUsbBufferTooSmall, `length` becomes the length + 1. Without a buffer: 0 and
// `length` becomes the length + 1.
std::uint32_t GetUSBSerialNumber(std::int32_t index, char* buffer, std::uint32_t& length);
std::uint32_t GetUSBDescription(std::int32_t index, char* buffer, std::uint32_t& length);
// Replaces the list by the bridges with a description; the first failure ends it silently.
void FillUSBDeviceList(TUsbDeviceList& list);
// The serial number of the bridge that item `itemIndex` lists, or "" on any failure.
std::string GetUSBItemSerialNumber(const TUsbDeviceList& list, std::int32_t itemIndex);
// The message of the last enumeration that failed with kUsbErrorRaised or
// kUsbLibraryNotAvailable, on any thread.
std::string GetUSBLastErrorMessage();

}  // namespace zorvid
