#pragma once

// The line to one display, made the way the main window makes it.

#include <cstdint>
#include <optional>
#include <string>

#include "core/ICommunicationInterface.h"
#include "device/Zorvid.h"
#include "protocol/KorvelStack.h"
#include "protocol/KorvelStackDevice.h"

namespace zorvid::ctl {

// One display on one transport: the transport made from a connection string, a protocol stack
// on it and the display device registered with the stack. The transport factory must know the
// provider (RegisterStandardTransports) before Connect.
class TDisplayConnection {
 public:
  TDisplayConnection() = default;
  ~TDisplayConnection() { Disconnect(); }
  TDisplayConnection(const TDisplayConnection&) = delete;
  TDisplayConnection& operator=(const TDisplayConnection&) = delete;

  // Creates and opens the transport, sets up the device with `address` and `timeoutMs` and
  // reads its identification. Nothing when connected; otherwise what failed, with the value.
  std::optional<std::string> Connect(const std::string& connectionString, TByte address,
                                     std::int32_t timeoutMs);
  // Detaches the transport from the stack, closes it and releases everything. Never raises.
  void Disconnect() noexcept;

  // Valid between a successful Connect and Disconnect.
  TZorvid& Device() const { return *device_; }

 private:
  std::optional<std::string> Establish(const std::string& connectionString, TByte address,
                                       std::int32_t timeoutMs);

  TCiRef ci_;
  TRef<TKorvelStack> stack_;
  TRef<TZorvid> device_;
};

// The exit code of the device's last failed request (LastResultText says why): kExitUsage when
// nothing was sent, kExitConnection when the line has closed, kExitFailed otherwise.
int FailureExitCode(IKorvelStackDevice& device);

}  // namespace zorvid::ctl
