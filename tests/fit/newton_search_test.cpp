// Newton search of the growth-curve refinement: the run-mean stand-in, the
// exact derivatives of the variable-projection objective against finite
// differences, and the constrained step.
#include "fit/newton_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "fit/refine_regressor.h"

namespace kavrel::refine {
namespace {

// A noisy declining ring-width-like series on positions 1..n.
struct Series {
  std::vector<float> t;
  std::vector<float> y;
};
Series noisySeries(int32_t n) {
  Series s;
  std::mt19937_64 gen{123456};
  std::normal_distribution<double> noise(0.0, 0.15);
  for (int32_t i = 1; i <= n; ++i) {
    const double u = i + 7.5;
    s.t.push_back(static_cast<float>(i));
    s.y.push_back(static_cast<float>((2.385 * std::pow(u, 1.3) * std::exp(-0.045 * u) + 0.4) *
                                     std::exp(noise(gen))));
  }
  return s;
}

TEST(AmoebaNewton, RunsStandInForTheData) {
  const Series s = noisySeries(300);
  const SimplexProblem problem{kModelNegExp, kObjectiveCapacity, 300, s.t, s.y};
  const FitData data(problem);
  const FitData runs = FitData::runs(data, 8);
  // One value per run at both ends, longer runs in the middle.
  ASSERT_LT(runs.size(), data.size() / 2);
  EXPECT_EQ(runs.t(0), 1.0);
  EXPECT_EQ(runs.t(runs.size() - 1), 300.0);
  EXPECT_EQ(runs.weightSum(), 300.0);
  EXPECT_NEAR(runs.meanY(), data.meanY(), 1e-12);
  EXPECT_NEAR(runs.sumSquaresY(), data.sumSquaresY(), 1e-9 * data.sumSquaresY());

  // A straight line through the runs' means and slopes is fitted exactly as
  // through the data.
  std::vector<double> g(data.size());
  for (size_t i = 0; i < g.size(); ++i) g[i] = 3.0 * data.t(i) - 40.0;
  std::vector<double> gr(runs.size());
  std::vector<double> hr(runs.size(), 3.0);
  for (size_t i = 0; i < gr.size(); ++i) gr[i] = 3.0 * runs.t(i) - 40.0;
  double a = 0.0, k = 0.0, meanG = 0.0, ar = 0.0, kr = 0.0, meanGr = 0.0;
  const double rss = solveLinear(data, g, {}, a, k, meanG);
  const double rssRuns = solveLinear(runs, gr, hr, ar, kr, meanGr);
  EXPECT_NEAR(rssRuns, rss, 1e-9 * rss);
  EXPECT_NEAR(ar, a, 1e-12);
  EXPECT_NEAR(kr, k, 1e-10);

  // A curve that bends within the runs: its residual sum of squares on the
  // runs stays within 0.1 % of the data's.
  const Coordinates coords(kModelHugershoff, 150.5);
  ModelState onData(data, kModelHugershoff);
  ModelState onRuns(runs, kModelHugershoff);
  onData.theta = onRuns.theta = coords.search(-0.045, std::log1p(7.5), 1.3);
  int32_t evaluations = 0;
  evaluate(data, coords, onData, evaluations);
  evaluate(runs, coords, onRuns, evaluations);
  EXPECT_NEAR(onRuns.rss, onData.rss, 1e-3 * onData.rss);
  EXPECT_EQ(evaluations, 2);
}

// Half the objective at search point x.
double halfObjective(const FitData& data, const Coordinates& coords, int32_t selector, ThetaVec x) {
  ModelState state(data, selector);
  state.theta = x;
  int32_t evaluations = 0;
  evaluate(data, coords, state, evaluations);
  return 0.5 * state.rss;
}

TEST(AmoebaNewton, DerivativesMatchFiniteDifferences) {
  const Series s = noisySeries(160);
  const SimplexProblem problem{kModelHugershoff, kObjectiveCapacity, 160, s.t, s.y};
  const FitData data(problem);
  const FitData runs = FitData::runs(data, 8);
  const struct {
    int32_t selector;
    double b, s, c;  // natural parameters
  } cases[] = {
      {kModelNegExp, -0.021, 0.0, 0.0},       {kModelGenExp, -0.037, 4.2, 1.0},
      {kModelGenExp, 0.0031, 620.0, 1.0},     {kModelHugershoff, -0.045, 7.5, 1.3},
      {kModelHugershoff, 0.012, 310.0, -6.5},
  };
  for (const auto& c : cases) {
    for (const FitData* d : {&data, &runs}) {
      SCOPED_TRACE(testing::Message() << "selector " << c.selector << ", runs " << d->hasSlopes()
                                      << ", b " << c.b << ", s " << c.s);
      const Coordinates coords(c.selector, 80.5);
      const ThetaVec x = coords.search(c.b, std::log1p(c.s), c.c);
      const ThetaVec back = coords.natural(x);
      EXPECT_NEAR(back[kRate], c.b, 1e-15);
      EXPECT_NEAR(back[kExponent], c.selector == kModelNegExp ? 0.0 : c.c, 1e-12);
      ModelState state(*d, c.selector);
      state.theta = x;
      int32_t evaluations = 0;
      evaluate(*d, coords, state, evaluations);
      ASSERT_TRUE(std::isfinite(state.rss));
      const size_t count = thetaCount(c.selector);
      const Curvature cv = inSearchCoordinates(curvature(*d, state, count), coords, state, count);
      // Steps of a relative size 1e-4 of each coordinate's natural scale.
      ThetaVec h{};
      for (size_t j = 0; j < count; ++j) h[j] = 1e-4 * std::max(std::fabs(x[j]), 1e-3);
      auto f = [&](size_t j, double dj, size_t m, double dm) {
        ThetaVec y = x;
        y[j] += dj;
        y[m] += dm;
        return halfObjective(*d, coords, c.selector, y);
      };
      const double f0 = 0.5 * state.rss;
      for (size_t j = 0; j < count; ++j) {
        const double slope = (f(j, h[j], j, 0.0) - f(j, -h[j], j, 0.0)) / (2.0 * h[j]);
        // Finite differences agree to about 3e-6 (gradient) and 7e-6 (Hessian).
        const double gradError =
            std::fabs(-cv.aq[j] - slope) / (std::fabs(slope) + 1e-12 * f0 / h[j]);
        EXPECT_LT(gradError, 1e-5) << "j " << j;
        for (size_t m = 0; m <= j; ++m) {
          const double second =
              m == j ? (f(j, h[j], j, 0.0) - 2.0 * f0 + f(j, -h[j], j, 0.0)) / (h[j] * h[j])
                     : (f(j, h[j], m, h[m]) - f(j, h[j], m, -h[m]) - f(j, -h[j], m, h[m]) +
                        f(j, -h[j], m, -h[m])) /
                           (4.0 * h[j] * h[m]);
          const double error =
              std::fabs(cv.hess[j][m] - second) / (std::fabs(second) + 1e-9 * f0 / (h[j] * h[m]));
          EXPECT_LT(error, 1e-4) << "j " << j << ", m " << m;
        }
      }
    }
  }
}

TEST(AmoebaNewton, ConstrainedStepIsTheModelsOptimumOnTheConstraints) {
  // A model with an indefinite Hessian: no free step exists, but on the plane
  // d1 = 0.25 the model is convex.
  Curvature cv;
  cv.aq = {1.3, -0.7, 2.385};
  cv.hess[0][0] = 2.0;
  cv.hess[1][0] = 0.4;
  cv.hess[1][1] = -1.5;
  cv.hess[2][0] = 0.3;
  cv.hess[2][1] = 0.2;
  cv.hess[2][2] = 3.0;
  cv.gaussNewton[0][0] = 2.5;
  cv.gaussNewton[1][1] = 0.5;
  cv.gaussNewton[2][2] = 3.5;
  ThetaVec d{};
  EXPECT_FALSE(solveStep(cv, 3, 0.0, Constraints{}, d));
  Constraints one;
  one.add({0.0, 1.0, 0.0}, 0.25);
  ASSERT_TRUE(solveStep(cv, 3, 0.0, one, d));
  EXPECT_NEAR(d[1], 0.25, 1e-14);
  // On the plane the gain's gradient, aq - H d, vanishes along d0 and d2.
  for (size_t j : {size_t{0}, size_t{2}}) {
    double r = cv.aq[j];
    for (size_t m = 0; m < 3; ++m) r -= symmetric(cv.hess, j, m) * d[m];
    EXPECT_NEAR(r, 0.0, 1e-13) << "j " << j;
  }
  // Two constraints, one of them oblique (a peak exponent held), and damping:
  // the step meets both and is stationary along what is left.
  Constraints two = one;
  two.add({0.5, 1.0, -2.0}, 0.125);
  const double lambda = 0.3;
  ASSERT_TRUE(solveStep(cv, 3, lambda, two, d));
  EXPECT_NEAR(d[1], 0.25, 1e-14);
  EXPECT_NEAR(0.5 * d[0] + d[1] - 2.0 * d[2], 0.125, 1e-14);
  const ThetaVec along{2.0, 0.0, 0.5};  // orthogonal to both rows
  double r = 0.0;
  for (size_t j = 0; j < 3; ++j) {
    double rj = cv.aq[j] - lambda * cv.gaussNewton[j][j] * d[j];
    for (size_t m = 0; m < 3; ++m) rj -= symmetric(cv.hess, j, m) * d[m];
    r += along[j] * rj;
  }
  EXPECT_NEAR(r, 0.0, 1e-13);
  // Contradicting constraints have no step.
  Constraints clash = one;
  clash.add({0.0, 2.0, 0.0}, 0.125);
  EXPECT_FALSE(solveStep(cv, 3, 1.0, clash, d));
}

TEST(AmoebaNewton, SearchSlidesAlongThePeakLimit) {
  // y = 2*(u/200)^20*exp(-0.05*(u - 200)) + 0.5 with noise, u = t, t = 1..200:
  // the curve's own amplitude, 2*200^-20*e^10, is below the float range
  // (its regressor's peak exponent is 96), so the least-squares curve lies on
  // the limit 80. The search ends there, and no point of a dense scan of the
  // limit (c from b and s) is lower.
  const int32_t n = 200;
  std::mt19937_64 gen{123456};
  std::normal_distribution<double> noise(0.0, 0.05);
  std::vector<float> t;
  std::vector<float> y;
  for (int32_t i = 1; i <= n; ++i) {
    t.push_back(static_cast<float>(i));
    y.push_back(static_cast<float>(2.0 * std::exp(20.0 * std::log(i / 200.0) - 0.05 * (i - 200.0)) +
                                   0.5 + noise(gen)));
  }
  const SimplexProblem problem{kModelHugershoff, kObjectiveCapacity, n, t, y};
  const FitData data(problem);
  const Coordinates coords(kModelHugershoff, 100.5);
  auto at = [&](double b, double s, double c) {
    ModelState state(data, kModelHugershoff);
    state.theta = coords.search(b, std::log1p(s), c);
    int32_t evaluations = 0;
    evaluate(data, coords, state, evaluations);
    return state;
  };
  ModelState cur = at(-0.05, 0.0, 10.0);
  ModelState trial(data, kModelHugershoff);
  ModelState spare(data, kModelHugershoff);
  ASSERT_TRUE(std::isfinite(cur.rss));
  int32_t evaluations = 0;
  EXPECT_TRUE(newtonSearch(data, coords, std::log1p(10.0 * n), SearchSettings{}, cur, trial, spare,
                           evaluations));
  EXPECT_GT(cur.peak.exponent, kExponentLimit - 1e-3);
  EXPECT_LE(cur.peak.exponent, kExponentLimit);
  double lowest = kInfinite;
  for (double s = 0.0; s <= 60.0; s += 0.5) {
    const double u = n + s;
    for (double b = -0.08; b <= -0.02; b += 0.0005) {
      // On the limit with the peak at the last position.
      const double c = (kExponentLimit - 1e-9 - b * u) / std::log(u);
      if (-c / b < u) continue;
      lowest = std::min(lowest, at(b, s, c).rss);
    }
  }
  ASSERT_TRUE(std::isfinite(lowest));
  EXPECT_LE(cur.rss, lowest * (1.0 + 1e-6));
}

}  // namespace
}  // namespace kavrel::refine
