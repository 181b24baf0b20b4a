#include "util/fixedformat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

#include <stdexcept>
#include <string>
#include <vector>

namespace kavrel {
namespace {

TEST(FormatLayout, IntegersAndTexts) {
  EXPECT_EQ(formatLayout("(1x,a,i4)", {"n = ", 12}), " n =   12");
  EXPECT_EQ(formatLayout("(1X,A,I4)", {"n = ", 12}), " n =   12");  // any case
  EXPECT_EQ(formatLayout("( 1x , a , i4 )", {"n = ", 12}), " n =   12");
  EXPECT_EQ(formatLayout("(i3)", {-12}), "-12");
  EXPECT_EQ(formatLayout("(i3)", {-123}), "***");
  EXPECT_EQ(formatLayout("(i3,i3)", {1234, 5}), "***  5");
  EXPECT_EQ(formatLayout("(i4.3)", {7}), " 007");
  EXPECT_EQ(formatLayout("(i4.3)", {-7}), "-007");
  EXPECT_EQ(formatLayout("(i6)", {int64_t{-2147483648LL}}), "******");
  EXPECT_EQ(formatLayout("(a5)", {"abc"}), "  abc");  // right-justified, as Fortran
  EXPECT_EQ(formatLayout("(a2)", {"abc"}), "ab");     // the first w characters
  EXPECT_EQ(formatLayout("(a8,i4)", {"SS004B", 1234}), "  SS004B1234");
  EXPECT_EQ(formatLayout("(l3,l1)", {true, false}), "  TF");
  EXPECT_EQ(formatLayout("(a,'it''s',a)", {"<", ">"}), "<it's>");
}

TEST(FormatLayout, FixedPointReals) {
  EXPECT_EQ(formatLayout("(f8.3)", {2.385f}), "   2.385");
  EXPECT_EQ(formatLayout("(f8.3)", {-999.0f}), "-999.000");
  EXPECT_EQ(formatLayout("(f7.3)", {-999.0f}), "*******");
  EXPECT_EQ(formatLayout("(f5.3)", {0.5f}), "0.500");
  EXPECT_EQ(formatLayout("(f4.3)", {0.5f}), ".500");  // the leading zero is optional
  EXPECT_EQ(formatLayout("(f5.3)", {-0.5f}), "-.500");
  EXPECT_EQ(formatLayout("(f4.3)", {-0.5f}), "****");
  EXPECT_EQ(formatLayout("(f6.0)", {3.7f}), "    4.");
  EXPECT_EQ(formatLayout("(f6.2)", {2.996f}), "  3.00");
  EXPECT_EQ(formatLayout("(f8.3)", {123456.0f}), "********");
  EXPECT_EQ(formatLayout("(f10.4)", {0.1}), "    0.1000");
  // The binary value decides: 2.675 is stored below the midpoint.
  EXPECT_EQ(formatLayout("(f6.2)", {2.675}), "  2.67");
  EXPECT_EQ(formatLayout("(f0.2)", {12.5f}), "12.50");
}

TEST(FormatLayout, RepeatsGroupsSlashesAndReversion) {
  EXPECT_EQ(formatLayout("(3a)", {"ab", "c", "d"}), "abcd");
  EXPECT_EQ(formatLayout("(2(2x,i8))", {1, 22}), "         1        22");
  EXPECT_EQ(formatLayout("(a,2(1x,a,i2))", {"x", "p", 1, "q", 2}), "x p 1 q 2");
  EXPECT_EQ(formatLayout("(/1x,'text',a)", {"Q"}), "\n textQ");
  EXPECT_EQ(formatLayout("(a,/,a)", {"a", "b"}), "a\nb");
  EXPECT_EQ(formatLayout("(a,2/a)", {"a", "b"}), "a\n\nb");
  EXPECT_EQ(formatLayout("(a/a)", {"a", "b"}), "a\nb");

  // Ten values a line, as in a decade line.
  std::vector<FmtArg> values;
  for (int v = 1; v <= 12; ++v) values.emplace_back(v * 100);
  EXPECT_EQ(formatLayout("(10i6)", values),
            "   100   200   300   400   500   600   700   800   900  1000\n  1100  1200");
  // Reversion restarts at the last top-level group.
  EXPECT_EQ(formatLayout("(a,2(i3))", {"x", 1, 2, 3, 4, 5}), "x  1  2\n  3  4\n  5");

  // When the values run out, output stops at the next data descriptor.
  EXPECT_EQ(formatLayout("(1x,'n =',i3,' end')", {}), " n =");
  EXPECT_EQ(formatLayout("(1x,'n =',i3,' end')", {4}), " n =  4 end");
  EXPECT_EQ(formatLayout("(i3,:,' more')", {4}), "  4");
  EXPECT_EQ(formatLayout("(1x,'Hello')", {}), " Hello");
}

TEST(FormatLayout, Positioning) {
  EXPECT_EQ(formatLayout("(a,t10,a)", {"ab", "cd"}), "ab       cd");
  EXPECT_EQ(formatLayout("(a,tl2,a)", {"abcd", "XY"}), "abXY");
  EXPECT_EQ(formatLayout("(a,tr3,a)", {"ab", "cd"}), "ab   cd");
  EXPECT_EQ(formatLayout("(a,5x)", {"ab"}), "ab");  // trailing blanks not written
  EXPECT_EQ(formatLayout("(5x,/,a)", {"ab"}), "\nab");
}

TEST(FormatLayout, BadLayoutsAndArguments) {
  for (const char* bad : {"1x,a", "(q5)", "(f8)", "(i)", "(a", "(a))", "('open)", "(t)"}) {
    EXPECT_THROW(formatLayout(bad, {"x"}), std::invalid_argument) << bad;
  }
  EXPECT_THROW(formatLayout("(99999(99999(i1)))", {1}), std::invalid_argument);
  EXPECT_THROW(formatLayout("(i4)", {2.5f}), std::invalid_argument);
  EXPECT_THROW(formatLayout("(f8.3)", {3}), std::invalid_argument);
  EXPECT_THROW(formatLayout("(a)", {3}), std::invalid_argument);
  EXPECT_THROW(formatLayout("(1x,'no data')", {3}), std::invalid_argument);
  try {
    formatLayout("(q5)", {});
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("(q5)"), std::string::npos);
  }
}

TEST(FreeLine, SpacingAndItemForms) {
  EXPECT_EQ(freeLine({"input file =", "gp.rwl"}), " input file = gp.rwl");
  EXPECT_EQ(freeLine({"input file = ", "gp.rwl"}), " input file = gp.rwl");
  EXPECT_EQ(freeLine({" Lower limit = ", 0.5f}), " Lower limit = 0.5");
  EXPECT_EQ(freeLine({3, "Skip HIGH Value", "ABC12345", 12.34f}), " 3 Skip HIGH Value ABC12345 12.34");
  EXPECT_EQ(freeLine({"Power Transformation = ", false}), " Power Transformation = F");
  EXPECT_EQ(freeLine({"Number of offsets read = ", 124}), " Number of offsets read = 124");
  EXPECT_EQ(freeLine({1, -2, true}), " 1 -2 T");
  EXPECT_EQ(freeLine({"a", "", "b"}), " a b");
  EXPECT_EQ(freeLine({}), "");

  EXPECT_EQ(freeReal(0.5), "0.5");
  EXPECT_EQ(freeReal(3.0), "3.0");
  EXPECT_EQ(freeReal(-999.0), "-999.0");
  EXPECT_EQ(freeReal(static_cast<double>(0.1f)), "0.1");
  EXPECT_EQ(freeReal(static_cast<double>(123456.7f)), "123456.7");
  EXPECT_EQ(freeReal(static_cast<double>(2.385f)), "2.385");
  EXPECT_EQ(freeReal(1.0 / 3.0), "0.3333333");
  EXPECT_EQ(freeReal(0.0001234), "0.0001234");
  EXPECT_EQ(freeReal(-0.0), "0.0");
  EXPECT_EQ(freeReal(1e7), "1.0E+07");
  EXPECT_EQ(freeReal(12345678.0), "1.234568E+07");
  EXPECT_EQ(freeReal(-1.5e-5), "-1.5E-05");
  EXPECT_EQ(freeLine({"x", 2.0}), " x 2.0");
}

// Between 1e-4 and 1e7 a free-format real is printf's %.7g (with ".0" added to
// a whole number), over every magnitude and the rounding edges of 7 digits.
TEST(FreeFormat, RealsMatchPrintfSevenSignificantDigits) {
  std::mt19937_64 gen{123456};
  std::uniform_real_distribution<double> exponent(-4.0, 7.0);
  std::vector<float> values = {9999999.0f, 9999999.5f, 0.00099999995f, 1.0e-4f, 0.99999995f, 123.45675f};
  for (int i = 0; i < 200000; ++i) {
    const auto v = static_cast<float>(std::pow(10.0, exponent(gen)));
    values.push_back(i % 2 ? v : -v);
  }
  char buf[40];
  for (float v : values) {
    const double d = static_cast<double>(v);
    if (std::fabs(d) < 1e-4 || std::fabs(d) >= 1e7) continue;
    std::snprintf(buf, sizeof buf, "%.7g", d);
    std::string expected = buf;
    if (expected.find('e') != std::string::npos) continue;  // the scientific branch
    if (expected.find('.') == std::string::npos) expected += ".0";
    ASSERT_EQ(freeReal(d), expected) << d;
  }
}

}  // namespace
}  // namespace kavrel
