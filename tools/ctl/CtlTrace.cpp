#include "tools/ctl/CtlTrace.h"

#include "core/HexText.h"

namespace zorvid::ctl {

TTraceToStream::TTraceToStream(std::ostream& stream)
    : stream_(stream), sink_(TSpySink(this, &TTraceToStream::Spy)) {}

void TTraceToStream::Spy(TCiRef, const TByteString& data, TByte direction) {
  // A read that found nothing moved no packet.
  if (data.empty()) return;
  std::lock_guard guard(mutex_);
  stream_ << (direction == kSpySent ? "> " : "< ") << FormatHexSpaced(data) << '\n';
  stream_.flush();
}

}  // namespace zorvid::ctl
