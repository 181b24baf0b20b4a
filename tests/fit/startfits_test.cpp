// Log-linear starting fits: Hugershoff (hughdi) and general exponential (gexp).
#include "fit/startfits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "util/fatal.h"

namespace kavrel {
namespace {

std::vector<float> positions(int32_t n) {
  std::vector<float> t(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) t[static_cast<size_t>(i)] = static_cast<float>(i + 1);
  return t;
}

std::vector<float> hugershoff(int32_t n, double a, double c, double b) {
  std::vector<float> y(static_cast<size_t>(n));
  for (int32_t t = 1; t <= n; ++t)
    y[static_cast<size_t>(t - 1)] = static_cast<float>(a * std::pow(t, c) * std::exp(b * t));
  return y;
}

TEST(Hughdi, ExactModelData) {
  const std::vector<float> t = positions(100);
  const std::vector<float> y = hugershoff(100, 2.0, 0.5, -0.03);
  std::vector<float> fitted(100);
  CurveParams p{};
  hughdi(t, y, 100, 100, fitted, p, 0.0f);
  EXPECT_NEAR(p[0], 2.0f, 1.0e-4f);
  EXPECT_NEAR(p[1], 0.5f, 1.0e-5f);
  EXPECT_NEAR(p[2], -0.03f, 1.0e-6f);
  for (int i = 0; i < 100; i += 13)
    EXPECT_NEAR(fitted[static_cast<size_t>(i)], y[static_cast<size_t>(i)], 2.0e-5f);
}

TEST(Hughdi, ZeroAndNegativeValuesAndSumCorrection) {
  const std::vector<float> t = positions(100);
  std::vector<float> y = hugershoff(100, 2.0, 0.5, -0.03);
  y[9] = 0.0f;    // equal to the missing marker: out of both the log fit and the sums
  y[19] = -1.0f;  // negative: out of the log fit, counted in the sum correction
  std::vector<float> fitted(100);
  CurveParams p{};
  hughdi(t, y, 100, 100, fitted, p, 0.0f);
  // The log fit still sees exact model values, so before the correction
  // a = 2; the correction is g = sum(y) / sum(f) over positions != 0.
  double sumY = 0.0;
  double sumF = 0.0;
  for (int i = 0; i < 100; ++i) {
    if (i == 9) continue;
    sumY += y[static_cast<size_t>(i)];
    sumF += 2.0 * std::sqrt(i + 1.0) * std::exp(-0.03 * (i + 1));
  }
  const double g = sumY / sumF;
  EXPECT_LT(g, 1.0);
  EXPECT_NEAR(p[0], 2.0 * g, 2.0e-4);
  EXPECT_NEAR(p[1], 0.5f, 1.0e-5f);
  EXPECT_NEAR(p[2], -0.03f, 1.0e-6f);
  EXPECT_NEAR(fitted[49], 2.0 * g * std::sqrt(50.0) * std::exp(-1.5), 2.0e-4);
}

TEST(Hughdi, TooFewUsableValuesLeaveZeroStart) {
  const std::vector<float> t = positions(5);
  const std::vector<float> y{0.0f, 1.2f, -0.5f, 0.0f, 0.9f};  // two usable values
  std::vector<float> fitted(5, 3.0f);
  CurveParams p;
  p.fill(6.0f);
  FitNotes notes;
  hughdi(t, y, 5, 5, fitted, p, 0.0f, &notes);
  EXPECT_NE(notesText(notes).find(">> sbr hughdi:"), std::string::npos);
  EXPECT_EQ(p[0], 0.0f);
  EXPECT_EQ(p[1], 0.0f);
  EXPECT_EQ(p[2], 0.0f);
  for (float v : fitted) EXPECT_EQ(v, 0.0f);
}

TEST(Gexp, ExactModelDataAndSkippedFirstValue) {
  const int32_t n = 150;
  std::vector<float> y(n);
  for (int t = 1; t <= n; ++t)
    y[static_cast<size_t>(t - 1)] = static_cast<float>(3.0 * t * std::exp(-0.02 * t));
  std::vector<float> fitted(n);
  std::vector<float> xw(n, -1.0f);
  std::vector<float> zw(n, -1.0f);
  CurveParams p{};
  gexp(y, n, n, fitted, xw, zw, p, 0.0f);
  EXPECT_NEAR(p[0], 3.0f, 2.0e-4f);
  EXPECT_NEAR(p[1], 0.02f, 1.0e-6f);
  EXPECT_NEAR(fitted[99], 3.0 * 100 * std::exp(-2.0), 1.0e-3);

  // A zero first value: positions 2..n keep their own position numbers.
  y[0] = 0.0f;
  gexp(y, n, n, fitted, xw, zw, p, 0.0f);
  EXPECT_EQ(xw[0], 2.0f);
  EXPECT_FLOAT_EQ(zw[0], std::log(y[1]) - std::log(2.0f));
  EXPECT_NEAR(p[0], 3.0f, 2.0e-4f);
  EXPECT_NEAR(p[1], 0.02f, 1.0e-6f);
}

TEST(Gexp, ConstantRatioHasZeroSlope) {
  // y = 1.7 t: ln(y/t) is constant; the correlation is undefined but the
  // slope is 0 and a = 1.7.
  std::vector<float> y(30);
  for (int t = 1; t <= 30; ++t) y[static_cast<size_t>(t - 1)] = 1.7f * static_cast<float>(t);
  std::vector<float> fitted(30);
  std::vector<float> xw(30);
  std::vector<float> zw(30);
  CurveParams p{};
  gexp(y, 30, 30, fitted, xw, zw, p, 0.0f);
  EXPECT_NEAR(p[0], 1.7f, 1.0e-5f);
  EXPECT_NEAR(p[1], 0.0f, 1.0e-6f);
  for (float v : fitted) EXPECT_TRUE(std::isfinite(v));
}

TEST(Gexp, DegenerateInput) {
  std::vector<float> fitted(4, 2.0f);
  std::vector<float> xw(4);
  std::vector<float> zw(4);
  CurveParams p{};
  // One usable value: no slope, zero start with a console line.
  const std::vector<float> one{0.0f, -1.0f, 2.5f, 0.0f};
  FitNotes oneNotes;
  gexp(one, 4, 4, fitted, xw, zw, p, 0.0f, &oneNotes);
  EXPECT_NE(notesText(oneNotes).find(">> sbr gexp:"), std::string::npos);
  EXPECT_EQ(p[0], 0.0f);
  EXPECT_EQ(p[1], 0.0f);
  for (float v : fitted) EXPECT_EQ(v, 0.0f);

  // No usable value and n < 1 are fatal, with a pause.
  const std::vector<float> none{0.0f, -1.0f, 0.0f, -3.0f};
  try {
    gexp(none, 4, 4, fitted, xw, zw, p, 0.0f);
    ADD_FAILURE() << "no usable value must be fatal";
  } catch (const FitFailure& e) {
    EXPECT_STREQ(e.what(), "*** n1 .le. 0 in sbr gexp ***\n");  // empty line after it
    EXPECT_TRUE(e.pause());
  }
  try {
    gexp(none, 0, 0, fitted, xw, zw, p, 0.0f);
    ADD_FAILURE() << "n = 0 must be fatal";
  } catch (const FitFailure& e) {
    EXPECT_STREQ(e.what(), "*** n .le. 0 in sbr gexp ***\n");
    EXPECT_TRUE(e.pause());
  }
}

}  // namespace
}  // namespace kavrel
