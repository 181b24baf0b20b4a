// Age and growth-rate classification. Every loaded series is short or long
// against the mean or median total age of all series, and high, low or
// neither by the medians of the three successive thirds of its life; the
// pairing gives one of five classes, whose series are written in input order
// to the five class raw files.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "driver/series_store.h"

namespace kavrel {

// Fraction of a series' total age that makes up one third.
inline constexpr float kThirdFraction = 0.31415927f;

// Class numbers, in the fixed class order of the files.
inline constexpr int32_t kClassShortHigh = 1;
inline constexpr int32_t kClassShortLow = 2;
inline constexpr int32_t kClassLongHigh = 3;
inline constexpr int32_t kClassLongLow = 4;
inline constexpr int32_t kClassMedium = 5;

// Length t of the first and second third of a series of totalAge rings:
// totalAge * 0.31415927 rounded half away from zero. The thirds are
// 1..t, t+1..2t and 2t+1..totalAge.
int32_t thirdLength(int32_t totalAge);

// Medians of the three thirds of one series.
struct ThirdMedians {
  std::array<float, 3> medians{kMissingValue, kMissingValue, kMissingValue};  // mm; missing
                                                                               // where a third is empty
  bool complete = false;  // every third holds at least one value
};

// Medians of the values (not -999.0) in each third of positions 1..totalAge
// of `agesValues` (position j at index j-1, i.e. indexed by cambial age).
ThirdMedians thirdMedians(std::span<const float> agesValues, int32_t totalAge);

// Age threshold: the mean (useMean) or the median of the total ages.
// Returns 0 for an empty list.
float ageThreshold(std::span<const int32_t> totalAges, bool useMean);

// Class 1..5 of a series: short when totalAge <= threshold; high when the
// first third's median is below both later ones, low when above both. Neither
// (including any tie with the first third) and a series with an empty third
// go to class 5.
int32_t seriesClass(int32_t totalAge, float threshold, const ThirdMedians& thirds);

// A value strictly between 0.998 and 1.0 becomes 0.998, so that the writer's
// thousandths never hold 999 (the end marker of hundredths files).
float avoidEndMarker(float value);

// Classifies every series of the store: sets ageThreshold, thirdMedians,
// classCounts and classPithOffsets. Returns the class (1..5) of each series,
// index k-1 for series k. A series without measured values gets class 0: it
// has nothing to write, so it is kept out of every class (and out of
// classPithOffsets, which must stay aligned with the class files).
// Whether series k holds at least one ring that is not missing.
bool hasMeasuredValue(const SeriesStore& store, int32_t k);

std::vector<int32_t> classifySeries(SeriesStore& store, bool useMeanAge);

// Writes the five class raw files `fileNames` (paths, class order), each
// replacing any file of that name once complete: each series goes to its
// class's file in input order, its measured values without the pith-offset
// positions and with avoidEndMarker applied.
// Series of class 0 are not written. Returns one note per series whose values
// the writer could not hold as given (see RwWriteStatus). Raises Fatal when a
// file can't be created or written.
std::vector<std::string> writeClassRawFiles(const SeriesStore& store, std::span<const int32_t> classes,
                        const std::array<std::string, kClassCount>& fileNames);

}  // namespace kavrel
