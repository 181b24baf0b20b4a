// The whole first pass on a generated store: the five class files, the five
// age-aligned files, the index files and the combined index file in class order.
#include "driver/first_pass.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>


#include "driver/class_pass.h"
#include "driver/classify.h"
#include "driver/driver_fixture.h"
#include "driver/run_context.h"
#include "rwfile/rwtest_helpers.h"
#include "rwfile/trrw.h"
#include "util/console.h"

namespace kavrel {
namespace {

using test::ReadSeries;

class FirstPass : public test::ScratchFolderTest {
 protected:
  // Adds a series with a little noise; `shape` sets
  // the course of the three thirds (+1 rising, -1 falling, 0 neither).
  void add(RunContext& ctx, int32_t length, int32_t pith, int shape, std::mt19937_64& gen) {
    SeriesStore& st = ctx.store;
    std::uniform_real_distribution<float> noise(-0.05f, 0.05f);
    const int32_t k = st.seriesCount + 1;
    std::string id = std::to_string(k);
    id.insert(0, 1, 'S');
    st.ids.push_back(id);
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
      // Neither: the first third lies between the second and the last.
      if (shape == 0) v = 3.0f * t < 1.0f ? 1.0f : (3.0f * t < 2.0f ? 0.8f : 1.2f);
      row.push_back(v + noise(gen));
    }
    st.values.push_back(row);
    st.seriesCount = k;
  }

};

TEST_F(FirstPass, RatioRunWritesEveryFileInClassOrder) {
  RunContext ctx(console_, log_);
  ctx.options.indexMode = 1;
  ctx.options.useMeanAge = false;
  std::mt19937_64 gen{123456};
  // Short and long series of each course, some with pith offsets.
  add(ctx, 60, 0, +1, gen);
  add(ctx, 180, 15, -1, gen);
  add(ctx, 50, 4, -1, gen);
  add(ctx, 200, 0, +1, gen);
  add(ctx, 120, 30, 0, gen);
  add(ctx, 70, 0, +1, gen);
  add(ctx, 210, 2, -1, gen);
  ctx.openCombinedIndexFile();

  firstPass(ctx);
  EXPECT_EQ(ctx.combinedIndexFile, nullptr);  // closed after the pass

  // Every series is in exactly one class file; classes follow from the store.
  std::vector<std::string> combinedIds;
  size_t total = 0;
  for (int32_t c = 1; c <= kClassCount; ++c) {
    const auto ci = static_cast<size_t>(c - 1);
    const std::vector<ReadSeries> raw = test::readSeriesFile(kClassFileNames[ci]);
    EXPECT_EQ(static_cast<int32_t>(raw.size()), ctx.store.classCounts[ci]);
    EXPECT_EQ(ctx.seriesInClass[ci], ctx.store.classCounts[ci]);
    EXPECT_EQ(ctx.classFileNames[ci], ageAlignedFileName(kClassFileNames[ci]));
    EXPECT_TRUE(std::filesystem::exists(ctx.classFileNames[ci]));
    // The curve fitted is one of the default candidates (or the line a
    // failed candidate falls back to).
    EXPECT_TRUE(ctx.classCurveOptions[ci] == 4 || ctx.classCurveOptions[ci] == 1 ||
                ctx.classCurveOptions[ci] == 8)
        << ctx.classCurveOptions[ci];
    const std::vector<ReadSeries> idx = test::readSeriesFile(indexFileName(ctx.classFileNames[ci]));
    ASSERT_EQ(idx.size(), raw.size());
    for (size_t m = 0; m < raw.size(); ++m) {
      EXPECT_EQ(idx[m].id, raw[m].id);
      EXPECT_EQ(idx[m].firstYear, raw[m].firstYear);
      EXPECT_EQ(idx[m].values.size(), raw[m].values.size());
      combinedIds.push_back(raw[m].id);
    }
    total += raw.size();
  }
  EXPECT_EQ(total, 7u);
  EXPECT_EQ(ctx.store.classCounts[0], 2);  // the two short rising series
  EXPECT_EQ(ctx.store.classCounts[1], 1);  // short falling
  EXPECT_EQ(ctx.store.classCounts[2], 1);  // long rising
  EXPECT_EQ(ctx.store.classCounts[3], 2);  // long falling

  const std::vector<ReadSeries> combined = test::readSeriesFile(kCombinedIndexFileName);
  ASSERT_EQ(combined.size(), combinedIds.size());
  for (size_t m = 0; m < combined.size(); ++m) EXPECT_EQ(combined[m].id, combinedIds[m]);

  EXPECT_EQ(ctx.maxAgeAllClasses, 212);
  float maxRaw = kMissingValue;
  for (const auto& row : ctx.store.values) {
    for (float v : row) maxRaw = std::max(maxRaw, v);
  }
  // The class files hold thousandths, so the largest value read back may
  // differ from the stored one by half a thousandth.
  EXPECT_NEAR(ctx.maxRawValue, maxRaw, 0.0005f);
}

TEST_F(FirstPass, NoIndicesAndNoSeries) {
  RunContext ctx(console_, log_);
  ctx.options.indexMode = 0;
  firstPass(ctx);
  for (size_t ci = 0; ci < kClassCount; ++ci) {
    EXPECT_TRUE(std::filesystem::exists(kClassFileNames[ci]));
    EXPECT_TRUE(std::filesystem::exists(ctx.classFileNames[ci]));
    EXPECT_FALSE(std::filesystem::exists(indexFileName(ctx.classFileNames[ci])));
    EXPECT_EQ(ctx.classCurveOptions[ci], kNoCurveFitted);
  }
  EXPECT_EQ(ctx.maxAgeAllClasses, 0);
  EXPECT_EQ(ctx.maxRawValue, kMissingValue);
  EXPECT_FALSE(std::filesystem::exists(kCombinedIndexFileName));
}

}  // namespace
}  // namespace kavrel
