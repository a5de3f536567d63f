// The communication log's tick: packets waiting in the buffer written into the log, with the
// log empty and with many lines in it already.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <QApplication>
#include <algorithm>
#include <memory>

#include "protocol/Korvel97.h"
#include "transport/TCPClientInterface.h"
#include "ui/CiLog.h"

namespace zorvid {

namespace {

// A shown log window fed through its installed sink with requests of a fast line.
class TLogBench {
 public:
  TLogBench() : line_(New<TTCPClientInterface>()) { window_.ShowLog(QString()); }
  void Feed(int packets) {
    for (int i = 0; i < packets; ++i)
      SpyTraffic(line_, BuildPacket97(1, 0, 0x31, TByteString(1, static_cast<char>(i))), kSpySent);
  }
  // What the poll sends and gets: a segment read and its answer, a temperature read and its.
  void FeedPolls(int polls) {
    for (int i = 0; i < polls; ++i) {
      const auto sig = static_cast<TByte>(2 * i);
      SpyTraffic(line_, BuildPacket97(0x31, sig, 0x81, ""), kSpySent);
      SpyTraffic(line_, BuildPacket97(0x31, sig, 0, "\x03\x3F\x06\x5B\x4F"), kSpyReceived);
      SpyTraffic(line_, BuildPacket97(0x31, sig + 1, 0x51, "\x01"), kSpySent);
      SpyTraffic(line_, BuildPacket97(0x31, sig + 1, 0, "\x01\x00\xD7"), kSpyReceived);
    }
  }
  // Fills the log with `lines` lines, ten thousand a tick.
  void Fill(int lines) {
    for (int written = 0; written < lines; written += 10000) {
      Feed(std::min(10000, lines - written));
      window_.Timer1Timer();
    }
  }
  // The tick and the layout and painting it leaves to the event loop.
  void Tick() {
    window_.Timer1Timer();
    QCoreApplication::processEvents();
  }
  int Lines() { return window_.Model().rowCount(); }
  void Clear() { window_.Model().Clear(); }

 private:
  TRef<TTCPClientInterface> line_;
  TfCiLog window_;
};

// One tick of `packets` packets into an empty log.
void BM_TickIntoEmptyLog(benchmark::State& state) {
  TLogBench bench;
  const auto packets = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    bench.Clear();
    bench.Feed(packets);
    state.ResumeTiming();
    bench.Tick();
  }
  state.counters["lines"] = bench.Lines();
  state.SetItemsProcessed(state.iterations() * packets);
}
BENCHMARK(BM_TickIntoEmptyLog)->Arg(250)->Arg(10000)->Unit(benchmark::kMillisecond);

// Ticks of `range(1)` packets into a log that holds `range(0)` lines at the start. A log at its
// limit of 100 000 lines stays there: the oldest go in blocks, and the ticks that remove a
// block are timed too.
void BM_TickIntoFullLog(benchmark::State& state) {
  TLogBench bench;
  bench.Fill(static_cast<int>(state.range(0)));
  const auto packets = static_cast<int>(state.range(1));
  for (auto _ : state) {
    state.PauseTiming();
    bench.Feed(packets);
    state.ResumeTiming();
    bench.Tick();
  }
  state.counters["lines"] = bench.Lines();
  state.SetItemsProcessed(state.iterations() * packets);
}
BENCHMARK(BM_TickIntoFullLog)
    ->Args({1000, 250})
    ->Args({100000, 250})
    ->Args({1000, 10000})
    ->Args({100000, 10000})
    ->Unit(benchmark::kMillisecond);

// The heap a line costs: 100 000 lines of poll traffic written into a shown log, the heap in use
// (mallinfo2) before and after, divided by the lines. The view and its layout are counted too.
void BM_MemoryPerLine(benchmark::State& state) {
  constexpr int kLines = 100'000;
  for (auto _ : state) {
    TLogBench bench;
    bench.Tick();
    const std::size_t before = mallinfo2().uordblks;
    for (int written = 0; written < kLines; written += 10'000) {
      bench.FeedPolls(10'000 / 4);
      bench.Tick();
    }
    const std::size_t after = mallinfo2().uordblks;
    state.counters["lines"] = bench.Lines();
    state.counters["bytes_per_line"] =
        static_cast<double>(after - before) / static_cast<double>(bench.Lines());
  }
}
BENCHMARK(BM_MemoryPerLine)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zorvid
