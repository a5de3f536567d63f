#pragma once

// How zorvidctl tells the outcome of a device operation by its exit code.

#include "protocol/KorvelInterfaces.h"

namespace zorvid::ctl {

// The exit code of the device's last failed request (LastResultText says why): kExitUsage when
// nothing was sent, kExitConnection when the line has closed, kExitFailed otherwise.
int FailureExitCode(IKorvelStackDevice& device);

}  // namespace zorvid::ctl
