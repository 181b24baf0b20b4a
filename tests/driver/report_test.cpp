// The run report: the records kept while loading and classifying, a class
// pass's curve, depths and index series, the parameter columns of every
// method and the CSV tables built from them.
#include "driver/report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "driver/chronology_output.h"
#include "driver/class_pass.h"
#include "driver/classify.h"
#include "driver/loading.h"
#include "driver/run_context.h"
#include "driver/csv_table.h"
#include "driver/driver_fixture.h"
#include "rwfile/trrw.h"
#include "support/testdata.h"
#include "util/console.h"

namespace kavrel {
namespace {

using test::CsvTable;
using test::commitCombined;
using test::decade;
using test::parseCsv;

TEST(Report, CsvFieldsReadBack) {
  // Reals come back exactly; what is not a number is an empty field.
  for (float v : {2.385f, 0.125f, -0.0437f, 1.5e-7f, 12345.678f, 999.0f}) {
    const std::string text = csvReal(v);
    EXPECT_EQ(std::strtof(text.c_str(), nullptr), v) << text;
    EXPECT_EQ(text.find(','), std::string::npos);
  }
  EXPECT_EQ(csvReal(0.1), "0.1");
  EXPECT_EQ(csvReal(-0.0f), "0");
  EXPECT_EQ(csvReal(NAN), "");
  EXPECT_EQ(csvReal(INFINITY), "");

  // Texts with separators, quotes or edge blanks survive a CSV reader.
  const std::vector<std::string> texts = {"SF 31 E'", "a,b", "say \"x\"", " lead", "plain"};
  std::string line = "h1,h2,h3,h4,h5\n";
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) line += ',';
    line += csvText(texts[i]);
  }
  line += '\n';
  const CsvTable t = parseCsv(line);
  ASSERT_EQ(t.rows.size(), 1u);
  EXPECT_EQ(t.rows[0], texts);
  EXPECT_EQ(csvText("plain"), "plain");
}

// A class result whose curve is the model a*u^c*exp(b*u) + k (u = t + s) at
// t = 1..n, evaluated in double precision, as a Hugershoff or general
// exponential fit leaves it; detrend2 reports |b|.
ClassResult growthCurveResult(int32_t option, double a, double c, double b, double s, double k,
                              int32_t n) {
  ClassResult r;
  r.fitted = true;
  r.optionUsed = option;
  r.params = {static_cast<float>(a), static_cast<float>(c), static_cast<float>(std::fabs(b)), 0.0f,
              static_cast<float>(k), static_cast<float>(s), static_cast<float>(option)};
  for (int32_t t = 1; t <= n; ++t) {
    const double u = t + s;
    r.meanAges.push_back(t + 4);  // the class's first age with data is 5
    r.meanValues.push_back(0.0f);
    r.depths.push_back(1);
    r.curveByAge.resize(static_cast<size_t>(t + 4), kMissingValue);
    r.curveByAge.back() = static_cast<float>(a * std::pow(u, c) * std::exp(b * u) + k);
  }
  return r;
}

TEST(Report, ParameterColumnsByMethod) {
  struct Row {
    const char* what;
    ClassResult result;
    CurveColumns expected;
  };
  auto simple = [](int32_t option, CurveParams p, int32_t n = 60) {
    ClassResult r;
    r.fitted = true;
    r.optionUsed = option;
    r.params = p;
    r.meanValues.assign(static_cast<size_t>(n), 1.0f);
    return r;
  };
  auto smoother = [&](int32_t option, int32_t span, float fitParam, int32_t stiffness, int32_t n) {
    ClassResult r = simple(option, {}, n);
    r.settings.span = span;
    r.settings.fitParam = fitParam;
    r.settings.startStiffness = stiffness;
    return r;
  };
  const std::vector<Row> rows = {
      // y = a*exp(-b*t) + k with the decline rate b > 0 in params(2): signed -b.
      {"negative exponential", simple(1, {2.385f, 0.031f, 0, 0, 0.42f, 3, 88.5f}),
       {2.385f, -0.031f, {}, {}, 0.42f}},
      {"general negative exponential", simple(3, {1.75f, 0.0125f, 0, 0, -0.3f, 0, 0}),
       {1.75f, -0.0125f, {}, {}, -0.3f}},
      // Lines: slope in params(3), intercept (or mean) in params(5).
      {"line", simple(4, {0, 0, -0.0042f, 0, 1.85f, 0, 0}), {{}, -0.0042f, {}, {}, 1.85f}},
      {"mean line", simple(6, {0, 0, 0, 0, 1.234f, 0, 0}), {{}, 0.0f, {}, {}, 1.234f}},
      // Growth curves keep b <= 0; detrend2 stores |b|.
      {"Hugershoff falling", growthCurveResult(7, 0.85, 0.6, -0.021, 3.5, 0.2, 80),
       {0.85f, -0.021f, 0.6f, 3.5f, 0.2f}},
      {"general exponential falling", growthCurveResult(8, 0.31, 1.0, -0.04, 0.0, 0.5, 120),
       {0.31f, -0.04f, 1.0f, 0.0f, 0.5f}},
      // Smoothers: the settings in force after the fit.
      {"super smoother", smoother(-5, 7, 7.0f, 20, 60), {.alpha = 7.0f}},
      {"lowess", smoother(-4, -67, 0.67f, 20, 60), {.span = 0.67f}},
      {"running medians", smoother(-3, 15, 15.7f, 20, 60), {.window = 15}},
      {"age-dependent spline", smoother(-2, -67, 0, 35, 60), {.stiffness = 35}},
      {"age-dependent spline below 1 year", smoother(-2, -67, 0, 0, 60), {.stiffness = 75}},
      {"first differences: spline of n-1 values, stiffness (n-1)/3", smoother(-1, -67, 0, 20, 100),
       {.stiffness = 33}},
      {"fixed stiffness", smoother(30, -67, 0, 20, 300), {.stiffness = 30}},
      {"stiffness as a percentage of n", smoother(-67, -67, 0, 20, 300), {.stiffness = 201}},
      {"stiffness 0 becomes 67 % of n", smoother(-7, -67, 0, 20, 300), {.stiffness = 201}},
  };
  auto same = [](const char* what, const char* column, std::optional<float> got,
                 std::optional<float> want) {
    ASSERT_EQ(got.has_value(), want.has_value()) << what << ": " << column;
    if (want) {
      EXPECT_NEAR(*got, *want, 1e-6f * std::max(1.0f, std::fabs(*want))) << what << ": " << column;
    }
  };
  for (const Row& row : rows) {
    const CurveColumns got = curveColumns(row.result);
    same(row.what, "a", got.a, row.expected.a);
    same(row.what, "b", got.b, row.expected.b);
    same(row.what, "c", got.c, row.expected.c);
    same(row.what, "s", got.s, row.expected.s);
    same(row.what, "k", got.k, row.expected.k);
    same(row.what, "span", got.span, row.expected.span);
    same(row.what, "alpha", got.alpha, row.expected.alpha);
    EXPECT_EQ(got.stiffness, row.expected.stiffness) << row.what;
    EXPECT_EQ(got.window, row.expected.window) << row.what;
  }
  // Nothing fitted: no columns.
  const CurveColumns none = curveColumns(ClassResult{});
  EXPECT_FALSE(none.a || none.b || none.k || none.stiffness || none.window);
}

TEST(ReportResults, RevisedClassSeriesMoveToTheEndAsInTheCombinedFile) {
  RunResults r;
  auto one = [](int32_t c, int32_t year) { return IndexSeries{c, year, {1.25f, 0.75f}}; };
  r.replaceIndexSeries(1, {one(1, 1901), one(1, 1902)}, {"A1", "A2"});
  r.replaceIndexSeries(2, {one(2, 1903)}, {"B1"});
  r.replaceIndexSeries(3, {one(3, 1904)}, {"C1"});
  r.replaceIndexSeries(1, {one(1, 1911)}, {"A9"});
  r.replaceIndexSeries(3, {}, {});
  ASSERT_EQ(r.indexSeries.size(), 2u);
  EXPECT_EQ(r.indexIds, (std::vector<std::string>{"B1", "A9"}));
  EXPECT_EQ(r.indexSeries[0].firstYear, 1903);
  EXPECT_EQ(r.indexSeries[1].firstYear, 1911);
  EXPECT_EQ(r.indexSeries[1].classNumber, 1);
}

std::vector<int> widths(int n, int start, int step) {
  std::vector<int> v;
  for (int i = 0; i < n; ++i) v.push_back(start + step * i);
  return v;
}

TEST(ReportLoading, EveryRecordWithItsFateAndPithOffset) {
  std::vector<int> withMissing = widths(12, 1800, -40);
  withMissing[4] = -5;  // a negative width reads as a missing ring
  std::vector<int> high = widths(10, 1000, 10);
  high[6] = 3500;
  const std::string text = decade("ACC1", 1801, withMissing) + decade("HIGH2", 1805, high) +
                           decade("SHORT3", 1810, widths(5, 900, 5)) +
                           decade("EARLY4", 1500, widths(10, 1200, 3)) +
                           decade("LONG5", 1820, widths(10, 800, 12)) +
                           decade("ACC6", 1790, widths(15, 700, 20));
  SeriesStore store;
  RunOptions o;
  o.removeOutliers = true;
  o.upperLimit = 3.0f;
  o.restrictAgeBand = true;
  o.minAge = 8;
  o.maxAge = 100;
  o.restrictYears = true;
  o.firstYearMin = 1600;
  o.firstYearMax = 1900;
  o.usePithOffsets = true;
  store.pithOffsets = {3, 7, 9, 11, 1995, 13};
  o.offsetCount = 6;
  RunLog log;
  RwInput in = RwInput::fromText(text);
  std::vector<SeriesRecord> records;
  testing::internal::CaptureStdout();
  loadSeries(store, o, in, log, &records);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(records.size(), 6u);
  ASSERT_EQ(store.seriesCount, 2);

  struct Expected {
    ScreenReason why;
    double value;
    std::optional<int32_t> pith;
    int32_t storeIndex;
    int32_t rings;
  };
  // Each dropped record keeps the offset paired with it when it was read.
  const std::vector<Expected> expected = {{ScreenReason::none, 0, {}, 1, 12},
                                          {ScreenReason::highValue, 3.5, 7, 0, 10},
                                          {ScreenReason::ageBand, 5, 9, 0, 5},
                                          {ScreenReason::firstYearBand, 1500, 11, 0, 10},
                                          {ScreenReason::tooLong, 2005, 1995, 0, 10},
                                          {ScreenReason::none, 0, {}, 2, 15}};
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(records[i].screened, expected[i].why) << i;
    EXPECT_FLOAT_EQ(static_cast<float>(records[i].screenedValue), static_cast<float>(expected[i].value)) << i;
    EXPECT_EQ(records[i].pithOffset, expected[i].pith) << i;
    EXPECT_EQ(records[i].storeIndex, expected[i].storeIndex) << i;
    EXPECT_EQ(records[i].rings, expected[i].rings) << i;
  }
  EXPECT_EQ(records[0].missingRings, 1);
  EXPECT_EQ(records[5].missingRings, 0);

  // Classification fills the accepted records: offset used, total age,
  // thirds and class.
  shiftByPithOffsets(store);
  const std::vector<int32_t> classes = classifySeries(store, true);
  RunResults results;
  results.series = records;
  recordClassification(results, store, classes, true);
  EXPECT_EQ(results.series[0].pithOffset, 3);
  EXPECT_EQ(results.series[0].totalAge, 15);
  EXPECT_EQ(results.series[5].pithOffset, 13);
  EXPECT_EQ(results.series[5].totalAge, 28);
  EXPECT_FLOAT_EQ(results.ageThreshold, 21.5f);
  EXPECT_EQ(results.series[0].classNumber, classes[0]);
  EXPECT_EQ(results.series[0].thirdMedians, store.thirdMedians[0]);

  std::string csv;
  appendSeriesCsv(csv, results);
  const CsvTable t = parseCsv(csv);
  ASSERT_EQ(t.rows.size(), 6u);
  const std::vector<std::string> codes = {"",         "high_value", "age_band",
                                          "first_year_band", "too_long",   ""};
  const std::vector<std::string> values = {"", "3.5", "5", "1500", "2005", ""};
  for (size_t r = 0; r < t.rows.size(); ++r) {
    EXPECT_EQ(t.at(r, "series"), std::to_string(r + 1));
    EXPECT_EQ(t.at(r, "screened_out"), codes[r]) << r;
    EXPECT_EQ(t.at(r, "screened_value"), values[r]) << r;
    // A series has a class or a reason, never both.
    EXPECT_NE(t.empty(r, "class"), codes[r].empty()) << r;
    EXPECT_EQ(t.empty(r, "total_age"), !codes[r].empty()) << r;
  }
  EXPECT_EQ(t.at(0, "id"), "ACC1");
  EXPECT_EQ(t.at(0, "last_year"), "1812");
  EXPECT_EQ(t.at(0, "missing_rings"), "1");
  EXPECT_EQ(t.at(1, "pith_offset"), "7");
  EXPECT_EQ(t.at(5, "total_age"), "28");
  EXPECT_EQ(t.at(5, "class_name"), kClassNames[static_cast<size_t>(classes[1] - 1)]);

  // A series without values goes to no class and says why.
  recordClassification(results, store, std::vector<int32_t>{0, classes[1]}, true);
  EXPECT_EQ(results.series[0].screened, ScreenReason::noValues);
  csv.clear();
  appendSeriesCsv(csv, results);
  const CsvTable u = parseCsv(csv);
  EXPECT_EQ(u.at(0, "screened_out"), "no_values");
  EXPECT_TRUE(u.empty(0, "class"));
}

// Class passes in a scratch folder, since the class files have fixed names.
class ReportPass : public test::ScratchFolderTest {};

// Curve column (age j at [j-1]) of an age-aligned file; -999 where none.
std::vector<double> curveColumn(const std::string& text) {
  std::vector<double> curve;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    double age = 0, c = 0;
    ls >> age >> c;
    curve.push_back(c);
  }
  return curve;
}

std::vector<float> indexFileSeries(const std::string& path, size_t which) {
  RwInput in = RwInput::fromText(test::readTextFile(path));
  int32_t counter = 0;
  std::string id;
  int32_t year = 0;
  std::vector<float> v;
  for (size_t i = 0; i <= which; ++i) EXPECT_NE(trrwRead(in, id, year, v, counter), kEndOfFile);
  return v;
}

TEST_F(ReportPass, LatestPassKeepsCurveDepthsAndIndexSeries) {
  RunContext ctx(console_, log_);
  ctx.options.indexMode = 1;
  SeriesStore& st = ctx.store;
  // Three series of class 3: pith offsets 0, 4 and 2; the second lacks its
  // third ring (age 7). Widths are whole thousandths, as the class file
  // holds them.
  st.seriesCount = 3;
  st.ids = {"S1", "S2", "S3"};
  st.firstYears = {1901, 1895, 1898};
  st.lengths = {10, 8, 5};
  st.pithOffsets = {0, 4, 2};
  st.totalAges = {10, 12, 7};
  const std::vector<std::vector<float>> rings = {
      {2.385f, 2.2f, 2.05f, 1.9f, 1.8f, 1.71f, 1.6f, 1.55f, 1.5f, 1.42f},
      {1.95f, 1.875f, kMissingValue, 1.6f, 1.5f, 1.45f, 1.3f, 1.25f},
      {2.6f, 2.4f, 2.25f, 2.1f, 1.95f}};
  st.values.clear();
  for (size_t k = 0; k < rings.size(); ++k) {
    std::vector<float> v(static_cast<size_t>(st.pithOffsets[k]), kMissingValue);
    v.insert(v.end(), rings[k].begin(), rings[k].end());
    st.values.push_back(v);
  }
  std::array<std::string, kClassCount> names;
  for (size_t c = 0; c < names.size(); ++c) names[c] = kClassFileNames[c];
  ASSERT_TRUE(writeClassRawFiles(st, std::vector<int32_t>{3, 3, 3}, names).empty());
  st.classPithOffsets[2] = {0, 4, 2};
  ctx.openCombinedIndexFile();
  ctx.maxRawValue = kMissingValue;
  testing::internal::CaptureStdout();
  classPass(ctx, 3, false);
  testing::internal::GetCapturedStdout();
  commitCombined(ctx);

  const ClassResult& r = ctx.results.classes[2];
  EXPECT_TRUE(r.passed);
  EXPECT_FALSE(r.revision);
  EXPECT_EQ(r.seriesCount, 3);
  EXPECT_EQ(r.minTotalAge, 7);
  EXPECT_EQ(r.maxTotalAge, 12);
  EXPECT_EQ(r.classMaxAge, 12);
  // Ages 1..10 from S1, 5..12 from S2 (not 7), 3..7 from S3.
  EXPECT_EQ(r.depths, (std::vector<int32_t>{1, 1, 2, 2, 3, 3, 2, 2, 2, 2, 1, 1}));
  EXPECT_EQ(r.meanAges.size(), 12u);
  EXPECT_NEAR(r.meanValues[4], (1.8 + 1.95 + 2.25) / 3, 1e-6);
  EXPECT_NEAR(r.meanValues[6], (1.6 + 1.95) / 2, 1e-6);
  EXPECT_TRUE(r.fitted);
  EXPECT_TRUE(r.optionAsked == 4 || r.optionAsked == 1 || r.optionAsked == 8);
  // The curve kept is the age-aligned file's curve column.
  const std::vector<double> fileCurve = curveColumn(test::readTextFile("longhighV6_raw_agealigned.txt"));
  ASSERT_EQ(fileCurve.size(), r.curveByAge.size());
  for (size_t j = 0; j < fileCurve.size(); ++j) {
    EXPECT_NEAR(r.curveByAge[j], fileCurve[j], 2e-6 * std::fabs(fileCurve[j])) << "age " << j + 1;
  }
  // Ratio index series: ratio x curve = raw; the index file holds the same
  // ratios in thousandths.
  const std::vector<IndexSeries>& kept = ctx.results.indexSeries;
  ASSERT_EQ(kept.size(), 3u);
  ASSERT_EQ(ctx.results.indexIds.size(), 3u);
  for (size_t k = 0; k < 3; ++k) {
    const IndexSeries& s = kept[k];
    EXPECT_EQ(s.classNumber, 3);
    EXPECT_EQ(s.firstYear, st.firstYears[k]);
    EXPECT_EQ(ctx.results.indexIds[k].substr(0, 2), st.ids[k]);
    const std::vector<float> fileIndex =
        indexFileSeries("longhighV6_raw_agealigned.indx.txt", k);
    ASSERT_EQ(s.values.size(), rings[k].size());
    for (size_t i = 0; i < rings[k].size(); ++i) {
      const float v = s.values[i];
      if (rings[k][i] == kMissingValue) {
        EXPECT_EQ(v, kMissingValue);
        continue;
      }
      const float curve = r.curveByAge[static_cast<size_t>(st.pithOffsets[k]) + i];
      EXPECT_NEAR(v * curve, rings[k][i], 1e-5f);
      EXPECT_NEAR(fileIndex[i], v, 0.0021f);  // thousandths; 0.999 is written as 0.998
    }
  }

  // A revision with residuals and the mean line replaces the class's entry.
  ctx.options.indexMode = 2;
  ctx.detrend.option = 6;
  ctx.openCombinedIndexFile();
  classPass(ctx, 3, true);
  commitCombined(ctx);
  const ClassResult& q = ctx.results.classes[2];
  EXPECT_TRUE(q.revision);
  EXPECT_EQ(q.optionAsked, 6);
  EXPECT_EQ(q.optionUsed, 6);
  double meanOfMeans = 0.0;
  for (float m : q.meanValues) meanOfMeans += m;
  meanOfMeans /= static_cast<double>(q.meanValues.size());
  EXPECT_NEAR(q.params[4], meanOfMeans, 1e-5);
  // The class's series are replaced, not added.
  ASSERT_EQ(kept.size(), 3u);
  // Residuals raw - curve, without the files' shift: the index file's value
  // minus the kept one is one constant per series, |smallest residual| + 0.001.
  for (size_t k = 0; k < 3; ++k) {
    const std::vector<float> fileIndex = indexFileSeries("longhighV6_raw_agealigned.indx.txt", k);
    float smallest = 999.0f;
    for (size_t i = 0; i < rings[k].size(); ++i) {
      if (rings[k][i] == kMissingValue) continue;
      EXPECT_NEAR(kept[k].values[i] + q.params[4], rings[k][i], 1e-5f);
      smallest = std::min(smallest, kept[k].values[i]);
    }
    const float shift = std::fabs(std::min(smallest, 0.0f)) + 0.001f;
    for (size_t i = 0; i < rings[k].size(); ++i) {
      if (rings[k][i] == kMissingValue) continue;
      EXPECT_NEAR(fileIndex[i] - kept[k].values[i], shift, 0.0006f);
    }
  }

  // The tables from the kept results.
  std::string text;
  appendCurvesCsv(text, ctx.results);
  const CsvTable curves = parseCsv(text);
  ASSERT_EQ(curves.rows.size(), 12u);
  double rss = 0.0;
  for (size_t i = 0; i < 12; ++i) {
    EXPECT_EQ(curves.at(i, "class"), "3");
    EXPECT_EQ(curves.number(i, "age"), static_cast<double>(i + 1));
    EXPECT_EQ(curves.number(i, "t"), static_cast<double>(i + 1));
    EXPECT_EQ(curves.number(i, "depth"), static_cast<double>(q.depths[i]));
    EXPECT_FLOAT_EQ(static_cast<float>(curves.number(i, "curve")), q.params[4]);
    const double d = curves.number(i, "mean") - static_cast<double>(q.params[4]);
    rss += d * d;
  }
  text.clear();
  appendClassesCsv(text, ctx.results);
  const CsvTable classes = parseCsv(text);
  ASSERT_EQ(classes.rows.size(), 5u);
  EXPECT_EQ(classes.at(2, "name"), "longhigh");
  EXPECT_EQ(classes.at(2, "series"), "3");
  EXPECT_EQ(classes.at(2, "min_total_age"), "7");
  EXPECT_EQ(classes.at(2, "max_total_age"), "12");
  EXPECT_EQ(classes.at(2, "pass"), "revision");
  EXPECT_EQ(classes.at(2, "option"), "6");
  EXPECT_NE(classes.at(2, "curve").find("horizontal line"), std::string::npos);
  EXPECT_TRUE(classes.empty(2, "a"));
  EXPECT_EQ(classes.number(2, "b"), 0.0);
  EXPECT_FLOAT_EQ(static_cast<float>(classes.number(2, "k")), q.params[4]);
  EXPECT_NEAR(classes.number(2, "rss"), rss, 1e-6 * rss);
  EXPECT_EQ(classes.at(2, "ages_with_data"), "12");
  EXPECT_EQ(classes.at(2, "min_depth"), "1");
  EXPECT_TRUE(classes.empty(2, "at_bound"));
  ctx.results.classes[2].atBound = {"a", "s"};
  text.clear();
  appendClassesCsv(text, ctx.results);
  EXPECT_EQ(parseCsv(text).at(2, "at_bound"), "a;s");
  // Classes without a pass: no series and nothing fitted.
  EXPECT_EQ(classes.at(0, "series"), "0");
  EXPECT_TRUE(classes.empty(0, "option"));
  EXPECT_TRUE(classes.empty(0, "rss"));

  // The chronology averages the kept residuals over the calendar years
  // 1895..1910: S2 1895..1902 (1897 missing), S3 1898..1902, S1 1901..1910.
  const ChronologyTexts texts = chronologyTexts(ctx.results, 2, "TEST");
  EXPECT_FALSE(texts.crnWanted);
  const CsvTable chron = parseCsv(texts.chronologyCsv);
  ASSERT_EQ(chron.rows.size(), 16u);
  const std::vector<std::string> depths = {"1", "1", "0", "2", "2", "2", "3", "3",
                                           "1", "1", "1", "1", "1", "1", "1", "1"};
  for (size_t i = 0; i < chron.rows.size(); ++i) {
    EXPECT_EQ(chron.at(i, "year"), std::to_string(1895 + i));
    EXPECT_EQ(chron.at(i, "depth"), depths[i]) << 1895 + i;
  }
  EXPECT_NEAR(chron.number(0, "mean_residual"), 1.95 - static_cast<double>(q.params[4]), 1e-5);
  EXPECT_TRUE(chron.empty(2, "mean_residual"));
}

}  // namespace
}  // namespace kavrel
