// Time per parametric fit (codes 1, 4, 7, 8) at n = 100, 500 and 2000 on a
// noisy generated growth curve, with the number of objective evaluations of the
// simplex methods; the simplex fit of codes 7 and 8 in three stages (search
// alone, refined from the search's point, and with the wide search from the
// grid's valleys), which gives the wide search's share of the fit's time; and
// the three default-fit candidates (codes 4, 1, 8) on one 500-value series.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "fit/amoeba.h"
#include "fit/least_squares_refine.h"
#include "fit/detrend2.h"
#include "fit/startfits.h"
#include "../simplex_start.h"

namespace {

// A declining ring-width-like series (general exponential past its peak) with
// multiplicative noise.
std::vector<float> series(int32_t n) {
  std::mt19937_64 gen{123456};
  std::normal_distribution<double> noise(0.0, 0.2);
  std::vector<float> y(static_cast<size_t>(n));
  for (int32_t t = 1; t <= n; ++t) {
    const double u = t + 20.0;
    y[static_cast<size_t>(t - 1)] =
        static_cast<float>((2.4 * u * std::exp(-0.04 * u) + 0.5) * std::exp(noise(gen)));
  }
  return y;
}

kavrel::CurveParams fitOnce(std::vector<float>& y, std::vector<float>& fitted, int32_t code) {
  kavrel::CurveParams params{};
  int32_t n = static_cast<int32_t>(y.size());
  int32_t option = code;
  int32_t span = -67;
  float fitParam = 0.0f;
  kavrel::detrend2(y, fitted, n, n, params, option, 2000, span, fitParam, 20);
  benchmark::DoNotOptimize(fitted.data());
  return params;
}

// Objective evaluations of the simplex (search and refinement) for code 7 or 8.
void countEvaluations(const std::vector<float>& y, int32_t code, benchmark::State& state) {
  const int32_t n = static_cast<int32_t>(y.size());
  const kavrel::bench::SimplexStart s = kavrel::bench::simplexStart(y, code);
  std::vector<float> fitted(y.size());
  const kavrel::SimplexProblem problem{s.selector, kavrel::kObjectiveCapacity, n, s.abscissa, y};
  const kavrel::SimplexFit fit = kavrel::gamoeba(s.start, problem, n, fitted);
  state.counters["simplexEvals"] = fit.evaluations;
  state.counters["refineEvals"] = fit.refineEvaluations;
}

void BM_Fit(benchmark::State& state) {
  const int32_t code = static_cast<int32_t>(state.range(0));
  std::vector<float> y = series(static_cast<int32_t>(state.range(1)));
  std::vector<float> fitted(y.size());
  for (auto _ : state) fitOnce(y, fitted, code);
  if (code == 7 || code == 8) countEvaluations(y, code, state);
  if (code == 1) {
    // The rate search evaluates three rates in its first pass and two after.
    const kavrel::CurveParams p = fitOnce(y, fitted, code);
    state.counters["rateEvals"] = p[5] > 0.0f ? 1.0 + 2.0 * p[5] : 0.0;
  }
}
BENCHMARK(BM_Fit)
    ->ArgNames({"code", "n"})
    ->ArgsProduct({{1, 4, 7, 8}, {100, 500, 2000}})
    ->Unit(benchmark::kMillisecond);

// Simplex fit of code 7 or 8 by stage: 0 the search alone, 1 refined from the
// search's point only, 2 with the wide search as well (the default).
void BM_SimplexStages(benchmark::State& state) {
  const int32_t code = static_cast<int32_t>(state.range(0));
  const int32_t n = static_cast<int32_t>(state.range(1));
  const int64_t stage = state.range(2);
  const std::vector<float> y = series(n);
  const kavrel::bench::SimplexStart s = kavrel::bench::simplexStart(y, code);
  std::vector<float> fitted(y.size());
  const kavrel::SimplexProblem problem{s.selector, kavrel::kObjectiveCapacity, n, s.abscissa, y};
  kavrel::RefineOptions options;
  options.gridStart = stage == 2;
  kavrel::SimplexFit fit;
  for (auto _ : state) {
    fit = stage == 0 ? kavrel::gamoeba(s.start, problem, n, fitted, false)
                     : kavrel::gamoeba(s.start, problem, n, fitted, options);
    benchmark::DoNotOptimize(fitted.data());
  }
  state.counters["rss"] = fit.bestValue;
  state.counters["refineEvals"] = fit.refineEvaluations;
}
BENCHMARK(BM_SimplexStages)
    ->ArgNames({"code", "n", "stage"})
    ->ArgsProduct({{7, 8}, {100, 500, 2000}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);

void BM_DefaultFitCandidates(benchmark::State& state) {
  std::vector<float> y = series(500);
  std::vector<float> fitted(y.size());
  for (auto _ : state) {
    fitOnce(y, fitted, 4);
    fitOnce(y, fitted, 1);
    fitOnce(y, fitted, 8);
  }
}
BENCHMARK(BM_DefaultFitCandidates)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

}  // namespace

BENCHMARK_MAIN();
