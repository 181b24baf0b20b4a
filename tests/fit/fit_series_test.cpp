// The fitting library's entry: results by name, failures as results, and the
// same results when fits run from several threads at once.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "fit/fit_result.h"

namespace kavrel {
namespace {

FitSettings settingsFor(int32_t code) {
  FitSettings s;
  s.detrend.option = code;
  return s;
}

// A declining, noisy series with a hump near its start.
std::vector<float> humped(int32_t n, uint32_t seed) {
  std::vector<float> y;
  uint32_t state = seed;
  for (int32_t t = 1; t <= n; ++t) {
    state = state * 1664525u + 1013904223u;
    const double noise = (static_cast<double>(state >> 8) / 16777216.0 - 0.5) * 0.2;
    y.push_back(static_cast<float>(2.0 * t * std::exp(-0.04 * t) * 0.15 + 0.5 + noise));
  }
  return y;
}

TEST(FitSeries, ParametersByNameFollowTheMethodUsed) {
  // An exact line: the linear fit's named slope and intercept are the line's.
  std::vector<float> line;
  for (int t = 1; t <= 50; ++t) line.push_back(1.5f + 0.02f * static_cast<float>(t));
  const FitResult lin = fitSeries(line, settingsFor(4));
  EXPECT_EQ(lin.status, FitStatus::ok);
  EXPECT_NEAR(namedValue(lin, "slope"), 0.02f, 1e-5f);
  EXPECT_NEAR(namedValue(lin, "intercept"), 1.5f, 1e-4f);
  // A rising series has no negative exponential: code 2 falls back to the
  // mean line (code 5 rising -> mean), named by the method used.
  const FitResult neg = fitSeries(line, settingsFor(2));
  EXPECT_EQ(neg.methodUsed, 5);
  EXPECT_EQ(namedValue(neg, "slope"), 0.0f);
  EXPECT_NEAR(namedValue(neg, "intercept"), 2.01f, 1e-4f);  // the mean of the line
  EXPECT_NEAR(neg.curve[49], 2.01f, 1e-4f);
  // Hugershoff and general exponential parameters sit where the layout has them.
  const std::vector<float> y = humped(120, 7);
  for (int32_t code : {7, 8}) {
    const FitResult r = fitSeries(y, settingsFor(code));
    ASSERT_EQ(r.status, FitStatus::ok);
    ASSERT_EQ(r.methodUsed, code);
    EXPECT_EQ(namedValue(r, "a"), r.params[0]);
    EXPECT_EQ(namedValue(r, "b"), -r.params[2]);  // the humped series declines
    EXPECT_EQ(namedValue(r, "s"), r.params[5]);
    EXPECT_EQ(namedValue(r, "k"), r.params[4]);
    EXPECT_EQ(r.curve.size(), y.size());
  }
}

TEST(FitSeries, FatalConditionsComeBackAsFailedFits) {
  struct Case {
    int32_t code;
    std::vector<float> values;
    std::string failure;
    bool pauses;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {6, {}, "error in xmean2: n=0", true, {""}},
      {8, std::vector<float>(30, -1.0f), "*** n1 .le. 0 in sbr gexp ***\n", true, {""}},
      {8, std::vector<float>(5001, 1.0f), "in gamoff ne > nemax:       5001      5000\nbye.",
       true, {""}},
      {20, std::vector<float>(5001, 1.0f),
       "\n*** series too long for spline subroutine ***\n"
       "*** enlarge mxy parameter in subroutine ***\n",
       false, {}},
  };
  for (const Case& c : cases) {
    const FitResult r = fitSeries(c.values, settingsFor(c.code));
    EXPECT_EQ(r.status, FitStatus::failed) << c.code;
    EXPECT_EQ(r.failure, c.failure);
    EXPECT_EQ(r.failurePauses, c.pauses);
    EXPECT_EQ(r.lines, c.lines);
    EXPECT_TRUE(r.curve.empty());
  }
}

TEST(FitSeries, ThreadsGetTheResultsOfOneThread) {
  const std::vector<int32_t> codes = {1, 2, 3, 4, 5, 6, 7, 8, -1, -2, -3, -4, -5, 20, -67};
  const std::vector<std::vector<float>> series = {humped(200, 1), humped(60, 2), humped(15, 3)};
  const auto runAll = [&] {
    std::vector<FitResult> out;
    for (const std::vector<float>& y : series) {
      for (int32_t code : codes) out.push_back(fitSeries(y, settingsFor(code)));
    }
    return out;
  };
  const std::vector<FitResult> expected = runAll();
  constexpr int kThreads = 4;
  std::vector<std::vector<FitResult>> got(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) threads.emplace_back([&, i] { got[i] = runAll(); });
  for (std::thread& t : threads) t.join();
  for (const std::vector<FitResult>& g : got) {
    ASSERT_EQ(g.size(), expected.size());
    for (size_t i = 0; i < g.size(); ++i) {
      EXPECT_EQ(g[i].curve, expected[i].curve) << i;
      EXPECT_EQ(g[i].params, expected[i].params) << i;
      EXPECT_EQ(g[i].methodUsed, expected[i].methodUsed) << i;
      EXPECT_EQ(g[i].lines, expected[i].lines) << i;
    }
  }
  // The short series gives lines (too short for the negative exponential).
  bool anyLine = false;
  for (const FitResult& r : expected) anyLine = anyLine || !r.lines.empty();
  EXPECT_TRUE(anyLine);
}

}  // namespace
}  // namespace kavrel
