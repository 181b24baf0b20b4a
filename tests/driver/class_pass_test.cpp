// One class pass: the mean by cambial age, its compaction and mapping back
// onto the ages, the default-fit choice, the index series and the files.
#include "driver/class_pass.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>


#include "driver/classify.h"
#include "driver/driver_fixture.h"
#include "driver/run_context.h"
#include "rwfile/trrw.h"
#include "support/testdata.h"
#include "util/console.h"
#include "util/fatal.h"
#include "util/fixedformat.h"

namespace kavrel {
namespace {

using test::commitCombined;

ClassSeries makeSeries(const std::string& id, int32_t firstYear, int32_t pith,
                       std::vector<float> values) {
  ClassSeries s;
  s.id = id;
  s.id.resize(8, ' ');
  s.firstYear = firstYear;
  s.pithOffset = pith;
  s.values = std::move(values);
  return s;
}

TEST(ClassPass, MeanByAgeAndCompaction) {
  // Pith offsets 0 and 5: ages 1..5 hold the first series alone, later ages
  // the mean of both where both have rings.
  std::vector<ClassSeries> s = {
      makeSeries("A", 1900, 0, {1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f}),
      makeSeries("B", 1910, 5, {2.385f, kMissingValue, 0.5f, 0.25f})};
  AgeMean m = meanByAge(s);
  EXPECT_EQ(m.classMaxAge, 9);
  EXPECT_EQ(m.classMinPithOffset, 0);
  EXPECT_EQ(m.meanAges, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_FLOAT_EQ(m.meanValues[4], 5.0f);
  EXPECT_FLOAT_EQ(m.meanValues[5], (6.0f + 2.385f) / 2.0f);
  EXPECT_FLOAT_EQ(m.meanValues[6], 7.0f);  // the missing ring of B does not count
  EXPECT_FLOAT_EQ(m.meanValues[7], 0.5f);
  EXPECT_FLOAT_EQ(m.meanValues[8], 0.25f);
  EXPECT_EQ(s[1].atAge(5), kMissingValue);
  EXPECT_EQ(s[1].atAge(6), 2.385f);
  EXPECT_EQ(s[1].atAge(10), kMissingValue);

  // Series that do not overlap leave a gap: the mean values keep their own
  // ages and the gap ages get no curve value.
  std::vector<ClassSeries> g = {makeSeries("A", 1900, 2, {1.0f, 2.0f, 3.0f}),
                                makeSeries("B", 1900, 10, {4.0f, 5.0f})};
  m = meanByAge(g);
  EXPECT_EQ(m.classMaxAge, 12);
  EXPECT_EQ(m.classMinPithOffset, 2);
  EXPECT_EQ(m.meanAges, (std::vector<int32_t>{3, 4, 5, 11, 12}));
  const std::vector<float> fitted = {10.0f, 20.0f, 30.0f, 40.0f, 50.0f};
  const std::vector<float> curve = curveByAge(m, fitted);
  ASSERT_EQ(curve.size(), 12u);
  EXPECT_EQ(curve[0], kMissingValue);
  EXPECT_EQ(curve[1], kMissingValue);
  EXPECT_EQ(curve[2], 10.0f);
  EXPECT_EQ(curve[4], 30.0f);
  for (size_t j = 5; j < 10; ++j) EXPECT_EQ(curve[j], kMissingValue) << "age " << j + 1;
  EXPECT_EQ(curve[10], 40.0f);
  EXPECT_EQ(curve[11], 50.0f);
  // A curve value that is not a number is never carried into a file.
  const std::vector<float> withNan = {1.0f, NAN, 3.0f, INFINITY, 5.0f};
  EXPECT_EQ(curveByAge(m, withNan)[3], kMissingValue);
  EXPECT_EQ(curveByAge(m, withNan)[10], kMissingValue);
  // A shorter fit (a difference index loses a point) leaves the last age empty.
  EXPECT_EQ(curveByAge(m, std::vector<float>{1, 2, 3, 4})[11], kMissingValue);

  // No series: nothing to sum.
  m = meanByAge({});
  EXPECT_EQ(m.classMaxAge, -99999);
  EXPECT_EQ(m.classMinPithOffset, 2000);
  EXPECT_TRUE(m.meanValues.empty());
  EXPECT_TRUE(curveByAge(m, {}).empty());
}

TEST(ClassPass, DefaultFitChoice) {
  EXPECT_EQ(chooseDefaultFit({0.3f, 0.3f, 0.4f}), 1);  // tie keeps linear
  EXPECT_EQ(chooseDefaultFit({0.3f, 0.2f, 0.2f}), 2);
  EXPECT_EQ(chooseDefaultFit({0.3f, 0.2f, 0.1f}), 3);
  EXPECT_EQ(chooseDefaultFit({999.0f, 999.0f, 999.0f}), 1);
  EXPECT_EQ(chooseDefaultFit({0.3f, -99.0f, 0.1f}), 2);  // moment's "no value" wins
  EXPECT_STREQ(kDefaultFitMessages[1], "Default Curve fit:  Negative Exp.");

  // An exact straight line: the linear candidate reproduces it.
  std::vector<float> line;
  for (int t = 1; t <= 60; ++t) line.push_back(2.385f - 0.0125f * static_cast<float>(t));
  DetrendOptions settings;
  std::array<float, 3> scores = scoreSeriesFits(line, settings);
  EXPECT_LT(scores[0], 1e-4f);
  EXPECT_LE(scores[0], scores[1]);
  EXPECT_LE(scores[0], scores[2]);

  // A steep negative exponential with a floor: the exponential beats the line.
  std::vector<float> decay;
  for (int t = 1; t <= 120; ++t) {
    decay.push_back(3.2f * std::exp(-0.045f * static_cast<float>(t)) + 0.41f);
  }
  const std::array<float, 3> decayScores = scoreSeriesFits(decay, settings);
  EXPECT_LT(decayScores[1], decayScores[0]);
  EXPECT_LT(decayScores[1], 0.01f);

  // A class scores each candidate by its lowest series score, in any order;
  // a series too short for the negative exponential never decides.
  const std::vector<float> shortDecay(decay.begin(), decay.begin() + 19);
  EXPECT_EQ(scoreSeriesFits(shortDecay, settings)[0], 999.0f);
  for (const auto& order : {std::vector<std::span<const float>>{line, decay, shortDecay},
                            std::vector<std::span<const float>>{shortDecay, decay, line}}) {
    const std::array<float, 3> cls = scoreDefaultFits(order, settings);
    for (size_t f = 0; f < 3; ++f) EXPECT_EQ(cls[f], std::min(scores[f], decayScores[f]));
  }

  // Missing rings are not fitted: the same line with a hole scores the same.
  std::vector<float> holed = line;
  holed.insert(holed.begin() + 20, kMissingValue);
  EXPECT_LT(scoreSeriesFits(holed, settings)[0], 1e-4f);
  // Nothing to fit: the scores stay at their start value.
  EXPECT_EQ(scoreSeriesFits(std::vector<float>{kMissingValue}, settings)[0], 999.0f);
}

TEST(ClassPass, RatioAndResidualIndices) {
  // Series of pith offset 2, rings at ages 3..7.
  const ClassSeries s =
      makeSeries("IDX", 1750, 2, {2.0f, 0.999f, kMissingValue, 1.5f, 0.6f});
  std::vector<float> curve = {kMissingValue, kMissingValue, 1.6f, 1.0f, 1.3f, 0.0f, 0.4f};
  std::vector<IndexProblem> problems;

  std::vector<float> r = indexSeries(s, curve, 1, 0.0f, problems);
  ASSERT_EQ(r.size(), 5u);  // one value per ring: the calendar years stay in place
  EXPECT_FLOAT_EQ(r[0], 1.25f);
  EXPECT_EQ(r[1], 0.998f);           // 0.999 would round to the end marker 999
  EXPECT_EQ(r[2], kMissingValue);    // the missing ring keeps its place
  EXPECT_EQ(r[3], kMissingValue);    // curve 0 at age 6: no ratio
  EXPECT_FLOAT_EQ(r[4], 1.5f);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].age, 6);
  EXPECT_EQ(problems[0].curve, 0.0f);

  // Negative curve value: also no ratio.
  problems.clear();
  curve[6] = -0.2f;
  r = indexSeries(s, curve, 1, 0.0f, problems);
  EXPECT_EQ(r[4], kMissingValue);
  EXPECT_EQ(problems.size(), 2u);

  // Residuals: value - curve + |min residual| + 0.001.
  curve = {kMissingValue, kMissingValue, 1.6f, 1.0f, 1.3f, 2.0f, 0.4f};
  const float m = minResidual(s, curve);
  EXPECT_FLOAT_EQ(m, -0.5f);  // 1.5 - 2.0 at age 6
  problems.clear();
  r = indexSeries(s, curve, 2, m, problems);
  EXPECT_TRUE(problems.empty());
  EXPECT_FLOAT_EQ(r[0], 2.0f - 1.6f + 0.5f + 0.001f);
  EXPECT_EQ(r[2], kMissingValue);
  EXPECT_FLOAT_EQ(r[3], 0.001f);  // the smallest residual
  // All residuals positive: no shift, residual + 0.001.
  const ClassSeries above = makeSeries("UP", 1750, 2, {2.0f, 1.5f});
  const float mp = minResidual(above, curve);
  EXPECT_FLOAT_EQ(mp, 0.4f);
  r = indexSeries(above, curve, 2, mp, problems);
  EXPECT_FLOAT_EQ(r[0], 0.4f + 0.001f);
  EXPECT_FLOAT_EQ(r[1], 0.5f + 0.001f);
  // A ring outside the curve's ages gets no invented value.
  problems.clear();
  r = indexSeries(makeSeries("OUT", 1750, 6, {1.0f, 1.0f}), curve, 2, 0.0f, problems);
  EXPECT_FLOAT_EQ(r[0], 0.601f);
  EXPECT_EQ(r[1], kMissingValue);
  EXPECT_EQ(problems.size(), 1u);
}

TEST(ClassPass, FileNamesAndTableLines) {
  EXPECT_EQ(ageAlignedFileName("shortlowV6_raw"), "shortlowV6_raw_agealigned.txt");
  EXPECT_EQ(ageAlignedFileName("shorthighV6_raw"), "shorthighV6_raw_agealigned.txt");
  EXPECT_EQ(ageAlignedFileName("medV6_raw"), "medV6_raw_agealigned.txt");
  EXPECT_EQ(indexFileName("shorthighV6_raw_agealigned.txt"), "shorthighV6_raw_agealigned.indx.txt");
  EXPECT_EQ(indexFileName("medV6_raw_agealigned.txt"), "medV6_raw_agealigned.indx.txt");

  const std::vector<ClassSeries> s = {makeSeries("AB12", 1900, 1, {1.25f, 2.5f}),
                                      makeSeries("CD34", 1900, 0, {0.75f})};
  std::string header;
  appendAgeAlignedHeader(header, s);
  EXPECT_EQ(header.front(), ' ');
  EXPECT_NE(header.find("#age"), std::string::npos);
  EXPECT_NE(header.find("\t       f"), std::string::npos);
  EXPECT_NE(header.find("\t       AB12    "), std::string::npos);
  EXPECT_EQ(header.back(), '\n');

  std::string line;
  appendAgeAlignedLine(line, 2, 1.125f, s);
  EXPECT_EQ(line.front(), ' ');
  std::istringstream in(line);
  double age = 0, curve = 0, v1 = 0, v2 = 0;
  in >> age >> curve >> v1 >> v2;
  EXPECT_EQ(age, 2.0);
  EXPECT_FLOAT_EQ(static_cast<float>(curve), 1.125f);
  EXPECT_FLOAT_EQ(static_cast<float>(v1), 1.25f);
  EXPECT_FLOAT_EQ(static_cast<float>(v2), -999.0f);
  EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 3);

  // Byte for byte the free-format line of the same items, whatever the values.
  std::mt19937_64 gen{123456};
  std::uniform_real_distribution<float> width(0.0f, 12.0f);
  std::vector<ClassSeries> many;
  for (int k = 0; k < 40; ++k) {
    std::vector<float> v(30);
    for (float& x : v) x = k % 7 == 0 ? -999.0f : width(gen) * (k % 5 == 0 ? 1e-4f : 1.0f);
    std::string id = "S";
    id += std::to_string(k);
    many.push_back(makeSeries(id, 1900, k % 3, v));
  }
  for (int32_t age = 1; age <= 33; ++age) {
    const float curve = age == 5 ? -999.0f : width(gen);
    std::vector<FmtArg> items = {age, kTableSeparator, curve};
    for (const ClassSeries& c : many) {
      items.emplace_back(kTableSeparator);
      items.emplace_back(c.atAge(age));
    }
    line.clear();
    appendAgeAlignedLine(line, age, curve, many);
    ASSERT_EQ(line, freeLine(items) + "\n") << age;
  }
}

// Runs class passes in a scratch folder, since the class files have fixed names.
class ClassPassFiles : public test::ScratchFolderTest {};

struct Table {
  std::vector<std::vector<double>> rows;  // age, curve, series...
};

Table readTable(const std::string& text) {
  Table t;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::vector<double> row;
    double x = 0;
    while (ls >> x) row.push_back(x);
    t.rows.push_back(row);
  }
  return t;
}

TEST_F(ClassPassFiles, RatioPassWritesTableAndIndices) {
  RunContext ctx(console_, log_);
  ctx.options.indexMode = 1;
  // Class 3 holds two series; the class raw file is written by the same
  // writer the classification uses.
  SeriesStore& st = ctx.store;
  st.seriesCount = 2;
  st.ids = {"P1", "P2"};
  st.firstYears = {1801, 1835};
  st.lengths = {40, 30};
  st.pithOffsets = {3, 0};
  st.totalAges = {43, 30};
  st.values.assign(2, {});
  for (int j = 1; j <= 43; ++j) {
    st.values[0].push_back(j <= 3 ? kMissingValue : 2.5f * std::exp(-0.03f * static_cast<float>(j)) + 0.3f);
  }
  for (int j = 1; j <= 30; ++j) st.values[1].push_back(j == 7 ? kMissingValue : 1.9f - 0.02f * static_cast<float>(j));
  std::array<std::string, kClassCount> names;
  for (size_t c = 0; c < names.size(); ++c) names[c] = kClassFileNames[c];
  ASSERT_TRUE(writeClassRawFiles(st, std::vector<int32_t>{3, 3}, names).empty());
  st.classPithOffsets[2] = {3, 0};

  ctx.openCombinedIndexFile();
  ctx.maxRawValue = kMissingValue;
  classPass(ctx, 3, false);
  classPass(ctx, 1, false);  // empty class
  commitCombined(ctx);

  EXPECT_EQ(ctx.classFileNames[2], "longhighV6_raw_agealigned.txt");
  EXPECT_EQ(ctx.seriesInClass[2], 2);
  EXPECT_EQ(ctx.seriesInClass[0], 0);
  EXPECT_EQ(ctx.maxAgeAllClasses, 43);
  EXPECT_NEAR(ctx.maxRawValue, st.values[0][3], 0.0005f);  // read back in thousandths

  const Table t = readTable(test::readTextFile("longhighV6_raw_agealigned.txt"));
  ASSERT_EQ(t.rows.size(), 43u);
  for (size_t j = 0; j < t.rows.size(); ++j) {
    ASSERT_EQ(t.rows[j].size(), 4u);
    EXPECT_EQ(t.rows[j][0], static_cast<double>(j + 1));
  }
  EXPECT_EQ(t.rows[0][2], -999.0);  // inside P1's pith offset
  EXPECT_EQ(t.rows[6][3], -999.0);  // P2's missing ring
  EXPECT_EQ(t.rows[35][3], -999.0); // beyond P2's rings
  EXPECT_NE(t.rows[0][1], -999.0);  // minimum pith offset 0: curve from age 1

  // Ratio x curve gives back the raw value to the file's precision.
  RwInput in = RwInput::fromText(test::readTextFile("longhighV6_raw_agealigned.indx.txt"));
  int32_t counter = 0;
  std::string id;
  int32_t year = 0;
  std::vector<float> idx;
  ASSERT_EQ(trrwRead(in, id, year, idx, counter), 40);
  EXPECT_EQ(id, "P1      ");
  EXPECT_EQ(year, 1801);
  for (int r = 1; r <= 40; ++r) {
    const double raw = t.rows[static_cast<size_t>(3 + r - 1)][2];
    const double c = t.rows[static_cast<size_t>(3 + r - 1)][1];
    // A ratio just below 1 is written as 0.998.
    const bool atRule = std::fabs(idx[static_cast<size_t>(r - 1)] - 0.998) < 1e-6 && raw / c < 1.0;
    const double expected = atRule ? c * 0.998 : raw;
    EXPECT_NEAR(idx[static_cast<size_t>(r - 1)] * c, expected, 0.0006 * c + 1e-5) << "ring " << r;
  }
  ASSERT_EQ(trrwRead(in, id, year, idx, counter), 30);
  EXPECT_EQ(year, 1835);
  EXPECT_EQ(idx[6], kMissingValue);  // missing ring keeps its year

  // The combined file holds the same series as the class index file.
  EXPECT_EQ(test::readTextFile(kCombinedIndexFileName),
            test::readTextFile("longhighV6_raw_agealigned.indx.txt"));

  // The empty class: files exist, header only / empty.
  EXPECT_EQ(test::readTextFile("shorthighV6_raw_agealigned.indx.txt"), "");
  const std::string empty = test::readTextFile("shorthighV6_raw_agealigned.txt");
  EXPECT_EQ(std::count(empty.begin(), empty.end(), '\n'), 1);
  log_.flush();
  const std::string logText = test::readTextFile(kRunLogFileName);
  EXPECT_NE(logText.find("Processing file: longhighV6_raw_agealigned.txt"), std::string::npos);
  EXPECT_NE(logText.find("total number of series = 2"), std::string::npos);
  EXPECT_NE(logText.find("total number of series = 0"), std::string::npos);
  EXPECT_NE(logText.find("Default Curve fit:"), std::string::npos);
  // One default line: the empty class has nothing fitted.
  EXPECT_EQ(logText.find("Default Curve fit:"), logText.rfind("Default Curve fit:"));

  // A revision pass with a horizontal line (code 6) writes no default lines
  // and fits the mean: the curve column is constant wherever it has a value.
  const size_t before = test::readTextFile(kRunLogFileName).size();
  ctx.detrend.option = 6;
  ctx.options.indexMode = 0;
  classPass(ctx, 3, true);
  log_.flush();
  EXPECT_EQ(test::readTextFile(kRunLogFileName).size(), before);
  const Table t2 = readTable(test::readTextFile("longhighV6_raw_agealigned.txt"));
  for (const auto& row : t2.rows) EXPECT_FLOAT_EQ(static_cast<float>(row[1]), static_cast<float>(t2.rows[0][1]));
}

TEST_F(ClassPassFiles, ResidualPassAndMissingClassFile) {
  RunContext ctx(console_, log_);
  ctx.options.indexMode = 2;
  SeriesStore& st = ctx.store;
  st.seriesCount = 1;
  st.ids = {"RES1"};
  st.firstYears = {1950};
  st.lengths = {25};
  st.pithOffsets = {0};
  st.totalAges = {25};
  st.values.assign(1, {});
  for (int j = 1; j <= 25; ++j) st.values[0].push_back(j % 2 == 0 ? 1.2f : 0.8f);
  std::array<std::string, kClassCount> names;
  for (size_t c = 0; c < names.size(); ++c) names[c] = kClassFileNames[c];
  ASSERT_TRUE(writeClassRawFiles(st, std::vector<int32_t>{5}, names).empty());
  st.classPithOffsets[4] = {0};
  ctx.openCombinedIndexFile();
  classPass(ctx, 5, false);
  commitCombined(ctx);
  RwInput in = RwInput::fromText(test::readTextFile("medV6_raw_agealigned.indx.txt"));
  int32_t counter = 0;
  std::string id;
  int32_t year = 0;
  std::vector<float> idx;
  ASSERT_EQ(trrwRead(in, id, year, idx, counter), 25);
  EXPECT_FLOAT_EQ(*std::min_element(idx.begin(), idx.end()), 0.001f);

  // A class file with fewer series than pith offsets classed into it would
  // put every later series at the wrong cambial ages.
  st.classPithOffsets[4] = {0, 0};
  EXPECT_THROW(classPass(ctx, 5, false), Fatal);
  st.classPithOffsets[4] = {0};

  std::filesystem::remove("longlowV6_raw");
  EXPECT_THROW(classPass(ctx, 4, false), Fatal);
  EXPECT_THROW(classPass(ctx, 6, false), Fatal);
}

// A pure exponential decline fitted by the general exponential: u*exp(b*u)
// comes ever closer as the shift grows, so the fit ends on the shift limit,
// which the results and one line of the log report.
TEST_F(ClassPassFiles, GrowthCurveOnABoundIsReported) {
  RunContext ctx(console_, log_);
  SeriesStore& st = ctx.store;
  st.seriesCount = 1;
  st.ids = {"DEC1"};
  st.firstYears = {1900};
  st.lengths = {60};
  st.pithOffsets = {0};
  st.totalAges = {60};
  st.values.assign(1, {});
  for (int j = 1; j <= 60; ++j) st.values[0].push_back(2.5f * std::exp(-0.03f * static_cast<float>(j)) + 0.3f);
  std::array<std::string, kClassCount> names;
  for (size_t c = 0; c < names.size(); ++c) names[c] = kClassFileNames[c];
  ASSERT_TRUE(writeClassRawFiles(st, std::vector<int32_t>{2}, names).empty());
  st.classPithOffsets[1] = {0};
  ctx.detrend.option = 8;
  testing::internal::CaptureStdout();
  classPass(ctx, 2, true);
  const std::string screen = testing::internal::GetCapturedStdout();
  const ClassResult& r = ctx.results.classes[1];
  EXPECT_EQ(r.optionUsed, 8);
  EXPECT_EQ(r.params[5], 600.0f);
  ASSERT_EQ(std::count(r.atBound.begin(), r.atBound.end(), "s"), 1);
  std::string list;
  for (const std::string& name : r.atBound) list += (list.empty() ? "" : ", ") + name;
  const std::string line =
      " Class 2 (shortlow), General Exp.: " + list + " at the bound of the growth-curve domain\n";
  EXPECT_NE(screen.find(line), std::string::npos) << screen;
  log_.flush();
  EXPECT_NE(test::readTextFile(kRunLogFileName).find(line), std::string::npos);
}

TEST_F(ClassPassFiles, CurveBelowZeroGivesMissingRatiosWithWarnings) {
  RunContext ctx(console_, log_);
  ctx.options.indexMode = 1;
  SeriesStore& st = ctx.store;
  st.seriesCount = 1;
  st.ids = {"NEG1"};
  st.firstYears = {1900};
  st.lengths = {50};
  st.pithOffsets = {0};
  st.totalAges = {50};
  // Ten wide rings, then forty narrow ones: the straight line through them
  // falls below zero over the last 13 ages.
  st.values.assign(1, {});
  for (int j = 1; j <= 50; ++j) st.values[0].push_back(j <= 10 ? 2.0f : 0.05f);
  std::array<std::string, kClassCount> names;
  for (size_t c = 0; c < names.size(); ++c) names[c] = kClassFileNames[c];
  ASSERT_TRUE(writeClassRawFiles(st, std::vector<int32_t>{2}, names).empty());
  st.classPithOffsets[1] = {0};
  ctx.openCombinedIndexFile();
  ctx.detrend.option = 4;
  classPass(ctx, 2, true);
  commitCombined(ctx);

  RwInput in = RwInput::fromText(test::readTextFile("shortlowV6_raw_agealigned.indx.txt"));
  int32_t counter = 0;
  std::string id;
  int32_t year = 0;
  std::vector<float> idx;
  ASSERT_EQ(trrwRead(in, id, year, idx, counter), 50);
  for (int r = 1; r <= 50; ++r) {
    if (r <= 37) {
      EXPECT_GT(idx[static_cast<size_t>(r - 1)], 0.0f) << r;
    } else {
      EXPECT_EQ(idx[static_cast<size_t>(r - 1)], kMissingValue) << r;
    }
  }
  log_.flush();
  const std::string logText = test::readTextFile(kRunLogFileName);
  size_t warnings = 0;
  for (size_t pos = logText.find("Class 2 (shortlow): Warning: series NEG1 age"); pos != std::string::npos;
       pos = logText.find("Class 2 (shortlow): Warning: series NEG1 age", pos + 1)) {
    ++warnings;
  }
  EXPECT_EQ(warnings, 13u);
  EXPECT_NE(logText.find("age 38 regional curve"), std::string::npos);
  EXPECT_NE(logText.find("Class 2 (shortlow): 3 more index warnings are in the log"), std::string::npos);

  // A difference-index curve is one value shorter: the last age has no curve
  // value, and the warning says so rather than calling it not positive.
  ctx.openCombinedIndexFile();
  ctx.detrend.option = -1;
  classPass(ctx, 2, true);
  commitCombined(ctx);
  log_.flush();
  const std::string logAfter = test::readTextFile(kRunLogFileName);
  EXPECT_NE(logAfter.find("series NEG1 age 50 regional curve -999.0 has no value: index set to missing"),
            std::string::npos);
  EXPECT_EQ(logAfter.find("-999.0 is not positive"), std::string::npos);
}

}  // namespace
}  // namespace kavrel
