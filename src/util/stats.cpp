// Moments, five-number summary, quicksort and heapsort.
#include "util/stats.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <vector>

#include "util/console.h"

namespace kavrel {

MomentResult moment(std::span<const float> x, int32_t n) {
  MomentResult r;
  if (n <= 0) return r;
  assert(x.size() >= static_cast<std::size_t>(n));
  const float fn = static_cast<float>(n);

  float sum = 0.0f;
  for (int32_t j = 0; j < n; ++j) sum += x[j];
  r.mean = sum / fn;
  if (n == 1) return r;

  float absDev = 0.0f, sum2 = 0.0f, sum3 = 0.0f, sum4 = 0.0f, sens = 0.0f;
  for (int32_t j = 0; j < n; ++j) {
    const float d = x[j] - r.mean;
    absDev += std::fabs(d);
    float p = d * d;
    sum2 += p;
    p *= d;
    sum3 += p;
    p *= d;
    sum4 += p;
    if (j + 1 < n) {
      // A pair whose mean is not positive has no relative change; it adds
      // nothing but still counts in the divisor below.
      const float m = (x[j] + x[j + 1]) * 0.5f;
      if (m > 0.0f) sens += std::fabs((x[j + 1] - x[j]) / m);
    }
  }
  r.meanAbsDev = absDev / fn;
  r.variance = sum2 / (fn - 1.0f);
  r.meanSensitivity = sens / (fn - 1.0f);

  if (r.variance > 0.0f) {
    r.stdDev = std::sqrt(r.variance);
    r.skewness = sum3 / (fn * (r.stdDev * r.stdDev * r.stdDev));
    if (n >= 3) r.skewness *= std::sqrt(fn * (fn - 1.0f)) / (fn - 2.0f) * (1.0f + 8.5f / fn);
    r.kurtosis = sum4 / (fn * (r.variance * r.variance));
    if (n >= 4) {
      r.kurtosis *= fn * fn * (fn + 1.0f) / ((fn - 1.0f) * (fn - 2.0f) * (fn - 3.0f));
    }
  } else {
    r.stdDev = kNoValue;
    r.skewness = kNoValue;
    r.kurtosis = kNoValue;
  }
  return r;
}

namespace {

// Five-number summary from a function giving the value of rank pos (1-based)
// in ascending order.
template <typename At>
MfsResult summaryFromRanks(int32_t n, At at) {
  MfsResult r;
  r.minimum = at(1);
  r.maximum = at(n);
  r.median = (at(n - n / 2) + at(n / 2 + 1)) * 0.5f;
  const int32_t h = (n + 1) / 2;
  const int32_t k = h / 2;
  r.lowerHinge = (at(h - k) + at(k + 1)) * 0.5f;
  r.upperHinge = (at(n - k) + at(n - h + k + 1)) * 0.5f;
  r.hingeSpread = r.upperHinge - r.lowerHinge;
  return r;
}

}  // namespace

MfsResult mfs(std::span<float> x, int32_t n, int32_t keepInput) {
  if (n <= 0) return MfsResult{};
  assert(x.size() >= static_cast<std::size_t>(n));

  if (keepInput != 2) {
    qcksrt(n, x);
    return summaryFromRanks(n, [&](int32_t pos) { return x[static_cast<std::size_t>(pos - 1)]; });
  }

  // The caller's order is kept, so a full sort is not needed: the summary uses
  // at most eight ranks, each found by selection on a work copy (which lives
  // on between calls and grows only to the largest sample seen). Values of
  // equal rank are equal, so the results are those of the sorted array.
  static thread_local std::vector<float> work;
  work.assign(x.begin(), x.begin() + n);
  const int32_t h = (n + 1) / 2;
  const int32_t k = h / 2;
  std::array<int32_t, 8> ranks = {1, n, n - n / 2, n / 2 + 1, h - k, k + 1, n - k, n - h + k + 1};
  std::sort(ranks.begin(), ranks.end());
  auto first = work.begin();
  int32_t done = 0;  // ranks 1..done are in place
  for (int32_t rank : ranks) {
    if (rank <= done) continue;
    auto nth = work.begin() + (rank - 1);
    std::nth_element(first, nth, work.end());
    first = nth + 1;
    done = rank;
  }
  return summaryFromRanks(n, [&](int32_t pos) { return work[static_cast<std::size_t>(pos - 1)]; });
}

namespace {

constexpr int32_t kInsertionLimit = 7;
constexpr int32_t kSortStack = 10000;
constexpr float kGenMultiplier = 211.0f;
constexpr float kGenIncrement = 1663.0f;
constexpr float kGenModulus = 7875.0f;
constexpr float kGenScale = 1.2698413e-4f;  // 1/7875 as stored

}  // namespace

namespace detail {

void qcksrtWithStack(int32_t n, std::span<float> x, int32_t stackCapacity, Console* console) {
  if (n <= 1) return;
  assert(x.size() >= static_cast<std::size_t>(n));
  // 1-based access, as the bounds below are positions 1..n.
  auto X = [&](int32_t pos) -> float& { return x[static_cast<std::size_t>(pos - 1)]; };

  // Pending bounds, pairs (low, high). With the smaller part sorted first
  // the stack holds at most about 2 log2(n) entries.
  std::array<int32_t, kSortStack> stack;
  int32_t top = 0;
  stackCapacity = std::min(stackCapacity, kSortStack);
  int32_t l = 1;
  int32_t r = n;
  float f = 0.0f;  // pivot generator state, restarted at every call

  for (;;) {
    if (r - l < kInsertionLimit) {
      // Straight insertion. The scan may run below l: everything there is
      // already no greater than this stretch, so it stops at once.
      for (int32_t j = l + 1; j <= r; ++j) {
        const float a = X(j);
        int32_t i = j - 1;
        while (i >= 1 && X(i) > a) {
          X(i + 1) = X(i);
          --i;
        }
        X(i + 1) = a;
      }
      if (top == 0) return;
      r = stack[static_cast<std::size_t>(--top)];
      l = stack[static_cast<std::size_t>(--top)];
      continue;
    }

    // Pseudo-random pivot; every step is exact in single precision because
    // the generator values stay below 2^24.
    f = std::fmod(f * kGenMultiplier + kGenIncrement, kGenModulus);
    int32_t q = l + static_cast<int32_t>(static_cast<float>(r - l + 1) * (f * kGenScale));
    if (q > r) q = r;
    const float a = X(q);
    X(q) = X(l);
    int32_t i = l;
    int32_t j = r;
    for (;;) {
      while (j > 0 && a < X(j)) --j;
      if (j <= i) {
        X(i) = a;
        break;
      }
      X(i) = X(j);
      ++i;
      while (i <= n && a > X(i)) ++i;
      if (j <= i) {
        X(j) = a;
        i = j;
        break;
      }
      X(j) = X(i);
      --j;
    }

    // The larger part waits on the stack; the smaller is sorted first.
    int32_t pushLo, pushHi;
    if (r - i >= i - l) {
      pushLo = i + 1;
      pushHi = r;
      r = i - 1;
    } else {
      pushLo = l;
      pushHi = i - 1;
      l = i + 1;
    }
    if (top + 2 > stackCapacity) {
      Console& c = console != nullptr ? *console : stdConsole();
      c.writeLine("nstack must be made larger.");
      c.pause();
      // No room to defer the larger part: sort it now by heapsort, which
      // needs no stack, and carry on with the smaller part.
      sort(pushHi - pushLo + 1, x.subspan(static_cast<std::size_t>(pushLo - 1)));
    } else {
      stack[static_cast<std::size_t>(top++)] = pushLo;
      stack[static_cast<std::size_t>(top++)] = pushHi;
    }
  }
}

}  // namespace detail

void qcksrt(int32_t n, std::span<float> x, Console* console) {
  detail::qcksrtWithStack(n, x, kSortStack, console);
}

void sort(int32_t n, std::span<float> x) {
  if (n < 2) return;
  assert(x.size() >= static_cast<std::size_t>(n));
  auto X = [&](int32_t pos) -> float& { return x[static_cast<std::size_t>(pos - 1)]; };

  // Sifts value a down from position i in a heap of positions 1..last.
  auto siftDown = [&](int32_t i, int32_t last, float a) {
    int32_t j = i + i;
    while (j <= last) {
      // The larger child; the left one on a tie.
      if (j < last && X(j) < X(j + 1)) ++j;
      if (a < X(j)) {
        X(i) = X(j);
        i = j;
        j = j + j;
      } else {
        break;
      }
    }
    X(i) = a;
  };

  for (int32_t i = n / 2; i >= 1; --i) siftDown(i, n, X(i));
  for (int32_t last = n; last > 1; --last) {
    const float a = X(last);
    X(last) = X(1);
    siftDown(1, last - 1, a);
  }
}

}  // namespace kavrel
