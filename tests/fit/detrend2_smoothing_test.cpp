// The dispatcher's smoothing branches: which routine each code reaches with
// which stiffness, span or window, the end-upturn removal, the difference
// index, and the defined outcomes for series a method cannot fit.
#include "fit/detrend2_smoothing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "fit/detrend2.h"
#include "fit/lowess.h"
#include "fit/msmoor.h"
#include "fit/spline.h"
#include "fit/supsmu.h"
#include "util/fatal.h"
#include "util/missing.h"

namespace kavrel {
namespace {

// A ring-width-like series: a declining growth trend with noise (fixed seed).
std::vector<float> rings(int n, uint64_t seed = 123456) {
  std::mt19937_64 gen{seed};
  std::normal_distribution<float> noise(0.0f, 0.18f);
  std::vector<float> y(n);
  for (int i = 0; i < n; ++i) {
    y[i] = 0.9f + 1.6f * std::exp(-0.015f * static_cast<float>(i)) + noise(gen);
  }
  return y;
}

struct Smoothed {
  std::vector<float> series, fitted;
  int32_t n = 0, span = 0;
  float fitParam = 0.0f;
  std::string screen;
};

Smoothed smoothWith(const std::vector<float>& y, int32_t option, int32_t span = -67,
               float fitParam = 0.0f, int32_t startStiffness = 20, int32_t maxLen = 2000) {
  Smoothed r{y, std::vector<float>(y.size() + 3, 77.0f), static_cast<int32_t>(y.size()), span,
        fitParam, {}};
  FitNotes notes;
  detrendSmoothing(r.series, r.fitted, r.n, option, maxLen, r.span, r.fitParam, startStiffness,
                   &notes);
  r.screen = notesText(notes);
  return r;
}

std::vector<float> splineOf(const std::vector<float>& y, int32_t stiffness) {
  std::vector<float> c(y.size());
  float sp = 0.0f;
  EXPECT_EQ(spline(y, c, sp, stiffness), SplineStatus::ok);
  return c;
}

std::vector<float> head(const std::vector<float>& v, size_t n) {
  return std::vector<float>(v.begin(), v.begin() + static_cast<long>(n));
}

void expectAllFinite(const std::vector<float>& v, size_t n) {
  for (size_t i = 0; i < n; ++i) ASSERT_TRUE(std::isfinite(v[i])) << i;
}

TEST(DetrendSmoothing, SplineCodeStiffness) {
  const auto y = rings(300);
  // -67 on 300 values: 201 years; 30: 30 years; -29 on 300: 87 years.
  Smoothed r = smoothWith(y, -67);
  EXPECT_EQ(head(r.fitted, 300), splineOf(y, 201));
  EXPECT_EQ(r.fitted[300], 77.0f);  // nothing written past n
  EXPECT_EQ(r.screen, "");
  EXPECT_EQ(head(smoothWith(y, 30).fitted, 300), splineOf(y, 30));
  EXPECT_EQ(head(smoothWith(y, -29).fitted, 300), splineOf(y, 87));
  const auto y100 = rings(100, 5);
  EXPECT_EQ(head(smoothWith(y100, -29).fitted, 100), splineOf(y100, 29));
  // A relative stiffness beyond the integer range is held at its limit.
  r = smoothWith(y, INT32_MIN);
  EXPECT_EQ(head(r.fitted, 300), splineOf(y, INT32_MAX));
  EXPECT_EQ(r.screen, "");

  // Codes without a stiffness, and a relative code that truncates to 0,
  // use 67 % of the length and say so.
  for (int32_t code : {0, 9, -6, -9}) {
    r = smoothWith(y, code);
    EXPECT_EQ(head(r.fitted, 300), splineOf(y, 201)) << code;
    EXPECT_EQ(r.screen, ">> sbr detrend2: method " + std::to_string(code) +
                            " gives a spline stiffness below 1 year; 67 pct of the series "
                            "length (201 years) used\n");
  }
  const auto y9 = rings(9, 8);
  r = smoothWith(y9, -10);
  EXPECT_EQ(head(r.fitted, 9), splineOf(y9, 6));
  EXPECT_EQ(r.screen, ">> sbr detrend2: method -10 gives a spline stiffness below 1 year; "
                      "67 pct of the series length (6 years) used\n");
}

TEST(DetrendSmoothing, TooShortForASpline) {
  // Three values: the spline cannot fit them, the curve is their mean.
  const std::vector<float> y = {1.25f, 2.0f, 0.5f};
  for (int32_t code : {30, -67, 0, -2}) {
    const Smoothed r = smoothWith(y, code);
    EXPECT_EQ(head(r.fitted, 3), std::vector<float>(3, 3.75f / 3.0f)) << code;
    EXPECT_EQ(r.fitted[3], 77.0f);
    EXPECT_EQ(r.screen, ">> sbr detrend2: 3 values are too few for a smoothing spline "
                        "(4 needed); horizontal line at the mean used\n");
  }
  // No values at all: nothing to write.
  Smoothed r = smoothWith({}, 30);
  EXPECT_EQ(r.screen, ">> sbr detrend2: no values to smooth\n");
  // Beyond the fitting capacity the program stops.
  std::vector<float> big(5001, 1.0f), fitted(5001);
  int32_t n = 5001, span = 0;
  float fp = 0.0f;
  try {
    detrendSmoothing(big, fitted, n, 30, 6000, span, fp, 20);
    ADD_FAILURE();
  } catch (const FitFailure& e) {
    EXPECT_EQ(std::string(e.what()), kSplineTooLongMessage);
  }
  EXPECT_THROW(detrendSmoothing(big, fitted, n, -5, 6000, span, fp, 20), FitFailure);
}

TEST(DetrendSmoothing, SuperSmootherSpans) {
  // 39 values: fixed span 0.3; 40 values: automatic span with the bass
  // control from fitParam.
  for (int n : {39, 40, 250}) {
    const auto y = rings(n);
    std::vector<float> x(n), w(n, 1.0f), expected(n), work(7 * n);
    for (int i = 0; i < n; ++i) x[i] = static_cast<float>(i + 1);
    supsmu(x, y, w, n < 40 ? 0.3f : 0.0f, 7.0f, expected, work);
    const Smoothed r = smoothWith(y, -5, -67, 7.0f);
    EXPECT_EQ(head(r.fitted, n), expected) << n;
    EXPECT_EQ(r.screen, "");
    EXPECT_EQ(r.fitParam, 7.0f);
  }
  // At 40 values the automatic span differs from the fixed one.
  const auto y40 = rings(40);
  std::vector<float> x(40), w(40, 1.0f), fixed(40), work(280);
  for (int i = 0; i < 40; ++i) x[i] = static_cast<float>(i + 1);
  supsmu(x, y40, w, 0.3f, 7.0f, fixed, work);
  EXPECT_NE(head(smoothWith(y40, -5, -67, 7.0f).fitted, 40), fixed);

  // Four values: the least-squares line through them, and a console line.
  const std::vector<float> y4 = {2.0f, 1.0f, 1.5f, 0.5f};  // line 2.0 - 0.4 t, t = 0..3
  const Smoothed r = smoothWith(y4, -5, -67, 7.0f);
  const std::vector<float> line = {1.85f, 1.45f, 1.05f, 0.65f};
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(r.fitted[i], line[i], 1e-6f);
  EXPECT_EQ(r.screen, ">> sbr detrend2: 4 values are too few for the super smoother "
                      "(5 needed); least-squares line through all values used\n");
}

TEST(DetrendSmoothing, LowessSpan) {
  const auto y = rings(120);
  std::vector<float> expected(120);
  lowess(y, expected, 0.67f);
  // Span 67: fraction 0.67, left in fitParam. A negative span (the menu's
  // percentage form) gives the same fraction.
  for (int32_t span : {67, -67}) {
    const Smoothed r = smoothWith(y, -4, span, 3.0f);
    EXPECT_EQ(head(r.fitted, 120), expected) << span;
    EXPECT_EQ(r.fitParam, 0.67f);
    EXPECT_EQ(r.span, span);
  }
}

TEST(DetrendSmoothing, RunningMedianWindow) {
  const auto y = rings(61);
  auto medians = [&](int32_t window) {
    std::vector<float> copy = y, curve(61), work(61);
    int32_t w = window;
    (void)msmoor(copy, curve, work, 61, w, 2000);
    return curve;
  };
  // fitParam 15.7: window 15, left in span; 16 is lowered to 15.
  Smoothed r = smoothWith(y, -3, 0, 15.7f);
  EXPECT_EQ(r.span, 15);
  EXPECT_EQ(head(r.fitted, 61), medians(15));
  EXPECT_EQ(r.series, y);  // the dispatcher smooths a copy
  r = smoothWith(y, -3, 0, 16.0f);
  EXPECT_EQ(r.span, 15);
  EXPECT_EQ(head(r.fitted, 61), medians(15));
  // A negative window is a percentage of the length: 10 % of 61 values is 6,
  // lowered to 5; fitParam keeps the percentage for the next series.
  r = smoothWith(y, -3, 0, -10.0f);
  EXPECT_EQ(r.span, 5);
  EXPECT_EQ(r.fitParam, -10.0f);
  EXPECT_EQ(head(r.fitted, 61), medians(5));
  // A window longer than the series: the longest odd window that fits.
  r = smoothWith(y, -3, 0, 71.0f);
  EXPECT_EQ(r.span, 61);
  EXPECT_EQ(head(r.fitted, 61), medians(61));
  EXPECT_EQ(r.screen, ">> sbr detrend2: median window 71 is longer than the series "
                      "(61 values); window 61 used\n");
  const std::vector<float> y6 = {1.0f, 5.0f, 2.0f, 4.0f, 3.0f, 9.0f};
  r = smoothWith(y6, -3, 0, 7.0f);
  EXPECT_EQ(r.span, 5);
  EXPECT_EQ(head(r.fitted, 6), (std::vector<float>{3.0f, 3.0f, 3.0f, 4.0f, 4.0f, 4.0f}));
}

TEST(DetrendSmoothing, AgeDependentSplineEndUpturn) {
  // Falls to a minimum at position 180 of 200, then rises; the stiff first
  // spline has its minimum earlier.
  const int n = 200;
  std::vector<float> y(n);
  for (int i = 0; i < n; ++i) {
    const float t = static_cast<float>(i + 1);
    y[i] = t <= 180.0f ? 1.0f + 2.0f * std::exp(-t / 40.0f) : 1.0f + 0.03f * (t - 180.0f);
  }
  std::vector<int32_t> stiff(n);
  for (int i = 0; i < n; ++i) stiff[i] = 20 + i;
  std::vector<float> first(n), expected(n);
  ASSERT_EQ(spline2(y, first, stiff), SplineStatus::ok);
  // The lowest point before the final rise, found by scanning for the last
  // local minimum of the first curve.
  int p = 0;
  for (int i = 1; i < n; ++i)
    if (first[i] <= first[i - 1]) p = i;
  ASSERT_GT(p, 100);
  ASSERT_LT(p, n - 1);
  std::vector<float> flat = first;
  for (int i = p + 1; i < n; ++i) flat[i] = first[p];
  ASSERT_EQ(spline2(flat, expected, stiff), SplineStatus::ok);
  Smoothed r = smoothWith(y, -2, -67, 0.0f, 20);
  EXPECT_EQ(head(r.fitted, n), expected);
  EXPECT_EQ(r.screen, "");

  // A curve that rises over its whole length is flattened from position 1:
  // the second spline of a constant is that constant.
  std::vector<float> up(50);
  for (int i = 0; i < 50; ++i) up[i] = 0.5f + 0.02f * static_cast<float>(i * i) / 50.0f;
  std::vector<int32_t> s50(50);
  for (int i = 0; i < 50; ++i) s50[i] = 20 + i;
  ASSERT_EQ(spline2(up, first, s50), SplineStatus::ok);
  r = smoothWith(up, -2, -67, 0.0f, 20);
  for (int i = 0; i < 50; ++i) EXPECT_NEAR(r.fitted[i], first[0], 1e-6f) << i;

  // A falling curve keeps the first spline.
  const auto falling = rings(80, 3);
  std::vector<int32_t> s80(80);
  for (int i = 0; i < 80; ++i) s80[i] = 75 + i;
  std::vector<float> c80(80);
  ASSERT_EQ(spline2(falling, c80, s80), SplineStatus::ok);
  ASSERT_LE(c80[79], c80[78]);
  EXPECT_EQ(head(smoothWith(falling, -2, -67, 0.0f, 75).fitted, 80), c80);

  // A starting stiffness below 1 year would give p not a number: 75 years.
  r = smoothWith(falling, -2, -67, 0.0f, 0);
  EXPECT_EQ(head(r.fitted, 80), head(smoothWith(falling, -2, -67, 0.0f, 75).fitted, 80));
  EXPECT_EQ(r.screen, ">> sbr detrend2: starting stiffness 0 is below 1 year; 75 years used\n");
  expectAllFinite(r.fitted, 80);
}

TEST(DetrendSmoothing, DifferenceIndex) {
  const auto y = rings(100);
  const Smoothed r = smoothWith(y, -1);
  ASSERT_EQ(r.n, 99);
  EXPECT_EQ(r.series[0], kMissingValue);
  // The spline of values 2..100 with stiffness 99 / 3 = 33 years.
  const std::vector<float> w(y.begin() + 1, y.end());
  const auto s = splineOf(w, 33);
  EXPECT_EQ(head(r.fitted, 99), s);
  // The index is the differences standardised and rescaled to the ratios'
  // mean and standard deviation, so it correlates perfectly with them.
  double rm = 0, rv = 0, im = 0, iv = 0, dm = 0;
  for (int j = 0; j < 99; ++j) {
    rm += w[j] / s[j];
    im += r.series[j + 1];
    dm += y[j + 1] - y[j];
  }
  rm /= 99; im /= 99; dm /= 99;
  double cov = 0, dv = 0;
  for (int j = 0; j < 99; ++j) {
    const double d = static_cast<double>(y[j + 1] - y[j]) - dm;
    rv += std::pow(w[j] / s[j] - rm, 2);
    iv += std::pow(r.series[j + 1] - im, 2);
    dv += d * d;
    cov += d * (r.series[j + 1] - im);
  }
  EXPECT_NEAR(im, rm, 1e-5);
  EXPECT_NEAR(std::sqrt(iv / 98), std::sqrt(rv / 98), 1e-5);
  EXPECT_NEAR(cov / std::sqrt(dv * iv), 1.0, 1e-6);

  // One value leaves an empty index; three values a two-value index against
  // the mean line; a constant series an index of ones.
  Smoothed one = smoothWith({2.5f}, -1);
  EXPECT_EQ(one.n, 0);
  EXPECT_EQ(one.series[0], kMissingValue);
  Smoothed three = smoothWith({1.0f, 2.0f, 4.0f}, -1);
  EXPECT_EQ(three.n, 2);
  EXPECT_EQ(head(three.fitted, 2), std::vector<float>(2, 3.0f));
  expectAllFinite(std::vector<float>(three.series.begin() + 1, three.series.end()), 2);
  Smoothed flat = smoothWith(std::vector<float>(30, 1.5f), -1);
  EXPECT_EQ(flat.n, 29);
  EXPECT_EQ(std::vector<float>(flat.series.begin() + 1, flat.series.end()),
            std::vector<float>(29, 1.0f));
}

TEST(DetrendSmoothing, EveryCodeGivesAFiniteCurveThroughDetrend2) {
  // Through the dispatcher itself: the parameters stay cleared, the code is
  // unchanged, and every curve is finite for short and long series.
  for (int n : {1, 2, 3, 4, 5, 12, 39, 40, 300}) {
    for (int32_t code : {-5, -4, -3, -2, -1, 0, 9, -6, -7, -8, -9, -10, -67, -100, 10, 30, 300}) {
      std::vector<float> series = rings(n, 77), fitted(n, 0.0f);
      CurveParams params;
      params.fill(5.0f);
      int32_t nn = n, option = code, span = -67, startStiffness = 20;
      float fitParam = code == -3 ? 5.0f : 7.0f;
      detrend2(series, fitted, n, nn, params, option, 2000, span, fitParam, startStiffness);
      EXPECT_EQ(option, code);
      EXPECT_EQ(params, CurveParams{});
      for (int i = 0; i < nn; ++i) {
        ASSERT_TRUE(std::isfinite(fitted[i])) << n << " " << code << " " << i;
        ASSERT_GT(std::fabs(fitted[i]), 0.0f) << n << " " << code << " " << i;
      }
    }
  }
}

}  // namespace
}  // namespace kavrel
