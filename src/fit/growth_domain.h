// Least-squares fit of the growth-curve family y(t) = a*u^c*exp(b*u) + k,
// u = t + s, t = 1..n, restricted to the curves a growth curve can be:
// a >= 0, b <= 0, k >= 0, 0 <= s <= 10 n and, for the Hugershoff curve,
// 0 <= c <= 10. Inside this domain every curve is non-negative and has at
// most one hump. a and k are solved by non-negative least squares at every
// point of the nonlinear parameters, which a grid and a bounded pattern search
// explore.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fit/amoeba.h"

namespace kavrel {

// Bounds of the domain.
inline constexpr double kDomainShiftLimit = 10.0;  // largest shift, in multiples of n
inline constexpr double kDomainExponentLimit = 10.0;  // largest Hugershoff exponent c

// One point of the model in double precision.
struct GrowthCurve {
  double a = 0.0;
  double b = 0.0;
  double c = 0.0;
  double s = 0.0;
  double k = 0.0;
};

struct DomainFit {
  GrowthCurve curve;
  double rss = 0.0;  // residual sum of squares of `curve` on the values
  bool flat = false;  // a = 0: the flat curve at k (b, c and s are reported as 0)
  std::vector<std::string> atBound;  // names of the parameters on a bound of the domain
};

// True when the parameters lie in the domain of the model selector for n values.
bool inGrowthDomain(const GrowthCurve& m, int32_t modelSelector, int32_t n);

// The curve in double precision at t = 1..count, rounded once into `fitted`.
void writeGrowthCurve(const GrowthCurve& m, std::span<float> fitted, int32_t count);

// The least-squares fit over the domain for the first n values of `series`
// (n >= 1). `start`, when in the domain, is searched from as well as the grid.
// With coarseOnly the search stops at the grid's best valley searched
// coarsely (on run means for long series): a cheap fit for comparing
// deviations, not for a class curve.
DomainFit fitGrowthDomain(int32_t modelSelector, std::span<const float> series, int32_t n,
                          const GrowthCurve* start = nullptr, bool coarseOnly = false);

}  // namespace kavrel
