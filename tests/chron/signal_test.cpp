#include "chron/signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace kavrel {
namespace {

// Pearson correlation of two equally long stretches, straight from its definition.
double pearson(const float* a, const float* b, int32_t n) {
  double ma = 0, mb = 0;
  for (int32_t t = 0; t < n; ++t) {
    ma += a[t];
    mb += b[t];
  }
  ma /= n;
  mb /= n;
  double sab = 0, saa = 0, sbb = 0;
  for (int32_t t = 0; t < n; ++t) {
    sab += (a[t] - ma) * (b[t] - mb);
    saa += (a[t] - ma) * (a[t] - ma);
    sbb += (b[t] - mb) * (b[t] - mb);
  }
  return sab / std::sqrt(saa * sbb);
}

// Common signal (variance 0.04) plus independent noise (variance 0.06) around
// 1, 1700-1999: the expected correlation is 0.04 / (0.04 + 0.06) = 0.4.
// Besides the twelve full series: one that stops in 1760, one with a missing
// value in 1810, and one constant series, which has no correlation.
struct SignalFixture {
  static constexpr int32_t kFirst = 1700;
  static constexpr int32_t kYears = 300;
  static constexpr double kSignalSd = 0.2;
  static constexpr double kNoiseSd = 0.24494897427831781;  // sqrt(0.06)
  std::vector<IndexSeries> series;

  SignalFixture() {
    std::mt19937_64 gen{123456};
    std::normal_distribution<double> normal;
    std::vector<double> common(kYears);
    for (double& c : common) c = kSignalSd * normal(gen);
    auto make = [&](int32_t years) {
      IndexSeries s{1 + static_cast<int32_t>(series.size() % 5), kFirst, {}};
      for (int32_t t = 0; t < years; ++t) {
        s.values.push_back(
            static_cast<float>(1.0 + common[static_cast<size_t>(t)] + kNoiseSd * normal(gen)));
      }
      return s;
    };
    for (int i = 0; i < 12; ++i) series.push_back(make(kYears));
    series.push_back(make(61));  // 1700-1760
    series.push_back(make(kYears));
    series.back().values[110] = kMissingValue;  // 1810
    series.push_back({3, kFirst, std::vector<float>(kYears, 1.0f)});
  }
};

TEST(Signal, GeneratedCommonSignalPlusNoise) {
  const SignalFixture f;
  const SignalResult r = runningSignal(f.series);
  ASSERT_EQ(r.status, ChronStatus::Ok) << r.message;
  // 1700-1749, 1725-1774, ..., 1950-1999: eleven windows end by 1999.
  ASSERT_EQ(r.windows.size(), 11u);
  double rbarSum = 0.0;
  for (size_t k = 0; k < r.windows.size(); ++k) {
    const SignalWindow& w = r.windows[k];
    SCOPED_TRACE(w.firstYear);
    EXPECT_EQ(w.firstYear, 1700 + 25 * static_cast<int32_t>(k));
    EXPECT_EQ(w.lastYear, w.firstYear + 49);
    const bool shortOneCounts = w.firstYear == 1700;
    const bool gappedOneCounts = w.lastYear < 1810 || w.firstYear > 1810;
    EXPECT_EQ(w.seriesCount, 12 + int32_t{shortOneCounts} + int32_t{gappedOneCounts});

    // The pairwise definition over the series that cover the window.
    std::vector<const float*> cover;
    const auto offset = static_cast<size_t>(w.firstYear - SignalFixture::kFirst);
    for (size_t i = 0; i + 1 < f.series.size(); ++i) {  // the constant series never counts
      const auto& v = f.series[i].values;
      if (v.size() < offset + 50) continue;
      bool full = true;
      for (size_t t = offset; t < offset + 50; ++t) full = full && v[t] != kMissingValue;
      if (full) cover.push_back(v.data() + offset);
    }
    ASSERT_EQ(static_cast<int32_t>(cover.size()), w.seriesCount);
    double sum = 0.0;
    int32_t pairs = 0;
    for (size_t i = 0; i < cover.size(); ++i) {
      for (size_t j = i + 1; j < cover.size(); ++j, ++pairs) sum += pearson(cover[i], cover[j], 50);
    }
    ASSERT_TRUE(w.rbar && w.eps);
    EXPECT_NEAR(*w.rbar, sum / pairs, 1e-12);
    const double m = w.seriesCount;
    EXPECT_NEAR(*w.eps, m * *w.rbar / (1.0 + (m - 1.0) * *w.rbar), 1e-12);
    // Within sampling error of 50 years.
    EXPECT_NEAR(*w.rbar, 0.4, 0.2);
    rbarSum += *w.rbar;
  }
  EXPECT_NEAR(rbarSum / static_cast<double>(r.windows.size()), 0.4, 0.06);
}

TEST(Signal, WindowEdgesAndDegenerateWindows) {
  const float m = kMissingValue;
  std::vector<float> ramp;
  for (int t = 0; t < 80; ++t) ramp.push_back(1.0f + 0.01f * static_cast<float>((t * 37) % 11));
  auto scaled = [&](float a, float b) {
    std::vector<float> v;
    for (float x : ramp) v.push_back(a * x + b);
    return v;
  };
  struct Case {
    const char* what;
    std::vector<IndexSeries> series;
    size_t windows;  // 1900-1949, 1925-1974, ...
    int32_t m;       // in the first window
    double rbar;     // NaN: empty
    double eps;      // NaN: empty
  };
  const double none = std::nan("");
  std::vector<float> gapped = ramp;
  gapped[70] = m;
  const Case cases[] = {
      // 80 years: the window 1950-1999 would reach past 1979; the last
      // window 1930-1979 ends at the last year instead.
      {"proportional pair", {{1, 1900, ramp}, {2, 1900, scaled(2.385f, 0.5f)}}, 3, 2, 1.0, 1.0},
      // r = -1: 1 + (m - 1) rbar = 0, so EPS does not exist.
      {"mirrored pair", {{1, 1900, ramp}, {2, 1900, scaled(-1.0f, 3.0f)}}, 3, 2, -1.0, none},
      // One series covers the windows: rows with m = 1 and no rbar.
      {"one full series",
       {{1, 1900, ramp}, {2, 1900, std::vector<float>(ramp.begin(), ramp.begin() + 41)}},
       3,
       1,
       none,
       none},
      {"missing value in the second window only",
       {{1, 1900, ramp}, {2, 1900, gapped}},
       3,
       2,
       1.0,
       1.0},
      {"shorter than a window",
       {{1, 1900, std::vector<float>(ramp.begin(), ramp.begin() + 49)}},
       0,
       0,
       none,
       none},
      {"no values", {{1, 1900, {m, m}}}, 0, 0, none, none},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const SignalResult r = runningSignal(c.series);
    ASSERT_EQ(r.status, ChronStatus::Ok) << r.message;
    ASSERT_EQ(r.windows.size(), c.windows);
    if (c.windows == 0) continue;
    const SignalWindow& w = r.windows[0];
    EXPECT_EQ(w.firstYear, 1900);
    EXPECT_EQ(w.lastYear, 1949);
    EXPECT_EQ(r.windows[1].lastYear, 1974);
    EXPECT_EQ(r.windows.back().firstYear, 1930);
    EXPECT_EQ(r.windows.back().lastYear, 1979);
    EXPECT_EQ(w.seriesCount, c.m);
    EXPECT_EQ(w.rbar.has_value(), !std::isnan(c.rbar));
    if (w.rbar) {
      EXPECT_NEAR(*w.rbar, c.rbar, 1e-9);
    }
    EXPECT_EQ(w.eps.has_value(), !std::isnan(c.eps));
    if (w.eps) {
      EXPECT_NEAR(*w.eps, c.eps, 1e-9);
    }
  }
  // The gap in 1970 takes the second series out of the windows 1925-1974
  // and 1930-1979.
  EXPECT_EQ(runningSignal(cases[3].series).windows[1].seriesCount, 1);
  EXPECT_EQ(runningSignal(cases[3].series).windows[2].seriesCount, 1);

  struct Bad {
    SignalOptions options;
    const char* message;
  };
  const Bad bad[] = {{{2, 25, 2}, "window length 2 must be at least 3 years"},
                     {{50, 0, 2}, "window lag 0 must be at least 1 year"},
                     {{50, 25, 1}, "minimum series 1 must be at least 2"}};
  for (const Bad& b : bad) {
    const SignalResult r = runningSignal(cases[0].series, b.options);
    EXPECT_EQ(r.status, ChronStatus::InvalidInput);
    EXPECT_EQ(r.message, b.message);
  }
  const std::vector<IndexSeries> badClass = {{9, 1900, ramp}};
  EXPECT_EQ(runningSignal(badClass).message, "index series 1: class 9 is not between 1 and 5");
}

TEST(Signal, WeakSignalYears) {
  // Windows 1900-1949 (EPS 0.91), 1925-1974 (0.84), 1950-1999 (none).
  std::vector<SignalWindow> windows(3);
  const int32_t firsts[] = {1900, 1925, 1950};
  for (size_t k = 0; k < 3; ++k) {
    windows[k].firstYear = firsts[k];
    windows[k].lastYear = firsts[k] + 49;
  }
  windows[0].eps = 0.91;
  windows[1].eps = 0.84;
  const std::vector<bool> weak = weakSignalYears(windows, 1900, 2010);
  ASSERT_EQ(weak.size(), 111u);
  struct Expect {
    int32_t year;
    bool weak;
  };
  const Expect expect[] = {{1900, false}, {1924, false}, {1925, true}, {1974, true},
                           {1999, true},  {2000, false}, {2010, false}};
  for (const Expect& e : expect)
    EXPECT_EQ(weak[static_cast<size_t>(e.year - 1900)], e.weak) << e.year;
  EXPECT_TRUE(weakSignalYears(windows, 1900, 1899).empty());
  EXPECT_FALSE(weakSignalYears(windows, 1900, 1950, 0.80)[30]);
}

}  // namespace
}  // namespace kavrel
