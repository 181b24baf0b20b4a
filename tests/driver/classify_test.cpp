// Classification by age and by the medians of the three thirds of a series,
// and the five class raw files.
#include "driver/classify.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "rwfile/rwtest_helpers.h"
#include "rwfile/trrw.h"
#include "support/testdata.h"
#include "util/fatal.h"

namespace kavrel {
namespace {

// A store after the pith-offset shift: position j of a series is cambial age j.
struct StoreBuilder {
  SeriesStore store;
  void add(const std::string& id, int32_t firstYear, int32_t pithOffset,
           const std::vector<float>& measured) {
    store.ids.push_back(id);
    store.firstYears.push_back(firstYear);
    store.lengths.push_back(static_cast<int32_t>(measured.size()));
    store.pithOffsets.push_back(pithOffset);
    store.totalAges.push_back(pithOffset + static_cast<int32_t>(measured.size()));
    std::vector<float> row(static_cast<size_t>(pithOffset), kMissingValue);
    row.insert(row.end(), measured.begin(), measured.end());
    store.values.push_back(row);
    ++store.seriesCount;
  }
};

// n values whose thirds have the given levels (thirds of thirdLength(n)).
std::vector<float> threeLevels(int32_t n, float a, float b, float c) {
  const int32_t t = thirdLength(n);
  std::vector<float> v;
  for (int32_t j = 1; j <= n; ++j) v.push_back(j <= t ? a : (j <= 2 * t ? b : c));
  return v;
}

std::string fileName(const char* stem, size_t number) {
  std::string name(stem);
  name += std::to_string(number);
  return name;
}

using test::ReadSeries;

TEST(Classify, ThirdLengthAndSegments) {
  EXPECT_EQ(thirdLength(100), 31);  // thirds 1-31, 32-62, 63-100
  EXPECT_EQ(thirdLength(10), 3);    // thirds 1-3, 4-6, 7-10
  EXPECT_EQ(thirdLength(2), 1);
  EXPECT_EQ(thirdLength(1), 0);

  // Ages 1..10 with distinct values per third; the medians come from exactly
  // the positions 1-3, 4-6 and 7-10.
  const std::vector<float> v = {1.1f, 1.3f, 1.2f, 2.0f, 2.2f, 2.1f, 0.7f, 0.9f, 0.8f, 0.6f};
  ThirdMedians m = thirdMedians(v, 10);
  EXPECT_TRUE(m.complete);
  EXPECT_FLOAT_EQ(m.medians[0], 1.2f);
  EXPECT_FLOAT_EQ(m.medians[1], 2.1f);
  EXPECT_FLOAT_EQ(m.medians[2], 0.75f);  // even count: mean of 0.7 and 0.8

  // A missing value inside a third is left out of its median.
  std::vector<float> w = v;
  w[1] = kMissingValue;  // 1.3 gone: median of 1.1, 1.2
  m = thirdMedians(w, 10);
  EXPECT_FLOAT_EQ(m.medians[0], 1.15f);

  // A first third wholly inside the pith offset has no median.
  std::vector<float> p = v;
  p[0] = p[1] = p[2] = kMissingValue;
  m = thirdMedians(p, 10);
  EXPECT_FALSE(m.complete);
  EXPECT_EQ(m.medians[0], kMissingValue);
  EXPECT_FLOAT_EQ(m.medians[1], 2.1f);

  // Total ages of 1 and 2 leave a third empty.
  EXPECT_FALSE(thirdMedians(std::vector<float>{1.0f}, 1).complete);
  EXPECT_FALSE(thirdMedians(std::vector<float>{1.0f, 2.0f}, 2).complete);
  EXPECT_TRUE(thirdMedians(std::vector<float>{1.0f, 2.0f, 3.0f}, 3).complete);
}

TEST(Classify, AgeThresholdMeanAndMedian) {
  EXPECT_FLOAT_EQ(ageThreshold(std::vector<int32_t>{60, 80, 100}, true), 80.0f);
  EXPECT_FLOAT_EQ(ageThreshold(std::vector<int32_t>{50, 60, 70, 80}, false), 65.0f);
  EXPECT_FLOAT_EQ(ageThreshold(std::vector<int32_t>{80, 50, 70}, false), 70.0f);
  EXPECT_FLOAT_EQ(ageThreshold(std::vector<int32_t>{10, 20, 60}, true), 30.0f);
}

TEST(Classify, ClassFromAgeAndThirds) {
  auto thirds = [](float a, float b, float c) {
    ThirdMedians t;
    t.medians = {a, b, c};
    t.complete = true;
    return t;
  };
  // Threshold 80: age 80 is short (a tie goes to short), 100 long.
  EXPECT_EQ(seriesClass(80, 80.0f, thirds(1.0f, 1.5f, 1.2f)), kClassShortHigh);
  EXPECT_EQ(seriesClass(80, 80.0f, thirds(1.5f, 1.0f, 1.2f)), kClassShortLow);
  EXPECT_EQ(seriesClass(100, 80.0f, thirds(1.0f, 1.5f, 1.2f)), kClassLongHigh);
  EXPECT_EQ(seriesClass(100, 80.0f, thirds(1.5f, 1.0f, 1.2f)), kClassLongLow);
  EXPECT_EQ(seriesClass(60, 80.0f, thirds(1.2f, 1.0f, 1.5f)), kClassMedium);
  EXPECT_EQ(seriesClass(100, 80.0f, thirds(1.0f, 1.0f, 2.0f)), kClassMedium);  // tie with S1
  EXPECT_EQ(seriesClass(100, 80.0f, thirds(2.0f, 1.0f, 2.0f)), kClassMedium);
  ThirdMedians incomplete = thirds(1.0f, 1.5f, 1.2f);
  incomplete.complete = false;
  EXPECT_EQ(seriesClass(100, 80.0f, incomplete), kClassMedium);

  EXPECT_EQ(avoidEndMarker(0.999f), 0.998f);
  EXPECT_EQ(avoidEndMarker(0.9985f), 0.998f);
  EXPECT_EQ(avoidEndMarker(0.998f), 0.998f);
  EXPECT_EQ(avoidEndMarker(1.0f), 1.0f);
  EXPECT_EQ(avoidEndMarker(2.385f), 2.385f);
}

TEST(Classify, StoreAndClassFiles) {
  StoreBuilder b;
  // Total ages 60, 92, 100, 80, 90, 2: mean 70.67, median 85.
  b.add("SHIGH01", 1901, 0, threeLevels(60, 1.0f, 1.5f, 1.2f));   // short high
  b.add("LLOW02", 1850, 12, threeLevels(80, 1.5f, 1.0f, 1.2f));   // age 92, long low
  b.add("LHIGH03", -105, 0, threeLevels(100, 0.5f, 0.9995f, 1.2f));  // long high
  b.add("SLOW04", 1777, 0, threeLevels(80, 2.0f, 1.0f, 1.2f));    // short low
  b.add("MED05", 1653, 0, threeLevels(90, 1.2f, 1.0f, 1.5f));     // class 5
  b.add("TINY06", 2001, 0, {0.5f, 0.6f});                         // empty third: class 5
  SeriesStore& s = b.store;

  const std::vector<int32_t> classes = classifySeries(s, false);
  EXPECT_FLOAT_EQ(s.ageThreshold, 85.0f);
  EXPECT_EQ(classes, (std::vector<int32_t>{1, 4, 3, 2, 5, 5}));
  EXPECT_EQ(s.classCounts, (std::array<int32_t, 5>{1, 1, 1, 1, 2}));
  EXPECT_EQ(s.classPithOffsets[3], std::vector<int32_t>{12});
  EXPECT_EQ(s.classPithOffsets[4], (std::vector<int32_t>{0, 0}));
  EXPECT_FLOAT_EQ(s.thirdMedians[1][0], 1.5f);

  // With the mean (70.67) the age-80 low series becomes long.
  SeriesStore copy = s;
  EXPECT_EQ(classifySeries(copy, true)[3], kClassLongLow);

  const auto dir = std::filesystem::temp_directory_path() / "kavrel_classify_test";
  std::filesystem::create_directories(dir);
  std::array<std::string, kClassCount> names;
  for (size_t c = 0; c < names.size(); ++c) names[c] = (dir / fileName("class", c + 1)).string();
  const std::vector<std::string> notes = writeClassRawFiles(s, classes, names);
  EXPECT_TRUE(notes.empty());

  // Every series lands in exactly its class's file, with its own first year
  // and its measured values only (no pith-offset positions).
  const std::vector<ReadSeries> c4 = test::readSeriesFile(names[3]);
  ASSERT_EQ(c4.size(), 1u);
  EXPECT_EQ(c4[0].id, "LLOW02  ");
  EXPECT_EQ(c4[0].firstYear, 1850);
  ASSERT_EQ(c4[0].values.size(), 80u);
  EXPECT_FLOAT_EQ(c4[0].values[0], 1.5f);

  const std::vector<ReadSeries> c3 = test::readSeriesFile(names[2]);
  ASSERT_EQ(c3.size(), 1u);
  EXPECT_EQ(c3[0].firstYear, -105);
  // 0.9995 mm is stored as 0.998, never as the thousandths 999.
  EXPECT_FLOAT_EQ(c3[0].values[40], 0.998f);
  EXPECT_EQ(test::readTextFile(names[2]).find("   999"), std::string::npos);

  const std::vector<ReadSeries> c5 = test::readSeriesFile(names[4]);
  ASSERT_EQ(c5.size(), 2u);
  EXPECT_EQ(c5[0].id, "MED05   ");
  EXPECT_EQ(c5[1].id, "TINY06  ");
  EXPECT_EQ(test::readSeriesFile(names[0]).size(), 1u);
  EXPECT_EQ(test::readSeriesFile(names[1]).size(), 1u);

  // The store itself keeps the unrounded value.
  EXPECT_FLOAT_EQ(s.value(3, 40), 0.9995f);
  std::filesystem::remove_all(dir);
}

TEST(Classify, SeriesWithoutMeasuredRingsTakeNoPart) {
  // Series whose every ring is missing (with or without a pith offset) go to
  // no class and leave the threshold and the class counts as without them.
  for (const bool mean : {false, true}) {
    StoreBuilder with;
    StoreBuilder without;
    for (StoreBuilder* b : {&with, &without}) {
      b->add("SHIGH01", 1901, 0, threeLevels(60, 1.0f, 1.5f, 1.2f));
      b->add("LLOW02", 1850, 12, threeLevels(80, 1.5f, 1.0f, 1.2f));
      b->add("MED05", 1653, 0, threeLevels(90, 1.2f, 1.0f, 1.5f));
    }
    with.add("ALLMIS", 1900, 0, std::vector<float>(30, kMissingValue));
    with.add("OFFMIS", 1900, 40, std::vector<float>(300, kMissingValue));
    const std::vector<int32_t> expected = classifySeries(without.store, mean);
    std::vector<int32_t> classes = classifySeries(with.store, mean);
    EXPECT_FLOAT_EQ(with.store.ageThreshold, without.store.ageThreshold) << mean;
    EXPECT_EQ(with.store.classCounts, without.store.classCounts) << mean;
    EXPECT_EQ(classes, (std::vector<int32_t>{expected[0], expected[1], expected[2], 0, 0})) << mean;
  }
}

TEST(Classify, EmptyStoreGivesEmptyFiles) {
  SeriesStore s;
  const std::vector<int32_t> classes = classifySeries(s, true);
  EXPECT_TRUE(classes.empty());
  EXPECT_EQ(s.classCounts, (std::array<int32_t, 5>{0, 0, 0, 0, 0}));
  const auto dir = std::filesystem::temp_directory_path() / "kavrel_classify_empty";
  std::filesystem::create_directories(dir);
  std::array<std::string, kClassCount> names;
  for (size_t c = 0; c < names.size(); ++c) names[c] = (dir / fileName("c", c)).string();
  EXPECT_TRUE(writeClassRawFiles(s, classes, names).empty());
  for (const std::string& n : names) {
    EXPECT_TRUE(std::filesystem::exists(n));
    EXPECT_EQ(std::filesystem::file_size(n), 0u);
  }
  // A class file that can't be created ends the run with its name.
  names[2] = (dir / "no_such_folder" / "longhighV6_raw").string();
  try {
    (void)writeClassRawFiles(s, classes, names);
    ADD_FAILURE() << "no Fatal";
  } catch (const Fatal& f) {
    EXPECT_NE(std::string(f.what()).find("Cannot create file " + names[2] + ": No such file"),
              std::string::npos)
        << f.what();
  }
  // Written beside their names and renamed: no scratch file is left.
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    EXPECT_FALSE(e.path().string().ends_with(".part")) << e.path();
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kavrel
