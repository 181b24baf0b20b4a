// The run report and the chronology of whole runs on real files (loading,
// classification, first pass, revisions, then the extra outputs), read back
// with an independent CSV reader and checked against the decade and
// age-aligned files the same run wrote.
#include "driver/results_output.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "driver/chronology_output.h"
#include "driver/class_pass.h"
#include "driver/combined_index.h"
#include "driver/csv_table.h"
#include "driver/first_pass.h"
#include "driver/loading.h"
#include "driver/rcdrvr.h"
#include "driver/report.h"
#include "driver/wide_tables.h"
#include "rwfile/trrw.h"
#include "support/testdata.h"
#include "util/console.h"

namespace kavrel {
namespace {

namespace fs = std::filesystem;
using test::CsvTable;
using test::parseCsv;

struct RunCase {
  const char* name;
  const char* rwl;
  const char* pith;     // read with (i3); nullptr for none
  int32_t indexMode;    // 1 ratios, 2 residuals
  bool useMeanAge;
  int32_t minAge = 0;   // age band when maxAge > 0
  int32_t maxAge = 0;
  float upperLimit = 0.0f;  // outlier limit when above 0
  std::vector<Revision> revisions;
  std::string site;
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

const std::vector<RunCase>& runCases() {
  static const std::vector<RunCase> cases = {
      {"gp_pith_ratios", "dplr/gp.rwl", "dplr/gp.pith", 1, false, 0, 0, 0.0f,
       {{3, 7, ""}, {5, -5, "7"}, {1, 30, ""}}, ""},
      {"ca533_screened_residuals", "itrdb/ca533.rwl", nullptr, 2, true, 300, 1000, 2.5f,
       {{2, -3, "9"}}, "CAMPI"},
  };
  return cases;
}

struct RunFiles {
  fs::path dir;
  std::string screen;
};

// Runs a case as the program runs it, with report and chronology asked for.
RunFiles runCase(const RunCase& c, const fs::path& dir) {
  fs::create_directories(dir);
  RunLog log;
  log.open(dir / kRunLogFileName);
  Console console(stdin, stdout);
  RunContext ctx(console, log);
  ctx.outputDir = dir;
  RunOptions& o = ctx.options;
  o.inputFileName = test::sharedDataPath(c.rwl);
  if (c.pith != nullptr) {
    o.usePithOffsets = true;
    o.pithFileName = test::sharedDataPath(c.pith);
    o.pithReadFormat = "(i3)";
    readPithOffsetFile(o, ctx.store.pithOffsets);
  }
  o.restrictAgeBand = c.maxAge > 0;
  o.minAge = c.minAge;
  o.maxAge = c.maxAge;
  o.removeOutliers = c.upperLimit > 0.0f;
  o.upperLimit = c.upperLimit;
  o.useMeanAge = c.useMeanAge;
  o.indexMode = c.indexMode;
  ctx.openCombinedIndexFile();
  ctx.results.keepWidths = true;

  testing::internal::CaptureStdout();
  loadAndPrepare(ctx);
  firstPass(ctx);
  for (const Revision& r : c.revisions) {
    applyCurveAnswer(r.option, r.answer, ctx.detrend);
    ctx.detrend.option = r.option;
    const auto ci = static_cast<size_t>(r.classNumber - 1);
    CombinedIndexRewrite rewrite(ctx.outputPath(indexFileName(ctx.classFileNames[ci])).string(),
                                 ctx.outputPath(kCombinedIndexFileName).string());
    ctx.combinedIndexFile = rewrite.file();
    classPass(ctx, r.classNumber, true);
    ctx.combinedIndexFile = nullptr;
    rewrite.commit();
  }
  RunRequest request;
  request.report = true;
  request.chronology = true;
  request.site = c.site;
  writeRequestedResults(ctx, request);
  RunFiles files{dir, testing::internal::GetCapturedStdout()};
  log.close();
  return files;
}

// One series of a decade file.
struct Decade {
  std::string id;  // trailing blanks removed
  int32_t firstYear = 0;
  std::vector<float> values;
};

std::vector<Decade> readDecadeFile(const fs::path& path) {
  std::optional<RwInput> in = RwInput::openFile(path.string());
  EXPECT_TRUE(in.has_value()) << path;
  std::vector<Decade> series;
  if (!in) return series;
  int32_t counter = 0;
  for (;;) {
    Decade d;
    if (trrwRead(*in, d.id, d.firstYear, d.values, counter) == kEndOfFile) break;
    d.id.erase(d.id.find_last_not_of(' ') + 1);
    series.push_back(std::move(d));
  }
  return series;
}

// An age-aligned file: per age the curve and the series' values.
struct AgeTable {
  size_t seriesCount = 0;
  std::vector<double> curve;                // -999 where none
  std::vector<std::vector<double>> values;  // per age, per series
};

AgeTable readAgeTable(const fs::path& path) {
  AgeTable t;
  std::istringstream in(test::readTextFile(path));
  std::string line;
  std::getline(in, line);
  std::istringstream header(line);
  std::string item;
  header >> item >> item;  // "#age", "f"
  while (header >> item) ++t.seriesCount;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    double age = 0, curve = 0;
    ls >> age >> curve;
    EXPECT_EQ(age, static_cast<double>(t.curve.size() + 1)) << path;
    t.curve.push_back(curve);
    std::vector<double> row;
    double v = 0;
    while (ls >> v) row.push_back(v);
    EXPECT_EQ(row.size(), t.seriesCount) << path << " age " << age;
    t.values.push_back(row);
  }
  return t;
}

// The classes' curve models with the report's parameter columns, at the
// position t of an age with data.
double modelValue(int option, const CsvTable& classes, size_t row, double t) {
  auto p = [&](const char* name) { return classes.number(row, name); };
  switch (option) {
    case 1:
    case 2:
    case 3:
      return p("a") * std::exp(p("b") * t) + p("k");
    case 4:
    case 5:
    case 6:
      return p("b") * t + p("k");
    case 7:
    case 8: {
      const double u = t + p("s");
      return p("a") * std::pow(u, p("c")) * std::exp(p("b") * u) + p("k");
    }
    default:
      ADD_FAILURE() << "not a parametric option " << option;
      return 0.0;
  }
}

class ResultsOutput : public testing::TestWithParam<RunCase> {
 protected:
  static void SetUpTestSuite() {
    root_ = fs::temp_directory_path() / ("kavrel_results_output_" + std::to_string(::getpid()));
  }
  static void TearDownTestSuite() { fs::remove_all(root_); }

  // The case's run, made once and shared by the tests of the case.
  const RunFiles& run() {
    const RunCase& c = GetParam();
    auto it = runs_.find(c.name);
    if (it == runs_.end()) it = runs_.emplace(c.name, runCase(c, root_ / c.name)).first;
    return it->second;
  }
  fs::path file(const std::string& name) { return run().dir / name; }
  CsvTable table(const char* name) { return parseCsv(test::readTextFile(file(name))); }

  static fs::path root_;
  static std::map<std::string, RunFiles> runs_;
};

fs::path ResultsOutput::root_;
std::map<std::string, RunFiles> ResultsOutput::runs_;

TEST_P(ResultsOutput, SeriesTableHoldsEverySeriesOnceAsTheClassFilesDo) {
  REQUIRE_SHARED_DATA(input, GetParam().rwl);
  const CsvTable t = table(kSeriesCsvName);
  const std::vector<Decade> read = readDecadeFile(input);
  ASSERT_EQ(t.rows.size(), read.size());
  std::vector<int32_t> pith;
  if (GetParam().pith != nullptr) {
    std::ifstream in(test::sharedDataPath(GetParam().pith));
    for (int32_t v = 0; in >> v;) pith.push_back(v);
  }
  size_t screened = 0;
  for (size_t r = 0; r < t.rows.size(); ++r) {
    EXPECT_EQ(t.at(r, "id"), read[r].id) << r;
    EXPECT_EQ(t.number(r, "first_year"), read[r].firstYear) << r;
    EXPECT_EQ(t.number(r, "rings"), static_cast<double>(read[r].values.size())) << r;
    EXPECT_EQ(t.number(r, "last_year"), read[r].firstYear + read[r].values.size() - 1.0) << r;
    // A class or a reason, never both.
    EXPECT_NE(t.empty(r, "class"), t.empty(r, "screened_out")) << r;
    if (!t.empty(r, "screened_out")) {
      ++screened;
      if (t.at(r, "screened_out") == "age_band") {
        EXPECT_EQ(t.number(r, "screened_value"), t.number(r, "rings"));
        EXPECT_TRUE(t.number(r, "rings") < GetParam().minAge ||
                    t.number(r, "rings") > GetParam().maxAge);
      } else {
        EXPECT_EQ(t.at(r, "screened_out"), "high_value") << r;
        EXPECT_GT(t.number(r, "screened_value"), GetParam().upperLimit);
      }
      continue;
    }
    const double offset = pith.empty() ? 0.0 : pith[r];  // no record of gp is screened
    EXPECT_EQ(t.number(r, "pith_offset"), offset) << r;
    EXPECT_EQ(t.number(r, "total_age"), t.number(r, "rings") + offset) << r;
  }
  if (GetParam().maxAge > 0) {
    EXPECT_GT(screened, 0u);
  }

  // Each class file holds exactly the rows of its class, in input order.
  size_t classed = 0;
  for (int32_t c = 1; c <= kClassCount; ++c) {
    const std::vector<Decade> inClass = readDecadeFile(file(kClassFileNames[static_cast<size_t>(c - 1)]));
    std::vector<size_t> rows;
    for (size_t r = 0; r < t.rows.size(); ++r) {
      if (t.at(r, "class") == std::to_string(c)) rows.push_back(r);
    }
    ASSERT_EQ(rows.size(), inClass.size()) << "class " << c;
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(t.at(rows[i], "id"), inClass[i].id);
      EXPECT_EQ(t.number(rows[i], "first_year"), inClass[i].firstYear);
      EXPECT_EQ(t.number(rows[i], "rings"), static_cast<double>(inClass[i].values.size()));
      EXPECT_EQ(t.at(rows[i], "class_name"), kClassNames[static_cast<size_t>(c - 1)]);
    }
    classed += rows.size();
  }
  EXPECT_EQ(classed + screened, t.rows.size());
}

TEST_P(ResultsOutput, ClassesAndCurvesAgreeWithTheAgeAlignedFiles) {
  REQUIRE_SHARED_DATA(input, GetParam().rwl);
  const CsvTable classes = table(kClassesCsvName);
  const CsvTable curves = table(kCurvesCsvName);
  ASSERT_EQ(classes.rows.size(), 5u);
  size_t curveRow = 0;
  for (int32_t c = 1; c <= kClassCount; ++c) {
    const auto row = static_cast<size_t>(c - 1);
    SCOPED_TRACE("class " + std::to_string(c));
    const std::string raw = kClassFileNames[row];
    const AgeTable aged = readAgeTable(file(ageAlignedFileName(raw)));
    EXPECT_EQ(classes.number(row, "series"), static_cast<double>(aged.seriesCount));
    EXPECT_EQ(classes.number(row, "series"), static_cast<double>(readDecadeFile(file(raw)).size()));
    if (aged.seriesCount == 0) {
      EXPECT_TRUE(classes.empty(row, "option"));
      continue;
    }
    EXPECT_EQ(classes.number(row, "max_total_age"), static_cast<double>(aged.curve.size()));
    EXPECT_EQ(classes.at(row, "threshold_kind"), GetParam().useMeanAge ? "mean" : "median");

    // The revision made last decides the class's curve.
    int32_t asked = 0;
    for (const Revision& r : GetParam().revisions) {
      if (r.classNumber == c) asked = r.option;
    }
    EXPECT_EQ(classes.at(row, "pass"), asked != 0 ? "revision" : "first");
    if (asked != 0) {
      EXPECT_EQ(classes.number(row, "option_asked"), asked);
    }
    const int option = static_cast<int>(classes.number(row, "option"));

    double rss = 0.0;
    int32_t withData = 0;
    int32_t leastDepth = INT32_MAX;
    int32_t t = 0;
    for (size_t a = 0; a < aged.curve.size(); ++a, ++curveRow) {
      ASSERT_LT(curveRow, curves.rows.size());
      EXPECT_EQ(curves.number(curveRow, "class"), c);
      EXPECT_EQ(curves.number(curveRow, "age"), a + 1.0);
      int32_t depth = 0;
      double sum = 0.0;
      for (double v : aged.values[a]) {
        if (v == -999.0) continue;
        ++depth;
        sum += v;
      }
      EXPECT_EQ(curves.number(curveRow, "depth"), depth) << "age " << a + 1;
      const double curve = aged.curve[a];
      EXPECT_EQ(curves.empty(curveRow, "curve"), curve == -999.0) << "age " << a + 1;
      if (curve != -999.0) {
        EXPECT_NEAR(curves.number(curveRow, "curve"), curve, 2e-6 * std::fabs(curve) + 1e-9);
      }
      if (depth == 0) {
        EXPECT_TRUE(curves.empty(curveRow, "mean") && curves.empty(curveRow, "t"));
        continue;
      }
      ++withData;
      ++t;
      const double mean = sum / depth;
      EXPECT_EQ(curves.number(curveRow, "t"), t);
      EXPECT_NEAR(curves.number(curveRow, "mean"), mean, 2e-6 * std::fabs(mean) + 1e-9);
      if (curve == -999.0) continue;
      rss += (mean - curve) * (mean - curve);
      leastDepth = std::min(leastDepth, depth);
      // The parameter columns give the curve back.
      if (option >= 1 && option <= 8) {
        EXPECT_NEAR(modelValue(option, classes, row, t), curve, 1e-4 * std::max(1.0, std::fabs(curve)))
            << "option " << option << ", age " << a + 1;
      }
    }
    EXPECT_EQ(classes.number(row, "ages_with_data"), withData);
    EXPECT_EQ(classes.number(row, "min_depth"), leastDepth);
    EXPECT_NEAR(classes.number(row, "rss"), rss, 1e-4 * rss + 1e-9);
    if (option == -5) {
      EXPECT_EQ(classes.number(row, "alpha"), 7.0);
    }
    if (option == -3) {
      EXPECT_EQ(classes.number(row, "window"), 9.0);
    }
    if (option == 30) {
      EXPECT_EQ(classes.number(row, "stiffness"), 30.0);
    }
  }
  EXPECT_EQ(curveRow, curves.rows.size());
}

TEST_P(ResultsOutput, ChronologyCountsTheIndexSeriesOfTheCombinedFile) {
  REQUIRE_SHARED_DATA(input, GetParam().rwl);
  const std::vector<Decade> indices = readDecadeFile(file(kCombinedIndexFileName));
  ASSERT_FALSE(indices.empty());
  std::map<int32_t, std::vector<double>> byYear;
  for (const Decade& s : indices) {
    for (size_t i = 0; i < s.values.size(); ++i) {
      if (s.values[i] != kMissingValue) byYear[s.firstYear + static_cast<int32_t>(i)].push_back(s.values[i]);
    }
  }
  const bool ratios = GetParam().indexMode == 1;
  const std::string kind = ratios ? "ratio" : "residual";
  const CsvTable chron = table(kChronologyCsvName);
  ASSERT_FALSE(chron.rows.empty());
  EXPECT_EQ(chron.number(0, "year"), byYear.begin()->first);
  EXPECT_EQ(chron.number(chron.rows.size() - 1, "year"), byYear.rbegin()->first);
  for (size_t r = 0; r < chron.rows.size(); ++r) {
    const auto year = static_cast<int32_t>(chron.number(r, "year"));
    const auto it = byYear.find(year);
    const size_t depth = it == byYear.end() ? 0 : it->second.size();
    EXPECT_EQ(chron.number(r, "depth"), static_cast<double>(depth)) << year;
    EXPECT_EQ(chron.empty(r, "mean_" + kind), depth == 0) << year;
    if (ratios && depth > 0) {
      double mean = 0.0;
      for (double v : it->second) mean += v / static_cast<double>(depth);
      // The files hold thousandths, and 0.998 for a ratio just below 1.
      EXPECT_NEAR(chron.number(r, "mean_ratio"), mean, 0.0021) << year;
    }
  }

  const CsvTable signal = table(kSignalCsvName);
  ASSERT_FALSE(signal.rows.empty());
  // Windows every 25 years, and one more ending at the chronology's last year.
  const double lastYear = chron.number(chron.rows.size() - 1, "year");
  const size_t rows = signal.rows.size();
  for (size_t r = 0; r < rows; ++r) {
    const double first = r + 1 < rows || signal.number(r, "last_year") != lastYear
                             ? chron.number(0, "year") + 25.0 * static_cast<double>(r)
                             : lastYear - 49.0;
    EXPECT_EQ(signal.number(r, "first_year"), first);
    EXPECT_EQ(signal.number(r, "last_year") - signal.number(r, "first_year"), 49.0);
    EXPECT_EQ(signal.empty(r, "rbar"), signal.number(r, "series") < 2);
    // Every series its own tree: the tree statistics repeat the series'.
    EXPECT_EQ(signal.number(r, "trees"), signal.number(r, "series"));
    EXPECT_EQ(signal.empty(r, "eps_eff"), signal.empty(r, "eps"));
    if (!signal.empty(r, "eps")) {
      EXPECT_EQ(signal.number(r, "eps_eff"), signal.number(r, "eps"));
    }
  }
  EXPECT_EQ(signal.number(rows - 1, "last_year"), lastYear);

  // The decade chronology, for ratios only, under the site code.
  const std::string crn = test::readTextFile(file(kCrnFileName));
  if (ratios) {
    const std::string site = GetParam().site.empty()
                                 ? fs::path(GetParam().rwl).stem().string().substr(0, 6)
                                 : GetParam().site;
    ASSERT_GE(crn.size(), 6u);
    EXPECT_EQ(crn.substr(0, site.size()), site);
  } else {
    EXPECT_FALSE(fs::exists(file(kCrnFileName)));
  }
}

// The wide tables read back into the series of the input file (widths, to
// the bit) and of the combined index file (indices, to its thousandths and
// its 0.998 for a ratio just below 1; the
// residual files add one shift per series).
TEST_P(ResultsOutput, WideTablesHoldTheValuesOfTheDecadeFiles) {
  REQUIRE_SHARED_DATA(input, GetParam().rwl);
  const bool ratios = GetParam().indexMode == 1;
  struct Wide {
    const char* name;
    std::vector<Decade> decade;
    double tolerance;  // how far a value may lie from the decade file's
  };
  const std::vector<Wide> wides = {
      {kWidthsCsvName, readDecadeFile(test::sharedDataPath(GetParam().rwl)), 0.0},
      {kIndicesCsvName, readDecadeFile(file(kCombinedIndexFileName)), 0.0026}};
  const CsvTable series = table(kSeriesCsvName);
  size_t classified = 0;
  for (size_t r = 0; r < series.rows.size(); ++r) classified += series.empty(r, "class") ? 0 : 1;
  for (const Wide& w : wides) {
    SCOPED_TRACE(w.name);
    const CsvTable t = table(w.name);
    ASSERT_EQ(t.header.size(), classified + 1);
    EXPECT_EQ(t.header[0], "year");
    std::map<std::string, const Decade*> byId;
    for (const Decade& d : w.decade) byId[d.id] = &d;
    for (size_t col = 1; col < t.header.size(); ++col) {
      const auto it = byId.find(t.header[col]);
      ASSERT_NE(it, byId.end()) << t.header[col];
      const Decade& d = *it->second;
      double low = 1e9, high = -1e9;
      size_t values = 0;
      for (size_t r = 0; r < t.rows.size(); ++r) {
        const auto year = static_cast<int32_t>(std::stod(t.rows[r][0]));
        EXPECT_EQ(year, static_cast<int32_t>(std::stod(t.rows[0][0])) + static_cast<int32_t>(r));
        const int64_t i = year - d.firstYear;
        const bool has = i >= 0 && i < static_cast<int64_t>(d.values.size()) &&
                         d.values[static_cast<size_t>(i)] != kMissingValue;
        const std::string& text = t.rows[r][col];
        ASSERT_EQ(text.empty(), !has) << d.id << " " << year;
        if (!has) continue;
        ++values;
        const double diff = d.values[static_cast<size_t>(i)] - std::strtof(text.c_str(), nullptr);
        low = std::min(low, diff);
        high = std::max(high, diff);
      }
      ASSERT_GT(values, 0u) << d.id;
      EXPECT_LE(high - low, w.tolerance) << d.id;
      if (ratios || w.tolerance == 0.0) {
        EXPECT_LE(std::max(high, -low), w.tolerance) << d.id;
      }
    }
  }
}

TEST_P(ResultsOutput, ClassTableOnTheScreenNotInTheLog) {
  REQUIRE_SHARED_DATA(input, GetParam().rwl);
  const std::string& screen = run().screen;
  const size_t start = screen.find(" Class          Series   Total ages   Curve");
  ASSERT_NE(start, std::string::npos);
  std::istringstream lines(screen.substr(start));
  std::string line;
  std::getline(lines, line);
  for (int32_t c = 1; c <= kClassCount; ++c) {
    std::getline(lines, line);
    EXPECT_EQ(line.rfind(" " + std::to_string(c) + " " + kClassNames[static_cast<size_t>(c - 1)], 0), 0u)
        << line;
  }
  EXPECT_NE(screen.find(std::string("Run report: ") + kSeriesCsvName), std::string::npos);
  const std::string log = test::readTextFile(file(kRunLogFileName));
  EXPECT_EQ(log.find("Total ages"), std::string::npos);
  EXPECT_EQ(log.find(kChronologyCsvName), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(RealFiles, ResultsOutput, testing::ValuesIn(runCases()),
                         [](const testing::TestParamInfo<RunCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace kavrel
