#include "chron/chronology.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "chron/selection.h"
#include "chron_fixture.h"

namespace kavrel {
namespace {

using chrontest::threeSeries;

TEST(Biweight, KnownAnswers) {
  struct Case {
    const char* what;
    std::vector<double> x;
    double expected;
  };
  // Worked by hand from M, S and the weights (1 - u^2)^2, u = (x - M) / (9 S + 1e-6).
  const Case cases[] = {
      {"one value", {2.385}, 2.385},
      // M = 1, S = 0.25: equal weights on both sides.
      {"two values", {0.75, 1.25}, 1.0},
      // M = 1.125, S = 0.125; u = -0.111111, 0, 0.333333;
      // w = 0.975461, 1, 0.790123.
      {"three values", {1.5, 1.0, 1.125}, 1.1880477081977487},
      // M = 0.75 (mean of the middle two), S = 0.1875; 2.0 gets u = 0.7407 and a
      // small weight.
      {"even count", {2.0, 0.5, 0.875, 0.625}, 0.7549221046307218},
      // M = 1.005, S = 0.015: 25.0 lies far beyond 9 S and gets weight 0.
      {"one wild value", {1.0, 1.02, 0.98, 1.01, 0.99, 25.0}, 1.000220457886268},
      // S = 0: the scale is 1e-6, only the values equal to M keep a weight.
      {"majority equal", {1.0, 7.0, 1.0, 1.0}, 1.0},
      {"empty", {}, 0.0},
  };
  std::vector<double> work;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<double> x = c.x;
    EXPECT_NEAR(biweightMean(x, work), c.expected, 1e-12);
  }
  std::vector<double> wild = {1.0, 1.02, 0.98, 1.01, 0.99, 25.0};
  EXPECT_NEAR(median(wild), 1.005, 1e-15);
}

// The sampled selection gives exactly the order statistics of a full sort:
// small and large sets, many ties, and a set whose evenly spaced sample is
// all outliers, so the sample's bracket misses and every value is selected.
TEST(Selection, RankedValuesEqualThoseOfASort) {
  std::mt19937_64 gen{7};
  std::normal_distribution<double> noise(1.0, 0.3);
  struct Case {
    const char* what;
    std::vector<double> x;
  };
  std::vector<Case> cases;
  for (size_t n : {1, 2, 5, 255, 256, 257, 1000, 4999, 20000}) {
    Case c{"normal", {}};
    for (size_t i = 0; i < n; ++i) c.x.push_back(noise(gen));
    cases.push_back(c);
    Case ties{"ties", {}};
    for (double v : c.x) ties.x.push_back(std::round(v * 4.0) / 4.0);
    cases.push_back(ties);
  }
  // The selection samples 4 sqrt(n) = 282 evenly spaced positions of 5000.
  Case outliers{"sample all outliers", std::vector<double>(5000, 1.0)};
  for (size_t i = 0; i < 282; ++i) outliers.x[i * 5000 / 282] = 100.0 + static_cast<double>(i);
  cases.push_back(outliers);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.what) + " n = " + std::to_string(c.x.size()));
    std::vector<double> sorted = c.x;
    std::sort(sorted.begin(), sorted.end());
    std::vector<double> scratch(c.x.size());
    const size_t n = c.x.size();
    for (size_t k : {size_t{0}, size_t{1}, n / 4, n / 2, n - 1}) {
      if (k >= n) continue;
      const Ranked r = rankedValue(c.x, k, scratch);
      EXPECT_EQ(r.at, sorted[k]) << "k = " << k;
      EXPECT_EQ(r.below, sorted[k == 0 ? 0 : k - 1]) << "k = " << k;
    }
    const double expected = n % 2 == 1 ? sorted[n / 2] : 0.5 * (sorted[n / 2 - 1] + sorted[n / 2]);
    EXPECT_EQ(median(c.x), expected);
  }
}

TEST(Chronology, HandWorkedThreeSeries) {
  const ChronologyResult r = buildChronology(threeSeries(), IndexKind::Ratio);
  ASSERT_EQ(r.status, ChronStatus::Ok) << r.message;
  EXPECT_EQ(r.ignoredValues, 0);
  const auto& years = r.chronology.years;
  ASSERT_EQ(years.size(), 6u);

  struct Row {
    int32_t year;
    int32_t depth;
    double mean;  // NaN: no value
    double robust;
    double class1;
    double class3;
  };
  const double none = std::numeric_limits<double>::quiet_NaN();
  const Row rows[] = {
      {2000, 1, 1.375, 1.375, 1.375, none},
      {2001, 2, 1.0, 1.0, 1.0, none},
      {2002, 3, 3.625 / 3, 1.1880477081977487, 1.0625, 1.5},
      // {0.625, 0.875, 1.25}: M = 0.875, S = 0.25.
      {2003, 3, 2.75 / 3, 0.9128647690128494, 0.9375, 0.875},
      {2004, 0, none, none, none, none},  // inside the span, no series has a value
      {2005, 1, 2.0, 2.0, 2.0, none},
  };
  auto expectValue = [](const std::optional<double>& got, double want) {
    if (std::isnan(want)) {
      EXPECT_FALSE(got.has_value());
    } else {
      ASSERT_TRUE(got.has_value());
      EXPECT_NEAR(*got, want, 1e-12);
    }
  };
  for (size_t i = 0; i < years.size(); ++i) {
    SCOPED_TRACE(rows[i].year);
    const ChronologyYear& y = years[i];
    EXPECT_EQ(y.year, rows[i].year);
    EXPECT_EQ(y.depth, rows[i].depth);
    expectValue(y.mean, rows[i].mean);
    expectValue(y.robustMean, rows[i].robust);
    expectValue(y.classMeans[0], rows[i].class1);
    expectValue(y.classMeans[2], rows[i].class3);
    for (size_t c : {1u, 3u, 4u}) EXPECT_FALSE(y.classMeans[c].has_value());
    EXPECT_EQ(y.classDepths[0] + y.classDepths[2], y.depth);
  }
}

TEST(Chronology, DegenerateAndInvalidInput) {
  // Nothing to average: no series, or only missing values.
  std::vector<IndexSeries> none;
  EXPECT_TRUE(buildChronology(none, IndexKind::Ratio).chronology.years.empty());
  std::vector<IndexSeries> missing = {{2, 1900, {kMissingValue, kMissingValue}}, {4, 1950, {}}};
  const auto allMissing = buildChronology(missing, IndexKind::Residual);
  EXPECT_EQ(allMissing.status, ChronStatus::Ok);
  EXPECT_TRUE(allMissing.chronology.years.empty());
  EXPECT_EQ(allMissing.chronology.kind, IndexKind::Residual);

  // Non-finite values (a ratio against a zero curve) count as missing.
  std::vector<IndexSeries> nonFinite = {
      {1, 1900, {1.25f, std::numeric_limits<float>::infinity(), 0.75f}},
      {5, 1900, {0.75f, std::numeric_limits<float>::quiet_NaN(), 1.25f}}};
  const auto nf = buildChronology(nonFinite, IndexKind::Ratio);
  EXPECT_EQ(nf.ignoredValues, 2);
  ASSERT_EQ(nf.chronology.years.size(), 3u);
  EXPECT_EQ(nf.chronology.years[1].depth, 0);
  EXPECT_FALSE(nf.chronology.years[1].robustMean.has_value());
  EXPECT_DOUBLE_EQ(*nf.chronology.years[2].mean, 1.0);

  struct Bad {
    std::vector<IndexSeries> series;
    const char* message;
  };
  const Bad bad[] = {
      {{{1, 1900, {1.0f}}, {6, 1900, {1.0f}}}, "index series 2: class 6 is not between 1 and 5"},
      {{{3, 99999, {1.0f, 1.0f, 1.0f}}}, "index series 1: years 99999 to 100001 are outside"},
      {{{3, std::numeric_limits<int32_t>::max(), {1.0f, 1.0f}}}, "are outside -100000 to 100000"},
      {{{3, -5000, {1.0f}}, {3, 15000, {1.0f}}}, "the index series span 20001 years (max 20000)"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.message);
    const auto r = buildChronology(b.series, IndexKind::Ratio);
    EXPECT_EQ(r.status, ChronStatus::InvalidInput);
    EXPECT_NE(r.message.find(b.message), std::string::npos) << r.message;
    EXPECT_TRUE(r.chronology.years.empty());
  }
}

}  // namespace
}  // namespace kavrel
