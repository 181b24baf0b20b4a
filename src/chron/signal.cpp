// Running rbar and EPS of the chronology's series.
#include "chron/signal.h"

#include <algorithm>
#include <cmath>

namespace kavrel {

namespace {

// S below this share of m counts as zero: 1 + (m - 1) rbar = S / m, the
// denominator of EPS, has then vanished up to rounding.
constexpr double kZeroSumShare = 1e-12;

std::optional<std::string> checkOptions(const SignalOptions& o) {
  if (o.windowLength < 3) {
    return "window length " + std::to_string(o.windowLength) + " must be at least 3 years";
  }
  if (o.windowLag < 1) {
    return "window lag " + std::to_string(o.windowLag) + " must be at least 1 year";
  }
  if (o.minSeries < 2) {
    return "minimum series " + std::to_string(o.minSeries) + " must be at least 2";
  }
  return std::nullopt;
}

// The first and last year any series has a value; nothing when none has.
std::optional<std::pair<int32_t, int32_t>> valueSpan(std::span<const IndexSeries> series) {
  std::optional<std::pair<int32_t, int32_t>> span;
  for (const IndexSeries& s : series) {
    for (size_t j = 0; j < s.values.size(); ++j) {
      if (!isIndexValue(s.values[j])) continue;
      const int32_t year = s.firstYear + static_cast<int32_t>(j);
      if (!span) span.emplace(year, year);
      span->first = std::min(span->first, year);
      span->second = std::max(span->second, year);
    }
  }
  return span;
}

// Adds the standardised values (population variance) of s in years
// first..first+length-1 to zSum, when it has a value in every one of those
// years and they are not all equal; returns whether it did.
bool addStandardised(const IndexSeries& s, int32_t first, std::span<double> zSum) {
  const auto length = static_cast<int64_t>(zSum.size());
  const int64_t offset = int64_t{first} - s.firstYear;
  if (offset < 0 || offset + length > static_cast<int64_t>(s.values.size())) return false;
  const std::span<const float> w(s.values.data() + offset, static_cast<size_t>(length));
  // One pass checks the values and sums them.
  bool usable = true;
  bool allEqual = true;
  double mean = 0.0;
  for (float v : w) {
    usable = usable && isIndexValue(v);
    allEqual = allEqual && v == w.front();
    mean += static_cast<double>(v);
  }
  if (!usable || allEqual) return false;
  const double n = static_cast<double>(w.size());
  mean /= n;
  double ss = 0.0;
  for (float v : w) ss += (static_cast<double>(v) - mean) * (static_cast<double>(v) - mean);
  const double sd = std::sqrt(ss / n);
  for (size_t t = 0; t < w.size(); ++t) zSum[t] += (static_cast<double>(w[t]) - mean) / sd;
  return true;
}

}  // namespace

SignalResult runningSignal(std::span<const IndexSeries> series, const SignalOptions& options) {
  SignalResult result;
  auto problem = checkOptions(options);
  if (!problem) problem = checkIndexSeries(series);
  if (problem) {
    result.status = ChronStatus::InvalidInput;
    result.message = *problem;
    return result;
  }
  const auto span = valueSpan(series);
  if (!span) return result;

  const int32_t w = options.windowLength;
  for (int32_t first = span->first; first + w - 1 <= span->second; first += options.windowLag) {
    SignalWindow window;
    window.firstYear = first;
    window.lastYear = first + w - 1;
    result.windows.push_back(window);
  }
  // Series by series, each adding to every window it covers: a series' values
  // are read once, and every window still gets its series in input order.
  const auto length = static_cast<size_t>(w);
  std::vector<double> zSums(result.windows.size() * length, 0.0);
  for (const IndexSeries& s : series) {
    for (size_t k = 0; k < result.windows.size(); ++k) {
      const std::span<double> zSum(zSums.data() + k * length, length);
      if (addStandardised(s, result.windows[k].firstYear, zSum)) ++result.windows[k].seriesCount;
    }
  }
  for (size_t k = 0; k < result.windows.size(); ++k) {
    SignalWindow& window = result.windows[k];
    if (window.seriesCount < options.minSeries) continue;
    const auto m = static_cast<double>(window.seriesCount);
    double sum = 0.0;
    for (size_t t = 0; t < length; ++t) sum += zSums[k * length + t] * zSums[k * length + t];
    const double bigS = sum / static_cast<double>(w);
    const double rbar = (bigS - m) / (m * (m - 1.0));
    window.rbar = rbar;
    const double denominator = 1.0 + (m - 1.0) * rbar;
    if (bigS > kZeroSumShare * m && denominator > 0.0) window.eps = m * rbar / denominator;
  }
  return result;
}

std::vector<bool> weakSignalYears(std::span<const SignalWindow> windows, int32_t firstYear,
                                  int32_t lastYear, double threshold) {
  std::vector<bool> weak(lastYear >= firstYear ? static_cast<size_t>(lastYear - firstYear + 1) : 0);
  for (const SignalWindow& w : windows) {
    if (w.eps && *w.eps >= threshold) continue;
    const int32_t from = std::max(w.firstYear, firstYear);
    const int32_t to = std::min(w.lastYear, lastYear);
    for (int32_t y = from; y <= to; ++y) weak[static_cast<size_t>(y - firstYear)] = true;
  }
  return weak;
}

}  // namespace kavrel
