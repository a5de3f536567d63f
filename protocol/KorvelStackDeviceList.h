#pragma once

// The process-wide list of every stack device that exists, whatever stack it is registered
// with, and the event that announces each change of it. Devices report their birth and death
// through the hooks of KorvelStackDevice.h, which StartDeviceList points here.

#include <memory>

#include "core/Eventer.h"
#include "core/NodedInterface.h"

namespace zorvid {

class TKorvelStackDevice;

// A snapshot of the list: each device's basic interface (IKorvelStackDevice can be queried from
// it), in order of creation. It holds counted references, so a device stays alive while a
// snapshot that contains it is kept; later changes never touch a snapshot.
using TKorvelDeviceList = std::shared_ptr<const TInterfaceList>;

// A device is listed from the end of the base constructor on, so a device of a derived class
// appears before its derived part is built: until its constructor has returned, only the thread
// that creates it may touch it. Devices of derived classes are therefore made on one thread (the
// main thread) while other threads may read the list or fire it.
//
// Fired after every change with the list as it now is. Handlers run on the thread that created
// or released the device, with the list's lock held: they may create or release devices on their
// own thread, but must not wait for another thread that does.
class TevnterKorvelDeviceListChanged final : public TTypedEventer<TKorvelDeviceList> {};

// Start-up, before any device is made: an empty list, the eventer, and the device hooks
// pointing here. Starting a running list changes nothing.
void StartDeviceList();
// Shut-down: the hooks are cleared, the list emptied and the eventer let go (a fire in progress
// keeps it until it ends). Devices that still exist are no longer followed.
void StopDeviceList();

// The eventer to subscribe to; empty while the list is not running.
std::shared_ptr<TevnterKorvelDeviceListChanged> KorvelDeviceListChanged();
// The current content; an empty list while the list is not running.
TKorvelDeviceList KorvelDevices();

// The hooks: append or remove the device, then fire. Both ignore a list that is not running,
// and removing a device that is not listed changes nothing and fires nothing.
void DeviceCreated(TKorvelStackDevice* device) noexcept;
void DeviceDestroyed(TKorvelStackDevice* device) noexcept;

}  // namespace zorvid
