// The method of one pass of regional curve standardisation, in memory: the
// series of a class on the cambial-age axis, their mean by age, the default
// fit's scores, the curve by age and the index values. Arrays in, results
// out; no file, console or dialogue.
// Regional Curve Standardisation: Briffa et al. 1992, Climate Dynamics 7:111.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fit/detrend2.h"
#include "util/missing.h"

namespace kavrel {

// One series of a class as read back from its raw file.
struct ClassSeries {
  std::string id;             // identifier, 8 characters
  int32_t firstYear = 0;      // calendar year of the first measured ring
  int32_t pithOffset = 0;     // rings between the pith and the first measured ring
  std::vector<float> values;  // measured values in ring order (mm); -999.0 where missing

  // Cambial age of the last ring.
  int32_t lastAge() const { return pithOffset + static_cast<int32_t>(values.size()); }
  // Value at cambial age j (1-based); the missing marker outside the rings.
  float atAge(int32_t j) const {
    const int32_t r = j - pithOffset;
    return r >= 1 && r <= static_cast<int32_t>(values.size()) ? values[static_cast<size_t>(r - 1)]
                                                               : kMissingValue;
  }
};

// A class's mean by cambial age, compacted to the ages that hold a value.
struct AgeMean {
  int32_t classMaxAge = -99999;       // largest pith offset + length; -99999 for no series
  int32_t classMinPithOffset = 2000;  // smallest pith offset; 2000 for no series
  std::vector<float> meanValues;      // mean of the values at each age that has any
  std::vector<int32_t> meanAges;      // the cambial age of each mean value, ascending
  std::vector<int32_t> meanDepths;    // number of values behind each mean value
};

// Mean by cambial age over the series (no minimum sample depth). Values are
// summed in series order in single precision; missing values don't count.
AgeMean meanByAge(std::span<const ClassSeries> series);

// The regional curve by cambial age: index j-1 holds age j = 1..classMaxAge.
// fitted[i] belongs to age meanAges[i]; every other age, and an age whose
// fitted value is not finite, holds the missing marker. So a gap in a class's
// ages never borrows the curve value of another age.
std::vector<float> curveByAge(const AgeMean& mean, std::span<const float> fitted);

// Candidate default fits in comparison order: linear (code 4), negative
// exponential (code 1), general exponential (code 8).
inline constexpr std::array<int32_t, 3> kDefaultFitCodes = {4, 1, 8};
inline constexpr std::array<const char*, 3> kDefaultFitMessages = {
    "Default Curve fit: Linear", "Default Curve fit:  Negative Exp.",
    "Default Curve fit:  General Exp."};
inline constexpr std::array<const char*, 3> kDefaultFitNames = {"Linear", "Negative Exp.",
                                                                "General Exp."};
// Start value of every default-fit score.
inline constexpr float kScoreStart = 999.0f;

// Whether candidate `code` can be fitted to these values (missing rings
// already left out): the negative exponential needs at least 20 values, the
// general exponential fits the logarithm of the values and needs at least one
// positive value; the linear fit always can.
bool defaultFitComputable(int32_t code, std::span<const float> present);

// Scores of the three candidates on one series: the mean absolute deviation
// of the residuals (value minus curve) about their mean. Missing values are
// left out of the fit. A series to which not every candidate can be fitted
// (defaultFitComputable) scores 999.0 for all three, so it never decides. The
// growth curves are fitted with the coarse search (FitSearch::coarse): only
// the deviations are compared. The fits' lines are not shown.
std::array<float, 3> scoreSeriesFits(std::span<const float> values, const DetrendOptions& settings);

// Scores of the three candidates on a class: each candidate's lowest series
// score, starting from 999.0; the same for any order of the series.
std::array<float, 3> scoreDefaultFits(std::span<const std::span<const float>> series,
                                      const DetrendOptions& settings);

// 1-based number of the candidate with the smallest score; ties keep the
// earlier candidate.
int32_t chooseDefaultFit(const std::array<float, 3>& scores);

// Smallest residual value - curve of a series over its non-missing values,
// starting from 999.0.
float minResidual(const ClassSeries& series, std::span<const float> curveByAge);

// An age where no index value could be formed.
struct IndexProblem {
  int32_t age = 0;    // cambial age
  float curve = 0.0f; // the regional curve there (missing marker when none)
};

// Index series of one series, one value per ring in ring order, so that each
// value keeps its calendar year. indexMode 1: value / curve; 2: value - curve
// + |min(minResidual, 0)| + 0.001. A missing ring stays missing. Where the
// curve is missing or not finite, or (ratios) not positive, the index is the
// missing marker and the age is listed in `problems`. A result strictly
// between 0.998 and 1.0 becomes 0.998.
std::vector<float> indexSeries(const ClassSeries& series, std::span<const float> curveByAge,
                               int32_t indexMode, float seriesMinResidual,
                               std::vector<IndexProblem>& problems);

// The index values a chronology averages, one per ring like `index` (the
// result of indexSeries): value / curve for ratios (indexMode 1), value -
// curve for residuals (2), without the shift and the 0.998 rule of the index
// files, which only serve the decade writer. Missing wherever `index` is.
std::vector<float> chronologyValues(const ClassSeries& series, std::span<const float> curveByAge,
                                    int32_t indexMode, std::span<const float> index);

}  // namespace kavrel
