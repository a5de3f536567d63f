#include <benchmark/benchmark.h>

#include <random>

#include "protocol/KorvelStack.h"
#include "protocol/KorvelStackDevice.h"

namespace zorvid {
namespace {

// A device that only counts what it receives, so the benchmark measures the receive path.
class TCountingDevice final : public TKorvelStackDevice {
 public:
  TCountingDevice() : TKorvelStackDevice(0x31, "TCountingDevice") {}
  std::int32_t DoPacketReceive(const TKorvelFormat97&) override {
    ++received;
    return 0;
  }
  long received = 0;
};

// Exactly `size` bytes of back-to-back valid packets of 9 to 20 bytes for address 0x31.
TByteString BackToBackPackets(std::size_t size) {
  std::mt19937 random(97);
  TByteString bytes;
  TByte sig = 0;
  while (bytes.size() < size) {
    const std::size_t left = size - bytes.size();
    std::size_t packetSize = 9 + random() % 12;
    if (left <= 20)
      packetSize = left;  // the last packet fills the rest
    else if (left - packetSize < 9)
      packetSize = left - 9;  // leave room for a last one
    bytes += BuildPacket97(0x31, ++sig, 0, TByteString(packetSize - 9, 'd'));
  }
  return bytes;
}

// One chunk of that many bytes through the receive path, for one registered device.
void BM_ProcessReceived(benchmark::State& state) {
  const TByteString chunk = BackToBackPackets(static_cast<std::size_t>(state.range(0)));
  auto stack = New<TKorvelStack>();
  auto device = New<TCountingDevice>();
  stack->AddDevice(device);
  for (auto _ : state)
    stack->ProcessReceived(chunk);
  state.SetBytesProcessed(state.iterations() * state.range(0));
  state.counters["packets"] =
      benchmark::Counter(static_cast<double>(device->received), benchmark::Counter::kIsRate);
  stack->RemoveDevice(device);
}
BENCHMARK(BM_ProcessReceived)->Arg(4096)->Arg(131072);

}  // namespace
}  // namespace zorvid
