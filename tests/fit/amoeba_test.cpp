// Downhill simplex: fixed vertices, objective, ranking ties, trial points,
// stopping rules, and the least-squares refinement.
#include "fit/amoeba.h"
#include "fit/least_squares_refine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "fit/detrend2.h"
#include "util/fatal.h"

namespace kavrel {
namespace {

std::vector<float> positions(int32_t n) {
  std::vector<float> t(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) t[static_cast<size_t>(i)] = static_cast<float>(i + 1);
  return t;
}

TEST(Amoeba, FixedVerticesAndParameterMapping) {
  EXPECT_EQ(fixedVertex(kModelNegExp, 1), (SimplexPoint{1.0f, 0.0f, 0.0f, 0.0f, 0.0f}));
  EXPECT_EQ(fixedVertex(kModelNegExp, 2), (SimplexPoint{0.0f, -0.01f, 0.0f, 0.0f, 0.0f}));
  EXPECT_EQ(fixedVertex(kModelNegExp, 3), (SimplexPoint{0.0f, 0.0f, 0.1f, 0.0f, 0.0f}));
  EXPECT_EQ(fixedVertex(kModelGenExp, 2), (SimplexPoint{0.0f, -0.01f, 0.0f, 0.0f, 0.0f}));
  EXPECT_EQ(fixedVertex(kModelGenExp, 3), (SimplexPoint{0.0f, 0.0f, 1.0f, 0.0f, 0.0f}));
  EXPECT_EQ(fixedVertex(kModelGenExp, 4), (SimplexPoint{0.0f, 0.0f, 0.0f, 0.1f, 0.0f}));
  EXPECT_EQ(fixedVertex(kModelHugershoff, 2), (SimplexPoint{0.0f, 1.0f, 0.0f, 0.0f, 0.0f}));
  EXPECT_EQ(fixedVertex(kModelHugershoff, 3), (SimplexPoint{0.0f, 0.0f, -0.01f, 0.0f, 0.0f}));
  EXPECT_EQ(fixedVertex(kModelHugershoff, 4), (SimplexPoint{0.0f, 0.0f, 0.0f, 1.0f, 0.0f}));
  EXPECT_EQ(fixedVertex(kModelHugershoff, 5), (SimplexPoint{0.0f, 0.0f, 0.0f, 0.0f, 0.1f}));
  EXPECT_EQ(simplexParamCount(kModelNegExp), 3);
  EXPECT_EQ(simplexParamCount(kModelGenExp), 4);
  EXPECT_EQ(simplexParamCount(kModelHugershoff), 5);

  const ModelParams h = modelParams({1.5f, 0.5f, -0.1f, 2.0f, 0.25f}, kModelHugershoff);
  EXPECT_EQ(h.a, 1.5f);
  EXPECT_EQ(h.c, 0.5f);
  EXPECT_EQ(h.b, -0.1f);
  EXPECT_EQ(h.s, 2.0f);
  EXPECT_EQ(h.k, 0.25f);
  const ModelParams g = modelParams({1.5f, -0.1f, 2.0f, 0.25f, 9.0f}, kModelGenExp);
  EXPECT_EQ(g.c, 1.0f);
  EXPECT_EQ(g.s, 2.0f);
  EXPECT_EQ(g.k, 0.25f);
}

TEST(Amoeba, ObjectiveIsTheResidualSumOfSquares) {
  const std::vector<float> t{1.0f, 2.0f, 3.5f};
  const std::vector<float> y{1.2f, 2.385f, 0.9f};
  // Hugershoff a = 1.5, c = 0.5, b = -0.1, s = 1, k = 0.2, in double.
  double expected = 0.0;
  for (size_t i = 0; i < 3; ++i) {
    const double u = t[i] + 1.0;
    const double f = 1.5 * std::sqrt(u) * std::exp(-0.1 * u) + 0.2;
    expected += (f - y[i]) * (f - y[i]);
  }
  const SimplexProblem hug{kModelHugershoff, kObjectiveCapacity, 3, t, y};
  EXPECT_FLOAT_EQ(gamoff({1.5f, 0.5f, -0.1f, 1.0f, 0.2f}, hug), static_cast<float>(expected));

  // Selector 1 at u = 0: the model's limit a*exp(0) + k, no logarithm needed.
  const std::vector<float> t0{0.0f};
  const std::vector<float> y0{1.0f};
  const SimplexProblem neg{kModelNegExp, kObjectiveCapacity, 1, t0, y0};
  EXPECT_FLOAT_EQ(gamoff({2.0f, -0.3f, 0.5f, 0.0f, 0.0f}, neg), 1.5f * 1.5f);

  // An overflowing sum ranks worst as +infinity.
  const SimplexProblem big{kModelNegExp, kObjectiveCapacity, 3, t, y};
  EXPECT_EQ(gamoff({1.0e30f, 30.0f, 0.0f, 0.0f, 0.0f}, big),
            std::numeric_limits<float>::infinity());
}

TEST(Amoeba, ObjectiveFatalConditions) {
  const std::vector<float> t{-2.0f};
  const std::vector<float> y{1.0f};
  const SimplexProblem gen{kModelGenExp, kObjectiveCapacity, 1, t, y};
  try {
    (void)gamoff({1.0f, -0.1f, 0.0f, 0.0f, 0.0f}, gen);
    ADD_FAILURE() << "a negative shifted abscissa must be fatal";
  } catch (const FitFailure& e) {
    EXPECT_EQ(std::string(e.what()),
              "in gamoff tmd \xE2\x89\xA4 0 at xd.-0.2000000000D+01-0.2000000000D+01\n"
              "this is a fatal condition.");
    EXPECT_TRUE(e.pause());
  }
  const std::vector<float> many(5001, 1.0f);
  const SimplexProblem tooMany{kModelNegExp, kObjectiveCapacity, 5001, many, many};
  try {
    (void)gamoff({}, tooMany);
    ADD_FAILURE() << "5001 values must be fatal";
  } catch (const FitFailure& e) {
    EXPECT_EQ(std::string(e.what()), "in gamoff ne > nemax:       5001      5000\nbye.");
  }
}

TEST(Amoeba, RankingTieRules) {
  // Lowest: ties go to the later vertex.
  const std::vector<float> lowTie{2.0f, 1.0f, 3.0f, 1.0f};
  SimplexRank r = rankVertices(lowTie, 4);
  EXPECT_EQ(r.lowest, 3);
  EXPECT_EQ(r.highest, 2);
  EXPECT_EQ(r.nextHighest, 0);
  // Highest: a tie does not displace the earlier highest; with values[0] not
  // above values[1] the start is highest = 1, next-highest = 0.
  const std::vector<float> highTie{3.0f, 3.0f, 1.0f};
  r = rankVertices(highTie, 3);
  EXPECT_EQ(r.lowest, 2);
  EXPECT_EQ(r.highest, 1);
  EXPECT_EQ(r.nextHighest, 0);
  const std::vector<float> firstHigh{5.0f, 4.0f, 4.5f, 0.5f};
  r = rankVertices(firstHigh, 4);
  EXPECT_EQ(r.highest, 0);
  EXPECT_EQ(r.nextHighest, 2);
  EXPECT_EQ(r.lowest, 3);
}

TEST(Amoeba, TrialShiftIsClampedAtZero) {
  // Reflection of the worst vertex w through the others: trial = S/2 - w for
  // P = 4, where S sums the other four vertices. Its shift comes out -0.3.
  const int32_t n = 10;
  const std::vector<float> t = positions(n);
  std::vector<float> y(n);
  for (int i = 1; i <= n; ++i)
    y[static_cast<size_t>(i - 1)] = static_cast<float>(1.0 * i * std::exp(-0.025 * i) + 0.1);
  const SimplexProblem problem{kModelGenExp, kObjectiveCapacity, n, t, y};
  Simplex simplex;
  simplex.vertices[0] = {1.0f, -0.01f, 0.0f, 0.1f, 0.0f};
  simplex.vertices[1] = {1.2f, -0.01f, 0.0f, 0.1f, 0.0f};
  simplex.vertices[2] = {1.0f, -0.02f, 0.0f, 0.1f, 0.0f};
  simplex.vertices[3] = {1.0f, -0.01f, 0.0f, 0.3f, 0.0f};
  simplex.vertices[4] = {1.1f, 0.0f, 0.3f, 0.2f, 0.0f};
  for (size_t i = 0; i < 5; ++i) {
    simplex.values[i] = gamoff(simplex.vertices[i], problem);
    for (size_t j = 0; j < 4; ++j) simplex.paramSum[j] += simplex.vertices[i][j];
  }
  const float worstBefore = simplex.values[4];
  const float trial = ametry(simplex, 4, 4, -1.0f, problem);
  EXPECT_LT(trial, worstBefore);
  // Trial (1.0, -0.025, -0.3 -> 0, 0.1) is the data's own model: value ~ 0.
  EXPECT_LT(trial, 1.0e-10f);
  EXPECT_EQ(simplex.vertices[4][2], 0.0f);
  EXPECT_NEAR(simplex.vertices[4][0], 1.0f, 1.0e-6f);
  EXPECT_NEAR(simplex.vertices[4][1], -0.025f, 1.0e-7f);
  EXPECT_NEAR(simplex.vertices[4][3], 0.1f, 1.0e-6f);
  EXPECT_EQ(simplex.values[4], trial);
  EXPECT_FLOAT_EQ(trial, gamoff(simplex.vertices[4], problem));
  for (size_t j = 0; j < 4; ++j) {
    float sum = 0.0f;
    for (size_t i = 0; i < 5; ++i) sum += simplex.vertices[i][j];
    EXPECT_NEAR(simplex.paramSum[j], sum, 1.0e-6f);
  }
  // A worse trial leaves the simplex alone.
  const Simplex before = simplex;
  (void)ametry(simplex, 4, 0, 2.0f, problem);
  if (simplex.values[0] == before.values[0]) {
    EXPECT_EQ(simplex.vertices[0], before.vertices[0]);
  }
}

TEST(Amoeba, ConvergedSearchPutsTheLowestVertexFirst) {
  const int32_t n = 80;
  const std::vector<float> t = positions(n);
  std::vector<float> y(n);
  for (int i = 1; i <= n; ++i) {
    y[static_cast<size_t>(i - 1)] =
        static_cast<float>(1.9 * std::exp(-0.04 * i) + 0.45 + 0.05 * std::sin(1.3 * i));
  }
  const SimplexProblem problem{kModelNegExp, kObjectiveCapacity, n, t, y};
  Simplex simplex;
  simplex.vertices[0] = {};
  for (int32_t i = 1; i <= 3; ++i)
    simplex.vertices[static_cast<size_t>(i)] = fixedVertex(kModelNegExp, i);
  for (size_t i = 0; i < 4; ++i) simplex.values[i] = gamoff(simplex.vertices[i], problem);
  int32_t evaluations = 0;
  amoeba(simplex, 3, evaluations, kSimplexTolerance, problem);
  EXPECT_GT(evaluations, 0);
  EXPECT_LT(evaluations, kSimplexMaxEvaluations);
  for (size_t i = 1; i < 4; ++i) EXPECT_LE(simplex.values[0], simplex.values[i]);
  const float lo = simplex.values[0];
  float hi = lo;
  for (size_t i = 1; i < 4; ++i) hi = std::max(hi, simplex.values[i]);
  EXPECT_LT(2.0f * (hi - lo) / (lo + hi), kSimplexTolerance);
}

TEST(Amoeba, PerfectFitRunsToTheEvaluationLimit) {
  // All values 0 and a start at the origin: the best vertex has value 0, so
  // the fractional spread never falls below the tolerance.
  const int32_t n = 30;
  const std::vector<float> t = positions(n);
  const std::vector<float> y(n, 0.0f);
  FitNotes notes;
  const SimplexProblem problem{kModelNegExp, kObjectiveCapacity, n, t, y, &notes};
  std::vector<float> fitted(n, -1.0f);
  const SimplexFit fit = gamoeba(SimplexPoint{}, problem, n, fitted, false);
  const std::string out = notesText(notes);
  EXPECT_EQ(out, "\n ** Warning: itmax exceeded in amoeba **\n");
  EXPECT_GE(fit.evaluations, kSimplexMaxEvaluations);
  EXPECT_FALSE(fit.refined);
  for (float v : fitted) EXPECT_TRUE(std::isfinite(v));
}

TEST(Amoeba, RefinementOnlyLowersTheObjective) {
  // Noisy Hugershoff data: the refined result is never worse than the plain
  // simplex result, and replaces it only for a real gain.
  const int32_t n = 200;
  const std::vector<float> t = positions(n);
  std::vector<float> y(n);
  for (int i = 1; i <= n; ++i) {
    const double u = i + 1.5;
    y[static_cast<size_t>(i - 1)] = static_cast<float>(
        1.5 * std::pow(u, 0.8) * std::exp(-0.025 * u) + 0.3 + 0.2 * std::sin(0.9 * i));
  }
  const SimplexProblem problem{kModelHugershoff, kObjectiveCapacity, n, t, y};
  std::vector<float> plainCurve(n);
  std::vector<float> refinedCurve(n);
  const SimplexPoint start{1.0f, 0.5f, -0.02f, 0.0f, 0.0f};
  const SimplexFit plain = gamoeba(start, problem, n, plainCurve, false);
  const SimplexFit refined = gamoeba(start, problem, n, refinedCurve, true);
  EXPECT_LE(refined.bestValue, plain.bestValue);
  if (refined.refined) {
    EXPECT_LT(refined.bestValue, plain.bestValue * (1.0f - 1.0e-4f));
  } else {
    EXPECT_EQ(refined.best, plain.best);
    EXPECT_EQ(refinedCurve, plainCurve);
  }
  EXPECT_GE(refined.best[3], 0.0f);  // shift stays >= 0
  // The curve is the model at the returned point.
  const ModelParams m = modelParams(refined.best, kModelHugershoff);
  double rss = 0.0;
  for (int i = 0; i < n; ++i) {
    const double r =
        static_cast<double>(y[static_cast<size_t>(i)]) - refinedCurve[static_cast<size_t>(i)];
    rss += r * r;
  }
  EXPECT_NEAR(rss, refined.bestValue, 1.0e-3 * refined.bestValue);
  EXPECT_NEAR(refinedCurve[9],
              m.a * std::pow(10.0f + m.s, m.c) * std::exp(m.b * (10.0f + m.s)) + m.k, 1.0e-4f);

  // A steep late rise, 0.8 + 1e-36*exp(0.095 t): the least-squares point has a
  // tiny amplitude and exp(b*u) beyond the single-precision range, so its curve
  // cannot be computed; the search's own (finite) result is kept.
  const int32_t nr = 1000;
  const std::vector<float> tr = positions(nr);
  std::vector<float> rise(nr);
  for (int i = 1; i <= nr; ++i)
    rise[static_cast<size_t>(i - 1)] = static_cast<float>(0.8 + 1.0e-36 * std::exp(0.095 * i));
  for (int32_t selector : {kModelNegExp, kModelGenExp, kModelHugershoff}) {
    const SimplexProblem steep{selector, kObjectiveCapacity, nr, tr, rise};
    std::vector<float> plainSteep(nr);
    std::vector<float> refinedSteep(nr);
    const SimplexFit plainFit = gamoeba(SimplexPoint{}, steep, nr, plainSteep, false);
    const SimplexFit refinedFit = gamoeba(SimplexPoint{}, steep, nr, refinedSteep, true);
    for (float v : plainSteep) ASSERT_TRUE(std::isfinite(v)) << "selector " << selector;
    for (float v : refinedSteep) ASSERT_TRUE(std::isfinite(v)) << "selector " << selector;
    EXPECT_LE(refinedFit.bestValue, plainFit.bestValue);
  }

  // More values than the refinement's work space (a caller with a larger
  // capacity): the start is returned unchanged.
  const std::vector<float> tl = positions(5001);
  const std::vector<float> yl(5001, 1.0f);
  const SimplexProblem large{kModelNegExp, 6000, 5001, tl, yl};
  const RefineResult none = refineLeastSquares({0.5f, -0.01f, 0.2f, 0.0f, 0.0f}, 10.0f, large);
  EXPECT_FALSE(none.accepted);
  EXPECT_EQ(none.value, 10.0f);
}

// General exponential fit (code 8) through the dispatcher; the residual sum of
// squares of its curve in double precision. Console lines into `screen`.
struct GenExpFit {
  CurveParams params{};
  double rss = 0.0;
  std::string screen;
  std::vector<std::string> atBound;
};
GenExpFit fitGeneralExponential(std::vector<float> y) {
  GenExpFit fit;
  std::vector<float> curve(y.size());
  auto n = static_cast<int32_t>(y.size());
  int32_t option = 8;
  int32_t span = -67;
  float fitParam = 0.0f;
  FitNotes notes;
  detrend2(y, curve, n, n, fit.params, option, 2000, span, fitParam, 20, &notes, FitSearch::full,
           &fit.atBound);
  fit.screen = notesText(notes);
  EXPECT_EQ(option, 8);
  for (size_t i = 0; i < y.size(); ++i) {
    const double r = static_cast<double>(y[i]) - static_cast<double>(curve[i]);
    fit.rss += r * r;
  }
  return fit;
}

TEST(AmoebaRefine, ShiftBounds) {
  // A series whose general exponential optimum has s = 0 with the other
  // parameters still to be found after the shift is held there: a step with s
  // free, clamped to 0, gains nothing and used to end the search at RSS 0.6116.
  // 0.57949 is the optimum (a brute-force search over b with s = 0, a and k
  // solved exactly, gives b = -0.0675, a = 0.0884).
  const std::vector<int> syn7{
      83,  148, 1,   152, 314, 416, 377, 378, 283, 645, 406, 637, 631, 530, 461, 515, 408,
      515, 487, 521, 545, 597, 417, 520, 361, 341, 351, 310, 455, 438, 454, 338, 351, 271,
      214, 330, 305, 185, 310, 114, 229, 183, 183, 129, 284, 245, 286, 195, 73,  140, 68,
      193, 247, 171, 91,  104, 145, 8,   131, 130, 67,  73,  116, 33,  29,  154, 106, 220,
      4,   1,   153, 151, 13,  1,   64,  1,   37,  1,   42,  1,   38,  177, 33,  115, 1,
      1,   1,   132, 43,  176, 1,   27,  50,  156, 188, 1,   1,   1,   147, 32};
  std::vector<float> y;
  for (int v : syn7) y.push_back(static_cast<float>(v) * 0.001f);
  const GenExpFit held = fitGeneralExponential(y);
  EXPECT_NEAR(held.rss, 0.57949, 0.00005);
  EXPECT_EQ(held.params[5], 0.0f);
  EXPECT_NEAR(held.params[2], 0.0675, 0.0005);
  EXPECT_EQ(held.screen.find(">> sbr gamoeba"), std::string::npos);

  // A plain exponential decline: the general exponential comes ever closer as
  // s grows (u*exp(b*u) tends to a pure exponential), so the fit has no
  // finite optimum and stops at s = 10 n, on the bound of its domain.
  const int32_t n = 150;
  std::vector<float> decline(n);
  for (int32_t t = 1; t <= n; ++t) {
    decline[static_cast<size_t>(t - 1)] =
        static_cast<float>(0.4 + 1.7 * std::exp(-0.013 * t) + 0.01 * std::sin(2.1 * t));
  }
  const GenExpFit drift = fitGeneralExponential(decline);
  EXPECT_EQ(drift.params[5], 1500.0f);
  EXPECT_EQ(std::count(drift.atBound.begin(), drift.atBound.end(), "s"), 1);
  // The curve is close to the exponential the data were made from.
  EXPECT_LT(drift.rss, static_cast<double>(n) * 0.01 * 0.01);
}

TEST(AmoebaRefine, OptionsAreChecked) {
  const std::vector<float> t = positions(10);
  const std::vector<float> y(10, 1.5f);
  const SimplexProblem problem{kModelGenExp, kObjectiveCapacity, 10, t, y};
  const SimplexPoint start{1.0f, -0.01f, 0.0f, 0.5f, 0.0f};
  const struct {
    RefineOptions options;
    const char* message;
  } cases[] = {
      {{1.0e-4, 0, true, 3, 10.0}, "refinement: maxIterations must be at least 1"},
      {{1.0e-4, 200, true, 0, 10.0}, "refinement: gridStarts must be at least 1"},
      {{1.0e-4, 200, true, 3, 0.0}, "refinement: shiftLimit must be a number above 0"},
      {{1.0e-4, 200, true, 3, std::nan("")}, "refinement: shiftLimit must be a number above 0"},
  };
  for (const auto& c : cases) {
    try {
      (void)refineLeastSquares(start, 1.0f, problem, c.options);
      ADD_FAILURE() << c.message;
    } catch (const std::invalid_argument& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

}  // namespace
}  // namespace kavrel
