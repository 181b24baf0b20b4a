#include "plot/agealigned_table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "plot_test_support.h"
#include "util/fatal.h"

namespace kavrel {
namespace {

void write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string fatalMessage(const std::string& path, int32_t series) {
  try {
    readAgeAlignedTable(path, series);
  } catch (const Fatal& e) {
    return e.what();
  }
  return "no Fatal";
}

TEST(AgeAlignedTable, ReadsTheTableBackAndSkipsMissingValues) {
  plottest::ScratchDir dir;
  // CRLF line ends, a blank line, Fortran and E exponents, an extra number.
  write("t.txt",
        " #age\t       f\t       A1      \t       B2      \r\n"
        " 1\t       -999.0\t       0.512\t       -999.0\r\n"
        "\r\n"
        " 2\t       0.75\t       4.5E-1\t       -999.0 7\r\n"
        " 3\t       0.70\t       -999.0\t       1.25D0\r\n");
  const AgeAlignedTable t = readAgeAlignedTable("t.txt", 2);
  ASSERT_EQ(t.lineCount(), 3);
  EXPECT_EQ(t.ages[2], 3.0f);
  EXPECT_EQ(t.value(1, 0), 0.45f);
  EXPECT_EQ(t.value(2, 1), 1.25f);

  const AgePolyline curve = columnPolyline(t, -1, -999.0f);
  EXPECT_EQ(curve.ages, (std::vector<double>{2, 3}));
  const AgePolyline a = columnPolyline(t, 0, -999.0f);
  EXPECT_EQ(a.ages, (std::vector<double>{1, 2}));
  EXPECT_DOUBLE_EQ(a.values[0], static_cast<double>(0.512f));
  const AgePolyline b = columnPolyline(t, 1, -999.0f);
  EXPECT_EQ(b.ages, (std::vector<double>{3}));

  // An empty class: header only, or an empty file.
  write("empty.txt", " #age\t       f\n");
  EXPECT_EQ(readAgeAlignedTable("empty.txt", 0).lineCount(), 0);
  write("none.txt", "");
  EXPECT_EQ(readAgeAlignedTable("none.txt", 0).lineCount(), 0);
}

TEST(AgeAlignedTable, BadFilesEndTheRunWithFileAndLine) {
  plottest::ScratchDir dir;
  EXPECT_NE(fatalMessage("absent.txt", 1).find("Cannot open age-aligned file absent.txt"),
            std::string::npos);
  write("short.txt", " #age f A\n 1 0.5 0.4\n 2 0.5\n");
  EXPECT_NE(fatalMessage("short.txt", 1).find("short.txt, line 3: 2 numbers"), std::string::npos);
  write("text.txt", " #age f A\n 1 0.5 abc\n");
  EXPECT_NE(fatalMessage("text.txt", 1).find("text.txt, line 2: a value is not a number"),
            std::string::npos);
  write("nan.txt", " #age f A\n 1 nan 0.3\n");
  EXPECT_NE(fatalMessage("nan.txt", 1).find("line 2"), std::string::npos);
  EXPECT_NE(fatalMessage("text.txt", 10001).find("capacity of 10000"), std::string::npos);
  std::string big = " #age f\n";
  for (int i = 1; i <= 2001; ++i) {
    big += ' ';
    big += std::to_string(i);
    big += " 0.5\n";
  }
  write("big.txt", big);
  EXPECT_NE(fatalMessage("big.txt", 0).find("line 2002: more than 2000 ages"), std::string::npos);
}

}  // namespace
}  // namespace kavrel
