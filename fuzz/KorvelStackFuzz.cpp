// Arbitrary chunks through the protocol stack's receive path with two registered devices:
// nothing may escape but the refused-address error, and no sanitizer may object.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "protocol/KorvelStack.h"
#include "protocol/KorvelStackDevice.h"

namespace {

using namespace zorvid;

struct TLine {
  TRef<TKorvelStack> stack = New<TKorvelStack>();
  TRef<TKorvelStackDevice> display = New<TKorvelStackDevice>(0x31);
  TRef<TKorvelStackDevice> listener = New<TKorvelStackDevice>(kBroadcastAddress);
  TLine() {
    stack->AddDevice(display);
    stack->AddDevice(listener);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TLine line;  // one stack for the run: its buffer carries over between inputs too
  // The first byte of each chunk says how many bytes follow in it.
  std::size_t at = 0;
  while (at < size) {
    const std::size_t length = std::min<std::size_t>(data[at], size - at - 1);
    const TByteString chunk(reinterpret_cast<const char*>(data) + at + 1, length);
    at += 1 + length;
    try {
      line.stack->ProcessReceived(chunk);
    } catch (const EKorvelStackError& error) {
      if (std::strcmp(error.what(), "RCV packet ADR=$FF !") != 0) std::abort();
    }
  }
  return 0;
}
