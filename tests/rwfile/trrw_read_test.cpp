// Reader tests: one small inline file per quirk of the decade format.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "rwfile/trrw.h"
#include "rwtest_helpers.h"
#include "util/fatal.h"
#include "util/missing.h"

namespace kavrel {
namespace {

using test::decadeLine;
using test::readAllSeries;

TEST(TrrwRead, UnitsFromEndMarkerAndCounters) {
  // The same integers mean thousandths before -9999 and hundredths before 999.
  const std::string text = decadeLine("ABC", 1653, {1234, 567, -9999}) +
                           decadeLine("DEF12345", 1653, {1234, 567, 999});
  RwInput in = RwInput::fromText(text);
  std::string id;
  int32_t year = 0;
  std::vector<float> v;
  int32_t counter = 0;

  ASSERT_EQ(trrwRead(in, id, year, v, counter), 2);
  EXPECT_EQ(id, "ABC     ");
  EXPECT_EQ(year, 1653);
  EXPECT_EQ(counter, 1);
  ASSERT_EQ(v.size(), 2u);
  EXPECT_NEAR(v[0], 1.234f, 1e-6f);
  EXPECT_NEAR(v[1], 0.567f, 1e-6f);

  ASSERT_EQ(trrwRead(in, id, year, v, counter), 2);
  EXPECT_EQ(id, "DEF12345");
  EXPECT_EQ(counter, 2);
  EXPECT_NEAR(v[0], 12.34f, 1e-5f);
  EXPECT_NEAR(v[1], 5.67f, 1e-5f);
  EXPECT_EQ(in.lineNumber(), 2);

  // End of file: both results -999, and it stays that way.
  EXPECT_EQ(trrwRead(in, id, year, v, counter), kEndOfFile);
  EXPECT_EQ(counter, kEndOfFile);
  EXPECT_TRUE(v.empty());
  EXPECT_EQ(trrwRead(in, id, year, v, counter), kEndOfFile);
  EXPECT_EQ(counter, kEndOfFile);
}

TEST(TrrwRead, FirstLineHoldsTheRestOfItsDecade) {
  // 1653: positions 1653..1659 (7); the three extra fields on the line are not
  // part of the series, and a warning says so.
  RwInput in = RwInput::fromText(decadeLine("A", 1653, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}) +
                                 decadeLine("A", 1660, {11, 12, 13, -9999}));
  std::string id;
  int32_t year = 0;
  std::vector<float> v;
  int32_t counter = 0;
  ASSERT_EQ(trrwRead(in, id, year, v, counter), 10);
  ASSERT_EQ(in.warnings().size(), 1u);
  EXPECT_EQ(in.warnings()[0].kind, RwWarning::Kind::ExtraValues);
  EXPECT_EQ(in.warnings()[0].message(),
            "line 1, series A: 3 value(s) after the end of the decade (columns 55-72) not read");
  const int32_t expect[] = {1, 2, 3, 4, 5, 6, 7, 11, 12, 13};
  for (std::size_t i = 0; i < 10; ++i) EXPECT_NEAR(v[i], expect[i] * 0.001f, 1e-7f);

  // 1650: a full decade. -10: ten values (-10..-1). -5: five values (-5..-1).
  struct Case {
    int32_t year;
    std::size_t onFirstLine;
  };
  for (const Case c : {Case{1650, 10}, Case{-10, 10}, Case{-5, 5}, Case{-1, 1}, Case{9, 1}}) {
    std::vector<int32_t> first;
    for (int32_t k = 1; k <= 10; ++k) first.push_back(100 * k);
    const int32_t next = c.year + static_cast<int32_t>(c.onFirstLine);
    auto r = readAllSeries(decadeLine("B", c.year, first) + decadeLine("B", next, {7, -9999}));
    ASSERT_EQ(r.size(), 1u) << c.year;
    EXPECT_EQ(r[0].firstYear, c.year);
    ASSERT_EQ(r[0].values.size(), c.onFirstLine + 1) << c.year;
    EXPECT_NEAR(r[0].values[c.onFirstLine - 1], static_cast<float>(c.onFirstLine) * 0.1f, 1e-6f);
    EXPECT_NEAR(r[0].values.back(), 0.007f, 1e-7f);
  }
}

TEST(TrrwRead, LoneEndMarkerLineAndNextSeries) {
  // A series ending in 1659 is closed by a line holding only id, 1660 and the marker.
  const std::string text = decadeLine("X1", 1655, {10, 20, 30, 40, 50}) + decadeLine("X1", 1660, {-9999}) +
                           decadeLine("X2", 1700, {5, 999});
  auto s = readAllSeries(text);
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].values.size(), 5u);
  EXPECT_EQ(s[1].id, "X2      ");
  ASSERT_EQ(s[1].values.size(), 1u);
  EXPECT_NEAR(s[1].values[0], 0.05f, 1e-7f);
}

TEST(TrrwRead, NumericFieldsByColumn) {
  // Blanks inside a field are ignored and an all-blank field is 0; the
  // identifier may touch the year; columns 73-80 are never read.
  const std::string fields = std::string("  1 2 ") + "      " + "  3 4 " + "    5 " + "   7  " +
                             "      " + "      " + "      " + "   123" + "   456";
  const std::string text = "vmm0301a1582" + fields + "junkjunk\n" + "vmm0301a1590     8   999\n";
  auto s = readAllSeries(text);
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].id, "vmm0301a");
  EXPECT_EQ(s[0].firstYear, 1582);
  const float expect[] = {0.12f, 0.0f, 0.34f, 0.05f, 0.07f, 0.0f, 0.0f, 0.0f, 0.08f};
  ASSERT_EQ(s[0].values.size(), 9u);
  for (std::size_t i = 0; i < 9; ++i) EXPECT_NEAR(s[0].values[i], expect[i], 1e-6f) << i;
}

TEST(TrrwRead, LineEndingsReadAlike) {
  const std::string lf = "Site header text line\n" + decadeLine("S1", 1901, {1, 2, 3, 4, 5, 6, 7, 8, 9}) +
                         decadeLine("S1", 1910, {10, -9999}) + decadeLine("S2", 1910, {4, 999});
  auto replaceNewlines = [&](const std::string& with) {
    std::string out;
    for (char c : lf) {
      if (c == '\n') out += with;
      else out += c;
    }
    return out;
  };
  const auto reference = readAllSeries(lf);
  ASSERT_EQ(reference.size(), 2u);
  for (const std::string ending : {"\r\n", "\r", "\r\r\n"}) {
    const auto other = readAllSeries(replaceNewlines(ending));
    ASSERT_EQ(other.size(), reference.size());
    for (std::size_t i = 0; i < other.size(); ++i) {
      EXPECT_EQ(other[i].id, reference[i].id);
      EXPECT_EQ(other[i].firstYear, reference[i].firstYear);
      EXPECT_EQ(other[i].values, reference[i].values);
    }
  }
  // No final newline at all.
  auto s = readAllSeries(decadeLine("S3", 1910, {4, 999}).substr(0, 24));
  ASSERT_EQ(s.size(), 1u);
  // A byte-order mark before the first data line does not shift its columns.
  const std::string data = decadeLine("S2", 1910, {4, 999});
  const auto bom = readAllSeries("\xEF\xBB\xBF" + data);
  const auto plain = readAllSeries(data);
  ASSERT_EQ(bom.size(), 1u);
  EXPECT_EQ(bom[0].id, plain[0].id);
  EXPECT_EQ(bom[0].firstYear, 1910);
  EXPECT_EQ(bom[0].values, plain[0].values);
  // Files joined end to end: the second file's mark (even doubled) starts a
  // line of its own and is dropped there too.
  const auto joined =
      readAllSeries("\xEF\xBB\xBF" + data + "\xEF\xBB\xBF\xEF\xBB\xBF" + decadeLine("S4", 1910, {5, 999}));
  ASSERT_EQ(joined.size(), 2u);
  EXPECT_EQ(joined[1].id, "S4      ");
  EXPECT_EQ(joined[1].firstYear, 1910);
}

TEST(TrrwRead, TextLineLimit) {
  std::string text25;
  for (int i = 0; i < 25; ++i) text25 += "Header or note line " + std::to_string(i) + "\n";
  const std::string series = decadeLine("T1", 1900, {1, 2, -9999});

  // 25 text lines are skipped, and the counter starts afresh with each call.
  auto s = readAllSeries(text25 + series + text25 + series);
  EXPECT_EQ(s.size(), 2u);

  // A 26th ends the program with the fixed message.
  RwInput in = RwInput::fromText(text25 + "one more text line\n" + series);
  std::string id;
  int32_t year = 0;
  std::vector<float> v;
  int32_t counter = 0;
  try {
    trrwRead(in, id, year, v, counter);
    FAIL() << "expected the text-line limit";
  } catch (const Fatal& e) {
    EXPECT_STREQ(e.what(), "sbr trrw:  over 25 text lines");
    EXPECT_EQ(in.lineNumber(), 26);
  }

  // Letters, a stray sign or a tab in a numeric field make a text line, and
  // so does an identifier alone (read literally, a decade of zeros in year 0);
  // between the lines of a series such lines are skipped.
  const std::string mixed = decadeLine("T2", 1900, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}) +
                            "T2      1910   1x2     3\n" + "T2      1910     -     3\n" +
                            "T2      1910\t  11     3\n" + "T2\n" + "LONE-ID                                    \n" +
                            decadeLine("T2", 1910, {11, -9999});
  RwInput in2 = RwInput::fromText(mixed);
  ASSERT_EQ(trrwRead(in2, id, year, v, counter), 11);
  EXPECT_EQ(in2.lastRead().textLines, 5);
  EXPECT_NEAR(v[10], 0.011f, 1e-7f);
}

TEST(TrrwRead, BlankLinesAreNotData) {
  // Blank lines (between series, inside one, or many before the first) are
  // skipped without counting toward the text-line limit.
  std::string text(30, '\n');
  text += decadeLine("B1", 1995, {1, 2, 3, 4, 5}) + "   \t  \n\n" + decadeLine("B1", 2000, {6, -9999}) +
          "\n        \n" + decadeLine("B2", 2001, {7, -9999});
  RwInput in = RwInput::fromText(text);
  auto s = readAllSeries(in);
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].values.size(), 6u);
  EXPECT_EQ(s[1].id, "B2      ");
  EXPECT_EQ(s[1].firstYear, 2001);
  EXPECT_TRUE(readAllSeries(std::string("\n\n  \n")).empty());
}

TEST(TrrwRead, EmptyAndOverlongInput) {
  EXPECT_TRUE(readAllSeries(std::string()).empty());

  // A line is cut at 80 characters: nothing beyond is read, not even a marker.
  std::string longLine = decadeLine("L1", 1900, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  longLine.pop_back();
  longLine += std::string(8, ' ') + std::string(40, 'z') + "  -9999\n";
  auto s = readAllSeries(longLine + decadeLine("L1", 1910, {11, -9999}));
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].values.size(), 11u);
}

TEST(TrrwRead, BinaryGarbageEndsCleanly) {
  // Random bytes: every read either ends with the end-of-file result or the
  // text-line limit; nothing hangs and no negative width comes out.
  std::mt19937_64 gen{123456};
  for (int round = 0; round < 20; ++round) {
    std::string bytes(20000, '\0');
    for (char& c : bytes) c = static_cast<char>(gen() & 0xff);
    RwInput in = RwInput::fromText(bytes);
    std::string id;
    int32_t year = 0;
    std::vector<float> v;
    int32_t counter = 0;
    int calls = 0;
    try {
      while (trrwRead(in, id, year, v, counter) != kEndOfFile) {
        ASSERT_LT(++calls, 20000);
        for (float x : v) EXPECT_TRUE(x >= 0.0f || x == kMissingValue);
      }
    } catch (const Fatal& e) {
      EXPECT_STREQ(e.what(), "sbr trrw:  over 25 text lines");
    }
  }
  // One endless line without a line end is one text line.
  EXPECT_TRUE(readAllSeries(std::string(1 << 20, '\x01')).empty());
}

TEST(TrrwRead, EarlyYearsWithSignInColumnEight) {
  // ca667 writes years of -1000 and earlier in columns 8-12.
  const std::string text =
      "SS004B -2649   680   630   470   620   510   320   410   200   300\n"
      "SS004B -2640   230 -9999\n"
      "ABCDEFG-1001    11    99    99\n"
      "ABCDEFG-1000    22 -9999\n"
      "NM1     -136     5     6     7     8     9    10 -9999\n"
      "NM1     -130 -9999\n";
  auto s = readAllSeries(text);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0].id, "SS004B  ");
  EXPECT_EQ(s[0].firstYear, -2649);
  ASSERT_EQ(s[0].values.size(), 10u);  // nine on the first line (-2649..-2641)
  EXPECT_NEAR(s[0].values[8], 0.3f, 1e-6f);
  EXPECT_NEAR(s[0].values[9], 0.23f, 1e-6f);
  EXPECT_EQ(s[1].id, "ABCDEFG ");
  EXPECT_EQ(s[1].firstYear, -1001);
  EXPECT_EQ(s[1].values.size(), 2u);  // -1001 is the last year of its decade
  EXPECT_EQ(s[2].firstYear, -136);
  EXPECT_EQ(s[2].values.size(), 6u);  // -136..-131; the marker must follow -131
}

TEST(TrrwRead, NegativeValuesAreMissingRings) {
  // -999 codes, -7 fillers and typos become the missing marker; the unit
  // change of a -9999 series leaves the marker untouched.
  auto s = readAllSeries(decadeLine("N1", 1900, {150, -999, 230, 999}) +
                         decadeLine("N2", 1900, {1500, -7, -2599, 2300, -9999}));
  ASSERT_EQ(s.size(), 2u);
  ASSERT_EQ(s[0].values.size(), 3u);
  EXPECT_NEAR(s[0].values[0], 1.5f, 1e-6f);
  EXPECT_EQ(s[0].values[1], kMissingValue);
  ASSERT_EQ(s[1].values.size(), 4u);
  EXPECT_EQ(s[1].values[1], kMissingValue);
  EXPECT_EQ(s[1].values[2], kMissingValue);
  EXPECT_NEAR(s[1].values[3], 2.3f, 1e-6f);
}

TEST(TrrwRead, DuplicateIdentifiersStaySeparate) {
  auto s = readAllSeries(decadeLine("DUP", 1640, {1, 2, -9999}) + decadeLine("DUP", 1350, {3, -9999}));
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].firstYear, 1640);
  EXPECT_EQ(s[1].firstYear, 1350);
  EXPECT_EQ(s[1].values.size(), 1u);
}

TEST(TrrwRead, ReadInfoReportsRepairs) {
  RwInput in = RwInput::fromText("a note on the site\n\n" + decadeLine("R1", 1900, {5, -999, -9999}));
  std::string id;
  int32_t year = 0;
  std::vector<float> v;
  int32_t counter = 0;
  ASSERT_EQ(trrwRead(in, id, year, v, counter), 2);
  const RwReadInfo& info = in.lastRead();
  EXPECT_EQ(info.firstLine, 3);
  EXPECT_EQ(info.lastLine, 3);
  EXPECT_EQ(info.textLines, 1);
  EXPECT_EQ(info.blankLines, 1);
  EXPECT_EQ(info.negativesAsMissing, 1);
  EXPECT_FALSE(info.headerBlock);
}

}  // namespace
}  // namespace kavrel
