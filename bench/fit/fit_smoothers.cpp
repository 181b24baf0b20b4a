// Timing of the smoothing methods at 100, 1000 and 5000 values on a
// ring-width-like series (declining trend plus noise, fixed seed). The
// "time_per_value" counter shows whether a method's time grows linearly in n.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "fit/lowess.h"
#include "fit/msmoor.h"
#include "fit/spline.h"
#include "fit/supsmu.h"

namespace {

std::vector<float> rings(int n) {
  std::mt19937_64 gen{123456};
  std::normal_distribution<float> noise(0.0f, 0.2f);
  std::vector<float> y(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    y[static_cast<size_t>(i)] = 0.9f + 1.6f * std::exp(-0.004f * static_cast<float>(i)) + noise(gen);
  }
  return y;
}

// Seconds per value (shown with an SI prefix, e.g. "25n" for 25 ns).
void perValue(benchmark::State& state) {
  state.counters["time_per_value"] = benchmark::Counter(
      static_cast<double>(state.range(0)),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Spline(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const auto y = rings(n);
  std::vector<float> curve(y.size());
  kavrel::SplineWorkspace ws;
  float p = 0.0f;
  for (auto _ : state) {
    benchmark::DoNotOptimize(kavrel::spline(y, curve, p, 2 * n / 3, ws));
    benchmark::ClobberMemory();
  }
  perValue(state);
}

void BM_Spline2(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const auto y = rings(n);
  std::vector<float> curve(y.size());
  std::vector<int32_t> stiff(y.size());
  kavrel::lsmake(n, 20, stiff);
  kavrel::SplineWorkspace ws;
  for (auto _ : state) {
    benchmark::DoNotOptimize(kavrel::spline2(y, curve, stiff, ws));
    benchmark::ClobberMemory();
  }
  perValue(state);
}

void supsmuRun(benchmark::State& state, float span) {
  const int n = static_cast<int>(state.range(0));
  const auto y = rings(n);
  std::vector<float> x(y.size()), w(y.size(), 1.0f), curve(y.size()), work(7 * y.size());
  for (int i = 0; i < n; ++i) x[static_cast<size_t>(i)] = static_cast<float>(i + 1);
  for (auto _ : state) {
    kavrel::supsmu(x, y, w, span, 7.0f, curve, work);
    benchmark::ClobberMemory();
  }
  perValue(state);
}

void BM_SupsmuAutomatic(benchmark::State& state) { supsmuRun(state, 0.0f); }
void BM_SupsmuFixedSpan(benchmark::State& state) { supsmuRun(state, 0.3f); }

void BM_Lowess(benchmark::State& state) {
  const auto y = rings(static_cast<int>(state.range(0)));
  std::vector<float> curve(y.size());
  kavrel::LowessWorkspace ws;
  for (auto _ : state) {
    kavrel::lowess(y, curve, 0.67f, ws);
    benchmark::ClobberMemory();
  }
  perValue(state);
}

void BM_LowessNarrow(benchmark::State& state) {
  const auto y = rings(static_cast<int>(state.range(0)));
  std::vector<float> curve(y.size());
  kavrel::LowessWorkspace ws;
  for (auto _ : state) {
    kavrel::lowess(y, curve, 0.1f, ws);
    benchmark::ClobberMemory();
  }
  perValue(state);
}

void BM_Msmoor(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const auto y = rings(n);
  std::vector<float> copy(y.size()), curve(y.size()), work(15);
  for (auto _ : state) {
    copy = y;
    int32_t window = 15;
    benchmark::DoNotOptimize(kavrel::msmoor(copy, curve, work, n, window, 5000));
    benchmark::ClobberMemory();
  }
  perValue(state);
}

}  // namespace

BENCHMARK(BM_Spline)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Spline2)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SupsmuAutomatic)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SupsmuFixedSpan)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Lowess)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LowessNarrow)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Msmoor)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
