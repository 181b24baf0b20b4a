#include "rcs/class_curve.h"

#include <utility>

namespace kavrel {

ClassCurveFit fitClassCurve(std::span<const float> values, int32_t option,
                            const DetrendOptions& settings, FitSearch search) {
  FitSettings fitSettings;
  fitSettings.detrend = settings;
  fitSettings.detrend.option = option;
  fitSettings.maxLen = kCurveCapacity;
  fitSettings.search = search;
  FitResult result = fitSeries(values, fitSettings);
  ClassCurveFit fit;
  fit.settings = settings;
  fit.settings.span = result.span;
  fit.settings.fitParam = result.fitParam;
  fit.optionUsed = result.methodUsed;
  fit.params = result.params;
  fit.atBound = std::move(result.atBound);
  fit.lines = std::move(result.lines);
  fit.pauses = std::move(result.pauses);
  if (result.status == FitStatus::failed) {
    fit.failure = Fatal(result.failure, result.failurePauses);
    return fit;
  }
  fit.curve = std::move(result.curve);
  return fit;
}

}  // namespace kavrel
