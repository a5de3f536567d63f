#include "tests/support/FakeKorvelStack.h"

namespace zorvid::test {

void TFakeKorvelStack::SetScript(TScript script) {
  std::lock_guard guard(mutex_);
  script_ = std::move(script);
}

std::vector<TKorvelFormat97> TFakeKorvelStack::Sent() {
  std::lock_guard guard(mutex_);
  return sent_;
}

void TFakeKorvelStack::ClearSent() {
  std::lock_guard guard(mutex_);
  sent_.clear();
}

TKorvelFormat97 TFakeKorvelStack::Record(TByte adr, TByte sig, TByte inst,
                                         const TByteString& data) {
  TKorvelFormat97 packet;
  ParsePacket97(BuildPacket97(adr, sig, inst, data), packet);
  std::lock_guard guard(mutex_);
  sent_.push_back(packet);
  return packet;
}

bool TFakeKorvelStack::SendPacket(TByte adr, TByte sig, TByte inst, const TByteString& data) {
  Record(adr, sig, inst, data);
  return true;
}

bool TFakeKorvelStack::Request(TByte adr, TByte sig, TByte inst, const TByteString& data,
                               TByteString& answer, std::int32_t /*timeoutMs*/) {
  answer.clear();
  const TKorvelFormat97 request = Record(adr, sig, inst, data);
  TScript script;
  {
    std::lock_guard guard(mutex_);
    script = script_;
  }
  const auto reply = script ? script(request) : std::nullopt;
  if (!reply) return false;
  answer = *reply;
  return !answer.empty();
}

bool TFakeKorvelStack::AddDevice(TRef<IKorvelStackDevice> device) {
  if (!device) return false;
  const bool added = AddChild(device) >= 0;
  if (!(device->GetStack() == TRef<IKorvelStack>(this))) device->SetStack(TRef<IKorvelStack>(this));
  return added;
}

bool TFakeKorvelStack::RemoveDevice(TRef<IKorvelStackDevice> device) {
  if (!device) return false;
  // The device's SetStack calls back here and removes the child itself: decide first.
  const bool found = IndexOfChild(device) >= 0;
  if (device->GetStack() == TRef<IKorvelStack>(this)) device->SetStack({});
  RemoveChild(device);
  return found;
}

TByteString AnswerTo(const TKorvelFormat97& request, TByte ack, const TByteString& data) {
  return BuildPacket97(request.Adr, request.Sig, ack, data);
}

}  // namespace zorvid::test
