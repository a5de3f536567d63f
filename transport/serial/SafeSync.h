#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

// Runs procedures for other threads on the thread that registered them (their owner thread) and
// waits for them with a time-out. A procedure is reached through a registration that its owner
// enables and disables, so that a call made while the owner shuts down finds it gone instead
// of running into a half-dismantled object.
//
// Threads: every function may be called on any thread. An owner thread runs a Qt event loop:
// the application's main thread, or a QThread in exec(). Its procedures run there only, through
// a hidden receiver object with that thread's affinity, made by the thread's first registration
// and deleted later (deleteLater, so a run on it is never cut off) once the thread's last
// registration is freed. An owner thread frees its registrations before it ends. SafeSyncRun's
// procedures run on the application's main thread through a receiver of their own, which lives
// until the program ends.
//
// Locks: one mutex guards the 64-entry table, the queue of calls waiting for their receiver
// (each call names the receiver that runs it, so each receiver runs its own calls in order), the
// entries whose procedure runs now, and the receivers with their threads; receivers are made
// under it. It is never held while a procedure runs, nor while a call is posted to a receiver or
// a receiver is handed to deleteLater; a receiver being posted to is not deleted meanwhile.

namespace zorvid {

using TSyncProcedure = void (*)(void* argument);
using TSyncId = std::uint32_t;

inline constexpr std::size_t kSafeSyncEntries = 64;

// Takes the first free entry, disabled, for the calling thread as its owner; 0 when the table
// is full.
TSyncId SafeSyncRegister(TSyncProcedure procedure, void* argument);
// Frees the entry (nothing when it is not registered). On another thread than its owner thread
// it also waits until a run of the entry's procedure has returned, so the argument may go right
// after.
void SafeSyncUnregister(TSyncId id);
// Enables or disables the entry; disabling releases calls that wait for it.
void SafeSyncEnable(TSyncId id, bool enabled);

// Runs the entry's procedure on its owner thread, at once when the caller is that thread, else
// by a queued call waited for up to `timeout` (a procedure still queued then runs later, if the
// entry is still enabled). An error raised by the procedure is shown through ShowMessage. True
// when the entry is still registered and enabled after the wait, even if the wait timed out;
// false at once when it is not.
bool SafeSyncCall(TSyncId id, std::chrono::milliseconds timeout);

// Runs `procedure(argument)` on the application's main thread in the same way, without a
// registration. True when it has run; a call that has not started when the time-out ends is
// withdrawn (false), one that has started is waited for, so the argument may go once this
// returns.
bool SafeSyncRun(TSyncProcedure procedure, void* argument, std::chrono::milliseconds timeout);

// The hidden receiver objects alive now (those whose deletion is still due included), for
// tests and diagnostics.
std::size_t SafeSyncReceiverCount();

}  // namespace zorvid
