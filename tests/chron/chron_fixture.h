// Index series shared by the chronology tests.
#pragma once

#include <vector>

#include "chron/chronology.h"

namespace kavrel::chrontest {

// Three short series worked by hand (values exact in binary):
//   A, class 1, 2001-2004: 0.75 1.0 1.25 missing
//   B, class 3, 2002-2003: 1.5 0.875
//   C, class 1, 2000-2005: 1.375 1.25 1.125 0.625 missing 2.0
// so 2002 holds {1.0, 1.5, 1.125}, 2003 {1.25, 0.875, 0.625}, and no series
// has a value in 2004.
inline std::vector<IndexSeries> threeSeries() {
  const float m = kMissingValue;
  return {{1, 2001, {0.75f, 1.0f, 1.25f, m}},
          {3, 2002, {1.5f, 0.875f}},
          {1, 2000, {1.375f, 1.25f, 1.125f, 0.625f, m, 2.0f}}};
}

}  // namespace kavrel::chrontest
