#include <gtest/gtest.h>

#include "page_fixture.h"
#include "plot/rcsplt.h"
#include "plot_test_support.h"
#include "util/fatal.h"

namespace kavrel {
namespace {

using plottest::readSvgPage;
using plottest::ScratchDir;
using plottest::ScriptedConsole;
using plottest::SvgPage;

constexpr const char* kGrey = "#BEBEBE";  // colour 7 of colour map 0: series lines
constexpr const char* kRed = "#FF0000";   // colour 1: regional curve

// Age of a device x coordinate, from two points of known age on the same panel.
double ageAt(double x, double x1, double age1, double x2, double age2) {
  return age1 + (x - x1) * (age2 - age1) / (x2 - x1);
}

TEST(RcspltPage, OnePanelPerClassWithItsSeriesAndCurve) {
  setPlotEnvironment();
  ScratchDir dir;
  const auto five = plottest::writeFiveClasses();
  PlotState state = plottest::svgState();
  ScriptedConsole script("c\n");
  rcsplt(state, script.console(), five.inputs);
  EXPECT_EQ(state.screenPages, 1);

  const SvgPage page = readSvgPage("page.svg");
  // Five panels and nothing drawn after the fifth: the sixth stays empty.
  ASSERT_EQ(page.panels.size(), 5u);
  EXPECT_EQ(page.background, "#FFFFFF");
  for (size_t c = 0; c < 5; ++c) {
    const auto& panel = page.panels[c];
    SCOPED_TRACE(c + 1);
    EXPECT_EQ(panel.title, plottest::kAgeAlignedNames[c]);
    EXPECT_TRUE(panel.hasAgeLabel);
    EXPECT_TRUE(panel.hasRrwLabel);
    EXPECT_GT(panel.frameLines, 0);
    const size_t series = five.classes[c].size();
    // One line per series, then the curve on top; an empty class draws axes only.
    ASSERT_EQ(panel.data.size(), series == 0 ? 0u : series + 1);
    for (size_t k = 0; k < series; ++k) {
      EXPECT_EQ(panel.data[k].stroke, kGrey);
      EXPECT_DOUBLE_EQ(panel.data[k].width, 1.0);
    }
    if (series > 0) {
      EXPECT_EQ(panel.data.back().stroke, kRed);
      EXPECT_DOUBLE_EQ(panel.data.back().width, 2.0);
    }
  }

  // Class 1: the curve runs over ages 1..70; series 1 covers 1..60 and
  // series 2 (pith offset 20, 50 rings) ages 21..70.
  const auto& p1 = page.panels[0];
  const auto& curve = p1.data[2];
  ASSERT_EQ(curve.xs.size(), 70u);
  const double x1 = curve.xs.front(), x70 = curve.xs.back();
  EXPECT_EQ(p1.data[0].xs.size(), 60u);
  EXPECT_NEAR(ageAt(p1.data[0].xs.front(), x1, 1, x70, 70), 1.0, 0.05);
  EXPECT_NEAR(ageAt(p1.data[0].xs.back(), x1, 1, x70, 70), 60.0, 0.05);
  ASSERT_EQ(p1.data[1].xs.size(), 50u);
  EXPECT_NEAR(ageAt(p1.data[1].xs.front(), x1, 1, x70, 70), 21.0, 0.05);
  EXPECT_NEAR(ageAt(p1.data[1].xs.back(), x1, 1, x70, 70), 70.0, 0.05);
  // The curve is missing up to the smallest pith offset: class 4's series
  // starts at age 6 and so does its curve.
  const auto& p4 = page.panels[3];
  EXPECT_EQ(p4.data[1].xs.size(), 95u);
  EXPECT_NEAR(p4.data[1].xs.front(), p4.data[0].xs.front(), 0.01);
  // A missing value inside a series is left out of its line.
  EXPECT_EQ(page.panels[4].data[0].xs.size(), 32u);
  EXPECT_EQ(page.panels[4].data[1].xs.size(), 27u);
}

TEST(RcspltPage, TickSpacingFollowsTheLargestAgeAndValue) {
  setPlotEnvironment();
  // The table at its boundaries.
  struct Row {
    int32_t age;
    float value;
    float xMajor;
    int32_t xMinor;
    float yMajor;
    int32_t yMinor;
  };
  const Row rows[] = {{100, 1.0f, 10, 10, 0.1f, 10},  {101, 1.01f, 100, 5, 1.0f, 5},
                      {500, 5.0f, 100, 5, 1.0f, 5},   {501, 5.01f, 200, 2, 2.0f, 2},
                      {1000, 10.0f, 200, 2, 2.0f, 2}, {1001, 10.01f, 250, 1, 5.0f, 0},
                      {0, -999.0f, 10, 10, 0.1f, 10}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.age);
    const AxisTicks t = axisTicks(r.age, r.value);
    EXPECT_EQ(t.xMajor, r.xMajor);
    EXPECT_EQ(t.xMinor, r.xMinor);
    EXPECT_EQ(t.yMajor, r.yMajor);
    EXPECT_EQ(t.yMinor, r.yMinor);
  }

  // The labels drawn: ages 100 and 101, values 1.0 and 1.01.
  ScratchDir dir;
  auto five = plottest::writeFiveClasses();
  auto labelsFor = [&](int32_t maxAge, float maxValue, const char* anchor) {
    five.inputs.maxAgeAllClasses = maxAge;
    five.inputs.maxRawValue = maxValue;
    PlotState state = plottest::svgState();
    ScriptedConsole script("\n");
    rcsplt(state, script.console(), five.inputs);
    return plottest::tickLabels(readSvgPage("page.svg").panels[0], anchor);
  };
  const std::vector<double> every10 = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
  EXPECT_EQ(labelsFor(100, 0.93f, "middle"), every10);
  EXPECT_EQ(labelsFor(101, 0.93f, "middle"), (std::vector<double>{0, 100}));
  const auto tenths = labelsFor(100, 1.0f, "end");
  ASSERT_EQ(tenths.size(), 11u);
  for (size_t i = 0; i < tenths.size(); ++i)
    EXPECT_NEAR(tenths[i], 0.1 * static_cast<double>(i), 1e-9);
  EXPECT_EQ(labelsFor(100, 1.01f, "end"), (std::vector<double>{0, 1}));
}

TEST(RcspltPage, RunWithoutAnySeriesDrawsEmptyAxes) {
  setPlotEnvironment();
  ScratchDir dir;
  PlotInputs inputs;
  for (size_t c = 0; c < 5; ++c) {
    plottest::writeAgeAligned(plottest::kAgeAlignedNames[c], {}, plottest::testCurve);
    inputs.classFileNames[c] = plottest::kAgeAlignedNames[c];
  }
  // Nothing was read: the largest age is still 0 and the largest value the
  // start value -999.0; the axes fall back to 0..1 instead of an empty range.
  inputs.maxAgeAllClasses = 0;
  inputs.maxRawValue = -999.0f;
  PlotState state = plottest::svgState();
  ScriptedConsole script("c\n");
  rcsplt(state, script.console(), inputs);
  EXPECT_EQ(script.output().find(">> sbr"), std::string::npos) << script.output();
  const SvgPage page = readSvgPage("page.svg");
  ASSERT_EQ(page.panels.size(), 5u);
  for (const auto& panel : page.panels) {
    EXPECT_GT(panel.frameLines, 0);
    EXPECT_TRUE(panel.data.empty());
    EXPECT_EQ(plottest::tickLabels(panel, "middle"), std::vector<double>{0.0});
    EXPECT_NEAR(plottest::tickLabels(panel, "end").back(), 1.0, 1e-9);
  }
}

TEST(RcspltPage, MissingOrDamagedFileEndsTheRunBeforeDrawing) {
  setPlotEnvironment();
  ScratchDir dir;
  auto five = plottest::writeFiveClasses();
  PlotState state = plottest::svgState();
  {
    std::remove(plottest::kAgeAlignedNames[3]);
    ScriptedConsole script("c\n");
    try {
      rcsplt(state, script.console(), five.inputs);
      FAIL() << "no Fatal";
    } catch (const Fatal& e) {
      EXPECT_NE(std::string(e.what()).find("longlowV6_raw_agealigned.txt"), std::string::npos);
    }
    EXPECT_EQ(state.screenPages, 0);
  }
  {
    // A data line with fewer values than the class has series.
    five = plottest::writeFiveClasses();
    five.inputs.seriesInClass[0] = 3;
    ScriptedConsole script("c\n");
    try {
      rcsplt(state, script.console(), five.inputs);
      FAIL() << "no Fatal";
    } catch (const Fatal& e) {
      EXPECT_NE(std::string(e.what()).find("shorthighV6_raw_agealigned.txt, line 2"),
                std::string::npos)
          << e.what();
    }
  }
}

}  // namespace
}  // namespace kavrel
