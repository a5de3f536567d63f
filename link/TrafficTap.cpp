#include "link/TrafficTap.h"

#include <utility>

namespace zorvid {

TTrafficTap::TTrafficTap(TSink sink)
    : sink_(std::move(sink)), installed_(TSpySink(this, &TTrafficTap::Spy)) {}

void TTrafficTap::Spy(TCiRef line, const TByteString& bytes, TByte kind) {
  sink_(line,
        kind == kSpyReceived ? TTrafficDirection::kFromDisplay : TTrafficDirection::kToDisplay,
        bytes);
}

}  // namespace zorvid
