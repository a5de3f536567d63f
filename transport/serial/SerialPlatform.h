#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

// The operating system's side of the serial port driver: everything above this header is
// platform-neutral. One implementation file per platform, chosen by the build.

namespace zorvid {

// How the driver holds DTR / RTS through the settings record.
enum class TDtrControl : std::uint8_t { Disable, Enable, Handshake };
enum class TRtsControl : std::uint8_t { Disable, Enable, Handshake };

// The line settings record: everything the driver applies to a port in one step.
struct TComSettings {
  std::int32_t baudRate = 9600;
  std::uint8_t byteSize = 8;  // data bits, 4..8
  std::uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
  bool binary = true;
  bool parityCheck = false;
  bool outxCtsFlow = false;  // output waits for CTS
  bool outxDsrFlow = false;  // output waits for DSR
  TDtrControl dtrControl = TDtrControl::Enable;
  bool dsrSensitivity = false;
  bool txContinueOnXoff = false;
  bool outX = false;  // software flow control of the output
  bool inX = false;   // software flow control of the input
  bool errorChar = false;
  bool stripNull = false;
  TRtsControl rtsControl = TRtsControl::Enable;
  std::uint16_t xonLim = 0;
  std::uint16_t xoffLim = 0;
  char xonChar = 17;
  char xoffChar = 19;

  friend bool operator==(const TComSettings&, const TComSettings&) = default;
};

// Line events the driver waits for (a mask of these).
inline constexpr std::uint32_t kEvRxChar = 0x0001;  // bytes arrived
inline constexpr std::uint32_t kEvCts = 0x0008;
inline constexpr std::uint32_t kEvDsr = 0x0010;
inline constexpr std::uint32_t kEvRlsd =
    0x0020;  // carrier detect; also raised when the line hangs up
inline constexpr std::uint32_t kEvErr = 0x0080;  // framing, overrun or parity error
inline constexpr std::uint32_t kEvRing = 0x0100;

// Line error bits, accumulated by the port status query.
inline constexpr std::uint32_t kCeRxOver = 0x0001;  // input buffer overflow
inline constexpr std::uint32_t kCeOverrun = 0x0002;
inline constexpr std::uint32_t kCeRxParity = 0x0004;
inline constexpr std::uint32_t kCeFrame = 0x0008;
inline constexpr std::uint32_t kCeBreak = 0x0010;

// Modem status bits.
inline constexpr std::uint32_t kMsCtsOn = 0x0010;
inline constexpr std::uint32_t kMsDsrOn = 0x0020;
inline constexpr std::uint32_t kMsRingOn = 0x0040;
inline constexpr std::uint32_t kMsRlsdOn = 0x0080;

enum TThreadPriority : std::uint8_t {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

// Gives the calling thread a scheduling priority; a priority the process may not take (raising
// it needs a privilege) leaves the thread as it is.
void SetCurrentThreadPriority(TThreadPriority priority);

// The device behind a port number: $ZORVID_COM<n> when set, else the platform's default
// naming; empty when the number has none.
std::string DevicePathForPort(int portNumber);
// Why a port number has no device, and how one can be named for it.
std::string NoDeviceForPortText(int portNumber);
// Whether a device of that path exists (it may still be busy).
bool DeviceExists(const std::string& path);

// An auto-reset signal that threads set and wait for, also together with a port.
// Any thread may set it; waits consume it.
class TSignal {
 public:
  TSignal();
  ~TSignal();
  TSignal(const TSignal&) = delete;
  TSignal& operator=(const TSignal&) = delete;

  void Set();
  void Reset();
  // True when it was set within the time-out (and is consumed).
  bool Wait(std::chrono::milliseconds timeout);

 private:
  friend struct TSignalAccess;  // the platform's waits
  int handle_;
};

// Waits for the first of the signals (without a time-out: for ever); the index of the one
// consumed, or -1 after the time-out.
int WaitForSignals(std::initializer_list<TSignal*> wakers,
                   std::optional<std::chrono::milliseconds> timeout);

// The system's text of an error number, with the number: "No such file or directory (errno 2)".
std::string SystemErrorText(int error);

enum class TOpenOutcome {
  Opened,
  NoDevice,         // nothing is there
  NotSerialDevice,  // something is there, but no terminal (a file, a FIFO, /dev/null)
  Refused           // busy, or not allowed
};

struct TPortStatus {
  std::uint32_t errors = 0;  // line error bits since the last query
  std::int32_t inputCount = 0;
  std::int32_t outputCount = 0;
};

// What a wait of the event thread ended with.
struct TLineWaitResult {
  enum TKind { Signalled, LineEvents, TimedOut } kind = TimedOut;
  int signal = -1;         // Signalled: index of the signal consumed
  std::uint32_t mask = 0;  // LineEvents: kEv... bits
};

// One open serial device.
//
// Threads: Open, Close and the settings calls run on the thread that opens and closes the
// port, before the driver's threads start or after they ended. Read, QueryStatus, Purge,
// ModemStatus and SetLine run under the driver's read lock (Purge of the output under its
// write lock); Write runs on the write thread under the write lock, WaitWritable on the write
// thread without it; WaitReadable on the owner's thread without a lock (the handle changes
// only on that thread);
// StartLineEvents and WaitLineEvents on the event thread only (their fields are that
// thread's). The handle itself changes only in Open and Close.
class TSerialDevice {
 public:
  TSerialDevice() = default;
  ~TSerialDevice();
  TSerialDevice(const TSerialDevice&) = delete;
  TSerialDevice& operator=(const TSerialDevice&) = delete;

  // Opens the device for exclusive non-blocking use (a second opener finds it busy).
  TOpenOutcome Open(const std::string& path);
  // The device's path as the system resolved it (the path given when that failed).
  const std::string& Path() const { return path_; }
  // Why the last Open, MakeReadsImmediate, Apply or StartLineEvents that failed did: the
  // device's path and the system's error text with its number, or what the platform cannot do.
  // Guarded like those calls.
  const std::string& Failure() const { return failure_; }
  bool IsOpen() const { return handle_ >= 0; }
  void Close();
  // The open device is a legacy serial port slot with no UART behind it: the system lists it
  // and it opens, but it can never carry a byte.
  bool IsEmptyLegacySlot() const;

  // Makes reads return at once with whatever is waiting.
  bool MakeReadsImmediate();
  // Applies the record; false when the device or this platform cannot take it.
  bool Apply(const TComSettings& settings);
  // The settings the device holds now.
  std::optional<TComSettings> ReadBack() const;

  // Takes the baselines of the line-event wait; false when the device cannot report them.
  bool StartLineEvents();
  // Waits up to `timeout` for one of the signals or for line events. A hangup is reported
  // once, as a carrier-detect change, after which only the signals are watched.
  TLineWaitResult WaitLineEvents(std::initializer_list<TSignal*> wakers,
                                 std::chrono::milliseconds timeout);
  bool HungUp() const { return hungUp_.load(); }

  TPortStatus QueryStatus();
  // Reads up to `count` bytes that wait now; the number read.
  std::int32_t Read(char* buffer, std::int32_t count);
  // Waits until bytes can be read or `timeout` passed; true when they can. A hung-up line
  // returns false at once: nothing more will come. A hangup seen here turns HungUp true at
  // once; the event thread still reports it.
  bool WaitReadable(std::chrono::milliseconds timeout);
  // Writes what the device takes now: the number written, 0 when it takes nothing now, -1 when
  // the write failed.
  std::ptrdiff_t Write(const char* data, std::size_t count);
  // Waits until the device takes bytes (or fails) or one of the signals is set: -1, or the
  // index of the signal consumed.
  int WaitWritable(std::initializer_list<TSignal*> wakers);
  void Purge(bool input, bool output);

  enum class TOutputLine { DTR, RTS };
  void SetLine(TOutputLine line, bool asserted);
  std::uint32_t ModemStatus();

 private:
  struct TLineCounters {
    std::uint32_t cts = 0, dsr = 0, ring = 0, carrier = 0;
    std::uint32_t frame = 0, overrun = 0, parity = 0, brk = 0, bufferOverrun = 0;
  };
  enum class TModemWatch { None, Counters, States };

  std::uint32_t CollectLineEvents();
  std::uint32_t InputEvents();
  std::uint32_t ModemEvents();
  std::optional<TLineCounters> ReadCounters() const;
  std::int32_t InputCount() const;
  bool NeedsPolling() const;

  TOpenOutcome OpenFailed(int error);
  TOpenOutcome NotSerialDevice(int handle);
  // Records `reason` of the path as the failure; false.
  bool Fail(const std::string& reason);
  // Records the system's error of the call that just failed; false.
  bool FailWithSystemError();

  int handle_ = -1;
  // Set by Open and by the calls that fail, under their guard (see Threads above).
  std::string path_;
  std::string failure_;
  // Set by the event thread or a wait for input, whichever sees the hangup first; read anywhere.
  std::atomic<bool> hungUp_{false};

  // Event thread only.
  bool hangupReported_ = false;  // the carrier-detect change for the hangup went out
  TModemWatch modemWatch_ = TModemWatch::None;
  TLineCounters eventCounters_;
  std::uint32_t lastModemStatus_ = 0;
  std::int32_t reportedInput_ = 0;  // input count at the last check
  // Bytes read since the last check, so that new bytes arriving right after a read still
  // count as new. Added to under the read lock, taken by the event thread.
  std::atomic<std::int32_t> readSinceCheck_{0};

  // Read lock.
  TLineCounters statusCounters_;
};

}  // namespace zorvid
