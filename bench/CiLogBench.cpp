// The communication log's tick: packets waiting in the buffer written into the log, with the
// log empty and with many lines in it already.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
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
  TLogBench() : line_(New<TTCPClientInterface>()) {
    window_.ShowLog(QString());
    log_ = window_.findChild<QTextEdit*>("reLog");
  }
  void Feed(int packets) {
    for (int i = 0; i < packets; ++i)
      SpyTraffic(line_, BuildPacket97(1, 0, 0x31, TByteString(1, static_cast<char>(i))), kSpySent);
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
  int Lines() const { return log_->document()->blockCount(); }
  int End() const { return log_->document()->characterCount() - 1; }
  // Removes what was written after `end`, with the line break before it.
  void CutBackTo(int end) {
    QTextCursor cursor(log_->document());
    cursor.setPosition(std::max(end - 1, 0));
    cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
  }
  void Clear() { log_->clear(); }
  TfCiLog& Window() { return window_; }

 private:
  TRef<TTCPClientInterface> line_;
  TfCiLog window_;
  QTextEdit* log_ = nullptr;
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

// One tick of 250 packets into a log that holds `range(0)` lines; the lines written are taken
// out again untimed, so every tick meets a log of the same size.
void BM_TickOf250IntoFullLog(benchmark::State& state) {
  TLogBench bench;
  bench.Fill(static_cast<int>(state.range(0)));
  const int end = bench.End();
  for (auto _ : state) {
    state.PauseTiming();
    bench.CutBackTo(end);
    bench.Feed(250);
    state.ResumeTiming();
    bench.Tick();
  }
  state.counters["lines"] = bench.Lines();
  state.SetItemsProcessed(state.iterations() * 250);
}
BENCHMARK(BM_TickOf250IntoFullLog)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zorvid
