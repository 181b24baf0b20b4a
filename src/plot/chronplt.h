// The chronology page: the robust mean chronology against calendar year with
// its reference line (1 for ratios, 0 for residuals) and a smoothed line in
// the upper panel, the running EPS with its 0.85 line in a small middle
// panel, the sample depth in the lower panel, and the years of weak common
// signal (window EPS below 0.85) shaded in the upper and lower panels.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "plot/picture.h"

namespace kavrel {

// What the page shows, one entry per year firstYear, firstYear + 1, ...
struct ChronologyPlotData {
  int32_t firstYear = 0;
  std::vector<std::optional<double>> index;  // robust mean; empty where the year has no value
  std::vector<int32_t> depth;                // sample depth, same length as index
  std::vector<bool> weak;                    // shaded years; same length as index, or empty
  double referenceLevel = 1.0;               // 1 for ratios, 0 for residuals
  std::string title = "RCS chronology";      // above the upper panel
  std::string indexLabel = "Index";          // label of the upper panel's value axis
  std::string weakLabel =
      "shaded: EPS < 0.85";  // shown above the upper panel when a year is shaded
  // A second chronology drawn over the first (same length as index), e.g. the
  // signal-free one over the standard; empty for none. With it, a legend
  // names both lines.
  std::vector<std::optional<double>> second;
  std::string indexName;   // legend name of index
  std::string secondName;  // legend name of second
  // A smoothed line over the chronology (same length as index), empty for
  // none, and its name, shown in its colour in the upper panel.
  std::vector<std::optional<double>> smooth;
  std::string smoothName;
  // Running EPS: one point per window, at the window's middle year.
  std::vector<std::pair<double, double>> eps;  // (year, EPS)
  double epsThreshold = 0.85;                  // drawn as a dashed line
  // A confidence band drawn under the lines (of second, or else of index):
  // its bounds per year (same length as index), empty where a year has none;
  // both empty for no band.
  std::vector<std::optional<double>> bandLower, bandUpper;
  std::string bandName;  // legend text of the band
};

// The panels as fractions of the page, x from the left and y from the
// bottom. The year axis of both runs from firstYear - 0.5 to the last year
// + 0.5, so that year y fills the band y - 0.5 .. y + 0.5.
struct PanelBox {
  double left, right, bottom, top;
};
inline constexpr PanelBox kChronIndexPanel{0.10, 0.95, 0.48, 0.88};
inline constexpr PanelBox kChronEpsPanel{0.10, 0.95, 0.33, 0.41};
inline constexpr PanelBox kChronDepthPanel{0.10, 0.95, 0.10, 0.26};

// Colours of the page (red, green, blue).
struct Rgb {
  int32_t r, g, b;
};
inline constexpr Rgb kChronBackground{255, 255, 255};
inline constexpr Rgb kChronShade{255, 214, 170};
inline constexpr Rgb kChronSmooth{110, 0, 120};

// Draws the page into path with the target's device (see drawPicture).
// Returns PLplot's messages of aborted, non-fatal operations. Throws
// std::invalid_argument when depth or weak do not match index in length,
// and Fatal as drawPicture does.
std::vector<std::string> drawChronologyPicture(const ChronologyPlotData& data,
                                               const std::string& path,
                                               const PictureTarget& target);

}  // namespace kavrel
