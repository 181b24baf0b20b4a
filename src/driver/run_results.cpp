#include "driver/run_results.h"

namespace kavrel {

void recordClassification(RunResults& results, const SeriesStore& store,
                          const std::vector<int32_t>& classes, bool useMeanAge) {
  results.classified = true;
  results.meanThreshold = useMeanAge;
  results.ageThreshold = store.ageThreshold;
  for (SeriesRecord& r : results.series) {
    const int32_t k = r.storeIndex;
    if (k < 1 || k > store.seriesCount) continue;
    const auto i = static_cast<size_t>(k - 1);
    r.pithOffset = store.pithOffset(k);
    r.totalAge = store.totalAge(k);
    if (i < store.thirdMedians.size()) r.thirdMedians = store.thirdMedians[i];
    r.classNumber = i < classes.size() ? classes[i] : 0;
    r.screened = r.classNumber >= 1 && r.classNumber <= kClassCount ? ScreenReason::none
                                                                     : ScreenReason::noValues;
  }
}

void RunResults::replaceIndexSeries(int32_t classNumber, std::vector<IndexSeries>&& added,
                                    std::vector<std::string>&& ids) {
  size_t kept = 0;
  for (size_t i = 0; i < indexSeries.size(); ++i) {
    if (indexSeries[i].classNumber == classNumber) continue;
    if (kept != i) {
      indexSeries[kept] = std::move(indexSeries[i]);
      indexIds[kept] = std::move(indexIds[i]);
    }
    ++kept;
  }
  indexSeries.resize(kept);
  indexIds.resize(kept);
  for (size_t i = 0; i < added.size(); ++i) {
    indexSeries.push_back(std::move(added[i]));
    indexIds.push_back(i < ids.size() ? std::move(ids[i]) : std::string());
  }
}

}  // namespace kavrel
