#include <benchmark/benchmark.h>

#include <vector>

#include "core/Eventer.h"

namespace zorvid {
namespace {

class TIntEventer final : public TTypedEventer<int> {};

struct TCounter {
  long calls = 0;
  void OnEvent(int value) { calls += value; }
};

// One fire over N subscribers: two lock round trips per handler.
void BM_EventerFire(benchmark::State& state) {
  TIntEventer eventer;
  std::vector<TCounter> counters(static_cast<std::size_t>(state.range(0)));
  for (auto& counter : counters)
    eventer.Add({&counter, &TCounter::OnEvent});
  for (auto _ : state)
    eventer.Fire(1);
  state.SetItemsProcessed(state.iterations() * state.range(0));
  benchmark::DoNotOptimize(counters.front().calls);
}
BENCHMARK(BM_EventerFire)->Arg(1)->Arg(5)->Arg(50);

// Subscribing and unsubscribing outside a fire (the removal closes the gap at once).
void BM_EventerAddRemove(benchmark::State& state) {
  TIntEventer eventer;
  TCounter counter;
  for (auto _ : state) {
    eventer.Add({&counter, &TCounter::OnEvent});
    eventer.Remove({&counter, &TCounter::OnEvent});
  }
}
BENCHMARK(BM_EventerAddRemove);

}  // namespace
}  // namespace zorvid
