#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "transport/SerialCommunicationInterface.h"

namespace zorvid {

class TComPort;

class ISerialPortInterface : public virtual ISerialCommunicationInterface {};

inline constexpr TInterfaceId IID_ISerialPortInterface =
    MakeInterfaceId<ISerialPortInterface>("{4BC4E3AE-72C6-41B2-9652-0C40291AA6FB}");

// The transport over a serial port of the system, provider "SERIAL_PORT": one serial port
// component (transport/serial), the port chosen by number ("comport", or a string that is just
// "COM7") and optionally by device path ("device", which overrides the number's device), the
// line settings mapped onto the component, and its events turned into DoDataRcv and
// DoChangeSignal (1 CTS, 3 DSR, 4 ring, 0 carrier detect).
//
// Threads and locks:
// - The component's properties are read under the node's shared lock and changed, like every
//   opening, closing, write, read and purge, under its exclusive lock, so that clients on any
//   thread reach the component one at a time (it takes no lock of its own for them).
//   GetActive and InBuffUsed take no lock: the component answers them from its own locked state.
// - The transport is made, opened, used and closed on one thread that runs a Qt event loop (the
//   main thread, or a thread of its own for the line): the component's owner thread. The
//   component's events run there (its driver hands them over and waits up to 2000 ms for each),
//   so DoDataRcv and DoChangeSignal reach their receivers on that thread, never on another one.
//   portEventDepth_ counts those running events.
// - port_ itself is set in the constructor and goes in BeforeDestruction, when no reference is
//   left; if that happens inside one of the component's own events (a handler dropped the last
//   reference), the component goes on its thread's next turn, after that event (or when that
//   thread ends).
class TSerialPortInterface final : public TSerialCommunicationInterface,
                                   public virtual ISerialPortInterface {
 public:
  TSerialPortInterface();
  ~TSerialPortInterface() override;

  bool GetActive() override;
  // Also true while the port is open after the other side hung up.
  bool IsLineClosed() override;
  void SetPortEnabled(bool value) override;
  std::string GetConfiguration() override;
  // "COM" and the port number, or "COM unknown" for port 0.
  std::string GetConnectionName() override;
  std::int32_t InBuffUsed() override;
  // Waits on the device itself, on the calling thread; a hangup ends the wait and
  // becomes the failure reason.
  bool WaitForData(std::int32_t timeoutMs) override;
  void PurgeInput() override;
  void PurgeOutput() override;
  // The port settings dialog of the component's hook; false without a hook or when the user
  // cancels or the port refuses the chosen settings.
  bool Setup() override;
  bool HasSetup() override { return true; }

  bool ApplyBaudRate(std::int32_t value) override;
  bool ApplyParity(TParity value) override;
  bool ApplyStopBits(TStopBits value) override;
  bool ApplyDatabits(std::uint8_t value) override;
  bool ApplyDTR(bool value) override;
  bool ApplyRTS(bool value) override;

  std::int32_t GetBaudRate() override;
  TParity GetParity() override;
  TStopBits GetStopBits() override;
  std::uint8_t GetDatabits() override;
  bool GetDTR() override;
  bool GetRTS() override;
  bool ReadCTS() override;
  bool ReadDSR() override;
  std::int32_t GetOutBufSize() override;
  // Refused with the component's "Port is not closed" while the port is open.
  void SetOutBufSize(std::int32_t value) override;
  std::int32_t GetInBufSize() override;
  void SetInBufSize(std::int32_t value) override;

  // An open port is closed and reopened on the new number's device; false when the number is
  // outside 0..65535 or the reopening failed (the port is closed then).
  bool SetComNumber(std::int32_t value);

 protected:
  bool InternalOpen() override;
  // False when the port was not open: a forced close of a closed port is reported as failed.
  bool InternalClose(bool force) override;
  // Queues all bytes or raises the component's "Write data error [requested: %d, free: %d]".
  std::int32_t InternalWrite(const TByteString& data) override;
  TByteString InternalRead() override;
  // "device" and "comport" (or a text that is just "COM<n>"), then the line settings.
  bool ApplyConfiguration(const std::string& text) override;
  void BeforeDestruction() noexcept override;

 private:
  // Runs `change` on the component under the exclusive lock when `valid`; false when it was
  // not valid or the component refused it.
  template <class TChange>
  bool ChangePort(bool valid, TChange change);
  void SelectPort(const TConnectionSettings& settings, const std::string& text);
  bool SetDevicePath(const std::string& path);
  // 1 CTS, 2 DSR, 3 ring, 4 carrier detect, read from the open port.
  bool ModemLine(int line);

  void ConnectPortEvents();
  void DisconnectPortEvents();
  void ReleasePort() noexcept;
  // The component's thread: its events.
  void OnPortData(TComPort* port, std::int32_t count);
  template <std::int32_t Signal, int Line>
  void OnPortLineChanged(TComPort* port);

  std::unique_ptr<TComPort> port_;
  // Shared with the events that count themselves in it, which may outlive the transport.
  const std::shared_ptr<std::atomic<int>> portEventDepth_ = std::make_shared<std::atomic<int>>(0);
};

// Registers / unregisters the transport under "SERIAL_PORT".
void RegisterSerialPortTransport();
void UnregisterSerialPortTransport();

}  // namespace zorvid
