// The detrending dispatcher: one entry through which the program fits a curve
// to a series (a class's mean by cambial age, or a single series). The method
// code selects a parametric growth curve (codes 1 to 8, with fallbacks) or a
// smoothing method (every other code); the code of the method actually used
// comes back in `option`.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fit/fit_notes.h"

namespace kavrel {

// Curve parameters; params[0] holds parameter 1, ..., params[6] parameter 7.
using CurveParams = std::array<float, 7>;

// How far the growth-curve fits (codes 3, 7, 8) search: the simplex, then
// the search over the growth-curve domain from the simplex's point and a
// grid's valleys (full); or only the domain search's grid and a coarse search
// of its best valley, without the simplex (coarse): a cheap fit for where only
// the fit's deviation counts.
enum class FitSearch { full, coarse };

// Capacity of the fitting work arrays (values per series).
inline constexpr int32_t kFitCapacity = 5000;

// Settings that choose and tune a fit; kept for the whole run and changed
// only by the curve-fit option menu.
struct DetrendOptions {
  int32_t option = 2;          // method code; after a fit, the method used
  int32_t span = -67;          // lowess: span in percent; running medians: window width
  float fitParam = 0.0f;       // super smoother: bass; running medians: window; lowess: span/100
  int32_t startStiffness = 20; // age-dependent spline: stiffness (years) at the first ring
};

// Fits one curve.
//   series  n values (in; method -1 rewrites it into a difference index)
//   fitted  at least n values (out): the curve at the same positions
//   nCurve  curve points the parametric methods compute (equal to n in every use)
//   n       number of values (method -1 lowers it by one)
//   params  curve parameters (out, cleared on entry)
//   option  method code (in) / method used (out)
//   maxLen  capacity of the series arrays (running-median length check)
//   span, fitParam  tuning values (methods -4 and -3 rewrite them)
//   startStiffness  stiffness in years of the age-dependent spline's first ring
//   notes   receives the lines the fit has to show (none when null)
//   search  how far the growth-curve fits (codes 3, 7, 8) search
//   atBound  when given: names of the growth-curve parameters (codes 3, 7, 8)
//            that ended on a bound of their domain, empty otherwise
// A fit that cannot be made raises FitFailure.
void detrend2(std::span<float> series, std::span<float> fitted, int32_t nCurve, int32_t& n,
              CurveParams& params, int32_t& option, int32_t maxLen, int32_t& span,
              float& fitParam, int32_t startStiffness, FitNotes* notes = nullptr,
              FitSearch search = FitSearch::full, std::vector<std::string>* atBound = nullptr);

// Arithmetic mean of x[0..n-1], summed in index order in single precision.
// n <= 0 raises FitFailure ("error in xmean2: n=0", a pause for Return).
float xmean2(std::span<const float> x, int32_t n);

}  // namespace kavrel
