// Negative exponential and straight-line fits of a series against its ring
// position t = 1, 2, ..., n. `curve` fits y = a*exp(-b*t) + k by a
// one-dimensional search on the rate b, solving a and k by linear least squares
// at each trial rate; `trend` fits y = slope*t + intercept by ordinary least
// squares. Sums and the search run in double precision; inputs and outputs are
// single precision.
#pragma once

#include <cstdint>
#include <span>

#include "fit/detrend2.h"
#include "fit/fit_notes.h"

namespace kavrel {

// Constants of the exponential rate search.
inline constexpr int32_t kCurveMinValues = 20;        // fewer values: no fit
inline constexpr int32_t kCurveEndValues = 10;        // values averaged at each end for the start
inline constexpr double kCurveMinStartRate = 1.0e-8;  // replaces a starting rate <= 0
inline constexpr double kCurveInitialStep = 0.0005;   // first step of the rate search
inline constexpr double kCurveStepEnd = 5.0e-7;       // search ends when the halved step is <= this
inline constexpr int32_t kCurveMaxPasses = 34;        // more passes: the fit fails
inline constexpr double kCurveMaxExponent = 112.8;    // largest allowed t*abs(b)
inline constexpr double kCurveMaxSum = 1.0e15;        // allowed range of the regressor sums
inline constexpr double kCurveMinSum = 1.0e-15;
inline constexpr double kCurveMaxAsymptote = 9999.0;  // larger asymptotes reject the rate
inline constexpr float kCurveFailedRate = -999.0f;    // params[1] and fitted[0] on failure

// Fits y = a*exp(-b*t) + k to series[0..n-1] (t = 1..n).
// On success: params[0] = a, params[1] = b (>= 0), params[4] = k, params[5] = the
// search pass in which the search ended, params[6] = the sum of the n values, and
// fitted[t-1] = a*exp(-b*t) + k for t = 1..nCurve. A converged search whose
// asymptote exceeds 9999, whose amplitude is <= 0 or whose rate is < 0 returns
// b = 0 and the flat curve a + k.
// On failure (fewer than 20 values, a non-positive mean of the first or last ten
// values, an exponent or sum out of range, no finite solution, or 34 passes
// without convergence): params[1] = -999 and fitted[0] = -999, nothing else
// written. Notes ">> sbr curve: ..." report the failures that have one.
// Elements 3, 4 of params (index 2, 3) are left as the caller set them.
void curve(int32_t nCurve, int32_t n, std::span<const float> series, std::span<float> fitted,
           CurveParams& params, FitNotes* notes = nullptr);

// Fits y = slope*t + intercept to series[0..n-1] (t = 1..n) by least squares,
// returns slope and intercept, and writes fitted[t-1] = slope*t + intercept for
// t = 1..nCurve (nothing when nCurve <= 0). With fewer than two values no slope
// exists: slope = 0, intercept = the mean (0 when n <= 0), and a note says so.
void trend(int32_t nCurve, int32_t n, std::span<const float> series, std::span<float> fitted,
           float& slope, float& intercept, FitNotes* notes = nullptr);

}  // namespace kavrel
