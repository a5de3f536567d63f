#pragma once

#include <chrono>
#include <cstdint>

// Runs procedures on the main thread (the thread of the Qt event loop) for other threads and
// waits for them with a time-out. A procedure is reached through a registration that its owner
// enables and disables, so that a call made while the owner shuts down finds it gone instead
// of running into a half-dismantled object.
//
// The table has 64 entries and is guarded by one mutex; every function may be called on any
// thread. The hidden receiver object is made by the first registration (on the main thread)
// and lives until the program ends.

namespace zorvid {

using TSyncProcedure = void (*)(void* argument);
using TSyncId = std::uint32_t;

inline constexpr std::size_t kSafeSyncEntries = 64;

// Takes the first free entry, disabled; 0 when the table is full.
TSyncId SafeSyncRegister(TSyncProcedure procedure, void* argument);
// Frees the entry. On another thread than the main thread it also waits until a run of the
// entry's procedure has returned, so the argument may go right after.
void SafeSyncUnregister(TSyncId id);
// Enables or disables the entry; disabling releases calls that wait for it.
void SafeSyncEnable(TSyncId id, bool enabled);

// Runs the entry's procedure on the main thread, at once when the caller is the main thread,
// else by a queued call waited for up to `timeout` (a procedure still queued then runs later,
// if the entry is still enabled). An error raised by the procedure is shown through
// ShowMessage. True when the entry is still registered and enabled after the wait, even if
// the wait timed out; false at once when it is not.
bool SafeSyncCall(TSyncId id, std::chrono::milliseconds timeout);

// Runs `procedure(argument)` on the main thread in the same way, without a registration. True
// when it has run; a call that has not started when the time-out ends is withdrawn (false), one
// that has started is waited for, so the argument may go once this returns.
bool SafeSyncRun(TSyncProcedure procedure, void* argument, std::chrono::milliseconds timeout);

}  // namespace zorvid
