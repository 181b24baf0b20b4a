#include "driver/chronology_smooth.h"

#include <cmath>

#include "fit/fit_result.h"
#include "fit/spline.h"

namespace kavrel {

std::vector<std::optional<double>> smoothedChronology(std::span<const std::optional<double>> values,
                                                      int32_t stiffness) {
  std::vector<std::optional<double>> smooth(values.size());
  FitSettings settings;
  settings.detrend.option = stiffness;  // codes of 10 and more: a spline of that many years
  const auto usable = [&](size_t i) { return values[i] && std::isfinite(*values[i]); };
  for (size_t a = 0; a < values.size();) {
    if (!usable(a)) {
      ++a;
      continue;
    }
    size_t b = a;
    std::vector<float> stretch;
    while (b < values.size() && usable(b)) stretch.push_back(static_cast<float>(*values[b++]));
    if (stretch.size() < static_cast<size_t>(kSplineMinValues)) {
      a = b;
      continue;  // the fit would fall back to the stretch's mean
    }
    const FitResult fit = fitSeries(stretch, settings);
    if (fit.status == FitStatus::ok && fit.curve.size() >= stretch.size()) {
      for (size_t i = a; i < b; ++i) smooth[i] = fit.curve[i - a];
    }
    a = b;
  }
  return smooth;
}

}  // namespace kavrel
