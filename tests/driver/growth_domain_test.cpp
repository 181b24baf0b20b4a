// The growth-curve fits (codes 3, 7, 8) stay in their domain (a >= 0, b <= 0,
// k >= 0, 0 <= s <= 10 n, 0 <= c <= 10), give non-negative curves with at most
// one hump, and come within 1 % of the least-squares optimum over the domain,
// on every class mean of the real files (mean and median threshold, with and
// without pith offsets) and on a bank of generated series. The optima come
// from an independent search (tools/growth_optima.py) over the series stored
// in data/growth_series.txt; both files are regenerated as that tool says.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "driver/class_pass.h"
#include "driver/classify.h"
#include "driver/loading.h"
#include "driver/run_context.h"
#include "driver/run_log.h"
#include "fit/detrend2.h"
#include "rwfile/trrw.h"
#include "support/testdata.h"

namespace kavrel {
namespace {

namespace fs = std::filesystem;

const fs::path kDataDir = fs::path(KAVREL_SOURCE_DIR) / "tests/driver/data";

struct RealFile {
  const char* rwl;
  const char* pith;  // pith-offset file read with (i3), or nullptr
};
constexpr std::array<RealFile, 13> kRealFiles{{
    {"itrdb/ca533.rwl", nullptr}, {"itrdb/ca667.rwl", nullptr},
    {"itrdb/cana326_error.rwl", nullptr}, {"itrdb/co021.rwl", nullptr},
    {"itrdb/morc018.rwl", nullptr}, {"itrdb/nm580.rwl", nullptr},
    {"itrdb/th001.rwl", nullptr}, {"itrdb/viet001.rwl", nullptr},
    {"itrdb/wa082.rwl", nullptr}, {"dplr/gp.rwl", nullptr},
    {"dplr/gp.rwl", "dplr/gp.pith"}, {"dplr/zof.rwl", nullptr},
    {"dplr/zof.rwl", "dplr/zof.pith"}}};

using SeriesMap = std::map<std::string, std::vector<float>>;

// Class means by age of every non-empty class of a file, as a run forms them,
// named file_[pith_]threshold_cN.
void addClassMeans(const RealFile& file, const fs::path& dir, SeriesMap& out) {
  std::string stem = fs::path(file.rwl).stem().string() + (file.pith != nullptr ? "_pith" : "");
  for (bool useMean : {true, false}) {
    RunLog log;
    log.open((dir / "log.txt").string());
    SeriesStore store;
    RunOptions options;
    if (file.pith != nullptr) {
      options.usePithOffsets = true;
      options.pithFileName = test::sharedDataPath(file.pith);
      options.pithReadFormat = "(i3)";
      readPithOffsetFile(options, store.pithOffsets);
    }
    std::optional<RwInput> input = RwInput::openFile(test::sharedDataPath(file.rwl));
    ASSERT_TRUE(input.has_value()) << file.rwl;
    testing::internal::CaptureStdout();
    loadSeries(store, options, *input, log);
    testing::internal::GetCapturedStdout();
    shiftByPithOffsets(store);
    const std::vector<int32_t> classes = classifySeries(store, useMean);
    std::array<std::string, kClassCount> names;
    for (size_t c = 0; c < names.size(); ++c) names[c] = (dir / kClassFileNames[c]).string();
    (void)writeClassRawFiles(store, classes, names);
    for (size_t c = 0; c < names.size(); ++c) {
      std::optional<RwInput> classFile = RwInput::openFile(names[c]);
      std::vector<ClassSeries> series;
      int32_t counter = 0;
      for (;;) {
        ClassSeries s;
        if (trrwRead(*classFile, s.id, s.firstYear, s.values, counter) == kEndOfFile) break;
        s.pithOffset = store.classPithOffsets[c][series.size()];
        series.push_back(std::move(s));
      }
      std::vector<float> mean = meanByAge(series).meanValues;
      if (mean.size() >= 3)
        out[stem + (useMean ? "_mean_c" : "_median_c") + std::to_string(c + 1)] = std::move(mean);
    }
  }
}

// The generated bank: six shapes at nine lengths from 20 to 800, with noise
// from a fixed linear congruential generator.
SeriesMap generatedBank() {
  SeriesMap bank;
  uint32_t state = 12345u;
  const auto noise = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / 16777216.0 - 0.5;
  };
  const std::array<int, 9> lengths{20, 35, 60, 100, 160, 250, 400, 600, 800};
  const std::array<const char*, 6> shapes{"declining", "humped", "rising", "flat", "step", "ushape"};
  for (size_t si = 0; si < shapes.size(); ++si) {
    for (size_t li = 0; li < lengths.size(); ++li) {
      const int n = lengths[li];
      const double level = 0.3 + 0.4 * static_cast<double>(li % 3);
      const double amp = (li % 2 == 0 ? 0.05 : 0.25) * level;
      std::vector<float> y(static_cast<size_t>(n));
      for (int t = 1; t <= n; ++t) {
        const double x = static_cast<double>(t) / n;
        double v = level;
        switch (si) {
          case 0: v = level + 2.0 * level * std::exp(-4.0 * x); break;
          case 1: v = level + 3.0 * level * std::pow(x + 0.02, 1.2) * std::exp(-5.0 * x); break;
          case 2: v = level * (0.5 + 1.5 * x); break;
          case 3: v = level; break;
          case 4: v = x < 0.4 ? 2.0 * level : level; break;
          default: v = level * (1.0 + 4.0 * (x - 0.55) * (x - 0.55)); break;
        }
        y[static_cast<size_t>(t - 1)] = static_cast<float>(std::max(v + amp * noise(), 0.01));
      }
      bank[std::string("bank_") + shapes[si] + "_" + std::to_string(n)] = std::move(y);
    }
  }
  return bank;
}

SeriesMap readSeries(const fs::path& path) {
  SeriesMap out;
  std::ifstream in(path);
  std::string name;
  size_t n = 0;
  while (in >> name >> n) {
    std::vector<float> y(n);
    for (float& v : y) in >> v;
    out[name] = std::move(y);
  }
  return out;
}

void writeSeries(const fs::path& path, const SeriesMap& series) {
  std::ofstream out(path);
  for (const auto& [name, y] : series) {
    // One series a line: its name, its count and its values.
    out << name << ' ' << y.size();
    char text[32];
    for (float v : y) {
      std::snprintf(text, sizeof text, " %.9g", static_cast<double>(v));
      out << text;
    }
    out << '\n';
  }
}

struct Optimum {
  double rss = 0.0;
  double a = 0.0, b = 0.0, c = 0.0, s = 0.0, k = 0.0;
};

// name code -> optimum over the domain.
std::map<std::pair<std::string, int>, Optimum> readOptima(const fs::path& path) {
  std::map<std::pair<std::string, int>, Optimum> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string name;
    int code = 0;
    Optimum o;
    fields >> name >> code >> o.rss >> o.a >> o.b >> o.c >> o.s >> o.k;
    out[{name, code}] = o;
  }
  return out;
}

class GrowthDomain : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("kavrel_growth_" + std::to_string(testing::UnitTest::GetInstance()->random_seed()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  SeriesMap realClassMeans() {
    SeriesMap means;
    for (const RealFile& file : kRealFiles) addClassMeans(file, dir_, means);
    return means;
  }
  fs::path dir_;
};

// Writes the series file when KAVREL_WRITE_GROWTH_SERIES names a path; the
// optima then come from tools/growth_optima.py.
TEST_F(GrowthDomain, WriteSeriesOnRequest) {
  const char* target = std::getenv("KAVREL_WRITE_GROWTH_SERIES");
  if (target == nullptr) GTEST_SKIP() << "set KAVREL_WRITE_GROWTH_SERIES to write the series";
  REQUIRE_SHARED_DATA(path, kRealFiles[0].rwl);
  SeriesMap all = realClassMeans();
  all.merge(generatedBank());
  writeSeries(target, all);
}

// The stored series are the class means a run forms today and the bank.
TEST_F(GrowthDomain, StoredSeriesAreCurrent) {
  REQUIRE_SHARED_DATA(path, kRealFiles[0].rwl);
  SeriesMap expected = realClassMeans();
  expected.merge(generatedBank());
  const SeriesMap stored = readSeries(kDataDir / "growth_series.txt");
  ASSERT_EQ(stored.size(), expected.size());
  for (const auto& [name, y] : expected) {
    const auto it = stored.find(name);
    ASSERT_NE(it, stored.end()) << name;
    EXPECT_EQ(it->second, y) << name << ": regenerate the series and optima";
  }
}

// The parameters of a fit as (value, lower bound, upper bound) by name.
struct Bounded {
  const char* name;
  double value, lower, upper;
};

TEST_F(GrowthDomain, FitsStayInTheDomainAndReachItsOptimum) {
  const SeriesMap series = readSeries(kDataDir / "growth_series.txt");
  const auto optima = readOptima(kDataDir / "growth_optima.txt");
  ASSERT_GE(series.size(), 150u);
  int checked = 0;
  for (const auto& [name, y] : series) {
    double sumSquares = 0.0;
    double sum = 0.0;
    for (float v : y) {
      sumSquares += static_cast<double>(v) * v;
      sum += v;
    }
    const auto n = static_cast<int32_t>(y.size());
    const double flatRss = sumSquares - sum * sum / n;
    for (int code : {3, 7, 8}) {
      const auto it = optima.find({name, code});
      ASSERT_NE(it, optima.end()) << name << " code " << code;
      const Optimum& best = it->second;
      std::vector<float> work = y;
      std::vector<float> curve(y.size());
      CurveParams p{};
      int32_t option = code;
      int32_t count = n;
      int32_t span = -67;
      float fitParam = 0.0f;
      std::vector<std::string> atBound{"stale"};
      testing::internal::CaptureStdout();
      detrend2(work, curve, n, count, p, option, kMaxRings, span, fitParam, 20, nullptr,
               FitSearch::full, &atBound);
      testing::internal::GetCapturedStdout();
      double rss = 0.0;
      for (size_t i = 0; i < y.size(); ++i) {
        const double r = static_cast<double>(y[i]) - curve[i];
        rss += r * r;
      }
      const std::string what = name + " code " + std::to_string(code);
      if (option == 4) {
        // Only the negative exponential falls back to a line, and only when
        // the domain's best curve is no better than the flat one.
        EXPECT_EQ(code, 3) << what;
        EXPECT_GE(best.rss, 0.99 * flatRss) << what;
        continue;
      }
      // Within 1 % of the optimum (or 1e-6 of the sum of squares where it is
      // near zero), and not far below it either: that would mean a stale or
      // weak reference.
      EXPECT_LE(rss, 1.01 * best.rss + 1e-6 * sumSquares) << what;
      EXPECT_GE(rss, 0.999 * best.rss - 1e-6 * sumSquares) << what;
      ++checked;
      ASSERT_EQ(option, code) << what;
      const double shiftMax = 10.0 * n;
      std::vector<Bounded> bounded{{"a", p[0], 0.0, HUGE_VAL}, {"b", -p[code == 3 ? 1 : 2], -HUGE_VAL, 0.0},
                                   {"k", p[4], 0.0, HUGE_VAL}};
      if (code == 7) bounded.push_back({"c", p[1], 0.0, 10.0});
      if (code != 3) bounded.push_back({"s", p[5], 0.0, shiftMax});
      for (const Bounded& q : bounded) {
        EXPECT_GE(q.value, q.lower) << what << " " << q.name;
        EXPECT_LE(q.value, q.upper) << what << " " << q.name;
        const bool onBound = q.value == q.lower || q.value == static_cast<double>(static_cast<float>(q.upper));
        EXPECT_EQ(onBound, std::count(atBound.begin(), atBound.end(), q.name) == 1) << what << " " << q.name;
      }
      // Non-negative, and once falling never rising again.
      bool fallen = false;
      for (size_t i = 0; i < curve.size(); ++i) {
        EXPECT_GE(curve[i], 0.0f) << what << " age " << i + 1;
        if (i == 0) continue;
        if (curve[i] < curve[i - 1]) fallen = true;
        if (fallen) {
          EXPECT_LE(curve[i], curve[i - 1]) << what << " age " << i + 1;
        }
      }
    }
  }
  EXPECT_GE(checked, 400);
}

}  // namespace
}  // namespace kavrel
