#pragma once

// The commands on all the display's settings at once (link/SettingsSnapshot): get all, backup,
// diff and restore. Each is one step whose requests go out one by one, each tried as often as
// the command's tries and the request's retry rule allow; a failed request or an invalid answer
// ends it with a TOutcomeError naming the request.

#include <optional>
#include <string>

#include "link/SettingsSnapshot.h"
#include "tools/ctl/CtlCommands.h"

namespace zorvid::ctl {

TCtlAction GetAllAction(int tries);
// Without a file the snapshot goes to standard output.
TCtlAction BackupAction(const std::optional<std::string>& file, const TCtlOptions& options,
                        int tries);
// Exit 0 when the display holds the file's settings, 1 when a key differs.
TCtlAction DiffAction(const TSettingsSnapshot& snapshot, int tries);
// A dry run reads and prints what it would write, and writes nothing.
TCtlAction RestoreAction(const TSettingsSnapshot& snapshot, bool dryRun, int tries);

}  // namespace zorvid::ctl
