// Negative exponential rate search and least-squares line.
#include "fit/curve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace kavrel {
namespace {

std::vector<float> negExp(int32_t n, double a, double b, double k) {
  std::vector<float> y(static_cast<size_t>(n));
  for (int32_t t = 1; t <= n; ++t)
    y[static_cast<size_t>(t - 1)] = static_cast<float>(a * std::exp(-b * t) + k);
  return y;
}

TEST(Curve, ExactExponentialEndsInPassSixteen) {
  const std::vector<float> y = negExp(200, 2.0, 0.01, 0.5);
  std::vector<float> fitted(200, 0.0f);
  CurveParams p;
  p.fill(7.5f);
  curve(200, 200, y, fitted, p);
  EXPECT_NEAR(p[1], 0.01, 1.0e-7);
  EXPECT_NEAR(p[0], 2.0, 5.0e-4);
  EXPECT_NEAR(p[4], 0.5, 5.0e-4);
  EXPECT_EQ(p[5], 16.0f);
  double sum = 0.0;
  for (float v : y) sum += v;
  EXPECT_NEAR(p[6], sum, 1.0e-3);
  // Elements 3 and 4 are the caller's.
  EXPECT_EQ(p[2], 7.5f);
  EXPECT_EQ(p[3], 7.5f);
  // a and k come from the last trial rate, one final step away from b, so the
  // curve matches the data to a few 1e-4 only.
  for (int t = 1; t <= 200; t += 33) {
    EXPECT_NEAR(fitted[static_cast<size_t>(t - 1)], y[static_cast<size_t>(t - 1)], 3.0e-4);
  }
}

TEST(Curve, LengthLimitAndFailureValues) {
  const std::vector<float> y19 = negExp(19, 1.3, 0.05, 0.2);
  std::vector<float> fitted(19, 4.25f);
  CurveParams p{};
  FitNotes notes;
  curve(19, 19, y19, fitted, p, &notes);
  EXPECT_EQ(notesText(notes),
            ">> sbr curve: only      19 values, no exponential curve fit\n");
  EXPECT_EQ(p[1], -999.0f);
  EXPECT_EQ(fitted[0], -999.0f);
  EXPECT_EQ(fitted[1], 4.25f);  // nothing else written
  EXPECT_EQ(p[0], 0.0f);

  const std::vector<float> y20 = negExp(20, 1.3, 0.05, 0.2);
  std::vector<float> fitted20(20);
  CurveParams q{};
  curve(20, 20, y20, fitted20, q);
  EXPECT_GT(q[1], 0.0f);
  EXPECT_NEAR(q[1], 0.05, 1.0e-4);

  // A non-positive mean of the last ten values has no logarithm: failure.
  std::vector<float> lastZero = negExp(40, 1.3, 0.05, 0.2);
  for (int i = 30; i < 40; ++i) lastZero[static_cast<size_t>(i)] = 0.0f;
  std::vector<float> fz(40, 1.0f);
  CurveParams r{};
  FitNotes zeroNotes;
  curve(40, 40, lastZero, fz, r, &zeroNotes);
  EXPECT_NE(notesText(zeroNotes).find(">> sbr curve:"), std::string::npos);
  EXPECT_EQ(r[1], -999.0f);
  EXPECT_EQ(fz[0], -999.0f);
}

TEST(Curve, SteepDeclineHitsTheExponentLimitSilently) {
  // The rate search doubles its step towards b = 3; with 20 values some trial
  // rate makes 20*b exceed 112.8 and the fit fails without a message.
  const std::vector<float> y = negExp(20, 5.0, 3.0, 1.0);
  std::vector<float> fitted(20, 2.5f);
  CurveParams p{};
  FitNotes notes;
  curve(20, 20, y, fitted, p, &notes);
  EXPECT_EQ(notesText(notes), "");
  EXPECT_EQ(p[1], -999.0f);
  EXPECT_EQ(fitted[0], -999.0f);
  EXPECT_EQ(fitted[1], 2.5f);
}

TEST(Curve, RisingSeriesIsRejected) {
  // The last ten values exceed the first ten: the search starts at 1e-8 and the
  // converged rate is 0 (flat curve a + k), or the fit fails outright.
  std::vector<float> y(80);
  for (int t = 1; t <= 80; ++t)
    y[static_cast<size_t>(t - 1)] = static_cast<float>(0.6 + 0.012 * t + 0.1 * std::sin(0.7 * t));
  std::vector<float> fitted(80);
  CurveParams p{};
  curve(80, 80, y, fitted, p);
  EXPECT_LE(p[1], 0.0f);
  if (p[1] == 0.0f) {
    for (float v : fitted) EXPECT_EQ(v, fitted[0]);  // flat
  }
}

TEST(Curve, ShortCurveAndMoreCurvePointsThanValues) {
  // nCurve counts the points written; with nCurve > n the model continues.
  const std::vector<float> y = negExp(60, 3.1, 0.03, 0.8);
  std::vector<float> fitted(70, -5.0f);
  CurveParams p{};
  curve(70, 60, y, fitted, p);
  EXPECT_NEAR(fitted[69], 3.1 * std::exp(-0.03 * 70) + 0.8, 2.0e-4);
}

TEST(Trend, LeastSquaresLine) {
  std::vector<float> y(25);
  for (int t = 1; t <= 25; ++t) y[static_cast<size_t>(t - 1)] = 3.0f + 0.5f * static_cast<float>(t);
  std::vector<float> fitted(25, 0.0f);
  float slope = 0.0f;
  float intercept = 0.0f;
  trend(25, 25, y, fitted, slope, intercept);
  EXPECT_NEAR(slope, 0.5f, 1.0e-6f);
  EXPECT_NEAR(intercept, 3.0f, 1.0e-5f);
  EXPECT_NEAR(fitted[24], 15.5f, 1.0e-5f);

  // Hand-worked: (1, 2.385), (2, 1.0), (3, 2.0): mean x 2, mean y 1.795,
  // Sxy = (-1)(0.59) + 0 + (1)(0.205) = -0.385, Sxx = 2.
  const std::vector<float> three{2.385f, 1.0f, 2.0f};
  std::vector<float> untouched(3, 9.0f);
  trend(0, 3, three, untouched, slope, intercept);
  EXPECT_NEAR(slope, -0.1925f, 1.0e-6f);
  EXPECT_NEAR(intercept, 1.795f + 0.385f, 1.0e-6f);
  for (float v : untouched) EXPECT_EQ(v, 9.0f);

  // One value has no slope: a horizontal line through it, with a console line.
  const std::vector<float> one{1.75f};
  std::vector<float> f1(4, 0.0f);
  FitNotes notes;
  trend(4, 1, one, f1, slope, intercept, &notes);
  EXPECT_NE(notesText(notes).find(">> sbr trend:"), std::string::npos);
  EXPECT_EQ(slope, 0.0f);
  EXPECT_EQ(intercept, 1.75f);
  for (float v : f1) EXPECT_EQ(v, 1.75f);
}

}  // namespace
}  // namespace kavrel
