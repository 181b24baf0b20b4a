#include "util/powertransform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "util/missing.h"

namespace kavrel {
namespace {

TEST(Trend2, LineAndDegenerateCases) {
  std::vector<float> x = {0.5f, 1.25f, 2.0f, 3.5f, 4.0f};
  std::vector<float> y;
  for (float v : x) y.push_back(2.385f + 0.75f * v);
  TrendLine t = trend2(5, x, y);
  EXPECT_NEAR(t.slope, 0.75f, 1e-5f);
  EXPECT_NEAR(t.intercept, 2.385f, 1e-5f);

  // Scatter around a line: the slope is the least-squares one.
  std::vector<float> ys = {1.0f, 3.0f, 2.0f, 5.0f};
  std::vector<float> xs = {1.0f, 2.0f, 3.0f, 4.0f};
  t = trend2(4, xs, ys);
  EXPECT_NEAR(t.slope, 1.1f, 1e-6f);  // Sxy - SxSy/n = 5.5, Sxx - Sx^2/n = 5
  EXPECT_NEAR(t.intercept, 0.0f, 1e-6f);

  t = trend2(1, std::vector<float>{2.0f}, std::vector<float>{-1.5f});
  EXPECT_EQ(t.slope, 0.0f);
  EXPECT_EQ(t.intercept, -1.5f);

  t = trend2(3, std::vector<float>(3, 0.0f), std::vector<float>{1.0f, 2.0f, 4.5f});
  EXPECT_EQ(t.slope, 0.0f);
  EXPECT_FLOAT_EQ(t.intercept, 2.5f);

  t = trend2(0, {}, {});
  EXPECT_EQ(t.slope, 0.0f);
  EXPECT_EQ(t.intercept, 0.0f);
}

// The expected result of the transform with power p (0: natural log),
// computed in double from the values after the zero guard.
std::vector<float> expectedTransform(const std::vector<float>& v, double p) {
  std::vector<double> guarded, out;
  for (float a : v) guarded.push_back(a == 0.0f ? 0.001 : static_cast<double>(a));
  double oldMin = 1e30, oldMax = -1e30, newMin = 1e30, newMax = -1e30;
  for (double a : guarded) {
    if (a == -999.0) continue;
    oldMin = std::min(oldMin, a);
    oldMax = std::max(oldMax, a);
  }
  for (double a : guarded) {
    double t = a;
    if (a != -999.0) t = p > 0 ? std::pow(std::max(a, 0.01), p) : std::log(a);
    out.push_back(t);
    if (a == -999.0) continue;
    newMin = std::min(newMin, t);
    newMax = std::max(newMax, t);
  }
  std::vector<float> r;
  for (std::size_t j = 0; j < out.size(); ++j) {
    r.push_back(guarded[j] == -999.0 ? -999.0f
                                     : static_cast<float>((out[j] - newMin) * (oldMax - oldMin) / (newMax - newMin) + oldMin));
  }
  return r;
}

void expectNear(const std::vector<float>& got, const std::vector<float>& want, float relTol) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t j = 0; j < got.size(); ++j) {
    EXPECT_NEAR(got[j], want[j], relTol * std::max(1.0f, std::fabs(want[j]))) << "position " << j + 1;
  }
}

// Rising series whose spread is c * level^b exactly: the slope is b.
std::vector<float> spreadPowerSeries(double first, double c, double b, int n) {
  std::vector<float> v = {static_cast<float>(first)};
  double prev = first;
  for (int j = 1; j < n; ++j) {
    double u = prev + c;  // solve u - prev = c * u^b by fixed-point iteration
    for (int it = 0; it < 200; ++it) u = prev + c * std::pow(u, b);
    v.push_back(static_cast<float>(u));
    prev = static_cast<double>(v.back());
  }
  return v;
}

TEST(Slpt1, PowerFollowsTheSpreadVersusLevelSlope) {
  // Constant spread (slope 0): p = 1, the series comes back as it was.
  std::vector<float> flat = {1.3f, 2.7f, 1.3f, 2.7f, 1.3f, 2.7f, 1.3f};
  std::vector<float> v = flat;
  slpt1(v);
  expectNear(v, flat, 1e-5f);

  // Spread proportional to level (slope 1): p = 0, log then rescale.
  std::vector<float> geometric;
  for (int j = 0; j < 30; ++j) geometric.push_back(0.2f * std::pow(1.1f, static_cast<float>(j)));
  v = geometric;
  slpt1(v);
  expectNear(v, expectedTransform(geometric, 0.0), 2e-4f);
  EXPECT_FLOAT_EQ(v.front(), geometric.front());
  EXPECT_NEAR(v.back(), geometric.back(), 1e-5f);

  // Slope 0.5: p = 0.5, the square root rescaled.
  const std::vector<float> half = spreadPowerSeries(0.3, 0.25, 0.5, 40);
  v = half;
  slpt1(v);
  expectNear(v, expectedTransform(half, 0.5), 1e-3f);

  // Slope 0.96: p = 0.04 is below 0.05 and becomes 0 (log).
  const std::vector<float> steep = spreadPowerSeries(0.5, 0.12, 0.96, 40);
  v = steep;
  slpt1(v);
  expectNear(v, expectedTransform(steep, 0.0), 1e-3f);

  // Slope -0.5: p = 1.5 is capped at 1, the series stays.
  const std::vector<float> damped = spreadPowerSeries(0.5, 0.3, -0.5, 40);
  v = damped;
  slpt1(v);
  expectNear(v, damped, 1e-4f);

  // Two values: one point, slope 0, p = 1.
  std::vector<float> pair = {0.85f, 1.6f};
  slpt1(pair);
  expectNear(pair, {0.85f, 1.6f}, 1e-6f);
}

TEST(Slpt1, ZeroGuardAndSmallValues) {
  // Constant spread after the guard, so p = 1: the zeros become 0.001, are
  // raised to 0.01 for the power and rescaled back to 0.001.
  std::vector<float> v = {0.0f, 2.5f, 0.0f, 2.5f, 0.0f, 2.5f};
  slpt1(v);
  for (std::size_t j = 0; j < v.size(); j += 2) EXPECT_NEAR(v[j], 0.001f, 1e-6f);
  for (std::size_t j = 1; j < v.size(); j += 2) EXPECT_NEAR(v[j], 2.5f, 1e-5f);
}

TEST(Slpt1, MissingRingsKeepTheirPlacesAndTakeNoPart) {
  std::vector<float> geometric;
  for (int j = 0; j < 30; ++j) geometric.push_back(0.2f * std::pow(1.1f, static_cast<float>(j)));
  std::vector<float> withGaps = geometric;
  withGaps[0] = kMissingValue;
  withGaps[12] = kMissingValue;
  withGaps[29] = kMissingValue;
  std::vector<float> v = withGaps;
  slpt1(v);
  EXPECT_EQ(v[0], kMissingValue);
  EXPECT_EQ(v[12], kMissingValue);
  EXPECT_EQ(v[29], kMissingValue);
  // The remaining pairs still have slope 1 (log) and the range is that of
  // the rings present.
  expectNear(v, expectedTransform(withGaps, 0.0), 2e-4f);
  EXPECT_FLOAT_EQ(v[1], geometric[1]);

  std::vector<float> flatGaps = {1.3f, 2.7f, kMissingValue, 1.3f, 2.7f, 1.3f};
  v = flatGaps;
  slpt1(v);
  expectNear(v, flatGaps, 1e-5f);
}

TEST(Slpt1, SeriesWithoutPointsOrRangeStayAsPassed) {
  const std::vector<std::vector<float>> unchanged = {
      {1.75f},                                   // one value: no pair
      {2.385f, 2.385f, 2.385f},                  // equal values: no spread
      {0.0f, 0.0f, 0.0f},                        // zeros: guard gives equal values
      {kMissingValue, kMissingValue},            // nothing present
      {1.2f, kMissingValue, 3.4f, kMissingValue, 0.7f},  // every pair broken
      {0.002f, 0.005f, 0.003f},  // p > 0 and all below 0.01: transformed values equal
      {},
  };
  for (const auto& s : unchanged) {
    std::vector<float> v = s;
    slpt1(v);
    EXPECT_EQ(v, s);
  }
}

}  // namespace
}  // namespace kavrel
