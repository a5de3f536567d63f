#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "core/HandlerSlot.h"
#include "core/Types.h"
#include "transport/serial/ComPortCore.h"
#include "transport/serial/SafeSync.h"

namespace zorvid {

// An error of the component; its text is "<what failed> - <component name> ".
class EComPortError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TComBaudrate : std::uint8_t {
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000,
  brUser
};
enum TComDatabits : std::uint8_t { db4, db5, db6, db7, db8 };
enum TComParity : std::uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TComStopbits : std::uint8_t { sbOne, sbOneAndHalf, sbTwo };
enum TComFlowControl : std::uint8_t { fwNone, fwXOnXOff, fwRtsCts, fwDtrDsr };
enum TComOption : std::uint8_t {
  coParityCheck,
  coDsrSensitivity,
  coIgnoreXOff,
  coErrorChar,
  coStripNull
};

// A set of TComOption.
class TComOptions {
 public:
  constexpr TComOptions() = default;
  constexpr TComOptions(std::initializer_list<TComOption> options) {
    for (const TComOption option : options)
      Include(option);
  }
  constexpr bool Contains(TComOption option) const { return (bits_ & Bit(option)) != 0; }
  constexpr void Include(TComOption option) { bits_ |= Bit(option); }
  friend constexpr bool operator==(TComOptions, TComOptions) = default;

 private:
  static constexpr std::uint8_t Bit(TComOption option) {
    return static_cast<std::uint8_t>(1u << option);
  }
  std::uint8_t bits_ = 0;
};

// The rate of a fixed TComBaudrate in bits per second (brUser has none: 0).
std::int32_t FixedBaudRate(TComBaudrate rate);

// Shows the port settings dialog for `portName` ("COM3") filled with `settings`; true when the
// user confirmed, with the chosen settings written back. Installed by the user interface;
// without it ShowSettingsDialog returns false.
using TPortSettingsHook = bool (*)(const std::string& portName, TComSettings& settings);
void SetPortSettingsHook(TPortSettingsHook hook);

// The flow control a settings record describes, and writing one into a record (the handshake
// lines and the software flow control; the other fields stay).
TComFlowControl DecodeFlowControl(const TComSettings& settings);
void EncodeFlowControl(TComFlowControl flow, TComSettings& settings);

// What a probe of a port number found.
enum class TPortPresence : std::uint8_t {
  Free,    // the device exists and could be opened
  Busy,    // the device exists but cannot be opened: in use, or access refused
  Absent,  // no device behind the number
};

// Opens the device of `portNumber` as OpenPort does (exclusively, with its lock) and closes it
// at once. Any thread; probes of different numbers may run at the same time.
TPortPresence ProbeComPort(int portNumber);

// The serial port component: settings as properties, a port opened by number (or device path),
// writes that only queue, reads of what waits, and every event of the port's threads handed to
// the owner's thread.
//
// Threads: the owner's thread is the one that made the component; it runs a Qt event loop (the
// main thread, or a thread of its own for the line). Every public operation runs on the owner's
// thread, which serialises them; the component takes no lock of its own for its properties.
// Events reach their handlers on the owner's thread, in this order for one line event: OnSyncEvent,
// OnDataRecived, OnLineError, OnCTSChanged, OnDSRChanged, OnRINGDetected, OnRLSDChanged. Only
// OnNonSyncEvent runs on the port's event thread; when set it replaces the hand-off for every
// event but ceException. The handlers sit in THandlerSlots, so replacing one is safe on any
// thread. While ClosePort runs (the closing flag) reads return nothing, writes and purges are
// ignored and events are dropped.
//
// When the other side hangs up (a pseudo-terminal's master goes, an adapter is pulled) the
// port raises OnRLSDChanged once, HungUp() turns true, writes are dropped and reads find
// nothing; it stays open until ClosePort.
class TComPort {
 public:
  using TNotifyEvent = THandlerSlot<TComPort*>;
  using TCountEvent = THandlerSlot<TComPort*, std::int32_t>;
  using TErrorsEvent = THandlerSlot<TComPort*, std::uint32_t>;
  using TCoreEventSlot = THandlerSlot<TComPort*, TComCoreEvent, const TComEventData&>;

  explicit TComPort(std::string name = {});
  ~TComPort();
  TComPort(const TComPort&) = delete;
  TComPort& operator=(const TComPort&) = delete;

  const std::string& GetName() const { return name_; }

  // Opens the port when AutoOpen is set; called once the properties are in place.
  void Loaded();
  void OpenPort();
  // Why the last OpenPort failed to reach the device: the path and the system's error. The
  // error OpenPort raised says the same after the driver's fixed text.
  const std::string& OpenFailure() const { return core_->OpenFailure(); }
  void ClosePort();
  bool IsOpen() const { return core_->IsActive(); }
  // The other side of the line went away; the port stays open until closed.
  bool HungUp() const { return core_->HungUp(); }

  // Queues all bytes or raises "Write data error [requested: %d, free: %d]" with the device.
  void WriteBytes(const char* data, std::int32_t count);
  void WriteBytes(const TByteString& data);
  // Exactly `count` waiting bytes, or "Read data error" with the counts and the device.
  TByteString ReadBytes(std::int32_t count);
  TByteString ReadAll();
  std::int32_t InputCount();
  // Waits until received bytes wait or `timeoutMs` passed; true when they wait.
  bool WaitForInput(std::int32_t timeoutMs);
  std::int32_t OutputFree();
  void DiscardInput();
  void DiscardOutput();
  // 1 = CTS, 2 = DSR, 3 = ring, 4 = carrier detect; false when the port is not open.
  bool ModemLine(int line);
  // The settings dialog: the port's settings are taken, the hook asks the user and the choice
  // is applied. A caller that guards the port with a lock holds it around the first and last
  // step only, never while the dialog is up.
  bool ShowSettingsDialog();
  struct TSettingsDialogRequest {
    std::string portName;
    TComSettings settings;
  };
  // Nothing without a hook or without a device to configure.
  std::optional<TSettingsDialogRequest> SettingsForDialog();
  // True when the user confirmed; `request.settings` then holds the choice.
  static bool RunSettingsDialog(TSettingsDialogRequest& request);
  void ApplyDialogSettings(const TComSettings& chosen) { DecodeSettings(chosen); }

  bool GetAutoOpen() const { return autoOpen_; }
  void SetAutoOpen(bool value) { autoOpen_ = value; }
  TComBaudrate GetBaudRate() const { return properties_.baudRate; }
  void SetBaudRate(TComBaudrate value);
  std::int32_t GetUserBaudRate() const { return properties_.userBaudRate; }
  void SetUserBaudRate(std::int32_t value);
  std::uint16_t GetComNumber() const { return comNumber_; }
  void SetComNumber(std::uint16_t value);
  // A device path that overrides the number's device; empty: the number's.
  const std::string& GetDevicePath() const { return devicePath_; }
  void SetDevicePath(const std::string& value);
  // The device the port opens: the override, else the number's device.
  std::string DevicePath() const;
  TComDatabits GetDatabits() const { return properties_.databits; }
  void SetDatabits(TComDatabits value);
  TComParity GetParity() const { return properties_.parity; }
  void SetParity(TComParity value);
  TComStopbits GetStopbits() const { return properties_.stopbits; }
  void SetStopbits(TComStopbits value);
  TComFlowControl GetFlowControl() const { return properties_.flowControl; }
  void SetFlowControl(TComFlowControl value);
  TComOptions GetOptions() const { return properties_.options; }
  void SetOptions(TComOptions value);
  bool GetDTR() const { return properties_.dtr; }
  void SetDTR(bool value);
  bool GetRTS() const { return properties_.rts; }
  void SetRTS(bool value);
  char GetXOnChar() const { return properties_.xonChar; }
  void SetXOnChar(char value);
  char GetXOffChar() const { return properties_.xoffChar; }
  void SetXOffChar(char value);
  std::uint16_t GetXOnLim() const { return properties_.xonLim; }
  void SetXOnLim(std::uint16_t value);
  std::uint16_t GetXOffLim() const { return properties_.xoffLim; }
  void SetXOffLim(std::uint16_t value);
  std::int32_t GetInBufSize() const { return properties_.inBufSize; }
  void SetInBufSize(std::int32_t value);
  std::int32_t GetOutBufSize() const { return properties_.outBufSize; }
  void SetOutBufSize(std::int32_t value);
  TThreadPriority GetEventThreadPriority() const { return eventThreadPriority_; }
  void SetEventThreadPriority(TThreadPriority value) { eventThreadPriority_ = value; }
  TThreadPriority GetWriteThreadPriority() const { return writeThreadPriority_; }
  void SetWriteThreadPriority(TThreadPriority value) { writeThreadPriority_ = value; }

  // The settings record last accepted (applied to the port when it is open).
  const TComSettings& GetSettings() const { return settings_; }

  TNotifyEvent OnPortOpen;
  TNotifyEvent OnPortClose;
  TCountEvent OnDataRecived;  // bytes waiting
  TErrorsEvent OnLineError;   // accumulated kCe... bits
  TNotifyEvent OnCTSChanged;
  TNotifyEvent OnDSRChanged;
  TNotifyEvent OnRLSDChanged;
  TNotifyEvent OnRINGDetected;
  TNotifyEvent OnOutBufFree;
  TCoreEventSlot OnSyncEvent;
  TCoreEventSlot OnNonSyncEvent;

 private:
  // The properties the settings record is built from; kept together so that a refused change
  // is taken back whole.
  struct TProperties {
    TComBaudrate baudRate = br115200;
    std::int32_t userBaudRate = 0;
    TComDatabits databits = db8;
    TComParity parity = paNone;
    TComStopbits stopbits = sbOne;
    TComFlowControl flowControl = fwNone;
    TComOptions options;
    bool dtr = true;
    bool rts = true;
    char xonChar = 17;
    char xoffChar = 19;
    std::uint16_t xonLim = 0;
    std::uint16_t xoffLim = 0;
    std::int32_t inBufSize = 4096;
    std::int32_t outBufSize = 2048;
  };
  struct TPendingEvent {
    TComCoreEvent kind = ceOutFree;
    TComEventData data;
  };

  EComPortError Error(const std::string& text) const;
  // The device in an error: its path, or the port number when it has none.
  std::string PortText() const;
  // PortText, and that the port is not open when it is not.
  std::string PortStateText() const;
  TComSettings BuildSettings() const;
  template <class TChange>
  void ChangeSettings(TChange change);
  void DecodeSettings(const TComSettings& settings);
  static void RecomputeThresholds(TProperties& properties);
  void CheckClosed(const char* property) const;
  void Reopen(std::uint16_t comNumber, const std::string& devicePath);
  bool CanFetchConfiguration();

  // Event thread.
  void HandleCoreEvent(TComCoreEvent kind, const TComEventData& data);
  // Owner's thread.
  static void RunOnOwnerThread(void* self);
  void HandleNextEvent();
  void RaiseLineEvents(std::uint32_t mask);
  void DropPendingEvents();

  const std::string name_;
  // Owner's thread.
  TProperties properties_;
  TComSettings settings_;
  bool autoOpen_ = false;
  std::uint16_t comNumber_ = 0;
  std::string devicePath_;
  TThreadPriority eventThreadPriority_ = tpNormal;
  TThreadPriority writeThreadPriority_ = tpHighest;

  std::atomic<bool> closing_{false};
  std::atomic<bool> destroying_{false};
  const TSyncId syncId_;
  // Events on their way to the owner's thread, in order; an event whose hand-off timed out is
  // handled by the owner's next turn. Guarded by pendingMutex_.
  std::mutex pendingMutex_;
  std::deque<TPendingEvent> pending_;
  // Last: its threads call into the members above, so it goes first.
  std::unique_ptr<TComPortCore> core_;
};

}  // namespace zorvid
