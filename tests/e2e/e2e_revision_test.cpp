// Whole runs with curve revisions: the log lines of a revision, a class
// revised twice on real data with an identifier shared across classes, every
// smoothing code on real data (finite curves, ratio x curve = raw), and "/"
// in the curve menu ending the run with the files of the last pass intact.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/run_helper.h"
#include "rwfile/rwtest_helpers.h"
#include "rwfile/trrw.h"
#include "support/testdata.h"

namespace kavrel::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::vector<std::string> kRaw = {"shorthighV6_raw", "shortlowV6_raw", "longhighV6_raw",
                                       "longlowV6_raw", "medV6_raw"};
const char* const kCombined = "KavrelV6indx.raw.txt";
const char* const kLog = "Kavrelv6_log.txt";

std::string aligned(int c) { return kRaw[static_cast<size_t>(c - 1)] + "_agealigned.txt"; }
std::string indexName(int c) { return kRaw[static_cast<size_t>(c - 1)] + "_agealigned.indx.txt"; }

// The dialogue up to the plot, declining every option, median age, ratios;
// then "c" leaves the plot menu.
std::string dialogue(int indexMode = 1) {
  return "\ninput.rwl\nf\nf\nf\nf\nf\n2\n" + std::to_string(indexMode) + "\nc\n";
}

// Rows of an age-aligned table (age, curve, series values); the header is skipped.
std::vector<std::vector<double>> readTable(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);
  std::vector<std::vector<double>> rows;
  while (std::getline(lines, line)) {
    std::istringstream items(line);
    std::vector<double> row;
    std::string item;
    while (items >> item) row.push_back(std::stod(item));
    if (!row.empty()) rows.push_back(row);
  }
  return rows;
}

// Every curve value of a class is finite, and every index value times the
// curve at its age gives back the raw value (within the thousandths of the
// index file and the 0.998 rule).
void checkRatiosReproduceRaw(const RunResult& r, int c) {
  SCOPED_TRACE("class " + std::to_string(c));
  const auto rows = readTable(r.file(aligned(c)));
  const std::vector<ReadSeries> indices = readAllSeries(r.file(indexName(c)));
  ASSERT_FALSE(rows.empty());
  int curvePoints = 0;
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), indices.size() + 2);
    ASSERT_TRUE(std::isfinite(row[1])) << "age " << row[0];
    if (row[1] != -999.0) {
      EXPECT_GT(row[1], 0.0) << "age " << row[0];
      ++curvePoints;
    }
  }
  EXPECT_GT(curvePoints, 0);
  for (size_t k = 0; k < indices.size(); ++k) {
    size_t ring = 0;
    for (const auto& row : rows) {
      const double raw = row[2 + k];
      if (raw == -999.0) continue;
      ASSERT_LT(ring, indices[k].values.size()) << indices[k].id;
      const double index = indices[k].values[ring];
      EXPECT_NEAR(index * row[1], raw, 0.0021 * row[1] + 1e-4)
          << indices[k].id << " age " << row[0];
      ++ring;
    }
    EXPECT_EQ(ring, indices[k].values.size()) << indices[k].id;
  }
}

void expectNormalEnd(const RunResult& r) {
  ASSERT_EQ(r.exitStatus, 0) << r.screen.substr(r.screen.size() > 3000 ? r.screen.size() - 3000
                                                                       : 0);
  EXPECT_THAT(r.screen, HasSubstr(" Normal Termination of Program\n"));
}

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// Option 4 for class 3: four lines in the log, none of them on the screen;
// the class's curve becomes a straight line.
TEST(E2eRevision, LinearCurveForClassThreeIsLogged) {
  const std::string rwl = sourceDir() + "/examples/kavrel_example.rwl";
  // A file of the user's named temp.txt in the working folder survives.
  const std::string notes = writeTempFile("temp.txt", "field notes, plot 7\n");
  RunResult r =
      runKavrel(dialogue() + "t\n3\n4\nc\nf\n", {{rwl, "input.rwl"}, {notes, "temp.txt"}});
  expectNormalEnd(r);
  EXPECT_EQ(r.file("temp.txt"), "field notes, plot 7\n");
  const std::string log = r.file(kLog);
  EXPECT_THAT(log, HasSubstr("\n\n " + std::string(53, '*') +
                             "\n ReCalculate file: longhighV6_raw_agealigned.txt\n"
                             " linear regression (any slope)  f(i) = +/-c*t(i) + d\n"));
  EXPECT_THAT(r.screen, Not(HasSubstr("ReCalculate")));
  EXPECT_THAT(r.screen, Not(HasSubstr(std::string(53, '*'))));
  EXPECT_THAT(r.screen, HasSubstr("   [3] longhighV6_raw_agealigned.txt\n"));
  // Standard output is no terminal here: the screen is never cleared.
  EXPECT_EQ(r.screen.find('\x1b'), std::string::npos);

  std::vector<std::pair<double, double>> curve;
  for (const auto& row : readTable(r.file(aligned(3)))) {
    if (row[1] != -999.0) curve.emplace_back(row[0], row[1]);
  }
  ASSERT_GE(curve.size(), 3u);
  const double slope =
      (curve.back().second - curve.front().second) / (curve.back().first - curve.front().first);
  for (const auto& [age, value] : curve) {
    EXPECT_NEAR(value, curve.front().second + slope * (age - curve.front().first), 1e-3) << age;
  }
  checkRatiosReproduceRaw(r, 3);
}

// viet001 uses BDF02A for a short and a long series, which fall into two
// classes. One of those classes is revised twice: afterwards the combined
// file holds the untouched classes' index files byte for byte, in order, then
// the revised class's new series once; both BDF02A series are still there.
TEST(E2eRevision, ClassRevisedTwiceOnRealDataWithSharedIdentifier) {
  REQUIRE_SHARED_DATA(viet, "itrdb/viet001.rwl");
  const std::vector<RunInput> inputs = {{viet, "input.rwl"}};
  RunResult first = runKavrel(dialogue() + "f\n", inputs);
  expectNormalEnd(first);
  // No change: the 17 files of the first pass are all there.
  for (int c = 1; c <= 5; ++c) {
    for (const std::string& name : {kRaw[static_cast<size_t>(c - 1)], aligned(c), indexName(c)}) {
      EXPECT_TRUE(first.exists(name)) << name;
    }
  }
  EXPECT_TRUE(first.exists(kCombined));
  EXPECT_TRUE(first.exists(kLog));
  std::vector<int> holders;
  for (int c = 1; c <= 5; ++c) {
    for (const ReadSeries& s : readAllSeries(first.file(indexName(c)))) {
      if (s.id == "BDF02A  ") holders.push_back(c);
    }
  }
  ASSERT_EQ(holders.size(), 2u);
  ASSERT_NE(holders[0], holders[1]);
  const int revised = holders[1];
  const std::string cls = std::to_string(revised);

  RunResult r =
      runKavrel(dialogue() + "t\n" + cls + "\n6\nc\nt\n" + cls + "\n-3\n5\nc\nf\n", inputs);
  expectNormalEnd(r);
  std::string expected;
  for (int c = 1; c <= 5; ++c) {
    if (c == revised) continue;
    SCOPED_TRACE("class " + std::to_string(c));
    EXPECT_EQ(r.file(indexName(c)), first.file(indexName(c)));
    EXPECT_EQ(r.file(aligned(c)), first.file(aligned(c)));
    EXPECT_EQ(r.file(kRaw[static_cast<size_t>(c - 1)]),
              first.file(kRaw[static_cast<size_t>(c - 1)]));
    expected += first.file(indexName(c));
  }
  EXPECT_NE(r.file(indexName(revised)), first.file(indexName(revised)));
  expected += r.file(indexName(revised));
  EXPECT_EQ(r.file(kCombined), expected);
  EXPECT_THAT(r.scratchNames(), ::testing::IsEmpty());

  // The revised class keeps its series, in order, with their years and lengths.
  const std::vector<ReadSeries> before = readAllSeries(first.file(indexName(revised)));
  const std::vector<ReadSeries> after = readAllSeries(r.file(indexName(revised)));
  ASSERT_EQ(after.size(), before.size());
  for (size_t k = 0; k < after.size(); ++k) {
    EXPECT_EQ(after[k].id, before[k].id);
    EXPECT_EQ(after[k].firstYear, before[k].firstYear);
    EXPECT_EQ(after[k].values.size(), before[k].values.size());
  }
  int shared = 0;
  for (const ReadSeries& s : readAllSeries(r.file(kCombined))) shared += s.id == "BDF02A  " ? 1 : 0;
  EXPECT_EQ(shared, 2);
  checkRatiosReproduceRaw(r, revised);
  EXPECT_EQ(count(r.file(kLog), "ReCalculate file: " + aligned(revised)), 2);
}

// Every smoothing code on real data, one class each, with some rejected
// answers on the way; then the fitted curves are finite and the ratios give
// back the raw values. The combined file follows the order of the revisions.
TEST(E2eRevision, SmoothingCodesOnRealData) {
  REQUIRE_SHARED_DATA(ca533, "itrdb/ca533.rwl");
  const std::vector<RunInput> inputs = {{ca533, "input.rwl"}};
  // class 9 asks again; tweeter 10 is out of range, then RET gives 7;
  // lowess 2 starts the menu over; median 4 starts over, then 7;
  // RET gives stiffness 75; 12 is a spline of fixed length.
  const std::string smoothers =
      "t\n9\n1\n-5\n10\n\nc\n"
      "t\n2\n-4\n2\n-4\n-50\nc\n"
      "t\n3\n-3\n4\n-3\n7\nc\n"
      "t\n4\n-2\n\nc\n"
      "t\n5\n12\nc\nf\n";
  RunResult r = runKavrel(dialogue() + smoothers, inputs);
  expectNormalEnd(r);
  EXPECT_EQ(count(r.screen, "Friedman tweeter not in admissible range"), 1);
  EXPECT_EQ(count(r.screen, "Enter a value between 1 and 5 :> "), 6);
  const std::string log = r.file(kLog);
  for (const char* d : {" friedman super smoother\n", " robust lowess smoother\n",
                        " median smoothing\n", " Age-dependent spline smoothing\n"}) {
    EXPECT_EQ(count(log, d), 1) << d;
  }
  std::string expected;
  for (int c = 1; c <= 5; ++c) {
    checkRatiosReproduceRaw(r, c);
    expected += r.file(indexName(c));
  }
  EXPECT_EQ(r.file(kCombined), expected);

  // Splines of a percentage of the length, and of a fixed length, on classes
  // revised in the order 2, 1.
  RunResult s = runKavrel(dialogue() + "t\n2\n-12\nc\nt\n1\n10\nc\nf\n", inputs);
  expectNormalEnd(s);
  EXPECT_EQ(count(s.file(kLog), " cubic smoothing spline pct n 50 pct variance cutoff\n"), 1);
  // Code 10 has no description line.
  EXPECT_EQ(count(s.file(kLog), "cubic smoothing"), 1);
  EXPECT_EQ(count(s.file(kLog), "ReCalculate file: "), 2);
  checkRatiosReproduceRaw(s, 1);
  checkRatiosReproduceRaw(s, 2);
  EXPECT_EQ(s.file(kCombined), s.file(indexName(3)) + s.file(indexName(4)) + s.file(indexName(5)) +
                                   s.file(indexName(2)) + s.file(indexName(1)));
}

// "/" at the tweeter prompt ends the run at once, with the stop status; every
// output file is the one of the completed pass before it. Without indices a
// revision still refits its class and no index file appears.
TEST(E2eRevision, SlashInTheMenuAndRevisionWithoutIndices) {
  const std::string rwl = sourceDir() + "/examples/kavrel_example.rwl";
  const std::vector<RunInput> inputs = {{rwl, "input.rwl"}};
  RunResult done = runKavrel(dialogue() + "t\n2\n6\nc\nf\n", inputs);
  expectNormalEnd(done);
  RunResult stopped = runKavrel(dialogue() + "t\n2\n6\nc\nt\n1\n-5\n/\n", inputs);
  EXPECT_EQ(stopped.exitStatus, 3);
  EXPECT_THAT(stopped.screen, Not(HasSubstr("Normal Termination of Program")));
  for (int c = 1; c <= 5; ++c) {
    for (const std::string& name : {kRaw[static_cast<size_t>(c - 1)], aligned(c), indexName(c)}) {
      ASSERT_TRUE(stopped.exists(name)) << name;
      EXPECT_EQ(stopped.file(name), done.file(name)) << name;
    }
  }
  EXPECT_EQ(stopped.file(kCombined), done.file(kCombined));
  EXPECT_THAT(stopped.scratchNames(), ::testing::IsEmpty());
  const std::string doneLog = done.file(kLog);
  EXPECT_EQ(stopped.file(kLog).substr(0, doneLog.size()), doneLog);

  RunResult none = runKavrel(dialogue(0) + "t\n4\n6\nc\nf\n", inputs);
  expectNormalEnd(none);
  EXPECT_FALSE(none.exists(kCombined));
  for (int c = 1; c <= 5; ++c) EXPECT_FALSE(none.exists(indexName(c))) << c;
  EXPECT_THAT(none.file(kLog),
              HasSubstr("ReCalculate file: longlowV6_raw_agealigned.txt\n"
                        " horizontal line through mean   f(i) = mean(y(i)) = d\n"));
  // A horizontal line: one value at every age that has a curve value.
  double level = -999.0;
  for (const auto& row : readTable(none.file(aligned(4)))) {
    if (row[1] == -999.0) continue;
    if (level == -999.0) level = row[1];
    EXPECT_DOUBLE_EQ(row[1], level);
  }
  EXPECT_NE(level, -999.0);
}

}  // namespace
}  // namespace kavrel::test
