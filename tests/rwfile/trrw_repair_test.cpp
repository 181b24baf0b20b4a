// Reader tests for damaged files: series without their end marker, lines
// that do not continue their series, values that look like end markers, text
// lines and fields not laid out in their columns, and reading from streams.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "rwfile/trrw.h"
#include "rwtest_helpers.h"
#include "util/missing.h"

namespace kavrel {
namespace {

using test::decadeLine;

// One series as a test expects it: values in mm, kMissingValue for missing.
struct Expected {
  std::string id;
  int32_t firstYear;
  std::vector<float> values;
};

// A case of a table: input text, the series and the warnings it must give.
struct ReadCase {
  const char* name;
  std::string text;
  std::vector<Expected> series;
  std::vector<std::string> warnings;
};

void checkCase(const ReadCase& c) {
  SCOPED_TRACE(c.name);
  const test::ReadOutcome got = test::readWithWarnings(c.text);
  EXPECT_EQ(got.warnings, c.warnings);
  ASSERT_EQ(got.series.size(), c.series.size());
  for (std::size_t k = 0; k < c.series.size(); ++k) {
    const Expected& e = c.series[k];
    std::string id = e.id;
    id.resize(8, ' ');
    EXPECT_EQ(got.series[k].id, id);
    EXPECT_EQ(got.series[k].firstYear, e.firstYear) << e.id;
    ASSERT_EQ(got.series[k].values.size(), e.values.size()) << e.id;
    for (std::size_t j = 0; j < e.values.size(); ++j) {
      EXPECT_NEAR(got.series[k].values[j], e.values[j], 1e-6f) << e.id << " value " << j;
    }
  }
}

constexpr float kM = kMissingValue;

TEST(TrrwRepair, SeriesWithoutEndMarkerTakesTheUnitOfTheOthers) {
  const std::string g2 = decadeLine("G2", 1900, {3, 4, 5});
  const std::string thousandths = decadeLine("G1", 1900, {1, 2, -9999});
  const std::string hundredths = decadeLine("G0", 1900, {1, 999});
  const ReadCase cases[] = {
      {"thousandths", thousandths + g2,
       {{"G1", 1900, {0.001f, 0.002f}}, {"G2", 1900, {0.003f, 0.004f, 0.005f}}},
       {"line 2, series G2: no end marker before the end of the input; read in thousandths of "
        "a mm like the series before it"}},
      {"hundredths", hundredths + g2,
       {{"G0", 1900, {0.01f}}, {"G2", 1900, {0.03f, 0.04f, 0.05f}}},
       {"line 2, series G2: no end marker before the end of the input; read in hundredths of a "
        "mm like the series before it"}},
      {"alone", g2, {},
       {"line 1, series G2: no end marker before the end of the input; left out: its unit is "
        "unknown, as no series before it has an end marker"}},
      {"mixed units", thousandths + hundredths + g2,
       {{"G1", 1900, {0.001f, 0.002f}}, {"G0", 1900, {0.01f}}},
       {"line 3, series G2: no end marker before the end of the input; left out: its unit is "
        "unknown, as the series before it use both units"}},
  };
  for (const ReadCase& c : cases) checkCase(c);
}

TEST(TrrwRepair, LinesAreCheckedAgainstTheirSeries) {
  // U gives the file its unit. Another identifier ends a series that lacks
  // its marker (its trailing blank fields are no rings); a year that skips
  // years fills them with missing rings; a year going back starts a new
  // series of the same identifier.
  const std::string u = decadeLine("U", 1900, {9, -9999});
  const ReadCase cases[] = {
      {"other identifier",
       u + decadeLine("A", 1903, {1, 2, 3}) + decadeLine("B", 1850, {7, 8, -9999}),
       {{"U", 1900, {0.009f}}, {"A", 1903, {0.001f, 0.002f, 0.003f}}, {"B", 1850, {0.007f, 0.008f}}},
       {"line 3, series A: no end marker before series B begins; read in thousandths of a mm like "
        "the series before it"}},
      {"gap", u + decadeLine("G", 1905, {1, 2, 3, 4}) + decadeLine("G", 1920, {6, -9999}),
       {{"U", 1900, {0.009f}},
        {"G", 1905, {0.001f, 0.002f, 0.003f, 0.004f, kM, kM, kM, kM, kM, kM, kM, kM, kM, kM, kM, 0.006f}}},
       {"line 3, series G: year 1920 where 1910 was expected: years 1909 to 1919 read as missing "
        "rings"}},
      {"year back",
       u + decadeLine("D", 1908, {1, 2}) + decadeLine("D", 1850, {5, -9999}),
       {{"U", 1900, {0.009f}}, {"D", 1908, {0.001f, 0.002f}}, {"D", 1850, {0.005f}}},
       {"line 3, series D: no end marker before the year goes back from 1910 to 1850, where a new "
        "series of this identifier begins; read in thousandths of a mm like the series before it"}},
  };
  for (const ReadCase& c : cases) checkCase(c);
}

TEST(TrrwRepair, EndMarkersOnlyWhereTheSeriesEnds) {
  const ReadCase cases[] = {
      // A ring of 0.999 mm inside a thousandths line.
      {"999 before more values", decadeLine("T", 1900, {500, 999, 600, -9999}),
       {{"T", 1900, {0.5f, 0.999f, 0.6f}}}, {}},
      // 999 fills the line and the next line continues the series.
      {"999 before a continuing line",
       decadeLine("F", 1900, {1, 2, 3, 4, 5, 6, 7, 8, 9, 999}) + decadeLine("F", 1910, {7, -9999}),
       {{"F", 1900, {0.001f, 0.002f, 0.003f, 0.004f, 0.005f, 0.006f, 0.007f, 0.008f, 0.009f, 0.999f, 0.007f}}},
       {}},
      // Followed by blanks or zeros and another series: an end marker.
      {"999 marker", decadeLine("H", 1900, {150, 999, 0, 0}) + decadeLine("I", 1900, {5, 999}),
       {{"H", 1900, {1.5f}}, {"I", 1900, {0.05f}}}, {}},
      // -9999 before more values is a (missing) ring, not the end.
      {"-9999 before more values", decadeLine("N", 1900, {100, -9999, 200, -9999}),
       {{"N", 1900, {0.1f, kM, 0.2f}}}, {}},
  };
  for (const ReadCase& c : cases) checkCase(c);
}

TEST(TrrwRepair, TextLinesAfterTheFirstSeriesAreReported) {
  // The header line stays silent. Letters in the year columns of a line of X
  // leave its values out, and the gap rule keeps the later values' years.
  const std::vector<int32_t> ten{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  std::string typo = decadeLine("X", 1910, ten);
  typo.replace(8, 4, "19I0");
  const ReadCase c{"text lines",
                   "Site: Sheep Mountain\n" + decadeLine("X", 1900, ten) + typo +
                       decadeLine("X", 1920, {21, -9999}) + "A note after the data\n",
                   {{"X", 1900, {0.001f, 0.002f, 0.003f, 0.004f, 0.005f, 0.006f, 0.007f, 0.008f, 0.009f, 0.01f,
                                 kM, kM, kM, kM, kM, kM, kM, kM, kM, kM, 0.021f}}},
                   {"line 3, series X: not a decade line (a letter or sign in its numeric columns): "
                    "its values are left out",
                    "line 4, series X: year 1920 where 1910 was expected: years 1910 to 1919 read as "
                    "missing rings",
                    "line 5: not a decade line: skipped"}};
  checkCase(c);
}

TEST(TrrwRepair, FieldsNotRightAlignedAreReported) {
  // Values are read by their columns as always; each such field is named.
  const ReadCase cases[] = {
      {"blank between digits", "SeriesA  1   10 30 50 70 999\n",
       {{"SeriesA", 1, {10.3f, 50.7f}}},
       {"line 1, series SeriesA: year field \" 1  \" (columns 9-12) read as 1: digits not right-aligned",
        "line 1, series SeriesA: value field \" 10 30\" (columns 13-18) read as 1030: blank between its digits",
        "line 1, series SeriesA: value field \" 50 70\" (columns 19-24) read as 5070: blank between its digits",
        "line 1, series SeriesA: value field \" 999  \" (columns 25-30) read as 999: digits not right-aligned"}},
      {"value one column to the left", "C3      1900  090    900 -9999\n",
       {{"C3", 1900, {0.09f, 0.9f}}},
       {"line 1, series C3: value field \"  090 \" (columns 13-18) read as 90: digits not right-aligned"}},
      {"year one column to the left", "EGR108 1713    123   456 -9999\n",
       {{"EGR108 1", 713, {0.123f, 0.456f}}},
       {"line 1, series EGR108 1: year field \"713 \" (columns 9-12) read as 713: digits not right-aligned"}},
      {"five-column last field",
       "C5      1900     1     2     3     4     5     6     7     8     9 1234\n" +
           decadeLine("C5", 1910, {-9999}),
       {{"C5", 1900, {0.001f, 0.002f, 0.003f, 0.004f, 0.005f, 0.006f, 0.007f, 0.008f, 0.009f, 1.234f}}},
       {"line 1, series C5: value field \" 1234 \" (columns 67-72) read as 1234: digits not right-aligned"}},
      {"five-digit year", "BIGYR  10001   123   456 -9999\n",
       {{"BIGYR  1", 1, {0.123f, 0.456f}}},
       {"line 1, series BIGYR  1: year field \"0001\" (columns 9-12) read as 1 with identifier "
        "\"BIGYR  1\": the year may have more digits than its columns"}},
      {"eight-digit identifier and year", "CAM011011800   123 -9999\n",
       {{"CAM01101", 1800, {0.123f}}},
       {}},
      {"values after a full decade",
       "C6      1900     1     2     3     4     5     6     7     8     9    10   12345\n" +
           decadeLine("C6", 1910, {-9999}),
       {{"C6", 1900, {0.001f, 0.002f, 0.003f, 0.004f, 0.005f, 0.006f, 0.007f, 0.008f, 0.009f, 0.01f}}},
       {"line 1, series C6: value(s) \"   12345\" in columns 73-80, after the ten values, not read"}},
  };
  for (const ReadCase& c : cases) checkCase(c);
}

TEST(TrrwRepair, StreamsAndFilesReadLikeText) {
  // Lines that cross the 64 KiB chunks: an over-long header line whose CRLF
  // is split between two chunks, an endless line, and CRLF decade lines.
  std::string text(65535, 'x');
  text += "\r\n";
  for (int k = 0; k < 3000; ++k) {
    std::string id = "S";
    id += std::to_string(k);
    std::string s = decadeLine(id, 1900 + 10 * (k % 50), {k % 997, 12, 34, 56, -9999});
    s.pop_back();
    text += s;
    text += "\r\n";
  }
  text += std::string(200000, 'z') + "\n" + decadeLine("LAST", 1900, {1, 999});

  const test::ReadOutcome fromText = test::readWithWarnings(text);
  ASSERT_EQ(fromText.series.size(), 3001u);
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("kavrel_stream_" + std::to_string(::getpid()) + ".rwl");
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  std::optional<RwInput> file = RwInput::openFile(path.string());
  ASSERT_TRUE(file.has_value());
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  RwInput streamed = RwInput::fromStream(stream);
  for (RwInput* in : {&*file, &streamed}) {
    const test::ReadOutcome got = test::readWithWarnings(*in);
    EXPECT_EQ(got.warnings, fromText.warnings);
    ASSERT_EQ(got.series.size(), fromText.series.size());
    for (std::size_t k = 0; k < got.series.size(); ++k) {
      EXPECT_EQ(got.series[k].id, fromText.series[k].id);
      EXPECT_EQ(got.series[k].firstYear, fromText.series[k].firstYear);
      EXPECT_EQ(got.series[k].values, fromText.series[k].values);
    }
    EXPECT_EQ(in->lineNumber(), 3003);
    EXPECT_FALSE(in->readError());
  }
  std::fclose(stream);
  std::filesystem::remove(path);
  EXPECT_EQ(fromText.warnings, std::vector<std::string>{"line 3002: not a decade line: skipped"});
}

}  // namespace
}  // namespace kavrel
