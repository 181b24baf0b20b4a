// Damped Newton search for the least-squares refinement of the growth-curve
// family a*u^c*exp(b*u) + k, u = t + s (least_squares_refine.cpp): the objective as
// a function of the nonlinear parameters alone, with a and k solved by linear
// least squares at every point (variable projection; Golub, G.H. & Pereyra,
// V. 1973, SIAM J. Numer. Anal. 10: 413-432), its exact gradient and Hessian,
// and a search that keeps the shift and the regressor's range within bounds.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "fit/amoeba.h"
#include "fit/refine_regressor.h"

namespace kavrel::refine {

// Parameters inside the refinement, in this order for every selector.
enum Param : size_t { kA = 0, kK = 1, kB = 2, kS = 3, kC = 4 };
constexpr size_t kParams = 5;
using Params = std::array<double, kParams>;

inline bool hasShift(int32_t modelSelector) { return modelSelector != kModelNegExp; }
inline double fixedExponent(int32_t modelSelector) {
  return modelSelector == kModelGenExp ? 1.0 : 0.0;
}

// Nonlinear parameters of the search: the rate b, the log-shift
// sigma = ln(1 + s) (which spreads the shift's wide range evenly) and the
// exponent c, as far as the selector has them. a and k are solved by linear
// least squares at every point (variable projection), so the objective is a
// function of these alone.
enum Theta : size_t { kRate = 0, kLogShift = 1, kExponent = 2 };
constexpr size_t kThetaMax = 3;
using ThetaVec = std::array<double, kThetaMax>;
using ThetaMat = std::array<std::array<double, kThetaMax>, kThetaMax>;  // lower triangle used

inline size_t thetaCount(int32_t modelSelector) {
  return modelSelector == kModelNegExp ? 1 : (modelSelector == kModelGenExp ? 2 : 3);
}

// The searches move in coordinates that straighten the model's long curved
// valleys: with U = centre + s (centre the middle of the abscissa range),
// ln g = c*ln(u) + b*u has slope beta1 = b + c/U and curvature -beta2/2,
// beta2 = c/U^2, at the centre, and these are what the data fix; trading
// shift against exponent and rate along a valley keeps them. Search
// coordinates are (beta1, sigma, beta2) for the Hugershoff curve, (beta1,
// sigma) for the general exponential (c = 1), and b for the negative
// exponential.
class Coordinates {
 public:
  Coordinates(int32_t modelSelector, double centre) : selector_(modelSelector), centre_(centre) {}

  // Rate b, log-shift sigma and exponent c at search point x.
  ThetaVec natural(const ThetaVec& x) const {
    if (selector_ == kModelNegExp) return {x[0], 0.0, 0.0};
    const double big = centre_ + std::expm1(x[kLogShift]);
    if (selector_ == kModelGenExp) return {x[0] - 1.0 / big, x[kLogShift], 1.0};
    const double c = x[2] * big * big;
    return {x[0] - x[2] * big, x[kLogShift], c};
  }

  // The search point of rate b, log-shift sigma and exponent c.
  ThetaVec search(double b, double sigma, double c) const {
    if (selector_ == kModelNegExp) return {b, 0.0, 0.0};
    const double big = centre_ + std::expm1(sigma);
    if (selector_ == kModelGenExp) return {b + 1.0 / big, sigma, 0.0};
    return {b + c / big, sigma, c / (big * big)};
  }
  ThetaVec search(const Params& p) const {
    return search(p[kB], std::log1p(std::max(p[kS], 0.0)), p[kC]);
  }

  // First derivatives of (b, sigma, c) in the search coordinates at x,
  // jacobian[natural][search], and the second ones, second[natural][j][m]
  // (lower triangle).
  void derivatives(const ThetaVec& x, ThetaMat& jacobian,
                   std::array<ThetaMat, kThetaMax>& second) const {
    jacobian = ThetaMat{};
    second = {};
    for (size_t j = 0; j < kThetaMax; ++j) jacobian[j][j] = 1.0;
    if (selector_ == kModelNegExp) return;
    const double e1 = std::exp(x[kLogShift]);  // dU/dsigma
    const double big = centre_ + e1 - 1.0;
    if (selector_ == kModelGenExp) {
      jacobian[kRate][kLogShift] = e1 / (big * big);
      second[kRate][kLogShift][kLogShift] = e1 / (big * big) - 2.0 * e1 * e1 / (big * big * big);
      return;
    }
    const double beta2 = x[2];
    jacobian[kRate][kLogShift] = -beta2 * e1;
    jacobian[kRate][kExponent] = -big;
    jacobian[kExponent][kLogShift] = 2.0 * beta2 * big * e1;
    jacobian[kExponent][kExponent] = big * big;
    second[kRate][kLogShift][kLogShift] = -beta2 * e1;
    second[kRate][kExponent][kLogShift] = -e1;
    second[kExponent][kLogShift][kLogShift] = 2.0 * beta2 * e1 * (e1 + big);
    second[kExponent][kExponent][kLogShift] = 2.0 * big * e1;
  }

 private:
  int32_t selector_;
  double centre_;
};

inline double symmetric(const ThetaMat& m, size_t j, size_t i) {
  return j >= i ? m[j][i] : m[i][j];
}

// The peak of ln g = c*ln(u) + b*u over the positions: its value and where.
struct Peak {
  double exponent = -kInfinite;
  double u = 0.0;
};

// The model at one point theta: shift, regressor g (and its slope h = dg/dt
// at the runs), ln u (Hugershoff only), the least-squares a and k, the
// residuals of the values (and slopes) and the residual sum of squares.
struct ModelState {
  ModelState(const FitData& data, int32_t modelSelector)
      : selector(modelSelector),
        g(data.size()),
        h(data.hasSlopes() ? data.size() : 0),
        logU(modelSelector == kModelHugershoff ? data.size() : 0),
        r(data.size()),
        rho(data.hasSlopes() ? data.size() : 0) {}

  int32_t selector;
  ThetaVec theta{};    // search coordinates
  ThetaVec natural{};  // rate b, log-shift sigma, exponent c
  double shift = 0.0;
  double a = 0.0;
  double k = 0.0;
  double meanG = 0.0;
  std::vector<double> g;
  std::vector<double> h;
  std::vector<double> logU;
  std::vector<double> r;
  std::vector<double> rho;
  double rss = kInfinite;
  Peak peak;                     // of the regressor
  double logUShift = kInfinite;  // the shift at which logU was computed

  double exponent() const {
    return selector == kModelHugershoff ? natural[kExponent] : fixedExponent(selector);
  }
  Params params() const { return {a, k, natural[kRate], shift, exponent()}; }
};

// The peak over the whole abscissa range of the data, at its ends or at the
// interior maximum u = -c/b. On runs this bounds the largest value at the
// data's own positions, so a point the runs accept is one the data accept too.
Peak rangePeak(const FitData& data, double b, double c, double s);

// The regressor at the state's parameters into state.g (and state.h), and its
// peak into state.peak; false when a shifted position is not positive or the
// peak is out of range.
bool fillRegressor(const FitData& data, ModelState& state);

// Evaluates the model at state.theta; rss is kInfinite when it can't be formed.
void evaluate(const FitData& data, const Coordinates& coords, ModelState& state,
              int32_t& evaluations);

// Half the gradient and Hessian of the objective F(theta) = min over a, k of
// the residual sum of squares, at a state. With x the regressor of every
// value (g) and slope (h), X its derivatives, x~ and X~ with the weighted mean
// of the values' part removed, q = X'r, psi = X~'x~, S = x~'x~ and
// R = sum r * d2x (all weighted), F/2 has gradient -a*q and Hessian
//   a^2 (X~'X~ - psi psi'/S) - a R + a (q psi' + psi q')/S - q q'/S.
// The first term alone is the Gauss-Newton matrix; the others matter when the
// residuals are large, as they are for ring widths.
struct Curvature {
  ThetaVec aq{};    // -gradient/2
  ThetaMat hess{};  // Hessian/2
  ThetaMat gaussNewton{};
  ThetaVec peakSlope{};  // gradient of the regressor's peak exponent
};
Curvature curvature(const FitData& data, const ModelState& state, size_t count);

// The curvature in search coordinates, by the chain rule.
Curvature inSearchCoordinates(const Curvature& cv, const Coordinates& coords,
                              const ModelState& state, size_t count);

// Linear equality constraints row.d = value on a step (at most two: the
// shift held at a bound, the peak exponent held at its limit).
struct Constraints {
  std::array<ThetaVec, 2> rows{};
  std::array<double, 2> values{};
  size_t size = 0;
  void add(const ThetaVec& row, double value) {
    rows[size] = row;
    values[size] = value;
    ++size;
  }
};
// The step d that maximises the model's gain 2*aq.d - d'(H + lambda*diag(GN))d
// subject to the constraints, by the null-space method in coordinates scaled
// by the Gauss-Newton diagonal. False when the model is not convex on the
// constraints' null space, or the constraints contradict each other.
bool solveStep(const Curvature& cv, size_t count, double lambda, const Constraints& cons,
               ThetaVec& d);

// The quadratic form d'Md of a symmetric matrix (lower triangle).
double quadratic(const ThetaMat& m, size_t count, const ThetaVec& d);

// Decrease of the objective that the quadratic model predicts for step d.
double predictedGain(const Curvature& cv, size_t count, const ThetaVec& d);

// When a search ends, besides failing steps and maxIterations.
struct SearchSettings {
  int32_t maxIterations = 200;  // >= 1
  double tolerance = 1.0e-13;   // least relative gain of a step
  double creep = 1.0e-9;        // least relative gain of 8 steps together
  // Ends of earlier searches: coming close to one ends the search.
  const std::vector<ThetaVec>* known = nullptr;
  double sameValley = 1.0e-3;  // how close, as a rise of the objective relative to it
};

// Damped Newton from cur.theta (search coordinates) with the log-shift kept in
// [0, logShiftLimit]: a shift at a bound that the gradient pushes outwards is
// held there while the other parameters go on, and a step across a bound stops
// at the bound. The regressor's peak exponent is kept within
// +-kExponentLimit the same way: a step that would cross it slides along it.
// Ends as SearchSettings say, when no damping gives a lower objective, or
// after maxIterations. cur holds the result; trial and spare are work space.
// Returns false when the search ran into a known end.
bool newtonSearch(const FitData& data, const Coordinates& coords, double logShiftLimit,
                  const SearchSettings& settings, ModelState& cur, ModelState& trial,
                  ModelState& spare, int32_t& evaluations);

}  // namespace kavrel::refine
