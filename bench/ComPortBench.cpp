// The serial driver on pseudo-terminals:
//  - BM_ComPortWriteToReader: throughput of the write path, WriteBytes into the write queue,
//    the write thread into a pseudo-terminal, a reader thread at the other end.
//  - BM_HungUpPortProcessorTime: the processor time of the whole process over half a second
//    while an open port sits on a line whose other end hung up, the worst of ten (goal: under
//    150 ms, so that no thread spins on the dead line).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

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

double ProcessorMilliseconds() {
  timespec used{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
  return static_cast<double>(used.tv_sec) * 1e3 + static_cast<double>(used.tv_nsec) / 1e6;
}

void BM_HungUpPortProcessorTime(benchmark::State& state) {
  constexpr auto kWindow = std::chrono::milliseconds(500);
  std::vector<double> used;
  for (auto _ : state) {
    state.PauseTiming();
    test::TPseudoTerminal line;
    TDropEvents drop;
    TComPort port("Bench");
    port.OnNonSyncEvent.Set({&drop, &TDropEvents::On});
    port.SetDevicePath(line.SlavePath());
    port.OpenPort();
    line.CloseMaster();
    while (!port.HungUp())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    state.ResumeTiming();

    const double before = ProcessorMilliseconds();
    std::this_thread::sleep_for(kWindow);
    used.push_back(ProcessorMilliseconds() - before);

    state.PauseTiming();
    port.ClosePort();
    state.ResumeTiming();
  }
  if (used.empty()) return;
  state.counters["worst_cpu_ms"] = *std::max_element(used.begin(), used.end());
  state.counters["window_ms"] = static_cast<double>(kWindow.count());
  state.counters["goal_ms"] = 150;
}
BENCHMARK(BM_HungUpPortProcessorTime)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

BENCHMARK(BM_ComPortWriteToReader)
    ->Arg(256)
    ->Arg(4096)
    ->Arg(65536)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace zorvid
