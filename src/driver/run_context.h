// Everything one run shares between its steps: the console, the run log, the
// answers of the dialogue, the series store, the fitting settings, the
// combined index file and the results later steps need. A plain struct: each
// step reads what it needs and adds its results.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/run_log.h"
#include "driver/run_options.h"
#include "driver/run_results.h"
#include "driver/series_store.h"
#include "fit/detrend2.h"
#include "rcs/rcs_pass.h"
#include "rcs/signal_free.h"
#include "rwfile/trrw.h"
#include "util/folder_lock.h"
#include "util/outfile.h"

namespace kavrel {

class Console;
struct SignalFreeRun;

// Name of the file holding every index series of every class.
inline constexpr const char* kCombinedIndexFileName = "KavrelV6indx.raw.txt";

// Raw class file names, in class order 1..5.
inline constexpr std::array<const char*, kClassCount> kClassFileNames = {
    "shorthighV6_raw", "shortlowV6_raw", "longhighV6_raw", "longlowV6_raw", "medV6_raw"};

// The one class of a single-curve run: its raw file and its name.
inline constexpr const char* kSingleClassFileName = "allV6_raw";
inline constexpr const char* kSingleClassName = "all";

// Marks a class whose latest pass fitted no curve (it holds no values).
inline constexpr int32_t kNoCurveFitted = std::numeric_limits<int32_t>::min();

// The column separator of the tables: one TAB followed by 7 blanks.
inline constexpr const char* kTableSeparator = "\t       ";

struct RunContext {
  RunContext(Console& c, RunLog& l) : console(c), log(l) {}

  Console& console;  // reader of every answer and of Return
  RunLog& log;       // "Kavrelv6_log.txt", open for the whole run

  // Folder that receives every output file; file names shown on the screen
  // and in the log are the bare names.
  std::filesystem::path outputDir = ".";
  // Path of the output file `name` in outputDir (the bare name for ".").
  std::filesystem::path outputPath(const std::string& name) const {
    if (outputDir.empty() || outputDir == ".") return name;
    return outputDir / name;
  }
  // Held on outputDir from the start of the run to its end.
  FolderLock folderLock;
  // Files this run writes under names the user gave (pages, recipes); no
  // input may be one of them.
  std::vector<std::filesystem::path> namedOutputs;
  // The program's version, for the manifest.
  std::string programVersion;

  // True while the answers come from the console (the dialogue); false for a
  // run without questions, which never pauses and never opens a window.
  bool interactive = true;

  RunOptions options;      // the answers of the dialogue
  // The ring-width file to open; empty: options.inputFileName. The option
  // keeps the name as given, for the log.
  std::filesystem::path inputPath;
  // The pith table to open when options.pithTableFileName is set; empty:
  // that name.
  std::filesystem::path pithTablePath;
  InputFormat inputFormat = InputFormat::automatic;  // decade, Heidelberg or CSV; by content
  SeriesStore store;       // the accepted series
  DetrendOptions detrend;  // fitting settings, changed only by the curve-fit menu

  // The combined index file of the first pass: created at question 8 for
  // index modes 1 and 2, written beside its final name and committed by the
  // first pass once complete, so that a run ending early never leaves a
  // half-written or emptied combined file where a good one was.
  std::unique_ptr<OutputFile> combinedFirstPass;
  // Where the class passes append index series: combinedFirstPass during the
  // first pass, the rewrite's scratch file during a revision pass; nullptr
  // between passes and when indices are not written.
  OutputFile* combinedIndexFile = nullptr;

  // Creates the first pass's combined index file and points
  // combinedIndexFile at it.
  void openCombinedIndexFile() {
    combinedFirstPass = std::make_unique<OutputFile>(outputPath(kCombinedIndexFileName));
    combinedIndexFile = combinedFirstPass.get();
  }

  // Per-run results of the class passes, read by the plot and the revisions.
  // The file names are bare names (outputPath gives their paths).
  std::array<std::string, kClassCount> classFileNames{
      kClassFileNames[0], kClassFileNames[1], kClassFileNames[2], kClassFileNames[3],
      kClassFileNames[4]};
  int32_t maxAgeAllClasses = 0;  // largest cambial age over all classes
  float maxRawValue = 0.0f;      // largest raw value over all classes
  std::array<int32_t, kClassCount> seriesInClass{};     // series read in the latest pass over each class
  std::array<std::string, kClassCount> indexFileNames;  // class index files (set when indices are written)
  // Curve-fit option code of the curve each class's latest pass fitted (the
  // method detrend2 reports); kNoCurveFitted for a class without values.
  std::array<int32_t, kClassCount> classCurveOptions{kNoCurveFitted, kNoCurveFitted,
                                                     kNoCurveFitted, kNoCurveFitted,
                                                     kNoCurveFitted};

  // What loading, classification and the latest pass over each class found,
  // for the run report and the chronology.
  RunResults results;

  // The latest pass over each class as a resampled rerun repeats it: its
  // series, the option it asked for (0 for a class without values) and the
  // fitting settings before its fit.
  struct ClassRerun {
    std::vector<ClassSeries> series;
    int32_t optionAsked = 0;
    DetrendOptions settings;
  };
  std::array<ClassRerun, kClassCount> classReruns;

  // The signal-free loop's settings when the run asks for it, and its state
  // (pass 0 of every class and the latest loop) once the first pass is done.
  std::optional<SignalFreeSettings> signalFree;
  std::shared_ptr<SignalFreeRun> signalFreeRun;

  // Every classified series in one class, number 1 (the single-curve form).
  bool singleCurve = false;
  int32_t classCount() const { return singleCurve ? 1 : kClassCount; }
  // Raw file name of class c (1-based).
  std::string rawClassFileName(int32_t c) const {
    return singleCurve ? kSingleClassFileName : kClassFileNames[static_cast<size_t>(c - 1)];
  }
};

}  // namespace kavrel
