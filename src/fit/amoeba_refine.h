// Least-squares refinement of a downhill-simplex result for the growth-curve
// family of amoeba.h, by Levenberg-Marquardt (Marquardt, D.W. 1963, An
// algorithm for least-squares estimation of nonlinear parameters, J. SIAM 11:
// 431-441).
#pragma once

#include <cstdint>

#include "fit/amoeba.h"

namespace kavrel {

// Least-squares refinement of a simplex result. The simplex often stops in a
// flat valley well above the minimum (its spread test compares objective values
// only), or settles in another valley than the best. The refinement runs
// Levenberg-Marquardt in double precision (shift kept >= 0) from the point and
// from the best point of a coarse grid over the nonlinear parameters, and keeps
// the better result.
struct RefineOptions {
  double minGain = 1.0e-4;      // relative drop of the objective needed to replace a point
  int32_t maxIterations = 200;  // iterations of each Levenberg-Marquardt search
  bool gridStart = true;        // also search from the best point of a coarse grid
};
struct RefineResult {
  SimplexPoint point{};     // refined parameters (single precision)
  float value = 0.0f;       // gamoff at `point`
  bool accepted = false;    // true when value < startValue * (1 - minGain)
  int32_t evaluations = 0;  // model passes used (objective and Jacobian)
};
RefineResult refineLeastSquares(const SimplexPoint& start, float startValue,
                                const SimplexProblem& problem, const RefineOptions& options = {});

}  // namespace kavrel
