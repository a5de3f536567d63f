#pragma once

// zorvidctl's --trace: every chunk of traffic as one line of hex on a stream.

#include <mutex>
#include <ostream>

#include "core/ICommunicationInterface.h"
#include "transport/CommunicationInterfaceDataSpy.h"

namespace zorvid::ctl {

// While it lives, every chunk of traffic on any transport goes to `stream` as one line: "> "
// and the sent bytes, or "< " and the received bytes, in upper-case hex pairs. Sinks installed
// before it still get the traffic. Its destruction waits for a line being written on a
// transport's thread, so the stream may go right after.
class TTraceToStream {
 public:
  explicit TTraceToStream(std::ostream& stream);
  TTraceToStream(const TTraceToStream&) = delete;
  TTraceToStream& operator=(const TTraceToStream&) = delete;

 private:
  // Called on whichever thread moves the bytes.
  void Spy(TCiRef sender, const TByteString& data, TByte direction);

  std::ostream& stream_;
  std::mutex mutex_;  // one line at a time on the stream
  // Last, so that it is removed before what the sink uses goes.
  TInstalledSpySink sink_;
};

}  // namespace zorvid::ctl
