#pragma once

// How long a test waits for what must come: enough for a sanitizer build on a busy machine,
// and only ever reached when it does not come. Never a measure of speed (bench/ has those).
#include <chrono>

namespace zorvid::test {

inline constexpr int kPatienceMs = 30000;
inline constexpr std::chrono::milliseconds kPatience{kPatienceMs};

}  // namespace zorvid::test
