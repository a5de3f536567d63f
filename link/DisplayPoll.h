#pragma once

// The poll that mirrors a display twice a second: its segments and its temperature, each read
// with its outcome, and the silence rule.

#include "core/Types.h"
#include "device/Zorvid.h"
#include "link/Outcome.h"

namespace zorvid {

struct TPollOutcome {
  TOutcome segmentsRead;  // done: `segments` holds one byte per position
  TByteString segments;
  TOutcome temperatureRead;
  double degrees = 0;
  // Neither read got any answer: the display has gone silent (a refusal or a damaged answer
  // still shows a display that listens).
  bool Silent() const;
};

// Runs on the thread that owns the display's line.
TPollOutcome PollDisplay(IZorvid& display);

}  // namespace zorvid
