// How closely the protocol stack's blocking request keeps to its answer and to its deadline. The
// tests check that it returns with the answer and that it ends at its deadline and not before;
// how soon is measured here, each iteration one request, against its goal:
//  - BM_RequestWakesWithTheAnswer: a display on the in-memory line answers at once; the request
//    returns with the line, not with its 50 ms polling interval (goal: under 20 ms).
//  - BM_SilentRequestEndsAtItsDeadline: nobody answers a 120 ms request; how far past its
//    deadline it returns (goal: under 280 ms, so within 400 ms of its start).
//  - BM_FloodedRequestEndsAtItsDeadline: a peer on loopback TCP sends bytes without end during a
//    300 ms request; how far past its deadline it returns (goal: under 400 ms, so within 700 ms).
// Each reports the median and the worst of its requests in milliseconds with the goal beside
// them. Part of exchange_bench, whose main runs inside a QCoreApplication, which the TCP
// transport needs.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "protocol/KorvelStack.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/MemoryTransport.h"
#include "tests/support/ScriptedPeer.h"
#include "transport/TCPClientInterface.h"

namespace zorvid {
namespace {

using TClock = std::chrono::steady_clock;

double Milliseconds(TClock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

// The median and the worst of `milliseconds`, and the goal for the worst.
void Report(benchmark::State& state, std::vector<double> milliseconds, double goalMs) {
  if (milliseconds.empty()) return;
  std::sort(milliseconds.begin(), milliseconds.end());
  state.counters["p50_ms"] = milliseconds[milliseconds.size() / 2];
  state.counters["worst_ms"] = milliseconds.back();
  state.counters["goal_ms"] = goalMs;
}

// A stack on one end of an in-memory pair whose other end answers like a display, except for
// requests with SIG 0xFF, which it leaves unanswered.
class TMemoryDisplay {
 public:
  TMemoryDisplay() {
    std::tie(line_, displayEnd_) = test::TMemoryTransport::CreatePair();
    line_->Open();
    peer_ = std::make_unique<test::TScriptedPeer>(displayEnd_, [](const TKorvelFormat97& r) {
      return r.Sig == 0xFF ? TByteString() : BuildPacket97(r.Adr, r.Sig, 0, "now");
    });
    stack_ = New<TKorvelStack>();
    stack_->SetCommunicationInterface(line_);
  }
  ~TMemoryDisplay() {
    peer_.reset();
    stack_->SetCommunicationInterface({});
  }
  TKorvelStack& Stack() { return *stack_; }

 private:
  TRef<test::TMemoryTransport> line_, displayEnd_;
  std::unique_ptr<test::TScriptedPeer> peer_;
  TRef<TKorvelStack> stack_;
};

void BM_RequestWakesWithTheAnswer(benchmark::State& state) {
  TMemoryDisplay display;
  std::vector<double> milliseconds;
  TByte sig = 0;
  for (auto _ : state) {
    sig = sig == 0xFE ? 1 : static_cast<TByte>(sig + 1);
    TByteString answer;
    const auto start = TClock::now();
    if (!display.Stack().Request(0x31, sig, 0xF3, "", answer, 1000)) {
      state.SkipWithError("the display did not answer");
      break;
    }
    milliseconds.push_back(Milliseconds(TClock::now() - start));
  }
  Report(state, milliseconds, 20);
}
BENCHMARK(BM_RequestWakesWithTheAnswer)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2000);

void BM_SilentRequestEndsAtItsDeadline(benchmark::State& state) {
  constexpr int kTimeoutMs = 120;
  TMemoryDisplay display;
  std::vector<double> overshoot;
  for (auto _ : state) {
    TByteString answer;
    const auto start = TClock::now();
    if (display.Stack().Request(0x31, 0xFF, 0xF3, "", answer, kTimeoutMs)) {
      state.SkipWithError("the silent display answered");
      break;
    }
    overshoot.push_back(Milliseconds(TClock::now() - start) - kTimeoutMs);
  }
  Report(state, overshoot, 400 - kTimeoutMs);
}
BENCHMARK(BM_SilentRequestEndsAtItsDeadline)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(20);

void BM_FloodedRequestEndsAtItsDeadline(benchmark::State& state) {
  constexpr int kTimeoutMs = 300;
  std::vector<double> overshoot;
  for (auto _ : state) {
    state.PauseTiming();
    test::TLoopbackServer server;
    auto tcp = New<TTCPClientInterface>();
    tcp->SetConfiguration("host=127.0.0.1;port=" + std::to_string(server.Port()) + ";active=1");
    while (server.Accepted() == 0)
      QCoreApplication::processEvents();
    auto stack = New<TKorvelStack>();
    stack->SetCommunicationInterface(tcp);
    std::optional<test::TFlood> flood(std::in_place, server);
    state.ResumeTiming();

    TByteString answer;
    const auto start = TClock::now();
    const bool answered = stack->Request(0x31, 1, 0xF3, "", answer, kTimeoutMs);
    overshoot.push_back(Milliseconds(TClock::now() - start) - kTimeoutMs);

    state.PauseTiming();
    flood->Stop();
    tcp->Close(true);  // a send blocked on the full line fails now
    flood.reset();
    stack->SetCommunicationInterface({});
    state.ResumeTiming();
    if (answered) {
      state.SkipWithError("noise was taken for an answer");
      break;
    }
  }
  Report(state, overshoot, 700 - kTimeoutMs);
}
BENCHMARK(BM_FloodedRequestEndsAtItsDeadline)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(10);

}  // namespace
}  // namespace zorvid
