// Super smoother: the local line fits and their cross-validated residuals
// checked against brute-force refits over the stated windows, exact lines,
// the degenerate inputs and the bass control's limiting cases.
#include "fit/supsmu.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "support/testdata.h"

namespace kavrel {
namespace {

std::vector<float> positions(int n) {
  std::vector<float> x(n);
  for (int i = 0; i < n; ++i) x[i] = static_cast<float>(i + 1);
  return x;
}

std::vector<float> noisy(int n, uint64_t seed) {
  std::mt19937_64 gen{seed};
  std::normal_distribution<float> d(0.0f, 0.35f);
  std::vector<float> y(n);
  for (int i = 0; i < n; ++i) y[i] = 1.7f + 0.8f * std::sin(0.11f * static_cast<float>(i)) + d(gen);
  return y;
}

// Weighted least-squares line over points [lo, hi] (skipping `skip`),
// evaluated at x[at]; all in long double.
double lineAt(const std::vector<float>& x, const std::vector<float>& y, int lo, int hi, int at,
              int skip = -1) {
  long double sw = 0, sx = 0, sy = 0;
  for (int i = lo; i <= hi; ++i) {
    if (i == skip) continue;
    sw += 1; sx += x[i]; sy += y[i];
  }
  const long double mx = sx / sw, my = sy / sw;
  long double sxx = 0, sxy = 0;
  for (int i = lo; i <= hi; ++i) {
    if (i == skip) continue;
    sxx += (x[i] - mx) * (x[i] - mx);
    sxy += (x[i] - mx) * (y[i] - my);
  }
  return static_cast<double>(my + (sxx > 0 ? sxy / sxx : 0) * (x[at] - mx));
}

// Window of 2b + 1 points centred on j, held at the ends of the series.
int windowStart(int j, int b, int n) { return std::max(0, std::min(j - b, n - 2 * b - 1)); }

TEST(Supsmu, SmoothMatchesBruteForceWindows) {
  // n = 20 with span 0.3: b = trunc(3.5) = 3. n = 100 with the three spans of
  // the automatic mode: b = 3, 10, 25, windows of 7, 21 and 51 points.
  struct Case { int n; float span; int b; };
  for (const Case c : {Case{20, 0.3f, 3}, Case{100, 0.05f, 3}, Case{100, 0.2f, 10},
                       Case{100, 0.5f, 25}, Case{300, 0.01f, 2}}) {
    const auto x = positions(c.n), y = noisy(c.n, 11), w = std::vector<float>(c.n, 1.0f);
    std::vector<float> curve(c.n), res(c.n);
    smooth(x, y, w, c.span, true, 1e-6f, curve, res);
    for (int j = 0; j < c.n; ++j) {
      const int lo = windowStart(j, c.b, c.n), hi = lo + 2 * c.b;
      EXPECT_NEAR(curve[j], lineAt(x, y, lo, hi, j), 2e-6) << c.n << " " << c.span << " " << j;
      // The cross-validated residual is the residual of the refit without j.
      EXPECT_NEAR(res[j], std::fabs(y[j] - lineAt(x, y, lo, hi, j, j)), 1e-5) << j;
    }
  }
}

TEST(Supsmu, RealSeriesWindows) {
  REQUIRE_SHARED_DATA(path, "itrdb/ca533.rwl");
  const std::vector<float> y = test::firstSeries(path);
  const int n = static_cast<int>(y.size());
  ASSERT_EQ(n, 454);
  const auto x = positions(n);
  const std::vector<float> w(n, 1.0f);
  std::vector<float> curve(n), res(n);
  // Spans 0.05, 0.2 and 0.5 of 454 values: b = 11, 45 and 114.
  for (const auto& [span, b] : {std::pair{0.05f, 11}, std::pair{0.2f, 45}, std::pair{0.5f, 114}}) {
    smooth(x, y, w, span, true, 0.0f, curve, res);
    for (int j = 0; j < n; ++j) {
      const int lo = windowStart(j, b, n), hi = lo + 2 * b;
      const double ref = lineAt(x, y, lo, hi, j);
      EXPECT_NEAR(curve[j], ref, 2e-6 * std::fabs(ref)) << span << " " << j;
      const double cv = std::fabs(y[j] - lineAt(x, y, lo, hi, j, j));
      EXPECT_NEAR(res[j], cv, 1e-5 * std::fabs(ref)) << span << " " << j;
    }
  }
}

TEST(Supsmu, TiesGoToTheSmallerSpan) {
  // In the first 100 rings of the first Mesa Verde series the midrange and
  // woofer smoothed residuals at position 51 are both 883/42 exactly: the
  // midrange span is chosen there (column 7 keeps the chosen spans; alpha 0
  // leaves them unadjusted).
  REQUIRE_SHARED_DATA(path, "itrdb/co021.rwl");
  std::vector<float> y = test::firstSeries(path);
  ASSERT_GE(y.size(), 100u);
  y.resize(100);
  const int n = 100;
  const auto x = positions(n);
  const std::vector<float> w(n, 1.0f);
  std::vector<float> curve(n), res(n), mid(n), woof(n), work(7 * n);
  const float floor = (1e-3f * 50.0f) * (1e-3f * 50.0f);
  smooth(x, y, w, kSupsmuMidrange, true, floor, curve, res);
  smooth(x, res, w, kSupsmuMidrange, false, floor, mid, {});
  smooth(x, y, w, kSupsmuWoofer, true, floor, curve, res);
  smooth(x, res, w, kSupsmuMidrange, false, floor, woof, {});
  ASSERT_EQ(mid[50], woof[50]);
  ASSERT_NEAR(mid[50], 883.0 / 42.0, 1e-5);
  supsmu(x, y, w, 0.0f, 0.0f, curve, work);
  EXPECT_EQ(work[6 * n + 50], kSupsmuMidrange);
  EXPECT_EQ(work[6 * n + 49], kSupsmuWoofer);  // the woofer's residual is smaller there
}

TEST(Supsmu, WholeSeriesWindowAndShortSeries) {
  // n = 5 with span 0.3: b = 2, the window is the whole series, every point
  // lies on the same line. With 2 to 4 values the window is the whole series
  // too, in both modes.
  for (int n : {2, 3, 4, 5}) {
    const auto x = positions(n), y = noisy(n, 5), w = std::vector<float>(n, 1.0f);
    std::vector<float> curve(n), work(7 * n);
    for (float span : {0.3f, 0.0f}) {
      supsmu(x, y, w, span, 7.0f, curve, work);
      for (int j = 0; j < n; ++j) EXPECT_NEAR(curve[j], lineAt(x, y, 0, n - 1, j), 2e-6) << n;
    }
  }
}

TEST(Supsmu, SpanBeyondTheSeries) {
  // A span of more than the whole series (even an absurd one) is the whole
  // series: one least-squares line.
  const int n = 30;
  const auto x = positions(n), y = noisy(n, 17), w = std::vector<float>(n, 1.0f);
  std::vector<float> curve(n), work(7 * n);
  for (float span : {2.5f, 1e30f}) {
    supsmu(x, y, w, span, 0.0f, curve, work);
    for (int j = 0; j < n; ++j) EXPECT_NEAR(curve[j], lineAt(x, y, 0, n - 1, j), 2e-6) << span;
  }
}

TEST(Supsmu, EqualAbscissaeGiveTheWeightedMean) {
  std::vector<float> x = {2.0f, 2.0f, 2.0f}, y = {1.0f, 4.0f, 7.0f}, w = {1.0f, 2.0f, 0.0f};
  std::vector<float> curve(3, -1.0f), work(21);
  supsmu(x, y, w, 0.0f, 7.0f, curve, work);
  EXPECT_EQ(curve, std::vector<float>(3, 3.0f));
  w.assign(3, 0.0f);
  supsmu(x, y, w, 0.3f, 7.0f, curve, work);
  EXPECT_EQ(curve, std::vector<float>(3, 0.0f));
  std::vector<float> one = {2.385f}, c1(1), w1 = {1.0f}, work1(7);
  supsmu(one, one, w1, 0.0f, 7.0f, c1, work1);
  EXPECT_EQ(c1[0], 2.385f);
}

TEST(Supsmu, StraightLinesPassUnchanged) {
  for (int n : {7, 39, 40, 500}) {
    const auto x = positions(n), w = std::vector<float>(n, 1.0f);
    std::vector<float> y(n), curve(n), work(7 * n);
    for (int i = 0; i < n; ++i) y[i] = 3.125f - 0.0173f * static_cast<float>(i);
    for (float span : {0.3f, 0.0f}) {
      for (float alpha : {0.0f, 7.0f}) {
        supsmu(x, y, w, span, alpha, curve, work);
        for (int i = 0; i < n; ++i) EXPECT_NEAR(curve[i], y[i], 2e-6) << n << " " << i;
      }
    }
  }
}

TEST(Supsmu, BassControl) {
  const int n = 400;
  const auto x = positions(n), y = noisy(n, 99), w = std::vector<float>(n, 1.0f);
  std::vector<float> curve(n), work(7 * n), expected(n), wooferSmooth(n);
  // alpha = 10 moves every chosen span to the woofer's 0.5, so the curve is
  // the woofer smooth smoothed again with the tweeter span.
  smooth(x, y, w, kSupsmuWoofer, false, 0.0f, wooferSmooth, {});
  const float floor = (1e-3f * 200.0f) * (1e-3f * 200.0f);
  smooth(x, wooferSmooth, w, kSupsmuTweeter, false, floor, expected, {});
  supsmu(x, y, w, 0.0f, 10.0f, curve, work);
  for (int i = 0; i < n; ++i) EXPECT_NEAR(curve[i], expected[i], 1e-6) << i;

  // Larger alpha gives a smoother curve (smaller sum of squared second
  // differences); alpha 0 and values outside (0, 10] apply no adjustment.
  auto roughness = [](const std::vector<float>& c) {
    double s = 0;
    for (size_t i = 2; i < c.size(); ++i) s += std::pow(c[i] - 2 * c[i - 1] + c[i - 2], 2);
    return s;
  };
  double last = 1e30;
  for (float alpha : {0.0f, 3.0f, 7.0f, 9.0f}) {
    supsmu(x, y, w, 0.0f, alpha, curve, work);
    const double r = roughness(curve);
    EXPECT_LT(r, last) << alpha;
    last = r;
  }
  std::vector<float> c0(n), c11(n), cneg(n);
  supsmu(x, y, w, 0.0f, 0.0f, c0, work);
  supsmu(x, y, w, 0.0f, 11.0f, c11, work);
  supsmu(x, y, w, 0.0f, -2.0f, cneg, work);
  EXPECT_EQ(c0, c11);
  EXPECT_EQ(c0, cneg);

  // A fixed span ignores alpha.
  supsmu(x, y, w, 0.3f, 0.0f, c0, work);
  supsmu(x, y, w, 0.3f, 9.0f, c11, work);
  EXPECT_EQ(c0, c11);
}

}  // namespace
}  // namespace kavrel
