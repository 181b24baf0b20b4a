// The regional-curve figure: its text stays readable at 1000 x 750 pixels,
// and the density of many series counts each series once per cell it
// passes through.
#include "plot/rcs_figure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <fstream>
#include <regex>
#include <sstream>

#include "plot/page_fixture.h"
#include "plot/plot_test_support.h"

namespace kavrel {
namespace {

RegionalCurveFigure testFigure() {
  RegionalCurveFigure f;
  f.title = "Site AB, ab.rwl: regional curves by class";
  for (size_t c = 0; c < f.panels.size(); ++c) {
    f.panels[c] = {"Class title " + std::to_string(c + 1), c == 2 ? "" : "Hugershoff",
                   static_cast<int32_t>(c), {}};
  }
  return f;
}

// Font sizes PLplot's own svg device writes, in the page's units.
std::vector<double> fontSizes(const std::string& svg) {
  std::vector<double> sizes;
  const std::regex size("font-size=\"([0-9.]+)\"");
  for (std::sregex_iterator it(svg.begin(), svg.end(), size), end; it != end; ++it) {
    sizes.push_back(std::stod((*it)[1].str()));
  }
  return sizes;
}

// The texts of the page: each <text> element without its inner tags, its
// "&#xNN;" characters decoded.
std::string pageTexts(const std::string& svg) {
  std::string texts;
  size_t p = 0;
  while ((p = svg.find("<text", p)) != std::string::npos) {
    const size_t end = svg.find("</text>", p);
    bool inTag = true;  // starting inside the <text ...> tag
    for (size_t i = p; i < end; ++i) {
      if (svg[i] == '<') inTag = true;
      if (!inTag && svg.compare(i, 3, "&#x") == 0) {
        const size_t semi = svg.find(';', i);
        texts += static_cast<char>(std::stoi(svg.substr(i + 3, semi - i - 3), nullptr, 16));
        i = semi;
        continue;
      }
      if (!inTag) texts += svg[i];
      if (svg[i] == '>') inTag = false;
    }
    texts += '\n';
    p = end;
  }
  return texts;
}

TEST(RegionalCurveFigure, NoTextSmallerThan12PixelsAt1000x750) {
  setPlotEnvironment();
  plottest::ScratchDir dir;
  const auto five = plottest::writeFiveClasses();
  FigureStats stats;
  const PictureTarget svg{PictureFormat::Svg, "svg", PageSize{1000, 750}};
  drawRegionalCurveFigure(five.inputs, testFigure(), "figure.svg", svg, &stats, 750);
  std::ifstream in("figure.svg");
  std::stringstream text;
  text << in.rdbuf();
  const std::string page = text.str();
  // The device draws on a page of 1000 x 750 units: its font sizes are pixels.
  EXPECT_NE(page.find("viewBox=\"0 0 1000 750\""), std::string::npos) << page.substr(0, 400);
  const std::vector<double> sizes = fontSizes(page);
  ASSERT_FALSE(sizes.empty());
  EXPECT_GE(*std::min_element(sizes.begin(), sizes.end()), 12.0 - 1e-6);
  EXPECT_GE(stats.smallestTextPixels, 12.0 - 1e-6);
  const std::string texts = pageTexts(page);
  for (const char* label : {"Cambial age (years)", "Ring width (mm)", "Class title 5",
                            "n = 2, no curve", "Regional curve", "Site AB, ab.rwl"}) {
    EXPECT_NE(texts.find(label), std::string::npos) << label << " in\n" << texts;
  }
  EXPECT_EQ(stats.densityPanels, 0);
  EXPECT_EQ(texts.find("dashed: first pass"), std::string::npos);

  // A signal-free run's first-pass curve is drawn dashed and named in the legend.
  RegionalCurveFigure figure = testFigure();
  figure.panels[0].firstPassCurve = {1.0f, 1.2f, five.inputs.missingValue, 1.1f};
  drawRegionalCurveFigure(five.inputs, figure, "figure.svg", svg, &stats, 750);
  std::ifstream again("figure.svg");
  std::stringstream second;
  second << again.rdbuf();
  EXPECT_NE(pageTexts(second.str()).find("Regional curve (dashed: first pass)"), std::string::npos);

  // A single curve: its one panel, no other class and no panel of five curves.
  PlotInputs single = five.inputs;
  single.panelCount = 1;
  drawRegionalCurveFigure(single, testFigure(), "figure.svg", svg, &stats, 750);
  std::ifstream third("figure.svg");
  std::stringstream one;
  one << third.rdbuf();
  const std::string oneTexts = pageTexts(one.str());
  EXPECT_NE(oneTexts.find("Class title 1"), std::string::npos);
  EXPECT_EQ(oneTexts.find("Class title 2"), std::string::npos);
  EXPECT_EQ(oneTexts.find("The five regional curves"), std::string::npos);
}

// Each series counts once in each cell its line crosses: counted here by
// sampling every line finely, independently of the grid walk.
TEST(RegionalCurveFigure, DensityCountsEachSeriesOncePerCell) {
  AgeAlignedTable t;
  const int32_t ages = 300;
  t.seriesCount = 4;
  for (int32_t a = 1; a <= ages; ++a) {
    t.ages.push_back(static_cast<float>(a));
    t.curve.push_back(1.0f);
    const float x = static_cast<float>(a);
    t.values.push_back(0.5f);                                  // flat
    t.values.push_back(0.5f);                                  // the same line again
    t.values.push_back(a % 2 == 0 ? 0.111f : 2.889f);          // zigzag over most rows
    // Rising, with a gap.
    t.values.push_back(a > 100 && a < 120 ? -999.0f : 0.0123f + 2.9f * x / ages);
  }
  const double xMax = 300.0, yMax = 3.0;
  const auto grid = seriesDensity(t, xMax, yMax, -999.0f);
  std::vector<std::vector<std::set<int32_t>>> expected(
      kDensityColumns, std::vector<std::set<int32_t>>(kDensityRows));
  for (int32_t k = 0; k < t.seriesCount; ++k) {
    for (int32_t i = 0; i + 1 < ages; ++i) {
      const float v0 = t.value(i, k), v1 = t.value(i + 1, k);
      if (v0 == -999.0f || v1 == -999.0f) continue;
      for (int32_t s = 0; s <= 1000; ++s) {
        const double f = s / 1000.0;
        const double age = t.ages[i] + f, v = v0 + f * (v1 - v0);
        const auto c = std::min<int32_t>(static_cast<int32_t>(age / xMax * kDensityColumns), kDensityColumns - 1);
        const auto r = std::min<int32_t>(static_cast<int32_t>(v / yMax * kDensityRows), kDensityRows - 1);
        expected[c][r].insert(k);
      }
    }
  }
  int32_t differ = 0;
  for (int32_t c = 0; c < kDensityColumns; ++c) {
    for (int32_t r = 0; r < kDensityRows; ++r) {
      differ += grid[c][r] != static_cast<double>(expected[c][r].size());
    }
  }
  // Sampling may miss a cell a steep segment only grazes at its corner.
  EXPECT_LE(differ, kDensityColumns * kDensityRows / 200);
  const int32_t flatRow = static_cast<int32_t>(0.5 / yMax * kDensityRows);
  EXPECT_EQ(grid[10][flatRow], 3.0);  // two flat series and the zigzag crossing them
}

}  // namespace
}  // namespace kavrel
