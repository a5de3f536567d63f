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
constexpr const char* kAbandoned = "the request was abandoned";
// After this many packets in one call the receive path yields to newer input.
constexpr int kPacketsBeforeYield = 1000;

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
    inbox_.Clear();
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

void TKorvelStack::NotifyAdded(TRef<IInterface> node, std::int32_t level) {
  ++devicesVersion_;
  TNodedInterface::NotifyAdded(std::move(node), level);
}

void TKorvelStack::NotifyRemoved(TRef<IInterface> node, std::int32_t level) {
  ++devicesVersion_;
  TNodedInterface::NotifyRemoved(std::move(node), level);
}

void TKorvelStack::icDataRcv(TCiRef sender) {
  TByteString bytes;
  {
    // Read and queued under the stack's lock, so bytes are queued in the order they were read.
    TWriteLocker guard(*this);
    if (sender) bytes = sender->Read();
    EnqueueLent(bytes);
  }
  DeliverLent();
}

std::size_t TKorvelStack::PendingBytes() {
  std::lock_guard receive(receiveMutex_);
  std::lock_guard inbox(inboxMutex_);
  return reader_.Size() + inbox_.Size();
}

void TKorvelStack::Enqueue(std::string_view bytes) {
  std::lock_guard inbox(inboxMutex_);
  inbox_.Append(bytes);
}

void TKorvelStack::EnqueueLent(std::string_view bytes) {
  std::lock_guard inbox(inboxMutex_);
  inbox_.Lend(bytes);
}

void TKorvelStack::DeliverLent() {
  try {
    DeliverReceived();
  } catch (...) {
    SettleLent();
    throw;
  }
  SettleLent();
}

void TKorvelStack::SettleLent() {
  std::lock_guard receive(receiveMutex_);
  std::lock_guard inbox(inboxMutex_);
  reader_.Settle();
  inbox_.Settle();
}

TKorvelStack::TDeviceList TKorvelStack::Devices() {
  TDeviceList devices;
  for (const auto& child : GetChildren()) {
    if (auto device = Supports<IKorvelStackDevice>(child)) devices.push_back(std::move(device));
  }
  return devices;
}

void TKorvelStack::Deliver(const TKorvelFormat97& packet, const TDeviceList& devices) {
  for (const auto& device : devices) {
    const TByte address = device->GetAddress();
    if (packet.Adr == address || packet.Adr == kBroadcastAddress || address == kBroadcastAddress)
      device->DoPacketReceive(packet);
  }
}

void TKorvelStack::ProcessReceived(const TByteString& bytes) {
  EnqueueLent(bytes);
  DeliverLent();
}

void TKorvelStack::DeliverReceived() {
  const TCiRef ci = GetCommunicationInterface();
  for (;;) {
    switch (DeliverBatch(kPacketsBeforeYield, false)) {
      case TBatchEnd::kFull:
        // Newer input goes first: its received-data event carries on.
        if (ci && ci->InBuffUsed() != 0) return;
        break;
      case TBatchEnd::kDevicesChanged:
        break;
      default:
        return;
    }
  }
}

void TKorvelStack::DeliverDuringRequest(std::exception_ptr& failure) {
  if (failure) return;
  try {
    for (;;) {
      const TBatchEnd end = DeliverBatch(kPacketsBeforeYield, true);
      if (end == TBatchEnd::kDrained || end == TBatchEnd::kBusy) return;
    }
  } catch (...) {
    failure = std::current_exception();
  }
}

// The stack's lock (for the devices) is taken before the receive mutex, never under it.
TKorvelStack::TBatchEnd TKorvelStack::DeliverBatch(int limit, bool onlyIfFree) {
  const std::uint32_t version = devicesVersion_;
  const TDeviceList devices = Devices();
  std::unique_lock receive(receiveMutex_, std::defer_lock);
  if (!onlyIfFree) {
    receive.lock();
  } else if (!receive.try_lock()) {
    return TBatchEnd::kBusy;
  }
  TKorvelFormat97 packet;
  for (int delivered = 0; delivered < limit; ++delivered) {
    if (devicesVersion_ != version) return TBatchEnd::kDevicesChanged;
    if (!NextPacket(packet)) return TBatchEnd::kDrained;
    if (packet.Adr == kRefusedAddress) throw EKorvelStackError("RCV packet ADR=$FF !");
    Deliver(packet, devices);
  }
  return TBatchEnd::kFull;
}

// Queued bytes follow the buffer's, so they are taken only when it holds no complete packet.
bool TKorvelStack::NextPacket(TKorvelFormat97& packet) {
  while (!reader_.Next(packet)) {
    std::lock_guard inbox(inboxMutex_);
    if (inbox_.Size() == 0) return false;
    reader_.TakeFrom(inbox_);
  }
  return true;
}

bool TKorvelStack::SendPacket(TByte adr, TByte sig, TByte inst, const TByteString& data) {
  const TCiRef ci = GetCommunicationInterface();
  if (!ci) return false;
  ci->Write(BuildPacket97(adr, sig, inst, data));
  return true;
}

namespace {

// What a request reads, cut into pieces: its answer, and everything else, which goes on to the
// receive path in the order it came. Noise goes on too: the receive path may hold the head of
// a packet whose tail comes now. Holds no more than one incomplete packet and one slice.
class TRequestReader {
 public:
  TRequestReader(TByte adr, TByte sig) : adr_(adr), sig_(sig) {}

  // Cuts what was read, a slice at a time, handing what is not the answer to `handOver` after
  // each; the answer when it is among it. After a cut less than one packet (64 KiB) waits, so
  // a slice never makes the buffer drop bytes for room, and the receive path takes it whole.
  template <class THandOver>
  TByteString Cut(std::string_view bytes, THandOver&& handOver) {
    TByteString answer, passOn;
    while (!bytes.empty()) {
      const std::string_view slice = bytes.substr(0, kSliceBytes);
      bytes.remove_prefix(slice.size());
      packets_.Append(slice);
      CutPieces(answer, passOn);
      handOver(std::string_view(passOn));
      passOn.clear();
    }
    return answer;
  }

  // What is not cut yet: the start of a packet.
  std::string_view Rest() const { return packets_.View(); }

  // What came instead of the answer, for the device's failure text: an answer damaged on the
  // way, else the bytes that were no packet; empty when neither came.
  bool Damaged() const { return damaged_ != kPacket97Valid; }

  std::string MissReason() const {
    const std::string answer = "an answer with SIG " + std::to_string(sig_);
    if (damaged_ == kPacket97BadChecksum) return answer + " came with a wrong checksum";
    if (damaged_ != kPacket97Valid)
      return answer + " came malformed (check " + std::to_string(damaged_) + " failed)";
    if (noPacketBytes_ > 0)
      return "(the line carried " + std::to_string(noPacketBytes_) + " bytes that were no packet)";
    return {};
  }

 private:
  // The answer: its SIG and address, not sent unsolicited.
  bool IsAnswer(const TKorvelFormat97& packet) const {
    return packet.Sig == sig_ && !IsUnsolicitedAck(packet.Inst) &&
           (adr_ == kBroadcastAddress || packet.Adr == adr_);
  }

  // A refused candidate is this request's answer damaged on the way, not noise, when its bytes
  // show an answer's frame: the request's SIG and address, an answer's acknowledge, and one of
  // its two end marks (checksum, terminator) intact. Random bytes seldom show all of these.
  void JudgeRefused(std::string_view candidate) {
    if (candidate.size() < kPacket97MinSize) return;
    const TByte packetAdr = ByteAt(candidate, 4), packetSig = ByteAt(candidate, 5),
                ack = ByteAt(candidate, 6);
    if (packetSig != sig_ || ack > kLastAnswerAck ||
        (adr_ != kBroadcastAddress && packetAdr != adr_))
      return;
    const std::uint16_t check = ValidatePacket97(candidate);
    const bool terminated = ByteAt(candidate, candidate.size() - 1) == kPacket97Terminator;
    if (check == kPacket97BadTerminator || (check == kPacket97BadChecksum && terminated))
      damaged_ = check;
  }

  void CutPieces(TByteString& answer, TByteString& passOn) {
    using enum TReadPiece::TKind;
    for (;;) {
      TReadPiece piece = packets_.NextPiece(packet_);
      if (piece.kind == kNothing) piece = packets_.CutLeadingNoise();
      if (piece.kind == kNothing) return;
      if (piece.kind == kPacket && answer.empty() && IsAnswer(packet_)) {
        answer = piece.bytes;
        continue;
      }
      if (piece.kind == kNoPacket) {
        noPacketBytes_ += piece.bytes.size();
        if (!piece.refused.empty()) JudgeRefused(piece.refused);
      }
      passOn.append(piece.bytes);
    }
  }

  static constexpr std::size_t kSliceBytes = 0x4000;

  TByte adr_, sig_;
  TPacketReader packets_;
  TKorvelFormat97 packet_;
  std::uint16_t damaged_ = kPacket97Valid;  // the check a damaged answer failed
  std::uint64_t noPacketBytes_ = 0;
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
  return reader.MissReason();
}

}  // namespace

bool TKorvelStack::Request(TByte adr, TByte sig, TByte inst, const TByteString& data,
                           TByteString& answer, std::int32_t timeoutMs) {
  TRequestMiss missed;
  return RequestWithReason(adr, sig, inst, data, answer, timeoutMs, missed);
}

bool TKorvelStack::RequestWithReason(TByte adr, TByte sig, TByte inst, const TByteString& data,
                                     TByteString& answer, std::int32_t timeoutMs,
                                     TRequestMiss& missed) {
  answer.clear();
  missed = {};
  TDeadline deadline;
  deadline.Start(timeoutMs);
  const TCiRef ci = GetCommunicationInterface();
  if (!ci || !ci->GetActive()) return false;
  if (abandoned_) {
    missed.reason = kAbandoned;
    return false;
  }

  TRequestReader reader(adr, sig);
  std::exception_ptr failure, receiveFailure;
  {
    TWriteLocker stackGuard(*this);
    TWriteLocker lineGuard(*ci);
    try {
      Enqueue(ci->Read());  // what came before the request is no answer
      ci->Write(BuildPacket97(adr, sig, inst, data));
      // What is not the answer reaches the devices while the request waits, so however long
      // it waits it holds no more than the receive path would.
      const auto handOver = [&](std::string_view bytes) {
        Enqueue(bytes);
        DeliverDuringRequest(receiveFailure);
      };
      while (answer.empty()) {
        // The bytes that came with a close are still read: the answer may be among them.
        const bool lineOpen = WaitForAnswerBytes(*ci, deadline);
        if (ci->InBuffUsed() != 0) answer = reader.Cut(ci->Read(), handOver);
        if (!lineOpen || deadline.Expired() || abandoned_ || reader.Damaged()) break;
      }
    } catch (...) {
      failure = std::current_exception();
    }
    // Queued while the locks keep the line's order; delivered once they are released.
    Enqueue(reader.Rest());
  }
  if (failure) {
    // Whatever was read still takes the normal path; the first error is the one reported.
    try {
      DeliverReceived();
    } catch (...) {
    }
    std::rethrow_exception(failure);
  }
  // A raise of the receive path during the request: the rest waits for the next call.
  if (receiveFailure) std::rethrow_exception(receiveFailure);
  DeliverReceived();
  if (answer.empty()) {
    missed.reason = abandoned_ ? kAbandoned : MissReason(reader, *ci);
    missed.damaged = !abandoned_ && !ci->IsLineClosed() && reader.Damaged();
  }
  return !answer.empty();
}

}  // namespace zorvid
