// The RCS chronology: for every calendar year covered by the index series of
// all classes, the sample depth, the arithmetic mean, Tukey's biweight robust
// mean (Mosteller & Tukey 1977, Data Analysis and Regression, ch. 10; one
// step from the median as in Cook & Kairiukstis 1990, Methods of
// Dendrochronology, sec. 2.3) and the mean of each class's series.
//
// The index values arrive in single precision; every statistic here is
// accumulated and returned in double precision.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "util/missing.h"

namespace kavrel {

inline constexpr int32_t kChronClassCount = 5;
// Calendar years a series may use: series years beyond these limits are
// refused before any arithmetic on them.
inline constexpr int32_t kChronMinYear = -100000;
inline constexpr int32_t kChronMaxYear = 100000;
// Years one chronology may span (first to last year with a value).
inline constexpr int32_t kChronMaxSpan = 20000;

// What the index values are: ratios raw / curve, or residuals raw - curve.
enum class IndexKind { Ratio, Residual };

// One index series as the chronology uses it.
struct IndexSeries {
  int32_t classNumber = 1;    // 1 short-high .. 5 neither high nor low
  int32_t firstYear = 0;      // calendar year of values[0]; negative years allowed
  std::vector<float> values;  // one per year; kMissingValue (-999.0) where none.
                              // Residuals are raw - curve, without the shift the
                              // index files add to make them positive.
};

// The statistics of one calendar year. An empty optional is a value that does
// not exist (depth 0 inside the span, or a class without a series that year).
struct ChronologyYear {
  int32_t year = 0;
  int32_t depth = 0;                 // series with a value in this year
  std::optional<double> mean;        // arithmetic mean of those values
  std::optional<double> robustMean;  // one-step Tukey biweight mean
  std::array<std::optional<double>, kChronClassCount> classMeans;  // class c at [c - 1]
  std::array<int32_t, kChronClassCount> classDepths{};             // class c at [c - 1]
};

struct Chronology {
  IndexKind kind = IndexKind::Ratio;
  std::vector<ChronologyYear> years;  // first to last year with any value, one row per year
};

enum class ChronStatus { Ok, InvalidInput };

struct ChronologyResult {
  ChronStatus status = ChronStatus::Ok;
  std::string message;        // what is wrong when status is InvalidInput
  Chronology chronology;      // empty when no series has a value
  int32_t ignoredValues = 0;  // non-finite values (NaN, infinity) left out as missing
};

// Checks a set of index series: class numbers 1..5, years within
// kChronMinYear..kChronMaxYear and a span of at most kChronMaxSpan years.
// Returns the message naming the first offending series (1-based), or
// nothing when the set is usable.
std::optional<std::string> checkIndexSeries(std::span<const IndexSeries> series);

// True when v is an index value: not the missing marker and finite.
inline bool isIndexValue(float v) { return v != kMissingValue && std::isfinite(v); }

// The one-step Tukey biweight mean of x: M = median,
// S = median |x - M|, u = (x - M) / (9 S + 1e-6), weights (1 - u^2)^2 where
// |u| < 1 and 0 elsewhere; returns sum(w x) / sum(w). For an empty x it
// returns 0. Should every weight vanish, the median is returned. work is
// scratch storage, reused between calls so that a year's statistics need no
// allocation.
double biweightMean(std::span<const double> x, std::vector<double>& work);
double biweightMean(std::span<const double> x);

// The median of x: the middle value, or the mean of the two middle values.
// For an empty x it returns 0.
double median(std::span<const double> x);

// Builds the chronology from the index series of all classes. Non-finite
// values are treated as missing and counted in ignoredValues.
[[nodiscard]] ChronologyResult buildChronology(std::span<const IndexSeries> series, IndexKind kind);

}  // namespace kavrel
