// The smoothing branches of the detrending dispatcher: super smoother (-5),
// lowess (-4), running medians (-3), age-dependent spline without end upturn
// (-2), first-difference index (-1) and the cubic smoothing spline codes.
#pragma once

#include <cstdint>
#include <span>

namespace kavrel {

// Called by detrend2 for every code outside 1..8, after the parameters have
// been cleared. Arguments as for detrend2; `option` is not changed here.
void detrendSmoothing(std::span<float> series, std::span<float> fitted, int32_t& n,
                      int32_t option, int32_t maxLen, int32_t& span, float& fitParam,
                      int32_t startStiffness);

}  // namespace kavrel
