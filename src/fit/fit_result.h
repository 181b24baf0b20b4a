// The one entry of the fitting library: values and settings in, a result out.
// fitSeries writes nothing to the console, keeps no state between calls and
// never ends the program, so it can run from several threads at once; the
// caller shows result.lines and decides what a failed fit means.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fit/detrend2.h"

namespace kavrel {

enum class FitStatus { ok, failed };

struct NamedParam {
  std::string name;
  float value = 0.0f;
};

struct FitResult {
  std::vector<float> curve;          // the fitted curve, one value per value left after the fit
  int32_t methodUsed = 0;            // code of the method actually used, after fallbacks
  CurveParams params{};              // parameters 1..7 in elements 0..6
  std::vector<NamedParam> named;     // the parameters by name: a, b (signed), c, s, k; slope,
                                     // intercept; mean; alpha, span, window, stiffness
  FitStatus status = FitStatus::ok;  // failed: no curve could be fitted
  std::string failure;               // why, as the message to show
  bool failurePauses = false;        // the message asks for Return before the program ends
  std::vector<std::string> lines;    // lines to show, in order (also before a failure)
  std::vector<size_t> pauses;        // waits for Return: after that many of `lines`
  std::vector<std::string> atBound;  // parameters that ended on a bound of the growth-curve domain
  int32_t span = 0;                  // tuning values after the fit (lowess and running
  float fitParam = 0.0f;             // medians rewrite them)
  int32_t n = 0;                     // values the curve covers (the difference index drops one)
  std::vector<float> series;         // the values after the fit (the difference index rewrites them)
};

// How hard the parametric fits search.
struct FitSettings {
  DetrendOptions detrend;          // method code and tuning values
  int32_t maxLen = kFitCapacity;   // capacity the running medians check against
  FitSearch search = FitSearch::full;  // how far the growth-curve fits search
};

// Fits one curve to `values` (no missing values) with the method
// settings.detrend.option.
FitResult fitSeries(std::span<const float> values, const FitSettings& settings);

// Value of a named parameter; 0 when the result has none of that name.
float namedValue(const FitResult& result, const std::string& name);

}  // namespace kavrel
