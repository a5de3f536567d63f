#pragma once

// How zorvidctl tells the outcome of a device operation: by its exit code, and whether another
// try could get an answer.

#include <functional>

#include "protocol/KorvelInterfaces.h"

namespace zorvid::ctl {

// The exit code of the device's last failed request (LastResultText says why): kExitUsage when
// nothing was sent, kExitConnection when the line has closed, kExitFailed otherwise.
int FailureExitCode(IKorvelStackDevice& device);

// The device's last request went out and no answer came back whole (nothing in time, or an
// answer damaged on the way) while the line stays open: the same request may get one. An
// answer with an error acknowledge is the display's word and final.
bool MayTryAgain(IKorvelStackDevice& device);

// Sends `request` (one request of `device`) again while no answer came and `tries` allow;
// `tried` says how often it went out.
bool TryRequest(IKorvelStackDevice& device, int tries, const std::function<bool()>& request,
                int& tried);

}  // namespace zorvid::ctl
