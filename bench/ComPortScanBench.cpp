// A complete scan of the 255 port numbers with the real probe, from Scan until the scan is
// complete and the list shows every result, the event loop running meanwhile.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>

#include "ui/ComPortScanner.h"
#include "ui/ComPortStringList.h"

namespace zorvid {
namespace {

void BM_CompleteScan(benchmark::State& state) {
  QComboBox box;
  TComPortStringList list(&box);
  TComPortScanner scanner;
  scanner.SetOnPortState(
      [&list](int portNumber, TComPortState portState) { list.UpdatePort(portNumber, portState); });
  for (auto _ : state) {
    scanner.Scan();
    // Every result is posted, so waiting for more events never misses the last one.
    while (!scanner.ScanComplete())
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
  }
  state.counters["listed"] = box.count();
  state.counters["ports"] =
      benchmark::Counter(kLastComPort, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_CompleteScan)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace zorvid
