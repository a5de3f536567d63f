#include "transport/serial/SafeSync.h"

#include <QCoreApplication>
#include <QObject>
#include <algorithm>
#include <array>
#include <atomic>
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

std::atomic<std::size_t> liveReceivers{0};

// The hidden object in an owner thread (or, for SafeSyncRun, in the main thread). A queued call
// carries no data of ours: the call's record waits in the table's queue under the table's mutex
// (a queued functor would hand its captures over behind locks that the thread checkers cannot
// see).
class TSyncReceiver final : public QObject {
  Q_OBJECT
 public:
  TSyncReceiver() { ++liveReceivers; }
  ~TSyncReceiver() override { --liveReceivers; }
  TSyncReceiver(const TSyncReceiver&) = delete;
  TSyncReceiver& operator=(const TSyncReceiver&) = delete;

  Q_INVOKABLE void RunNextCall();

  // Guarded by the table's mutex.
  std::thread::id threadId;  // where it runs calls; unknown until it first runs, if made elsewhere
  int posting = 0;           // calls on their way to it outside the mutex
};

struct TEntry {
  TSyncId id = 0;  // 0: free
  bool enabled = false;
  TSyncProcedure procedure = nullptr;
  void* argument = nullptr;
  TSyncReceiver* receiver = nullptr;  // the owner thread's
};

// A call waiting for a receiver: an entry's procedure, or one given directly.
struct TPendingCall {
  TSyncReceiver* receiver = nullptr;
  TSyncId id = 0;
  TSyncProcedure procedure = nullptr;
  void* argument = nullptr;
  bool done = false;
};

struct TSyncTable {
  std::mutex mutex;
  // A call finished, an entry was disabled or freed, or a procedure run ended.
  std::condition_variable changed;
  // Everything below is guarded by mutex.
  std::array<TEntry, kSafeSyncEntries> entries;
  TSyncId lastId = 0;
  std::deque<std::shared_ptr<TPendingCall>> queue;  // every receiver's calls, in order
  std::vector<TSyncId> running;        // entries whose procedure runs on its owner thread now
  std::vector<TSyncReceiver*> owners;  // one per owner thread that holds registrations
  std::unique_ptr<TSyncReceiver> mainReceiver;  // SafeSyncRun's
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

bool IsOnThreadOf(const TSyncReceiver& receiver) {
  return receiver.threadId == std::this_thread::get_id();
}

// The calling thread's receiver, made with its affinity at the thread's first registration.
TSyncReceiver* OwnReceiver(TSyncTable& table) {
  const auto found = std::find_if(table.owners.begin(), table.owners.end(),
                                  [](const TSyncReceiver* owner) { return IsOnThreadOf(*owner); });
  if (found != table.owners.end()) return *found;
  auto* receiver = new TSyncReceiver;
  receiver->threadId = std::this_thread::get_id();
  table.owners.push_back(receiver);
  return receiver;
}

// SafeSyncRun's receiver, made by the first thread that needs it, which should be the main
// thread; made elsewhere it moves to the application's thread and learns the main thread when
// it first runs.
TSyncReceiver& MainReceiver(TSyncTable& table) {
  if (table.mainReceiver) return *table.mainReceiver;
  table.mainReceiver = std::make_unique<TSyncReceiver>();
  const QCoreApplication* application = QCoreApplication::instance();
  if (application && application->thread() != table.mainReceiver->thread())
    table.mainReceiver->moveToThread(application->thread());
  else
    table.mainReceiver->threadId = std::this_thread::get_id();
  return *table.mainReceiver;
}

// With the table locked: deletes an owner thread's receiver later once it serves no entry and
// nothing is being posted to it, and drops the calls still queued for it (their entries are
// gone). The lock is let go meanwhile.
void DeleteUnusedReceiver(TSyncTable& table, std::unique_lock<std::mutex>& lock,
                          TSyncReceiver* receiver) {
  const auto owner = std::find(table.owners.begin(), table.owners.end(), receiver);
  if (owner == table.owners.end() || receiver->posting > 0 ||
      std::any_of(table.entries.begin(), table.entries.end(),
                  [receiver](const TEntry& entry) { return entry.receiver == receiver; }))
    return;
  table.owners.erase(owner);
  std::erase_if(table.queue, [receiver](const std::shared_ptr<TPendingCall>& call) {
    return call->receiver == receiver;
  });
  lock.unlock();
  receiver->deleteLater();
  lock.lock();
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
    ShowMessage("Unknown error raised by a procedure handed to its thread");
  }
}

// On the entry's owner thread: its procedure, when the entry is still enabled.
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

// Queues the call for its receiver and waits until it is done or `stillWanted` fails.
template <class TPredicate>
void PostAndWait(TSyncTable& table, std::unique_lock<std::mutex>& lock,
                 const std::shared_ptr<TPendingCall>& call, std::chrono::milliseconds timeout,
                 TPredicate stillWanted) {
  TSyncReceiver* receiver = call->receiver;
  table.queue.push_back(call);
  ++receiver->posting;
  lock.unlock();
  QMetaObject::invokeMethod(receiver, "RunNextCall", Qt::QueuedConnection);
  lock.lock();
  --receiver->posting;
  DeleteUnusedReceiver(table, lock, receiver);  // its last entry went while the call was posted
  table.changed.wait_for(lock, timeout, [&] { return call->done || !stillWanted(); });
}

void TSyncReceiver::RunNextCall() {
  TSyncTable& table = Table();
  std::shared_ptr<TPendingCall> call;
  {
    std::lock_guard lock(table.mutex);
    threadId = std::this_thread::get_id();
    const auto next = std::find_if(
        table.queue.begin(), table.queue.end(),
        [this](const std::shared_ptr<TPendingCall>& queued) { return queued->receiver == this; });
    if (next == table.queue.end()) return;
    call = *next;
    table.queue.erase(next);
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
  const auto free = std::find_if(table.entries.begin(), table.entries.end(),
                                 [](const TEntry& entry) { return entry.id == 0; });
  if (free == table.entries.end()) return 0;
  *free = TEntry{NextFreeId(table), false, procedure, argument, OwnReceiver(table)};
  return free->id;
}

void SafeSyncUnregister(TSyncId id) {
  TSyncTable& table = Table();
  std::unique_lock lock(table.mutex);
  TEntry* entry = FindEntry(table, id);
  if (!entry) return;
  TSyncReceiver* receiver = entry->receiver;
  const bool onOwnerThread = IsOnThreadOf(*receiver);
  *entry = TEntry{};
  table.changed.notify_all();
  DeleteUnusedReceiver(table, lock, receiver);
  if (onOwnerThread) return;  // a run on this thread is the caller itself
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
  const TEntry* entry = FindEntry(table, id);
  if (!entry || !entry->enabled) return false;
  if (IsOnThreadOf(*entry->receiver)) {
    lock.unlock();
    RunEntry(table, id);
    lock.lock();
  } else {
    auto call = std::make_shared<TPendingCall>();
    call->receiver = entry->receiver;
    call->id = id;
    PostAndWait(table, lock, call, timeout, [&] { return IsEnabled(table, id); });
  }
  return IsEnabled(table, id);
}

bool SafeSyncRun(TSyncProcedure procedure, void* argument, std::chrono::milliseconds timeout) {
  TSyncTable& table = Table();
  std::unique_lock lock(table.mutex);
  TSyncReceiver& receiver = MainReceiver(table);
  if (IsOnThreadOf(receiver)) {
    lock.unlock();
    RunShowingErrors(procedure, argument);
    return true;
  }
  auto call = std::make_shared<TPendingCall>();
  call->receiver = &receiver;
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

std::size_t SafeSyncReceiverCount() {
  return liveReceivers;
}

}  // namespace zorvid

#include "SafeSync.moc"
