#include "transport/serial/SafeSync.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <algorithm>
#include <array>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/MessageHook.h"

namespace zorvid {
namespace {

struct TEntry {
  TSyncId id = 0;  // 0: free
  bool enabled = false;
  TSyncProcedure procedure = nullptr;
  void* argument = nullptr;
};

// A call waiting for the main thread: an entry's procedure, or one given directly.
struct TPendingCall {
  TSyncId id = 0;
  TSyncProcedure procedure = nullptr;
  void* argument = nullptr;
  bool done = false;
};

// The hidden object in the main thread. A queued call carries no data of ours: the call's
// record waits in the table's queue under the table's mutex (a queued functor would hand its
// captures over behind locks that the thread checkers cannot see).
class TSyncReceiver final : public QObject {
  Q_OBJECT
 public:
  Q_INVOKABLE void RunNextCall();
};

struct TSyncTable {
  std::mutex mutex;
  // A call finished, an entry was disabled or freed, or a procedure run ended.
  std::condition_variable changed;
  // Everything below is guarded by mutex.
  std::array<TEntry, kSafeSyncEntries> entries;
  TSyncId lastId = 0;
  std::deque<std::shared_ptr<TPendingCall>> queue;
  std::vector<TSyncId> running;  // entries whose procedure runs on the main thread now
  std::unique_ptr<TSyncReceiver> receiver;
  std::thread::id mainThread;  // unknown until the receiver first runs, if made elsewhere
};

TSyncTable& Table() {
  static TSyncTable table;
  return table;
}

// Called with the table locked.
TEntry* FindEntry(TSyncTable& table, TSyncId id) {
  if (id == 0) return nullptr;
  const auto found = std::find_if(table.entries.begin(), table.entries.end(),
                                  [id](const TEntry& entry) { return entry.id == id; });
  return found == table.entries.end() ? nullptr : &*found;
}

bool IsEnabled(TSyncTable& table, TSyncId id) {
  const TEntry* entry = FindEntry(table, id);
  return entry && entry->enabled;
}

bool IsMainThread(const TSyncTable& table) {
  return table.mainThread == std::this_thread::get_id();
}

// Made by the first thread that needs it, which should be the main thread; made elsewhere it
// moves to the application's thread and learns the main thread when it first runs.
void EnsureReceiver(TSyncTable& table) {
  if (table.receiver) return;
  table.receiver = std::make_unique<TSyncReceiver>();
  const QCoreApplication* application = QCoreApplication::instance();
  if (application && application->thread() != table.receiver->thread()) {
    table.receiver->moveToThread(application->thread());
    return;
  }
  table.mainThread = std::this_thread::get_id();
}

TSyncId NextFreeId(TSyncTable& table) {
  do {
    ++table.lastId;
  } while (table.lastId == 0 || FindEntry(table, table.lastId));
  return table.lastId;
}

void RunShowingErrors(TSyncProcedure procedure, void* argument) {
  try {
    procedure(argument);
  } catch (const std::exception& error) {
    ShowMessage(error.what());
  } catch (...) {
    ShowMessage("Unknown error raised by a procedure run on the main thread");
  }
}

// On the main thread: the entry's procedure, when the entry is still enabled.
void RunEntry(TSyncTable& table, TSyncId id) {
  TEntry entry;
  {
    std::lock_guard lock(table.mutex);
    const TEntry* found = FindEntry(table, id);
    if (!found || !found->enabled) return;
    entry = *found;
    table.running.push_back(id);
  }
  RunShowingErrors(entry.procedure, entry.argument);
  {
    std::lock_guard lock(table.mutex);
    table.running.erase(std::find(table.running.begin(), table.running.end(), id));
  }
  table.changed.notify_all();
}

// Queues the call for the main thread and waits until it is done or `stillWanted` fails.
template <class TPredicate>
void PostAndWait(TSyncTable& table, std::unique_lock<std::mutex>& lock,
                 const std::shared_ptr<TPendingCall>& call, std::chrono::milliseconds timeout,
                 TPredicate stillWanted) {
  table.queue.push_back(call);
  TSyncReceiver* receiver = table.receiver.get();
  lock.unlock();
  QMetaObject::invokeMethod(receiver, "RunNextCall", Qt::QueuedConnection);
  lock.lock();
  table.changed.wait_for(lock, timeout, [&] { return call->done || !stillWanted(); });
}

void TSyncReceiver::RunNextCall() {
  TSyncTable& table = Table();
  std::shared_ptr<TPendingCall> call;
  {
    std::lock_guard lock(table.mutex);
    table.mainThread = std::this_thread::get_id();
    if (table.queue.empty()) return;
    call = table.queue.front();
    table.queue.pop_front();
  }
  if (call->procedure)
    RunShowingErrors(call->procedure, call->argument);
  else
    RunEntry(table, call->id);
  {
    std::lock_guard lock(table.mutex);
    call->done = true;
  }
  table.changed.notify_all();
}

}  // namespace

TSyncId SafeSyncRegister(TSyncProcedure procedure, void* argument) {
  TSyncTable& table = Table();
  std::lock_guard lock(table.mutex);
  EnsureReceiver(table);
  const auto free = std::find_if(table.entries.begin(), table.entries.end(),
                                 [](const TEntry& entry) { return entry.id == 0; });
  if (free == table.entries.end()) return 0;
  *free = TEntry{NextFreeId(table), false, procedure, argument};
  return free->id;
}

void SafeSyncUnregister(TSyncId id) {
  TSyncTable& table = Table();
  std::unique_lock lock(table.mutex);
  if (TEntry* entry = FindEntry(table, id)) *entry = TEntry{};
  table.changed.notify_all();
  if (IsMainThread(table)) return;  // a run on this thread is the caller itself
  table.changed.wait(lock, [&] {
    return std::find(table.running.begin(), table.running.end(), id) == table.running.end();
  });
}

void SafeSyncEnable(TSyncId id, bool enabled) {
  TSyncTable& table = Table();
  {
    std::lock_guard lock(table.mutex);
    if (TEntry* entry = FindEntry(table, id)) entry->enabled = enabled;
  }
  table.changed.notify_all();
}

bool SafeSyncCall(TSyncId id, std::chrono::milliseconds timeout) {
  TSyncTable& table = Table();
  std::unique_lock lock(table.mutex);
  if (!IsEnabled(table, id)) return false;
  if (IsMainThread(table)) {
    lock.unlock();
    RunEntry(table, id);
    lock.lock();
  } else {
    auto call = std::make_shared<TPendingCall>();
    call->id = id;
    PostAndWait(table, lock, call, timeout, [&] { return IsEnabled(table, id); });
  }
  return IsEnabled(table, id);
}

bool SafeSyncRun(TSyncProcedure procedure, void* argument, std::chrono::milliseconds timeout) {
  TSyncTable& table = Table();
  std::unique_lock lock(table.mutex);
  EnsureReceiver(table);
  if (IsMainThread(table)) {
    lock.unlock();
    RunShowingErrors(procedure, argument);
    return true;
  }
  auto call = std::make_shared<TPendingCall>();
  call->procedure = procedure;
  call->argument = argument;
  PostAndWait(table, lock, call, timeout, [] { return true; });
  if (call->done) return true;
  // Withdrawn while still queued, so the argument may go; once running it is waited for.
  const auto queued = std::find(table.queue.begin(), table.queue.end(), call);
  if (queued != table.queue.end()) {
    table.queue.erase(queued);
    return false;
  }
  table.changed.wait(lock, [&] { return call->done; });
  return true;
}

}  // namespace zorvid

#include "SafeSync.moc"
