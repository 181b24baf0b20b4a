#include "rcs/diagnostics.h"

#include <algorithm>
#include <cmath>

namespace kavrel {

std::optional<double> quantileType7(std::vector<double> x, double p) {
  if (x.empty()) return std::nullopt;
  std::sort(x.begin(), x.end());
  const double h = static_cast<double>(x.size() - 1) * p;
  const auto lo = static_cast<size_t>(std::floor(h));
  const size_t hi = std::min(lo + 1, x.size() - 1);
  return x[lo] + (h - static_cast<double>(lo)) * (x[hi] - x[lo]);
}

std::optional<double> correlation(std::span<const double> x, std::span<const double> y) {
  const size_t n = std::min(x.size(), y.size());
  if (n < 2) return std::nullopt;
  double mx = 0.0, my = 0.0;
  for (size_t i = 0; i < n; ++i) mx += x[i], my += y[i];
  mx /= static_cast<double>(n);
  my /= static_cast<double>(n);
  double sxy = 0.0, sxx = 0.0, syy = 0.0;
  for (size_t i = 0; i < n; ++i) {
    sxy += (x[i] - mx) * (y[i] - my);
    sxx += (x[i] - mx) * (x[i] - mx);
    syy += (y[i] - my) * (y[i] - my);
  }
  if (sxx == 0.0 || syy == 0.0) return std::nullopt;
  return sxy / std::sqrt(sxx * syy);
}

ClassDiagnostics classDiagnostics(std::span<const ClassSeries> series) {
  ClassDiagnostics d;
  std::vector<double> starts, early, earlyStarts;
  double rings = 0.0;
  for (const ClassSeries& s : series) {
    starts.push_back(s.firstYear);
    rings += static_cast<double>(s.values.size());
    double sum = 0.0;
    int32_t count = 0;
    for (size_t r = 0; r < s.values.size() && r < static_cast<size_t>(kEarlyGrowthRings); ++r) {
      if (s.values[r] == kMissingValue) continue;
      sum += static_cast<double>(s.values[r]);
      ++count;
    }
    if (count == 0) continue;
    early.push_back(sum / count);
    earlyStarts.push_back(s.firstYear);
  }
  if (series.empty()) return d;
  d.startP05 = quantileType7(starts, 0.05);
  d.startP95 = quantileType7(starts, 0.95);
  d.meanRings = rings / static_cast<double>(series.size());
  d.narrowStart = *d.startP95 - *d.startP05 < *d.meanRings * kNarrowStartShare;
  d.earlyGrowthR = correlation(early, earlyStarts);
  d.modernSampleBias = d.earlyGrowthR && std::fabs(*d.earlyGrowthR) > kBiasCorrelation &&
                       early.size() >= static_cast<size_t>(kBiasMinSeries);
  return d;
}

}  // namespace kavrel
