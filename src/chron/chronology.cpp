// Per-year statistics of the RCS chronology.
#include "chron/chronology.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "chron/selection.h"

namespace kavrel {

namespace {

// Biweight tuning: u = (x - M) / (9 S + kBiweightEpsilon). The small constant
// keeps the scale positive when more than half of the values are equal.
constexpr double kBiweightScale = 9.0;
constexpr double kBiweightEpsilon = 1e-6;

// The years of a series that hold values: positions first..last of values.
struct Extent {
  size_t series = 0;
  int32_t firstYear = 0;
  int32_t lastYear = 0;
};

// Extents of the series that hold at least one value, by first year (ties
// keep input order).
std::vector<Extent> valueExtents(std::span<const IndexSeries> series) {
  std::vector<Extent> extents;
  for (size_t i = 0; i < series.size(); ++i) {
    const auto& v = series[i].values;
    const auto first = std::find_if(v.begin(), v.end(), isIndexValue);
    if (first == v.end()) continue;
    const auto last = std::find_if(v.rbegin(), v.rend(), isIndexValue);
    const auto firstPos = static_cast<int32_t>(first - v.begin());
    const auto lastPos = static_cast<int32_t>(v.rend() - last) - 1;
    extents.push_back({i, series[i].firstYear + firstPos, series[i].firstYear + lastPos});
  }
  std::stable_sort(extents.begin(), extents.end(),
                   [](const Extent& a, const Extent& b) { return a.firstYear < b.firstYear; });
  return extents;
}

int32_t countNonFinite(std::span<const IndexSeries> series) {
  int32_t n = 0;
  for (const auto& s : series) {
    for (float v : s.values) {
      if (!std::isfinite(v)) ++n;
    }
  }
  return n;
}

}  // namespace

std::optional<std::string> checkIndexSeries(std::span<const IndexSeries> series) {
  int64_t spanFirst = kChronMaxYear;
  int64_t spanLast = kChronMinYear;
  for (size_t i = 0; i < series.size(); ++i) {
    const IndexSeries& s = series[i];
    const std::string name = "index series " + std::to_string(i + 1);
    if (s.classNumber < 1 || s.classNumber > kChronClassCount) {
      return name + ": class " + std::to_string(s.classNumber) + " is not between 1 and " +
             std::to_string(kChronClassCount);
    }
    if (s.values.empty()) continue;
    const int64_t last = int64_t{s.firstYear} + static_cast<int64_t>(s.values.size()) - 1;
    if (s.firstYear < kChronMinYear || last > kChronMaxYear) {
      return name + ": years " + std::to_string(s.firstYear) + " to " + std::to_string(last) +
             " are outside " + std::to_string(kChronMinYear) + " to " +
             std::to_string(kChronMaxYear);
    }
    if (std::none_of(s.values.begin(), s.values.end(), isIndexValue)) continue;
    spanFirst = std::min<int64_t>(spanFirst, s.firstYear);
    spanLast = std::max(spanLast, last);
  }
  if (spanLast >= spanFirst && spanLast - spanFirst + 1 > kChronMaxSpan) {
    return "the index series span " + std::to_string(spanLast - spanFirst + 1) + " years (max " +
           std::to_string(kChronMaxSpan) + ")";
  }
  return std::nullopt;
}

double median(std::span<const double> x) {
  std::vector<double> scratch(x.size());
  return selectedMedian(x, scratch);
}

double biweightMean(std::span<const double> x, std::vector<double>& work) {
  if (x.empty()) return 0.0;
  // work: the deviations, then room for the selections.
  const size_t n = x.size();
  work.resize(2 * n);
  const auto deviations = std::span<double>(work).first(n);
  const auto scratch = std::span<double>(work).subspan(n);
  const double m = selectedMedian(x, scratch);
  std::transform(x.begin(), x.end(), deviations.begin(),
                 [m](double v) { return std::fabs(v - m); });
  const double s = selectedMedian(deviations, scratch);
  const double scale = kBiweightScale * s + kBiweightEpsilon;
  double weighted = 0.0;
  double weights = 0.0;
  for (double v : x) {
    const double u = (v - m) / scale;
    if (std::fabs(u) >= 1.0) continue;
    const double w = (1.0 - u * u) * (1.0 - u * u);
    weighted += w * v;
    weights += w;
  }
  // At least half of the values lie within S of the median and so get a
  // positive weight; the fallback only guards against underflow.
  return weights > 0.0 ? weighted / weights : m;
}

double biweightMean(std::span<const double> x) {
  std::vector<double> work;
  return biweightMean(x, work);
}

ChronologyResult buildChronology(std::span<const IndexSeries> series, IndexKind kind) {
  ChronologyResult result;
  result.chronology.kind = kind;
  if (auto problem = checkIndexSeries(series)) {
    result.status = ChronStatus::InvalidInput;
    result.message = *problem;
    return result;
  }
  result.ignoredValues = countNonFinite(series);
  const std::vector<Extent> extents = valueExtents(series);
  if (extents.empty()) return result;

  int32_t spanLast = extents.front().lastYear;
  for (const Extent& e : extents) spanLast = std::max(spanLast, e.lastYear);
  const int32_t spanFirst = extents.front().firstYear;
  auto& years = result.chronology.years;
  years.reserve(static_cast<size_t>(spanLast - spanFirst + 1));

  // Sweep the years with the set of series that cover the year, each held
  // by what the sweep reads of it.
  struct Covering {
    const float* values;
    int32_t firstYear;  // of values[0]
    int32_t lastYear;   // the last with a value
    size_t classIndex;
  };
  std::vector<Covering> active;
  std::vector<double> values;
  std::vector<double> work;
  values.reserve(extents.size());
  work.reserve(2 * extents.size());
  size_t next = 0;
  for (int32_t year = spanFirst; year <= spanLast; ++year) {
    while (next < extents.size() && extents[next].firstYear <= year) {
      const Extent& e = extents[next++];
      const IndexSeries& s = series[e.series];
      active.push_back({s.values.data(), s.firstYear, e.lastYear,
                        static_cast<size_t>(s.classNumber - 1)});
    }
    std::erase_if(active, [year](const Covering& e) { return e.lastYear < year; });

    ChronologyYear row;
    row.year = year;
    std::array<double, kChronClassCount> classSums{};
    values.clear();
    for (const Covering& e : active) {
      const float v = e.values[year - e.firstYear];
      if (!isIndexValue(v)) continue;
      values.push_back(static_cast<double>(v));
      classSums[e.classIndex] += static_cast<double>(v);
      ++row.classDepths[e.classIndex];
    }
    row.depth = static_cast<int32_t>(values.size());
    if (row.depth > 0) {
      row.mean =
          std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(row.depth);
      row.robustMean = biweightMean(values, work);
    }
    for (size_t c = 0; c < kChronClassCount; ++c) {
      if (row.classDepths[c] > 0) {
        row.classMeans[c] = classSums[c] / static_cast<double>(row.classDepths[c]);
      }
    }
    years.push_back(row);
  }
  return result;
}

}  // namespace kavrel
