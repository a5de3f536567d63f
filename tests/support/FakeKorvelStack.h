#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "core/NodedInterface.h"
#include "protocol/KorvelInterfaces.h"

namespace zorvid::test {

// A protocol stack without a line, for testing devices: it records every packet a device sends
// and answers blocking requests through a script. The script gets the request as a parsed
// packet and returns the raw answer bytes (any bytes, valid or not), or nothing for silence.
class TFakeKorvelStack final : public TNodedInterface, public virtual IKorvelStack {
 public:
  using TScript = std::function<std::optional<TByteString>(const TKorvelFormat97& request)>;

  TFakeKorvelStack() : TNodedInterface("TFakeKorvelStack") {}

  void SetScript(TScript script);
  // Every packet sent so far, in order, blocking requests and fire-and-forget sends alike.
  std::vector<TKorvelFormat97> Sent();
  void ClearSent();

  bool SendPacket(TByte adr, TByte sig, TByte inst, const TByteString& data) override;
  bool Request(TByte adr, TByte sig, TByte inst, const TByteString& data, TByteString& answer,
               std::int32_t timeoutMs) override;
  TCiRef GetCommunicationInterface() override { return {}; }
  void SetCommunicationInterface(TCiRef) override {}
  bool AddDevice(TRef<IKorvelStackDevice> device) override;
  bool RemoveDevice(TRef<IKorvelStackDevice> device) override;

 private:
  TKorvelFormat97 Record(TByte adr, TByte sig, TByte inst, const TByteString& data);

  std::mutex mutex_;
  TScript script_;                     // guarded by mutex_
  std::vector<TKorvelFormat97> sent_;  // guarded by mutex_
};

// The answer a device would give: a valid packet with the request's address and SIG.
TByteString AnswerTo(const TKorvelFormat97& request, TByte ack, const TByteString& data = {});

}  // namespace zorvid::test
