// Negative exponential by a rate search with linear least squares for the
// amplitude and asymptote, and the least-squares straight line.
#include "fit/curve.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <stdexcept>

namespace kavrel {

namespace {

// Least-squares solution y = k + a*e(t) at one trial rate.
struct RateFit {
  bool ok = false;  // false: exponent or regressor sums out of range
  double a = 0.0;
  double k = 0.0;
  double rss = 0.0;  // residual sum of squares
};

// `expWork` keeps exp(-rate*t) for the residual pass when it holds n values;
// otherwise the exponentials are computed again (same values either way).
RateFit fitAtRate(std::span<const float> series, int32_t n, double rate,
                  std::span<double> expWork) {
  RateFit fit;
  const bool keep = static_cast<int32_t>(expWork.size()) >= n;
  double se = 0.0;
  double see = 0.0;
  double sy = 0.0;
  double sey = 0.0;
  for (int32_t t = 1; t <= n; ++t) {
    const double td = static_cast<double>(t);
    if (td * std::fabs(rate) > kCurveMaxExponent) return fit;
    const double e = std::exp(-rate * td);
    if (keep) expWork[static_cast<size_t>(t - 1)] = e;
    const double y = static_cast<double>(series[static_cast<size_t>(t - 1)]);
    se += e;
    see += e * e;
    sy += y;
    sey += e * y;
  }
  if (se > kCurveMaxSum || see > kCurveMaxSum || se < kCurveMinSum || see < kCurveMinSum) {
    return fit;
  }
  const double nd = static_cast<double>(n);
  fit.k = (see * sy - se * sey) / (see * nd - se * se);
  fit.a = (sy - nd * fit.k) / se;
  double rss = 0.0;
  for (int32_t t = 1; t <= n; ++t) {
    const double e =
        keep ? expWork[static_cast<size_t>(t - 1)] : std::exp(-rate * static_cast<double>(t));
    const double r = static_cast<double>(series[static_cast<size_t>(t - 1)]) - fit.k - fit.a * e;
    rss += r * r;
  }
  fit.rss = rss;
  fit.ok = true;
  return fit;
}

void markFailed(std::span<float> fitted, CurveParams& params) {
  params[1] = kCurveFailedRate;
  if (!fitted.empty()) fitted[0] = kCurveFailedRate;
}

// ">> sbr <name>: only<n, i8> ..." lines.
std::string countLine(const char* head, int32_t n, const char* tail) {
  char count[16];
  std::snprintf(count, sizeof count, "%8d", n);
  return std::string(head) + count + tail;
}

// Mean of `count` values starting at `first`, in double precision.
double blockMean(std::span<const float> series, int32_t first, int32_t count) {
  double sum = 0.0;
  for (int32_t i = first; i < first + count; ++i) {
    sum += static_cast<double>(series[static_cast<size_t>(i)]);
  }
  return sum / static_cast<double>(count);
}

}  // namespace

void curve(int32_t nCurve, int32_t n, std::span<const float> series, std::span<float> fitted,
           CurveParams& params, FitNotes* notes) {
  if (n > static_cast<int32_t>(series.size()) || nCurve > static_cast<int32_t>(fitted.size())) {
    throw std::out_of_range("curve: n or nCurve exceeds the array length");
  }
  if (n < kCurveMinValues) {
    note(notes, countLine(">> sbr curve: only", n, " values, no exponential curve fit"));
    markFailed(fitted, params);
    return;
  }

  // Starting rate from the log ratio of the mean of the first and the last ten
  // values. A non-positive mean has no logarithm: no fit.
  const double yFirst = blockMean(series, 0, kCurveEndValues);
  const double yLast = blockMean(series, n - kCurveEndValues, kCurveEndValues);
  if (!(yFirst > 0.0) || !(yLast > 0.0)) {
    note(notes, ">> sbr curve: mean of first or last ten values <= 0, no exponential curve fit");
    markFailed(fitted, params);
    return;
  }
  double b0 = (std::log(yFirst) - std::log(yLast)) / static_cast<double>(n - kCurveEndValues);
  if (b0 <= 0.0) b0 = kCurveMinStartRate;

  std::array<double, kFitCapacity> expWork;
  double step = kCurveInitialStep;
  bool centreDone = false;
  bool halving = false;
  double centreRss = 0.0;
  RateFit last;
  int32_t endPass = 0;
  for (int32_t pass = 1; pass <= kCurveMaxPasses; ++pass) {
    const double lower = b0 - step;
    const double upper = b0 + step;
    // The amplitude and asymptote kept are those of the last evaluation made.
    last = fitAtRate(series, n, lower, expWork);
    if (!last.ok) {
      markFailed(fitted, params);
      return;
    }
    const double lowerRss = last.rss;
    if (!centreDone) {
      last = fitAtRate(series, n, b0, expWork);
      if (!last.ok) {
        markFailed(fitted, params);
        return;
      }
      centreRss = last.rss;
    }
    last = fitAtRate(series, n, upper, expWork);
    if (!last.ok) {
      markFailed(fitted, params);
      return;
    }
    const double upperRss = last.rss;
    centreDone = true;

    bool improved = false;
    if (lowerRss < centreRss) {
      b0 = lower;
      centreRss = lowerRss;
      improved = true;
    }
    if (upperRss < centreRss) {
      b0 = upper;
      centreRss = upperRss;
      improved = true;
    }
    if (improved && !halving) {
      step = 2.0 * step;
      continue;
    }
    halving = true;
    step = step / 2.0;
    if (step <= kCurveStepEnd) {
      endPass = pass;
      break;
    }
  }
  if (endPass == 0) {
    note(notes, ">> sbr curve: over 34 iterations");
    markFailed(fitted, params);
    return;
  }

  double a = last.a;
  double k = last.k;
  if (!std::isfinite(a) || !std::isfinite(k)) {
    note(notes, ">> sbr curve: no finite least-squares solution, no exponential curve fit");
    markFailed(fitted, params);
    return;
  }
  if (k > kCurveMaxAsymptote || a <= 0.0 || b0 < 0.0) b0 = 0.0;

  double sum = 0.0;
  for (int32_t t = 0; t < n; ++t) sum += static_cast<double>(series[static_cast<size_t>(t)]);
  params[0] = static_cast<float>(a);
  params[1] = static_cast<float>(b0);
  params[4] = static_cast<float>(k);
  params[5] = static_cast<float>(endPass);
  params[6] = static_cast<float>(sum);
  for (int32_t t = 1; t <= nCurve; ++t) {
    fitted[static_cast<size_t>(t - 1)] =
        static_cast<float>(a * std::exp(-static_cast<double>(t) * b0) + k);
  }
}

void trend(int32_t nCurve, int32_t n, std::span<const float> series, std::span<float> fitted,
           float& slope, float& intercept, FitNotes* notes) {
  if (n > static_cast<int32_t>(series.size()) || nCurve > static_cast<int32_t>(fitted.size())) {
    throw std::out_of_range("trend: n or nCurve exceeds the array length");
  }
  double sx = 0.0;
  double sxx = 0.0;
  double sy = 0.0;
  double sxy = 0.0;
  for (int32_t t = 1; t <= n; ++t) {
    const double x = static_cast<double>(t);
    const double y = static_cast<double>(series[static_cast<size_t>(t - 1)]);
    sx += x;
    sxx += x * x;
    sy += y;
    sxy += x * y;
  }
  if (n >= 2) {
    const double nd = static_cast<double>(n);
    const double b = (sxy - sy * sx / nd) / (sxx - sx * sx / nd);
    slope = static_cast<float>(b);
    intercept = static_cast<float>(sy / nd - b * sx / nd);
  } else {
    // One value (or none) has no slope; the line is horizontal at the value.
    note(notes, countLine(">> sbr trend: only", n, " values, no slope; horizontal line"));
    slope = 0.0f;
    intercept = n == 1 ? series[0] : 0.0f;
  }
  for (int32_t t = 1; t <= nCurve; ++t) {
    fitted[static_cast<size_t>(t - 1)] = slope * static_cast<float>(t) + intercept;
  }
}

}  // namespace kavrel
