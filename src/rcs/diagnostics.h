// Checks a reviewer makes before trusting a regional curve: whether a class's
// series started in a narrow band of years (then age and year can't be told
// apart and the common signal leaks into the curve), and whether early growth
// is correlated with the start year (the modern-sample bias: fast-growing
// young trees over-represented in recent start years).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "rcs/rcs_pass.h"

namespace kavrel {

// Rings whose mean width measures a series' early growth.
inline constexpr int32_t kEarlyGrowthRings = 50;
// Start dates count as narrow when their 5-95 % span is under this share of
// the class's mean number of rings.
inline constexpr double kNarrowStartShare = 1.0 / 3.0;
// The bias warning: |r| above this, with at least kBiasMinSeries series.
inline constexpr double kBiasCorrelation = 0.3;
inline constexpr int32_t kBiasMinSeries = 10;

struct ClassDiagnostics {
  std::optional<double> startP05;       // 5th percentile of the first measured years
  std::optional<double> startP95;       // 95th percentile
  std::optional<double> meanRings;      // mean number of rings per series
  std::optional<double> earlyGrowthR;   // correlation of early growth with first year
  bool narrowStart = false;             // p95 - p05 < meanRings / 3
  bool modernSampleBias = false;        // |r| > 0.3 with at least 10 series
};

// The quantile p (0..1) of x by linear interpolation between order
// statistics (Hyndman & Fan 1996, type 7; R's default). Nothing for an empty x.
std::optional<double> quantileType7(std::vector<double> x, double p);

// Pearson's correlation; nothing when fewer than two pairs or either side is constant.
std::optional<double> correlation(std::span<const double> x, std::span<const double> y);

ClassDiagnostics classDiagnostics(std::span<const ClassSeries> series);

}  // namespace kavrel
