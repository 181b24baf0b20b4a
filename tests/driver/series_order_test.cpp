// The first pass on every real file in ../shared/data, with its series in
// file order, reversed and shuffled: per series identifier the same class,
// default curve, regional curve and index values, and the same chronology.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "chron/chronology.h"
#include "driver/driver_fixture.h"
#include "driver/first_pass.h"
#include "driver/loading.h"
#include "driver/run_context.h"
#include "driver/run_options.h"
#include "rwfile/trrw.h"
#include "support/testdata.h"

namespace kavrel {
namespace {

// What a series gets from a first pass.
struct SeriesOutcome {
  int32_t classNumber = 0;
  int32_t curveOption = 0;
  std::vector<float> curve;  // its class's regional curve by age
  std::vector<float> index;  // its index values (chronology values), one per ring
};

struct PassOutcome {
  std::map<std::string, SeriesOutcome> series;  // by identifier
  std::vector<ChronologyYear> chronology;
};

// The class means by age are summed in single precision in series order, so
// they may differ in the last digit; the class fits carry that no further than
// 1e-6 of the curve. Order-dependent defaults moved the chronology by 0.05
// and more.
bool near(double a, double b) {
  return std::fabs(a - b) <= 1.0e-6 * std::max({std::fabs(a), std::fabs(b), 1.0e-3});
}

void expectNear(const std::vector<float>& a, const std::vector<float>& b, const std::string& what) {
  ASSERT_EQ(a.size(), b.size()) << what;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    EXPECT_TRUE(near(a[i], b[i])) << what << " [" << i << "]: " << a[i] << " vs " << b[i];
  }
}

class SeriesOrder : public test::ScratchFolderTest {
 protected:
  // Loads a file into a store, pith offsets applied.
  SeriesStore load(const std::string& rwl, const char* pith) {
    SeriesStore store;
    RunOptions options;
    if (pith != nullptr) {
      options.usePithOffsets = true;
      options.pithFileName = test::sharedDataPath(pith);
      options.pithReadFormat = "(i3)";
      readPithOffsetFile(options, store.pithOffsets);
    }
    std::optional<RwInput> input = RwInput::openFile(rwl);
    EXPECT_TRUE(input.has_value()) << rwl;
    if (!input) return store;
    log_.setQuiet(true);
    loadSeries(store, options, *input, log_);
    shiftByPithOffsets(store);
    return store;
  }

  // The store with its series in the order `order` (0-based positions).
  static SeriesStore permuted(const SeriesStore& s, const std::vector<size_t>& order) {
    SeriesStore p;
    p.seriesCount = s.seriesCount;
    for (size_t i : order) {
      p.ids.push_back(s.ids[i]);
      p.firstYears.push_back(s.firstYears[i]);
      p.lengths.push_back(s.lengths[i]);
      p.totalAges.push_back(s.totalAges[i]);
      p.pithOffsets.push_back(s.pithOffsets[i]);
      p.values.push_back(s.values[i]);
    }
    return p;
  }

  PassOutcome pass(const SeriesStore& store, bool useMean) {
    RunContext ctx(console_, log_);
    ctx.options.indexMode = 1;
    ctx.options.useMeanAge = useMean;
    ctx.store = store;
    ctx.openCombinedIndexFile();
    testing::internal::CaptureStdout();
    firstPass(ctx);
    testing::internal::GetCapturedStdout();
    PassOutcome out;
    const RunResults& r = ctx.results;
    for (size_t i = 0; i < r.indexIds.size(); ++i) {
      const int32_t c = r.indexSeries[i].classNumber;
      const auto ci = static_cast<size_t>(c - 1);
      // Identifiers may repeat within a file; with the first year and the
      // length they don't.
      const std::string key = r.indexIds[i] + "@" + std::to_string(r.indexSeries[i].firstYear) +
                              "+" + std::to_string(r.indexSeries[i].values.size());
      SeriesOutcome& s = out.series[key];
      EXPECT_EQ(s.classNumber, 0) << "identifier twice: " << r.indexIds[i];
      s = {c, ctx.classCurveOptions[ci], r.classes[ci].curveByAge, r.indexSeries[i].values};
    }
    out.chronology = buildChronology(r.indexSeries, IndexKind::Ratio).chronology.years;
    return out;
  }
};

TEST_F(SeriesOrder, PermutedSeriesGiveTheSameResultsPerIdentifier) {
  struct File {
    const char* rwl;
    const char* pith;
  };
  const std::vector<File> files = {
      {"itrdb/ca533.rwl", nullptr},   {"itrdb/ca667.rwl", nullptr},  {"itrdb/cana326_error.rwl", nullptr},
      {"itrdb/co021.rwl", nullptr},   {"itrdb/morc018.rwl", nullptr}, {"itrdb/nm580.rwl", nullptr},
      {"itrdb/th001.rwl", nullptr},   {"itrdb/viet001.rwl", nullptr}, {"itrdb/wa082.rwl", nullptr},
      {"dplr/gp.rwl", "dplr/gp.pith"}, {"dplr/zof.rwl", "dplr/zof.pith"}};
  for (const File& file : files) {
    REQUIRE_SHARED_DATA(path, file.rwl);
    const SeriesStore store = load(path, file.pith);
    std::vector<size_t> order(static_cast<size_t>(store.seriesCount));
    std::iota(order.begin(), order.end(), 0);
    std::vector<size_t> reversed(order.rbegin(), order.rend());
    std::vector<size_t> shuffled = order;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(19));
    // The mean age threshold for every other file, the median for the rest.
    const bool useMean = (&file - files.data()) % 2 == 0;
    {
      const PassOutcome base = pass(store, useMean);
      for (const std::vector<size_t>& other : {reversed, shuffled}) {
        SCOPED_TRACE(std::string(file.rwl) + (useMean ? " mean" : " median") +
                     (other == reversed ? " reversed" : " shuffled"));
        const PassOutcome got = pass(permuted(store, other), useMean);
        ASSERT_EQ(got.series.size(), base.series.size());
        for (const auto& [id, b] : base.series) {
          const SeriesOutcome& g = got.series.at(id);
          EXPECT_EQ(g.classNumber, b.classNumber) << id;
          EXPECT_EQ(g.curveOption, b.curveOption) << id;
          expectNear(g.curve, b.curve, id + " curve");
          expectNear(g.index, b.index, id + " index");
        }
        ASSERT_EQ(got.chronology.size(), base.chronology.size());
        for (size_t y = 0; y < got.chronology.size(); ++y) {
          const ChronologyYear& g = got.chronology[y];
          const ChronologyYear& b = base.chronology[y];
          EXPECT_EQ(g.depth, b.depth);
          ASSERT_EQ(g.robustMean.has_value(), b.robustMean.has_value());
          if (b.robustMean) {
            EXPECT_TRUE(near(*g.robustMean, *b.robustMean)) << b.year;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace kavrel
