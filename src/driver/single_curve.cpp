#include "driver/single_curve.h"

namespace kavrel {

void mergeIntoOneClass(SeriesStore& store, std::vector<int32_t>& classes) {
  store.classCounts.fill(0);
  for (auto& row : store.classPithOffsets) row.clear();
  for (size_t k = 0; k < classes.size(); ++k) {
    if (classes[k] < 1 || classes[k] > kClassCount) continue;
    classes[k] = 1;
    ++store.classCounts[0];
    store.classPithOffsets[0].push_back(store.pithOffset(static_cast<int32_t>(k + 1)));
  }
}

}  // namespace kavrel
