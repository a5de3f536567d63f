#include "tools/ctl/CtlConnection.h"

#include "tools/ctl/CtlCommands.h"

namespace zorvid::ctl {

int ExitCodeOf(const TOutcome& outcome) {
  switch (outcome.kind) {
    case TOutcomeKind::kDone:
      return kExitOk;
    case TOutcomeKind::kNotSent:
      return kExitUsage;
    case TOutcomeKind::kLineClosed:
      return kExitConnection;
    default:
      return kExitFailed;
  }
}

}  // namespace zorvid::ctl
