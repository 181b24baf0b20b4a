// What a run finds on its way, kept for the run report and the chronology
// written at its end: every record read with its fate, the classification,
// and per class the latest curve with what it was fitted to and the index
// series it gave. Plain data, filled by loading, classification and the class
// passes; nothing here writes a file.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "chron/chronology.h"
#include "driver/series_store.h"
#include "fit/detrend2.h"
#include "rcs/diagnostics.h"
#include "util/missing.h"

namespace kavrel {

// Why a record read from the input file takes no part in the classes.
enum class ScreenReason {
  none,           // accepted and classed
  highValue,      // a value above the outlier limit
  ageBand,        // its number of values lies outside the age band
  firstYearBand,  // its first year lies outside the first-year band
  tooLong,        // pith offset plus values exceed the ring positions of the store
  noValues,       // accepted, but holds no measured value, so no class takes it
};

// One record of the input file.
struct SeriesRecord {
  std::string id;             // identifier as read (8 characters, blank padded)
  std::string fullName;       // name as in the input; empty when it is the identifier
  int32_t firstYear = 0;      // calendar year of the first value
  int32_t rings = 0;          // values read, missing ones included
  int32_t missingRings = 0;   // values read as the missing marker
  // Accepted records: the pith offset the run used (0 without one). Screened
  // records: the offset dropped with the record, none when it had none.
  std::optional<int32_t> pithOffset;
  ScreenReason screened = ScreenReason::none;
  // The value that failed the test: the first value above the limit, the
  // number of values, the first year, or pith offset plus values.
  double screenedValue = 0.0;
  int32_t storeIndex = 0;  // 1-based position in the series store; 0 for a screened record

  // Classification, for accepted records.
  int32_t totalAge = 0;  // pith offset plus values: the cambial age of the last ring
  std::array<float, 3> thirdMedians{kMissingValue, kMissingValue, kMissingValue};  // missing
                                                                                   // where empty
  int32_t classNumber = 0;  // 1..5; 0 when screened or without values
};

// The latest pass over one class (the first pass, or the latest revision).
struct ClassResult {
  bool passed = false;    // a pass has been made over the class
  bool revision = false;  // the latest pass was a revision
  int32_t seriesCount = 0;
  int32_t minTotalAge = 0;  // smallest and largest pith offset + values of its series
  int32_t maxTotalAge = 0;
  int32_t classMaxAge = 0;  // ages 1..classMaxAge of the age-aligned file (0 for no series)

  // Mean by cambial age, over the ages that hold a value (ascending).
  std::vector<int32_t> meanAges;
  std::vector<float> meanValues;   // arithmetic mean at each of meanAges, as fitted
  std::vector<int32_t> depths;     // series with a value at each of meanAges
  std::vector<float> curveByAge;   // index j-1 for age j = 1..classMaxAge; missing where none
  std::vector<float> curvePass0ByAge;  // signal-free runs: the pass-0 curve, like curveByAge
  ClassDiagnostics diagnostics;        // start-date spread and early-growth bias of its series

  bool fitted = false;       // a curve was fitted (the class has values)
  int32_t optionAsked = 0;   // method code passed to detrend2
  int32_t optionUsed = 0;    // method code detrend2 reports after its fallbacks
  CurveParams params{};      // curve parameters from detrend2, in its layout
  std::vector<std::string> atBound;  // growth-curve parameters on a bound of their domain
  DetrendOptions settings;   // span, fitParam and startStiffness in force after the fit
};

struct RunResults {
  std::vector<SeriesRecord> series;  // every record read, in input order

  bool classified = false;
  bool meanThreshold = false;  // the age threshold is the mean (else the median) total age
  float ageThreshold = 0.0f;   // its value, in years

  std::array<ClassResult, kClassCount> classes;  // class c at [c-1]
  bool singleCurve = false;  // every classified series is in class 1, named "all"
  bool signalFree = false;   // the curves come from the signal-free loop

  // The index series of the latest pass over each class, in the order of the
  // combined index file: class after class, each in class-file order, and a
  // revised class's series at the end. Values: class, first year and one value
  // per ring, ratios raw / curve or residuals raw - curve (without the shift
  // of the index files), missing where the index file holds the missing
  // marker. Kept in one array so that the chronology reads them in place.
  std::vector<IndexSeries> indexSeries;
  std::vector<std::string> indexIds;  // identifier of each (8 characters, blank padded)

  // The ring widths read (mm), per store series (index k-1), before any
  // power transformation; kept only when keepWidths is set, for the wide
  // widths table.
  bool keepWidths = false;
  std::vector<std::vector<float>> widths;

  // Drops the index series of class `classNumber` and appends `added` (with
  // `ids`, same positions) in their place at the end.
  void replaceIndexSeries(int32_t classNumber, std::vector<IndexSeries>&& added,
                          std::vector<std::string>&& ids);
};

// Fills the classification fields of the accepted records from a classified
// store: total age, pith offset used, thirds' medians, class (index k-1 of
// `classes` for store series k; class 0 marks a series without values).
void recordClassification(RunResults& results, const SeriesStore& store,
                          const std::vector<int32_t>& classes, bool useMeanAge);

}  // namespace kavrel
