// The display scan against zorvid-sim as built, on a pseudo-terminal through the serial
// transport at 9600 Bd:
//  - BM_IdentificationRoundTrip: one identification request and its answer, each timed alone,
//    with the 50th, 99th and 99.9th percentile and the worst; on a pseudo-terminal the wire
//    takes no time, so this is the margin the scan's per-address time-out adds to the wire
//    time (link/DisplayScan.cpp).
//  - BM_ScanAllAddresses: the broadcast and all 254 addresses at 9600 Bd, one display on the
//    line (target: at most 10 s).
//  - BM_StopDuringARequest: Stop from another thread while a request waits for an address
//    without a display, to the return of Run, with the median and the worst (goal: within
//    100 ms).
// Part of exchange_bench, whose main registers the transports inside a QCoreApplication.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/DisplayScan.h"
#include "protocol/KorvelStack.h"
#include "tests/support/ChildProcess.h"
#include "transport/CommunicationInterfaceDataSpy.h"
#include "transport/ConnectionString.h"

namespace zorvid {
namespace {

using TClock = std::chrono::steady_clock;

// The simulator as built on a pseudo-terminal of its own; the serial connection string to it
// at 9600 Bd, or nothing.
std::optional<std::string> StartSimulator(test::TChildProcess& simulator) {
  if (!simulator.Start({ZORVID_SIM_PATH, "--pty"}, test::TChildProcess::TOutput::kRead))
    return std::nullopt;
  const std::optional<std::string> line = simulator.ReadLine(std::chrono::seconds(2));
  if (!line || !line->starts_with("PTY ")) return std::nullopt;
  return "provider=SERIAL_PORT;baudrate=9600;device=" + line->substr(4);
}

double Percentile(std::vector<double> sorted, double share) {
  std::sort(sorted.begin(), sorted.end());
  const auto index = static_cast<std::size_t>(share * static_cast<double>(sorted.size() - 1));
  return sorted[index];
}

void BM_IdentificationRoundTrip(benchmark::State& state) {
  test::TChildProcess simulator;
  const std::optional<std::string> connection = StartSimulator(simulator);
  TCiRef line;
  if (!connection || !CreateTransport(*connection, line) || !line->Open()) {
    state.SkipWithError("no line to zorvid-sim");
    return;
  }
  const TRef<TKorvelStack> stack = New<TKorvelStack>();
  stack->SetCommunicationInterface(line);
  std::vector<double> milliseconds;
  TByte sig = 0;
  for (auto _ : state) {
    TByteString answer;
    const auto start = TClock::now();
    if (!stack->Request(kZorvidDefaultAddress, ++sig, kInstIdentification, {}, answer, 1000)) {
      state.SkipWithError("the display did not answer");
      break;
    }
    milliseconds.push_back(
        std::chrono::duration<double, std::milli>(TClock::now() - start).count());
  }
  stack->SetCommunicationInterface({});
  line->Close(false);
  if (milliseconds.empty()) return;
  state.counters["p50_ms"] = Percentile(milliseconds, 0.5);
  state.counters["p99_ms"] = Percentile(milliseconds, 0.99);
  state.counters["p999_ms"] = Percentile(milliseconds, 0.999);
  state.counters["worst_ms"] = *std::max_element(milliseconds.begin(), milliseconds.end());
}
BENCHMARK(BM_IdentificationRoundTrip)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2000);

void BM_ScanAllAddresses(benchmark::State& state) {
  test::TChildProcess simulator;
  const std::optional<std::string> connection = StartSimulator(simulator);
  if (!connection) {
    state.SkipWithError("no line to zorvid-sim");
    return;
  }
  TScanOptions options;
  options.connection = *connection;
  options.bauds = {9600};
  std::size_t found = 0;
  for (auto _ : state) {
    const TScanResult result = TDisplayScan(options).Run();
    if (!result.failure.empty()) {
      state.SkipWithError(result.failure.c_str());
      break;
    }
    found = result.found.size();
  }
  state.counters["found"] = static_cast<double>(found);
}
BENCHMARK(BM_ScanAllAddresses)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

// Counts the chunks written to any line; called on the writing thread.
struct TSentCounter {
  std::atomic<int> sent{0};
  void Spy(TCiRef, const TByteString&, TByte direction) {
    if (direction == kSpySent) ++sent;
  }
};

void BM_StopDuringARequest(benchmark::State& state) {
  test::TChildProcess simulator;
  const std::optional<std::string> connection = StartSimulator(simulator);
  if (!connection) {
    state.SkipWithError("no line to zorvid-sim");
    return;
  }
  TScanOptions options;
  options.connection = *connection;
  options.first = 0;  // the addresses below the display's (0x31) stay silent
  options.bauds = {9600};
  std::vector<double> milliseconds;
  for (auto _ : state) {
    TSentCounter counter;
    const TInstalledSpySink spy(TSpySink(&counter, &TSentCounter::Spy));
    TDisplayScan scan(options);
    std::atomic<bool> finished{false};
    std::atomic<TClock::rep> stoppedAt{0};
    std::thread stopper([&] {
      // The third request (to address 1) is on the line and waits for an answer.
      while (counter.sent < 3 && !finished)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      stoppedAt = TClock::now().time_since_epoch().count();
      scan.Stop();
    });
    const TScanResult result = scan.Run();
    const TClock::time_point returned = TClock::now();
    finished = true;
    stopper.join();
    if (!result.stopped) {
      state.SkipWithError("the scan ended before the stop");
      break;
    }
    const TClock::time_point stopped{TClock::duration(stoppedAt.load())};
    milliseconds.push_back(std::chrono::duration<double, std::milli>(returned - stopped).count());
  }
  if (milliseconds.empty()) return;
  std::sort(milliseconds.begin(), milliseconds.end());
  state.counters["p50_ms"] = Percentile(milliseconds, 0.5);
  state.counters["worst_ms"] = milliseconds.back();
  state.counters["goal_ms"] = 100;
}
BENCHMARK(BM_StopDuringARequest)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

}  // namespace
}  // namespace zorvid
