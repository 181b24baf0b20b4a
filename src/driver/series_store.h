// The series store: every accepted ring-width series of the run, with its
// identifier, first year, length and pith offset, and the classification
// results. Storage is sized to what was read; the capacities below are the
// design limits checked where data enter the store.
#pragma once

#include <array>
#include <cassert>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/pith_table.h"
#include "util/missing.h"

namespace kavrel {

// Design limits of the store.
inline constexpr int32_t kMaxSeries = 10000;       // accepted series
inline constexpr int32_t kMaxRings = 2000;         // ring positions (cambial ages) per series
inline constexpr int32_t kMaxPithOffsets = 10000;  // records read from a pith-offset file
inline constexpr int32_t kClassCount = 5;          // age/growth classes

struct SeriesStore {
  int32_t seriesCount = 0;  // accepted series (1-based numbering k = 1..seriesCount)
  int32_t skipCount = 0;    // records dropped by the screening tests (and the capacity check)

  // Per accepted series, index k-1 for series k.
  std::vector<std::string> ids;     // identifier, 8 characters, blank padded, as read; for a
                                    // longer name its unique decade-file form
  std::vector<std::string> fullNames;  // name as in the input (the identifier without its
                                       // trailing blanks for decade files)
  std::vector<int32_t> firstYears;  // calendar year of the first measured ring
  std::vector<int32_t> lengths;     // number of measured values (never includes the pith offset)
  std::vector<int32_t> totalAges;   // lengths + pithOffsets: cambial age of the last ring

  // Pith offsets, index k-1 for series k. While loading this is the list read
  // from the pith-offset file (offsetCount entries), kept paired with the
  // accepted series by removing the offset of every dropped record. After the
  // shift it holds exactly seriesCount entries (0 where no offset applies).
  std::vector<int32_t> pithOffsets;
  // Pith offsets by series name, read from a pith table; loading takes each
  // series' offset from here into pithOffsets when a table is in use.
  std::vector<NamedPithOffset> pithTable;

  // values[k-1][j-1] is ring position j of series k. After loading a series
  // holds its lengths(k) measured values in file order; after the shift it
  // holds totalAges(k) positions, the first pithOffsets(k) of them missing,
  // so that position j is cambial age j.
  std::vector<std::vector<float>> values;

  std::vector<float> workSeries = std::vector<float>(kMaxRings);  // one-series buffer / scratch
  int32_t readCounter = 0;  // the reader's call counter; -999 marks end of file

  // Classification results.
  float ageThreshold = 0.0f;                       // mean or median total age
  std::vector<std::array<float, 3>> thirdMedians;  // per series: medians of the three thirds
  std::array<int32_t, kClassCount> classCounts{};  // series per class, class c at [c-1]
  std::array<std::vector<int32_t>, kClassCount> classPithOffsets;  // [c-1][m-1]: pith offset of the
                                                                   // m-th series written to class c

  // Ring position j (1-based) of series k (1-based).
  float& value(int32_t k, int32_t j) {
    assert(k >= 1 && k <= static_cast<int32_t>(values.size()));
    assert(j >= 1 && j <= static_cast<int32_t>(values[static_cast<size_t>(k - 1)].size()));
    return values[static_cast<size_t>(k - 1)][static_cast<size_t>(j - 1)];
  }
  float value(int32_t k, int32_t j) const {
    assert(k >= 1 && k <= static_cast<int32_t>(values.size()));
    assert(j >= 1 && j <= static_cast<int32_t>(values[static_cast<size_t>(k - 1)].size()));
    return values[static_cast<size_t>(k - 1)][static_cast<size_t>(j - 1)];
  }

  // 1-based accessors of the per-series fields.
  const std::string& id(int32_t k) const { return ids[static_cast<size_t>(k - 1)]; }
  int32_t firstYear(int32_t k) const { return firstYears[static_cast<size_t>(k - 1)]; }
  int32_t length(int32_t k) const { return lengths[static_cast<size_t>(k - 1)]; }
  int32_t totalAge(int32_t k) const { return totalAges[static_cast<size_t>(k - 1)]; }
  // Pith offset of series k; 0 when none was read for that position.
  int32_t pithOffset(int32_t k) const {
    return k >= 1 && k <= static_cast<int32_t>(pithOffsets.size())
               ? pithOffsets[static_cast<size_t>(k - 1)]
               : 0;
  }
};

}  // namespace kavrel
