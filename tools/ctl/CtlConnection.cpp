#include "tools/ctl/CtlConnection.h"

#include "core/ICommunicationInterface.h"
#include "tools/ctl/CtlCommands.h"

namespace zorvid::ctl {

int FailureExitCode(IKorvelStackDevice& device) {
  if (device.GetLastResult() == kResultNone) return kExitUsage;
  const TRef<IKorvelStack> stack = device.GetStack();
  const TCiRef line = stack ? stack->GetCommunicationInterface() : TCiRef();
  return line && line->IsLineClosed() ? kExitConnection : kExitFailed;
}

}  // namespace zorvid::ctl
