#include <benchmark/benchmark.h>

#include <cstdint>

#include "protocol/Korvel97.h"

namespace {

using namespace zorvid;

TByteString Payload(std::size_t size) {
  TByteString data(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    data[i] = static_cast<char>(i * 7);
  return data;
}

// What one request and its answer cost: build, validate, parse. Argument: data bytes.
void BM_BuildValidateParse97(benchmark::State& state) {
  const TByteString data = Payload(static_cast<std::size_t>(state.range(0)));
  if (ValidatePacket97(BuildPacket97(0x31, 0x01, 0x20, data)) != kPacket97Valid) {
    state.SkipWithError("a built packet does not validate");
    return;
  }
  TKorvelFormat97 record;
  std::int64_t bytes = 0;
  for (auto _ : state) {
    const TByteString packet = BuildPacket97(0x31, 0x01, 0x20, data);
    benchmark::DoNotOptimize(ValidatePacket97(packet));
    ParsePacket97(packet, record);
    benchmark::DoNotOptimize(record);
    bytes += static_cast<std::int64_t>(packet.size());
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_BuildValidateParse97)->Arg(0)->Arg(1000);

// Cutting a receive buffer of back-to-back packets (16 data bytes each) from the front, as the
// receive path does. Argument: packets in the buffer. The per-iteration copy is timed too; it
// is small next to the front erasures, which grow with the buffer.
void BM_ExtractPacket97(benchmark::State& state) {
  const auto count = state.range(0);
  TByteString stream;
  for (std::int64_t i = 0; i < count; ++i) {
    stream += BuildPacket97(0x31, static_cast<TByte>(i), 0x20, Payload(16));
  }
  for (auto _ : state) {
    TByteString buffer = stream;
    while (!ExtractPacket97(buffer, true).empty()) {
    }
    benchmark::DoNotOptimize(buffer);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream.size()));
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_ExtractPacket97)->Arg(10)->Arg(100)->Arg(1000);

}  // namespace
