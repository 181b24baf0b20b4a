// Damped Newton search of the growth-curve refinement: steps within the
// shift bounds and the regressor's range (the model and its derivatives are
// in refine_model.cpp).
#include "fit/newton_search.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kavrel::refine {

namespace {

// Damping of the Newton steps: start, bounds, factor.
constexpr double kLambdaStart = 1.0e-3;
constexpr double kLambdaMin = 1.0e-15;
constexpr double kLambdaMax = 1.0e12;
constexpr double kLambdaFactor = 10.0;
// Steps keep the regressor's peak exponent this far inside its limit.
constexpr double kPeakMargin = 1.0e-4;
// A step bent towards the limit that overshoots it by less than kReaimLimit
// is aimed again, that much further inside, at most kMaxReaims times.
constexpr double kReaimLimit = 1.0;
constexpr int32_t kMaxReaims = 3;
// A search whose peak exponent lies within this of its limit steps along the
// limit when a free step fails.
constexpr double kNearLimit = 0.5;

// A step within this cosine of the one before, and not much shorter, is taken
// as a sign of a long valley and is stretched: tried again doubled, up to this
// multiple.
constexpr double kStretchCosine = 0.9;
constexpr double kStretchShrink = 0.25;
constexpr double kStretchLongest = 256.0;

// Steps over which a search's progress is judged for creeping.
constexpr int32_t kCreepWindow = 8;

// Bounds on a step: the log-shift sigma within [0, logShiftLimit] (held at a
// bound when `heldShift`), and the regressor's peak exponent within +-bound.
struct StepLimits {
  bool heldShift = false;
  double sigma = 0.0;
  double logShiftLimit = 0.0;
  double peak = 0.0;
  double bound = kExponentLimit;
};

// The damped Newton step within the limits: a step across a shift bound stops
// at the bound, and one that would take the peak exponent (to first order)
// beyond its limit is bent to end at the limit (set `bent`), which slides
// along the limit instead of stopping short of it; `atLimit` bends it from the
// start. False when no step meets the limits or the model promises no gain
// (an indefinite Hessian, or constraints that pull the step off the model's
// minimum): more damping is needed.
bool proposeStep(const Curvature& cv, size_t count, double lambda, const StepLimits& limits,
                 bool atLimit, ThetaVec& d, bool& bent) {
  ThetaVec shiftRow{};
  shiftRow[kLogShift] = 1.0;
  const double side = limits.peak >= 0.0 ? 1.0 : -1.0;  // the nearer limit
  Constraints cons;
  if (limits.heldShift) cons.add(shiftRow, 0.0);
  if (atLimit) cons.add(cv.peakSlope, side * limits.bound - limits.peak);
  if (!solveStep(cv, count, lambda, cons, d)) return false;
  const bool shiftFree = count > kLogShift && !limits.heldShift;
  auto stopAtShiftBound = [&]() {
    const double next = limits.sigma + d[kLogShift];
    if (!shiftFree || (next >= 0.0 && next <= limits.logShiftLimit)) return true;
    cons.add(shiftRow, std::clamp(next, 0.0, limits.logShiftLimit) - limits.sigma);
    return solveStep(cv, count, lambda, cons, d);
  };
  const size_t before = cons.size;
  if (!stopAtShiftBound()) return false;
  const bool shiftStopped = cons.size > before;
  if (!atLimit) {
    double rise = 0.0;
    for (size_t j = 0; j < count; ++j) rise += cv.peakSlope[j] * d[j];
    if (side * (limits.peak + rise) > limits.bound) {
      bent = true;
      cons.add(cv.peakSlope, side * limits.bound - limits.peak);
      if (!solveStep(cv, count, lambda, cons, d)) return false;
      // Bending may carry the shift across its bound.
      if (!shiftStopped && !stopAtShiftBound()) return false;
    }
  }
  return predictedGain(cv, count, d) > 0.0;
}

// Removes from v its components along the first `rows` of the orthonormal
// vectors in basis (classical Gram-Schmidt, one row after the other).
void projectOut(ThetaVec& v, const ThetaVec* basis, size_t rows, size_t count) {
  for (size_t k = 0; k < rows; ++k) {
    double dot = 0.0;
    for (size_t j = 0; j < count; ++j) dot += v[j] * basis[k][j];
    for (size_t j = 0; j < count; ++j) v[j] -= dot * basis[k][j];
  }
}

}  // namespace

bool solveStep(const Curvature& cv, size_t count, double lambda, const Constraints& cons,
               ThetaVec& d) {
  ThetaVec scale{};
  for (size_t j = 0; j < count; ++j) {
    const double diag = cv.gaussNewton[j][j];
    scale[j] = std::sqrt(diag > 0.0 ? diag : 1.0);
  }
  // Orthonormal basis q of the scaled constraint rows, and the particular
  // step xp of least norm that meets them.
  std::array<ThetaVec, 2> q{};
  size_t rank = 0;
  ThetaVec xp{};
  for (size_t i = 0; i < cons.size; ++i) {
    ThetaVec r{};
    for (size_t j = 0; j < count; ++j) r[j] = cons.rows[i][j] / scale[j];
    double norm0 = 0.0;
    for (size_t j = 0; j < count; ++j) norm0 += r[j] * r[j];
    // Value still to meet after the earlier rows' part of xp.
    double rest = cons.values[i];
    for (size_t j = 0; j < count; ++j) rest -= r[j] * xp[j];
    projectOut(r, q.data(), rank, count);
    double norm = 0.0;
    for (size_t j = 0; j < count; ++j) norm += r[j] * r[j];
    if (!(norm > 1.0e-20 * norm0)) {
      if (std::fabs(rest) > 0.0) return false;
      continue;
    }
    norm = std::sqrt(norm);
    for (size_t j = 0; j < count; ++j) q[rank][j] = r[j] / norm;
    for (size_t j = 0; j < count; ++j) xp[j] += rest / norm * q[rank][j];
    ++rank;
  }
  // Orthonormal basis z of the null space.
  std::array<ThetaVec, kThetaMax> z{};
  size_t free = 0;
  for (size_t e = 0; e < count && rank + free < count; ++e) {
    ThetaVec v{};
    v[e] = 1.0;
    projectOut(v, q.data(), rank, count);
    projectOut(v, z.data(), free, count);
    double norm = 0.0;
    for (size_t j = 0; j < count; ++j) norm += v[j] * v[j];
    if (norm < 1.0e-6) continue;
    norm = std::sqrt(norm);
    for (size_t j = 0; j < count; ++j) z[free][j] = v[j] / norm;
    ++free;
  }
  // Scaled model matrix A = S^-1 (H + lambda*diag(GN)) S^-1 and gradient.
  ThetaMat a{};
  ThetaVec g{};
  for (size_t j = 0; j < count; ++j) {
    g[j] = cv.aq[j] / scale[j];
    for (size_t m = 0; m < count; ++m)
      a[j][m] = symmetric(cv.hess, j, m) / (scale[j] * scale[m]) + (j == m ? lambda : 0.0);
  }
  // Reduced system (Z'AZ) y = Z'(g - A xp), by Cholesky.
  ThetaVec rhs{};
  ThetaMat reduced{};
  for (size_t x = 0; x < free; ++x) {
    for (size_t j = 0; j < count; ++j) {
      double ax = 0.0;
      for (size_t m = 0; m < count; ++m) ax += a[j][m] * xp[m];
      rhs[x] += z[x][j] * (g[j] - ax);
    }
    for (size_t y = 0; y <= x; ++y) {
      double v = 0.0;
      for (size_t j = 0; j < count; ++j)
        for (size_t m = 0; m < count; ++m) v += z[x][j] * a[j][m] * z[y][m];
      reduced[x][y] = v;
    }
  }
  ThetaMat l{};
  ThetaVec w{};
  for (size_t x = 0; x < free; ++x) {
    for (size_t y = 0; y <= x; ++y) {
      double v = reduced[x][y];
      for (size_t p = 0; p < y; ++p) v -= l[x][p] * l[y][p];
      if (x == y) {
        if (!(v > 0.0)) return false;
        l[x][x] = std::sqrt(v);
      } else {
        l[x][y] = v / l[y][y];
      }
    }
    double v = rhs[x];
    for (size_t p = 0; p < x; ++p) v -= l[x][p] * w[p];
    w[x] = v / l[x][x];
  }
  ThetaVec y{};
  for (size_t x = free; x-- > 0;) {
    double v = w[x];
    for (size_t p = x + 1; p < free; ++p) v -= l[p][x] * y[p];
    y[x] = v / l[x][x];
  }
  d = ThetaVec{};
  for (size_t j = 0; j < count; ++j) {
    double x = xp[j];
    for (size_t k = 0; k < free; ++k) x += z[k][j] * y[k];
    d[j] = x / scale[j];
  }
  return true;
}
double quadratic(const ThetaMat& m, size_t count, const ThetaVec& d) {
  double sum = 0.0;
  for (size_t j = 0; j < count; ++j)
    for (size_t i = 0; i < count; ++i) sum += d[j] * symmetric(m, j, i) * d[i];
  return sum;
}
double predictedGain(const Curvature& cv, size_t count, const ThetaVec& d) {
  double linear = 0.0;
  for (size_t j = 0; j < count; ++j) linear += cv.aq[j] * d[j];
  return 2.0 * linear - quadratic(cv.hess, count, d);
}
bool newtonSearch(const FitData& data, const Coordinates& coords, double logShiftLimit,
                  const SearchSettings& settings, ModelState& cur, ModelState& trial,
                  ModelState& spare, int32_t& evaluations) {
  const size_t count = thetaCount(cur.selector);
  const bool shift = hasShift(cur.selector);
  auto clampShift = [&](ModelState& state) {
    if (shift) state.theta[kLogShift] = std::clamp(state.theta[kLogShift], 0.0, logShiftLimit);
  };
  clampShift(cur);
  evaluate(data, coords, cur, evaluations);
  if (!std::isfinite(cur.rss)) return true;
  double lambda = kLambdaStart;
  ThetaVec previous{};
  std::array<double, kCreepWindow> recent{};
  for (int32_t iteration = 0; iteration < settings.maxIterations; ++iteration) {
    const Curvature cv = inSearchCoordinates(curvature(data, cur, count), coords, cur, count);
    if (settings.known != nullptr) {
      for (const ThetaVec& end : *settings.known) {
        ThetaVec gap{};
        for (size_t j = 0; j < count; ++j) gap[j] = end[j] - cur.theta[j];
        if (quadratic(cv.gaussNewton, count, gap) <= settings.sameValley * cur.rss) return false;
      }
    }
    const double sigma = shift ? cur.theta[kLogShift] : 0.0;
    const bool heldShift = shift && ((sigma <= 0.0 && cv.aq[kLogShift] <= 0.0) ||
                                     (sigma >= logShiftLimit && cv.aq[kLogShift] >= 0.0));
    bool stepped = false;
    bool bent = false;
    ThetaVec d{};
    // The limit the peak exponent is aimed at; lowered by the overshoot when a
    // step bent towards it lands beyond it (the peak is not linear).
    double bound = kExponentLimit - kPeakMargin;
    int32_t reaims = 0;
    for (; lambda < kLambdaMax; lambda *= kLambdaFactor) {
      StepLimits limits{heldShift, sigma, logShiftLimit, cur.peak.exponent, bound};
      bent = false;
      bool proposed = proposeStep(cv, count, lambda, limits, false, d, bent);
      // Next to the peak limit, where the model off the limit is often not
      // convex, the step along the limit.
      if (!proposed && std::fabs(cur.peak.exponent) > kExponentLimit - kNearLimit) {
        bent = true;
        proposed = proposeStep(cv, count, lambda, limits, true, d, bent);
      }
      if (!proposed) continue;
      const double promise = predictedGain(cv, count, d);
      for (size_t j = 0; j < kThetaMax; ++j) trial.theta[j] = cur.theta[j] + d[j];
      clampShift(trial);
      evaluate(data, coords, trial, evaluations);
      if (trial.rss < cur.rss) {
        const double gain = (cur.rss - trial.rss) / cur.rss;
        std::swap(cur, trial);
        lambda = std::max(lambda / kLambdaFactor, kLambdaMin);
        stepped = gain > settings.tolerance;
        break;
      }
      const double overshoot = std::fabs(trial.peak.exponent) - bound;
      if (bent && std::fabs(trial.peak.exponent) > kExponentLimit && overshoot < kReaimLimit &&
          reaims < kMaxReaims) {
        bound -= 1.5 * overshoot;
        ++reaims;
        lambda /= kLambdaFactor;  // the same damping again
        continue;
      }
      // Converged: the step failed, and a more damped one would gain even
      // less than this one's model promises.
      if (promise <= settings.tolerance * cur.rss) break;
    }
    if (!stepped) break;
    const auto slot = static_cast<size_t>(iteration % kCreepWindow);
    if (iteration >= kCreepWindow && recent[slot] - cur.rss < settings.creep * cur.rss) break;
    recent[slot] = cur.rss;
    // Along a long valley: a step much like the one before (in the metric of
    // the Gauss-Newton diagonal) is repeated, doubled while that lowers the
    // objective. A step bent along the peak limit is not: the limit is curved.
    double dot = 0.0;
    double dd = 0.0;
    double pp = 0.0;
    for (size_t j = 0; j < count; ++j) {
      const double w = cv.gaussNewton[j][j] > 0.0 ? cv.gaussNewton[j][j] : 1.0;
      dot += w * d[j] * previous[j];
      dd += w * d[j] * d[j];
      pp += w * previous[j] * previous[j];
    }
    previous = d;
    if (bent || !(dot > kStretchCosine * std::sqrt(dd * pp)) || dd < kStretchShrink * pp) continue;
    const ThetaVec from = trial.theta;
    for (double factor = 2.0; factor <= kStretchLongest; factor *= 2.0) {
      for (size_t j = 0; j < kThetaMax; ++j) spare.theta[j] = from[j] + factor * d[j];
      clampShift(spare);
      evaluate(data, coords, spare, evaluations);
      if (!(spare.rss < cur.rss)) break;
      std::swap(cur, spare);
    }
  }
  return true;
}

}  // namespace kavrel::refine
