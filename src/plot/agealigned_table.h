// Reading an age-aligned class file back for the plot: a header line, then
// one line per cambial age holding the age, the regional-curve value and one
// value per series of the class (whitespace-separated numbers, -999.0 where
// an age has no value).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kavrel {

inline constexpr int32_t kPlotMaxSeries = 10000;  // series columns one file may hold
inline constexpr int32_t kPlotMaxAges = 2000;     // data lines (cambial ages) one file may hold

struct AgeAlignedTable {
  int32_t seriesCount = 0;    // series columns read per line
  std::vector<float> ages;    // cambial age of each data line, in file order
  std::vector<float> curve;   // regional-curve value of each line
  std::vector<float> values;  // line i, series k (0-based) at [i * seriesCount + k]

  int32_t lineCount() const { return static_cast<int32_t>(ages.size()); }
  float value(int32_t line, int32_t series) const {
    return values[static_cast<size_t>(line) * static_cast<size_t>(seriesCount) +
                  static_cast<size_t>(series)];
  }
};

// Reads path, expecting seriesCount series columns after age and curve on
// every data line; blank lines are skipped and numbers beyond those are
// ignored. Throws Fatal naming the file (and line) when the file can't be
// opened, a line holds too few numbers or something that is not a finite
// number, or a capacity is exceeded.
AgeAlignedTable readAgeAlignedTable(const std::string& path, int32_t seriesCount);

// One polyline: the (age, value) pairs of a column whose value is not the
// missing marker, in file order. Column -1 is the curve, 0.. the series.
struct AgePolyline {
  std::vector<double> ages;
  std::vector<double> values;
};
AgePolyline columnPolyline(const AgeAlignedTable& table, int32_t column, float missingValue);

}  // namespace kavrel
