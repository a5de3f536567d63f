#include "protocol/KorvelStackDeviceList.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/MessageHook.h"
#include "protocol/KorvelStackDevice.h"

namespace zorvid {
namespace {

// The lock is re-entrant and held across a fire, so that subscribers hear of the changes in the
// order they were made, and a handler may create or release devices on its own thread.
struct TDeviceListState {
  std::recursive_mutex mutex;
  // All fields below are guarded by mutex.
  bool running = false;
  std::vector<TKorvelStackDevice*> devices;  // not owning
  std::shared_ptr<TevnterKorvelDeviceListChanged> eventer;
};

// Never destroyed: devices released after main() has returned still report to it.
TDeviceListState& State() {
  static auto* state = new TDeviceListState;
  return *state;
}

// Under the state's lock: a counted reference to a device, or none when its last reference has
// gone and another thread is destroying it (that thread waits in its hook for this lock). There
// is no way to take a reference only while the count is above zero, so one taken from a dying
// device is kept, never given back: giving it back could start the destruction a second time.
// Such a device is marked as destroying by its releasing thread right after its count reached
// zero; a count that comes back as 1 means that mark is imminent and is waited for, so that no
// later snapshot mistakes the kept reference for a live one.
TRef<IInterface> LiveReference(TKorvelStackDevice* device) {
  IInterface* object = device;
  if (object->AddRef() == 1) {
    while (!device->Destroying())
      std::this_thread::yield();
  }
  if (device->Destroying()) return {};
  return TRef<IInterface>::Adopt(object);
}

TKorvelDeviceList Snapshot(const std::vector<TKorvelStackDevice*>& devices) {
  auto list = std::make_shared<TInterfaceList>();
  list->reserve(devices.size());
  for (TKorvelStackDevice* device : devices) {
    if (auto reference = LiveReference(device)) list->push_back(std::move(reference));
  }
  return list;
}

// Under the state's lock. The snapshot outlives the lock, so that a device whose last reference
// is in it is destroyed after the lock is let go.
void Publish(TDeviceListState& state, TKorvelDeviceList& snapshot) {
  snapshot = Snapshot(state.devices);
  if (const auto eventer = state.eventer) eventer->Fire(snapshot);
}

void ReportFailure(const char* what, const TKorvelStackDevice* device,
                   const std::exception& error) {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(device));
  ShowMessage(std::string("Device list: ") + what + " device at " + address +
              " failed: " + error.what());
}

}  // namespace

void StartDeviceList() {
  TDeviceListState& state = State();
  {
    std::lock_guard guard(state.mutex);
    if (state.running) return;
    state.running = true;
    state.devices.clear();
    state.eventer = std::make_shared<TevnterKorvelDeviceListChanged>();
  }
  SetKorvelDeviceCreatedHook(&DeviceCreated);
  SetKorvelDeviceDestroyedHook(&DeviceDestroyed);
}

void StopDeviceList() {
  SetKorvelDeviceCreatedHook(nullptr);
  SetKorvelDeviceDestroyedHook(nullptr);
  std::shared_ptr<TevnterKorvelDeviceListChanged> eventer;
  TDeviceListState& state = State();
  std::lock_guard guard(state.mutex);
  state.running = false;
  state.devices.clear();
  eventer = std::move(state.eventer);
}

std::shared_ptr<TevnterKorvelDeviceListChanged> KorvelDeviceListChanged() {
  TDeviceListState& state = State();
  std::lock_guard guard(state.mutex);
  return state.eventer;
}

TKorvelDeviceList KorvelDevices() {
  TDeviceListState& state = State();
  std::lock_guard guard(state.mutex);
  return Snapshot(state.devices);
}

void DeviceCreated(TKorvelStackDevice* device) noexcept {
  TKorvelDeviceList snapshot;
  TDeviceListState& state = State();
  try {
    std::lock_guard guard(state.mutex);
    if (!state.running) return;
    state.devices.push_back(device);
    Publish(state, snapshot);
  } catch (const std::exception& error) {
    ReportFailure("recording the created", device, error);
  }
}

void DeviceDestroyed(TKorvelStackDevice* device) noexcept {
  TKorvelDeviceList snapshot;
  TDeviceListState& state = State();
  try {
    std::lock_guard guard(state.mutex);
    const auto found = std::find(state.devices.begin(), state.devices.end(), device);
    if (found == state.devices.end()) return;
    state.devices.erase(found);
    Publish(state, snapshot);
  } catch (const std::exception& error) {
    ReportFailure("removing the destroyed", device, error);
  }
}

}  // namespace zorvid
