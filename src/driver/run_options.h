// The answers of the run-options dialogue; they live for the whole run and
// are read by every later step.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/pith_table.h"

namespace kavrel {

struct RunOptions {
  std::string inputFileName;  // ring-width input file (at most 60 characters)
  bool usePithOffsets =
      false;                 // a pith-offset file accompanies the data; cleared on a count mismatch
  std::string pithFileName;  // pith-offset file (at most 60 characters)
  std::string pithReadFormat;    // read format of one pith-offset record, e.g. (i3) or (50x,i3)
  int32_t offsetCount = 0;       // pith offsets read (at most 10000)
  std::string pithTableFileName;  // pith table pairing offsets with series by name; when set
                                  // (with usePithOffsets) it replaces the pith-offset file
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

// The run-options dialogue, questions 1 to 8. Each answer goes into
// ctx.options and is applied at once by the apply function below, so its log
// lines stand where they always have, also when the dialogue ends early. An
// input or pith-offset file name that stands for one of the run's outputs (in
// ctx.outputDir) is refused with a line saying so, and asked again. Sets
// ctx.inputPath to the input name typed. A pith table already named in
// ctx.options (read from ctx.pithTablePath) answers the pith question, which
// is then not asked. Raises Fatal as the apply functions
// do, and when input ends.
void askRunOptions(RunContext& ctx);

// What each answer does once given: its log lines and its effect. The
// dialogue calls each right after its question; a run without questions
// calls them all, in the same order, through applyRunOptions. So both log
// alike. Each reads ctx.options.
void applyInputFile(RunContext& ctx);  // "input file = "
// Reads the pith offsets of `file` (named options.pithFileName in messages
// and the log) into ctx.store.pithOffsets, shows their count (not when the
// log is quiet), logs the file and the count, and warns when every offset
// is 0. Raises Fatal when the file is missing, its format is not supported
// or a record does not fit the format.
void applyPithOffsets(RunContext& ctx, const std::filesystem::path& file);
// Reads the pith table `file` (named options.pithTableFileName in messages and
// the log) into ctx.store.pithTable, shows the number of rows (not when the
// log is quiet) and logs the table, the count and that offsets go by name.
// Raises Fatal when the file is missing or its content can't be read, naming
// the line and column.
void applyPithTable(RunContext& ctx, const std::filesystem::path& file);
void applyPowerTransform(RunContext& ctx);   // "Power Transformation = "
void applyOutlierChoice(RunContext& ctx);    // "Remove Outliers = "
void applyOutlierLimits(RunContext& ctx);    // the limits; a warning when reversed
void applyAgeBandChoice(RunContext& ctx);    // "Restrict Age band = "
void applyAgeBandLimits(RunContext& ctx);    // the limits; a warning when reversed
void applyFirstYearChoice(RunContext& ctx);  // "Restrict Chronology length = "
void applyFirstYearLimits(RunContext& ctx);  // the limits; a warning when reversed

// True when a screening in use has its lower limit above its upper one (the
// dialogue accepts such a pair with a warning; the command line refuses it).
bool hasReversedLimits(const RunOptions& options);
void applyAgeThreshold(RunContext& ctx);     // "Using file Mean Age" or "... Median Age"
// The index-mode line; creates the combined index file for modes 1 and 2.
// Raises Fatal for a mode outside 0..2 or when the file can't be created.
void applyIndexMode(RunContext& ctx);

// Every answer of ctx.options applied in the dialogue's order, for a run
// without questions; the pith offsets are read from pithFile, a pith table
// from ctx.pithTablePath.
void applyRunOptions(RunContext& ctx, const std::filesystem::path& pithFile);

// Reads the pith offsets of `file` (empty: options.pithFileName) with
// options.pithReadFormat into pithOffsets (at most kMaxPithOffsets) and sets
// options.offsetCount. Messages name options.pithFileName. Raises Fatal as
// applyPithOffsets does.
void readPithOffsetFile(RunOptions& options, std::vector<int32_t>& pithOffsets,
                        const std::filesystem::path& file = {});

// Reads the rows of the pith table `file` (empty: `name`) into rows. Raises
// Fatal when it can't be opened or read, naming `name`, the line and the
// column of bad content.
void readPithTableFile(const std::string& name, const std::filesystem::path& file,
                       std::vector<NamedPithOffset>& rows);

}  // namespace kavrel
