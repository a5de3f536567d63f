#pragma once

// How long a window test waits for what must come, such as the outcome of a procedure that waits
// out the display's time-outs (seconds, where test::kWaitLimit of WaitUntil.h covers what takes
// milliseconds): enough for a sanitizer build on a busy machine, and only ever reached when it
// does not come. Never a measure of speed (bench/ has those).
#include <chrono>

namespace zorvid::test {

inline constexpr int kPatienceMs = 30000;
inline constexpr std::chrono::milliseconds kPatience{kPatienceMs};

}  // namespace zorvid::test
