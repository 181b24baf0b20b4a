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

// Mean ranks of x (1 for the smallest; tied values share their mean rank).
void meanRanks(std::span<double> x, std::vector<size_t>& order) {
  order.resize(x.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return x[a] < x[b]; });
  std::vector<double> rank(x.size());
  for (size_t i = 0; i < order.size();) {
    size_t j = i;
    while (j + 1 < order.size() && x[order[j + 1]] == x[order[i]]) ++j;
    const double mean = 0.5 * static_cast<double>(i + j) + 1.0;
    for (size_t k = i; k <= j; ++k) rank[order[k]] = mean;
    i = j + 1;
  }
  std::copy(rank.begin(), rank.end(), x.begin());
}

// Writes to z the standardised values (population variance) of s in years
// first..first+z.size()-1, or of their ranks for Spearman's correlation, when
// s has a value in every one of those years and they are not all equal;
// returns whether it did.
bool standardised(const IndexSeries& s, int32_t first, SignalCorrelation correlation,
                  std::span<double> z, std::vector<size_t>& scratch) {
  const auto length = static_cast<int64_t>(z.size());
  const int64_t offset = int64_t{first} - s.firstYear;
  if (offset < 0 || offset + length > static_cast<int64_t>(s.values.size())) return false;
  const std::span<const float> w(s.values.data() + offset, static_cast<size_t>(length));
  bool usable = true;
  bool allEqual = true;
  for (size_t t = 0; t < w.size(); ++t) {
    usable = usable && isIndexValue(w[t]);
    allEqual = allEqual && w[t] == w.front();
    z[t] = static_cast<double>(w[t]);
  }
  if (!usable || allEqual) return false;
  if (correlation == SignalCorrelation::Spearman) meanRanks(z, scratch);
  const double n = static_cast<double>(z.size());
  double mean = 0.0;
  for (double x : z) mean += x;
  mean /= n;
  double ss = 0.0;
  for (double x : z) ss += (x - mean) * (x - mean);
  const double sd = std::sqrt(ss / n);
  for (double& x : z) x = (x - mean) / sd;
  return true;
}

// The statistics by tree of one window whose rbar exists: within- and
// between-tree rbar from the within-tree sum of correlations.
void treeStatistics(SignalWindow& window, double pairSum, double withinSum, int64_t withinPairs,
                    double inverseCores) {
  const auto m = static_cast<int64_t>(window.seriesCount);
  const int64_t betweenPairs = m * (m - 1) / 2 - withinPairs;
  const auto t = static_cast<double>(window.treeCount);
  if (window.treeCount > 0) window.effectiveCores = t / inverseCores;
  if (withinPairs == 0) {
    // Every tree has one core: all pairs are between trees.
    window.rbarBetween = window.rbar;
    window.rbarEffective = window.rbar;
    window.epsEffective = window.eps;
  } else {
    window.rbarWithin = withinSum / static_cast<double>(withinPairs);
    if (betweenPairs > 0) {
      window.rbarBetween = (pairSum - withinSum) / static_cast<double>(betweenPairs);
      const double rw = *window.rbarWithin;
      const double denominator = rw + (1.0 - rw) / *window.effectiveCores;
      if (denominator > kZeroSumShare) window.rbarEffective = *window.rbarBetween / denominator;
    }
    if (window.rbarEffective) {
      const double denominator = 1.0 + (t - 1.0) * *window.rbarEffective;
      if (denominator > kZeroSumShare) window.epsEffective = t * *window.rbarEffective / denominator;
    }
  }
  if (window.rbarEffective && 1.0 - *window.rbarEffective > kZeroSumShare) {
    window.snr = t * *window.rbarEffective / (1.0 - *window.rbarEffective);
  }
}

}  // namespace

SignalResult runningSignal(std::span<const IndexSeries> series, const SignalOptions& options,
                           std::span<const int32_t> trees) {
  SignalResult result;
  auto problem = checkOptions(options);
  if (!problem) problem = checkIndexSeries(series);
  if (!problem && !trees.empty() && trees.size() != series.size()) {
    problem = std::to_string(trees.size()) + " tree numbers for " + std::to_string(series.size()) +
              " series";
  }
  if (problem) {
    result.status = ChronStatus::InvalidInput;
    result.message = *problem;
    return result;
  }
  const auto span = valueSpan(series);
  if (!span) return result;

  const int32_t w = options.windowLength;
  const auto addWindow = [&](int32_t first) {
    SignalWindow window;
    window.firstYear = first;
    window.lastYear = first + w - 1;
    result.windows.push_back(window);
  };
  for (int32_t first = span->first; first + w - 1 <= span->second; first += options.windowLag) {
    addWindow(first);
  }
  if (!result.windows.empty() && result.windows.back().lastYear < span->second) {
    addWindow(span->second - w + 1);
  }

  // The series in tree order, so that a tree's cores follow one another.
  std::vector<size_t> byTree(series.size());
  for (size_t i = 0; i < byTree.size(); ++i) byTree[i] = i;
  if (!trees.empty()) {
    std::stable_sort(byTree.begin(), byTree.end(),
                     [&](size_t a, size_t b) { return trees[a] < trees[b]; });
  }
  const auto length = static_cast<size_t>(w);
  std::vector<double> zSum(length);
  std::vector<double> treeSum(length);
  // One row of standardised values per series when the within-tree sums need
  // them again; one row for all without trees.
  const size_t rows = trees.empty() ? 1 : series.size();
  std::vector<double> z(rows * length);
  std::vector<char> counts(series.size());
  std::vector<size_t> scratch;
  for (SignalWindow& window : result.windows) {
    // Every window adds its series in input order.
    std::fill(zSum.begin(), zSum.end(), 0.0);
    for (size_t i = 0; i < series.size(); ++i) {
      const std::span<double> row(z.data() + (rows == 1 ? 0 : i) * length, length);
      counts[i] = standardised(series[i], window.firstYear, options.correlation, row, scratch);
      if (!counts[i]) continue;
      ++window.seriesCount;
      for (size_t t = 0; t < length; ++t) zSum[t] += row[t];
    }
    // Tree by tree: the within-tree sums and the cores per tree.
    double withinSum = 0.0;
    int64_t withinPairs = 0;
    double inverseCores = 0.0;
    for (size_t a = 0; a < byTree.size();) {
      size_t b = a + 1;
      while (b < byTree.size() && !trees.empty() && trees[byTree[b]] == trees[byTree[a]]) ++b;
      int64_t cores = 0;
      for (size_t k = a; k < b; ++k) cores += counts[byTree[k]] ? 1 : 0;
      const size_t from = a;
      a = b;
      if (cores == 0) continue;
      ++window.treeCount;
      inverseCores += 1.0 / static_cast<double>(cores);
      if (cores < 2) continue;  // only trees sampled as groups keep rows (rows > 1)
      std::fill(treeSum.begin(), treeSum.end(), 0.0);
      for (size_t k = from; k < b; ++k) {
        if (!counts[byTree[k]]) continue;
        const double* row = z.data() + byTree[k] * length;
        for (size_t t = 0; t < length; ++t) treeSum[t] += row[t];
      }
      double sum = 0.0;
      for (double v : treeSum) sum += v * v;
      withinSum += (sum / static_cast<double>(w) - static_cast<double>(cores)) / 2.0;
      withinPairs += cores * (cores - 1) / 2;
    }
    if (window.seriesCount < options.minSeries) {
      if (window.treeCount > 0) window.effectiveCores = window.treeCount / inverseCores;
      continue;
    }
    const auto m = static_cast<double>(window.seriesCount);
    double sum = 0.0;
    for (size_t t = 0; t < length; ++t) sum += zSum[t] * zSum[t];
    const double bigS = sum / static_cast<double>(w);
    const double rbar = (bigS - m) / (m * (m - 1.0));
    window.rbar = rbar;
    const double denominator = 1.0 + (m - 1.0) * rbar;
    if (bigS > kZeroSumShare * m && denominator > 0.0) window.eps = m * rbar / denominator;
    treeStatistics(window, (bigS - m) / 2.0, withinSum, withinPairs, inverseCores);
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
