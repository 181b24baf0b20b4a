#include "driver/chronology_output.h"

#include "chron/chron_csv.h"
#include "chron/crn.h"
#include "chron/signal.h"
#include "chron/trees.h"
#include "util/fatal.h"

namespace kavrel {

ChronologyTexts chronologyTexts(const RunResults& results, int32_t indexMode,
                                std::string_view site, const SignalOptions& signalOptions,
                                int32_t treeChars) {
  const std::span<const IndexSeries> series = results.indexSeries;
  const IndexKind kind = indexMode == 1 ? IndexKind::Ratio : IndexKind::Residual;
  const ChronologyResult built = buildChronology(series, kind);
  if (built.status != ChronStatus::Ok) {
    throw Fatal("The chronology can't be built: " + built.message);
  }
  std::vector<int32_t> trees;
  if (treeChars > 0) trees = treeNumbers(results.indexIds, treeChars);
  const SignalResult signal = runningSignal(series, signalOptions, trees);
  if (signal.status != ChronStatus::Ok) {
    throw Fatal("The signal statistics can't be computed: " + signal.message);
  }
  ChronologyTexts texts;
  if (built.ignoredValues > 0) {
    texts.notes.push_back("Warning: " + std::to_string(built.ignoredValues) +
                          " index values that are not numbers were left out of the chronology");
  }
  if (results.singleCurve) {
    const char* const single[] = {"all"};
    appendChronologyCsv(texts.chronologyCsv, built.chronology, single);
  } else {
    appendChronologyCsv(texts.chronologyCsv, built.chronology);
  }
  appendSignalCsv(texts.signalCsv, signal.windows);
  texts.chronology = built.chronology;
  texts.windows = signal.windows;
  texts.crnWanted = kind == IndexKind::Ratio;
  if (!texts.crnWanted) return texts;
  const CrnWriteResult crn = appendCrn(texts.crn, site, built.chronology);
  texts.crnWritable = crn.status == CrnStatus::Ok;
  if (!texts.crnWritable) {
    texts.notes.push_back(std::string("Warning: ") + kCrnFileName + " is not written: " +
                          crn.message);
    return texts;
  }
  if (crn.unwritableIndices > 0) {
    texts.notes.push_back("Warning: " + std::to_string(crn.unwritableIndices) + " years of " +
                          kCrnFileName +
                          " hold 9990: their robust mean does not fit the layout's 4 columns");
  }
  if (crn.cappedDepths > 0) {
    texts.notes.push_back("Warning: " + std::to_string(crn.cappedDepths) + " years of " +
                          kCrnFileName + " show the depth 999: more series than 3 columns hold");
  }
  return texts;
}

}  // namespace kavrel
