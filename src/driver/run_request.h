// What one run is asked to do, whether the dialogue asks for it or the
// command line and a recipe give it: the run options, the curve revisions
// after the first pass, where the files are and which extra outputs are
// wanted. Plain data; the steps of the run read it and never learn where the
// answers came from.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "chron/signal.h"
#include "driver/run_options.h"
#include "rcs/signal_free.h"
#include "plot/picture.h"
#include "rwfile/trrw.h"

namespace kavrel {

// One change of a class's regional curve, as the revision loop makes it.
struct Revision {
  int32_t classNumber = 0;  // 1..5, in the class order of the raw class files
  int32_t option = 0;       // curve-fit option code, as typed at the menu
  std::string answer;       // answer to the option's question as text (alpha, window,
                            // stiffness); empty: the question's default, or no question

  bool operator==(const Revision&) const = default;
};

// Default size of a saved page, in pixels.
inline constexpr int32_t kDefaultPageWidth = PageSize{}.width;
inline constexpr int32_t kDefaultPageHeight = PageSize{}.height;

struct RunRequest {
  // True for the dialogue, which asks the run options and the revisions
  // itself; false for a run without questions, where they are filled in here.
  bool interactive = true;

  // The answers of the dialogue. inputFileName and pithFileName hold the
  // names as given (for the log): as typed on the command line, or a
  // recipe's path joined to the recipe's folder. pithReadFormat holds the
  // format without enclosing quotes, as the dialogue keeps it.
  RunOptions options;
  std::filesystem::path inputPath;  // ring-width file to open (absolute)
  std::filesystem::path pithPath;   // pith-offset file to open (absolute); empty without one
  std::filesystem::path pithTablePath;  // pith table to open (absolute); empty without one.
                                        // options.pithTableFileName names it as given.
  InputFormat inputFormat = InputFormat::automatic;  // --format; automatic: told by content

  std::vector<Revision> revisions;  // applied in order after the first pass

  bool singleCurve = false;        // one class of every classified series
  bool signalFree = false;         // run the signal-free loop
  SignalFreeSettings signalFreeSettings;

  int32_t bootstrap = 0;     // replicates of the chronology's confidence bands; 0: none
  uint64_t seed = 1;         // seed of the replicates' draws
  double ciLevel = 0.95;     // central probability of the bands
  int32_t threads = 0;       // replicate threads; 0: the machine's cores
  int32_t treeChars = 0;     // series sharing their first treeChars characters are one tree

  std::filesystem::path outFolder;  // folder of every output file, the log included (absolute)
  bool outFolderGiven = false;      // named by --out or a recipe (else the start folder)

  std::filesystem::path pagePath;  // regional-curve page to save (absolute); empty: none
  std::optional<PictureFormat> pageFormat;  // from pagePath's extension; none without a page
  bool report = false;                       // write the run report
  bool chronology = false;                   // write the chronology (needs indices)
  std::filesystem::path chronologyPagePath;  // chronology page to save (absolute); empty: none
  std::optional<PictureFormat> chronologyPageFormat;
  int32_t pageWidth = kDefaultPageWidth;    // saved pages, pixels
  int32_t pageHeight = kDefaultPageHeight;  // saved pages, pixels
  std::string site;                         // site code, 0..6 characters; empty: none

  // The chronology's signal statistics and page.
  int32_t windowLength = SignalOptions{}.windowLength;  // years per signal window
  int32_t windowLag = SignalOptions{}.windowLag;        // years between window starts
  SignalCorrelation correlation = SignalCorrelation::Pearson;
  int32_t chronologySmooth = 30;  // stiffness in years of the chronology page's smoothed line

  bool quiet = false;  // only warnings and errors on the screen (runs without questions)

  std::filesystem::path recipePath;      // recipe the options came from (absolute); empty: none
  std::filesystem::path recordPath;      // dialogue: write the session's recipe here at its end
  std::filesystem::path saveRecipePath;  // run without questions: write its recipe here

  bool operator==(const RunRequest&) const = default;
};

}  // namespace kavrel
