// Loading and screening into the series store, the pith-offset check and
// shift to cambial age, and the rows of the Loading table.
#include "driver/loading.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/driver_fixture.h"
#include "rwfile/trrw.h"
#include "util/console.h"
#include "util/fatal.h"

namespace kavrel {
namespace {

using ::testing::HasSubstr;

using test::decade;

// prefix followed by the number (built by appending: GCC 12 warns falsely
// on "literal" + string temporaries).
std::string named(const char* prefix, int n) {
  std::string s = prefix;
  s += std::to_string(n);
  return s;
}

// n values 1.000, 1.001, ... in thousandths.
std::vector<int> ramp(int n, int start = 1000) {
  std::vector<int> v;
  for (int i = 0; i < n; ++i) v.push_back(start + i);
  return v;
}

// A run log in a scratch folder, removed afterwards.
class LoadingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           (std::string("kavrel_loading_") +
            std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    log_.open((dir_ / "log.txt").string());
  }
  void TearDown() override {
    log_.close();
    std::filesystem::remove_all(dir_);
  }
  std::string logText() {
    log_.flush();
    std::ifstream in(dir_ / "log.txt");
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  // Loads text with the given options; returns what went to the screen.
  std::string load(const std::string& text, const std::string& name = "(text)") {
    RwInput in = RwInput::fromText(text, name);
    ::testing::internal::CaptureStdout();
    try {
      loadSeries(store_, options_, in, log_);
    } catch (...) {
      ::testing::internal::GetCapturedStdout();
      throw;
    }
    return ::testing::internal::GetCapturedStdout();
  }

  std::filesystem::path dir_;
  RunLog log_;
  SeriesStore store_;
  RunOptions options_;
};

TEST_F(LoadingTest, OutlierTestKeepsTheLimitAndReportsTheFirstValueAbove) {
  options_.removeOutliers = true;
  options_.upperLimit = 2.5f;
  options_.lowerLimit = 9.0f;  // takes no part in the screening
  options_.restrictAgeBand = true;
  options_.minAge = 5;
  options_.maxAge = 100;
  const std::string text = decade("EQUAL", 1901, {1200, 2500, 900, 1500, 1000}) +
                           decade("ABOVE", 1901, {1200, 2600, 2700, 1500, 1000}) +
                           // fails the outlier and the age-band test: one message only
                           decade("BOTH", 1901, {3000, 100}) +
                           decade("LOW", 1901, {10, 20, 30, 40, 50});
  const std::string screen = load(text);
  EXPECT_EQ(store_.seriesCount, 2);
  EXPECT_EQ(store_.skipCount, 2);
  EXPECT_EQ(store_.id(1), "EQUAL   ");
  EXPECT_EQ(store_.id(2), "LOW     ");
  EXPECT_THAT(store_.values[0],
              ::testing::Pointwise(::testing::FloatEq(), {1.2f, 2.5f, 0.9f, 1.5f, 1.0f}));
  EXPECT_EQ(screen, " 1 Skip HIGH Value ABOVE    2.6\n 2 Skip HIGH Value BOTH     3.0\n");
  EXPECT_EQ(logText(), screen);
}

TEST_F(LoadingTest, AgeBandAndFirstYearLimitsAreInclusive) {
  options_.restrictAgeBand = true;
  options_.minAge = 50;
  options_.maxAge = 100;
  std::string text;
  for (int n : {49, 50, 100, 101}) text += decade(named("N", n), 1800, ramp(n));
  std::string screen = load(text);
  EXPECT_EQ(store_.seriesCount, 2);
  EXPECT_EQ(store_.lengths, (std::vector<int32_t>{50, 100}));
  EXPECT_EQ(screen,
            " 1 Skip Age Band N49      49\n"
            " 2 Skip Age Band N101     101\n");

  store_ = SeriesStore();
  options_ = RunOptions();
  options_.restrictYears = true;
  options_.firstYearMin = 1700;
  options_.firstYearMax = 1750;
  text.clear();
  for (int y : {1699, 1700, 1750, 1751}) text += decade(named("Y", y), y, ramp(12));
  screen = load(text);
  EXPECT_EQ(store_.firstYears, (std::vector<int32_t>{1700, 1750}));
  EXPECT_EQ(screen,
            " 1 Skip Crn Length Y1699    1699\n"
            " 2 Skip Crn Length Y1751    1751\n");
}

TEST_F(LoadingTest, DroppedRecordsLoseTheirPithOffsets) {
  options_.usePithOffsets = true;
  options_.restrictAgeBand = true;
  options_.minAge = 10;
  options_.maxAge = 30;
  store_.pithOffsets = {5, 7, 9};
  options_.offsetCount = 3;
  load(decade("A", 1900, ramp(20)) + decade("B", 1900, ramp(40)) + decade("C", 1900, ramp(25)));
  EXPECT_EQ(store_.seriesCount, 2);
  EXPECT_EQ(store_.pithOffsets, (std::vector<int32_t>{5, 9}));
  EXPECT_EQ(options_.offsetCount, 2);

  // A dropped record beyond the end of a short offset list still lowers the
  // count, so the list stays one short of the accepted series: four series,
  // the offset of the second missing from the file, the fourth dropped. The
  // count check then warns instead of giving the third series the second's
  // offset.
  store_ = SeriesStore();
  store_.pithOffsets = {3, 47, 12};
  options_.offsetCount = 3;
  load(decade("A", 1900, ramp(20)) + decade("B", 1900, ramp(20)) + decade("C", 1900, ramp(20)) +
       decade("D", 1900, ramp(40)));
  EXPECT_EQ(store_.seriesCount, 3);
  EXPECT_EQ(options_.offsetCount, 2);
  EXPECT_EQ(store_.pithOffsets, (std::vector<int32_t>{3, 47}));
}

TEST_F(LoadingTest, CapacityOfRingsAndSeries) {
  options_.usePithOffsets = true;
  store_.pithOffsets = {10, 11, 0};
  options_.offsetCount = 3;
  const std::string screen =
      load(decade("FITS", 1000, ramp(1990, 1000)) + decade("TOOLONG", 1000, ramp(1990, 1000)) +
           decade("LAST", 1000, ramp(30)));
  EXPECT_EQ(store_.seriesCount, 2);
  EXPECT_EQ(store_.skipCount, 1);
  EXPECT_EQ(store_.pithOffsets, (std::vector<int32_t>{10, 0}));
  EXPECT_THAT(screen, HasSubstr("1 Skip Too Long TOOLONG"));
  EXPECT_THAT(screen, HasSubstr("1990"));
  EXPECT_THAT(screen, HasSubstr("11"));

  // The 10001st accepted series ends the run with the limit in the message.
  store_ = SeriesStore();
  options_ = RunOptions();
  options_.inputFileName = "many.rwl";
  std::string many;
  for (int k = 1; k <= kMaxSeries + 1; ++k) many += decade(named("S", k), 1990, {1234});
  try {
    load(many);
    FAIL() << "no Fatal";
  } catch (const Fatal& e) {
    EXPECT_THAT(e.what(), HasSubstr("10000"));
    EXPECT_THAT(e.what(), HasSubstr("many.rwl"));
  }

  store_ = SeriesStore();
  load("");
  EXPECT_EQ(store_.seriesCount, 0);
}

TEST_F(LoadingTest, ReaderWarningsOnScreenAndInLog) {
  // Twelve notes between two series: ten warnings on the screen, then one
  // line with the number of the others; all twelve in the log. A header-driven
  // block longer than the reader keeps is skipped with its full length.
  std::string text = decade("A", 1900, {1200});
  for (int k = 0; k < 12; ++k) text += named("note ", k) + "\n";
  std::string block(79, ' ');
  block.replace(0, 4, "HUGE");
  text += decade("B", 1900, {1300}) + block + "#\nn  9999999      1900  (10f8.3)\n";
  const std::string screen = load(text, "notes.rwl");
  EXPECT_EQ(store_.seriesCount, 2);
  std::string expected;
  for (int k = 2; k <= 11; ++k) {
    expected += named(" Warning: notes.rwl, line ", k) + ": not a decade line: skipped\n";
  }
  expected +=
      ">> sbr datar:  unexpected end reading data\n"
      " 1 Skip Too Long HUGE     length 9999999 pith offset 0 exceed 2000 rings\n"
      " 4 more warnings about notes.rwl are in the run log Kavrelv6_log.txt\n";
  EXPECT_EQ(screen, expected);
  const std::string log = logText();
  EXPECT_THAT(log, HasSubstr(" Warning: notes.rwl, line 13: not a decade line: skipped\n"));
  EXPECT_THAT(log, HasSubstr(" Warning: notes.rwl, line 16, series HUGE: 9999999 values: only the first "
                             "100000 are kept\n"));

  // A file without problems gets no line from the reader.
  store_ = SeriesStore();
  EXPECT_EQ(load(decade("C", 1900, {1400})), "");
}

TEST_F(LoadingTest, ShiftToCambialAgeAndLoadingRow) {
  options_.usePithOffsets = true;
  store_.pithOffsets = {10, 0};
  options_.offsetCount = 2;
  // Series 1: 40 values; series 2 holds missing rings and a zero.
  std::vector<int> forty = ramp(40, 500);
  load(decade("PO10", 1801, forty) + decade("GAPS", 1900, {800, -5, 200, 0, 400, -1, 600}));
  shiftByPithOffsets(store_);
  EXPECT_EQ(store_.totalAge(1), 50);
  EXPECT_EQ(store_.length(1), 40);
  for (int j = 1; j <= 10; ++j) EXPECT_EQ(store_.value(1, j), kMissingValue) << j;
  EXPECT_FLOAT_EQ(store_.value(1, 11), 0.5f);
  EXPECT_FLOAT_EQ(store_.value(1, 50), 0.539f);
  EXPECT_EQ(store_.totalAge(2), 7);

  // Row 1: 40 values 0.500..0.539: median (0.519 + 0.520) / 2, hinges the
  // medians of the halves of 20 values each.
  const std::string sep = "\t       ";
  EXPECT_EQ(loadingRow(store_, 1), std::string("   1") + sep + "PO10    " + sep + " 1801" + sep +
                                       " 1840" + sep + "  40" + sep + "  0.500" + sep + "  0.539" +
                                       sep + "  0.520" + sep + "  0.530" + sep + "  0.510" + sep +
                                       " 10");
  // Row 2: missing rings are left out: 0.0, 0.2, 0.4, 0.6, 0.8 -> median
  // 0.4, hinges of the halves of 3 values (middle one included).
  EXPECT_EQ(loadingRow(store_, 2), std::string("   2") + sep + "GAPS    " + sep + " 1900" + sep +
                                       " 1906" + sep + "   7" + sep + "  0.000" + sep + "  0.800" +
                                       sep + "  0.400" + sep + "  0.600" + sep + "  0.200" + sep +
                                       "  0");
}

TEST_F(LoadingTest, RowsWithoutValuesOrWideNumbersShowNoAsterisks) {
  load(decade("MISSING", 1900, {-5, -5, -5}));
  shiftByPithOffsets(store_);
  const std::string row = loadingRow(store_, 1);
  EXPECT_EQ(row.find('*'), std::string::npos) << row;
  size_t count = 0;
  for (size_t p = row.find("-999.000"); p != std::string::npos; p = row.find("-999.000", p + 1)) {
    ++count;
  }
  EXPECT_EQ(count, 5u) << row;

  // Record number 10000 and a pith offset of 1000 widen their fields.
  SeriesStore wide;
  wide.seriesCount = 10000;
  wide.ids.assign(10000, "WIDE    ");
  wide.firstYears.assign(10000, 1000);
  wide.lengths.assign(10000, 2);
  wide.pithOffsets.assign(10000, 0);
  wide.pithOffsets.back() = 1000;
  wide.values.assign(10000, std::vector<float>{1.0f, 2.0f});
  wide.values.back().insert(wide.values.back().begin(), 1000, kMissingValue);
  wide.totalAges.assign(10000, 2);
  wide.totalAges.back() = 1002;
  const std::string last = loadingRow(wide, 10000);
  EXPECT_EQ(last.find('*'), std::string::npos) << last;
  EXPECT_EQ(last.substr(0, 5), "10000");
  EXPECT_EQ(last.substr(last.size() - 4), "1000");
}

TEST_F(LoadingTest, PithCountMismatchWarnsAndDropsTheOffsets) {
  load(decade("A", 1900, ramp(20)) + decade("B", 1900, ramp(20)));
  options_.usePithOffsets = true;
  store_.pithOffsets = {4};
  options_.offsetCount = 1;
  std::FILE* in = std::tmpfile();
  std::fputs("\n", in);
  std::rewind(in);
  std::FILE* out = std::tmpfile();
  Console console(in, out);
  ::testing::internal::CaptureStdout();
  checkPithOffsetCount(store_, options_, console, log_);
  ::testing::internal::GetCapturedStdout();
  std::rewind(out);
  std::string screen;
  for (int c; (c = std::fgetc(out)) != EOF;) screen += static_cast<char>(c);
  std::fclose(in);
  std::fclose(out);
  EXPECT_EQ(screen,
            "\n  *************** WARNING **************** \n"
            "  The number of series measurements read >>>>>    2\n"
            "  Does NOT equal number of pith ofsets read >>    1\n"
            "  Program continuing without offset information\n"
            " Hit Return to Continue\n");
  EXPECT_EQ(logText(),
            " *************** WARNING **************** \n"
            " The number of series measurements read >>>>>    2\n"
            " Does NOT equal number of pith ofsets read >>    1\n"
            " Program continuing without offset information\n");
  EXPECT_FALSE(options_.usePithOffsets);
  shiftByPithOffsets(store_);
  EXPECT_EQ(store_.pithOffsets, (std::vector<int32_t>{0, 0}));
  EXPECT_EQ(store_.totalAges, (std::vector<int32_t>{20, 20}));

  // A count of 10000 widens its field instead of showing asterisks.
  SeriesStore full;
  full.seriesCount = kMaxSeries;
  options_.usePithOffsets = true;
  options_.offsetCount = 9999;
  std::FILE* in2 = std::tmpfile();
  std::fputs("\n", in2);
  std::rewind(in2);
  std::FILE* out2 = std::tmpfile();
  Console console2(in2, out2);
  checkPithOffsetCount(full, options_, console2, log_);
  std::fclose(in2);
  std::fclose(out2);
  EXPECT_THAT(logText(), HasSubstr(" The number of series measurements read >>>>> 10000\n"
                                   " Does NOT equal number of pith ofsets read >> 9999\n"));
}

}  // namespace
}  // namespace kavrel
