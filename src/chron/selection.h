// Order statistics of large samples in about one pass: the medians behind the
// chronology's robust mean, taken every year over thousands of series.
#pragma once

#include <cstddef>
#include <span>

namespace kavrel {

// The k-th smallest value of x (k counted from 0, k < x.size()) and the value
// ranked just below it (the k-th itself when k = 0). Exact: an evenly spaced
// sample gives two values that bracket rank k, one pass copies the values
// between them to `scratch` (room for x.size() values), and only those are
// selected; should the bracket miss, all values are.
struct Ranked {
  double at = 0.0;
  double below = 0.0;
};
Ranked rankedValue(std::span<const double> x, size_t k, std::span<double> scratch);

// The median of x: the middle value, or the mean of the two middle values; 0
// for an empty x. scratch has room for x.size() values.
double selectedMedian(std::span<const double> x, std::span<double> scratch);

}  // namespace kavrel
