// Spread-versus-level power transformation and its straight-line fit.
#include "util/powertransform.h"

#include <cmath>
#include <vector>

#include "util/missing.h"
#include "util/stats.h"

namespace kavrel {

namespace {

constexpr float kZeroStandIn = 0.001f;    // replaces a zero ring width
constexpr float kSmallestPower = 0.05f;   // smaller powers become 0 (log transform)
constexpr float kLargestPower = 1.0f;
constexpr float kPowerFloor = 0.01f;      // a value is raised to this before the power
constexpr float kLogOfFloor = -2.9957323f;  // ln 0.05, for a value without a logarithm

struct Range {
  float min = 0.0f;
  float max = 0.0f;
};

// Sorted range of the non-missing values; `sorted` is reused work storage.
Range rangeOf(std::span<const float> v, std::vector<float>& sorted) {
  sorted.clear();
  for (float value : v) {
    if (value != kMissingValue) sorted.push_back(value);
  }
  qcksrt(static_cast<int32_t>(sorted.size()), sorted);
  return {sorted.front(), sorted.back()};
}

}  // namespace

TrendLine trend2(int32_t n, std::span<const float> x, std::span<const float> y) {
  TrendLine t;
  if (n <= 0) return t;
  float sx = 0.0f, sy = 0.0f, sxx = 0.0f, sxy = 0.0f;
  for (int32_t i = 0; i < n; ++i) {
    sx += x[i];
    sy += y[i];
    sxx += x[i] * x[i];
    sxy += x[i] * y[i];
  }
  const float fn = static_cast<float>(n);
  const float d = sxx - sx * sx / fn;
  t.slope = d != 0.0f ? (sxy - sy * sx / fn) / d : 0.0f;
  t.intercept = sy / fn - t.slope * sx / fn;
  return t;
}

void slpt1(std::span<float> series) {
  const std::size_t n = series.size();
  if (n == 0) return;

  // Work storage reused from series to series.
  static thread_local std::vector<float> work, sorted, xs, ys;
  work.assign(series.begin(), series.end());

  for (float& v : work) {
    if (v == 0.0f) v = kZeroStandIn;
  }

  // Points (ln level, ln spread) of successive rings; a pair with a missing
  // ring or without a positive level and spread gives no point.
  xs.clear();
  ys.clear();
  for (std::size_t j = 0; j + 1 < n; ++j) {
    const float a = work[j];
    const float b = work[j + 1];
    if (a == kMissingValue || b == kMissingValue) continue;
    const float spread = std::fabs(b - a);
    if (b > 0.0f && spread > 0.0f) {
      xs.push_back(std::log(b));
      ys.push_back(std::log(spread));
    }
  }
  // No point, no slope: the series stays as it was passed.
  if (xs.empty()) return;

  const Range old = rangeOf(work, sorted);
  const float oldRange = old.max - old.min;

  const float slope = trend2(static_cast<int32_t>(xs.size()), xs, ys).slope;
  float p = 1.0f - slope;
  if (p < kSmallestPower) p = 0.0f;
  if (p > kLargestPower) p = kLargestPower;

  for (float& v : work) {
    if (v == kMissingValue) continue;
    if (p > 0.0f) {
      if (v < kPowerFloor) v = kPowerFloor;
      v = std::pow(v, p);
    } else {
      v = v > 0.0f ? std::log(v) : kLogOfFloor;
    }
  }

  const Range now = rangeOf(work, sorted);
  const float newRange = now.max - now.min;
  // All transformed values equal: no scale to map back, leave the series.
  if (newRange == 0.0f) return;

  for (std::size_t j = 0; j < n; ++j) {
    if (work[j] == kMissingValue) continue;
    series[j] = (work[j] - now.min) * oldRange / newRange + old.min;
  }
}

}  // namespace kavrel
