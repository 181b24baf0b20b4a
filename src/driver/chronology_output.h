// The RCS chronology of a run: from the final index series of all classes,
// the chronology table (depth, mean, robust mean and class means per calendar
// year), the running signal statistics (rbar, EPS and their split by tree,
// in windows of 50 years lagged 25 by default) and, for ratios, the decade
// chronology file. Built from RunResults; the caller writes the files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "chron/chronology.h"
#include "chron/signal.h"
#include "driver/run_results.h"

namespace kavrel {

inline constexpr const char* kChronologyCsvName = "kavrel_chronology.csv";
inline constexpr const char* kSignalCsvName = "kavrel_signal.csv";
inline constexpr const char* kCrnFileName = "kavrel_chronology.crn";

// The texts of the chronology files.
struct ChronologyTexts {
  std::string chronologyCsv;
  std::string signalCsv;
  bool crnWanted = false;   // ratios: a decade chronology file belongs to the run
  bool crnWritable = false; // the chronology fits the decade layout (crn holds it)
  std::string crn;
  std::vector<std::string> notes;  // what the screen should say about them
  Chronology chronology;           // the table behind the files, for the chronology page
  std::vector<SignalWindow> windows;
};

// Builds the chronology of index mode 1 (ratios) or 2 (residuals) from
// results.indexSeries and its files' texts; `site` is the decade file's site code. Raises Fatal when the
// series can't form a chronology (years beyond the chronology's limits).
// The signal statistics use `signal`'s windows and correlation, and take
// series whose identifiers share their first treeChars characters as cores of
// one tree (0: every series its own tree).
ChronologyTexts chronologyTexts(const RunResults& results, int32_t indexMode,
                                std::string_view site, const SignalOptions& signal = {},
                                int32_t treeChars = 0);

}  // namespace kavrel
