#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

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

// The reader of one USB transport: a thread that, while a device is attached, runs the device's
// reader procedure and then waits up to 100 ms for the library's data signal or for the
// stop-or-pause signal; while paused it polls every millisecond.
//
// Threads and lifetime: the thread holds the shared state, never the object that starts it, so
// the device (and with it this object) may be destroyed on the reader thread itself, when the
// thread drops the reference of its pass: the thread is then detached and ends on its own.
// Destroyed on any other thread, it is joined.
class TFTDIDeviceThread {
 public:
  TFTDIDeviceThread();
  ~TFTDIDeviceThread();
  TFTDIDeviceThread(const TFTDIDeviceThread&) = delete;
  TFTDIDeviceThread& operator=(const TFTDIDeviceThread&) = delete;

  // The condition variable the library signals; it lives as long as the thread.
  EVENT_HANDLE* DataSignal();
  // The device becomes the attached one and the reader runs (pause cleared, stop-or-pause
  // reset).
  void Attach(TFTDIDevice* device);
  // No attached device any more; the reader pauses. The attached reference is dropped after the
  // state's mutex is released, as it may be the device's last.
  void Detach();
  // Another pass follows at once, as if bytes had arrived.
  void SetDataSignal();
  // Waits up to `wait` on any thread for the library's data signal (or another wake-up of the
  // reader), without consuming it.
  void WaitForDataSignal(std::chrono::nanoseconds wait);
  std::thread::id ThreadId() const { return thread_.get_id(); }

 private:
  struct TState;
  static void Run(std::shared_ptr<TState> state);

  const std::shared_ptr<TState> state_;
  std::thread thread_;
};

// The transport over a USB bridge through its driver library, provider "FTD_USB": the bridge
// chosen by its serial number, the line settings passed to the library, received data announced
// by the reader thread.
//
// Threads and locks:
// - Every field below is guarded by the node's lock: read under the shared lock, changed, like
//   every library call with the handle, under the exclusive lock (opening and closing under the
//   lock that Open and Close take).
// - DoDataRcv runs on the reader thread, without the node lock held, so its receivers may take
//   their own locks first (stack before transport) and then Read.
// - The reader closes an open device that only the reader still references (InternalClose
//   without the lock: nobody else can reach the object then), and the device is destroyed on the
//   reader thread when the reader drops its pass reference.
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

  // The reader thread, for tests that check where the device went.
  std::thread::id ReaderThreadId() const { return reader_.ThreadId(); }

 protected:
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

  // Reader thread, holding the attached reference and the pass reference.
  void ReaderProcedure();
  // A failed library call: an input/output error closes the transport, any other status is
  // dropped. False for a failure, so callers can write `return Succeeded(status)`.
  bool Succeeded(FT_STATUS status);
  // The library's characteristics from the stored data bits, stop bits and parity.
  FT_STATUS SetDataCharacteristics();
  template <class TValue>
  bool ApplyCharacteristic(bool valid, TValue& field, TValue value);
  bool ApplyLine(bool& field, bool value, TFT_SetDtr set, TFT_ClrDtr clear);
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
  // Last member: it stops (or lets go of) the thread before the fields go.
  TFTDIDeviceThread reader_;
};

// Registers / unregisters the transport under "FTD_USB"; registering binds the library.
void RegisterFTDITransport();
void UnregisterFTDITransport();

}  // namespace zorvid
