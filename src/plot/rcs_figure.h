// The regional-curve page as a figure for a paper: one panel per class titled
// with the class's name in words, its series count and its curve, axes named
// with their units, a page title with the site and the input, a legend, and
// a sixth panel holding the five class curves on common axes. Saved by runs
// without questions (--page); the dialogue's page is drawn by rcsplt.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "plot/agealigned_table.h"
#include "plot/picture.h"
#include "plot/rcsplt.h"

namespace kavrel {

// A panel with more series than this draws them as a density (a shaded grid
// of how many series pass through each cell) instead of one line each, so
// that a page of thousands of series stays quick to draw and small to keep.
inline constexpr int32_t kDensitySeries = 250;

// Cells of the density grid of one panel (ages x widths).
inline constexpr int32_t kDensityColumns = 150;
inline constexpr int32_t kDensityRows = 90;

struct FigurePanel {
  std::string title;        // the class's name in words
  std::string curve;        // name of its curve; empty without one
  int32_t seriesCount = 0;  // series of the class
  // Signal-free runs: the first pass's curve by age (index j-1 for age j,
  // the missing marker where none), drawn dashed; empty otherwise.
  std::vector<float> firstPassCurve;
};

struct RegionalCurveFigure {
  std::string title;  // page title, e.g. "Site GP, gp.rwl: regional curves by class"
  std::array<FigurePanel, kPlotClassCount> panels;
};

// Series per cell of a kDensityColumns x kDensityRows grid over ages
// 0..xMax and widths 0..yMax, column-major ([column][row]): a series counts
// once in every cell its line passes through (between neighbouring ages it
// fills the cells of the column it crosses from one width to the next).
std::vector<std::vector<double>> seriesDensity(const AgeAlignedTable& table, double xMax,
                                               double yMax, float missingValue);

// What a drawing used, for checks: the smallest character height drawn, in
// pixels of a page of pagePixelsHigh pixels.
struct FigureStats {
  double smallestTextPixels = 0.0;
  int32_t densityPanels = 0;  // panels drawn as a density
};

// Draws the figure into path (the caller's scratch name) with the target's
// device. The age-aligned files are read first. Returns PLplot's messages of
// aborted, non-fatal operations; stats, when given, receives what was drawn
// (character heights in pixels of a page pagePixelsHigh high). Throws Fatal
// as drawPicture does and when an age-aligned file is missing or unreadable.
std::vector<std::string> drawRegionalCurveFigure(const PlotInputs& inputs,
                                                 const RegionalCurveFigure& figure,
                                                 const std::string& path,
                                                 const PictureTarget& target,
                                                 FigureStats* stats = nullptr,
                                                 int32_t pagePixelsHigh = 0);

}  // namespace kavrel
