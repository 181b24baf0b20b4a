// The chronology and signal CSV tables and the decade chronology file.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "chron/chron_csv.h"
#include "chron/crn.h"
#include "chron_fixture.h"
#include "support/crn_reader.h"

namespace kavrel {
namespace {

TEST(ChronCsv, TablesWithHeaderAndEmptyFields) {
  const Chronology ratios = buildChronology(chrontest::threeSeries(), IndexKind::Ratio).chronology;
  std::string out = "kept\n";
  appendChronologyCsv(out, ratios);
  EXPECT_EQ(out,
            "kept\n"
            "year,depth,mean_ratio,robust_mean_ratio,shorthigh_mean_ratio,shortlow_mean_ratio,"
            "longhigh_mean_ratio,longlow_mean_ratio,med_mean_ratio\n"
            "2000,1,1.375000,1.375000,1.375000,,,,\n"
            "2001,2,1.000000,1.000000,1.000000,,,,\n"
            "2002,3,1.208333,1.188048,1.062500,,1.500000,,\n"
            "2003,3,0.916667,0.912865,0.937500,,0.875000,,\n"
            "2004,0,,,,,,,\n"
            "2005,1,2.000000,2.000000,2.000000,,,,\n");

  // Residual mode says so in every value column's name.
  Chronology residuals;
  residuals.kind = IndexKind::Residual;
  residuals.years.push_back({-3, 1, -1e-9, -0.0253, {}, {}});
  out.clear();
  appendChronologyCsv(out, residuals);
  EXPECT_EQ(out,
            "year,depth,mean_residual,robust_mean_residual,shorthigh_mean_residual,"
            "shortlow_mean_residual,longhigh_mean_residual,longlow_mean_residual,"
            "med_mean_residual\n"
            "-3,1,0.000000,-0.025300,,,,,\n");

  const std::vector<SignalWindow> windows = {{1700, 1749, 13, 0.27883, 0.8441},
                                             {1725, 1774, 1, std::nullopt, std::nullopt}};
  out.clear();
  appendSignalCsv(out, windows);
  EXPECT_EQ(out,
            "first_year,last_year,series,rbar,eps\n"
            "1700,1749,13,0.278830,0.844100\n"
            "1725,1774,1,,\n");

  EXPECT_EQ(csvNumber(std::nan("")), "");
  EXPECT_EQ(csvNumber(HUGE_VAL), "");
  EXPECT_EQ(csvNumber(1e12), "1000000000000.000000");
}

// Ratio index series over 1653-1712 with depths of 1..40.
std::vector<IndexSeries> ratioSeries() {
  std::mt19937_64 gen{123456};
  std::uniform_real_distribution<double> ratio(0.35, 2.6);
  std::vector<IndexSeries> series;
  for (int32_t i = 0; i < 40; ++i) {
    IndexSeries s{1 + i % 5, 1653 + i, {}};
    for (int32_t t = 0; t < 60 - i; ++t) s.values.push_back(static_cast<float>(ratio(gen)));
    series.push_back(s);
  }
  return series;
}

TEST(Crn, RoundTripThroughAnIndependentReader) {
  const Chronology chron = buildChronology(ratioSeries(), IndexKind::Ratio).chronology;
  std::string text;
  const CrnWriteResult r = appendCrn(text, crnSiteCode("data/ca667.rwl"), chron);
  ASSERT_EQ(r.status, CrnStatus::Ok) << r.message;
  EXPECT_EQ(r.unwritableIndices, 0);
  EXPECT_EQ(r.cappedDepths, 0);

  const test::CrnFile crn = test::readCrn(text);
  EXPECT_TRUE(crn.wellFormed) << text;
  EXPECT_EQ(crn.site, "ca667 ");
  EXPECT_EQ(crn.lines, 7);  // decades 1650 to 1710
  ASSERT_EQ(crn.values.size(), chron.years.size());
  for (const ChronologyYear& y : chron.years) {
    SCOPED_TRACE(y.year);
    ASSERT_EQ(crn.values.count(y.year), 1u);
    EXPECT_NEAR(crn.values.at(y.year).index, *y.robustMean, 0.0005 + 1e-12);
    EXPECT_EQ(crn.values.at(y.year).depth, y.depth);
  }
  // Positions before 1653 and after 1712 hold the marker with depth 0.
  EXPECT_EQ(text.substr(10, 21), "9990  09990  09990  0");
  EXPECT_EQ(text.substr(text.size() - 50, 50),
            "9990  09990  09990  09990  09990  09990  09990  0\n");
}

TEST(Crn, DefaultSiteCodeHoldsOnlyWhatSiteAccepts) {
  // The same characters as a given site code: letters, digits, '-' and '_'.
  const std::pair<const char*, const char*> cases[] = {
      {"data/ca667.rwl", "ca667"}, {"my site.rwl", "my_sit"}, {"a,b.c.rwl", "a_b_c"},
      {"Ab-_9xyz.rwl", "Ab-_9x"},  {"été.rwl", "__t__"},      {"t\tab.rwl", "t_ab"}};
  for (const auto& [name, code] : cases) EXPECT_EQ(crnSiteCode(name), code) << name;
}

TEST(Crn, LimitsOfTheLayout) {
  // Rows written by hand: negative years (-12 lies in the decade from -20),
  // a gap, a depth and indices beyond the columns, and half-way rounding
  // (0.5 and 1062.5 round away from zero).
  Chronology chron;
  const auto row = [](int32_t year, int32_t depth, std::optional<double> v) {
    ChronologyYear y;
    y.year = year;
    y.depth = depth;
    y.robustMean = v;
    return y;
  };
  chron.years = {row(-12, 3, 0.0005), row(-11, 1234, 1.0), row(-10, 0, std::nullopt),
                 row(-9, 2, 9.989),   row(-8, 2, 10.5),    row(-7, 2, -0.999),
                 row(-6, 2, -1.0),    row(-5, 5, 1.0625),  row(-4, 1, 1.0)};
  std::string text;
  const CrnWriteResult r = appendCrn(text, "AB\tCDEFG", chron);
  ASSERT_EQ(r.status, CrnStatus::Ok);
  EXPECT_EQ(r.cappedDepths, 1);
  EXPECT_EQ(r.unwritableIndices, 2);
  const std::string missing = "9990  0";
  EXPECT_EQ(text, "AB_CDE -20" + missing + missing + missing + missing + missing + missing +
                      missing + missing + "   1  3" + "1000999\n" + "AB_CDE -10" + missing +
                      "9989  2" + "9990  2" + "-999  2" + "9990  2" + "1063  5" + "1000  1" +
                      missing + missing + missing + "\n");
  const test::CrnFile crn = test::readCrn(text);
  EXPECT_TRUE(crn.wellFormed);
  EXPECT_EQ(crn.values.size(), 6u);

  struct Refused {
    Chronology chron;
    CrnStatus status;
    const char* message;
  };
  Chronology residual = chron;
  residual.kind = IndexKind::Residual;
  Chronology early;
  early.years = {row(-991, 1, 1.0)};
  Chronology late;
  late.years = {row(9999, 1, 1.0), row(10000, 1, 1.0)};
  const Refused refused[] = {
      {residual, CrnStatus::NotRatios, "the decade chronology layout holds ratio indices only"},
      {Chronology{}, CrnStatus::Empty, "the chronology holds no values"},
      {early, CrnStatus::YearsOutOfRange, "years -991 to -991 do not fit"},
      {late, CrnStatus::YearsOutOfRange, "years 9999 to 10000 do not fit"},
  };
  for (const Refused& f : refused) {
    SCOPED_TRACE(f.message);
    std::string out = "kept";
    const CrnWriteResult rr = appendCrn(out, "abc", f.chron);
    EXPECT_EQ(rr.status, f.status);
    EXPECT_NE(rr.message.find(f.message), std::string::npos) << rr.message;
    EXPECT_EQ(out, "kept");
  }

  struct Site {
    const char* file;
    const char* code;
  };
  const Site sites[] = {{"ca667.rwl", "ca667"},
                        {"/x/y/gp_pine_2019.rwl", "gp_pin"},
                        {"ab", "ab"},
                        {"dir.d/noext", "noext"}};
  for (const Site& s : sites) EXPECT_EQ(crnSiteCode(s.file), s.code);
}

}  // namespace
}  // namespace kavrel
