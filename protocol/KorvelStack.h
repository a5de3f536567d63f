#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/NodedInterface.h"
#include "protocol/KorvelInterfaces.h"
#include "protocol/PacketReader.h"

namespace zorvid {

// A received packet for the refused address, or a stack given an owner that is no transport.
class EKorvelStackError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Sits on one transport: cuts its byte stream into packets and hands each to the devices whose
// address it carries; sends fire-and-forget packets and blocking requests for its devices.
//
// Threads: icDataRcv runs on whatever thread the transport raises received data (the main
// thread, or a transport thread). It holds the stack's lock while it reads and queues the bytes;
// the receive path then runs under receiveMutex_, which serialises the receive buffer between
// the threads that deliver. Request runs on the caller's thread and holds the stack's lock, then
// the transport's lock, while it exchanges; it queues what it read that is not its answer as it
// reads, and delivers it there and then when no other thread holds receiveMutex_ (it never waits
// for it), the rest once it has let the locks go. So no thread waits for receiveMutex_ while
// holding the stack's or the transport's lock, and device callbacks, which run with
// receiveMutex_ held (on the line's thread, or on a requesting one), may use the stack; they
// must not start a blocking request.
class TKorvelStack final : public TNodedInterface, public virtual IKorvelStack {
 public:
  TKorvelStack();
  ~TKorvelStack() override;

  bool SendPacket(TByte adr, TByte sig, TByte inst, const TByteString& data) override;
  bool Request(TByte adr, TByte sig, TByte inst, const TByteString& data, TByteString& answer,
               std::int32_t timeoutMs) override;
  // Ends at the deadline however much arrives, at once when the line closes, and as soon as the
  // answer is seen damaged (waiting longer would not mend it); holds no more than the receive
  // path would, however long it waits.
  bool RequestWithReason(TByte adr, TByte sig, TByte inst, const TByteString& data,
                         TByteString& answer, std::int32_t timeoutMs,
                         TRequestMiss& missed) override;
  // For an owner that goes away while a request may wait (any thread, never blocks): the
  // request in flight ends within one wait round (50 ms) without an answer, and every later
  // one fails at once. There is no way back.
  void Abandon() { abandoned_ = true; }
  // Requests wait for their answers again: for an owner that abandoned them to close the line
  // at once and stays.
  void Resume() { abandoned_ = false; }
  bool IsAbandoned() const { return abandoned_; }
  TCiRef GetCommunicationInterface() override;
  void SetCommunicationInterface(TCiRef ci) override;
  bool AddDevice(TRef<IKorvelStackDevice> device) override;
  bool RemoveDevice(TRef<IKorvelStackDevice> device) override;

  // The stack may be owned only by a transport, which it then reads and writes.
  void SetOwner(TRef<IInterface> owner) override;
  // A change of the children is also a change of the devices packets go to.
  void NotifyAdded(TRef<IInterface> node, std::int32_t level) override;
  void NotifyRemoved(TRef<IInterface> node, std::int32_t level) override;

  // The transport's received-data handler.
  void icDataRcv(TCiRef sender);
  // The receive path: appends `bytes` and delivers every complete packet. Raises
  // EKorvelStackError "RCV packet ADR=$FF !" for a packet to the refused address, which is
  // dropped first, so the packets behind it arrive with the next call.
  void ProcessReceived(const TByteString& bytes);
  // Bytes waiting in the receive buffer (an incomplete packet or unmatched garbage).
  std::size_t PendingBytes();

 protected:
  void BeforeDestruction() noexcept override;

 private:
  using TDeviceList = std::vector<TRef<IKorvelStackDevice>>;
  enum class TBatchEnd { kDrained, kFull, kDevicesChanged, kBusy };

  // The devices among the children.
  TDeviceList Devices();
  // Hands a readable packet to every device it is for; one no device takes is dropped.
  static void Deliver(const TKorvelFormat97& packet, const TDeviceList& devices);
  // Queues received bytes for the receive path, in the order of the calls; holds no more than
  // the receive buffer would keep.
  void Enqueue(std::string_view bytes);
  // Queues bytes without copying them when nothing waits before them; the caller keeps them
  // until DeliverLent has returned.
  void EnqueueLent(std::string_view bytes);
  // DeliverReceived, after which what is left of lent bytes is copied, however it ends. The
  // copy waits for the receive mutex: not to be called under the stack's or the line's lock.
  void DeliverLent();
  void SettleLent();
  // Delivers every complete packet queued so far (see ProcessReceived).
  void DeliverReceived();
  // Delivers what is queued during a request when no other thread is delivering; the first
  // error is kept in `failure`, after which the rest waits for the request's end.
  void DeliverDuringRequest(std::exception_ptr& failure);
  // Delivers up to `limit` packets, under the receive mutex, to the devices there were when it
  // began; it ends early when they change. With `onlyIfFree` it gives up at once (kBusy) when
  // another thread holds the receive mutex.
  TBatchEnd DeliverBatch(int limit, bool onlyIfFree);
  // The next complete packet, taking the queued bytes when the buffer has none; under the
  // receive mutex.
  bool NextPacket(TKorvelFormat97& packet);

  TCiRef ci_;  // guarded by the node lock
  std::atomic<bool> abandoned_{false};
  // Counts the changes of the children, so a delivery notices them without taking the lock.
  std::atomic<std::uint32_t> devicesVersion_{0};
  std::recursive_mutex receiveMutex_;
  TPacketReader reader_;  // guarded by receiveMutex_
  // Bytes read but not yet in reader_. Its mutex is the innermost lock: nothing is called while
  // it is held, so a thread holding the stack's lock may always queue.
  std::mutex inboxMutex_;
  TReceiveBuffer inbox_;  // guarded by inboxMutex_
};

// A stack built from a persisted element and attached to its owner (a transport).
TRef<TKorvelStack> NewKorvelStack(TRef<IXMLElement> element, TRef<IInterface> owner);

}  // namespace zorvid
