#include "protocol/KorvelStack.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

#include "core/TimeoutManager.h"

namespace zorvid {
namespace {

using namespace std::chrono_literals;

// The longest wait of a blocking request before it looks at the line again.
constexpr auto kRequestPoll = 50ms;
// After this many packets in one call the receive path yields to newer input.
constexpr int kRoundsBeforeYield = 1000;

}  // namespace

TKorvelStack::TKorvelStack() : TNodedInterface("TKorvelStack") {}

TKorvelStack::~TKorvelStack() = default;

void TKorvelStack::BeforeDestruction() noexcept {
  SetCommunicationInterface({});
  TNodedInterface::BeforeDestruction();
}

TRef<TKorvelStack> NewKorvelStack(TRef<IXMLElement> element, TRef<IInterface> owner) {
  auto stack = New<TKorvelStack>();
  stack->LoadFromXML(std::move(element), true, false);
  stack->SetOwner(std::move(owner));
  return stack;
}

void TKorvelStack::SetOwner(TRef<IInterface> owner) {
  TNodedInterface::SetOwner(owner);
  auto ci = Supports<ICommunicationInterface>(owner);
  if (owner && !ci)
    throw EKorvelStackError("IKorvelStack can be owned only by ICommunicationInterface");
  SetCommunicationInterface(std::move(ci));
}

TCiRef TKorvelStack::GetCommunicationInterface() {
  TReadLocker guard(*this);
  return ci_;
}

void TKorvelStack::SetCommunicationInterface(TCiRef ci) {
  TCiRef old;
  {
    TWriteLocker guard(*this);
    if (ci == ci_) return;
    old = std::exchange(ci_, ci);
  }
  // Outside the stack's lock: letting the old line go waits for a received-data call that is
  // running on its thread, and that call takes the stack's lock.
  if (old) old->SetOnDataRcv({});
  {
    std::lock_guard receive(receiveMutex_);
    reader_.Clear();
    std::lock_guard inbox(inboxMutex_);
    inbox_.clear();
  }
  if (ci) ci->SetOnDataRcv({this, &TKorvelStack::icDataRcv});
}

bool TKorvelStack::AddDevice(TRef<IKorvelStackDevice> device) {
  if (!device) return false;
  const bool added = AddChild(device) >= 0;
  const TRef<IKorvelStack> self(this);
  if (!(device->GetStack() == self)) device->SetStack(self);
  return added;
}

bool TKorvelStack::RemoveDevice(TRef<IKorvelStackDevice> device) {
  if (!device) return false;
  // The device's SetStack calls back here and removes the child itself: decide first.
  const bool found = IndexOfChild(device) >= 0;
  if (device->GetStack() == TRef<IKorvelStack>(this)) device->SetStack({});
  RemoveChild(device);
  return found;
}

void TKorvelStack::icDataRcv(TCiRef sender) {
  {
    // Read and queued under the stack's lock, so bytes are queued in the order they were read.
    TWriteLocker guard(*this);
    if (sender) Enqueue(sender->Read());
  }
  DeliverReceived();
}

std::size_t TKorvelStack::PendingBytes() {
  std::lock_guard receive(receiveMutex_);
  std::lock_guard inbox(inboxMutex_);
  return reader_.Size() + inbox_.size();
}

void TKorvelStack::Enqueue(const TByteString& bytes) {
  std::lock_guard inbox(inboxMutex_);
  inbox_ += bytes;
}

bool TKorvelStack::Deliver(const TKorvelFormat97& packet, const TInterfaceList& children) {
  bool taken = false;
  for (const auto& child : children) {
    const auto device = Supports<IKorvelStackDevice>(child);
    if (!device) continue;
    const TByte address = device->GetAddress();
    if (packet.Adr == address || packet.Adr == kBroadcastAddress || address == kBroadcastAddress) {
      device->DoPacketReceive(packet);
      taken = true;
    }
  }
  return taken;
}

void TKorvelStack::ProcessReceived(const TByteString& bytes) {
  Enqueue(bytes);
  DeliverReceived();
}

void TKorvelStack::DeliverReceived() {
  const TCiRef ci = GetCommunicationInterface();
  for (int rounds = 1; DeliverNext(); ++rounds) {
    // After many packets in one call, newer input goes first: the next event carries on.
    if (rounds >= kRoundsBeforeYield && ci && ci->InBuffUsed() != 0) return;
  }
}

// The stack's lock is taken before the receive mutex, never under it.
bool TKorvelStack::DeliverNext() {
  const TInterfaceList children = GetChildren();
  std::lock_guard receive(receiveMutex_);
  {
    std::lock_guard inbox(inboxMutex_);
    reader_.Append(inbox_);
    inbox_.clear();
  }
  TKorvelFormat97 packet;
  if (!reader_.Next(packet)) return false;
  if (packet.Adr == kRefusedAddress) throw EKorvelStackError("RCV packet ADR=$FF !");
  Deliver(packet, children);  // a packet no device takes is dropped silently
  return true;
}

bool TKorvelStack::SendPacket(TByte adr, TByte sig, TByte inst, const TByteString& data) {
  const TCiRef ci = GetCommunicationInterface();
  if (!ci) return false;
  ci->Write(BuildPacket97(adr, sig, inst, data));
  return true;
}

namespace {

// Bytes read during a request, cut into packets: the answer, or everything else, which goes to
// the receive path when the request ends.
struct TRequestReader {
  TByte adr, sig;
  TByteString unrelated;  // not the answer, in arrival order, at most TReceiveBuffer::kLimit
  TByteString pending;    // read but not yet cut (an incomplete packet)
  std::uint16_t corruptAnswer = kPacket97Valid;  // the check a packet with our SIG failed

  // A packet this request's answer could be: its SIG and address, not sent unsolicited.
  bool IsOurs(const TByteString& packet) const {
    if (packet.size() < kPacket97MinSize) return false;
    const TByte packetAdr = ByteAt(packet, 4), packetSig = ByteAt(packet, 5),
                ack = ByteAt(packet, 6);
    return packetSig == sig && !IsUnsolicitedAck(ack) &&
           (adr == kBroadcastAddress || packetAdr == adr);
  }

  bool IsAnswer(const TByteString& packet) {
    if (!IsOurs(packet)) return false;
    const std::uint16_t check = ValidatePacket97(packet);
    if (check == kPacket97Valid) return true;
    corruptAnswer = check;
    return false;
  }

  // The receive path keeps only the newest bytes of a flood, so older ones need not be kept
  // here either.
  void KeepUnrelated(std::string_view bytes) {
    unrelated.append(bytes);
    if (unrelated.size() > TReceiveBuffer::kLimit)
      unrelated.erase(0, unrelated.size() - TReceiveBuffer::kLimit);
  }

  // Moves the bytes before `count` from pending to unrelated.
  void SetAside(std::size_t count) {
    KeepUnrelated(std::string_view(pending).substr(0, count));
    pending.erase(0, count);
  }

  // Cuts every complete packet out of what was read; the answer when one of them is it.
  TByteString CutAnswer() {
    for (;;) {
      std::size_t start = pending.find(kPacket97Start);
      if (start == TByteString::npos) {
        // Keep a final "*": its "a" may be on the way.
        SetAside(!pending.empty() && pending.back() == '*' ? pending.size() - 1 : pending.size());
        return {};
      }
      if (CompletePacketSize97(std::string_view(pending).substr(start)) == 0) {
        // A false "*a" in line noise may declare a length that never completes.
        start = FindCompletePacket97(pending, start + 1);
        if (start == TByteString::npos) {
          SetAside(pending.find(kPacket97Start));
          return {};
        }
      }
      SetAside(start);
      TByteString packet = ExtractPacket97(pending, true);
      if (IsAnswer(packet)) return packet;
      KeepUnrelated(packet);
    }
  }
};

// One round of a blocking request: until bytes come, at most kRequestPoll and never past the
// deadline; false when the line has closed, so the request ends at once. A line that gives up
// early for another reason (failed) still costs the whole round, so the request cannot spin
// on it.
bool WaitForAnswerBytes(ICommunicationInterface& ci, const TDeadline& deadline) {
  const auto round = std::min<std::chrono::milliseconds>(
      kRequestPoll, std::chrono::milliseconds(std::max<std::int64_t>(deadline.Remaining(), 0)));
  const auto end = std::chrono::steady_clock::now() + round;
  if (ci.WaitForData(static_cast<std::int32_t>(round.count()))) return true;
  if (ci.IsLineClosed()) return false;
  std::this_thread::sleep_until(end);
  return true;
}

// What a request that got no answer saw instead, for the device's failure text.
std::string MissReason(const TRequestReader& reader, ICommunicationInterface& ci) {
  if (ci.IsLineClosed()) {
    const std::string why = ci.GetFailureReason();
    return why.empty() ? "the line was closed" : "the line was closed: " + why;
  }
  if (reader.corruptAnswer == kPacket97BadChecksum)
    return "an answer with SIG " + std::to_string(reader.sig) + " came with a wrong checksum";
  if (reader.corruptAnswer != kPacket97Valid)
    return "an answer with SIG " + std::to_string(reader.sig) + " came malformed (check " +
           std::to_string(reader.corruptAnswer) + " failed)";
  return {};
}

}  // namespace

bool TKorvelStack::Request(TByte adr, TByte sig, TByte inst, const TByteString& data,
                           TByteString& answer, std::int32_t timeoutMs) {
  std::string missed;
  return RequestWithReason(adr, sig, inst, data, answer, timeoutMs, missed);
}

bool TKorvelStack::RequestWithReason(TByte adr, TByte sig, TByte inst, const TByteString& data,
                                     TByteString& answer, std::int32_t timeoutMs,
                                     std::string& missed) {
  answer.clear();
  missed.clear();
  TDeadline deadline;
  deadline.Start(timeoutMs);
  const TCiRef ci = GetCommunicationInterface();
  if (!ci || !ci->GetActive()) return false;

  TRequestReader reader{adr, sig, {}, {}};
  std::exception_ptr failure;
  {
    TWriteLocker stackGuard(*this);
    TWriteLocker lineGuard(*ci);
    try {
      reader.unrelated = ci->Read();
      ci->Write(BuildPacket97(adr, sig, inst, data));
      while (answer.empty()) {
        // The bytes that came with a close are still read: the answer may be among them.
        const bool lineOpen = WaitForAnswerBytes(*ci, deadline);
        if (ci->InBuffUsed() != 0) {
          reader.pending += ci->Read();
          answer = reader.CutAnswer();
        }
        if (!lineOpen || deadline.Expired()) break;
      }
    } catch (...) {
      failure = std::current_exception();
    }
    // Queued while the locks keep the line's order; delivered once they are released.
    Enqueue(reader.unrelated + reader.pending);
  }
  if (failure) {
    // Whatever was read still takes the normal path; the first error is the one reported.
    try {
      DeliverReceived();
    } catch (...) {
    }
    std::rethrow_exception(failure);
  }
  DeliverReceived();
  if (answer.empty()) missed = MissReason(reader, *ci);
  return !answer.empty();
}

}  // namespace zorvid
