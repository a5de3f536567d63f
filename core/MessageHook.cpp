#include "core/MessageHook.h"

#include <atomic>
#include <cstdio>

namespace zorvid {
namespace {
std::atomic<TMessageHook> messageHook{nullptr};
}  // namespace

void SetMessageHook(TMessageHook hook) {
  messageHook.store(hook);
}

void ShowMessage(const std::string& text) {
  if (const TMessageHook hook = messageHook.load()) {
    hook(text);
    return;
  }
  std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace zorvid
