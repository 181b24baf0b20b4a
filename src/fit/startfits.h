// Log-linear starting fits for the nonlinear growth curves: the Hugershoff
// curve y = a*t^c*exp(b*t) (fitted as ln y = ln a + c*ln t + b*t) and the
// general exponential y = a*t*exp(b*t) (fitted as ln(y/t) = ln a + b*t). The
// simplex search refines them with a shift and an asymptote. Values that cannot
// enter a logarithm are skipped; sums are accumulated in double precision.
#pragma once

#include <cstdint>
#include <span>

#include "fit/detrend2.h"
#include "fit/fit_notes.h"

namespace kavrel {

// Hugershoff starting fit over the pairs (abscissa[i], series[i]), i < n, with
// series[i] != missing, series[i] > 0 and abscissa[i] > 0.
// Returns params[0] = a, params[1] = c, params[2] = b (negative for a declining
// curve) and fitted[i] = a*t^c*exp(b*t), t = abscissa[i], i < nCurve; a and the
// curve are then scaled so that curve and data have equal sums over the
// positions whose value is not `missing`.
// With fewer than three usable values, a singular system or a non-finite
// solution, params[0..2] stay 0, fitted[0..nCurve-1] is 0, and a note
// ">> sbr hughdi: ..." says why.
void hughdi(std::span<const float> abscissa, std::span<const float> series, int32_t nCurve,
            int32_t n, std::span<float> fitted, CurveParams& params, float missing,
            FitNotes* notes = nullptr);

// General exponential starting fit over the values series[i] > 0 and != missing
// (i < n), at their own positions t = i + 1. Uses abscissaWork and logWork (at
// least n elements) as work space. Returns params[0] = a, params[1] = -b
// (positive for a declining curve) and fitted[t-1] = t*a*exp(b*t), t = 1..nCurve.
// With exactly one usable value no slope exists: params[0..1] stay 0, fitted is
// 0 and a note says so.
// n < 1 and no usable value raise FitFailure (a pause, an empty line first):
// "*** n .le. 0 in sbr gexp ***" and "*** n1 .le. 0 in sbr gexp ***", each
// followed by an empty line.
void gexp(std::span<const float> series, int32_t nCurve, int32_t n, std::span<float> fitted,
          std::span<float> abscissaWork, std::span<float> logWork, CurveParams& params,
          float missing, FitNotes* notes = nullptr);

}  // namespace kavrel
