// The reader and writer on real tree-ring data bank files: series and ring
// counts against an independent count of each file, the repairs that these
// files need, and the read -> write -> read round trip.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "rwfile/trrw.h"
#include "rwtest_helpers.h"
#include "support/testdata.h"
#include "util/fatal.h"
#include "util/missing.h"

namespace kavrel {
namespace {

using test::ReadSeries;

std::vector<ReadSeries> readFile(const std::string& path) {
  std::optional<RwInput> in = RwInput::openFile(path);
  if (!in) {
    ADD_FAILURE() << "cannot open " << path;
    return {};
  }
  in->setMessageStream(nullptr);
  return test::readAllSeries(*in);
}

const ReadSeries* findSeries(const std::vector<ReadSeries>& all, const std::string& id, int32_t firstYear) {
  for (const ReadSeries& s : all) {
    if (s.id == id && s.firstYear == firstYear) return &s;
  }
  return nullptr;
}

// Counts from an independent verification of each file (series, distinct
// identifiers, rings, negative values in the file, earliest year).
struct FileFacts {
  const char* file;
  std::size_t series;
  std::size_t distinctIds;
  std::size_t rings;
  std::size_t missing;
  int32_t earliestYear;
};

const FileFacts kFiles[] = {
    {"itrdb/ca533.rwl", 34, 34, 23276, 0, 626},     {"itrdb/co021.rwl", 35, 35, 19772, 0, 1176},
    {"itrdb/ca667.rwl", 311, 310, 142507, 0, -2649}, {"itrdb/nm580.rwl", 119, 119, 35005, 0, -136},
    {"itrdb/morc018.rwl", 100, 100, 30874, 0, 977},  {"itrdb/th001.rwl", 77, 77, 12369, 1, 1558},
    {"itrdb/viet001.rwl", 82, 81, 33511, 0, 1030},   {"itrdb/wa082.rwl", 23, 23, 4537, 1, 1698},
    {"dplr/gp.rwl", 58, 58, 16408, 0, 1570},         {"dplr/zof.rwl", 61, 61, 5527, 0, 1857},
};

class RealFile : public ::testing::TestWithParam<FileFacts> {};

TEST_P(RealFile, CountsMatchIndependentCheck) {
  const FileFacts& f = GetParam();
  REQUIRE_SHARED_DATA(path, f.file);
  std::optional<RwInput> in = RwInput::openFile(path);
  ASSERT_TRUE(in.has_value());
  const test::ReadOutcome got = test::readWithWarnings(*in);
  EXPECT_EQ(got.warnings, std::vector<std::string>{}) << f.file;
  const auto& all = got.series;
  std::set<std::string> ids;
  std::size_t rings = 0;
  std::size_t missing = 0;
  int32_t earliest = 1 << 30;
  for (const ReadSeries& s : all) {
    ids.insert(s.id);
    rings += s.values.size();
    earliest = std::min(earliest, s.firstYear);
    EXPECT_NE(s.id.find_first_not_of(' '), std::string::npos) << "blank identifier in " << f.file;
    for (float v : s.values) {
      if (v == kMissingValue) ++missing;
      else EXPECT_GE(v, 0.0f) << s.id;
    }
  }
  EXPECT_EQ(all.size(), f.series);
  EXPECT_EQ(ids.size(), f.distinctIds);
  EXPECT_EQ(rings, f.rings);
  EXPECT_EQ(missing, f.missing);
  EXPECT_EQ(earliest, f.earliestYear);
}

// Checks one written line against "(a8,i4,10i6)", or the early-year variant
// with a 7-character identifier and the year in columns 8-12.
::testing::AssertionResult matchesWriterLayout(const std::string& line) {
  static const std::regex number(" *-?[0-9]+");
  static const std::regex earlyYear("-[0-9]{4}");
  if (line.size() < 18 || line.size() > 72 || (line.size() - 12) % 6 != 0) {
    return ::testing::AssertionFailure() << "length " << line.size() << ": '" << line << "'";
  }
  const bool yearOk = std::regex_match(line.substr(8, 4), number) ||
                      (line[7] == '-' && std::regex_match(line.substr(7, 5), earlyYear));
  if (!yearOk) return ::testing::AssertionFailure() << "year field: '" << line << "'";
  for (std::size_t c = 12; c < line.size(); c += 6) {
    if (!std::regex_match(line.substr(c, 6), number)) {
      return ::testing::AssertionFailure() << "field at column " << c + 1 << ": '" << line << "'";
    }
  }
  return ::testing::AssertionSuccess();
}

TEST_P(RealFile, ReadWriteReadRoundTrip) {
  const FileFacts& f = GetParam();
  REQUIRE_SHARED_DATA(path, f.file);
  const auto first = readFile(path);
  ASSERT_EQ(first.size(), f.series);

  std::string written;
  for (const ReadSeries& s : first) {
    const RwWriteStatus status = trrwFormat(written, s.id, s.firstYear, s.values);
    EXPECT_TRUE(status.ok()) << describeWriteStatus(status, s.id);
  }
  std::istringstream lines(written);
  std::string line;
  std::size_t markers = 0;
  while (std::getline(lines, line)) {
    ASSERT_TRUE(matchesWriterLayout(line));
    if (line.size() >= 18 && line.compare(line.size() - 6, 6, " -9999") == 0) ++markers;
  }
  EXPECT_EQ(markers, first.size());

  const auto second = test::readAllSeries(written);
  ASSERT_EQ(second.size(), first.size());
  for (std::size_t k = 0; k < first.size(); ++k) {
    EXPECT_EQ(second[k].id, first[k].id);
    EXPECT_EQ(second[k].firstYear, first[k].firstYear);
    ASSERT_EQ(second[k].values.size(), first[k].values.size()) << first[k].id;
    for (std::size_t j = 0; j < first[k].values.size(); ++j) {
      const float a = first[k].values[j];
      const float b = second[k].values[j];
      if (a == kMissingValue) EXPECT_EQ(b, kMissingValue);
      else EXPECT_NEAR(b, a, 0.0005f) << first[k].id << " ring " << j;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(SharedData, RealFile, ::testing::ValuesIn(kFiles),
                         [](const ::testing::TestParamInfo<FileFacts>& info) {
                           std::string name = info.param.file;
                           name = name.substr(name.find('/') + 1);
                           return name.substr(0, name.find('.'));
                         });

TEST(RealFileRepairs, EarlyYearsAndDuplicatesInCa667) {
  REQUIRE_SHARED_DATA(path, "itrdb/ca667.rwl");
  const auto all = readFile(path);
  const ReadSeries* s = findSeries(all, "SS004B  ", -2649);
  ASSERT_NE(s, nullptr);
  // "SS004B -2649   680   630 ..." in thousandths, nine values up to -2641.
  EXPECT_NEAR(s->values[0], 0.68f, 1e-6f);
  EXPECT_NEAR(s->values[8], 0.3f, 1e-6f);
  EXPECT_NEAR(s->values[9], 0.23f, 1e-6f);
  // The two ST850A series stay apart, in file order.
  const ReadSeries* a = findSeries(all, "ST850A  ", -662);
  const ReadSeries* b = findSeries(all, "ST850A  ", -137);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(a->values.size(), 274u);
  EXPECT_EQ(b->values.size(), 591u);
  EXPECT_LT(a, b);
}

TEST(RealFileRepairs, BlankLinesInNm580AndDuplicateInViet001) {
  REQUIRE_SHARED_DATA(path, "itrdb/nm580.rwl");
  const auto all = readFile(path);
  EXPECT_NE(findSeries(all, "TUB16B  ", 1613), nullptr);
  EXPECT_NE(findSeries(all, "TUB22B  ", 1768), nullptr);
  EXPECT_NE(findSeries(all, "TUB24A  ", 1850), nullptr);

  REQUIRE_SHARED_DATA(viet, "itrdb/viet001.rwl");
  const auto v = readFile(viet);
  const ReadSeries* first = findSeries(v, "BDF02A  ", 1640);
  const ReadSeries* second = findSeries(v, "BDF02A  ", 1350);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->values.size(), 213u);
  EXPECT_EQ(second->values.size(), 506u);
}

TEST(RealFileRepairs, NegativeCodesAreMissingRings) {
  // th001: PATUNG 1928 holds the typo -2599; wa082: 712011 1900 holds -999.
  REQUIRE_SHARED_DATA(th, "itrdb/th001.rwl");
  for (const ReadSeries& s : readFile(th)) {
    if (s.id != "PATUNG  ") continue;
    ASSERT_GT(s.values.size(), static_cast<std::size_t>(1929 - s.firstYear));
    EXPECT_EQ(s.values[static_cast<std::size_t>(1928 - s.firstYear)], kMissingValue);
    EXPECT_NEAR(s.values[static_cast<std::size_t>(1929 - s.firstYear)], 0.597f, 1e-6f);
  }
  REQUIRE_SHARED_DATA(wa, "itrdb/wa082.rwl");
  bool seen = false;
  for (const ReadSeries& s : readFile(wa)) {
    if (s.id != "712011  ") continue;
    seen = true;
    EXPECT_EQ(s.values[static_cast<std::size_t>(1900 - s.firstYear)], kMissingValue);
    EXPECT_NEAR(s.values[static_cast<std::size_t>(1901 - s.firstYear)], 0.39f, 1e-6f);
  }
  EXPECT_TRUE(seen);
}

TEST(RealFileRepairs, FaultyCana326HasADefinedOutcome) {
  // The faulty file reads to its end without stopping the program. The five
  // NRX14A filler lines pasted inside NRX14B end NRX14B's first part and are a
  // series of their own; NRX14B's second part follows from 1350. Both parts
  // without a marker take the thousandths of the series before them. All 114
  // "-7" fillers become missing rings. FAD23B's first line holds six values
  // for the five years 1205-1209, and the sixth is not read. Three warnings
  // say all this.
  REQUIRE_SHARED_DATA(path, "itrdb/cana326_error.rwl");
  std::optional<RwInput> in = RwInput::openFile(path);
  ASSERT_TRUE(in.has_value());
  in->setMessageStream(nullptr);
  const test::ReadOutcome got = test::readWithWarnings(*in);
  const auto& all = got.series;
  std::size_t rings = 0;
  std::size_t missing = 0;
  for (const ReadSeries& s : all) {
    rings += s.values.size();
    missing += static_cast<std::size_t>(std::count(s.values.begin(), s.values.end(), kMissingValue));
  }
  EXPECT_EQ(all.size(), 220u);
  EXPECT_EQ(rings, 57604u);
  EXPECT_EQ(missing, 114u);

  const ReadSeries* first = findSeries(all, "NRX14B  ", 1252);
  const ReadSeries* filler = findSeries(all, "NRX14A  ", 1300);
  const ReadSeries* second = findSeries(all, "NRX14B  ", 1350);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(filler, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->values.size(), 48u);
  EXPECT_NEAR(first->values[47], 0.265f, 1e-6f);  // 1299
  EXPECT_EQ(filler->values, std::vector<float>(50, kMissingValue));
  EXPECT_NEAR(second->values[0], 0.191f, 1e-6f);
  EXPECT_EQ(second->values.size(), 186u);

  const ReadSeries* fad = findSeries(all, "FAD23B  ", 1205);
  ASSERT_NE(fad, nullptr);
  EXPECT_NEAR(fad->values[4], 0.308f, 1e-6f);
  EXPECT_NEAR(fad->values[5], 0.732f, 1e-6f);  // 420 of the first line is skipped

  EXPECT_NE(findSeries(all, "SF 31 E'", 1693), nullptr);
  EXPECT_EQ(got.warnings,
            (std::vector<std::string>{
                "line 733, series NRX14B: no end marker before series NRX14A begins; read in "
                "thousandths of a mm like the series before it",
                "line 738, series NRX14A: no end marker before series NRX14B begins; read in "
                "thousandths of a mm like the series before it",
                "line 3117, series FAD23B: 1 value(s) after the end of the decade (columns 43-72) "
                "not read"}));
}

TEST(RealFileRepairs, ExampleWithoutItsLastMarkerKeepsEverySeries) {
  // Without its last end marker the example file still gives all 36 series,
  // the last one in the thousandths of the others and named in a warning.
  const std::string text = test::readTextFile(test::sourceDir() + "/examples/kavrel_example.rwl");
  const std::size_t marker = text.rfind(" -9999");
  ASSERT_NE(marker, std::string::npos);
  const test::ReadOutcome whole = test::readWithWarnings(text);
  const test::ReadOutcome cut = test::readWithWarnings(text.substr(0, marker) + "\n");
  ASSERT_EQ(whole.series.size(), 36u);
  ASSERT_EQ(cut.series.size(), 36u);
  EXPECT_EQ(cut.series.back().id, whole.series.back().id);
  EXPECT_EQ(cut.series.back().values, whole.series.back().values);
  ASSERT_EQ(cut.warnings.size(), 1u);
  EXPECT_NE(cut.warnings[0].find("series KVR18B: no end marker before the end of the input"),
            std::string::npos);
}

}  // namespace
}  // namespace kavrel
