#pragma once

#include <string>

namespace zorvid {

// Message boxes that layers below the user interface ask for go through one process-wide hook,
// which the user interface installs. Without a hook the text goes to stderr as one line.
using TMessageHook = void (*)(const std::string& text);

void SetMessageHook(TMessageHook hook);
// Shows `text` through the hook, on the calling thread.
void ShowMessage(const std::string& text);

}  // namespace zorvid
