#include "rcs/class_curve.h"

#include <algorithm>

namespace kavrel {

ClassCurveFit fitClassCurve(std::span<const float> values, int32_t option,
                            const DetrendOptions& settings) {
  ClassCurveFit fit;
  fit.settings = settings;
  fit.optionUsed = option;
  std::vector<float> work(values.begin(), values.end());
  std::vector<float> fitted(values.size(), 0.0f);
  auto n = static_cast<int32_t>(values.size());
  try {
    detrend2(work, fitted, n, n, fit.params, fit.optionUsed, kCurveCapacity, fit.settings.span,
             fit.settings.fitParam, fit.settings.startStiffness, &fit.atBound);
  } catch (const Fatal& e) {
    fit.failure = e;
    return fit;
  }
  fitted.resize(static_cast<size_t>(std::clamp(n, 0, static_cast<int32_t>(fitted.size()))));
  fit.curve = std::move(fitted);
  return fit;
}

}  // namespace kavrel
