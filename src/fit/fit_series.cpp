// The fitting library's entry: runs the dispatcher on a copy of the values,
// collects its lines, names the parameters of the method used, and turns a
// failure into a failed result.
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "fit/detrend2_smoothing.h"
#include "fit/fit_result.h"

namespace kavrel {

namespace {

// The layout keeps |b| of the Hugershoff and general exponential curves. The
// rate's sign is the one whose model, evaluated as the fit evaluates it,
// reproduces the curve.
float signedRate(const CurveParams& p, std::span<const float> curve) {
  const float rate = p[2];
  if (rate == 0.0f) return 0.0f;
  double offFalling = 0.0;
  double offRising = 0.0;
  for (size_t i = 0; i < curve.size(); ++i) {
    const float u = static_cast<float>(i + 1) + p[5];
    const float logTerm = p[1] == 0.0f ? 0.0f : p[1] * std::log(u);
    const auto off = [&](float b) {
      const double d = std::fabs(static_cast<double>(p[0] * std::exp(b * u + logTerm) + p[4]) -
                                 static_cast<double>(curve[i]));
      return std::isfinite(d) ? d : std::numeric_limits<double>::infinity();
    };
    offFalling = std::max(offFalling, off(-rate));
    offRising = std::max(offRising, off(rate));
  }
  return offRising < offFalling ? rate : -rate;
}

// The parameters of method `code` by name, from the 7-element layout; the
// rate b carries its sign (negative for a declining curve).
std::vector<NamedParam> nameParams(int32_t code, const FitResult& r, const DetrendOptions& asked) {
  const CurveParams& p = r.params;
  switch (code) {
    case 1:
    case 2:
    case 3:
      return {{"a", p[0]}, {"b", -p[1]}, {"k", p[4]}};
    case 4:
    case 5:
      return {{"slope", p[2]}, {"intercept", p[4]}};
    case 6:
      return {{"mean", p[4]}};
    case 7:
    case 8:
      return {{"a", p[0]}, {"b", signedRate(p, r.curve)}, {"c", code == 7 ? p[1] : 1.0f},
              {"s", p[5]}, {"k", p[4]}};
    case -5:
      return {{"alpha", r.fitParam}};
    case -4:
      return {{"span", r.fitParam}};
    case -3:
      return {{"window", static_cast<float>(r.span)}};
    case -2:
      return {{"stiffness", static_cast<float>(ageDependentStartStiffness(asked.startStiffness))}};
    case -1:
      return {{"stiffness", static_cast<float>(r.n / 3)}};
    default:
      return {{"stiffness", static_cast<float>(splineCodeStiffness(code, r.n))}};
  }
}

}  // namespace

FitResult fitSeries(std::span<const float> values, const FitSettings& settings) {
  FitResult result;
  result.series.assign(values.begin(), values.end());
  result.curve.assign(values.size(), 0.0f);
  result.methodUsed = settings.detrend.option;
  result.span = settings.detrend.span;
  result.fitParam = settings.detrend.fitParam;
  result.n = static_cast<int32_t>(values.size());
  FitNotes notes;
  try {
    detrend2(result.series, result.curve, result.n, result.n, result.params, result.methodUsed,
             settings.maxLen, result.span, result.fitParam, settings.detrend.startStiffness,
             &notes, settings.search, &result.atBound);
  } catch (const FitFailure& failure) {
    if (failure.blankLineFirst()) notes.lines.emplace_back();
    result.status = FitStatus::failed;
    result.failure = failure.what();
    result.failurePauses = failure.pause();
  }
  result.lines = std::move(notes.lines);
  result.pauses = std::move(notes.pauses);
  if (result.status == FitStatus::failed) {
    result.curve.clear();
    return result;
  }
  result.curve.resize(static_cast<size_t>(std::clamp(result.n, 0, static_cast<int32_t>(values.size()))));
  result.named = nameParams(result.methodUsed, result, settings.detrend);
  return result;
}

float namedValue(const FitResult& result, const std::string& name) {
  for (const NamedParam& p : result.named) {
    if (p.name == name) return p.value;
  }
  return 0.0f;
}

}  // namespace kavrel
