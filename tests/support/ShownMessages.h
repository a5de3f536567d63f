#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "core/MessageHook.h"

namespace zorvid::test {

// Collects what is shown through the process-wide message hook while it lives.
class TShownMessages {
 public:
  TShownMessages() {
    Lock lock(Mutex());
    Store().clear();
    SetMessageHook(&Capture);
  }
  ~TShownMessages() { SetMessageHook(nullptr); }
  TShownMessages(const TShownMessages&) = delete;
  TShownMessages& operator=(const TShownMessages&) = delete;

  std::vector<std::string> Texts() const {
    Lock lock(Mutex());
    return Store();
  }

 private:
  using Lock = std::lock_guard<std::mutex>;
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  static std::vector<std::string>& Store() {
    static std::vector<std::string> texts;
    return texts;
  }
  static void Capture(const std::string& text) {
    Lock lock(Mutex());
    Store().push_back(text);
  }
};

}  // namespace zorvid::test
