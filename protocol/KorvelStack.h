#pragma once

#include <cstddef>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

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
// that thread and a blocking Request. Request runs on the caller's thread and holds the stack's
// lock, then the transport's lock, while it exchanges; it queues what it read that was not its
// answer before it lets them go, and hands it to the receive path after. So no thread waits for
// receiveMutex_ while holding the stack's or the transport's lock, and device callbacks, which
// run with receiveMutex_ held, may use the stack; they must not start a blocking request.
class TKorvelStack final : public TNodedInterface, public virtual IKorvelStack {
 public:
  TKorvelStack();
  ~TKorvelStack() override;

  bool SendPacket(TByte adr, TByte sig, TByte inst, const TByteString& data) override;
  bool Request(TByte adr, TByte sig, TByte inst, const TByteString& data, TByteString& answer,
               std::int32_t timeoutMs) override;
  // Ends at the deadline however much arrives, and at once when the line closes; keeps no more
  // of what is not the answer than the receive path would.
  bool RequestWithReason(TByte adr, TByte sig, TByte inst, const TByteString& data,
                         TByteString& answer, std::int32_t timeoutMs, std::string& missed) override;
  TCiRef GetCommunicationInterface() override;
  void SetCommunicationInterface(TCiRef ci) override;
  bool AddDevice(TRef<IKorvelStackDevice> device) override;
  bool RemoveDevice(TRef<IKorvelStackDevice> device) override;

  // The stack may be owned only by a transport, which it then reads and writes.
  void SetOwner(TRef<IInterface> owner) override;

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
  // Hands a readable packet to every device among `children` it is for; false when no device
  // took it.
  bool Deliver(const TKorvelFormat97& packet, const TInterfaceList& children);
  // Queues received bytes for the receive path, in the order of the calls.
  void Enqueue(const TByteString& bytes);
  // Delivers every complete packet queued so far (see ProcessReceived).
  void DeliverReceived();
  // Cuts the next packet and delivers it to the devices, under the receive mutex; false when
  // none is complete.
  bool DeliverNext();

  TCiRef ci_;  // guarded by the node lock
  std::recursive_mutex receiveMutex_;
  TPacketReader reader_;  // guarded by receiveMutex_
  // Bytes read but not yet in reader_. Its mutex is the innermost lock: nothing is called while
  // it is held, so a thread holding the stack's lock may always queue.
  std::mutex inboxMutex_;
  TByteString inbox_;  // guarded by inboxMutex_
};

// A stack built from a persisted element and attached to its owner (a transport).
TRef<TKorvelStack> NewKorvelStack(TRef<IXMLElement> element, TRef<IInterface> owner);

}  // namespace zorvid
