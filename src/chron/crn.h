// The chronology in the standard decade chronology layout (".crn"), as
// tree-ring software exchanges chronologies: one line per decade holding the
// site code (columns 1-6), the decade's first year (7-10) and ten pairs of
// index x 1000 (4 columns) and sample depth (3 columns). Positions outside the
// chronology, and years without a value, hold 9990 with depth 0. Every line
// spans a whole decade: years ending in 0 to 9 (year -5 lies in the decade
// that starts at -10).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "chron/chronology.h"

namespace kavrel {

inline constexpr int32_t kCrnMissing = 9990;    // index of a position without a value
inline constexpr int32_t kCrnMaxIndex = 9989;   // largest index x 1000 that is not the marker
inline constexpr int32_t kCrnMinIndex = -999;   // smallest index x 1000 that fits 4 columns
inline constexpr int32_t kCrnMaxDepth = 999;    // largest depth that fits 3 columns
inline constexpr int32_t kCrnMinDecade = -990;  // decade years that fit 4 columns
inline constexpr int32_t kCrnMaxDecade = 9990;

enum class CrnStatus {
  Ok,
  NotRatios,        // a residual chronology: the layout holds ratio indices only
  Empty,            // no year has a value; nothing is written
  YearsOutOfRange,  // a decade year does not fit 4 columns; nothing is written
};

struct CrnWriteResult {
  CrnStatus status = CrnStatus::Ok;
  std::string message;            // why nothing was written, when status is not Ok
  int32_t unwritableIndices = 0;  // robust means whose index x 1000 lies outside
                                  // -999..9989: written as 9990 with their depth
  int32_t cappedDepths = 0;       // depths above 999, written as 999
};

// The site code for the file read: its name without folder and extension,
// cut to six characters (e.g. "data/ca667.rwl" -> "ca667"), every character
// other than a letter, digit, "-" or "_" written as "_" ("my site.rwl" ->
// "my_sit").
std::string crnSiteCode(std::string_view inputFileName);

// Appends the chronology's robust mean (Tukey biweight) and sample depth.
// site is padded with blanks or cut to six characters; characters outside
// printable ASCII become '_'. Index values are rounded half away from zero.
// On a status other than Ok nothing is appended.
[[nodiscard]] CrnWriteResult appendCrn(std::string& out, std::string_view site,
                                       const Chronology& chronology);

}  // namespace kavrel
