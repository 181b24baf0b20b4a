// Timing of the statistics used per series and per class: quicksort,
// heapsort, the five-number summary and the power transformation.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "util/powertransform.h"
#include "util/stats.h"

namespace {

std::vector<float> widths(std::size_t n) {
  std::mt19937_64 gen{123456};
  std::gamma_distribution<float> g(2.0f, 0.6f);
  std::vector<float> v(n);
  for (float& x : v) x = g(gen);
  return v;
}

void BM_qcksrt(benchmark::State& state) {
  const std::vector<float> data = widths(static_cast<std::size_t>(state.range(0)));
  std::vector<float> x;
  for (auto _ : state) {
    x = data;
    kavrel::qcksrt(static_cast<int32_t>(x.size()), x);
    benchmark::DoNotOptimize(x.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_qcksrt)->Arg(500)->Arg(10000)->Arg(1000000);

void BM_heapsort(benchmark::State& state) {
  const std::vector<float> data = widths(static_cast<std::size_t>(state.range(0)));
  std::vector<float> x;
  for (auto _ : state) {
    x = data;
    kavrel::sort(static_cast<int32_t>(x.size()), x);
    benchmark::DoNotOptimize(x.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_heapsort)->Arg(500)->Arg(10000)->Arg(1000000);

void BM_mfsKeepInput(benchmark::State& state) {
  std::vector<float> x = widths(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(kavrel::mfs(x, static_cast<int32_t>(x.size()), 2));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_mfsKeepInput)->Arg(500)->Arg(10000);

void BM_moment(benchmark::State& state) {
  const std::vector<float> x = widths(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(kavrel::moment(x, static_cast<int32_t>(x.size())));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_moment)->Arg(500);

// One series of 500 rings, as the loading step transforms 10000 of them.
void BM_slpt1(benchmark::State& state) {
  const std::vector<float> data = widths(500);
  std::vector<float> x;
  for (auto _ : state) {
    x = data;
    kavrel::slpt1(x);
    benchmark::DoNotOptimize(x.data());
  }
  state.SetItemsProcessed(state.iterations() * 500);
}
BENCHMARK(BM_slpt1);

}  // namespace

BENCHMARK_MAIN();
