// The answers of the run-options dialogue; they live for the whole run and
// are read by every later step.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kavrel {

struct RunOptions {
  std::string inputFileName;  // ring-width input file (at most 60 characters)
  bool usePithOffsets =
      false;                 // a pith-offset file accompanies the data; cleared on a count mismatch
  std::string pithFileName;  // pith-offset file (at most 60 characters)
  std::string pithReadFormat;    // read format of one pith-offset record, e.g. (i3) or (50x,i3)
  int32_t offsetCount = 0;       // pith offsets read (at most 10000)
  bool powerTransform = false;   // spread-versus-level power transformation of every series
  bool removeOutliers = false;   // drop records holding a value above upperLimit
  float upperLimit = 0.0f;       // ring width (mm); a value strictly above it drops the record
  float lowerLimit = 0.0f;       // asked and logged; takes no part in the screening
  bool restrictAgeBand = false;  // keep only records with minAge..maxAge values
  int32_t minAge = 0;            // inclusive lower limit of the number of values
  int32_t maxAge = 0;            // inclusive upper limit of the number of values
  bool restrictYears =
      false;                 // keep only records whose first year is in firstYearMin..firstYearMax
  int32_t firstYearMin = 0;  // inclusive, calendar year
  int32_t firstYearMax = 0;  // inclusive, calendar year
  bool useMeanAge = false;   // age threshold: mean (true) or median (false) of the total ages
  int32_t indexMode = 0;     // 0 no indices, 1 ratios, 2 residuals

  bool operator==(const RunOptions&) const = default;
};

struct RunContext;

// The run-options dialogue, questions 1 to 8, with their log lines. An input
// or pith-offset file name that stands for one of the run's outputs (in
// ctx.outputDir) is refused with a line saying so, and asked again. Reads the
// pith offsets into ctx.store.pithOffsets when a pith-offset file is given,
// and creates the combined index file for index modes 1 and 2. Raises Fatal
// when the pith-offset file is missing, its format is not supported or a
// record does not fit the format, when the combined index file can't be
// created, and when input ends.
void askRunOptions(RunContext& ctx);

// Reads the pith offsets of options.pithFileName with options.pithReadFormat
// into store.pithOffsets (at most kMaxPithOffsets) and sets options.offsetCount.
// Raises Fatal as askRunOptions does.
void readPithOffsetFile(RunOptions& options, std::vector<int32_t>& pithOffsets);

}  // namespace kavrel
