#pragma once

// How zorvidctl tells the outcome of a device operation by its exit code.

#include "link/Outcome.h"

namespace zorvid::ctl {

// kExitUsage when nothing was sent (the arguments break a rule), kExitConnection when the line
// closed, kExitFailed for every other failure: the display's refusal, no, a damaged or an
// invalid answer, and a write whose answer was lost.
int ExitCodeOf(const TOutcome& outcome);

}  // namespace zorvid::ctl
