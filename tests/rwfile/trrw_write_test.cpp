// Writer tests: exact line layout, rounding, unrepresentable values, and the
// write -> read round trip on generated series.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "rwfile/trrw.h"
#include "rwtest_helpers.h"
#include "util/missing.h"

namespace kavrel {
namespace {

using test::CapturedStream;
using test::readAllSeries;

std::string format(std::string_view id, int32_t year, const std::vector<float>& v, RwWriteStatus* status = nullptr) {
  std::string out;
  const RwWriteStatus s = trrwFormat(out, id, year, v);
  if (status != nullptr) *status = s;
  return out;
}

TEST(TrrwWrite, LayoutAndRounding) {
  // Thousandths with the -9999 marker, whatever the unit read.
  EXPECT_EQ(format("ABC", 1653, {12.34f, 5.67f}), "ABC     1653 12340  5670 -9999\n");
  // Half a thousandth rounds away from zero in both directions.
  EXPECT_EQ(format("R", 2000, {0.0005f, -0.0005f, 0.0004f}), "R       2000     1    -1     0 -9999\n");
  // A full last line puts the marker alone on the next line; an 8-character
  // identifier touches the year.
  EXPECT_EQ(format("ABCDEFGHIJ", 1657, {1.0f, 2.0f, 3.0f}),
            "ABCDEFGH1657  1000  2000  3000\n"
            "ABCDEFGH1660 -9999\n");
  EXPECT_EQ(format("N", -5, {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f}),
            "N         -5   100   200   300   400   500\n"
            "N          0   600 -9999\n");
  // Years of -1000 and earlier take columns 8-12 after a 7-character identifier.
  EXPECT_EQ(format("SS004B", -2649, {0.68f, 0.63f}), "SS004B -2649   680   630 -9999\n");
  EXPECT_EQ(format("LONGID78", -1001, {0.1f, 0.2f}),
            "LONGID7-1001   100\n"
            "LONGID7-1000   200 -9999\n");
  // Nothing for an empty series.
  EXPECT_EQ(format("E", 1900, {}), "");
}

TEST(TrrwWrite, UnrepresentableValuesNeverCorruptTheFile) {
  RwWriteStatus status;
  // The missing marker is written as -999, not as -999000.
  EXPECT_EQ(format("M", 1900, {kMissingValue, 1.5f}, &status), "M       1900  -999  1500 -9999\n");
  EXPECT_TRUE(status.ok());

  // Largest and smallest values that fit six columns are kept.
  EXPECT_EQ(format("M", 1900, {999.999f, -99.999f}, &status), "M       1900999999-99999 -9999\n");
  EXPECT_TRUE(status.ok());

  // Too large, too negative or not a number: the missing marker, counted.
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(format("BIG", 1900, {1000.0f, -100.0f, inf, nan, 2.0f}, &status),
            "BIG     1900  -999  -999  -999  -999  2000 -9999\n");
  EXPECT_EQ(status.valuesAsMissing, 4);
  EXPECT_FALSE(status.ok());
  EXPECT_EQ(describeWriteStatus(status, "BIG     "),
            "trrw: series BIG     : 4 value(s) too large for the file or not a number, written as missing (-999)");

  // Values whose thousandths are an end marker would cut the series short.
  EXPECT_EQ(format("MK", 1900, {0.999f, -9.999f, 3.0f}, &status), "MK      1900   998  -999  3000 -9999\n");
  EXPECT_EQ(status.markerClashes, 2);
  auto back = readAllSeries(format("MK", 1900, {0.999f, -9.999f, 3.0f}));
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].values.size(), 3u);

  // A line year outside four (five with sign) columns: nothing written.
  EXPECT_EQ(format("Y", 9995, std::vector<float>(10, 1.0f), &status), "");
  EXPECT_TRUE(status.yearOutOfRange);
  EXPECT_EQ(format("Y", -10000, {1.0f}, &status), "");
  EXPECT_TRUE(status.yearOutOfRange);
  EXPECT_EQ(describeWriteStatus(RwWriteStatus{}, "Y"), "");
}

TEST(TrrwWrite, IdentifiersReadBackAsWritten) {
  // A "-" in column 8 before a four-digit year would read back as the year's
  // sign: it becomes "_" on every line of the series, and the status says so.
  RwWriteStatus status;
  const std::string text = format("ABCDEFG-", 995, {1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f}, &status);
  EXPECT_EQ(text,
            "ABCDEFG_ 995  1000  2000  3000  4000  5000\n"
            "ABCDEFG_1000  6000 -9999\n");
  EXPECT_TRUE(status.idChanged);
  EXPECT_EQ(describeWriteStatus(status, "ABCDEFG-"),
            "trrw: series ABCDEFG-: identifier written as \"ABCDEFG_\": a \"-\" before a "
            "four-digit year would read as the year's sign");
  auto back = readAllSeries(text);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].id, "ABCDEFG_");
  EXPECT_EQ(back[0].firstYear, 995);
  EXPECT_EQ(back[0].values.size(), 6u);

  // Below year 1000 the "-" is no sign and stays.
  EXPECT_EQ(format("ABCDEFG-", 990, {1.0f}, &status), "ABCDEFG- 990  1000 -9999\n");
  EXPECT_TRUE(status.ok());
  back = readAllSeries(format("ABCDEFG-", 990, {1.0f}));
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].id, "ABCDEFG-");
  EXPECT_EQ(back[0].firstYear, 990);
}

TEST(TrrwWrite, StreamMatchesStringAndReportsErrors) {
  CapturedStream out;
  const std::vector<float> v{1.25f, kMissingValue, 0.5f};
  RwWriteStatus status = trrwWrite(out.get(), "F1", 1999, v);
  EXPECT_TRUE(status.ok());
  EXPECT_EQ(status.linesWritten, 2);
  status = trrwWrite(out.get(), "F2", 1999, {});
  EXPECT_EQ(status.linesWritten, 0);
  EXPECT_EQ(out.text(), format("F1", 1999, v));

  // A stream that refuses writes.
  std::FILE* readOnly = std::fopen("/dev/null", "r");
  ASSERT_NE(readOnly, nullptr);
  status = trrwWrite(readOnly, "F3", 1999, v);
  EXPECT_TRUE(status.ioError);
  std::fclose(readOnly);
}

TEST(TrrwWrite, RoundTripOfGeneratedSeries) {
  // Random series over every year range the layout distinguishes, with
  // missing rings: written and read back they keep id, first year and every
  // value to the thousandth.
  std::mt19937_64 gen{123456};
  std::uniform_int_distribution<int32_t> yearDist(-3000, 2500);
  std::uniform_int_distribution<int32_t> lengthDist(1, 600);
  std::uniform_real_distribution<float> widthDist(0.0f, 15.0f);
  std::string text;
  std::vector<test::ReadSeries> written;
  for (int k = 0; k < 200; ++k) {
    test::ReadSeries s;
    s.id = std::to_string(k);
    s.id.insert(0, 1, 'G');
    s.id.resize(k % 3 == 0 ? 7 : 8, k % 2 == 0 ? ' ' : 'x');
    s.firstYear = yearDist(gen);
    s.values.resize(static_cast<std::size_t>(lengthDist(gen)));
    for (float& x : s.values) {
      x = (gen() % 50 == 0) ? kMissingValue : widthDist(gen);
      // Keep clear of 0.999, which the writer must change (tested above).
      if (std::fabs(x - 0.999f) < 0.001f) x = 1.25f;
    }
    // An eighth character is dropped only for years before -999, and said so.
    const RwWriteStatus status = trrwFormat(text, s.id, s.firstYear, s.values);
    EXPECT_EQ(status.ok(), s.id.size() == 7 || s.id[7] == ' ' || s.firstYear > -1000) << s.id;
    written.push_back(std::move(s));
  }
  auto back = readAllSeries(text);
  ASSERT_EQ(back.size(), written.size());
  for (std::size_t k = 0; k < back.size(); ++k) {
    // Early years take the identifier's eighth column.
    std::string id = written[k].id;
    if (written[k].firstYear <= -1000) id.resize(7);
    id.resize(8, ' ');
    EXPECT_EQ(back[k].id, id);
    EXPECT_EQ(back[k].firstYear, written[k].firstYear);
    ASSERT_EQ(back[k].values.size(), written[k].values.size()) << k;
    for (std::size_t j = 0; j < back[k].values.size(); ++j) {
      const float w = written[k].values[j];
      if (w == kMissingValue) {
        EXPECT_EQ(back[k].values[j], kMissingValue);
      } else {
        EXPECT_NEAR(back[k].values[j], w, 0.0005f + 1e-6f);
      }
    }
  }
}

}  // namespace
}  // namespace kavrel
