#pragma once

// The commands on all the display's settings at once (link/SettingsSnapshot): get all, backup,
// diff and restore. Each is one step whose requests go out one by one, each tried as often as
// the command's tries and the request's retry rule allow; a failed request or an invalid answer
// ends it with a TOutcomeError naming the request.

#include "tools/ctl/CtlCommandTable.h"

namespace zorvid::ctl {

// A settings file (diff, restore) is read while preparing: a bad one is bad usage, refused
// before connecting.
TCtlAction PrepareGetAll(const TCommandArgs& args);
TCtlAction PrepareBackup(const TCommandArgs& args);
TCtlAction PrepareDiff(const TCommandArgs& args);
TCtlAction PrepareRestore(const TCommandArgs& args);

}  // namespace zorvid::ctl
