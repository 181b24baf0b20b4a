// Least-squares refinement of a simplex result: damped Newton (newton_search.h)
// from the simplex's point on the data; then a wide search, a grid and Newton
// from its valleys on run means of the data, whose valleys below the
// simplex's are finished on the data.
#include "fit/least_squares_refine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <utility>
#include <vector>

#include "fit/newton_search.h"
#include "fit/refine_regressor.h"

namespace kavrel {

namespace {

using namespace refine;

// Search settings (SearchSettings): searches on the data run to the rounding
// level, or until they creep along a nearly flat valley floor, where further
// steps change the curve little; the wide search's searches on the runs only
// have to tell the valleys apart.
constexpr double kFinishTolerance = 1.0e-13;
constexpr double kFinishCreep = 1.0e-9;
constexpr double kExploreTolerance = 1.0e-7;
constexpr double kExploreCreep = 1.0e-4;
constexpr int32_t kExploreIterations = 60;

// Run lengths of the stand-in data grow by one value every kRunGrowth
// positions from the nearer end (every kGridRunGrowth for the grid, which
// only has to find starting points); a stand-in replaces the data when it has
// at most kRunShare of their points.
constexpr int32_t kRunGrowth = 8;
constexpr int32_t kGridRunGrowth = 4;
constexpr double kRunShare = 0.8;

// A wide search's Newton run ends as soon as it comes this close (the rise of
// the objective that the Gauss-Newton model predicts, relative to the
// objective) to the end of an earlier one: it is in the same valley.
constexpr double kSameValley = 1.0e-3;
// A valley is finished on the data when its minimum on the runs lies this
// fraction below that of the best point's valley; at most kFinishedValleys
// are, lowest first.
constexpr double kValleyMargin = 1.0e-5;
constexpr size_t kFinishedValleys = 2;

// A grid node whose regressor varies less than this (its weighted sum of
// squares about the mean relative to its sum of squares) is taken as constant.
constexpr double kNearlyConstant = 1.0e-12;

// Grid: shifts from the limit down by this ratio to at least kGridSmallestShift,
// plus shift 0; rates as the exponent change b*n over the series; the
// Hugershoff exponent c.
constexpr double kGridShiftRatio = 3.0;
constexpr double kGridSmallestShift = 0.5;
constexpr std::array<double, 12> kGridRateSpans{-64.0, -24.0, -8.0, -3.0, -1.0, -0.3,
                                                0.3,   1.0,   3.0,  8.0,  24.0, 64.0};
constexpr std::array<double, 8> kGridExponents{-16.0, -4.0, -1.0, 0.5, 1.0, 2.0, 4.0, 16.0};

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

// r^c, by repeated squaring when c is a whole or half number of moderate
// size (every grid exponent is), else by exp(c*ln r).
double power(double r, double c) {
  const double twice = 2.0 * c;
  if (twice != std::nearbyint(twice) || std::fabs(c) > 64.0) return std::exp(c * std::log(r));
  auto whole = static_cast<int64_t>(std::fabs(c));
  double result = (twice - 2.0 * std::trunc(c) != 0.0) ? std::sqrt(r) : 1.0;
  for (double base = r; whole > 0; whole >>= 1, base *= base)
    if ((whole & 1) != 0) result *= base;
  return c < 0.0 ? 1.0 / result : result;
}

// Residual sum of squares of a grid node whose regressor is the product of
// `powers` and `rates` (and whose slopes are g*(b + c/u), 1/u in `inverse`),
// summed in one pass: the grid only ranks its nodes. kInfinite when the
// regressor is nearly constant.
double nodeValue(const FitData& data, const double* powers, const double* rates,
                 const double* inverse, double b, double c) {
  double sumG = 0.0;
  double sumGG = 0.0;
  double sumGY = 0.0;
  double sumHH = 0.0;
  double sumHY = 0.0;
  const bool slopes = data.hasSlopes();
  for (size_t j = 0; j < data.size(); ++j) {
    const double g = powers[j] * rates[j];
    const double wg = data.w(j) * g;
    sumG += wg;
    sumGG += wg * g;
    sumGY += wg * (data.y(j) - data.meanY());
    if (slopes) {
      const double h = g * (b + c * inverse[j]);
      const double vh = data.slopeW(j) * h;
      sumHH += vh * h;
      sumHY += vh * data.slope(j);
    }
  }
  const double sgg = sumGG - sumG * sumG / data.weightSum();
  if (!(sgg > kNearlyConstant * sumGG)) return kInfinite;
  const double sgy = sumGY + sumHY;
  return std::max(data.sumSquaresY() - sgy * sgy / (sgg + sumHH), 0.0);
}

// Starting points from a grid over shift, exponent and rate, with a and k
// solved by linear least squares at each node: the nodes no higher than any
// neighbour (one valley each), lowest first, at most maxCount. The regressor
// of a node, scaled by a constant that a absorbs, is the product of a power
// table (u/u0)^c per shift and exponent, u0 = the first shifted position, and
// an exponential table exp(b*(t - t0)) per rate.
std::vector<ThetaVec> gridValleys(const FitData& data, int32_t modelSelector, double shiftLimit,
                                  int32_t maxCount) {
  const std::vector<double> shifts = gridShifts(modelSelector, shiftLimit);
  const std::vector<double> exponents = gridExponents(modelSelector);
  const size_t ns = shifts.size();
  const size_t nc = exponents.size();
  const size_t nb = kGridRateSpans.size();
  const size_t m = data.size();
  std::vector<double> value(ns * nc * nb, kInfinite);
  std::vector<double> powers(nc * m);
  std::vector<double> exps(nb * m);
  std::vector<double> inverse(m);
  auto node = [&](size_t si, size_t ci, size_t bi) { return (si * nc + ci) * nb + bi; };
  auto rate = [&](size_t bi) { return kGridRateSpans[bi] / data.span(); };
  for (size_t bi = 0; bi < nb; ++bi)
    for (size_t j = 0; j < m; ++j)
      exps[bi * m + j] = std::exp(rate(bi) * (data.t(j) - data.minT()));
  for (size_t si = 0; si < ns; ++si) {
    const double s = shifts[si];
    const double lo = data.minT() + s;
    const double hi = data.maxT() + s;
    if (!(lo > 0.0)) continue;
    const double logLo = std::log(lo);
    const double logHi = std::log(hi);
    for (size_t j = 0; j < m; ++j) inverse[j] = 1.0 / (data.t(j) + s);
    for (size_t ci = 0; ci < nc; ++ci)
      for (size_t j = 0; j < m; ++j)
        powers[ci * m + j] = power((data.t(j) + s) / lo, exponents[ci]);
    for (size_t ci = 0; ci < nc; ++ci) {
      const double c = exponents[ci];
      for (size_t bi = 0; bi < nb; ++bi) {
        const double b = rate(bi);
        // The peak exponent over the abscissa range, as rangePeak gives it.
        double peak = std::max(c * logLo + b * lo, c * logHi + b * hi);
        if (c > 0.0 && b < 0.0 && -c / b > lo && -c / b < hi)
          peak = std::max(peak, c * std::log(-c / b) - c);
        if (!(std::fabs(peak) <= kExponentLimit)) continue;
        value[node(si, ci, bi)] =
            nodeValue(data, &powers[ci * m], &exps[bi * m], inverse.data(), b, c);
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

// The end of a wide search's run on the stand-in data.
struct Valley {
  ThetaVec theta{};
  double value = kInfinite;
};

// The refinement of one simplex result.
class Refinement {
 public:
  Refinement(const SimplexProblem& problem, const RefineOptions& options, int32_t& evaluations)
      : selector_(problem.modelSelector),
        options_(options),
        data_(problem),
        shiftLimit_(options.shiftLimit * static_cast<double>(problem.n)),
        logShiftLimit_(std::log1p(shiftLimit_)),
        cancellation_(kCancellationLimit * data_.largestValue()),
        coords_(selector_, 0.5 * (data_.minT() + data_.maxT())),
        evaluations_(evaluations),
        cur_(data_, selector_),
        trial_(data_, selector_),
        spare_(data_, selector_) {}

  double shiftLimit() const { return shiftLimit_; }
  bool found() const { return std::isfinite(bestValue_); }
  const Params& best() const { return best_; }

  // The best point as the curve will carry it: b, s and c rounded to single
  // precision, and a and k solved again at the rounded values, so that they
  // make up for the rounding.
  Params singlePrecisionBest() {
    Params p = best_;
    for (Param i : {kB, kS, kC}) p[i] = static_cast<double>(static_cast<float>(p[i]));
    cur_.natural = {p[kB], std::log1p(p[kS]), p[kC]};
    cur_.shift = p[kS];
    if (fillRegressor(data_, cur_) &&
        std::isfinite(solveLinear(data_, cur_.g, cur_.h, cur_.a, cur_.k, cur_.meanG)) &&
        usable(cur_)) {
      p[kA] = cur_.a;
      p[kK] = cur_.k;
    }
    return p;
  }
  bool bestAtLimit() const { return bestAtLimit_; }

  // A search on the data from the model parameters p.
  void search(const Params& p) { search(coords_.search(p)); }

  // A search on the data from search point `from`; its end becomes the best
  // point when it is lower and usable.
  void search(const ThetaVec& from) {
    cur_.theta = from;
    const SearchSettings finish{options_.maxIterations, kFinishTolerance, kFinishCreep, nullptr,
                                kSameValley};
    newtonSearch(data_, coords_, logShiftLimit_, finish, cur_, trial_, spare_, evaluations_);
    if (!std::isfinite(cur_.rss) || !(cur_.rss < bestValue_) || !usable(cur_)) return;
    bestValue_ = cur_.rss;
    best_ = cur_.params();
    bestAtLimit_ = hasShift(selector_) && cur_.theta[kLogShift] >= logShiftLimit_;
    // expm1(log1p(limit)) may miss the limit by a rounding.
    if (bestAtLimit_) best_[kS] = shiftLimit_;
  }

  // The wide search: grid valleys searched on the runs (on the data when runs
  // would not be fewer by much), and the lowest of those below the best
  // point's valley finished on the data.
  void wideSearch() {
    const FitData runs = FitData::runs(data_, kRunGrowth);
    const bool useRuns = fewer(runs);
    const FitData& standIn = useRuns ? runs : data_;
    ModelState probe(standIn, selector_);
    ModelState probeTrial(standIn, selector_);
    ModelState probeSpare(standIn, selector_);
    std::vector<ThetaVec> ends;
    const SearchSettings explore{std::min(options_.maxIterations, kExploreIterations),
                                 kExploreTolerance, kExploreCreep, &ends, kSameValley};
    auto valleyFrom = [&](const ThetaVec& from) {
      probe.theta = from;
      const bool distinct = newtonSearch(standIn, coords_, logShiftLimit_, explore, probe,
                                         probeTrial, probeSpare, evaluations_);
      if (!distinct || !std::isfinite(probe.rss) || !usable(probe)) return Valley{};
      ends.push_back(probe.theta);
      return Valley{probe.theta, probe.rss};
    };
    // The level to beat: the best point's, as the stand-in sees it.
    double home = kInfinite;
    if (found()) home = useRuns ? valleyFrom(coords_.search(best_)).value : bestValue_;
    if (found() && !useRuns) ends.push_back(coords_.search(best_));
    std::vector<Valley> lower;
    const FitData coarse = FitData::runs(data_, kGridRunGrowth);
    for (const ThetaVec& node :
         gridValleys(fewer(coarse) ? coarse : data_, selector_, shiftLimit_, options_.gridStarts)) {
      const Valley v = valleyFrom(coords_.search(node[kRate], node[kLogShift], node[kExponent]));
      if (v.value < home * (1.0 - kValleyMargin)) lower.push_back(v);
    }
    std::sort(lower.begin(), lower.end(),
              [](const Valley& x, const Valley& y) { return x.value < y.value; });
    for (size_t i = 0; i < lower.size() && i < kFinishedValleys; ++i) search(lower[i].theta);
  }

 private:
  // True when runs are fewer than the data by enough to stand in for them.
  bool fewer(const FitData& runs) const {
    return static_cast<double>(runs.size()) <= kRunShare * static_cast<double>(data_.size());
  }

  // True when the curve a*g + k keeps the data's digits in single precision.
  bool usable(const ModelState& state) const {
    const double topG = *std::max_element(state.g.begin(), state.g.end());
    return std::fabs(state.k) <= cancellation_ && std::fabs(state.a) * topG <= cancellation_;
  }

  int32_t selector_;
  const RefineOptions& options_;
  FitData data_;
  double shiftLimit_;
  double logShiftLimit_;
  double cancellation_;
  Coordinates coords_;
  int32_t& evaluations_;
  ModelState cur_;
  ModelState trial_;
  ModelState spare_;
  Params best_{};
  double bestValue_ = kInfinite;
  bool bestAtLimit_ = false;
};

}  // namespace

RefineResult refineLeastSquares(const SimplexPoint& start, float startValue,
                                const SimplexProblem& problem, const RefineOptions& options) {
  checkOptions(options);
  RefineResult result;
  result.point = start;
  result.value = startValue;
  const int32_t selector = problem.modelSelector;
  // Too few values to determine the parameters, or more than the objective takes.
  if (problem.n <= simplexParamCount(selector) || problem.n > kObjectiveCapacity) return result;
  Refinement refinement(problem, options, result.evaluations);
  result.shiftLimit = static_cast<float>(refinement.shiftLimit());
  refinement.search(fromVertex(start, selector));
  if (options.gridStart) refinement.wideSearch();
  if (!refinement.found()) return result;

  const SimplexPoint point = toVertex(refinement.singlePrecisionBest(), selector);
  // The single-precision point is judged by the simplex's own objective.
  const float pointValue = gamoff(point, problem);
  const bool startBeyondLimit =
      hasShift(selector) &&
      static_cast<double>(modelParams(start, selector).s) > refinement.shiftLimit();
  if (pointValue < startValue * static_cast<float>(1.0 - options.minGain) ||
      (startBeyondLimit && std::isfinite(pointValue))) {
    result.point = point;
    result.value = pointValue;
    result.accepted = true;
    result.shiftAtLimit = refinement.bestAtLimit();
  }
  return result;
}

}  // namespace kavrel
