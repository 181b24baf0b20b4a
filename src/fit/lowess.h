// Cleveland's robust locally weighted regression (Cleveland 1979, JASA
// 74:829-836; Cleveland 1981, Am. Stat. 35:54): at every position a straight
// line fitted by weighted least squares to the nearest neighbours with tricube
// weights in distance, then two more passes with bisquare robustness weights.
//
// The abscissa is the position 1..n itself; positions map to indices 0..n-1.
// Values, weights and the curve are single precision; the weighted sums of
// each local fit are accumulated in double about the fitted position, so
// that long windows lose no accuracy. Every position is fitted directly.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "fit/detrend2.h"

namespace kavrel {

// Abscissa, residuals and robustness weights, sized once for up to
// `capacity` values and reused by every call.
class LowessWorkspace {
 public:
  explicit LowessWorkspace(int32_t capacity = kFitCapacity);
  int32_t capacity() const { return capacity_; }

 private:
  friend struct LowessPasses;
  int32_t capacity_;
  std::vector<float> x_;          // abscissa 1..n
  std::vector<float> residuals_;  // residuals; local weights inside lowest()
  std::vector<float> robust_;     // robustness weights; sorting scratch before they are computed
};

// Number of points in each local window for fraction f of n values:
// trunc(f n), limited to 2..n.
int32_t lowessWindowSize(int32_t n, float fraction);

// Robust lowess smooth of series[0..n-1] (n = series.size()) with window
// fraction `fraction` into curve[0..n-1]: three passes, the last two with
// robustness weights (six median absolute residuals as the bisquare scale).
// A residual within a millionth of its value (or of the median absolute
// value) counts as zero, so that an exact fit keeps weights of 1. n = 1
// copies the value. More values than the workspace holds (5000 without a
// workspace, which then is allocated for the call) raises FitFailure.
void lowess(std::span<const float> series, std::span<float> curve, float fraction);
void lowess(std::span<const float> series, std::span<float> curve, float fraction,
            LowessWorkspace& work);

// Moves the window [nLeft, nRight] (0-based, inclusive) one place to the right
// while the point beyond its right end is nearer to x[i] than its left end;
// on a tie it stays, so of two equally near points the left one is kept.
void lowessSlideWindow(std::span<const float> x, int32_t i, int32_t& nLeft, int32_t& nRight);

// Local line fit at abscissa xs over the window [nLeft, nRight] (0-based,
// inclusive) of x[0..n-1] (n = x.size()), y as x. localWeights (n values) is
// scratch; robustWeights multiplies the tricube weights when useRobustness.
// Returns false, leaving `fitted` alone, when every weight is 0.
bool lowest(std::span<const float> x, std::span<const float> y, float xs, float& fitted,
            int32_t nLeft, int32_t nRight, std::span<float> localWeights, bool useRobustness,
            std::span<const float> robustWeights);

}  // namespace kavrel
