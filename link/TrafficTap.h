#pragma once

// Every chunk of traffic on any of the program's lines, with its direction as the line's master
// sees it, for as long as the tap lives: what a log window or a capture listens to.

#include <functional>

#include "capture/Traffic.h"
#include "core/ICommunicationInterface.h"
#include "core/Types.h"
#include "transport/CommunicationInterfaceDataSpy.h"

namespace zorvid {

class TTrafficTap {
 public:
  // Runs on whichever thread moves the bytes: it must be thread-safe. `line` is the transport
  // that moved them.
  using TSink = std::function<void(const TCiRef& line, TTrafficDirection direction,
                                   const TByteString& bytes)>;

  // Taps in front of the listeners tapped before it; they still get the traffic.
  explicit TTrafficTap(TSink sink);
  // Waits for calls into the sink on other threads to return, so that what the sink uses may
  // go right after.
  ~TTrafficTap() = default;
  TTrafficTap(const TTrafficTap&) = delete;
  TTrafficTap& operator=(const TTrafficTap&) = delete;

 private:
  void Spy(TCiRef line, const TByteString& bytes, TByte kind);

  TSink sink_;
  TInstalledSpySink installed_;  // last: removed before the sink goes
};

}  // namespace zorvid
