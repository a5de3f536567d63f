#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "transport/FTDICore.h"
#include "transport/SerialCommunicationInterface.h"

namespace zorvid {

class TFTDIDevice;

// The USB bridge transport as its clients see it: the line settings plus the bridge's serial
// number and the library's handle of the open bridge.
class IFTDISerialPortInterface : public virtual ISerialCommunicationInterface {
 public:
  virtual std::string GetSerialNumber() = 0;
  // Notifying: a configuration change, or a "SetSerialNumber" report with the number.
  virtual void SetSerialNumber(const std::string& value) = 0;
  virtual FT_HANDLE GetHandle() = 0;
};

inline constexpr TInterfaceId IID_IFTDISerialPortInterface =
    MakeInterfaceId<IFTDISerialPortInterface>("{CBFAE6C0-8E72-4D7F-8C51-C36038E6F5F5}");

// The USB settings dialog: shown with the current baud rate; true when the user confirmed.
// The user interface installs it; without it Setup returns false.
using TUsbSetupHook = bool (*)(std::int32_t baudRate);
void SetUsbSetupHook(TUsbSetupHook hook);

// The reader of one USB transport, alive only while the bridge is open: a thread that runs the
// device's reader pass, then waits up to 100 ms for the library's data signal (or a wake-up of
// the transport's own).
//
// Threads and lifetime: Start and Stop run under the device's node lock (opening, closing).
// Stop only tells the thread to end, because the thread may be waiting for that very lock; the
// stopped thread is joined by JoinStopped, which the device calls where it holds no lock. A
// thread stopped by its own pass (a close on the reader) is never joined by itself: it is left
// to a later JoinStopped on another thread, or detached when the device goes on the reader. The
// thread holds the shared state and a plain pointer to the device, never a reference: the device
// stops and joins it before it is destroyed.
class TFTDIDeviceThread {
 public:
  TFTDIDeviceThread();
  // Stops and joins every reader, except one that is the calling thread: that one is detached.
  ~TFTDIDeviceThread();
  TFTDIDeviceThread(const TFTDIDeviceThread&) = delete;
  TFTDIDeviceThread& operator=(const TFTDIDeviceThread&) = delete;

  // The condition variable the library signals; it lives as long as this object and outlives
  // every reader thread.
  EVENT_HANDLE* DataSignal();
  // A new reader for `device`; one still running is stopped first.
  void Start(TFTDIDevice* device);
  // Tells the running reader to end, without waiting for it.
  void Stop();
  // Joins the stopped readers, except the calling thread. Never call it holding a lock that a
  // reader pass takes (the node lock, or a received-data handler's).
  void JoinStopped();
  // Another pass follows at once, as if bytes had arrived.
  void SetDataSignal();
  // Waits up to `wait` on any thread for the library's data signal (or another wake-up of the
  // reader), without consuming it.
  void WaitForDataSignal(std::chrono::nanoseconds wait);
  // The running reader; the default id while none runs.
  std::thread::id ThreadId() const;

 private:
  struct TState;
  static void Run(std::shared_ptr<TState> state, std::uint64_t run, TFTDIDevice* device);
  // Those of `threads` that are not the calling thread, which stays behind in `threads`.
  static std::vector<std::thread> TakeJoinable(std::vector<std::thread>& threads);

  const std::shared_ptr<TState> state_;
  mutable std::mutex threadsMutex_;
  std::thread running_;               // threadsMutex_
  std::vector<std::thread> stopped_;  // threadsMutex_: told to end, not joined yet
};

// The transport over a USB bridge through its driver library, provider "FTD_USB": the bridge
// chosen by its serial number, the line settings passed to the library, received data announced
// by the reader thread.
//
// Threads and locks:
// - Every field below is guarded by the node's lock, except closePending_ (atomic) and reader_
//   (its own locks): read under the shared lock, changed, like every library call with the
//   handle, under the exclusive lock (opening and closing under the lock that Open and Close
//   take).
// - OnDataRcv runs on the reader thread without the node lock held, so its receivers may take
//   their own locks first (stack before transport) and then Read.
// - OnClose never runs under the node lock. An input/output error of the library, met under the
//   lock on any thread, only marks the close as pending and wakes the reader; the reader closes
//   on its next pass, holding no lock, so OnClose then runs on the reader thread. Open and Close
//   themselves run OnOpen / OnClose on their caller's thread after the lock is released.
// - The failure reason (SetFailureReason) is recorded by the failing call on whichever thread
//   made it; the pending close keeps it, so OnClose can read why.
// - Destruction, on whichever thread drops the last reference, stops and joins the reader
//   before the bridge is closed quietly (no OnClose: nobody can hear it any more).
class TFTDIDevice final : public TSerialCommunicationInterface,
                          public virtual IFTDISerialPortInterface {
 public:
  TFTDIDevice();
  ~TFTDIDevice() override;

  bool GetActive() override;
  std::string GetConnectionName() override;
  std::string GetDescription() override { return {}; }
  std::string GetConfiguration() override;
  void SetPortEnabled(bool value) override;
  std::int32_t InBuffUsed() override;
  // Woken by the library's data signal, which the reader thread passes on.
  bool WaitForData(std::int32_t timeoutMs) override;
  // Also true from an input/output error until the reader has closed the bridge.
  bool IsLineClosed() override { return closePending_ || !GetActive(); }
  void PurgeInput() override;
  void PurgeOutput() override;
  bool Setup() override;
  bool HasSetup() override { return true; }

  bool ApplyBaudRate(std::int32_t value) override;
  bool ApplyParity(TParity value) override;
  bool ApplyStopBits(TStopBits value) override;
  bool ApplyDatabits(std::uint8_t value) override;
  bool ApplyDTR(bool value) override;
  bool ApplyRTS(bool value) override;
  // The same number again succeeds without touching the bridge; an open bridge is closed and
  // the new one opened without DoClose/DoOpen; false only when that raised an error.
  virtual bool ApplySerialNumber(const std::string& value);

  std::int32_t GetBaudRate() override;
  TParity GetParity() override;
  TStopBits GetStopBits() override;
  std::uint8_t GetDatabits() override;
  bool GetDTR() override;
  bool GetRTS() override;
  // The bridge's input lines are not read: always false.
  bool ReadCTS() override { return false; }
  bool ReadDSR() override { return false; }
  // The library manages its queues: the sizes are not used.
  std::int32_t GetOutBufSize() override { return 0; }
  void SetOutBufSize(std::int32_t) override {}
  std::int32_t GetInBufSize() override { return 0; }
  void SetInBufSize(std::int32_t) override {}

  std::string GetSerialNumber() override;
  void SetSerialNumber(const std::string& value) override;
  FT_HANDLE GetHandle() override;

  // Join the readers they stopped once the node lock is released.
  bool Open() override;
  bool Close(bool force) override;

  // The reader thread while open, the default id while closed.
  std::thread::id ReaderThreadId() const { return reader_.ThreadId(); }

 protected:
  void BeforeDestruction() noexcept override;
  // False with an empty serial number or an unusable library, without calling it.
  bool InternalOpen() override;
  // False when the library refused the close; forced, the device counts as closed regardless.
  bool InternalClose(bool force) override;
  std::int32_t InternalWrite(const TByteString& data) override;
  TByteString InternalRead() override;
  // "serial_number", then the line settings (and "active"), then a configuration change.
  bool ApplyConfiguration(const std::string& text) override;

 private:
  friend class TFTDIDeviceThread;

  // Reader thread, no lock held: the pending close, else received data. Touches nothing of the
  // device after OnDataRcv / OnClose, which may drop its last reference.
  void ReaderPass();
  // Reader thread: closes after an input/output error, keeping the reason, then OnClose.
  void CloseAfterIoError();
  // Under the exclusive lock: true for kFtOk. A failure records the call, the serial number,
  // `values` and the status by name; an input/output error also marks the close as pending.
  bool Succeeded(const char* call, FT_STATUS status, const std::string& values = {});
  // The arguments of a call as its failure reason shows them: the serial number, then `values`.
  std::string CallArguments(const std::string& values) const;
  // The library's characteristics from the stored data bits, stop bits and parity, and their
  // values as a failure shows them.
  FT_STATUS SetDataCharacteristics();
  std::string CharacteristicsText() const;
  bool ApplySerialNumberLocked(const std::string& value);
  template <class TValue>
  bool ApplyCharacteristic(bool valid, TValue& field, TValue value);
  bool ApplyLine(bool& field, bool value, const char* setName, TFT_SetDtr set,
                 const char* clearName, TFT_ClrDtr clear);
  void ApplyStoredSettings();
  void ForgetHandle();

  FT_HANDLE handle_ = nullptr;
  std::string serialNumber_;
  std::int32_t baudRate_ = 115200;
  std::uint8_t databits_ = 8;
  TStopBits stopBits_ = TStopBits::One;
  TParity parity_ = TParity::None;
  bool dtr_ = true;
  bool rts_ = true;
  // Set under the lock by an input/output error, taken by the reader's next pass.
  std::atomic<bool> closePending_{false};
  // Last member: it stops the thread before the fields go.
  TFTDIDeviceThread reader_;
};

// Registers / unregisters the transport under "FTD_USB"; registering binds the library.
void RegisterFTDITransport();
void UnregisterFTDITransport();

}  // namespace zorvid
