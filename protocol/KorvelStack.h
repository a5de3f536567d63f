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
// thread, or a transport thread). It holds the stack's lock only while it reads; the receive
// path then runs under receiveMutex_, which serialises the receive buffer between that thread
// and a blocking Request. Request runs on the caller's thread and holds the stack's lock, then
// the transport's lock, for its whole duration. Lock order: stack, transport, receiveMutex_.
// Device callbacks run with receiveMutex_ held: they must not start a blocking request.
class TKorvelStack final : public TNodedInterface, public virtual IKorvelStack {
 public:
  TKorvelStack();
  ~TKorvelStack() override;

  bool SendPacket(TByte adr, TByte sig, TByte inst, const TByteString& data) override;
  bool Request(TByte adr, TByte sig, TByte inst, const TByteString& data, TByteString& answer,
               std::int32_t timeoutMs) override;
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
  // Hands a readable packet to every device it is for; false when no device took it.
  bool Deliver(const TKorvelFormat97& packet);

  TCiRef ci_;  // guarded by the node lock
  std::recursive_mutex receiveMutex_;
  TPacketReader reader_;  // guarded by receiveMutex_
};

// A stack built from a persisted element and attached to its owner (a transport).
TRef<TKorvelStack> NewKorvelStack(TRef<IXMLElement> element, TRef<IInterface> owner);

}  // namespace zorvid
