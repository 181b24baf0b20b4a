// The Heidelberg and CSV readers: the real Heidelberg files against values
// read by hand, the variants of dating, units and layout, CSV tables, the
// messages for bad content, the eight-character names of the decade files
// and telling the formats apart.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "rwfile/series_table.h"
#include "rwfile/trrw.h"
#include "support/testdata.h"
#include "util/fatal.h"
#include "util/missing.h"

namespace kavrel {
namespace {

struct Read {
  std::string name, id;  // id without trailing blanks
  int32_t firstYear = 0;
  std::vector<float> values;
};

struct Outcome {
  std::vector<Read> series;
  std::vector<std::string> warnings;
};

Outcome readAll(RwInput& in) {
  Outcome out;
  int32_t counter = 0;
  for (;;) {
    Read r;
    const int32_t n = trrwRead(in, r.id, r.firstYear, r.values, counter);
    for (const RwWarning& w : in.warnings()) out.warnings.push_back(w.message());
    if (n == kEndOfFile) break;
    EXPECT_EQ(r.id.size(), 8u);
    r.id.erase(r.id.find_last_not_of(' ') + 1);
    r.name = in.lastRead().fullName;
    out.series.push_back(std::move(r));
  }
  return out;
}

Outcome readText(const std::string& text, InputFormat format) {
  RwInput in = RwInput::fromText(text, "in.txt", format);
  return readAll(in);
}

// What a series should be: name, decade id, first year, count, first and last value.
struct Expect {
  std::string name, id;
  int32_t firstYear, count;
  float first, last;
};

void expectSeries(const Read& r, const Expect& e, const std::string& where) {
  EXPECT_EQ(r.name, e.name) << where;
  EXPECT_EQ(r.id, e.id) << where;
  EXPECT_EQ(r.firstYear, e.firstYear) << where << " " << e.name;
  ASSERT_EQ(static_cast<int32_t>(r.values.size()), e.count) << where << " " << e.name;
  EXPECT_FLOAT_EQ(r.values.front(), e.first) << where << " " << e.name;
  EXPECT_FLOAT_EQ(r.values.back(), e.last) << where << " " << e.name;
}

TEST(HeidelbergReader, RealFilesGiveTheSeriesReadByHand) {
  struct Case {
    std::string file;
    int32_t count;
    int32_t warnings;            // series left out and names shortened
    std::vector<Expect> checks;  // the first and the last series read
  };
  const std::vector<Case> cases = {
      // DateEnd=-66, Length=103: -168..-66; the last line's zeros are padding.
      {"SET01.FH",
       16,
       0,
       {{"271017", "271017", -168, 103, 1.25f, 0.70f},
        {"861017", "861017", -122, 103, 0.95f, 1.25f}}},
      {"SYNTH.FH",
       21,
       0,
       {{"10", "10", 911, 100, 0.10f, 0.10f}, {"200", "200", 1101, 100, 2.0f, 2.0f}}},
      // "Keycode" in another case, DateBegin and DateEnd agreeing with Length.
      {"minimal-dated.fh", 1, 0, {{"AMK00011", "AMK00011", 10, 10, 4.52f, 2.22f}}},
      // One value a line, no line end after the last.
      {"singlecol.fh", 1, 0, {{"271017", "271017", -81, 16, 1.25f, 1.74f}}},
      // Six series of densities, earlywood and latewood left out; "value;;" lines.
      {"commented.fh", 1, 7, {{"Scheibe_fr1_7", "Scheibe_", 2002, 97, 2.88f, 1.19f}}},
      // A mean curve of value and count pairs.
      {"UAKK0530.fh", 0, 1, {}},
  };
  for (const Case& c : cases) {
    REQUIRE_SHARED_DATA(path, "heidelberg/" + c.file);
    std::optional<RwInput> in = RwInput::openFile(path, InputFormat::automatic);
    ASSERT_TRUE(in) << c.file;
    EXPECT_EQ(in->format(), InputFormat::heidelberg) << c.file;
    const Outcome o = readAll(*in);
    ASSERT_EQ(static_cast<int32_t>(o.series.size()), c.count) << c.file;
    EXPECT_EQ(static_cast<int32_t>(o.warnings.size()), c.warnings) << c.file;
    if (!c.checks.empty()) expectSeries(o.series.front(), c.checks.front(), c.file);
    if (c.checks.size() > 1) expectSeries(o.series.back(), c.checks.back(), c.file);
  }
}

TEST(HeidelbergReader, DatesUnitsAndLayoutVariants) {
  struct Case {
    std::string label, text;
    std::vector<int32_t> firstYears;
    std::vector<float> firstValues;  // all values of the first series
    std::string warning;             // expected in the warnings; empty: none at all
  };
  const std::string h = "HEADER:\nKeyCode=A\n";
  const std::vector<Case> cases = {
      {"DateEnd wins over DateBegin and Length",
       h + "DateBegin=1900\nDateEnd=1905\nLength=3\nDATA:Tree\n100 200 300 0 0\n",
       {1903},
       {1.0f, 2.0f, 3.0f},
       "dated by DateEnd, first year 1903"},
      {"without Length the series ends at its last non-zero value",
       h + "DateBegin=1900\nDATA:Tree\n100 200 0 300 0 0 0 0 0 0\n",
       {1900},
       {1.0f, 2.0f, 0.0f, 3.0f},
       ""},
      {"thousandths, scaled as the decade reader scales them",
       h + "DateEnd=1901\nUnit=1/1000 mm\nLength=2\nDATA:Tree\n1234 567\n",
       {1900},
       {1234 * 0.01f * 0.1f, 567 * 0.01f * 0.1f},
       ""},
      {"millimetres, negative values missing",
       h + "DateEnd=2\nunit = MM\nDATA:Single\n1.5\n-1\n2.25;x;y\n",
       {0},
       {1.5f, kMissingValue, 2.25f},
       ""},
      {"a file counting without year 0 shows it in a series crossing 0",
       h + "DateBegin=-3\nDateEnd=2\nLength=5\nDATA:Tree\n1 2 3 4 5\n"
           "HEADER:\nKeyCode=B\nDateEnd=-1\nLength=2\nDATA:Tree\n6 7\n",
       {-2, -1},
       {1 * 0.01f, 2 * 0.01f, 3 * 0.01f, 4 * 0.01f, 5 * 0.01f},
       ""},
      {"a file with a year 0 keeps its dates",
       h + "DateBegin=-3\nDateEnd=2\nLength=6\nDATA:Tree\n1 2 3 4 5 6\n"
           "HEADER:\nKeyCode=B\nDateEnd=-1\nLength=2\nDATA:Tree\n6 7\n",
       {-3, -2},
       {1 * 0.01f, 2 * 0.01f, 3 * 0.01f, 4 * 0.01f, 5 * 0.01f, 6 * 0.01f},
       ""},
      {"an undated series and a ring-width DataType in other words",
       h + "Length=2\nDATA:Tree\n1 2\nHEADER:\nKeyCode=B\nDataType=Ring Width\nDateEnd=5\n"
           "DATA:Tree\n7 8\n",
       {4},
       {7 * 0.01f, 8 * 0.01f},
       "series A is undated"},
  };
  for (const Case& c : cases) {
    const Outcome o = readText(c.text, InputFormat::heidelberg);
    ASSERT_EQ(o.series.size(), c.firstYears.size()) << c.label;
    for (std::size_t i = 0; i < o.series.size(); ++i) {
      EXPECT_EQ(o.series[i].firstYear, c.firstYears[i]) << c.label;
    }
    EXPECT_EQ(o.series[0].values, c.firstValues) << c.label;
    if (c.warning.empty()) {
      EXPECT_TRUE(o.warnings.empty()) << c.label << ": " << o.warnings.front();
    } else {
      ASSERT_EQ(o.warnings.size(), 1u) << c.label;
      EXPECT_NE(o.warnings[0].find(c.warning), std::string::npos) << o.warnings[0];
    }
  }
}

TEST(CsvReader, TablesAsRAndPandasWriteThem) {
  struct Case {
    std::string label, text;
    std::vector<std::string> names;
    std::vector<int32_t> firstYears;
    std::vector<std::vector<float>> values;
  };
  const float m = kMissingValue;
  const std::vector<Case> cases = {
      {"quoted, NA, an empty corner, CRLF",
       "\"\",\"A1\",\"B 2\"\r\n\"1900\",0.5,NA\r\n\"1901\",1.25,2\r\n\"1902\",NA,3.5\r\n",
       {"A1", "B 2"},
       {1900, 1901},
       {{0.5f, 1.25f}, {2.0f, 3.5f}}},
      {"tabs, empty cells, a gap inside a series and a missing year row",
       "year\tA\tB\n-2\t1\t\n-1\t\t4\n0\t3\t\n2\t5\t\n",
       {"A", "B"},
       {-2, -1},
       {{1.0f, m, 3.0f, m, 5.0f}, {4.0f}}},
      {"quotes inside names, a separator and a line break in quotes",
       "\"\",\"a \"\"q\"\" name\",\"x,y\",\"two\nlines\"\n1900, 1 ,2,3\n",
       {"a \"q\" name", "x,y", "two\nlines"},
       {1900, 1900, 1900},
       {{1.0f}, {2.0f}, {3.0f}}},
      {"a column without values is left out; negative widths are missing",
       "y,A,B\n1,,-0.5\n2,,0.25\n",
       {"B"},
       {1},
       {{m, 0.25f}}},
  };
  for (const Case& c : cases) {
    const Outcome o = readText(c.text, InputFormat::csv);
    ASSERT_EQ(o.series.size(), c.names.size()) << c.label;
    for (std::size_t i = 0; i < o.series.size(); ++i) {
      EXPECT_EQ(o.series[i].name, c.names[i]) << c.label;
      EXPECT_EQ(o.series[i].firstYear, c.firstYears[i]) << c.label;
      EXPECT_EQ(o.series[i].values, c.values[i]) << c.label;
    }
  }
}

TEST(TableReaders, BadContentNamesTheFileLineAndColumn) {
  struct Case {
    InputFormat format;
    std::string text, where;
  };
  const std::string h = "HEADER:\nKeyCode=A\nDateEnd=1900\n";
  const std::vector<Case> cases = {
      {InputFormat::heidelberg, h + "DATA:Tree\n 100 x1 200\n", "line 5, column 6: \"x1\" is not"},
      {InputFormat::heidelberg, h + "Length=ab\nDATA:Tree\n1\n", "line 4, column 8: \"ab\""},
      {InputFormat::heidelberg, h + "Unit=inch\nDATA:Tree\n1\n", "line 4, column 6"},
      {InputFormat::heidelberg, h + "Length=3\nDATA:Tree\n1 2\n", "line 5, column 1"},
      {InputFormat::heidelberg, "ABC     1900   100\n", "line 1, column 1"},
      {InputFormat::heidelberg, "HEADER:\nDateEnd=10002\nLength=4\nDATA:Tree\n1 2 3 4\n",
       "line 2, column 9"},
      {InputFormat::csv, "year,A\n-10000,1\n", "line 2, column 1: the year -10000 lies outside"},
      {InputFormat::csv, "year,A,B,A\n1900,1,2,3\n",
       "line 1, column 4: the series name \"A\" is "
       "given twice (also in column 2)"},
      {InputFormat::csv, "year,A\n1900,1\n1901,abc\n", "line 3, column 2: \"abc\" is not a number"},
      {InputFormat::csv, "year,A\n1900.5,1\n", "line 2, column 1"},
      {InputFormat::csv, "year,A\n1900,1\n1900,2\n", "line 3, column 1: the year 1900 does not"},
      {InputFormat::csv, "year,A\n1900,1,2\n", "line 2, column 3"},
      {InputFormat::csv, "year,A,B\n1900,1\n", "line 2, column 3: the row ends"},
      {InputFormat::csv, "year,A\n1900,inf\n", "line 2, column 2"},
  };
  for (const Case& c : cases) {
    try {
      (void)readText(c.text, c.format);
      ADD_FAILURE() << "no error for " << c.text;
    } catch (const Fatal& e) {
      EXPECT_NE(std::string(e.what()).find("in.txt, " + c.where), std::string::npos) << e.what();
    }
  }
}

TEST(DecadeIds, LongNamesGetUniqueEightCharacterForms) {
  struct Case {
    std::vector<std::string> names, ids;
  };
  std::vector<std::string> eleven, elevenIds;
  for (int i = 1; i <= 11; ++i) eleven.push_back("LONGNAME_" + std::to_string(i));
  elevenIds = {"LONGNAME", "LONGNAM1", "LONGNAM2", "LONGNAM3", "LONGNAM4", "LONGNAM5",
               "LONGNAM6", "LONGNAM7", "LONGNAM8", "LONGNAM9", "LONGNA10"};
  const std::vector<Case> cases = {
      {{"Zofingen_A", "Zofingen_B", "Zofinge1"}, {"Zofingen", "Zofinge2", "Zofinge1"}},
      {{"ABCDEFGHIJ", "ABCDEFGH", "SHORT", "ABC     XYZ"},
       {"ABCDEFG1", "ABCDEFGH", "SHORT", "ABC"}},
      {{"tab\there", "tab_here"}, {"tab_her1", "tab_here"}},
      {{"AB  ", "AB"}, {"AB  1", "AB"}},
      {eleven, elevenIds},
  };
  for (const Case& c : cases) {
    SeriesTable t;
    for (const std::string& n : c.names) t.series.push_back(TableSeries{n, {}, 0, 1, {1.0f}});
    assignDecadeIds(t);
    std::size_t shortened = 0;
    for (std::size_t i = 0; i < c.names.size(); ++i) {
      EXPECT_EQ(t.series[i].decadeId, c.ids[i]) << c.names[i];
      if (t.series[i].decadeId != c.names[i]) ++shortened;
    }
    EXPECT_EQ(t.warnings.size(), shortened);
  }
}

TEST(InputFormats, ToldApartByContent) {
  const std::vector<std::pair<std::string, InputFormat>> texts = {
      {"\n  header:\nKeyCode=A\n", InputFormat::heidelberg},
      {"DATA:Tree\n1 2\n", InputFormat::heidelberg},
      {"\xEF\xBB\xBF\"\",\"A\"\n\"1900\",1\n", InputFormat::csv},
      {"year\tA\n-5\t1\n", InputFormat::csv},
      {"Site, with a comma\nSecond header line, too\n", InputFormat::decade},
      {"ABC     1900   100   999\n", InputFormat::decade},
  };
  for (const auto& [text, format] : texts) EXPECT_EQ(detectInputFormat(text), format) << text;
  // Every decade file of the shared data reads as one.
  for (const char* file :
       {"itrdb/ca533.rwl", "itrdb/ca667.rwl", "itrdb/nm580.rwl", "itrdb/morc018.rwl",
        "itrdb/wa082.rwl", "itrdb/cana326_error.rwl", "dplr/gp.rwl", "dplr/zof.rwl"}) {
    REQUIRE_SHARED_DATA(path, file);
    std::optional<RwInput> in = RwInput::openFile(path, InputFormat::automatic);
    ASSERT_TRUE(in);
    EXPECT_EQ(in->format(), InputFormat::decade) << file;
  }
}

}  // namespace
}  // namespace kavrel
