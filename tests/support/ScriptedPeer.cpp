#include "tests/support/ScriptedPeer.h"

namespace zorvid::test {

TScriptedPeer::TScriptedPeer(TRef<TMemoryTransport> line, TScript script)
    : line_(std::move(line)), script_(std::move(script)) {
  line_->Open();
  line_->SetOnDataRcv({this, &TScriptedPeer::OnData});
}

TScriptedPeer::~TScriptedPeer() {
  line_->SetOnDataRcv({});
}

std::vector<TKorvelFormat97> TScriptedPeer::Requests() {
  std::lock_guard guard(mutex_);
  return requests_;
}

void TScriptedPeer::OnData(TCiRef sender) {
  TByteString reply;
  {
    std::lock_guard guard(mutex_);
    received_ += sender->Read();
    for (TByteString packet; !(packet = ExtractPacket97(received_, true)).empty();) {
      TKorvelFormat97 request;
      if (ValidatePacket97(packet) != kPacket97Valid) continue;
      ParsePacket97(packet, request);
      requests_.push_back(request);
      reply += script_(request);
    }
  }
  if (!reply.empty()) sender->Write(reply);
}

}  // namespace zorvid::test
