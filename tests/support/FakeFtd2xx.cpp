// A stand-in for the USB bridge's driver library, built as libftd2xx.so for the tests, which
// find it through LD_LIBRARY_PATH as the program finds the real one. It exports the entry points
// the program binds, with the binding's own function types (checked at compile time), a few the
// program leaves unbound, and plays the bridges from the environment:
//
//   ZORVID_FTDI_<SERIAL>=pty:<path> | tcp:<host>:<port>   the line behind bridge <SERIAL> (a
//                                                         pseudo-terminal takes the bridge's speed)
//   ZORVID_FTDI_DEVICES=<SERIAL>:<description>,...        the bridges the enumeration lists
//   ZORVID_FTDI_FAIL=<entry point>:<status>,...           those calls fail with that status
//   ZORVID_FTDI_READ_CHUNK=<n>                            at most n bytes per FT_Read
//   ZORVID_FTDI_TRACE=<file>                              one line per call: name and arguments
//
// The settings of a bridge (failures, chunk, trace) are taken when it is opened, so that its
// reader thread never reads the environment while a test changes it. Built with
// FAKE_FTD2XX_WITHOUT_FT_SETDTR it lacks FT_SetDtr, like a library the program cannot use.
//
// Threads: each open bridge has a watcher thread that moves arriving bytes into the bridge's
// receive queue and then signals the caller's EVENT_HANDLE (holding its mutex, as the library
// does). A bridge's queue and notification are guarded by its mutex; the set of open bridges and
// the trace file by mutexes of their own. No mutex of the stand-in is held while it signals.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "transport/FTDICore.h"
#include "transport/serial/SerialBaudLinux.h"

using namespace zorvid;

namespace {

constexpr FT_STATUS kInvalidHandle = 1;
constexpr FT_STATUS kDeviceNotFound = 2;
constexpr FT_STATUS kDeviceNotOpened = 3;
constexpr FT_STATUS kInvalidParameter = 6;
constexpr FT_STATUS kNotSupported = 17;
constexpr int kWatchStepMs = 10;
constexpr int kWriteLimitMs = 2000;

std::string Environment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value ? value : "";
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= text.size() && !text.empty()) {
    const std::size_t end = std::min(text.find(separator, start), text.size());
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// "FT_Read:4,FT_SetBaudRate:3" as entry point -> status.
std::map<std::string, FT_STATUS> FailRules() {
  std::map<std::string, FT_STATUS> rules;
  for (const std::string& rule : Split(Environment("ZORVID_FTDI_FAIL"), ',')) {
    const std::size_t colon = rule.find(':');
    if (colon != std::string::npos)
      rules[rule.substr(0, colon)] =
          static_cast<FT_STATUS>(std::strtoul(rule.c_str() + colon + 1, nullptr, 10));
  }
  return rules;
}

FT_STATUS FailureOf(const std::map<std::string, FT_STATUS>& rules, const char* name) {
  const auto rule = rules.find(name);
  return rule == rules.end() ? kFtOk : rule->second;
}

void Trace(const std::string& path, const std::string& line) {
  static auto* traceMutex = new std::mutex;
  if (path.empty()) return;
  std::lock_guard guard(*traceMutex);
  if (FILE* file = std::fopen(path.c_str(), "a")) {
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
  }
}

// A call that does not belong to an open bridge: traced and failed from the environment now.
FT_STATUS GlobalCall(const char* name, const std::string& arguments) {
  Trace(Environment("ZORVID_FTDI_TRACE"), arguments.empty() ? name : name + (" " + arguments));
  return FailureOf(FailRules(), name);
}

int OpenPty(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios terminal{};
  if (fd >= 0 && tcgetattr(fd, &terminal) == 0) {
    cfmakeraw(&terminal);
    tcsetattr(fd, TCSANOW, &terminal);
  }
  return fd;
}

int ConnectTcp(const std::string& hostAndPort) {
  const std::size_t colon = hostAndPort.rfind(':');
  if (colon == std::string::npos) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(std::atoi(hostAndPort.c_str() + colon + 1)));
  if (inet_pton(AF_INET, hostAndPort.substr(0, colon).c_str(), &address.sin_addr) != 1) return -1;
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  return fd;
}

// The line named by "pty:<path>" or "tcp:<host>:<port>", or -1.
int OpenEndpoint(const std::string& endpoint) {
  if (endpoint.starts_with("pty:")) return OpenPty(endpoint.substr(4));
  if (endpoint.starts_with("tcp:")) return ConnectTcp(endpoint.substr(4));
  return -1;
}

struct TBridge {
  std::string serialNumber;
  int fd = -1;
  std::map<std::string, FT_STATUS> failRules;
  std::size_t readChunk = 0;  // 0: no limit
  std::string tracePath;
  std::thread watcher;

  std::mutex mutex;  // guards the fields below
  std::string queue;
  EVENT_HANDLE* event = nullptr;
  DWORD eventMask = 0;
  bool stop = false;
};

// The open bridges; a handle is valid while its bridge is listed. Never destroyed, so that a
// bridge left open when the process ends does not meet a destroyed set.
std::mutex& BridgesMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}
std::set<TBridge*>& Bridges() {
  static auto* bridges = new std::set<TBridge*>;
  return *bridges;
}

void Signal(EVENT_HANDLE* event) {
  pthread_mutex_lock(&event->eMutex);
  pthread_cond_signal(&event->eCondVar);
  pthread_mutex_unlock(&event->eMutex);
}

// Watcher thread of one bridge.
void Watch(TBridge* bridge) {
  char buffer[4096];
  for (;;) {
    {
      std::lock_guard guard(bridge->mutex);
      if (bridge->stop) return;
    }
    pollfd readable{bridge->fd, POLLIN, 0};
    if (poll(&readable, 1, kWatchStepMs) <= 0) continue;
    const ssize_t got = read(bridge->fd, buffer, sizeof buffer);
    if (got <= 0) {
      // The other side hung up (or nothing was there after all): no busy loop meanwhile.
      std::this_thread::sleep_for(std::chrono::milliseconds(kWatchStepMs));
      continue;
    }
    EVENT_HANDLE* event = nullptr;
    {
      std::lock_guard guard(bridge->mutex);
      bridge->queue.append(buffer, static_cast<std::size_t>(got));
      if (bridge->eventMask & kFtEventRxChar) event = bridge->event;
    }
    if (event) Signal(event);
  }
}

// A call on an open bridge: traced, then failed when the bridge's rules say so.
FT_STATUS BridgeCall(FT_HANDLE handle, const char* name, const std::string& arguments,
                     TBridge*& bridge) {
  {
    std::lock_guard guard(BridgesMutex());
    const auto found = Bridges().find(static_cast<TBridge*>(handle));
    if (found == Bridges().end()) {
      GlobalCall(name, "<invalid handle>");
      return kInvalidHandle;
    }
    bridge = *found;
  }
  Trace(bridge->tracePath, arguments.empty() ? name : name + (" " + arguments));
  return FailureOf(bridge->failRules, name);
}

FT_STATUS SimpleBridgeCall(FT_HANDLE handle, const char* name, const std::string& arguments = "") {
  TBridge* bridge = nullptr;
  return BridgeCall(handle, name, arguments, bridge);
}

std::string Numbers(std::initializer_list<unsigned long> values) {
  std::string text;
  for (unsigned long value : values) {
    // Appended piece by piece: g++ 12 at -O3 takes a prefix to a moved string for an
    // overlapping copy (-Wrestrict).
    if (!text.empty()) text += ' ';
    text += std::to_string(value);
  }
  return text;
}

// The bridges the enumeration lists, as (serial number, description).
std::vector<std::pair<std::string, std::string>> ListedBridges() {
  std::vector<std::pair<std::string, std::string>> listed;
  for (const std::string& entry : Split(Environment("ZORVID_FTDI_DEVICES"), ',')) {
    const std::size_t colon = entry.find(':');
    listed.emplace_back(entry.substr(0, colon),
                        colon == std::string::npos ? "" : entry.substr(colon + 1));
  }
  return listed;
}

// Copies at most `size` - 1 bytes and a terminating zero, as the library fills its fields.
void CopyText(const std::string& text, void* target, std::size_t size) {
  const std::size_t count = std::min(text.size(), size - 1);
  std::memcpy(target, text.data(), count);
  static_cast<char*>(target)[count] = '\0';
}

bool WriteAll(int fd, const char* data, DWORD count, DWORD& written) {
  written = 0;
  int waitedMs = 0;
  while (written < count && waitedMs < kWriteLimitMs) {
    const ssize_t done = write(fd, data + written, count - written);
    if (done > 0) {
      written += static_cast<DWORD>(done);
      continue;
    }
    if (done < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd writable{fd, POLLOUT, 0};
    poll(&writable, 1, kWatchStepMs);
    waitedMs += kWatchStepMs;
  }
  return written == count;
}

}  // namespace

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD count, DWORD* written) {
  TBridge* bridge = nullptr;
  if (const FT_STATUS status = BridgeCall(handle, "FT_Write", Numbers({count}), bridge))
    return status;
  return WriteAll(bridge->fd, static_cast<const char*>(buffer), count, *written) ? kFtOk
                                                                                 : kFtIoError;
}

FAKE_EXPORT FT_STATUS FT_Open(int deviceNumber, FT_HANDLE* handle) {
  *handle = nullptr;
  const FT_STATUS status =
      GlobalCall("FT_Open", Numbers({static_cast<unsigned long>(deviceNumber)}));
  return status != kFtOk ? status : kNotSupported;  // bridges are opened by serial number only
}

FAKE_EXPORT FT_STATUS FT_Close(FT_HANDLE handle) {
  TBridge* bridge = nullptr;
  if (const FT_STATUS status = BridgeCall(handle, "FT_Close", "", bridge)) return status;
  {
    std::lock_guard guard(BridgesMutex());
    Bridges().erase(bridge);
  }
  {
    std::lock_guard guard(bridge->mutex);
    bridge->stop = true;
  }
  bridge->watcher.join();
  close(bridge->fd);
  delete bridge;
  return kFtOk;
}

FAKE_EXPORT FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD count, DWORD* read) {
  TBridge* bridge = nullptr;
  *read = 0;
  if (const FT_STATUS status = BridgeCall(handle, "FT_Read", Numbers({count}), bridge))
    return status;
  std::lock_guard guard(bridge->mutex);
  std::size_t take = std::min<std::size_t>(count, bridge->queue.size());
  if (bridge->readChunk > 0) take = std::min(take, bridge->readChunk);
  std::memcpy(buffer, bridge->queue.data(), take);
  bridge->queue.erase(0, take);
  *read = static_cast<DWORD>(take);
  return kFtOk;
}

// A bridge to a pseudo-terminal sets its speed, which the simulator at the other end reads as
// a real line's receiver would hear it; a socket has none to set.
FAKE_EXPORT FT_STATUS FT_SetBaudRate(FT_HANDLE handle, ULONG baudRate) {
  TBridge* bridge = nullptr;
  const FT_STATUS status = BridgeCall(handle, "FT_SetBaudRate", Numbers({baudRate}), bridge);
  if (status == kFtOk && bridge) SetAnyBaudRate(bridge->fd, static_cast<std::int32_t>(baudRate));
  return status;
}

FAKE_EXPORT FT_STATUS FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                                UCHAR parity) {
  return SimpleBridgeCall(handle, "FT_SetDataCharacteristics",
                          Numbers({wordLength, stopBits, parity}));
}

FAKE_EXPORT FT_STATUS FT_SetFlowControl(FT_HANDLE handle, USHORT flowControl, UCHAR xon,
                                        UCHAR xoff) {
  return SimpleBridgeCall(handle, "FT_SetFlowControl", Numbers({flowControl, xon, xoff}));
}

FAKE_EXPORT FT_STATUS FT_ResetDevice(FT_HANDLE handle) {
  return SimpleBridgeCall(handle, "FT_ResetDevice");
}

#ifndef FAKE_FTD2XX_WITHOUT_FT_SETDTR
FAKE_EXPORT FT_STATUS FT_SetDtr(FT_HANDLE handle) {
  return SimpleBridgeCall(handle, "FT_SetDtr");
}
static_assert(std::is_same_v<decltype(&FT_SetDtr), TFT_SetDtr>);
#endif

FAKE_EXPORT FT_STATUS FT_ClrDtr(FT_HANDLE handle) {
  return SimpleBridgeCall(handle, "FT_ClrDtr");
}

FAKE_EXPORT FT_STATUS FT_SetRts(FT_HANDLE handle) {
  return SimpleBridgeCall(handle, "FT_SetRts");
}

FAKE_EXPORT FT_STATUS FT_ClrRts(FT_HANDLE handle) {
  return SimpleBridgeCall(handle, "FT_ClrRts");
}

FAKE_EXPORT FT_STATUS FT_GetModemStatus(FT_HANDLE handle, ULONG* modemStatus) {
  *modemStatus = 0;  // a pseudo-terminal or a socket has no modem lines
  return SimpleBridgeCall(handle, "FT_GetModemStatus");
}

FAKE_EXPORT FT_STATUS FT_SetChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventCharEnabled,
                                  UCHAR errorChar, UCHAR errorCharEnabled) {
  return SimpleBridgeCall(handle, "FT_SetChars",
                          Numbers({eventChar, eventCharEnabled, errorChar, errorCharEnabled}));
}

FAKE_EXPORT FT_STATUS FT_Purge(FT_HANDLE handle, ULONG mask) {
  TBridge* bridge = nullptr;
  if (const FT_STATUS status = BridgeCall(handle, "FT_Purge", Numbers({mask}), bridge))
    return status;
  if (mask & kFtPurgeRx) {
    std::lock_guard guard(bridge->mutex);
    bridge->queue.clear();
  }
  return kFtOk;
}

FAKE_EXPORT FT_STATUS FT_SetTimeouts(FT_HANDLE handle, ULONG readTimeout, ULONG writeTimeout) {
  return SimpleBridgeCall(handle, "FT_SetTimeouts", Numbers({readTimeout, writeTimeout}));
}

FAKE_EXPORT FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* receivedCount) {
  TBridge* bridge = nullptr;
  *receivedCount = 0;
  if (const FT_STATUS status = BridgeCall(handle, "FT_GetQueueStatus", "", bridge)) return status;
  std::lock_guard guard(bridge->mutex);
  *receivedCount = static_cast<DWORD>(bridge->queue.size());
  return kFtOk;
}

FAKE_EXPORT FT_STATUS FT_ListDevices(void*, void*, DWORD flags) {
  const FT_STATUS status = GlobalCall("FT_ListDevices", Numbers({flags}));
  return status != kFtOk ? status : kNotSupported;
}

FAKE_EXPORT FT_STATUS FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle) {
  *handle = nullptr;
  const std::string serialNumber = static_cast<const char*>(arg);
  if (const FT_STATUS status = GlobalCall("FT_OpenEx", serialNumber + " " + Numbers({flags})))
    return status;
  if (flags != kFtOpenBySerialNumber) return kInvalidParameter;
  const std::string endpoint = Environment("ZORVID_FTDI_" + serialNumber);
  if (endpoint.empty()) return kDeviceNotFound;
  const int fd = OpenEndpoint(endpoint);
  if (fd < 0) return kDeviceNotOpened;
  auto* bridge = new TBridge;
  bridge->serialNumber = serialNumber;
  bridge->fd = fd;
  bridge->failRules = FailRules();
  bridge->readChunk = std::strtoul(Environment("ZORVID_FTDI_READ_CHUNK").c_str(), nullptr, 10);
  bridge->tracePath = Environment("ZORVID_FTDI_TRACE");
  bridge->watcher = std::thread(Watch, bridge);
  std::lock_guard guard(BridgesMutex());
  Bridges().insert(bridge);
  *handle = bridge;
  return kFtOk;
}

FAKE_EXPORT FT_STATUS FT_GetDeviceInfoList(void*, DWORD* count) {
  *count = 0;
  const FT_STATUS status = GlobalCall("FT_GetDeviceInfoList", "");
  return status != kFtOk ? status : kNotSupported;
}

FAKE_EXPORT FT_STATUS FT_CreateDeviceInfoList(DWORD* count) {
  *count = 0;
  if (const FT_STATUS status = GlobalCall("FT_CreateDeviceInfoList", "")) return status;
  *count = static_cast<DWORD>(ListedBridges().size());
  return kFtOk;
}

FAKE_EXPORT FT_STATUS FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                             DWORD* locationId, void* serialNumber,
                                             void* description, FT_HANDLE* handle) {
  if (const FT_STATUS status = GlobalCall("FT_GetDeviceInfoDetail", Numbers({index})))
    return status;
  const auto listed = ListedBridges();
  if (index >= listed.size()) return kDeviceNotFound;
  *flags = *type = *id = 0;
  *locationId = index + 1;
  *handle = nullptr;
  constexpr std::size_t kSerialNumberField = 16;
  constexpr std::size_t kDescriptionField = 64;
  CopyText(listed[index].first, serialNumber, kSerialNumberField);
  CopyText(listed[index].second, description, kDescriptionField);
  return kFtOk;
}

FAKE_EXPORT FT_STATUS FT_SetEventNotification(FT_HANDLE handle, DWORD mask, void* event) {
  TBridge* bridge = nullptr;
  if (const FT_STATUS status =
          BridgeCall(handle, "FT_SetEventNotification", Numbers({mask}), bridge))
    return status;
  std::lock_guard guard(bridge->mutex);
  bridge->event = static_cast<EVENT_HANDLE*>(event);
  bridge->eventMask = mask;
  return kFtOk;
}

FAKE_EXPORT FT_STATUS FT_EraseEE(FT_HANDLE handle) {
  return SimpleBridgeCall(handle, "FT_EraseEE");
}

FAKE_EXPORT FT_STATUS FT_EE_Read(FT_HANDLE handle, void*) {
  const FT_STATUS status = SimpleBridgeCall(handle, "FT_EE_Read");
  return status != kFtOk ? status : kNotSupported;
}

FAKE_EXPORT FT_STATUS FT_EE_Program(FT_HANDLE handle, void*) {
  const FT_STATUS status = SimpleBridgeCall(handle, "FT_EE_Program");
  return status != kFtOk ? status : kNotSupported;
}

// The stand-in must be callable through the binding's types.
static_assert(std::is_same_v<decltype(&FT_Write), TFT_Write>);
static_assert(std::is_same_v<decltype(&FT_Close), TFT_Close>);
static_assert(std::is_same_v<decltype(&FT_Read), TFT_Read>);
static_assert(std::is_same_v<decltype(&FT_SetBaudRate), TFT_SetBaudRate>);
static_assert(std::is_same_v<decltype(&FT_SetDataCharacteristics), TFT_SetDataCharacteristics>);
static_assert(std::is_same_v<decltype(&FT_ResetDevice), TFT_ResetDevice>);
static_assert(std::is_same_v<decltype(&FT_ClrDtr), TFT_ClrDtr>);
static_assert(std::is_same_v<decltype(&FT_SetRts), TFT_SetRts>);
static_assert(std::is_same_v<decltype(&FT_ClrRts), TFT_ClrRts>);
static_assert(std::is_same_v<decltype(&FT_Purge), TFT_Purge>);
static_assert(std::is_same_v<decltype(&FT_GetQueueStatus), TFT_GetQueueStatus>);
static_assert(std::is_same_v<decltype(&FT_OpenEx), TFT_OpenEx>);
static_assert(std::is_same_v<decltype(&FT_CreateDeviceInfoList), TFT_CreateDeviceInfoList>);
static_assert(std::is_same_v<decltype(&FT_GetDeviceInfoDetail), TFT_GetDeviceInfoDetail>);
static_assert(std::is_same_v<decltype(&FT_SetEventNotification), TFT_SetEventNotification>);
