// The data of one growth-curve fit in double precision and the model's
// regressor u^c*exp(b*u), u = t + s, for the least-squares refinement
// (amoeba_refine.cpp); a and k of a regressor by linear least squares.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "fit/amoeba.h"

namespace kavrel::refine {

inline constexpr double kInfinite = std::numeric_limits<double>::infinity();

// Largest |ln| of the regressor u^c*exp(b*u) at its peak. Beyond it the
// amplitude a, which the curve carries in single precision, would have to
// leave the float range (about e^+-87) to scale the curve to the data.
inline constexpr double kExponentLimit = 80.0;

// Largest |k| and |a|*max(g) as a multiple of the largest |value|: beyond it
// the single-precision curve a*g + k cancels away the digits of the data (a
// straight line, for instance, is the limit of a*exp(b*u) + k with b -> 0
// and huge opposite a and k).
inline constexpr double kCancellationLimit = 1.0e3;

// A recurrence exp(b*u(i+1)) = exp(b*u(i)) * exp(b*h) restarts from an exact
// exponential every this many points, which keeps its relative error near
// 1e-14.
inline constexpr int32_t kAnchorInterval = 32;

// The data of one problem in double precision, and the model's regressor
// g(u) = u^c * exp(b*u), u = t + s, at given b, s and c.
class Regressor {
 public:
  explicit Regressor(const SimplexProblem& problem)
      : t_(static_cast<size_t>(problem.n)), y_(static_cast<size_t>(problem.n)) {
    double sumY = 0.0;
    for (size_t i = 0; i < t_.size(); ++i) {
      t_[i] = static_cast<double>(problem.abscissa[i]);
      y_[i] = static_cast<double>(problem.series[i]);
      sumY += y_[i];
    }
    meanY_ = sumY / static_cast<double>(t_.size());
    for (double y : y_) {
      sumSquaresY_ += (y - meanY_) * (y - meanY_);
      largest_ = std::max(largest_, std::fabs(y));
    }
    minT_ = *std::min_element(t_.begin(), t_.end());
    span_ = *std::max_element(t_.begin(), t_.end()) - minT_ + 1.0;
    // Equally spaced positions (the dispatcher's 1..n) allow the recurrence.
    step_ = t_.size() > 1 ? t_[1] - t_[0] : 1.0;
    uniform_ = true;
    for (size_t i = 0; i < t_.size() && uniform_; ++i)
      uniform_ = t_[i] == t_[0] + static_cast<double>(i) * step_;
  }

  size_t size() const { return t_.size(); }
  double t(size_t i) const { return t_[i]; }
  double y(size_t i) const { return y_[i]; }
  double meanY() const { return meanY_; }
  double sumSquaresY() const { return sumSquaresY_; }
  // Width of the abscissa range plus one (n for positions 1..n).
  double span() const { return span_; }
  double largestValue() const { return largest_; }

  // u^c at shift s into w, and ln u into logU when given. False when a
  // shifted position is not positive.
  bool power(double s, double c, std::vector<double>& w, std::vector<double>* logU) const {
    if (!(minT_ + s > 0.0) || !std::isfinite(s) || !std::isfinite(c)) return false;
    for (size_t i = 0; i < t_.size(); ++i) {
      const double u = t_[i] + s;
      if (logU == nullptr && c == 1.0) {
        w[i] = u;
        continue;
      }
      const double logu = std::log(u);
      if (logU != nullptr) (*logU)[i] = logu;
      w[i] = std::exp(c * logu);
    }
    return true;
  }

  // g = w * exp(b*u) at shift s (w empty: the exponential alone). False when a
  // shifted position is not positive, or when the largest value is not finite
  // or lies outside e^+-kExponentLimit.
  bool fill(double b, double s, const std::vector<double>& w, std::vector<double>& g) const {
    if (!(minT_ + s > 0.0) || !std::isfinite(s) || !std::isfinite(b)) return false;
    const double ratio = uniform_ ? std::exp(b * step_) : 0.0;
    double e = 0.0;
    double top = 0.0;
    for (size_t i = 0; i < t_.size(); ++i) {
      const bool anchor = !uniform_ || i % kAnchorInterval == 0;
      e = anchor ? std::exp(b * (t_[i] + s)) : e * ratio;
      g[i] = w.empty() ? e : w[i] * e;
      top = std::max(top, g[i]);
    }
    return top > 0.0 && std::isfinite(top) && std::fabs(std::log(top)) <= kExponentLimit;
  }

 private:
  std::vector<double> t_;
  std::vector<double> y_;
  double meanY_ = 0.0;
  double sumSquaresY_ = 0.0;
  double largest_ = 0.0;
  double minT_ = 0.0;
  double span_ = 1.0;
  double step_ = 1.0;
  bool uniform_ = false;
};

// Linear least squares of the data on g: a, k and the residual sum of squares
// (kInfinite when g is constant).
inline double solveLinear(const Regressor& data, const std::vector<double>& g, double& a, double& k) {
  double sumG = 0.0;
  for (double v : g) sumG += v;
  const double meanG = sumG / static_cast<double>(g.size());
  double sgg = 0.0;
  double sgy = 0.0;
  for (size_t i = 0; i < g.size(); ++i) {
    const double dg = g[i] - meanG;
    sgg += dg * dg;
    sgy += dg * (data.y(i) - data.meanY());
  }
  if (!(sgg > 0.0) || !std::isfinite(sgg)) return kInfinite;
  a = sgy / sgg;
  k = data.meanY() - a * meanG;
  return std::max(data.sumSquaresY() - sgy * sgy / sgg, 0.0);
}

}  // namespace kavrel::refine
