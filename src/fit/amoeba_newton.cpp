// Damped Newton search of the growth-curve refinement: model evaluation,
// exact derivatives of the variable-projection objective, and steps within the
// shift bounds and the regressor's range.
#include "fit/amoeba_newton.h"

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

// Derivatives in theta at point i of g and, for runs, of its slope h = g*B
// with B = b + c/u: first ones, and second ones (lower triangle) when asked.
// d/dsigma = (1 + s) d/ds, and d ln g / ds = B.
struct PointDerivatives {
  ThetaVec g1{};
  ThetaMat g2{};
  ThetaVec h1{};
  ThetaMat h2{};
};

void pointDerivatives(const FitData& data, const ModelState& state, size_t i, size_t count,
                      bool second, PointDerivatives& d) {
  const double g = state.g[i];
  const double u = data.t(i) + state.shift;
  const double c = state.exponent();
  const double e1 = 1.0 + state.shift;
  const double slope = state.natural[kRate] + c / u;
  const double logu = count > kExponent ? state.logU[i] : 0.0;
  d.g1[kRate] = u * g;
  if (count > kLogShift) d.g1[kLogShift] = e1 * slope * g;
  if (count > kExponent) d.g1[kExponent] = logu * g;
  if (second) {
    d.g2[kRate][kRate] = u * u * g;
    if (count > kLogShift) {
      d.g2[kLogShift][kRate] = e1 * (1.0 + slope * u) * g;
      d.g2[kLogShift][kLogShift] = e1 * slope * g + e1 * e1 * (slope * slope - c / (u * u)) * g;
    }
    if (count > kExponent) {
      d.g2[kExponent][kRate] = u * logu * g;
      d.g2[kExponent][kLogShift] = e1 * (1.0 / u + logu * slope) * g;
      d.g2[kExponent][kExponent] = logu * logu * g;
    }
  }
  if (!data.hasSlopes()) return;
  // B's derivatives: dB/db = 1, dB/dsigma = -e1*c/u^2, dB/dc = 1/u; the only
  // second ones are in sigma,sigma and c,sigma.
  ThetaVec b1{};
  b1[kRate] = 1.0;
  if (count > kLogShift) b1[kLogShift] = -e1 * c / (u * u);
  if (count > kExponent) b1[kExponent] = 1.0 / u;
  for (size_t j = 0; j < count; ++j) d.h1[j] = d.g1[j] * slope + g * b1[j];
  if (!second) return;
  ThetaMat b2{};
  if (count > kLogShift)
    b2[kLogShift][kLogShift] = -e1 * c / (u * u) + 2.0 * e1 * e1 * c / (u * u * u);
  if (count > kExponent) b2[kExponent][kLogShift] = -e1 / (u * u);
  for (size_t j = 0; j < count; ++j)
    for (size_t m = 0; m <= j; ++m)
      d.h2[j][m] = d.g2[j][m] * slope + d.g1[j] * b1[m] + b1[j] * d.g1[m] + g * b2[j][m];
}

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

}  // namespace

Peak rangePeak(const FitData& data, double b, double c, double s) {
  const auto at = [&](double u) { return Peak{(c == 0.0 ? 0.0 : c * std::log(u)) + b * u, u}; };
  Peak top = at(data.minT() + s);
  const Peak hi = at(data.maxT() + s);
  if (hi.exponent > top.exponent) top = hi;
  if (c > 0.0 && b < 0.0) {
    const double u = -c / b;
    if (u > data.minT() + s && u < data.maxT() + s && at(u).exponent > top.exponent) top = at(u);
  }
  return top;
}

bool fillRegressor(const FitData& data, ModelState& state) {
  state.peak = Peak{};
  const double b = state.natural[kRate];
  const double c = state.exponent();
  const double s = state.shift;
  if (!(data.minT() + s > 0.0) || !std::isfinite(s) || !std::isfinite(b) || !std::isfinite(c))
    return false;
  const size_t n = data.size();
  Peak top;
  if (state.selector == kModelHugershoff) {
    // ln u depends on the shift alone, which a search often holds.
    if (state.logUShift != s) {
      for (size_t i = 0; i < n; ++i) state.logU[i] = std::log(data.t(i) + s);
      state.logUShift = s;
    }
    for (size_t i = 0; i < n; ++i) {
      const double u = data.t(i) + s;
      const double e = c * state.logU[i] + b * u;
      if (e > top.exponent) top = Peak{e, u};
      state.g[i] = std::exp(e);
    }
  } else {
    // exp(b*u) by recurrence on equally spaced positions (the dispatcher's 1..n).
    const bool power = state.selector == kModelGenExp;
    const double ratio = data.uniform() ? std::exp(b * data.step()) : 0.0;
    double e = 0.0;
    double largest = 0.0;
    size_t at = 0;
    for (size_t i = 0; i < n; ++i) {
      const double u = data.t(i) + s;
      const bool anchor = !data.uniform() || i % kAnchorInterval == 0;
      e = anchor ? std::exp(b * u) : e * ratio;
      state.g[i] = power ? u * e : e;
      if (state.g[i] > largest) {
        largest = state.g[i];
        at = i;
      }
    }
    if (largest > 0.0) top = Peak{std::log(largest), data.t(at) + s};
  }
  if (data.hasSlopes()) {
    for (size_t i = 0; i < n; ++i) state.h[i] = state.g[i] * (b + c / (data.t(i) + s));
    top = rangePeak(data, b, c, s);
  }
  state.peak = top;
  return std::fabs(top.exponent) <= kExponentLimit;
}

void evaluate(const FitData& data, const Coordinates& coords, ModelState& state,
              int32_t& evaluations) {
  ++evaluations;
  state.rss = kInfinite;
  state.natural = coords.natural(state.theta);
  state.shift = hasShift(state.selector) ? std::expm1(state.natural[kLogShift]) : 0.0;
  if (!fillRegressor(data, state)) return;
  if (!std::isfinite(solveLinear(data, state.g, state.h, state.a, state.k, state.meanG))) return;
  double sum = data.unexplained();
  for (size_t i = 0; i < state.g.size(); ++i) {
    state.r[i] = data.y(i) - (state.a * state.g[i] + state.k);
    sum += data.w(i) * state.r[i] * state.r[i];
  }
  if (data.hasSlopes()) {
    for (size_t i = 0; i < state.h.size(); ++i) {
      state.rho[i] = data.slope(i) - state.a * state.h[i];
      sum += data.slopeW(i) * state.rho[i] * state.rho[i];
    }
  }
  if (std::isfinite(sum)) state.rss = sum;
}

Curvature curvature(const FitData& data, const ModelState& state, size_t count) {
  const size_t n = state.g.size();
  const bool slopes = data.hasSlopes();
  ThetaVec meanD{};
  ThetaVec q{};
  ThetaMat rd2{};
  PointDerivatives d;
  for (size_t i = 0; i < n; ++i) {
    pointDerivatives(data, state, i, count, true, d);
    const double w = data.w(i);
    const double wr = w * state.r[i];
    const double vr = slopes ? data.slopeW(i) * state.rho[i] : 0.0;
    for (size_t j = 0; j < count; ++j) {
      meanD[j] += w * d.g1[j];
      q[j] += wr * d.g1[j] + vr * d.h1[j];
      for (size_t m = 0; m <= j; ++m) rd2[j][m] += wr * d.g2[j][m] + vr * d.h2[j][m];
    }
  }
  for (size_t j = 0; j < count; ++j) meanD[j] /= data.weightSum();
  ThetaMat dd{};
  ThetaVec psi{};
  double xx = 0.0;
  for (size_t i = 0; i < n; ++i) {
    pointDerivatives(data, state, i, count, false, d);
    const double w = data.w(i);
    const double dg = state.g[i] - state.meanG;
    xx += w * dg * dg;
    for (size_t j = 0; j < count; ++j) {
      const double dj = d.g1[j] - meanD[j];
      psi[j] += w * dj * dg;
      for (size_t m = 0; m <= j; ++m) dd[j][m] += w * dj * (d.g1[m] - meanD[m]);
    }
    if (!slopes) continue;
    const double v = data.slopeW(i);
    xx += v * state.h[i] * state.h[i];
    for (size_t j = 0; j < count; ++j) {
      psi[j] += v * d.h1[j] * state.h[i];
      for (size_t m = 0; m <= j; ++m) dd[j][m] += v * d.h1[j] * d.h1[m];
    }
  }
  Curvature cv;
  // The peak ln g = c*ln(u) + b*u moves with its position held (at an interior
  // peak its slope in u is 0).
  const double peakU = state.peak.u;
  cv.peakSlope[kRate] = peakU;
  if (count > kLogShift)
    cv.peakSlope[kLogShift] =
        (1.0 + state.shift) * (state.natural[kRate] + state.exponent() / peakU);
  if (count > kExponent) cv.peakSlope[kExponent] = std::log(peakU);
  const double a = state.a;
  for (size_t j = 0; j < count; ++j) {
    cv.aq[j] = a * q[j];
    for (size_t m = 0; m <= j; ++m) {
      cv.gaussNewton[j][m] = a * a * (dd[j][m] - psi[j] * psi[m] / xx);
      cv.hess[j][m] = cv.gaussNewton[j][m] - a * rd2[j][m] +
                      a * (q[j] * psi[m] + psi[j] * q[m]) / xx - q[j] * q[m] / xx;
    }
  }
  return cv;
}

Curvature inSearchCoordinates(const Curvature& cv, const Coordinates& coords,
                              const ModelState& state, size_t count) {
  ThetaMat jac{};
  std::array<ThetaMat, kThetaMax> second{};
  coords.derivatives(state.theta, jac, second);
  Curvature out;
  for (size_t x = 0; x < count; ++x) {
    for (size_t k = 0; k < count; ++k) {
      out.aq[x] += jac[k][x] * cv.aq[k];
      out.peakSlope[x] += jac[k][x] * cv.peakSlope[k];
    }
    for (size_t y = 0; y <= x; ++y) {
      double h = 0.0;
      double gn = 0.0;
      for (size_t k = 0; k < count; ++k) {
        for (size_t l = 0; l < count; ++l) {
          h += jac[k][x] * symmetric(cv.hess, k, l) * jac[l][y];
          gn += jac[k][x] * symmetric(cv.gaussNewton, k, l) * jac[l][y];
        }
        h -= cv.aq[k] * second[k][x][y];
      }
      out.hess[x][y] = h;
      out.gaussNewton[x][y] = gn;
    }
  }
  return out;
}

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
    for (size_t k = 0; k < rank; ++k) {
      double dot = 0.0;
      for (size_t j = 0; j < count; ++j) dot += r[j] * q[k][j];
      for (size_t j = 0; j < count; ++j) r[j] -= dot * q[k][j];
    }
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
    for (size_t k = 0; k < rank; ++k) {
      double dot = 0.0;
      for (size_t j = 0; j < count; ++j) dot += v[j] * q[k][j];
      for (size_t j = 0; j < count; ++j) v[j] -= dot * q[k][j];
    }
    for (size_t k = 0; k < free; ++k) {
      double dot = 0.0;
      for (size_t j = 0; j < count; ++j) dot += v[j] * z[k][j];
      for (size_t j = 0; j < count; ++j) v[j] -= dot * z[k][j];
    }
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
