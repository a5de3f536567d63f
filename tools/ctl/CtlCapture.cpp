#include "tools/ctl/CtlCapture.h"

#include <chrono>
#include <vector>

namespace zorvid::ctl {

TCaptureToFile::TCaptureToFile(const std::string& path)
    : file_(path), sink_(TSpySink(this, &TCaptureToFile::Spy)) {}

void TCaptureToFile::Spy(TCiRef, const TByteString& data, TByte direction) {
  // A read that found nothing moved no packet.
  if (data.empty()) return;
  std::vector<TTrafficRecord> records;
  std::lock_guard guard(mutex_);
  // Taken under the lock, so that the times in the file never go back.
  const TTrafficTime now = std::chrono::system_clock::now();
  cutter_.Cut(
      direction == kSpySent ? TTrafficDirection::kToDisplay : TTrafficDirection::kFromDisplay, data,
      now, records);
  file_.Write(records);
}

std::string TCaptureToFile::Finish() {
  std::vector<TTrafficRecord> records;
  std::lock_guard guard(mutex_);
  cutter_.Flush(std::chrono::system_clock::now(), records);
  file_.Write(records);
  return file_.Failure();
}

}  // namespace zorvid::ctl
