// The one place where the regional-curve method calls the fit layer: a class's
// values and fitting settings in, the curve, the method used, its parameters
// and whether the fit failed out.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fit/detrend2.h"
#include "fit/fit_result.h"
#include "util/fatal.h"

namespace kavrel {

// Capacity handed to the fit layer's length checks: the cambial ages a series
// may reach.
inline constexpr int32_t kCurveCapacity = 2000;

struct ClassCurveFit {
  std::vector<float> curve;    // one point per value fitted (fewer if the fit drops some)
  int32_t optionUsed = 0;      // method code after the fit layer's fallbacks
  CurveParams params{};        // parameters in the fit layer's layout
  DetrendOptions settings;     // span, fitParam and startStiffness after the fit
  std::vector<std::string> atBound;  // growth-curve parameters left on a bound of their domain
  std::vector<std::string> lines;    // lines the fit has to show, in order
  std::vector<size_t> pauses;        // waits for Return: after that many of `lines`
  std::optional<Fatal> failure;  // set when the fit layer gave up on these values
  bool failed() const { return failure.has_value(); }
};

// Fits method `option` to `values` with `settings` (settings.option is not
// read), searching the growth curves as far as `search` says. A failure of
// the fit layer comes back in `failure`, not thrown.
ClassCurveFit fitClassCurve(std::span<const float> values, int32_t option,
                            const DetrendOptions& settings, FitSearch search = FitSearch::full);

}  // namespace kavrel
