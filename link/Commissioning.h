#pragma once

// Giving a connected display a new address and line speed, and following it there: the
// procedures behind the window's "Adresa a rychlost…", run on the link thread.

#include <cstdint>
#include <optional>
#include <string>

#include "core/Types.h"
#include "link/Capabilities.h"
#include "link/DisplayConnection.h"
#include "link/Outcome.h"

namespace zorvid {

// Where a display listens: its address and the speed of its line.
struct TCommParams {
  TByte address = 0;
  std::int32_t baud = 0;  // 0: not one of the display's speeds
  bool operator==(const TCommParams&) const = default;
};

struct TCommParamsRead {
  bool read = false;
  TCommParams params;  // as the display reported them
  // The line has a speed of its own (serial, USB), which can follow the display's; a TCP line's
  // speed is its converter's.
  bool lineHasSpeed = false;
  TOutcome outcome;  // why the read failed
};

// An answer to the read of the address and speed that no display can give: no speed of its
// table, or an address no display can have. Nothing for a sound one. `asked` is the address
// the request went to.
std::optional<TOutcome> CommParamsFault(const TCommParams& params, TByte asked);

// Reads the display's own address and speed (0xF0) on the connected line.
TCommParamsRead ReadCommParams(TDisplayConnection& connection);

// Enables the configuration (0xE4), then writes `wanted` (0xE0): the display takes the second
// only right after the first, and answers it at its old address and speed. Neither is repeated;
// the outcome names the request that failed.
TOutcome SendCommParams(TZorvid& device, const TCommParams& wanted);

// The steps of a change, in their order; kDone when none failed.
enum class TCommissionStep { kEnable, kWrite, kReconnect, kDone };

struct TCommissioning {
  TCommissionStep failedStep = TCommissionStep::kDone;
  TOutcome outcome;  // of the request that failed, for kEnable and kWrite
  // The failed step's own reason, with the values it concerned; empty after a success.
  std::string failure;
  // Where the connection is now: the new values after a success, the old ones otherwise.
  std::string connectionString;
  TByte address = 0;
  // The display answered there (its identification); when false the line is closed.
  bool connected = false;
  TDisplayCapabilities capabilities;  // of the last identification that succeeded
};

// On a display connected through `connectionString` at `address`: enables its configuration
// (0xE4), writes `wanted` (0xE0), reconnects with the new address and, on a line with a speed,
// the new speed, and identifies the display there in up to `identificationTries` tries. The
// first step that fails is named; the connection is then on the old values: untouched when the
// display did not take the new ones, connected again (and identified) when it took them but
// did not answer there.
TCommissioning Commission(TDisplayConnection& connection, const std::string& connectionString,
                          TByte address, const TCommParams& wanted, int identificationTries);

}  // namespace zorvid
