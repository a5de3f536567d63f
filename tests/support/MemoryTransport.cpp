#include "tests/support/MemoryTransport.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "transport/ConnectionString.h"

namespace zorvid::test {

struct TMemoryTransport::TChannel {
  std::mutex mutex;
  std::condition_variable wake;
  // Guarded by mutex.
  TMemoryTransport* owner = nullptr;  // cleared before the owner is destroyed
  std::weak_ptr<TChannel> peer;
  std::string name;
  bool active = false;
  TByteString inbox;
  bool dataArrived = false;
  std::size_t chunk = 0;  // most bytes one read hands out; 0: all
  bool stop = false;
  std::thread delivery;
};

namespace {

// Endpoints configured with a name and still waiting for their peer.
std::mutex waitingMutex;
std::map<std::string, std::weak_ptr<void>> waitingByName;  // guarded by waitingMutex

}  // namespace

TMemoryTransport::TMemoryTransport()
    : TCommunicationInterfaceDataSpy("TMemoryTransport"), channel_(std::make_shared<TChannel>()) {
  channel_->owner = this;
  channel_->delivery = std::thread(&TMemoryTransport::DeliveryLoop, channel_);
}

TMemoryTransport::~TMemoryTransport() = default;

void TMemoryTransport::BeforeDestruction() noexcept {
  {
    std::lock_guard guard(channel_->mutex);
    channel_->owner = nullptr;
    channel_->stop = true;
  }
  channel_->wake.notify_all();
  // The last reference may have gone inside a handler on the delivery thread itself; the loop
  // then ends on its own without touching this object again.
  if (channel_->delivery.get_id() == std::this_thread::get_id())
    channel_->delivery.detach();
  else
    channel_->delivery.join();
  TCommunicationInterfaceDataSpy::BeforeDestruction();
}

void TMemoryTransport::DeliveryLoop(std::shared_ptr<TChannel> channel) {
  for (;;) {
    TRef<TMemoryTransport> owner;
    {
      std::unique_lock guard(channel->mutex);
      channel->wake.wait(guard, [&] { return channel->stop || channel->dataArrived; });
      if (channel->stop) return;
      channel->dataArrived = false;
      owner = TRef<TMemoryTransport>(channel->owner);
    }
    if (!owner) continue;
    try {
      owner->DoDataRcv();
    } catch (...) {
      // An error report handler that raises must not end the delivery thread.
    }
  }
}

std::pair<TRef<TMemoryTransport>, TRef<TMemoryTransport>> TMemoryTransport::CreatePair() {
  auto a = New<TMemoryTransport>();
  auto b = New<TMemoryTransport>();
  Connect(*a, *b);
  return {a, b};
}

void TMemoryTransport::Connect(TMemoryTransport& a, TMemoryTransport& b) {
  std::scoped_lock guard(a.channel_->mutex, b.channel_->mutex);
  a.channel_->peer = b.channel_;
  b.channel_->peer = a.channel_;
}

void TMemoryTransport::Register() {
  RegisterTransport(&ConstructTransport<TMemoryTransport>, "MEMORY");
}

void TMemoryTransport::Unregister() {
  UnregisterTransport(&ConstructTransport<TMemoryTransport>);
}

bool TMemoryTransport::GetActive() {
  std::lock_guard guard(channel_->mutex);
  return channel_->active;
}

std::string TMemoryTransport::GetConnectionName() {
  std::lock_guard guard(channel_->mutex);
  return "MEMORY " + channel_->name;
}

std::string TMemoryTransport::GetConfiguration() {
  std::lock_guard guard(channel_->mutex);
  return "provider=MEMORY;name=" + channel_->name + ";chunk=" + std::to_string(channel_->chunk);
}

std::int32_t TMemoryTransport::InBuffUsed() {
  std::lock_guard guard(channel_->mutex);
  return static_cast<std::int32_t>(channel_->inbox.size());
}

bool TMemoryTransport::WaitForData(std::int32_t timeoutMs) {
  std::unique_lock guard(channel_->mutex);
  return channel_->wake.wait_for(guard, std::chrono::milliseconds(std::max(timeoutMs, 0)), [this] {
    return !channel_->inbox.empty() || !channel_->active || channel_->stop;
  }) && !channel_->inbox.empty();
}

void TMemoryTransport::PurgeInput() {
  std::lock_guard guard(channel_->mutex);
  channel_->inbox.clear();
}

void TMemoryTransport::Inject(const TByteString& data) {
  {
    std::lock_guard guard(channel_->mutex);
    channel_->inbox += data;
    channel_->dataArrived = true;
  }
  channel_->wake.notify_all();
}

bool TMemoryTransport::InternalOpen() {
  ++internalOpenCalls_;
  if (!openResult_) return false;
  std::lock_guard guard(channel_->mutex);
  channel_->active = true;
  return true;
}

bool TMemoryTransport::InternalClose(bool /*force*/) {
  ++internalCloseCalls_;
  std::lock_guard guard(channel_->mutex);
  channel_->active = false;
  channel_->inbox.clear();
  return true;
}

std::int32_t TMemoryTransport::InternalWrite(const TByteString& data) {
  ++internalWriteCalls_;
  std::shared_ptr<TChannel> peer;
  {
    std::lock_guard guard(channel_->mutex);
    if (!channel_->active) return 0;
    peer = channel_->peer.lock();
  }
  if (peer) {
    std::lock_guard guard(peer->mutex);
    if (!peer->active) return static_cast<std::int32_t>(data.size());  // nobody listens
    peer->inbox += data;
    peer->dataArrived = true;
    peer->wake.notify_all();
  }
  return static_cast<std::int32_t>(data.size());
}

TByteString TMemoryTransport::InternalRead() {
  std::lock_guard guard(channel_->mutex);
  TByteString& inbox = channel_->inbox;
  if (channel_->chunk == 0 || inbox.size() <= channel_->chunk) return std::exchange(inbox, {});
  TByteString piece = inbox.substr(0, channel_->chunk);
  inbox.erase(0, channel_->chunk);
  // What is left is announced again, as a line announces every arrival.
  channel_->dataArrived = true;
  channel_->wake.notify_all();
  return piece;
}

bool TMemoryTransport::ApplyConfiguration(const std::string& text) {
  if (!acceptConfiguration_) return false;
  const TConnectionSettings settings(text);
  if (const auto chunk = settings.Int("chunk")) {
    std::lock_guard guard(channel_->mutex);
    channel_->chunk = static_cast<std::size_t>(std::max(0, *chunk));
  }
  if (const auto name = settings.Find("name")) {
    {
      std::lock_guard guard(channel_->mutex);
      channel_->name = *name;
    }
    std::lock_guard guard(waitingMutex);
    auto waiting = std::static_pointer_cast<TChannel>(waitingByName[*name].lock());
    if (waiting && waiting != channel_) {
      std::scoped_lock pair(channel_->mutex, waiting->mutex);
      channel_->peer = waiting;
      waiting->peer = channel_;
      waitingByName.erase(*name);
    } else {
      waitingByName[*name] = channel_;
    }
  }
  if (settings.Active("active").value_or(false)) Open();
  return true;
}

}  // namespace zorvid::test
