// Smoothing splines: known answers from the 50 % response rule, exact
// reproduction of straight lines, a dense re-solve of the same system, and the
// failure markers and messages.
#include "fit/spline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/testdata.h"
#include "util/fatal.h"

namespace kavrel {
namespace {

constexpr double kTwoPi = 6.283185307179586;

// Curve y - Q u with (Q'Q + diag(p) R) u = Q'y built and solved densely: the
// matrix from its definition (Q the second-difference matrix, R tridiagonal
// 4/3, 1/3), Gaussian elimination with partial pivoting in long double.
std::vector<double> denseSpline(const std::vector<float>& y, const std::vector<double>& p) {
  const size_t n = y.size(), m = n - 2;
  std::vector<std::vector<long double>> q(n, std::vector<long double>(m, 0.0L));
  for (size_t i = 0; i < m; ++i) {
    q[i][i] = 1.0L;
    q[i + 1][i] = -2.0L;
    q[i + 2][i] = 1.0L;
  }
  std::vector<std::vector<long double>> a(m, std::vector<long double>(m + 1, 0.0L));
  for (size_t i = 0; i < m; ++i) {
    for (size_t j = 0; j < m; ++j) {
      long double s = 0.0L;
      for (size_t k = 0; k < n; ++k) s += q[k][i] * q[k][j];
      a[i][j] = s;
    }
  }
  // Row-wise p: row i carries p_i on its diagonal and left of it; the element
  // right of the diagonal belongs to row i + 1 (symmetric lower band).
  for (size_t i = 0; i < m; ++i) {
    a[i][i] += p[i] * 4.0L / 3.0L;
    if (i > 0) {
      a[i][i - 1] += p[i] / 3.0L;
      a[i - 1][i] += p[i] / 3.0L;
    }
  }
  for (size_t i = 0; i < m; ++i) {
    long double s = 0.0L;
    for (size_t k = 0; k < n; ++k) s += q[k][i] * y[k];
    a[i][m] = s;
  }
  for (size_t c = 0; c < m; ++c) {
    size_t piv = c;
    for (size_t r = c + 1; r < m; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[piv][c])) piv = r;
    std::swap(a[c], a[piv]);
    for (size_t r = c + 1; r < m; ++r) {
      const long double f = a[r][c] / a[c][c];
      for (size_t k = c; k <= m; ++k) a[r][k] -= f * a[c][k];
    }
  }
  std::vector<long double> u(m);
  for (size_t c = m; c-- > 0;) {
    long double s = a[c][m];
    for (size_t k = c + 1; k < m; ++k) s -= a[c][k] * u[k];
    u[c] = s / a[c][c];
  }
  std::vector<double> curve(n);
  for (size_t k = 0; k < n; ++k) {
    long double v = 0.0L;
    for (size_t i = 0; i < m; ++i) v += q[k][i] * u[i];
    curve[k] = static_cast<double>(y[k] - v);
  }
  return curve;
}

std::vector<float> randomSeries(size_t n, uint64_t seed) {
  std::mt19937_64 gen{seed};
  std::uniform_real_distribution<float> d(0.2f, 3.7f);
  std::vector<float> y(n);
  for (auto& v : y) v = d(gen);
  return y;
}

// Amplitude of the sine component of period T over [from, to): the window
// spans whole periods, so the projection is exact for a pure sinusoid.
double sineAmplitude(const std::vector<float>& v, int from, int to, int period) {
  double s = 0.0;
  for (int i = from; i < to; ++i) s += v[i] * std::sin(kTwoPi * i / period);
  return 2.0 * s / (to - from);
}

TEST(Spline, ResponseRule) {
  EXPECT_EQ(splineResponseParameter(1), 0.0);
  EXPECT_NEAR(splineResponseParameter(2), 24.0, 1e-12);
  // T = 4: cos w = 0, p = 6 / 2 = 3. T = 6: cos w = 1/2, p = 6 * 0.25 / 2.5 = 0.6.
  EXPECT_NEAR(splineResponseParameter(4), 3.0, 1e-12);
  EXPECT_NEAR(splineResponseParameter(6), 0.6, 1e-12);
  // The transfer function equals one half at the period T.
  for (int t : {3, 10, 67, 300}) {
    const double c = std::cos(kTwoPi / t), p = splineResponseParameter(t);
    const double g = p * (2.0 / 3.0) * (2.0 + c);
    EXPECT_NEAR(g / ((2.0 * c - 2.0) * (2.0 * c - 2.0) + g), 0.5, 1e-12) << t;
  }
  float sp = -1.0f;
  std::vector<float> y = randomSeries(12, 7), curve(12);
  ASSERT_EQ(spline(y, curve, sp, 4), SplineStatus::ok);
  EXPECT_EQ(sp, 3.0f);
}

TEST(Spline, StraightLinesAreReproduced) {
  for (size_t n : {4u, 5u, 37u, 5000u}) {
    std::vector<float> y(n), curve(n, 0.0f);
    // Dyadic values: the line is exact in single precision, so its second
    // differences are exactly zero.
    for (size_t i = 0; i < n; ++i) y[i] = 2.375f - 0.03125f * static_cast<float>(i);
    float sp = 0.0f;
    ASSERT_EQ(spline(y, curve, sp, 25), SplineStatus::ok);
    EXPECT_EQ(curve, y) << n;
    std::vector<int32_t> t(n);
    lsmake(static_cast<int32_t>(n), 10, t);
    std::fill(curve.begin(), curve.end(), 0.0f);
    ASSERT_EQ(spline2(y, curve, t), SplineStatus::ok);
    EXPECT_EQ(curve, y) << n;
  }
}

TEST(Spline, MatchesDenseSolve) {
  for (size_t n : {4u, 5u, 9u, 23u}) {
    std::vector<float> y = randomSeries(n, 100 + n), curve(n);
    for (int32_t t : {1, 2, 5, 30}) {
      float sp = 0.0f;
      ASSERT_EQ(spline(y, curve, sp, t), SplineStatus::ok);
      const auto ref = denseSpline(y, std::vector<double>(n - 2, splineResponseParameter(t)));
      for (size_t i = 0; i < n; ++i) EXPECT_NEAR(curve[i], ref[i], 2e-6 * 4) << n << " " << t;
    }
    // Age-dependent stiffness: every row its own p.
    std::vector<int32_t> t(n);
    lsmake(static_cast<int32_t>(n), 3, t);
    ASSERT_EQ(spline2(y, curve, t), SplineStatus::ok);
    std::vector<double> p(n - 2);
    for (size_t i = 0; i < n - 2; ++i) p[i] = splineResponseParameter(t[i]);
    const auto ref = denseSpline(y, p);
    for (size_t i = 0; i < n; ++i) EXPECT_NEAR(curve[i], ref[i], 8e-6) << n;
  }
}

TEST(Spline, RealSeriesMatchesDenseSolve) {
  REQUIRE_SHARED_DATA(path, "itrdb/ca533.rwl");
  std::vector<float> y = test::firstSeries(path);
  ASSERT_EQ(y.size(), 454u);  // CAM011, 1530-1983
  y.resize(160);
  std::vector<float> curve(y.size());
  for (int32_t t : {32, 107}) {
    float sp = 0.0f;
    ASSERT_EQ(spline(y, curve, sp, t), SplineStatus::ok);
    const auto ref = denseSpline(y, std::vector<double>(y.size() - 2, splineResponseParameter(t)));
    for (size_t i = 0; i < y.size(); ++i) EXPECT_NEAR(curve[i], ref[i], 2e-7 * std::fabs(ref[i])) << t << " " << i;
  }
  std::vector<int32_t> t(y.size());
  lsmake(static_cast<int32_t>(y.size()), 20, t);
  ASSERT_EQ(spline2(y, curve, t), SplineStatus::ok);
  std::vector<double> p(y.size() - 2);
  for (size_t i = 0; i < p.size(); ++i) p[i] = splineResponseParameter(t[i]);
  const auto ref = denseSpline(y, p);
  for (size_t i = 0; i < y.size(); ++i) EXPECT_NEAR(curve[i], ref[i], 2e-7 * std::fabs(ref[i])) << i;
}

TEST(Spline, StiffnessOneGivesTheLeastSquaresLine) {
  // p = 0 makes the correction the projection onto second differences, so the
  // curve is the least-squares straight line of the series.
  std::vector<float> y = randomSeries(41, 5), curve(41);
  float sp = 7.0f;
  ASSERT_EQ(spline(y, curve, sp, 1), SplineStatus::ok);
  EXPECT_EQ(sp, 0.0f);
  double st = 0, sy = 0, stt = 0, sty = 0;
  const double n = 41;
  for (int i = 0; i < 41; ++i) {
    st += i; sy += y[i]; stt += double(i) * i; sty += double(i) * y[i];
  }
  const double b = (n * sty - st * sy) / (n * stt - st * st), a = (sy - b * st) / n;
  for (int i = 0; i < 41; ++i) EXPECT_NEAR(curve[i], a + b * i, 1e-5);
}

TEST(Spline, KeepsHalfTheAmplitudeAtItsStiffness) {
  const int n = 3000, period = 60;
  std::vector<float> y(n), curve(n), curve2(n);
  for (int i = 0; i < n; ++i) y[i] = 5.0f + static_cast<float>(std::sin(kTwoPi * i / period));
  float sp = 0.0f;
  ASSERT_EQ(spline(y, curve, sp, period), SplineStatus::ok);
  EXPECT_NEAR(sineAmplitude(curve, 600, 2400, period), 0.5, 1e-4);
  // Other stiffnesses pass the transfer function's share of the period-60
  // wave: more with a more flexible spline, less with a stiffer one.
  for (int stiff : {20, 30, 120}) {
    std::vector<float> c2(n);
    ASSERT_EQ(spline(y, c2, sp, stiff), SplineStatus::ok);
    const double c = std::cos(kTwoPi / period), g = splineResponseParameter(stiff) * (2.0 / 3.0) * (2.0 + c);
    EXPECT_NEAR(sineAmplitude(c2, 600, 2400, period), g / ((2 * c - 2) * (2 * c - 2) + g), 1e-4);
  }
  std::vector<int32_t> t(n, period);
  ASSERT_EQ(spline2(y, curve2, t), SplineStatus::ok);
  EXPECT_EQ(curve2, curve);
  // Residuals are orthogonal to straight lines: the mean and the linear trend
  // of the series are kept.
  double dy = 0, dty = 0;
  for (int i = 0; i < n; ++i) {
    dy += static_cast<double>(y[i]) - curve[i];
    dty += i * (static_cast<double>(y[i]) - curve[i]);
  }
  EXPECT_NEAR(dy / n, 0.0, 1e-5);
  EXPECT_NEAR(dty / (double(n) * n), 0.0, 1e-5);
}

TEST(Spline, ShortLongAndInvalidInput) {
  std::vector<float> y = {1.5f, 2.25f, 0.75f}, curve = {4.0f, 5.0f, 6.0f};
  float sp = 3.5f;
  EXPECT_EQ(spline(y, curve, sp, 20), SplineStatus::tooShort);
  EXPECT_EQ(curve, (std::vector<float>{kSplineTooShort, 5.0f, 6.0f}));
  EXPECT_EQ(sp, 3.5f);
  curve = {4.0f, 5.0f, 6.0f};
  const std::vector<int32_t> t = {20, 21, 22};
  EXPECT_EQ(spline2(y, curve, t), SplineStatus::tooShort);
  EXPECT_EQ(curve, (std::vector<float>{kSplineTooShort, 5.0f, 6.0f}));

  std::vector<float> longY(5001, 1.0f), longCurve(5001);
  try {
    (void)spline(longY, longCurve, sp, 20);
    ADD_FAILURE() << "no Fatal";
  } catch (const FitFailure& e) {
    EXPECT_EQ(std::string(e.what()),
              "\n*** series too long for spline subroutine ***\n"
              "*** enlarge mxy parameter in subroutine ***\n");
  }
  std::vector<int32_t> longT(5001, 20);
  EXPECT_THROW((void)spline2(longY, longCurve, longT), FitFailure);

  // A stiffness below one year would make p not a number: refused.
  y = randomSeries(10, 3);
  curve.assign(10, 1.25f);
  FitNotes notes;
  SplineWorkspace noted(10);
  noted.notes = &notes;
  EXPECT_EQ(spline(y, curve, sp, 0, noted), SplineStatus::badStiffness);
  std::vector<int32_t> t2(10, 5);
  t2[4] = -3;
  EXPECT_EQ(spline2(y, curve, t2, noted), SplineStatus::badStiffness);
  EXPECT_EQ(notesText(notes),
            ">> sbr spline: stiffness 0 is below 1 year; no spline fitted\n"
            ">> sbr spline: stiffness -3 is below 1 year; no spline fitted\n");
  EXPECT_EQ(curve[0], kSplineFailed);
  EXPECT_EQ(curve[1], 1.25f);
  EXPECT_EQ(sp, 3.5f);

  // A system that is not positive definite (a negative p) is rejected.
  SplineWorkspace ws(100);
  FitNotes pivotNotes;
  ws.notes = &pivotNotes;
  curve.assign(10, 1.25f);
  EXPECT_EQ(detail::splineWithParameters(y, curve, std::vector<double>(8, -10.0), ws),
            SplineStatus::notPositiveDefinite);
  EXPECT_EQ(notesText(pivotNotes),
            ">> sbr spline: matrix not positive definite\n");
  EXPECT_EQ(curve[0], kSplineFailed);
  EXPECT_EQ(curve[9], 1.25f);
  // A workspace's own capacity is the limit.
  std::vector<float> y101(101, 1.0f), c101(101);
  EXPECT_THROW((void)spline(y101, c101, sp, 20, ws), FitFailure);
}

TEST(Spline, Lsmake) {
  std::vector<int32_t> t(3, 0);
  lsmake(3, 75, t);
  EXPECT_EQ(t, (std::vector<int32_t>{75, 76, 77}));
  // A starting stiffness near the integer limit is held there, not wrapped.
  lsmake(3, INT32_MAX - 1, t);
  EXPECT_EQ(t, (std::vector<int32_t>{INT32_MAX - 1, INT32_MAX, INT32_MAX}));
}

}  // namespace
}  // namespace kavrel
