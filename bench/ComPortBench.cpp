// Throughput of the serial driver's write path: WriteBytes into the write queue, the write
// thread into a pseudo-terminal, a reader thread at the other end.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstddef>
#include <string>
#include <thread>

#include "tests/support/PseudoTerminal.h"
#include "transport/serial/ComPort.h"

namespace zorvid {
namespace {

constexpr std::size_t kBytesPerIteration = 4 * 1024 * 1024;

// No event loop runs here: the port's events are taken on its event thread and dropped.
struct TDropEvents {
  void On(TComPort*, TComCoreEvent, const TComEventData&) {}
};

void BM_ComPortWriteToReader(benchmark::State& state) {
  const auto chunkSize = static_cast<std::size_t>(state.range(0));
  test::TPseudoTerminal line;
  TDropEvents drop;
  TComPort port("Bench");
  port.OnNonSyncEvent.Set({&drop, &TDropEvents::On});
  port.SetDevicePath(line.SlavePath());
  port.SetOutBufSize(10'000'000);
  port.OpenPort();

  std::atomic<std::size_t> received{0};
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop)
      received += line.Receive(1 << 16, std::chrono::milliseconds(1)).size();
  });
  const std::string chunk(chunkSize, 'z');
  std::size_t sent = 0;
  for (auto _ : state) {
    const std::size_t target = sent + kBytesPerIteration;
    while (sent < target) {
      if (static_cast<std::size_t>(port.OutputFree()) >= chunkSize) {
        port.WriteBytes(chunk);
        sent += chunkSize;
      } else {
        std::this_thread::yield();
      }
    }
    while (received < sent)
      std::this_thread::yield();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(sent));
  stop = true;
  reader.join();
  port.ClosePort();
}

BENCHMARK(BM_ComPortWriteToReader)
    ->Arg(256)
    ->Arg(4096)
    ->Arg(65536)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace zorvid
