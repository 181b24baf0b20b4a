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
            "2000,1,1.375,1.375,1.375,,,,\n"
            "2001,2,1,1,1,,,,\n"
            "2002,3,1.2083334,1.1880478,1.0625,,1.5,,\n"
            "2003,3,0.9166667,0.91286474,0.9375,,0.875,,\n"
            "2004,0,,,,,,,\n"
            "2005,1,2,2,2,,,,\n");

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
            "-3,1,-1e-09,-0.0253,,,,,\n");

  std::vector<SignalWindow> windows(2);
  windows[0].firstYear = 1700;
  windows[0].lastYear = 1749;
  windows[0].seriesCount = 13;
  windows[0].rbar = 0.27883;
  windows[0].eps = 0.8441;
  windows[0].treeCount = 7;
  windows[0].rbarWithin = 0.5;
  windows[0].rbarBetween = 0.25;
  windows[0].effectiveCores = 1.75;
  windows[0].rbarEffective = 0.3;
  windows[0].snr = 3.0;
  windows[0].epsEffective = 0.75;
  windows[1].firstYear = 1725;
  windows[1].lastYear = 1774;
  windows[1].seriesCount = 1;
  windows[1].treeCount = 1;
  out.clear();
  appendSignalCsv(out, windows);
  EXPECT_EQ(out,
            "first_year,last_year,series,rbar,eps,trees,rbar_tot,rbar_wt,rbar_bt,c_eff,rbar_eff,"
            "snr,eps_eff\n"
            "1700,1749,13,0.27883,0.8441,7,0.27883,0.5,0.25,1.75,0.3,3,0.75\n"
            "1725,1774,1,,,1,,,,,,,\n");

  EXPECT_EQ(csvNumber(std::nan("")), "");
  EXPECT_EQ(csvNumber(HUGE_VAL), "");
  EXPECT_EQ(csvNumber(1e12), "1e+12");
  EXPECT_EQ(csvNumber(1e39), "");  // beyond single precision
  // Every single-precision value reads back exactly.
  for (float f : {0.1f, 1.0f / 3.0f, -2.5e-7f, 123456.79f, 0.99999994f}) {
    EXPECT_EQ(std::strtof(csvNumber(f).c_str(), nullptr), f) << f;
  }
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
