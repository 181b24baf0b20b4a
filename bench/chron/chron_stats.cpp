// Time of the chronology statistics on a large generated set: 10000 index
// series of 100 to 400 years spread over 1000 years (the store's series
// capacity), for the per-year statistics and for the running rbar and EPS.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "chron/chronology.h"
#include "chron/signal.h"

namespace {

std::vector<kavrel::IndexSeries> largeSet() {
  std::mt19937_64 gen{123456};
  std::uniform_int_distribution<int32_t> length(100, 400);
  std::uniform_int_distribution<int32_t> start(1000, 1600);
  std::normal_distribution<double> noise(0.0, 0.25);
  std::vector<double> common(1400);
  for (double& c : common) c = 0.15 * noise(gen);
  std::vector<kavrel::IndexSeries> set(10000);
  for (size_t i = 0; i < set.size(); ++i) {
    auto& s = set[i];
    s.classNumber = 1 + static_cast<int32_t>(i % 5);
    s.firstYear = start(gen);
    const int32_t n = length(gen);
    for (int32_t t = 0; t < n; ++t) {
      const double c = common[static_cast<size_t>(s.firstYear - 1000 + t)];
      s.values.push_back(static_cast<float>(1.0 + c + noise(gen)));
    }
  }
  return set;
}

void BM_BuildChronology(benchmark::State& state) {
  const auto set = largeSet();
  for (auto _ : state) {
    auto r = kavrel::buildChronology(set, kavrel::IndexKind::Ratio);
    benchmark::DoNotOptimize(r.chronology.years.data());
  }
}
BENCHMARK(BM_BuildChronology)->Unit(benchmark::kMillisecond);

void BM_RunningSignal(benchmark::State& state) {
  const auto set = largeSet();
  for (auto _ : state) {
    auto r = kavrel::runningSignal(set);
    benchmark::DoNotOptimize(r.windows.data());
  }
}
BENCHMARK(BM_RunningSignal)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
