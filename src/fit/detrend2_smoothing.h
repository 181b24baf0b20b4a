// The smoothing branches of the detrending dispatcher: super smoother (-5),
// lowess (-4), running medians (-3), age-dependent spline without end upturn
// (-2), first-difference index (-1) and the cubic smoothing spline codes.
#pragma once

#include <cstdint>
#include <span>

#include "fit/fit_notes.h"

namespace kavrel {

// Called by detrend2 for every code outside 1..8, after the parameters have
// been cleared. Arguments as for detrend2; `option` is not changed here.
// Every branch leaves a finite curve in fitted[0..n-1]. Where a method cannot
// fit the series (fewer than 4 values for a spline, a rejected spline system,
// an input error of the running medians) the curve is the horizontal line at
// the mean, with a note saying so. Spline codes that give a stiffness
// below 1 year use 67 % of the series length; an age-dependent starting
// stiffness below 1 year is replaced by 75 years. A negative lowess span or
// median window is a percentage of the series length; a median window longer
// than the series is shortened to the longest odd window that fits. More than
// 5000 values raises FitFailure.
void detrendSmoothing(std::span<float> series, std::span<float> fitted, int32_t& n,
                      int32_t option, int32_t maxLen, int32_t& span, float& fitParam,
                      int32_t startStiffness, FitNotes* notes = nullptr);

// Stiffness in years that a cubic smoothing spline code (0, 9, -6..-9, 10 and
// above, -10 and below) uses on n values: the code from 10 up, that
// percentage of n (truncated) from -10 down, and 67 % of n where these give
// less than 1 year (unless n is too short for a spline).
int32_t splineCodeStiffness(int32_t option, int32_t n);

// Starting stiffness in years that the age-dependent spline (-2) uses: the
// given one, or 75 years in place of one below 1 year.
int32_t ageDependentStartStiffness(int32_t startStiffness);

}  // namespace kavrel
