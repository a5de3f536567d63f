#pragma once

// zorvidctl's --trace: every chunk of traffic as one line of hex on a stream.

#include <mutex>
#include <ostream>

#include "core/ICommunicationInterface.h"
#include "transport/CommunicationInterfaceDataSpy.h"

namespace zorvid::ctl {

// While it lives, every chunk of traffic on any transport goes to `stream` as one line: "> "
// and the sent bytes, or "< " and the received bytes, in upper-case hex pairs. The sink it
// replaces comes back afterwards.
class TTraceToStream {
 public:
  explicit TTraceToStream(std::ostream& stream);
  ~TTraceToStream();
  TTraceToStream(const TTraceToStream&) = delete;
  TTraceToStream& operator=(const TTraceToStream&) = delete;

 private:
  // Called on whichever thread moves the bytes.
  void Spy(TCiRef sender, const TByteString& data, TByte direction);

  std::ostream& stream_;
  std::mutex mutex_;
  TSpySink previous_;
};

}  // namespace zorvid::ctl
