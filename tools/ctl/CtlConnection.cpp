#include "tools/ctl/CtlConnection.h"

#include "core/ICommunicationInterface.h"
#include "tools/ctl/CtlCommands.h"

namespace zorvid::ctl {
namespace {

TCiRef LineOf(IKorvelStackDevice& device) {
  const TRef<IKorvelStack> stack = device.GetStack();
  return stack ? stack->GetCommunicationInterface() : TCiRef();
}

}  // namespace

int FailureExitCode(IKorvelStackDevice& device) {
  if (device.GetLastResult() == kResultNone) return kExitUsage;
  const TCiRef line = LineOf(device);
  return line && line->IsLineClosed() ? kExitConnection : kExitFailed;
}

bool MayTryAgain(IKorvelStackDevice& device) {
  const TByte result = device.GetLastResult();
  if (result != kResultNoAnswer && result != kResultInvalid) return false;
  const TCiRef line = LineOf(device);
  return line && !line->IsLineClosed();
}

bool TryRequest(IKorvelStackDevice& device, int tries, const std::function<bool()>& request,
                int& tried) {
  for (tried = 1;; ++tried) {
    // A refused argument sends nothing and so leaves no result of its own.
    device.ResetLastResult();
    if (request()) return true;
    if (tried >= tries || !MayTryAgain(device)) return false;
  }
}

}  // namespace zorvid::ctl
