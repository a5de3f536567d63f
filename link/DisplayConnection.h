#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/ICommunicationInterface.h"
#include "core/Types.h"
#include "device/Zorvid.h"
#include "device/ZorvidRules.h"
#include "link/Capabilities.h"
#include "link/Outcome.h"
#include "protocol/KorvelInterfaces.h"
#include "protocol/KorvelStack.h"

namespace zorvid {

// One display on one line: the display device and its protocol stack for the object's life,
// the transport while connected. It connects as the program always has (transport from the
// connection string, open, address, attach, identification), knows what the connected display
// can do and why the last connect failed.
//
// Threads: one thread owns it and runs every call, the device's operations included, except
// Abandon, which any thread may call. The transports deliver their events to the owner's event
// loop (or raise them on threads of their own).
class TDisplayConnection {
 public:
  TDisplayConnection();
  // Disconnects, then detaches the stack from the device before both go.
  ~TDisplayConnection();
  TDisplayConnection(const TDisplayConnection&) = delete;
  TDisplayConnection& operator=(const TDisplayConnection&) = delete;

  // Closes any line first (also when the settings are the same), makes the transport that
  // `connectionString` describes, opens it, gives the device `address`, attaches the transport
  // to the stack and reads the identification, up to `identificationTries` times (each with the
  // device's time-out); with no tries the line is only opened, for a display that need not
  // answer at `address` (one found by its identifiers). True when the display answered (or the
  // line opened); otherwise
  // disconnected again, FailureReason says why and the capabilities keep their values. An error
  // raised while the transport is made (a malformed number in the string) passes to the caller.
  bool Connect(const std::string& connectionString, TByte address, int identificationTries = 1);
  // Closes the transport and detaches it from the stack. Never raises.
  void Disconnect() noexcept;
  // A transport is attached and active.
  bool IsConnected() const;
  // The attached line has closed under the connection (a peer's close, a hangup, a bridge's
  // input/output error): disconnects and gives the transport's reason. Nothing while connected
  // or when no line is attached.
  std::optional<std::string> TakeLineLoss();
  // Any thread, at once: the exchange in flight ends within 50 ms without an answer and every
  // later one fails at once, so that the owner can go. There is no way back.
  void Abandon();
  // After Abandon, for an owner that stays: requests wait for their answers again.
  void Resume();

  // Why the last Connect failed, the failing step's own reason with the value it concerned:
  // `no transport for "..."`, `cannot open "...": <the transport's reason>` or
  // `no identification from address 49 (0x31): <why the request failed>`. Empty after a success.
  const std::string& FailureReason() const { return failureReason_; }
  // How the last connect's identification ended; done when it was not asked for.
  const TOutcome& Identification() const { return identification_; }
  // What the last successful connect's identification said; kept after a disconnect.
  const TDisplayCapabilities& Capabilities() const { return capabilities_; }

  // The display: its operations run on the attached line; it fails them while disconnected.
  TZorvid& Device() const { return *device_; }
  // The attached transport, or none.
  TCiRef Line() const;

 private:
  bool Establish(const std::string& connectionString, TByte address, int identificationTries);

  TRef<TKorvelStack> stack_;
  TRef<TZorvid> device_;
  std::string failureReason_;
  TOutcome identification_;
  TDisplayCapabilities capabilities_;
};

// The highest address a display can be reached at: every receiver refuses kRefusedAddress, so
// nothing could answer there, while kBroadcastAddress reaches any display.
inline constexpr TByte kHighestDisplayAddress = kRefusedAddress - 1;

// "49 (0x31)": an address as messages give it.
std::string AddressText(TByte address);

// An address as the programs' command lines take it: a whole number in the tools' syntax
// (decimal or 0x-prefixed hex), 0 to `highest` (kHighestDisplayAddress to reach a display at,
// kHighestOwnAddress for one a display can be given). Each program words the fault its way.
enum class TAddressFault { kNone, kNotANumber, kRefused, kOutOfRange };
struct TParsedAddress {
  TByte address = 0;
  TAddressFault fault = TAddressFault::kNone;
};
TParsedAddress ParseDisplayAddress(std::string_view text, TByte highest = kHighestDisplayAddress);

// " in 3 tries" after more than one try, else nothing: how a failure says it was repeated.
std::string TriesText(int tried);

}  // namespace zorvid
