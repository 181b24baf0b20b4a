// The revision loop on a generated run: first pass, then scripted revisions
// through a console over memory streams.
#include "driver/revision.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "driver/combined_index.h"
#include "driver/first_pass.h"
#include "driver/run_context.h"
#include "rwfile/rwtest_helpers.h"
#include "rwfile/trrw.h"
#include "support/testdata.h"
#include "util/console.h"
#include "util/fatal.h"

namespace kavrel {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

// Every regular file of the working directory with its contents.
std::map<std::string, std::string> snapshot() {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::directory_iterator(".")) {
    if (e.is_regular_file()) files[e.path().filename().string()] = test::readTextFile(e.path());
  }
  return files;
}

using test::ReadSeries;

// Rows of an age-aligned file: age, curve, then one value per series.
std::vector<std::vector<double>> readTable(const std::string& name) {
  std::istringstream lines(test::readTextFile(name));
  std::string line;
  std::getline(lines, line);  // header
  std::vector<std::vector<double>> rows;
  while (std::getline(lines, line)) {
    std::istringstream items(line);
    std::vector<double> row;
    double v = 0;
    while (items >> v) row.push_back(v);
    rows.push_back(row);
  }
  return rows;
}

const std::vector<std::string> kIndexFiles = {
    "shorthighV6_raw_agealigned.indx.txt", "shortlowV6_raw_agealigned.indx.txt",
    "longhighV6_raw_agealigned.indx.txt", "longlowV6_raw_agealigned.indx.txt",
    "medV6_raw_agealigned.indx.txt"};
const std::vector<std::string> kAgeFiles = {
    "shorthighV6_raw_agealigned.txt", "shortlowV6_raw_agealigned.txt",
    "longhighV6_raw_agealigned.txt", "longlowV6_raw_agealigned.txt", "medV6_raw_agealigned.txt"};

class Revision : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("DISPLAY");  // the screen page is skipped; the plot menu still runs
    old_ = fs::current_path();
    char tmpl[] = "/tmp/kavrel_revision_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    fs::current_path(dir_);
    log_.open();
  }
  void TearDown() override {
    log_.close();
    fs::current_path(old_);
    fs::remove_all(dir_);
  }

  // Adds a series whose thirds rise (+1), fall (-1) or neither (0).
  static void add(RunContext& ctx, const std::string& id, int32_t length, int32_t pith, int shape,
                  std::mt19937_64& gen) {
    SeriesStore& st = ctx.store;
    std::uniform_real_distribution<float> noise(-0.05f, 0.05f);
    const int32_t k = st.seriesCount + 1;
    st.ids.push_back(id + std::string(8 - id.size(), ' '));
    st.firstYears.push_back(1600 + 7 * k);
    st.lengths.push_back(length);
    st.pithOffsets.push_back(pith);
    st.totalAges.push_back(length + pith);
    std::vector<float> row(static_cast<size_t>(pith), kMissingValue);
    for (int32_t r = 1; r <= length; ++r) {
      const float t = static_cast<float>(r) / static_cast<float>(length);
      float v = 1.0f;
      if (shape > 0) v = 0.6f + 0.8f * t;
      if (shape < 0) v = 2.2f * std::exp(-3.0f * t) + 0.4f;
      if (shape == 0) v = 3.0f * t < 1.0f ? 1.0f : (3.0f * t < 2.0f ? 0.8f : 1.2f);
      row.push_back(v + noise(gen));
    }
    st.values.push_back(row);
    st.seriesCount = k;
  }

  // A first pass over series of every class; DUP1 names one short rising and
  // one short falling series, so it appears in two classes.
  void firstPassOn(RunContext& ctx, int32_t indexMode) {
    ctx.options.indexMode = indexMode;
    std::mt19937_64 gen{123456};
    add(ctx, "DUP1", 60, 0, +1, gen);
    add(ctx, "B2", 180, 15, -1, gen);
    add(ctx, "DUP1", 50, 4, -1, gen);
    add(ctx, "D4", 200, 0, +1, gen);
    add(ctx, "E5", 120, 30, 0, gen);
    add(ctx, "F6", 70, 0, +1, gen);
    add(ctx, "G7", 210, 2, -1, gen);
    add(ctx, "H8", 55, 3, -1, gen);
    add(ctx, "I9", 190, 0, +1, gen);
    if (indexMode != 0) {
      ctx.openCombinedIndexFile();
    }
    firstPass(ctx);
  }

  // Runs the loop on scripted answers; returns the screen.
  std::string revise(RunContext& ctx, const std::string& answers) {
    std::string input = answers;
    std::FILE* in = fmemopen(input.data(), input.size(), "r");
    char* buf = nullptr;
    std::size_t len = 0;
    std::FILE* out = open_memstream(&buf, &len);
    Console console(in, out);
    RunContext run(console, log_);
    run.options = ctx.options;
    run.store = ctx.store;
    run.detrend = ctx.detrend;
    run.combinedIndexFile = ctx.combinedIndexFile;
    ctx.combinedIndexFile = nullptr;
    run.classFileNames = ctx.classFileNames;
    run.maxAgeAllClasses = ctx.maxAgeAllClasses;
    run.maxRawValue = ctx.maxRawValue;
    run.seriesInClass = ctx.seriesInClass;
    run.indexFileNames = ctx.indexFileNames;
    std::vector<kavrel::Revision> made;
    EXPECT_NO_THROW(revisionLoop(run, made));
    ctx.detrend = run.detrend;
    std::fclose(out);
    std::fclose(in);
    std::string screen(buf, len);
    std::free(buf);
    log_.flush();
    return screen;
  }

  fs::path old_, dir_;
  Console unused_{stdin, stdout};
  RunLog log_;
};

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// Option 4 for class 3: the log records the revision, the screen does not;
// class numbers outside 1..5 ask again; the curve of class 3 is a straight
// line whose ratios reproduce the raw values; the other classes' files stay
// as they were and the combined file holds them in order, then class 3.
TEST_F(Revision, LinearCurveForClassThree) {
  RunContext ctx(unused_, log_);
  firstPassOn(ctx, 1);
  ASSERT_GT(ctx.seriesInClass[2], 0);
  log_.flush();
  const auto before = snapshot();
  const std::string logBefore = test::readTextFile("Kavrelv6_log.txt");

  const std::string screen = revise(ctx, "c\nt\n0\n6\n3\n4\nc\nf\n");

  EXPECT_THAT(screen, HasSubstr("\n Change a RC curve? t[rue] or f[alse]:> "));
  EXPECT_THAT(screen, HasSubstr("\n   Select Age-class to change\n"
                                "   [1] shorthighV6_raw_agealigned.txt\n"
                                "   [2] shortlowV6_raw_agealigned.txt\n"
                                "   [3] longhighV6_raw_agealigned.txt\n"
                                "   [4] longlowV6_raw_agealigned.txt\n"
                                "   [5] medV6_raw_agealigned.txt\n"
                                "\n   Enter a value between 1 and 5 :> "));
  EXPECT_EQ(count(screen, "Enter a value between 1 and 5 :> "), 3);
  EXPECT_EQ(count(screen, "Change a RC curve?"), 2);
  EXPECT_THAT(screen, Not(HasSubstr("ReCalculate")));
  EXPECT_THAT(screen, Not(HasSubstr(std::string(53, '*'))));

  const std::string logText = test::readTextFile("Kavrelv6_log.txt");
  ASSERT_EQ(logText.substr(0, logBefore.size()), logBefore);
  EXPECT_EQ(logText.substr(logBefore.size()),
            "\n " + std::string(53, '*') +
                "\n ReCalculate file: longhighV6_raw_agealigned.txt\n"
                " linear regression (any slope)  f(i) = +/-c*t(i) + d\n");

  const auto after = snapshot();
  for (const auto& [name, text] : before) {
    if (name == kAgeFiles[2] || name == kIndexFiles[2] || name == kCombinedIndexFileName ||
        name == "Kavrelv6_log.txt") {
      continue;
    }
    ASSERT_TRUE(after.count(name)) << name;
    EXPECT_EQ(after.at(name), text) << name;
  }
  for (const auto& entry : after) EXPECT_FALSE(entry.first.ends_with(".part")) << entry.first;
  EXPECT_EQ(after.at(kCombinedIndexFileName),
            before.at(kIndexFiles[0]) + before.at(kIndexFiles[1]) + before.at(kIndexFiles[3]) +
                before.at(kIndexFiles[4]) + after.at(kIndexFiles[2]));

  // A straight line by cambial age, and ratio x curve = raw.
  const auto rows = readTable(kAgeFiles[2]);
  std::vector<std::pair<double, double>> curve;
  for (const auto& row : rows) {
    if (row.size() >= 2 && row[1] != -999.0) curve.emplace_back(row[0], row[1]);
  }
  ASSERT_GE(curve.size(), 3u);
  const double slope =
      (curve.back().second - curve.front().second) / (curve.back().first - curve.front().first);
  for (const auto& [age, value] : curve) {
    EXPECT_NEAR(value, curve.front().second + slope * (age - curve.front().first), 2e-3) << age;
  }
  const std::vector<ReadSeries> indices = test::readSeriesFile(kIndexFiles[2]);
  ASSERT_EQ(static_cast<int32_t>(indices.size()), ctx.seriesInClass[2]);
  for (std::size_t k = 0; k < indices.size(); ++k) {
    std::size_t age = 0;
    for (std::size_t r = 0; r < rows.size() && age < indices[k].values.size(); ++r) {
      const double raw = rows[r][2 + k];
      if (raw == -999.0) continue;
      EXPECT_NEAR(static_cast<double>(indices[k].values[age]) * rows[r][1], raw,
                  2e-3 * std::max(1.0, raw));
      ++age;
    }
    EXPECT_EQ(age, indices[k].values.size());
  }
}

// Class 2 twice (a horizontal line, then a running median of 5): one copy
// of each class-2 series, at the end; the other classes' series byte for
// byte, including the class-1 series that shares the identifier DUP1.
TEST_F(Revision, ClassTwoTwiceKeepsOneCopyAndTheSharedIdentifier) {
  RunContext ctx(unused_, log_);
  firstPassOn(ctx, 2);
  ASSERT_GT(ctx.seriesInClass[1], 0);
  log_.flush();
  const auto before = snapshot();
  const std::vector<ReadSeries> class1 = test::readSeriesFile(kIndexFiles[0]);
  const std::vector<ReadSeries> class2 = test::readSeriesFile(kIndexFiles[1]);
  auto has = [](const std::vector<ReadSeries>& v, const std::string& id) {
    for (const ReadSeries& s : v) {
      if (s.id.rfind(id, 0) == 0) return true;
    }
    return false;
  };
  ASSERT_TRUE(has(class1, "DUP1"));
  ASSERT_TRUE(has(class2, "DUP1"));

  revise(ctx, "c\nt\n2\n6\nc\nt\n2\n-3\n5\nc\nf\n");
  EXPECT_EQ(ctx.detrend.span, 5);
  EXPECT_EQ(ctx.detrend.fitParam, 5.0f);

  const auto after = snapshot();
  EXPECT_EQ(after.at(kCombinedIndexFileName),
            before.at(kIndexFiles[0]) + before.at(kIndexFiles[2]) + before.at(kIndexFiles[3]) +
                before.at(kIndexFiles[4]) + after.at(kIndexFiles[1]));
  EXPECT_NE(after.at(kIndexFiles[1]), before.at(kIndexFiles[1]));
  const std::vector<ReadSeries> combined = test::readSeriesFile(kCombinedIndexFileName);
  int dup = 0;
  for (const ReadSeries& s : combined) dup += s.id.rfind("DUP1", 0) == 0 ? 1 : 0;
  EXPECT_EQ(dup, 2);
  for (int c : {0, 2, 3, 4})
    EXPECT_EQ(after.at(kAgeFiles[static_cast<size_t>(c)]),
              before.at(kAgeFiles[static_cast<size_t>(c)]));

  const std::string logText = test::readTextFile("Kavrelv6_log.txt");
  EXPECT_EQ(count(logText, "ReCalculate file: shortlowV6_raw_agealigned.txt"), 2);
  EXPECT_EQ(count(logText, "horizontal line through mean   f(i) = mean(y(i)) = d"), 1);
  EXPECT_EQ(count(logText, " median smoothing\n"), 1);
}

}  // namespace
}  // namespace kavrel
