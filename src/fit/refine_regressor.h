// The points of one growth-curve fit in double precision for the least-squares
// refinement (least_squares_refine.cpp), either the data themselves or a cheaper
// stand-in made of run means, and the weighted linear least squares that
// gives a and k of a*g + k for a regressor g.
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

// Weighted points (t, y, w): the data themselves (every weight 1), or runs of
// consecutive values. A run stands for its values by their mean y (weight:
// the run length) and by their least-squares slope in t (weight: the sum of
// squares of t about the run's mean t). A curve f that is close to a straight
// line across every run then has nearly the residual sum of squares of the
// data:
//   sum w (y - f(t))^2 + sum v (slope - f'(t))^2 + constant,
// with v the slope weight, at a fraction of the cost.
class FitData {
 public:
  explicit FitData(const SimplexProblem& problem) {
    const auto n = static_cast<size_t>(problem.n);
    t_.resize(n);
    y_.resize(n);
    w_.assign(n, 1.0);
    for (size_t i = 0; i < n; ++i) {
      t_[i] = static_cast<double>(problem.abscissa[i]);
      y_[i] = static_cast<double>(problem.series[i]);
    }
    step_ = n > 1 ? t_[1] - t_[0] : 1.0;
    uniform_ = true;
    for (size_t i = 0; i < n && uniform_; ++i)
      uniform_ = t_[i] == t_[0] + static_cast<double>(i) * step_;
    minT_ = *std::min_element(t_.begin(), t_.end());
    maxT_ = *std::max_element(t_.begin(), t_.end());
    for (double y : y_) largest_ = std::max(largest_, std::fabs(y));
    finish(0.0);
  }

  // Runs of consecutive values of `data`, one value long at both ends, where
  // growth curves bend most, and lengthening towards the middle by one value
  // every `growth` positions from the nearer end.
  static FitData runs(const FitData& data, int32_t growth) {
    FitData out;
    const size_t n = data.size();
    const auto grow = static_cast<size_t>(std::max(growth, 1));
    double within = 0.0;
    for (size_t i = 0; i < n;) {
      const size_t fromEnd = n - i;
      const size_t length = std::max<size_t>(1, std::min(i + 1, fromEnd) / grow);
      const size_t end = i + std::min(length, fromEnd);
      double sumT = 0.0;
      double sumY = 0.0;
      for (size_t j = i; j < end; ++j) {
        sumT += data.t_[j];
        sumY += data.y_[j];
      }
      const auto count = static_cast<double>(end - i);
      const double meanT = sumT / count;
      const double meanY = sumY / count;
      double stt = 0.0;
      double sty = 0.0;
      for (size_t j = i; j < end; ++j) {
        const double dy = data.y_[j] - meanY;
        within += dy * dy;
        stt += (data.t_[j] - meanT) * (data.t_[j] - meanT);
        sty += (data.t_[j] - meanT) * dy;
      }
      out.t_.push_back(meanT);
      out.y_.push_back(meanY);
      out.w_.push_back(count);
      out.slope_.push_back(stt > 0.0 ? sty / stt : 0.0);
      out.slopeW_.push_back(stt);
      // The part of the run's spread that its slope explains is carried by the
      // slope term.
      if (stt > 0.0) within -= sty * sty / stt;
      i = end;
    }
    out.minT_ = data.minT_;
    out.maxT_ = data.maxT_;
    out.largest_ = data.largest_;
    out.finish(within);
    return out;
  }

  size_t size() const { return t_.size(); }
  double t(size_t i) const { return t_[i]; }
  double y(size_t i) const { return y_[i]; }
  double w(size_t i) const { return w_[i]; }
  // Runs: the slope of run i and its weight; the data have none.
  bool hasSlopes() const { return !slope_.empty(); }
  double slope(size_t i) const { return slope_[i]; }
  double slopeW(size_t i) const { return slopeW_[i]; }
  double weightSum() const { return weightSum_; }
  double meanY() const { return meanY_; }
  // Sum of squares of the data about their mean.
  double sumSquaresY() const { return sumSquaresY_; }
  // What no curve through the runs can explain: the residual sum of squares
  // is this plus the weighted squared misfits of means and slopes.
  double unexplained() const { return unexplained_; }
  // The smallest and largest abscissa of the data, the width of their range
  // plus one (n for positions 1..n) and the largest |value|.
  double minT() const { return minT_; }
  double maxT() const { return maxT_; }
  double span() const { return maxT_ - minT_ + 1.0; }
  double largestValue() const { return largest_; }
  // Equally spaced abscissae (the data, with the dispatcher's 1..n) and their
  // spacing.
  bool uniform() const { return uniform_; }
  double step() const { return step_; }

 private:
  FitData() = default;

  void finish(double unexplained) {
    weightSum_ = 0.0;
    double sumWY = 0.0;
    for (size_t i = 0; i < t_.size(); ++i) {
      weightSum_ += w_[i];
      sumWY += w_[i] * y_[i];
    }
    meanY_ = sumWY / weightSum_;
    unexplained_ = unexplained;
    sumSquaresY_ = unexplained;
    for (size_t i = 0; i < t_.size(); ++i)
      sumSquaresY_ += w_[i] * (y_[i] - meanY_) * (y_[i] - meanY_);
    for (size_t i = 0; i < slope_.size(); ++i) sumSquaresY_ += slopeW_[i] * slope_[i] * slope_[i];
  }

  std::vector<double> t_;
  std::vector<double> y_;
  std::vector<double> w_;
  std::vector<double> slope_;
  std::vector<double> slopeW_;
  double weightSum_ = 0.0;
  double meanY_ = 0.0;
  double sumSquaresY_ = 0.0;
  double unexplained_ = 0.0;
  double largest_ = 0.0;
  double minT_ = 0.0;
  double maxT_ = 0.0;
  double step_ = 1.0;
  bool uniform_ = false;
};

// a and k of the weighted least-squares curve a*g + k through the values (and,
// for runs, a*h through the slopes, h = dg/dt), and its residual sum of
// squares; kInfinite when g is constant. meanG is the weighted mean of g.
inline double solveLinear(const FitData& data, const std::vector<double>& g,
                          const std::vector<double>& h, double& a, double& k, double& meanG) {
  double sumG = 0.0;
  for (size_t i = 0; i < g.size(); ++i) sumG += data.w(i) * g[i];
  meanG = sumG / data.weightSum();
  double sgg = 0.0;
  double sgy = 0.0;
  for (size_t i = 0; i < g.size(); ++i) {
    const double wdg = data.w(i) * (g[i] - meanG);
    sgg += wdg * (g[i] - meanG);
    sgy += wdg * (data.y(i) - data.meanY());
  }
  if (data.hasSlopes()) {
    for (size_t i = 0; i < g.size(); ++i) {
      sgg += data.slopeW(i) * h[i] * h[i];
      sgy += data.slopeW(i) * h[i] * data.slope(i);
    }
  }
  if (!(sgg > 0.0) || !std::isfinite(sgg)) return kInfinite;
  a = sgy / sgg;
  k = data.meanY() - a * meanG;
  return std::max(data.sumSquaresY() - sgy * sgy / sgg, 0.0);
}

// True when the largest regressor value lies inside e^+-kExponentLimit.
inline bool regressorInRange(double top) {
  static const double lowest = std::exp(-kExponentLimit);
  static const double highest = std::exp(kExponentLimit);
  return top >= lowest && top <= highest;
}

}  // namespace kavrel::refine
