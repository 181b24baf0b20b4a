// Descriptive statistics and sorting on single-precision arrays: moments with
// bias-adjusted skewness and kurtosis plus mean sensitivity, Tukey's five-number
// summary, a quicksort with a pseudo-random pivot (Press et al., Numerical
// Recipes, 1986, sec. 8.4) and a heapsort (Williams 1964, CACM 7:347).
//
// Array positions are counted from 1 in the comments below: position i
// (1 <= i <= n) is x[i-1]; n is passed separately and the span must hold at
// least n values. All arithmetic is single precision.
#pragma once

#include <cstdint>
#include <span>

namespace kavrel {

class Console;

// Marker of moment() and mfs() for "no value" (not the missing-ring marker).
inline constexpr float kNoValue = -99.0f;

// Results of moment(); kNoValue where a result is undefined.
struct MomentResult {
  float mean = kNoValue;             // arithmetic mean, summed in index order
  float meanAbsDev = kNoValue;       // mean absolute deviation from the mean
  float stdDev = kNoValue;           // sample standard deviation (divisor n - 1)
  float variance = kNoValue;         // sample variance (divisor n - 1)
  float skewness = kNoValue;         // skewness times the small-sample factor (n >= 3)
  float kurtosis = kNoValue;         // fourth standardised moment times its factor (n >= 4); no 3 subtracted
  float meanSensitivity = kNoValue;  // mean of |x(j+1) - x(j)| / mean of the pair, over all n - 1 pairs
};

// Statistics of x[0..n-1] (x is not changed). n = 0: everything kNoValue;
// n = 1: the mean only; zero variance: stdDev, skewness and kurtosis kNoValue.
MomentResult moment(std::span<const float> x, int32_t n);

// Five-number summary returned by mfs().
struct MfsResult {
  float median = kNoValue;       // middle value, or mean of the two middle values
  float upperHinge = kNoValue;   // median of the upper half (middle value included for odd n)
  float lowerHinge = kNoValue;   // median of the lower half (middle value included for odd n)
  float hingeSpread = kNoValue;  // upperHinge - lowerHinge
  float minimum = kNoValue;      // smallest value
  float maximum = kNoValue;      // largest value
};

// Tukey's five-number summary of x[0..n-1]. The values are sorted in place
// with qcksrt; when keepInput == 2 they are given back in the order passed
// (a work copy sized to n is kept for that). n <= 0 returns kNoValue in all
// six results and leaves x alone.
MfsResult mfs(std::span<float> x, int32_t n, int32_t keepInput);

// Ascending in-place quicksort of x[0..n-1] with the deterministic pivot rule
// (the pivot generator restarts at every call, so equal input always gets the
// same exchanges) and straight insertion for stretches of fewer than 8 values.
// If its stack of pending bounds would overflow, "nstack must be made larger."
// is shown on `console` (the standard console when null), it waits for Return
// and then finishes the sort correctly.
void qcksrt(int32_t n, std::span<float> x, Console* console = nullptr);

// Ascending in-place heapsort of x[0..n-1]; n < 2 leaves x as it is.
void sort(int32_t n, std::span<float> x);

namespace detail {
// qcksrt with a chosen stack capacity (in integers), so tests can reach the
// stack-overflow path. qcksrt itself uses 10000.
void qcksrtWithStack(int32_t n, std::span<float> x, int32_t stackCapacity, Console* console);
}  // namespace detail

}  // namespace kavrel
