#include "chron/selection.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace kavrel {

namespace {

// Below kSampledFrom values std::nth_element over all of them is as quick.
constexpr size_t kSampledFrom = 256;
// Sample size: 4 sqrt(n), at most kMaxSample.
constexpr size_t kMaxSample = 1024;
// The bracket spans the sample ranks k m / n +- kBracketSds standard
// deviations of a sample rank (sqrt(m) / 2 at most), so it rarely misses.
constexpr double kBracketSds = 3.5;

// nth_element over all of x (reordered).
Ranked allSelected(std::span<double> x, size_t k) {
  const auto at = x.begin() + static_cast<std::ptrdiff_t>(k);
  std::nth_element(x.begin(), at, x.end());
  Ranked r{*at, *at};
  if (k > 0) r.below = *std::max_element(x.begin(), at);
  return r;
}

}  // namespace

Ranked rankedValue(std::span<const double> x, size_t k, std::span<double> scratch) {
  const size_t n = x.size();
  auto everything = [&]() {
    std::copy(x.begin(), x.end(), scratch.begin());
    return allSelected(scratch.first(n), k);
  };
  if (n < kSampledFrom) return everything();
  const size_t m =
      std::min(kMaxSample, static_cast<size_t>(4.0 * std::sqrt(static_cast<double>(n))));
  std::array<double, kMaxSample> sample{};
  for (size_t i = 0; i < m; ++i) sample[i] = x[i * n / m];
  const double centre = static_cast<double>(k) * static_cast<double>(m) / static_cast<double>(n);
  const double spread = kBracketSds * 0.5 * std::sqrt(static_cast<double>(m));
  const auto rankLo = static_cast<size_t>(std::max(0.0, std::floor(centre - spread)));
  const auto rankHi =
      static_cast<size_t>(std::min(static_cast<double>(m - 1), std::ceil(centre + spread)));
  const std::span<double> s(sample.data(), m);
  std::nth_element(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(rankLo), s.end());
  const double lo = s[rankLo];
  std::nth_element(s.begin() + static_cast<std::ptrdiff_t>(rankLo),
                   s.begin() + static_cast<std::ptrdiff_t>(rankHi), s.end());
  const double hi = s[rankHi];

  // One pass without branches on the values: each is written to the next
  // free place, which advances only for a value in [lo, hi].
  size_t below = 0;
  size_t kept = 0;
  for (size_t i = 0; i < n; ++i) {
    const double v = x[i];
    below += static_cast<size_t>(v < lo);
    scratch[kept] = v;
    kept += static_cast<size_t>(v >= lo) & static_cast<size_t>(v <= hi);
  }
  if (k < below || k >= below + kept) return everything();
  const size_t j = k - below;
  Ranked r = allSelected(scratch.first(kept), j);
  if (j == 0 && k > 0) {
    // The value just below rank k is the largest one below lo.
    r.below = -HUGE_VAL;
    for (double v : x) r.below = v < lo && v > r.below ? v : r.below;
  }
  return r;
}

double selectedMedian(std::span<const double> x, std::span<double> scratch) {
  if (x.empty()) return 0.0;
  const Ranked r = rankedValue(x, x.size() / 2, scratch);
  return x.size() % 2 == 1 ? r.at : 0.5 * (r.below + r.at);
}

}  // namespace kavrel
