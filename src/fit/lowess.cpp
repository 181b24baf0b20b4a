#include "fit/lowess.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <string>

#include "fit/fit_notes.h"
#include "util/stats.h"

namespace kavrel {

namespace {

// Passes over the series: one plain fit and two with robustness weights.
constexpr int kLowessPasses = 3;
// Residuals up to this share of the value count as zero.
constexpr float kRoundingNoise = 1.0e-6f;

}  // namespace

LowessWorkspace::LowessWorkspace(int32_t capacity)
    : capacity_(capacity),
      x_(static_cast<size_t>(capacity > 0 ? capacity : 0)),
      residuals_(x_.size()),
      robust_(x_.size()) {}

int32_t lowessWindowSize(int32_t n, float fraction) {
  // trunc(f n) in single precision, limited to n and then to at least 2; the
  // comparisons come first so that a huge or undefined product never reaches
  // the integer conversion.
  const float fn = fraction * static_cast<float>(n);
  int32_t ns = n;
  if (fn < static_cast<float>(n)) ns = fn >= 2.0f ? static_cast<int32_t>(fn) : 2;
  if (!(fn >= 2.0f)) ns = 2;
  return ns;
}

void lowessSlideWindow(std::span<const float> x, int32_t i, int32_t& nLeft, int32_t& nRight) {
  const auto n = static_cast<int32_t>(x.size());
  while (nRight < n - 1 && x[i] - x[nLeft] > x[nRight + 1] - x[i]) {
    ++nLeft;
    ++nRight;
  }
}

bool lowest(std::span<const float> x, std::span<const float> y, float xs, float& fitted,
            int32_t nLeft, int32_t nRight, std::span<float> localWeights, bool useRobustness,
            std::span<const float> robustWeights) {
  const auto n = static_cast<int32_t>(x.size());
  std::span<float> w = localWeights;
  const float range = x[n - 1] - x[0];
  const float h = std::max(xs - x[nLeft], x[nRight] - xs);
  const float h9 = 0.999f * h;
  const float h1 = 0.001f * h;

  // Tricube weights in distance; the scan picks up ties beyond the right end
  // and stops at the first point right of xs that is too far.
  double a = 0.0;
  int32_t j = nLeft;
  for (; j < n; ++j) {
    w[j] = 0.0f;
    const float r = std::fabs(x[j] - xs);
    if (r > h9) {
      if (x[j] > xs) break;
      continue;
    }
    if (r <= h1) {
      w[j] = 1.0f;
    } else {
      const float q = r / h;
      const float t = 1.0f - q * q * q;
      w[j] = t * t * t;
    }
    if (useRobustness) w[j] = robustWeights[j] * w[j];
    a += static_cast<double>(w[j]);
  }
  const int32_t nRt = j - 1;
  if (a <= 0.0) return false;

  // The weighted sums are accumulated in double and taken about xs, so that
  // neither a long window nor a large abscissa costs accuracy; the result is
  // the value at xs of the weighted least-squares line (or the weighted mean
  // when the points are too close together for a slope).
  const auto dx = [&](int32_t k) { return static_cast<double>(x[k]) - static_cast<double>(xs); };
  const auto wt = [&](int32_t k) { return static_cast<double>(w[k]) / a; };
  double m = 0.0, b = 0.0;
  if (h > 0.0f) {
    for (int32_t k = nLeft; k <= nRt; ++k) m += wt(k) * dx(k);
    double c = 0.0;
    for (int32_t k = nLeft; k <= nRt; ++k) c += wt(k) * (dx(k) - m) * (dx(k) - m);
    if (std::sqrt(c) > 0.001 * static_cast<double>(range)) b = -m / c;
  }
  double ys = 0.0;
  for (int32_t k = nLeft; k <= nRt; ++k) {
    ys += wt(k) * (b * (dx(k) - m) + 1.0) * static_cast<double>(y[k]);
  }
  fitted = static_cast<float>(ys);
  return true;
}

// The passes of lowess over one series, using a workspace's storage.
struct LowessPasses {
  LowessWorkspace& ws;

  void fitPass(std::span<const float> x, std::span<const float> y, std::span<float> curve,
               int32_t ns, bool robust) {
    const auto n = static_cast<int32_t>(y.size());
    std::span<float> local(ws.residuals_.data(), static_cast<size_t>(n));
    std::span<const float> rw(ws.robust_.data(), static_cast<size_t>(n));
    int32_t nLeft = 0, nRight = ns - 1;
    for (int32_t i = 0; i < n; ++i) {
      lowessSlideWindow(x, i, nLeft, nRight);
      float fitted = 0.0f;
      curve[i] = lowest(x, y, x[i], fitted, nLeft, nRight, local, robust, rw) ? fitted : y[i];
    }
  }

  // Bisquare weights from the residuals, scaled by six median absolute
  // residuals.
  void robustnessWeights(int32_t n) {
    std::span<float> res(ws.residuals_.data(), static_cast<size_t>(n));
    std::span<float> rw(ws.robust_.data(), static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) rw[i] = std::fabs(res[i]);
    sort(n, rw);
    const float cmad = 3.0f * (rw[n / 2] + rw[n - n / 2 - 1]);
    const float c9 = 0.999f * cmad;
    const float c1 = 0.001f * cmad;
    for (int32_t i = 0; i < n; ++i) {
      const float a = std::fabs(res[i]);
      if (a <= c1) {
        rw[i] = 1.0f;
      } else if (a <= c9) {
        const float q = a / cmad;
        const float t = 1.0f - q * q;
        rw[i] = t * t;
      } else {
        rw[i] = 0.0f;
      }
    }
  }

  // Median of |y|, sorted in the robustness-weight array (free until the
  // weights are computed).
  float medianMagnitude(std::span<const float> y) {
    const auto n = static_cast<int32_t>(y.size());
    std::span<float> s(ws.robust_.data(), static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) s[i] = std::fabs(y[i]);
    sort(n, s);
    return 0.5f * (s[n / 2] + s[n - n / 2 - 1]);
  }

  void run(std::span<const float> y, std::span<float> curve, float fraction) {
    const auto n = static_cast<int32_t>(y.size());
    std::span<float> x(ws.x_.data(), static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) x[i] = static_cast<float>(i + 1);
    const int32_t ns = lowessWindowSize(n, fraction);
    const float typical = medianMagnitude(y);
    for (int pass = 1; pass <= kLowessPasses; ++pass) {
      fitPass(x, y, curve, ns, pass > 1);
      if (pass == kLowessPasses) break;
      // A residual within a millionth of its value (or of the median
      // absolute value, for values near zero) is rounding noise of the
      // single-precision curve and counts as zero; otherwise an exact fit (a
      // straight line, say) would get arbitrary robustness weights.
      for (int32_t i = 0; i < n; ++i) {
        const float r = y[i] - curve[i];
        const float noise = kRoundingNoise * std::max(std::fabs(y[i]), typical);
        ws.residuals_[i] = std::fabs(r) <= noise ? 0.0f : r;
      }
      robustnessWeights(n);
    }
  }
};

void lowess(std::span<const float> series, std::span<float> curve, float fraction,
            LowessWorkspace& work) {
  const auto n = static_cast<int32_t>(series.size());
  assert(curve.size() >= series.size());
  if (n <= 0) return;
  if (n > work.capacity()) {
    throw FitFailure("\n*** series too long for lowess subroutine: " + std::to_string(n) +
                         " values, at most " + std::to_string(work.capacity()) + " ***\n",
                     false);
  }
  if (n == 1) {
    curve[0] = series[0];
    return;
  }
  LowessPasses passes{work};
  passes.run(series, curve, fraction);
}

void lowess(std::span<const float> series, std::span<float> curve, float fraction) {
  LowessWorkspace work(static_cast<int32_t>(std::min<size_t>(series.size(), kFitCapacity)));
  lowess(series, curve, fraction, work);
}

}  // namespace kavrel
