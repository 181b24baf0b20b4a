#include "plot/rcs_figure.h"

#include <plplot.h>

#include <algorithm>
#include <cmath>

#include "plot/rcsplt_page.h"

namespace kavrel {

namespace {

// Character heights as fractions of the page height: at 750 pixels the
// smallest text (tick labels, notes, legends) is 12 pixels high.
constexpr double kSmallText = 12.0 / 750.0;
constexpr double kLabelText = 13.0 / 750.0;
constexpr double kPanelTitleText = 14.0 / 750.0;
constexpr double kPageTitleText = 17.0 / 750.0;

// Colour-map-0 entries of the figure.
constexpr PLINT kWhite = 0;
constexpr PLINT kBlack = 15;
constexpr PLINT kSeriesGrey = 7;
constexpr PLINT kCurveRed = 1;
constexpr PLINT kClassColours[kPlotClassCount] = {2, 3, 4, 5, 6};

// Short class names for the legend of the combined panel.
constexpr const char* kLegendNames[kPlotClassCount] = {
    "Short-lived, rising", "Short-lived, falling", "Long-lived, rising", "Long-lived, falling",
    "Neither"};

void setFigureColours() {
  plscol0(kWhite, 255, 255, 255);
  plscol0(kBlack, 0, 0, 0);
  plscol0(kSeriesGrey, 170, 170, 170);
  plscol0(kCurveRed, 200, 0, 0);
  // A palette that stays apart for colour-blind readers.
  plscol0(2, 230, 159, 0);
  plscol0(3, 86, 180, 233);
  plscol0(4, 0, 158, 115);
  plscol0(5, 213, 94, 0);
  plscol0(6, 0, 114, 178);
  plscolbg(255, 255, 255);
}

class TextSizes {
 public:
  TextSizes(double pageHeightMm, int32_t pagePixelsHigh)
      : pageMm_(pageHeightMm), pixels_(pagePixelsHigh) {
    PLFLT def = 0.0, ht = 0.0;
    plgchr(&def, &ht);
    defaultMm_ = def > 0.0 ? def : 1.0;
  }
  // Sets the character height to `fraction` of the page height.
  void use(double fraction, FigureStats* stats) {
    plschr(0.0, fraction * pageMm_ / defaultMm_);
    if (stats == nullptr || pixels_ <= 0) return;
    PLFLT def = 0.0, ht = 0.0;
    plgchr(&def, &ht);
    const double px = ht / pageMm_ * pixels_;
    if (stats->smallestTextPixels == 0.0 || px < stats->smallestTextPixels) {
      stats->smallestTextPixels = px;
    }
  }

 private:
  double pageMm_;
  int32_t pixels_;
  double defaultMm_ = 1.0;
};

void drawLine(const AgePolyline& line) {
  if (line.ages.empty()) return;
  plline(static_cast<PLINT>(line.ages.size()), line.ages.data(), line.values.data());
}

// Viewport of panel p (0..5): two columns, three rows below the page title.
struct Box {
  double x0, x1, y0, y1;
};
Box panelBox(size_t p) {
  const double cellW = 0.5, cellH = 0.29;
  const double left = static_cast<double>(p % 2) * cellW;
  const double top = 0.885 - static_cast<double>(p / 2) * cellH;
  return {left + 0.085, left + cellW - 0.02, top - cellH + 0.085, top - 0.07};
}

void drawDensity(const AgeAlignedTable& table, double xMax, double yMax, float missing) {
  std::vector<std::vector<double>> grid = seriesDensity(table, xMax, yMax, missing);
  double most = 0.0;
  for (const auto& column : grid) most = std::max(most, *std::max_element(column.begin(), column.end()));
  if (most < 1.0) return;
  std::vector<const PLFLT*> rows;
  for (const auto& column : grid) rows.push_back(column.data());
  // Light grey for one series, black for the most; empty cells are not drawn.
  const PLFLT pos[2] = {0.0, 1.0};
  const PLFLT grey[2] = {0.82, 0.0};
  plscmap1n(128);
  plscmap1l(1, 2, pos, grey, grey, grey, nullptr);
  plimage(rows.data(), kDensityColumns, kDensityRows, 0.0, xMax, 0.0, yMax, 0.5, most, 0.0, xMax,
          0.0, yMax);
}

void drawAxes(TextSizes& text, FigureStats* stats) {
  plcol0(kBlack);
  plwidth(1.0);
  text.use(kSmallText, stats);
  plbox("bcnst", 0.0, 0, "bcnstv", 0.0, 0);
  text.use(kLabelText, stats);
  plmtex("b", 2.6, 0.5, 0.5, "Cambial age (years)");
  plmtex("l", 3.2, 0.5, 0.5, "Ring width (mm)");
}

void drawClassPanel(const Box& b, const FigurePanel& panel, const AgeAlignedTable& table,
                    const PlotInputs& inputs, double xMax, double yMax, TextSizes& text,
                    FigureStats* stats) {
  plvpor(b.x0, b.x1, b.y0, b.y1);
  plwind(0.0, xMax, 0.0, yMax);
  if (table.seriesCount > kDensitySeries) {
    drawDensity(table, xMax, yMax, inputs.missingValue);
    if (stats != nullptr) ++stats->densityPanels;
  } else {
    plcol0(kSeriesGrey);
    plwidth(0.5);
    for (int32_t k = 0; k < table.seriesCount; ++k) {
      drawLine(columnPolyline(table, k, inputs.missingValue));
    }
  }
  plcol0(kCurveRed);
  plwidth(2.0);
  drawLine(columnPolyline(table, -1, inputs.missingValue));
  if (!panel.firstPassCurve.empty()) {
    AgePolyline first;
    for (size_t j = 0; j < panel.firstPassCurve.size(); ++j) {
      if (panel.firstPassCurve[j] == inputs.missingValue) continue;
      first.ages.push_back(static_cast<double>(j + 1));
      first.values.push_back(panel.firstPassCurve[j]);
    }
    pllsty(2);
    drawLine(first);
    pllsty(1);
  }
  drawAxes(text, stats);
  text.use(kPanelTitleText, stats);
  plmtex("t", 2.8, 0.5, 0.5, plotText(panel.title).c_str());
  std::string note = "n = " + std::to_string(panel.seriesCount);
  note += panel.curve.empty() ? ", no curve" : ", " + panel.curve;
  text.use(kSmallText, stats);
  plmtex("t", 0.9, 0.5, 0.5, plotText(note).c_str());
}

void drawCombinedPanel(const std::array<AgeAlignedTable, kPlotClassCount>& tables,
                       const PlotInputs& inputs, double xMax, TextSizes& text,
                       FigureStats* stats) {
  double yMax = 0.0;
  std::array<AgePolyline, kPlotClassCount> curves;
  for (size_t c = 0; c < kPlotClassCount; ++c) {
    curves[c] = columnPolyline(tables[c], -1, inputs.missingValue);
    for (double v : curves[c].values) yMax = std::max(yMax, v);
  }
  yMax = yMax > 0.0 ? yMax * 1.1 : 1.0;
  Box b = panelBox(kPlotClassCount);
  const double legendLeft = b.x1 - 0.17;
  b.x1 = legendLeft - 0.015;
  plvpor(b.x0, b.x1, b.y0, b.y1);
  plwind(0.0, xMax, 0.0, yMax);
  for (size_t c = 0; c < kPlotClassCount; ++c) {
    plcol0(kClassColours[c]);
    plwidth(2.0);
    drawLine(curves[c]);
  }
  drawAxes(text, stats);
  text.use(kPanelTitleText, stats);
  plmtex("t", 2.8, 0.5, 0.5, "The five regional curves");
  // Legend to the right of the panel.
  plvpor(legendLeft, 0.995, b.y0, b.y1);
  plwind(0.0, 1.0, 0.0, 1.0);
  text.use(kSmallText, stats);
  for (size_t c = 0; c < kPlotClassCount; ++c) {
    const double y = 0.9 - 0.19 * static_cast<double>(c);
    const PLFLT xs[2] = {0.0, 0.1};
    const PLFLT ys[2] = {y, y};
    plcol0(kClassColours[c]);
    plwidth(2.0);
    plline(2, xs, ys);
    plcol0(kBlack);
    plptex(0.13, y, 1.0, 0.0, 0.0, kLegendNames[c]);
  }
}

// The legend of the class panels under the page title.
void drawPageLegend(bool density, bool firstPass, TextSizes& text, FigureStats* stats) {
  plvpor(0.0, 1.0, 0.0, 1.0);
  plwind(0.0, 1.0, 0.0, 1.0);
  text.use(kSmallText, stats);
  const double y = 0.915;
  const PLFLT seriesX[2] = {0.22, 0.26};
  const PLFLT curveX[2] = {0.64, 0.68};
  const PLFLT ys[2] = {y, y};
  plcol0(kSeriesGrey);
  plwidth(density ? 6.0 : 1.0);
  plline(2, seriesX, ys);
  plcol0(kCurveRed);
  plwidth(2.0);
  plline(2, curveX, ys);
  plcol0(kBlack);
  plwidth(1.0);
  plptex(0.27, y, 1.0, 0.0, 0.0,
         density ? "Series (shaded: darker where more series pass)" : "Series");
  plptex(0.69, y, 1.0, 0.0, 0.0, firstPass ? "Regional curve (dashed: first pass)" : "Regional curve");
  if (firstPass) {
    // The dashed sample beside the solid one.
    const PLFLT dashX[2] = {0.595, 0.635};
    plcol0(kCurveRed);
    plwidth(2.0);
    pllsty(2);
    plline(2, dashX, ys);
    pllsty(1);
    plwidth(1.0);
  }
}

}  // namespace

std::vector<std::vector<double>> seriesDensity(const AgeAlignedTable& table, double xMax,
                                               double yMax, float missingValue) {
  std::vector<std::vector<double>> grid(static_cast<size_t>(kDensityColumns),
                                        std::vector<double>(static_cast<size_t>(kDensityRows), 0.0));
  if (xMax <= 0.0 || yMax <= 0.0) return grid;
  auto column = [&](double age) {
    return std::clamp(static_cast<int32_t>(age / xMax * kDensityColumns), 0, kDensityColumns - 1);
  };
  auto row = [&](double v) {
    return std::clamp(static_cast<int32_t>(v / yMax * kDensityRows), 0, kDensityRows - 1);
  };
  // Last series that marked each cell, so that a series counts once per cell.
  std::vector<int32_t> marked(static_cast<size_t>(kDensityColumns * kDensityRows), -1);
  auto mark = [&](int32_t series, int32_t col, int32_t low, int32_t high) {
    if (low > high) std::swap(low, high);
    for (int32_t r = low; r <= high; ++r) {
      int32_t& m = marked[static_cast<size_t>(col * kDensityRows + r)];
      if (m == series) continue;
      m = series;
      grid[static_cast<size_t>(col)][static_cast<size_t>(r)] += 1.0;
    }
  };
  for (int32_t k = 0; k < table.seriesCount; ++k) {
    bool have = false;
    double lastAge = 0.0, lastValue = 0.0;
    for (int32_t i = 0; i < table.lineCount(); ++i) {
      const float v = table.value(i, k);
      if (v == missingValue) {
        have = false;
        continue;
      }
      const double age = table.ages[static_cast<size_t>(i)];
      const double value = v;
      if (!have) {
        mark(k, column(age), row(value), row(value));
      } else {
        // The segment from the last age: its rows spread over the columns it
        // crosses (one column for neighbouring ages on this grid).
        const int32_t c0 = column(lastAge), c1 = column(age);
        for (int32_t c = c0; c <= c1; ++c) {
          const double a0 = std::max(lastAge, xMax * c / kDensityColumns);
          const double a1 = std::min(age, xMax * (c + 1) / kDensityColumns);
          const double f0 = age > lastAge ? (a0 - lastAge) / (age - lastAge) : 0.0;
          const double f1 = age > lastAge ? (a1 - lastAge) / (age - lastAge) : 1.0;
          mark(k, c, row(lastValue + f0 * (value - lastValue)),
               row(lastValue + std::clamp(f1, 0.0, 1.0) * (value - lastValue)));
        }
      }
      have = true;
      lastAge = age;
      lastValue = value;
    }
  }
  return grid;
}

std::vector<std::string> drawRegionalCurveFigure(const PlotInputs& inputs,
                                                 const RegionalCurveFigure& figure,
                                                 const std::string& path,
                                                 const PictureTarget& target, FigureStats* stats,
                                                 int32_t pagePixelsHigh) {
  const rcsplt_page::PageData page = rcsplt_page::loadPage(inputs);
  const double xMax = inputs.maxAgeAllClasses > 0 ? inputs.maxAgeAllClasses : 1.0;
  const double yMax = inputs.maxRawValue > 0.0f ? static_cast<double>(inputs.maxRawValue) : 1.0;
  bool density = false;
  for (const AgeAlignedTable& t : page.tables) density = density || t.seriesCount > kDensitySeries;
  if (stats != nullptr) *stats = FigureStats{};
  return drawPicture(
      path, target, [] { setFigureColours(); },
      [&] {
        plfontld(1);
        plfont(1);
        plssub(1, 1);
        pladv(0);
        PLFLT xmin = 0.0, xmax = 0.0, ymin = 0.0, ymax = 0.0;
        plgspa(&xmin, &xmax, &ymin, &ymax);
        TextSizes text(ymax - ymin, pagePixelsHigh);
        plvpor(0.0, 1.0, 0.0, 1.0);
        plwind(0.0, 1.0, 0.0, 1.0);
        plcol0(kBlack);
        text.use(kPageTitleText, stats);
        plptex(0.5, 0.955, 1.0, 0.0, 0.5, plotText(figure.title).c_str());
        bool firstPass = false;
        for (const FigurePanel& p : figure.panels) firstPass = firstPass || !p.firstPassCurve.empty();
        drawPageLegend(density, firstPass, text, stats);
        if (inputs.panelCount == 1) {
          // A single curve for every series: one panel on the whole page.
          const Box whole{0.085, 0.975, panelBox(4).y0, panelBox(0).y1};
          drawClassPanel(whole, figure.panels[0], page.tables[0], inputs, xMax, yMax, text, stats);
          return;
        }
        for (size_t c = 0; c < kPlotClassCount; ++c) {
          drawClassPanel(panelBox(c), figure.panels[c], page.tables[c], inputs, xMax, yMax, text,
                         stats);
        }
        drawCombinedPanel(page.tables, inputs, xMax, text, stats);
      });
}

}  // namespace kavrel
