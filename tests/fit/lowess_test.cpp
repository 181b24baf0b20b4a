// Robust lowess: window sizes and the window tie rule, a brute-force twin of
// the three passes (nearest neighbours found by sorting distances, weighted
// least squares solved directly in long double), exact lines and a wild value.
#include "fit/lowess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "support/testdata.h"
#include "util/fatal.h"

namespace kavrel {
namespace {

// Straightforward lowess on x = 1..n: for each i the ns nearest positions
// (the left one first on equal distance), tricube weights with the 0.999 h
// and 0.001 h cut-offs, times robustness weights, and the weighted
// least-squares line evaluated at i; residuals below a millionth of the
// value (or of the median absolute value) count as zero.
std::vector<double> bruteLowess(const std::vector<float>& y, float f) {
  const int n = static_cast<int>(y.size());
  const int ns = std::max(2, std::min(n, static_cast<int>(f * static_cast<float>(n))));
  std::vector<double> curve(n), rw(n, 1.0);
  for (int pass = 1; pass <= 3; ++pass) {
    for (int i = 0; i < n; ++i) {
      std::vector<int> idx(n);
      std::iota(idx.begin(), idx.end(), 0);
      std::stable_sort(idx.begin(), idx.end(),
                       [&](int a, int b) { return std::abs(a - i) < std::abs(b - i); });
      idx.resize(ns);
      const int lo = *std::min_element(idx.begin(), idx.end());
      const int hi = *std::max_element(idx.begin(), idx.end());
      const long double h = std::max(i - lo, hi - i);
      long double sw = 0, sx = 0, sy = 0;
      std::vector<long double> w(n, 0.0L);
      for (int j = lo; j <= hi; ++j) {
        const long double d = std::abs(j - i);
        if (d > 0.999L * h) continue;
        w[j] = d <= 0.001L * h ? 1.0L : std::pow(1.0L - std::pow(d / h, 3), 3);
        if (pass > 1) w[j] *= rw[j];
        sw += w[j]; sx += w[j] * j; sy += w[j] * y[j];
      }
      if (sw <= 0) {
        curve[i] = y[i];
        continue;
      }
      const long double mx = sx / sw, my = sy / sw;
      long double sxx = 0, sxy = 0;
      for (int j = lo; j <= hi; ++j) {
        sxx += w[j] * (j - mx) * (j - mx);
        sxy += w[j] * (j - mx) * (y[j] - my);
      }
      const bool slope = std::sqrt(sxx / sw) > 0.001L * (n - 1);
      curve[i] = static_cast<double>(my + (slope ? sxy / sxx * (i - mx) : 0.0L));
    }
    // Residuals at rounding level count as zero.
    std::vector<double> mags(n);
    for (int i = 0; i < n; ++i) mags[i] = std::fabs(double(y[i]));
    std::sort(mags.begin(), mags.end());
    const double typical = 0.5 * (mags[n / 2] + mags[n - n / 2 - 1]);
    std::vector<double> a(n);
    for (int i = 0; i < n; ++i) {
      a[i] = std::fabs(y[i] - curve[i]);
      if (a[i] <= 1e-6 * std::max(std::fabs(double(y[i])), typical)) a[i] = 0;
    }
    std::vector<double> s = a;
    std::sort(s.begin(), s.end());
    const double cmad = 3.0 * (s[n / 2] + s[n - n / 2 - 1]);
    for (int i = 0; i < n; ++i) {
      rw[i] = a[i] <= 0.001 * cmad ? 1.0
              : a[i] <= 0.999 * cmad ? std::pow(1.0 - std::pow(a[i] / cmad, 2), 2)
                                     : 0.0;
    }
  }
  return curve;
}

TEST(Lowess, WindowSizeAndTies) {
  EXPECT_EQ(lowessWindowSize(100, 0.67f), 67);
  EXPECT_EQ(lowessWindowSize(300, 0.67f), 201);
  EXPECT_EQ(lowessWindowSize(10, 0.1f), 2);    // f n = 1 < 2
  EXPECT_EQ(lowessWindowSize(10, 0.0f), 2);
  EXPECT_EQ(lowessWindowSize(10, -0.67f), 2);
  EXPECT_EQ(lowessWindowSize(10, 1.0f), 10);
  EXPECT_EQ(lowessWindowSize(10, 4.5f), 10);
  EXPECT_EQ(lowessWindowSize(10, 1e30f), 10);
  EXPECT_EQ(lowessWindowSize(10, std::nanf("")), 2);

  // Four-point window on positions 1..9. At position 3 the left end (1) and
  // the next point (5) are equally far: the window stays at 1..4. At
  // position 4 it moves to 2..5.
  std::vector<float> x = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  int32_t l = 0, r = 3;
  lowessSlideWindow(x, 2, l, r);
  EXPECT_EQ(l, 0);
  EXPECT_EQ(r, 3);
  lowessSlideWindow(x, 3, l, r);
  EXPECT_EQ(l, 1);
  EXPECT_EQ(r, 4);
  lowessSlideWindow(x, 8, l, r);  // the right end of the series holds it
  EXPECT_EQ(l, 5);
  EXPECT_EQ(r, 8);
}

TEST(Lowess, MatchesBruteForce) {
  std::mt19937_64 gen{123456};
  std::normal_distribution<float> noise(0.0f, 0.3f);
  for (int n : {2, 3, 7, 60, 250}) {
    std::vector<float> y(n), curve(n);
    for (int i = 0; i < n; ++i) {
      y[i] = 1.4f + 0.9f * std::exp(-0.02f * static_cast<float>(i)) + noise(gen);
    }
    // Heavy-tailed outliers exercise the robustness weights.
    if (n > 10) y[n / 3] += 4.0f, y[n / 2] -= 2.5f;
    for (float f : {0.1f, 0.3f, 0.67f, 1.0f}) {
      lowess(y, curve, f);
      const auto ref = bruteLowess(y, f);
      for (int i = 0; i < n; ++i) EXPECT_NEAR(curve[i], ref[i], 2e-5) << n << " " << f << " " << i;
    }
  }
}

TEST(Lowess, RealSeriesMatchesBruteForce) {
  REQUIRE_SHARED_DATA(path, "itrdb/ca533.rwl");
  const std::vector<float> y = test::firstSeries(path);
  ASSERT_EQ(y.size(), 454u);
  std::vector<float> curve(y.size());
  for (float f : {0.2f, 0.67f}) {
    lowess(y, curve, f);
    const auto ref = bruteLowess(y, f);
    for (size_t i = 0; i < y.size(); ++i) EXPECT_NEAR(curve[i], ref[i], 2e-6 * std::fabs(ref[i])) << f << " " << i;
  }
}

TEST(Lowess, LinesWildValuesAndDegenerateInput) {
  const int n = 50;
  std::vector<float> y(n), curve(n);
  for (int i = 0; i < n; ++i) y[i] = 2.385f + 0.0625f * static_cast<float>(i);
  for (float f : {0.05f, 0.3f, 1.0f}) {
    lowess(y, curve, f);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(curve[i], y[i], 2e-5) << f << " " << i;
  }
  // A wild value: with a window of two thirds of the series every first-pass
  // residual is non-zero, the wild value's exceeds 0.999 cmad and its weight
  // becomes 0, so the curve follows the line of the other points, at the wild
  // point too.
  std::vector<float> wild = y;
  wild[24] += 10.0f;
  lowess(wild, curve, 0.67f);
  for (int i = 0; i < n; ++i) EXPECT_NEAR(curve[i], y[i], 2e-5) << i;

  // A two-point window keeps each value (the far point gets weight 0).
  std::vector<float> z = {3.5f, 1.25f, 4.75f, 0.5f};
  std::vector<float> cz(4);
  lowess(z, cz, 0.0f);
  EXPECT_EQ(cz, z);

  std::vector<float> one = {2.385f}, c1 = {0.0f};
  lowess(one, c1, 0.67f);
  EXPECT_EQ(c1[0], 2.385f);

  // A constant series stays constant.
  std::vector<float> flat(30, 1.125f), cf(30);
  lowess(flat, cf, 0.4f);
  EXPECT_EQ(cf, flat);

  LowessWorkspace small(10);
  std::vector<float> eleven(11, 1.0f), c11(11);
  EXPECT_THROW(lowess(eleven, c11, 0.5f, small), FitFailure);
}

}  // namespace
}  // namespace kavrel
