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

// The values of s in years first..first+length-1, when it has one in every
// year and they are not all equal.
std::optional<std::span<const float>> fullCover(const IndexSeries& s, int32_t first,
                                                int32_t length) {
  const int64_t offset = int64_t{first} - s.firstYear;
  if (offset < 0 || offset + length > static_cast<int64_t>(s.values.size())) return std::nullopt;
  const std::span<const float> w(s.values.data() + offset, static_cast<size_t>(length));
  if (!std::all_of(w.begin(), w.end(), isIndexValue)) return std::nullopt;
  if (std::all_of(w.begin(), w.end(), [&](float v) { return v == w.front(); })) {
    return std::nullopt;
  }
  return w;
}

// Adds the series' standardised values (population variance) to zSum.
void addStandardised(std::span<const float> w, std::vector<double>& zSum) {
  const double n = static_cast<double>(w.size());
  double mean = 0.0;
  for (float v : w) mean += static_cast<double>(v);
  mean /= n;
  double ss = 0.0;
  for (float v : w) ss += (static_cast<double>(v) - mean) * (static_cast<double>(v) - mean);
  const double sd = std::sqrt(ss / n);
  for (size_t t = 0; t < w.size(); ++t) zSum[t] += (static_cast<double>(w[t]) - mean) / sd;
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
  std::vector<double> zSum(static_cast<size_t>(w));
  for (int32_t first = span->first; first + w - 1 <= span->second; first += options.windowLag) {
    SignalWindow window;
    window.firstYear = first;
    window.lastYear = first + w - 1;
    std::fill(zSum.begin(), zSum.end(), 0.0);
    for (const IndexSeries& s : series) {
      if (auto values = fullCover(s, first, w)) {
        addStandardised(*values, zSum);
        ++window.seriesCount;
      }
    }
    if (window.seriesCount >= options.minSeries) {
      const auto m = static_cast<double>(window.seriesCount);
      double sum = 0.0;
      for (double z : zSum) sum += z * z;
      const double bigS = sum / static_cast<double>(w);
      const double rbar = (bigS - m) / (m * (m - 1.0));
      window.rbar = rbar;
      const double denominator = 1.0 + (m - 1.0) * rbar;
      if (bigS > kZeroSumShare * m && denominator > 0.0) window.eps = m * rbar / denominator;
    }
    result.windows.push_back(window);
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
