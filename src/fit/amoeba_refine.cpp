// Least-squares refinement of a simplex result: a grid over the nonlinear
// parameters with a and k solved exactly, then bounded Levenberg-Marquardt in
// double precision from the simplex's point and the grid's best valleys.
#include "fit/amoeba_refine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

#include "fit/amoeba_regressor.h"

namespace kavrel {

namespace {

using namespace refine;

// Levenberg-Marquardt damping: start, bounds, factor.
constexpr double kLambdaStart = 1.0e-3;
constexpr double kLambdaMin = 1.0e-12;
constexpr double kLambdaMax = 1.0e12;
constexpr double kLambdaFactor = 10.0;
// A step that lowers the objective by less than this fraction ends a search.
constexpr double kMinStepGain = 1.0e-13;

// Grid: shifts from the limit down by this ratio to at least kGridSmallestShift,
// plus shift 0; rates as the exponent change b*(s + n) over the series; the
// Hugershoff exponent c.
constexpr double kGridShiftRatio = 3.0;
constexpr double kGridSmallestShift = 0.5;
constexpr std::array<double, 12> kGridRateSpans{-64.0, -24.0, -8.0, -3.0, -1.0, -0.3,
                                                0.3,   1.0,   3.0,  8.0,  24.0, 64.0};
constexpr std::array<double, 8> kGridExponents{-16.0, -4.0, -1.0, 0.5, 1.0, 2.0, 4.0, 16.0};

// Parameters inside the refinement, in this order for every selector; the
// first `count` of them are free (a and k always, then b, s and c as the
// selector has them).
enum Param : size_t { kA = 0, kK = 1, kB = 2, kS = 3, kC = 4 };
constexpr size_t kParams = 5;
using Params = std::array<double, kParams>;

bool hasShift(int32_t modelSelector) { return modelSelector != kModelNegExp; }
double fixedExponent(int32_t modelSelector) { return modelSelector == kModelGenExp ? 1.0 : 0.0; }

Params fromVertex(const SimplexPoint& v, int32_t modelSelector) {
  const ModelParams m = modelParams(v, modelSelector);
  return {static_cast<double>(m.a), static_cast<double>(m.k), static_cast<double>(m.b),
          static_cast<double>(m.s), static_cast<double>(m.c)};
}

SimplexPoint toVertex(const Params& p, int32_t modelSelector) {
  const auto f = [&](Param i) { return static_cast<float>(p[i]); };
  switch (modelSelector) {
    case kModelNegExp:
      return {f(kA), f(kB), f(kK), 0.0f, 0.0f};
    case kModelGenExp:
      return {f(kA), f(kB), f(kS), f(kK), 0.0f};
    default:
      return {f(kA), f(kC), f(kB), f(kS), f(kK)};
  }
}


// Nonlinear parameters of the search: the rate b, the log-shift
// sigma = ln(1 + s) (which spreads the shift's wide range evenly) and the
// exponent c, as far as the selector has them. a and k are solved by linear
// least squares at every point (variable projection).
enum Theta : size_t { kRate = 0, kLogShift = 1, kExponent = 2 };
constexpr size_t kThetaMax = 3;
using ThetaVec = std::array<double, kThetaMax>;

size_t thetaCount(int32_t modelSelector) {
  return modelSelector == kModelNegExp ? 1 : (modelSelector == kModelGenExp ? 2 : 3);
}

// The model at one point theta: shift, regressor g, power term w = u^c (none
// for the negative exponential), ln u (Hugershoff only), the least-squares a
// and k, the residuals y - (a*g + k) and their sum of squares.
struct ModelState {
  ModelState(size_t n, int32_t modelSelector)
      : selector(modelSelector),
        g(n),
        w(modelSelector == kModelNegExp ? 0 : n),
        logU(modelSelector == kModelHugershoff ? n : 0),
        r(n) {}

  int32_t selector;
  ThetaVec theta{};
  double shift = 0.0;
  double a = 0.0;
  double k = 0.0;
  double meanG = 0.0;
  std::vector<double> g;
  std::vector<double> w;
  std::vector<double> logU;
  std::vector<double> r;
  double rss = kInfinite;

  double exponent() const {
    return selector == kModelHugershoff ? theta[kExponent] : fixedExponent(selector);
  }
  Params params() const { return {a, k, theta[kRate], shift, exponent()}; }
};

ThetaVec thetaOf(const Params& p) { return {p[kB], std::log1p(std::max(p[kS], 0.0)), p[kC]}; }

// Evaluates the model at state.theta; rss is kInfinite when it can't be formed.
void evaluate(const Regressor& data, ModelState& state, int32_t& evaluations) {
  ++evaluations;
  state.rss = kInfinite;
  state.shift = hasShift(state.selector) ? std::expm1(state.theta[kLogShift]) : 0.0;
  if (!state.w.empty() && !data.power(state.shift, state.exponent(), state.w,
                                      state.logU.empty() ? nullptr : &state.logU))
    return;
  if (!data.fill(state.theta[kRate], state.shift, state.w, state.g)) return;
  if (!std::isfinite(solveLinear(data, state.g, state.a, state.k))) return;
  double sumG = 0.0;
  double sum = 0.0;
  for (size_t i = 0; i < state.g.size(); ++i) {
    sumG += state.g[i];
    state.r[i] = data.y(i) - (state.a * state.g[i] + state.k);
    sum += state.r[i] * state.r[i];
  }
  state.meanG = sumG / static_cast<double>(state.g.size());
  if (std::isfinite(sum)) state.rss = sum;
}

// Normal equations J'J (lower triangle) and J'r in theta at a state.
struct Normal {
  std::array<std::array<double, kThetaMax>, kThetaMax> jtj{};
  std::array<double, kThetaMax> jtr{};
  double at(size_t j, size_t m) const { return j >= m ? jtj[j][m] : jtj[m][j]; }
};

// The derivatives a*dg/dtheta at point i.
std::array<double, kThetaMax> slopes(const Regressor& data, const ModelState& state, size_t i,
                                     size_t count) {
  std::array<double, kThetaMax> v{};
  const double ag = state.a * state.g[i];
  const double u = data.t(i) + state.shift;
  v[kRate] = ag * u;
  if (count > kLogShift) v[kLogShift] = ag * (state.theta[kRate] + state.exponent() / u) * (1.0 + state.shift);
  if (count > kExponent) v[kExponent] = ag * state.logU[i];
  return v;
}

// With a and k re-solved at every point, the residual's Jacobian is (Kaufman's
// approximation) the derivatives a*dg/dtheta with their parts along 1 and g
// removed; J'r needs no projection, as r is already orthogonal to both.
Normal normalEquations(const Regressor& data, const ModelState& state, size_t count) {
  Normal ne;
  const size_t n = state.g.size();
  std::array<double, kThetaMax> mean{};
  for (size_t i = 0; i < n; ++i) {
    const auto v = slopes(data, state, i, count);
    for (size_t j = 0; j < count; ++j) {
      mean[j] += v[j];
      ne.jtr[j] += v[j] * state.r[i];
    }
  }
  for (size_t j = 0; j < count; ++j) mean[j] /= static_cast<double>(n);
  std::array<std::array<double, kThetaMax>, kThetaMax> vv{};
  std::array<double, kThetaMax> vg{};
  double gg = 0.0;
  for (size_t i = 0; i < n; ++i) {
    auto v = slopes(data, state, i, count);
    const double dg = state.g[i] - state.meanG;
    gg += dg * dg;
    for (size_t j = 0; j < count; ++j) {
      v[j] -= mean[j];
      vg[j] += v[j] * dg;
      for (size_t m = 0; m <= j; ++m) vv[j][m] += v[j] * v[m];
    }
  }
  for (size_t j = 0; j < count; ++j)
    for (size_t m = 0; m <= j; ++m) ne.jtj[j][m] = vv[j][m] - vg[j] * vg[m] / gg;
  return ne;
}

// Solves (J'J + lambda*diag(J'J)) d = J'r for the free parameters, the others
// moving by the steps already in d. False when the system is not positive
// definite.
bool solveStep(const Normal& ne, size_t count, double lambda,
               const std::array<bool, kThetaMax>& isFree, ThetaVec& d) {
  std::array<size_t, kThetaMax> index{};
  size_t m = 0;
  for (size_t j = 0; j < count; ++j)
    if (isFree[j]) index[m++] = j;
  std::array<std::array<double, kThetaMax>, kThetaMax> l{};
  std::array<double, kThetaMax> z{};
  for (size_t x = 0; x < m; ++x) {
    double rhs = ne.jtr[index[x]];
    for (size_t j = 0; j < count; ++j)
      if (!isFree[j]) rhs -= ne.at(index[x], j) * d[j];
    // Row x of the Cholesky factor, then forward substitution.
    for (size_t y = 0; y <= x; ++y) {
      double v = ne.at(index[x], index[y]);
      if (x == y) {
        const double diag = ne.at(index[x], index[x]);
        v += lambda * (diag > 0.0 ? diag : 1.0);
      }
      for (size_t q = 0; q < y; ++q) v -= l[x][q] * l[y][q];
      if (x == y) {
        if (!(v > 0.0)) return false;
        l[x][x] = std::sqrt(v);
      } else {
        l[x][y] = v / l[y][y];
      }
    }
    for (size_t q = 0; q < x; ++q) rhs -= l[x][q] * z[q];
    z[x] = rhs / l[x][x];
  }
  for (size_t x = m; x-- > 0;) {
    double v = z[x];
    for (size_t q = x + 1; q < m; ++q) v -= l[q][x] * d[index[q]];
    d[index[x]] = v / l[x][x];
  }
  return true;
}

// Levenberg-Marquardt from cur.theta with the log-shift kept in
// [0, logShiftLimit]: a shift at a bound that the gradient pushes outwards is
// held there while the other parameters go on, and a step across a bound stops
// at the bound. Ends when a step gains less than kMinStepGain, when no damping
// gives a lower objective, or after maxIterations. cur holds the result; trial
// is work space.
void levenbergMarquardt(const Regressor& data, double logShiftLimit, int32_t maxIterations,
                        ModelState& cur, ModelState& trial, int32_t& evaluations) {
  const size_t count = thetaCount(cur.selector);
  const bool shift = hasShift(cur.selector);
  if (shift) cur.theta[kLogShift] = std::clamp(cur.theta[kLogShift], 0.0, logShiftLimit);
  evaluate(data, cur, evaluations);
  if (!std::isfinite(cur.rss)) return;
  double lambda = kLambdaStart;
  for (int32_t iteration = 0; iteration < maxIterations; ++iteration) {
    const Normal ne = normalEquations(data, cur, count);
    std::array<bool, kThetaMax> isFree{true, true, true};
    const double sigma = shift ? cur.theta[kLogShift] : 0.0;
    if (shift && ((sigma <= 0.0 && ne.jtr[kLogShift] <= 0.0) ||
                  (sigma >= logShiftLimit && ne.jtr[kLogShift] >= 0.0)))
      isFree[kLogShift] = false;
    bool stepped = false;
    for (; lambda < kLambdaMax; lambda *= kLambdaFactor) {
      ThetaVec d{};
      std::array<bool, kThetaMax> stepFree = isFree;
      if (!solveStep(ne, count, lambda, stepFree, d)) continue;
      if (shift && stepFree[kLogShift]) {
        const double next = sigma + d[kLogShift];
        if (next < 0.0 || next > logShiftLimit) {
          d[kLogShift] = std::clamp(next, 0.0, logShiftLimit) - sigma;
          stepFree[kLogShift] = false;
          if (!solveStep(ne, count, lambda, stepFree, d)) continue;
        }
      }
      for (size_t j = 0; j < kThetaMax; ++j) trial.theta[j] = cur.theta[j] + d[j];
      if (shift) trial.theta[kLogShift] = std::clamp(trial.theta[kLogShift], 0.0, logShiftLimit);
      evaluate(data, trial, evaluations);
      if (trial.rss < cur.rss) {
        const double gain = (cur.rss - trial.rss) / cur.rss;
        std::swap(cur, trial);
        lambda = std::max(lambda / kLambdaFactor, kLambdaMin);
        stepped = gain > kMinStepGain;
        break;
      }
    }
    if (!stepped) break;
  }
}

// Grid shifts: 0, and from the limit down by kGridShiftRatio while at least
// kGridSmallestShift, ascending.
std::vector<double> gridShifts(int32_t modelSelector, double shiftLimit) {
  std::vector<double> shifts{0.0};
  if (!hasShift(modelSelector)) return shifts;
  for (double s = shiftLimit; s >= kGridSmallestShift; s /= kGridShiftRatio) shifts.push_back(s);
  std::sort(shifts.begin(), shifts.end());
  return shifts;
}

std::vector<double> gridExponents(int32_t modelSelector) {
  if (modelSelector == kModelHugershoff) return {kGridExponents.begin(), kGridExponents.end()};
  return {fixedExponent(modelSelector)};
}

// Starting points from a grid over shift, exponent and rate, with a and k
// solved by linear least squares at each node: the nodes no higher than any
// neighbour (one valley each), lowest first, at most maxCount.
std::vector<ThetaVec> gridValleys(const Regressor& data, int32_t modelSelector, double shiftLimit,
                                int32_t maxCount, int32_t& evaluations) {
  const std::vector<double> shifts = gridShifts(modelSelector, shiftLimit);
  const std::vector<double> exponents = gridExponents(modelSelector);
  const size_t ns = shifts.size();
  const size_t nc = exponents.size();
  const size_t nb = kGridRateSpans.size();
  std::vector<double> value(ns * nc * nb, kInfinite);
  ModelState work(data.size(), modelSelector);
  auto node = [&](size_t si, size_t ci, size_t bi) { return (si * nc + ci) * nb + bi; };
  auto fillNode = [&](size_t si, size_t bi, double& a, double& k) {
    const double b = kGridRateSpans[bi] / data.span();
    ++evaluations;
    if (!data.fill(b, shifts[si], work.w, work.g)) return kInfinite;
    return solveLinear(data, work.g, a, k);
  };
  for (size_t si = 0; si < ns; ++si) {
    for (size_t ci = 0; ci < nc; ++ci) {
      if (!work.w.empty() && !data.power(shifts[si], exponents[ci], work.w, nullptr)) continue;
      for (size_t bi = 0; bi < nb; ++bi) {
        double a = 0.0;
        double k = 0.0;
        value[node(si, ci, bi)] = fillNode(si, bi, a, k);
      }
    }
  }
  // Local minima over the index neighbourhood.
  std::vector<std::pair<double, size_t>> valleys;
  for (size_t si = 0; si < ns; ++si) {
    for (size_t ci = 0; ci < nc; ++ci) {
      for (size_t bi = 0; bi < nb; ++bi) {
        const double v = value[node(si, ci, bi)];
        if (!std::isfinite(v)) continue;
        bool lowest = true;
        for (size_t ds = 0; ds < 3 && lowest; ++ds) {
          for (size_t dc = 0; dc < 3 && lowest; ++dc) {
            for (size_t db = 0; db < 3 && lowest; ++db) {
              const size_t s2 = si + ds;
              const size_t c2 = ci + dc;
              const size_t b2 = bi + db;
              if (s2 < 1 || c2 < 1 || b2 < 1 || s2 > ns || c2 > nc || b2 > nb) continue;
              lowest = value[node(s2 - 1, c2 - 1, b2 - 1)] >= v;
            }
          }
        }
        if (lowest) valleys.emplace_back(v, node(si, ci, bi));
      }
    }
  }
  std::sort(valleys.begin(), valleys.end());
  if (valleys.size() > static_cast<size_t>(maxCount)) valleys.resize(static_cast<size_t>(maxCount));
  std::vector<ThetaVec> starts;
  for (const auto& valley : valleys) {
    const size_t index = valley.second;
    const size_t bi = index % nb;
    const size_t ci = (index / nb) % nc;
    const size_t si = index / (nb * nc);
    starts.push_back({kGridRateSpans[bi] / data.span(), std::log1p(shifts[si]), exponents[ci]});
  }
  return starts;
}

void checkOptions(const RefineOptions& options) {
  if (!(options.maxIterations >= 1))
    throw std::invalid_argument("refinement: maxIterations must be at least 1");
  if (!(options.gridStarts >= 1))
    throw std::invalid_argument("refinement: gridStarts must be at least 1");
  if (!(options.shiftLimit > 0.0) || !std::isfinite(options.shiftLimit))
    throw std::invalid_argument("refinement: shiftLimit must be a number above 0");
}

}  // namespace

RefineResult refineLeastSquares(const SimplexPoint& start, float startValue,
                                const SimplexProblem& problem, const RefineOptions& options) {
  checkOptions(options);
  RefineResult result;
  result.point = start;
  result.value = startValue;
  const int32_t selector = problem.modelSelector;
  const int32_t count = simplexParamCount(selector);
  // Too few values to determine the parameters, or more than the objective takes.
  if (problem.n <= count || problem.n > kObjectiveCapacity) return result;
  const Regressor data(problem);
  const double shiftLimit = options.shiftLimit * static_cast<double>(problem.n);
  result.shiftLimit = static_cast<float>(shiftLimit);

  const auto n = static_cast<size_t>(problem.n);
  ModelState cur(n, selector);
  ModelState trial(n, selector);
  const double logShiftLimit = std::log1p(shiftLimit);
  Params best{};
  bool bestAtLimit = false;
  double bestValue = kInfinite;
  auto search = [&](const ThetaVec& from) {
    cur.theta = from;
    levenbergMarquardt(data, logShiftLimit, options.maxIterations, cur, trial, result.evaluations);
    const double topG = std::isfinite(cur.rss) ? *std::max_element(cur.g.begin(), cur.g.end()) : 0.0;
    const double limit = kCancellationLimit * data.largestValue();
    if (cur.rss < bestValue && std::fabs(cur.k) <= limit && std::fabs(cur.a) * topG <= limit) {
      bestValue = cur.rss;
      best = cur.params();
      bestAtLimit = hasShift(selector) && cur.theta[kLogShift] >= logShiftLimit;
      // expm1(log1p(limit)) may miss the limit by a rounding.
      if (bestAtLimit) best[kS] = shiftLimit;
    }
  };
  search(thetaOf(fromVertex(start, selector)));
  if (options.gridStart) {
    for (const ThetaVec& from :
         gridValleys(data, selector, shiftLimit, options.gridStarts, result.evaluations))
      search(from);
  }
  if (!std::isfinite(bestValue)) return result;

  const SimplexPoint point = toVertex(best, selector);
  // The single-precision point is judged by the simplex's own objective.
  const float pointValue = gamoff(point, problem);
  const bool startBeyondLimit =
      hasShift(selector) && static_cast<double>(modelParams(start, selector).s) > shiftLimit;
  if (pointValue < startValue * static_cast<float>(1.0 - options.minGain) ||
      (startBeyondLimit && std::isfinite(pointValue))) {
    result.point = point;
    result.value = pointValue;
    result.accepted = true;
    result.shiftAtLimit = bestAtLimit;
  }
  return result;
}

}  // namespace kavrel
