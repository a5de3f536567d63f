#include "protocol/KorvelStack.h"

#include <chrono>
#include <thread>

#include "core/TimeoutManager.h"

namespace zorvid {
namespace {

using namespace std::chrono_literals;

constexpr auto kRequestPoll = 50ms;
constexpr auto kAfterChunk = 10ms;
// After this many packets in one call the receive path yields to newer input.
constexpr int kRoundsBeforeYield = 1000;
constexpr std::string_view kPacketStart = "*a";

// Acknowledge codes of packets a device sends on its own; never an answer.
bool IsUnsolicitedAck(TByte ack) {
  return ack >= 0x0C && ack <= 0x0F;
}

// A packet that validates and can be read; a validated 8-byte string is still too short to
// parse, and the receive path must not fail on it.
bool ReadPacket(const TByteString& candidate, TKorvelFormat97& packet) {
  if (ValidatePacket97(candidate) != kPacket97Valid) return false;
  try {
    ParsePacket97(candidate, packet);
    return true;
  } catch (const EKorvelPacketError&) {
    return false;
  }
}

// Where the first "*a" at or after `from` starts a complete packet; npos when nowhere.
std::size_t FindCompletePacket(std::string_view bytes, std::size_t from) {
  for (auto at = bytes.find(kPacketStart, from); at != std::string_view::npos;
       at = bytes.find(kPacketStart, at + 1)) {
    if (CompletePacketSize97(bytes.substr(at)) > 0) return at;
  }
  return std::string_view::npos;
}

}  // namespace

void TReceiveBuffer::Append(std::string_view bytes) {
  if (start_ > 0) {
    data_.erase(0, start_);
    start_ = 0;
  }
  data_.append(bytes);
  if (data_.size() > kLimit) data_.erase(0, data_.size() - kKeep);
}

void TReceiveBuffer::DropFront(std::size_t count) {
  start_ += std::min(count, Size());
  if (start_ == data_.size()) Clear();
}

void TReceiveBuffer::Clear() {
  data_.clear();
  start_ = 0;
}

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
    buffer_.Clear();
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
  return buffer_.Size();
}

TByteString TKorvelStack::NextCandidate() {
  std::string_view bytes = buffer_.View();
  if (const std::size_t size = CompletePacketSize97(bytes))
    return TByteString(bytes.substr(0, size));
  if (bytes.empty()) return {};
  // Garbage, or a false "*a" with a length that never completes: skip to the first "*a" that
  // starts a complete packet. Without one the bytes wait for more input.
  const std::size_t at = FindCompletePacket(bytes, 1);
  if (at == std::string_view::npos) return {};
  buffer_.DropFront(at);
  bytes = buffer_.View();
  return TByteString(bytes.substr(0, CompletePacketSize97(bytes)));
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
  buffer_.Append(bytes);
  const TCiRef ci = GetCommunicationInterface();
  TByteString candidate;
  for (int rounds = 1;; ++rounds) {
    if (!candidate.empty()) {
      TKorvelFormat97 packet;
      if (!ReadPacket(candidate, packet)) {
        // Drop up to the next "*" after the first byte; at least one byte, so the stream moves.
        const auto next = candidate.find('*', 1);
        buffer_.DropFront(next == TByteString::npos ? candidate.size() : next);
      } else {
        buffer_.DropFront(candidate.size());
        if (packet.Adr == kRefusedAddress) throw EKorvelStackError("RCV packet ADR=$FF !");
        Deliver(packet);  // a packet no device takes is dropped silently
      }
    }
    candidate = NextCandidate();
    if (candidate.empty()) return;
    if (rounds > kRoundsBeforeYield && ci && ci->InBuffUsed() != 0) return;
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
      std::size_t start = pending.find(kPacketStart);
      if (start == TByteString::npos) {
        // Keep a final "*": its "a" may be on the way.
        SetAside(!pending.empty() && pending.back() == '*' ? pending.size() - 1 : pending.size());
        return {};
      }
      if (CompletePacketSize97(std::string_view(pending).substr(start)) == 0) {
        // A false "*a" in line noise may declare a length that never completes.
        start = FindCompletePacket(pending, start + 1);
        if (start == TByteString::npos) {
          SetAside(pending.find(kPacketStart));
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
      std::this_thread::sleep_for(kRequestPoll);
      if (ci->InBuffUsed() != 0) {
        reader.pending += ci->Read();
        answer = reader.CutAnswer();
        if (answer.empty()) std::this_thread::sleep_for(kAfterChunk);
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
