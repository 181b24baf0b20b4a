#include "util/stats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "util/console.h"
#include "util/fatal.h"

namespace kavrel {
namespace {

void expectAllNoValue(const MomentResult& r, bool meanToo) {
  if (meanToo) {
    EXPECT_EQ(r.mean, kNoValue);
  }
  EXPECT_EQ(r.meanAbsDev, kNoValue);
  EXPECT_EQ(r.stdDev, kNoValue);
  EXPECT_EQ(r.variance, kNoValue);
  EXPECT_EQ(r.skewness, kNoValue);
  EXPECT_EQ(r.kurtosis, kNoValue);
  EXPECT_EQ(r.meanSensitivity, kNoValue);
}

TEST(Moment, DegenerateInputGivesNoValue) {
  std::vector<float> x = {2.385f};
  expectAllNoValue(moment(x, 0), true);
  const MomentResult one = moment(x, 1);
  EXPECT_FLOAT_EQ(one.mean, 2.385f);
  expectAllNoValue(one, false);

  // Constant series: zero spread, zero sensitivity, undefined shape.
  std::vector<float> c(6, 1.75f);
  const MomentResult k = moment(c, 6);
  EXPECT_FLOAT_EQ(k.mean, 1.75f);
  EXPECT_EQ(k.meanAbsDev, 0.0f);
  EXPECT_EQ(k.variance, 0.0f);
  EXPECT_EQ(k.meanSensitivity, 0.0f);
  EXPECT_EQ(k.stdDev, kNoValue);
  EXPECT_EQ(k.skewness, kNoValue);
  EXPECT_EQ(k.kurtosis, kNoValue);
}

TEST(Moment, HandWorkedCases) {
  // Pair means 0, 1, 2: the first pair is skipped but still counts, so the
  // sensitivity is (2/1 + 0/2) / 3.
  std::vector<float> z = {0.0f, 0.0f, 2.0f, 2.0f};
  EXPECT_FLOAT_EQ(moment(z, 4).meanSensitivity, 2.0f / 3.0f);

  // n = 2: no adjustment factors. d = -1, 1; variance 2; kurtosis 2 / (2 * 4).
  std::vector<float> two = {1.0f, 3.0f};
  const MomentResult r = moment(two, 2);
  EXPECT_FLOAT_EQ(r.mean, 2.0f);
  EXPECT_FLOAT_EQ(r.meanAbsDev, 1.0f);
  EXPECT_FLOAT_EQ(r.variance, 2.0f);
  EXPECT_FLOAT_EQ(r.stdDev, std::sqrt(2.0f));
  EXPECT_FLOAT_EQ(r.skewness, 0.0f);
  EXPECT_FLOAT_EQ(r.kurtosis, 0.25f);
  EXPECT_FLOAT_EQ(r.meanSensitivity, 1.0f);  // |3 - 1| / 2

  // Only the first n values count.
  std::vector<float> longer = {1.0f, 3.0f, 100.0f};
  EXPECT_FLOAT_EQ(moment(longer, 2).variance, 2.0f);
}

TEST(Moment, MatchesDoublePrecisionFormulas) {
  std::mt19937_64 gen{123456};
  std::gamma_distribution<double> widths(2.0, 0.6);
  for (int n : {3, 4, 5, 17, 250}) {
    std::vector<float> x(static_cast<std::size_t>(n));
    for (float& v : x) v = static_cast<float>(widths(gen));
    x[1] = -0.4f;  // a negative value makes a pair mean possibly non-positive
    x[2] = 0.2f;

    double mean = 0;
    for (float v : x) mean += v;
    mean /= n;
    double a = 0, s2 = 0, s3 = 0, s4 = 0, sens = 0;
    for (int j = 0; j < n; ++j) {
      const double d = x[j] - mean;
      a += std::fabs(d);
      s2 += d * d;
      s3 += d * d * d;
      s4 += d * d * d * d;
      if (j + 1 < n) {
        const double m = (static_cast<double>(x[j]) + x[j + 1]) / 2;
        if (m > 0) sens += std::fabs((x[j + 1] - static_cast<double>(x[j])) / m);
      }
    }
    const double var = s2 / (n - 1);
    const double sd = std::sqrt(var);
    const double fs = std::sqrt(double(n) * (n - 1)) / (n - 2) * (1 + 8.5 / n);
    const double fk = n >= 4 ? double(n) * n * (n + 1) / ((n - 1.0) * (n - 2) * (n - 3)) : 1.0;

    const MomentResult r = moment(x, n);
    SCOPED_TRACE(n);
    EXPECT_NEAR(r.mean, mean, 1e-5 * std::fabs(mean));
    EXPECT_NEAR(r.meanAbsDev, a / n, 1e-5 * a / n);
    EXPECT_NEAR(r.variance, var, 1e-5 * var);
    EXPECT_NEAR(r.stdDev, sd, 1e-5 * sd);
    EXPECT_NEAR(r.skewness, s3 / (n * sd * sd * sd) * fs, 1e-4 * std::max(1.0, std::fabs(s3 / (n * sd * sd * sd) * fs)));
    EXPECT_NEAR(r.kurtosis, s4 / (n * var * var) * fk, 1e-4 * s4 / (n * var * var) * fk);
    EXPECT_NEAR(r.meanSensitivity, sens / (n - 1), 1e-5 * sens / (n - 1));
  }
}

TEST(Mfs, SmallSamplesAndTukeyHinges) {
  std::vector<float> one = {2.385f};
  MfsResult r = mfs(one, 1, 0);
  EXPECT_EQ(r.median, 2.385f);
  EXPECT_EQ(r.lowerHinge, 2.385f);
  EXPECT_EQ(r.upperHinge, 2.385f);
  EXPECT_EQ(r.minimum, 2.385f);
  EXPECT_EQ(r.maximum, 2.385f);
  EXPECT_EQ(r.hingeSpread, 0.0f);

  std::vector<float> two = {3.5f, 1.25f};
  r = mfs(two, 2, 0);
  EXPECT_EQ(r.median, 2.375f);
  EXPECT_EQ(r.lowerHinge, 1.25f);
  EXPECT_EQ(r.upperHinge, 3.5f);
  EXPECT_EQ(r.hingeSpread, 2.25f);

  // Values 1..n shuffled: the hinges are the stated order statistics.
  struct Case {
    int n;
    float median, lower, upper;
  };
  for (Case c : {Case{7, 4, 2.5f, 5.5f}, Case{8, 4.5f, 2.5f, 6.5f}, Case{9, 5, 3, 7},
                 Case{10, 5.5f, 3, 8}, Case{3, 2, 1.5f, 2.5f}}) {
    std::vector<float> x;
    for (int i = 1; i <= c.n; ++i) x.push_back(static_cast<float>(i));
    std::shuffle(x.begin(), x.end(), std::mt19937_64{static_cast<uint64_t>(c.n)});
    r = mfs(x, c.n, 1);
    SCOPED_TRACE(c.n);
    EXPECT_EQ(r.median, c.median);
    EXPECT_EQ(r.lowerHinge, c.lower);
    EXPECT_EQ(r.upperHinge, c.upper);
    EXPECT_EQ(r.hingeSpread, c.upper - c.lower);
    EXPECT_EQ(r.minimum, 1.0f);
    EXPECT_EQ(r.maximum, static_cast<float>(c.n));
    EXPECT_TRUE(std::is_sorted(x.begin(), x.end()));
  }

  std::vector<float> none = {7.0f};
  r = mfs(none, 0, 2);
  EXPECT_EQ(r.median, kNoValue);
  EXPECT_EQ(none[0], 7.0f);
}

TEST(Mfs, KeepInputRestoresOrderAndMedianMatchesBruteForce) {
  std::mt19937_64 gen{123456};
  std::uniform_real_distribution<float> u(0.05f, 4.0f);
  for (int n : {1, 2, 5, 6, 51, 1000, 1001}) {
    std::vector<float> x(static_cast<std::size_t>(n) + 3, -1.0f);
    for (int i = 0; i < n; ++i) x[static_cast<std::size_t>(i)] = u(gen);
    const std::vector<float> original = x;
    const MfsResult kept = mfs(x, n, 2);
    EXPECT_EQ(x, original) << n;

    std::vector<float> sorted(original.begin(), original.begin() + n);
    std::sort(sorted.begin(), sorted.end());
    const float median = n % 2 ? sorted[static_cast<std::size_t>(n / 2)]
                               : (sorted[static_cast<std::size_t>(n / 2 - 1)] + sorted[static_cast<std::size_t>(n / 2)]) * 0.5f;
    EXPECT_EQ(kept.median, median) << n;
    EXPECT_EQ(kept.minimum, sorted.front());
    EXPECT_EQ(kept.maximum, sorted.back());
    // Lower hinge: median of the lower half, the middle value included.
    const std::size_t h = static_cast<std::size_t>((n + 1) / 2);
    const float lower = h % 2 ? sorted[h / 2] : (sorted[h / 2 - 1] + sorted[h / 2]) * 0.5f;
    EXPECT_EQ(kept.lowerHinge, lower) << n;

    // The order-keeping summary (selection) and the sorting one agree on all six.
    const MfsResult sortedRun = mfs(x, n, 0);
    EXPECT_EQ(sortedRun.median, kept.median);
    EXPECT_EQ(sortedRun.upperHinge, kept.upperHinge) << n;
    EXPECT_EQ(sortedRun.lowerHinge, kept.lowerHinge) << n;
    EXPECT_EQ(sortedRun.hingeSpread, kept.hingeSpread) << n;
    EXPECT_TRUE(std::equal(sorted.begin(), sorted.end(), x.begin()));
    EXPECT_EQ(x[static_cast<std::size_t>(n)], -1.0f);  // beyond n untouched
  }
}

std::vector<std::vector<float>> sortCases() {
  std::mt19937_64 gen{123456};
  std::vector<std::vector<float>> cases;
  for (int n : {2, 3, 5, 7, 8, 9, 13, 64, 257, 5000, 100000}) {
    std::uniform_real_distribution<float> u(-3.0f, 9.0f);
    std::uniform_int_distribution<int> few(0, 4);
    std::vector<float> random(static_cast<std::size_t>(n)), repeated(static_cast<std::size_t>(n));
    for (auto& v : random) v = u(gen);
    for (auto& v : repeated) v = static_cast<float>(few(gen)) * 0.75f;
    std::vector<float> ascending = random;
    std::sort(ascending.begin(), ascending.end());
    std::vector<float> descending(ascending.rbegin(), ascending.rend());
    cases.push_back(random);
    cases.push_back(repeated);
    cases.push_back(ascending);
    cases.push_back(descending);
    cases.push_back(std::vector<float>(static_cast<std::size_t>(n), 2.385f));
  }
  return cases;
}

TEST(Sorting, QcksrtAndHeapsortGiveAscendingOrder) {
  for (const auto& c : sortCases()) {
    std::vector<float> expected = c;
    std::sort(expected.begin(), expected.end());
    const int n = static_cast<int>(c.size());
    std::vector<float> q = c, h = c;
    qcksrt(n, q);
    sort(n, h);
    EXPECT_EQ(q, expected) << "qcksrt n=" << n;
    EXPECT_EQ(h, expected) << "sort n=" << n;
  }
  // Only positions 1..n are touched.
  std::vector<float> part = {5.0f, 4.0f, 3.0f, 2.0f, 1.0f};
  std::vector<float> part2 = part;
  qcksrt(3, part);
  sort(3, part2);
  EXPECT_EQ(part, (std::vector<float>{3.0f, 4.0f, 5.0f, 2.0f, 1.0f}));
  EXPECT_EQ(part2, part);
  // Nothing to do for n < 2.
  std::vector<float> single = {9.0f, 1.0f};
  qcksrt(1, single);
  sort(1, single);
  qcksrt(0, single);
  EXPECT_EQ(single, (std::vector<float>{9.0f, 1.0f}));
}

// Signed zeros compare equal, so where each one ends up shows the exact
// sequence of exchanges. Both cases are traced by hand.
TEST(Sorting, HandTracedExchangesWithSignedZeros) {
  // n = 8: the first generator value 1663 gives q = 1 + trunc(8 * 0.21117) = 2,
  // so +0 is the pivot; the partition leaves -0 at position 1 and +0 at 2,
  // and insertion sorts positions 3..8.
  std::vector<float> x = {5.0f, 0.0f, 7.0f, -0.0f, 6.0f, 1.0f, 8.0f, 2.0f};
  qcksrt(8, x);
  EXPECT_EQ(x, (std::vector<float>{0.0f, 0.0f, 1.0f, 2.0f, 5.0f, 6.0f, 7.0f, 8.0f}));
  EXPECT_TRUE(std::signbit(x[0]));
  EXPECT_FALSE(std::signbit(x[1]));

  // Below 8 values insertion alone runs, which keeps equal values in order.
  std::vector<float> y = {3.0f, 0.0f, -0.0f, 1.0f};
  qcksrt(4, y);
  EXPECT_FALSE(std::signbit(y[0]));
  EXPECT_TRUE(std::signbit(y[1]));

  // Heapsort of (-1, +0, -0): the children tie, the left one (+0) is taken.
  std::vector<float> h = {-1.0f, 0.0f, -0.0f};
  sort(3, h);
  EXPECT_EQ(h[0], -1.0f);
  EXPECT_TRUE(std::signbit(h[1]));
  EXPECT_FALSE(std::signbit(h[2]));
}

TEST(Sorting, StackOverflowPausesThenFinishes) {
  std::mt19937_64 gen{99};
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  std::vector<float> x(3000);
  for (auto& v : x) v = u(gen);
  std::vector<float> expected = x;
  std::sort(expected.begin(), expected.end());

  std::string input(20000, '\n');
  std::FILE* in = fmemopen(input.data(), input.size(), "r");
  char* buf = nullptr;
  std::size_t len = 0;
  std::FILE* out = open_memstream(&buf, &len);
  Console console(in, out);
  // Room for one pending pair only: deeper partitions overflow.
  detail::qcksrtWithStack(static_cast<int32_t>(x.size()), x, 2, &console);
  std::fflush(out);
  EXPECT_EQ(x, expected);
  const std::string shown(buf, len);
  EXPECT_EQ(shown.rfind("nstack must be made larger.\n Hit RETURN to Continue\n", 0), 0u) << shown;
  std::fclose(in);
  std::fclose(out);
  std::free(buf);

  // With no Return to be had, the run ends instead of hanging.
  std::vector<float> y(3000);
  for (auto& v : y) v = u(gen);
  std::FILE* empty = std::tmpfile();
  std::FILE* sink = std::tmpfile();
  Console closed(empty, sink);
  EXPECT_THROW(detail::qcksrtWithStack(3000, y, 2, &closed), Fatal);
  std::fclose(empty);
  std::fclose(sink);
}

}  // namespace
}  // namespace kavrel
