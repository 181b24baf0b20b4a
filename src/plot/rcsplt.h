// The regional-curve page: one PLplot panel per class (2 x 3 grid, sixth panel
// empty) showing every series of the class against cambial age and the class's
// regional curve on top, read back from the five age-aligned files. After each
// drawing the plot options menu lets the user restyle, redraw, reset, save the
// page as colour PostScript ("psc") or continue with the run.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "util/missing.h"

namespace kavrel {

class Console;

// Sets PLPLOT_LIB and PGPLOT_DIR (replacing any value) to PLplot's data
// directory found at build time. Call once at program start, before the
// dialogue and before any other PLplot call.
void setPlotEnvironment();

// Major tick spacing and minor ticks per major interval of both axes.
struct AxisTicks {
  float xMajor = 10.0f;  // cambial years between major ticks
  int32_t xMinor = 10;   // minor ticks per major interval
  float yMajor = 0.1f;   // ring width (mm) between major ticks
  int32_t yMinor = 10;   // minor ticks per major interval; 0 lets PLplot choose
};

// Tick spacing for an age axis up to maxAge and a value axis up to maxValue.
AxisTicks axisTicks(int32_t maxAge, float maxValue);

// The style state of the page, kept by the caller for the whole run so that a
// style chosen after one pass also applies to the plots of later passes.
// Default-constructed it holds the reset defaults (series colour 7, curve 1).
struct PlotState {
  int32_t backgroundRed = 255;     // 0..255
  int32_t backgroundGreen = 255;   // 0..255
  int32_t backgroundBlue = 255;    // 0..255
  bool invertedColourMap = false;  // colour-map flag: colour 0 black and 15 white
  int32_t frameColour = 15;        // PLplot colour-map-0 index 0..15
  int32_t textColour = 15;         // colour-map-0 index
  int32_t seriesColour = 7;        // colour-map-0 index of the series lines
  int32_t curveColour = 1;         // colour-map-0 index of the regional curve
  int32_t curveStyle = 1;          // PLplot line style 1..8 (1 continuous)
  float curveWidth = 2.0f;         // PLplot line width of the curve

  // Where "screen" drawings go. Empty: an interactive device (xcairo, else
  // xwin) when a display is available, otherwise the drawing is skipped with
  // one line on the screen. A file device name (e.g. "svg") with screenFile
  // set sends them to that file instead (used by tests and the README picture).
  std::string screenDevice;
  std::string screenFile;

  int32_t screenPages = 0;  // pages drawn on the screen device in this run
  int32_t savedPages = 0;   // pages saved as PostScript in this run
};

// Restores the reset defaults of the style (not the screen target or counts).
void resetPlotStyle(PlotState& state);

inline constexpr int32_t kPlotClassCount = 5;

// What one drawing of the page needs from the class loop.
struct PlotInputs {
  std::array<std::string, kPlotClassCount> classFileNames;  // age-aligned file of class c at [c-1]
  std::array<int32_t, kPlotClassCount> seriesInClass{};     // series columns in each file
  int32_t maxAgeAllClasses = 0;  // right end of the age axis (largest cambial age of any pass)
  float maxRawValue = 1.0f;      // top of the value axis (largest ring width read)
  float missingValue = kMissingValue;  // marker of ages without a value in the files
  int32_t panelCount = kPlotClassCount;  // classes shown: 5, or 1 for a single curve
  // Files of the run (input, log, class and index files) that a saved page
  // must never replace.
  std::vector<std::string> protectedFiles;
};

// Draws the page (rcsplt) and runs the plot options menu until the user
// continues. Every answer is read through the console, including the name of
// a PostScript file to save. Throws Fatal when an age-aligned file is missing
// or unreadable, on end of input, and when PLplot fails fatally.
void rcsplt(PlotState& state, Console& console, const PlotInputs& inputs);

}  // namespace kavrel
