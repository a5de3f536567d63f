#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "protocol/Korvel97.h"
#include "tests/support/MemoryTransport.h"

namespace zorvid::test {

// The device side of an in-memory line: cuts what arrives into packets and answers each with
// whatever bytes the script returns (nothing, one packet, several, or garbage). Runs on the
// peer endpoint's delivery thread.
class TScriptedPeer {
 public:
  using TScript = std::function<TByteString(const TKorvelFormat97& request)>;

  TScriptedPeer(TRef<TMemoryTransport> line, TScript script);
  ~TScriptedPeer();
  TScriptedPeer(const TScriptedPeer&) = delete;
  TScriptedPeer& operator=(const TScriptedPeer&) = delete;

  // Every request received so far.
  std::vector<TKorvelFormat97> Requests();

 private:
  void OnData(TCiRef sender);

  TRef<TMemoryTransport> line_;
  TScript script_;
  std::mutex mutex_;
  TByteString received_;                   // guarded by mutex_
  std::vector<TKorvelFormat97> requests_;  // guarded by mutex_
};

}  // namespace zorvid::test
