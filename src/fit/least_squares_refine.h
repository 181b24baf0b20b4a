// Least-squares refinement of a downhill-simplex result for the growth-curve
// family of amoeba.h: damped Newton on the nonlinear parameters with a and k
// solved by linear least squares (Golub, G.H. & Pereyra, V. 1973, The
// differentiation of pseudo-inverses and nonlinear least squares problems
// whose variables separate, SIAM J. Numer. Anal. 10: 413-432), started from
// the simplex's point, and a wide search from the valleys of a grid over the
// nonlinear parameters, run on means of runs of the data and finished on the
// data where it finds a lower valley.
#pragma once

#include <cstdint>

#include "fit/amoeba.h"

namespace kavrel {

// The simplex often stops in a flat valley well above the minimum (its spread
// test compares objective values only), or settles in another valley than the
// best; the refinement looks for the least-squares optimum of the model with
// 0 <= s <= shiftLimit * n.
struct RefineOptions {
  double minGain = 1.0e-4;      // relative drop of the objective needed to replace a point
  int32_t maxIterations = 200;  // iterations of each Newton search, >= 1
  bool gridStart = true;        // also run the wide search from the grid's valleys
  int32_t gridStarts = 4;       // grid valleys searched (the lowest), >= 1
  double shiftLimit = 10.0;     // largest shift s, in multiples of n; > 0
};

struct RefineResult {
  SimplexPoint point{};       // refined parameters (single precision)
  float value = 0.0f;         // gamoff at `point`
  bool accepted = false;      // the point replaces the start (see refineLeastSquares)
  bool shiftAtLimit = false;  // the accepted point's shift is the shift limit
  float shiftLimit = 0.0f;    // the shift limit, shiftLimit * n
  int32_t evaluations = 0;    // model evaluations, on the data or on run means
};

// Refines `start` (objective value `startValue`). The result is accepted when
// its objective is below startValue * (1 - minGain), or when the start's shift
// lies beyond the limit (the fit then stops at the limit). Too few values (n at
// most the parameter count) or more than kObjectiveCapacity leave the start.
RefineResult refineLeastSquares(const SimplexPoint& start, float startValue,
                                const SimplexProblem& problem, const RefineOptions& options = {});

}  // namespace kavrel
