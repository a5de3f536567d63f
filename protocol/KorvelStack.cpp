#include "protocol/KorvelStack.h"

#include <algorithm>
#include <chrono>
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
  TByteString bytes;
  {
    TWriteLocker guard(*this);
    if (sender) bytes = sender->Read();
  }
  ProcessReceived(bytes);
}

std::size_t TKorvelStack::PendingBytes() {
  std::lock_guard receive(receiveMutex_);
  return reader_.Size();
}

bool TKorvelStack::Deliver(const TKorvelFormat97& packet) {
  bool taken = false;
  for (const auto& child : GetChildren()) {
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
  if (bytes.empty()) return;
  std::lock_guard receive(receiveMutex_);
  reader_.Append(bytes);
  const TCiRef ci = GetCommunicationInterface();
  TKorvelFormat97 packet;
  for (int rounds = 1; reader_.Next(packet); ++rounds) {
    if (packet.Adr == kRefusedAddress) throw EKorvelStackError("RCV packet ADR=$FF !");
    Deliver(packet);  // a packet no device takes is dropped silently
    // After many packets in one call, newer input goes first: the next event carries on.
    if (rounds >= kRoundsBeforeYield && ci && ci->InBuffUsed() != 0) return;
  }
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
  TByteString unrelated;  // not the answer, in arrival order
  TByteString pending;    // read but not yet cut (an incomplete packet)

  bool IsAnswer(const TByteString& packet) const {
    if (ValidatePacket97(packet) != kPacket97Valid) return false;
    const TByte packetAdr = ByteAt(packet, 4), packetSig = ByteAt(packet, 5),
                ack = ByteAt(packet, 6);
    return packetSig == sig && !IsUnsolicitedAck(ack) &&
           (adr == kBroadcastAddress || packetAdr == adr);
  }

  // Moves the bytes before `count` from pending to unrelated.
  void SetAside(std::size_t count) {
    unrelated.append(pending, 0, count);
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
      unrelated += packet;
    }
  }
};

// One round of a blocking request: until bytes come, at most kRequestPoll and never past the
// deadline. A line that gives up early (closed, failed) still costs the whole round, so the
// request cannot spin on it.
void WaitForAnswerBytes(ICommunicationInterface& ci, const TDeadline& deadline) {
  const auto round = std::min<std::chrono::milliseconds>(
      kRequestPoll, std::chrono::milliseconds(std::max<std::int64_t>(deadline.Remaining(), 0)));
  const auto end = std::chrono::steady_clock::now() + round;
  if (!ci.WaitForData(static_cast<std::int32_t>(round.count()))) std::this_thread::sleep_until(end);
}

}  // namespace

bool TKorvelStack::Request(TByte adr, TByte sig, TByte inst, const TByteString& data,
                           TByteString& answer, std::int32_t timeoutMs) {
  answer.clear();
  TDeadline deadline;
  deadline.Start(timeoutMs);
  const TCiRef ci = GetCommunicationInterface();
  if (!ci || !ci->GetActive()) return false;

  TWriteLocker stackGuard(*this);
  TWriteLocker lineGuard(*ci);
  TRequestReader reader{adr, sig, {}, {}};
  try {
    reader.unrelated = ci->Read();
    ci->Write(BuildPacket97(adr, sig, inst, data));
    while (answer.empty()) {
      WaitForAnswerBytes(*ci, deadline);
      if (ci->InBuffUsed() != 0) {
        reader.pending += ci->Read();
        answer = reader.CutAnswer();
      }
      if (deadline.Expired()) break;
    }
  } catch (...) {
    // Whatever was read still takes the normal path; the first error is the one reported.
    try {
      ProcessReceived(reader.unrelated + reader.pending);
    } catch (...) {
    }
    throw;
  }
  ProcessReceived(reader.unrelated + reader.pending);
  return !answer.empty();
}

}  // namespace zorvid
