// Model evaluation of the growth-curve refinement: the regressor and its
// peak, the residual sum of squares with a and k solved by linear least
// squares, and the exact gradient and Hessian of that objective.
#include <algorithm>
#include <array>
#include <cmath>

#include "fit/newton_search.h"

namespace kavrel::refine {

namespace {

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

}  // namespace kavrel::refine
