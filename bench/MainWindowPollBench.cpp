// The main window's poll against zorvid-sim on loopback TCP: how long one poll (the segment and
// temperature reads on the link thread, and its outcome shown) takes from tick to shown, and
// what share of the 500 ms interval the line is busy with it. The user-interface thread waits
// for none of it: bench/ui_stall.py measures that.
#include <benchmark/benchmark.h>

#include <QSignalSpy>
#include <chrono>
#include <optional>
#include <string>

#include "tests/support/ChildProcess.h"
#include "transport/Transports.h"
#include "ui/MainWindow.h"

namespace zorvid {
namespace {

constexpr double kPollIntervalMs = 500.0;

// The simulator as built, on a loopback port it picks; its connection string, or nothing.
std::optional<std::string> StartSimulator(test::TChildProcess& simulator) {
  if (!simulator.Start({ZORVID_SIM_PATH, "--tcp", "127.0.0.1:0", "--temperature", "21.5"},
                       test::TChildProcess::TOutput::kRead))
    return std::nullopt;
  const std::optional<std::string> line = simulator.ReadLine(std::chrono::seconds(2));
  if (!line || !line->starts_with("TCP ")) return std::nullopt;
  return "provider=TCP_CLIENT;host=127.0.0.1;port=" + line->substr(line->rfind(':') + 1);
}

void BM_PollTick(benchmark::State& state) {
  RegisterStandardTransports();
  test::TChildProcess simulator;
  const std::optional<std::string> connection = StartSimulator(simulator);
  TfMain window;
  QSignalSpy connected(&window, &TfMain::connectFinished);
  if (connection) window.ConnectTo(*connection, 49);
  if (!connection || !connected.wait(5000) || !connected.first().first().toBool()) {
    state.SkipWithError("no connection to zorvid-sim");
    return;
  }
  QSignalSpy polled(&window, &TfMain::polled);
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    window.Timer1Timer();
    if (!polled.wait(5000)) {
      state.SkipWithError("a poll did not end");
      break;
    }
  }
  const std::chrono::duration<double, std::milli> busy = std::chrono::steady_clock::now() - start;
  // The ticks' time over the time they would be spread across, one tick per interval, in %.
  state.counters["busy_percent"] =
      100.0 * busy.count() / (static_cast<double>(state.iterations()) * kPollIntervalMs);
  UnregisterStandardTransports();
}
BENCHMARK(BM_PollTick)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(60.0);

}  // namespace
}  // namespace zorvid
