// The detrending dispatcher: parametric growth curves (codes 1 to 8) with their
// fallbacks; every other code goes to the smoothing methods.
#include "fit/detrend2.h"

#include <vector>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "fit/amoeba.h"
#include "fit/curve.h"
#include "fit/detrend2_smoothing.h"
#include "fit/growth_domain.h"
#include "fit/startfits.h"

namespace kavrel {

namespace {

// Value the starting fits treat as a missing ring; the dispatcher's series have
// none, so only zero widths are excluded from the logarithms.
constexpr float kStartFitMissing = 0.0f;

using WorkArray = std::vector<float>;

void fillCurve(std::span<float> fitted, int32_t nCurve, float value) {
  for (int32_t t = 0; t < nCurve; ++t) fitted[static_cast<size_t>(t)] = value;
}

// Straight line into params[2] (slope) and params[4] (intercept).
float fitLine(std::span<const float> series, std::span<float> fitted, int32_t nCurve, int32_t n,
              CurveParams& params, FitNotes* notes) {
  float slope = 0.0f;
  float intercept = 0.0f;
  trend(nCurve, n, series, fitted, slope, intercept, notes);
  params[2] = slope;
  params[4] = intercept;
  return slope;
}

// Horizontal line at the mean: params[4] = mean, every curve point the mean.
void fitMeanLine(std::span<const float> series, std::span<float> fitted, int32_t nCurve, int32_t n,
                 CurveParams& params) {
  params.fill(0.0f);
  const float mean = xmean2(series, n);
  params[4] = mean;
  fillCurve(fitted, nCurve, mean);
}

// The straight line a simplex method falls back to: cleared parameters,
// option 4.
void fallBackToLine(std::span<const float> series, std::span<float> fitted, int32_t nCurve,
                    int32_t n, CurveParams& params, int32_t& option, FitNotes* notes) {
  params.fill(0.0f);
  option = 4;
  fitLine(series, fitted, nCurve, n, params, notes);
}

// Abscissa 1..count for the simplex methods, within the work-array capacity.
void fillAbscissa(WorkArray& abscissa, int32_t n, int32_t nCurve) {
  checkObjectiveCapacity(n, kFitCapacity);
  if (nCurve > kFitCapacity) {
    throw std::out_of_range("detrend2: nCurve exceeds the work-array capacity");
  }
  const int32_t count = n > nCurve ? n : nCurve;
  abscissa.assign(static_cast<size_t>(count > 0 ? count : 0), 0.0f);
  for (int32_t t = 1; t <= count; ++t) abscissa[static_cast<size_t>(t - 1)] = static_cast<float>(t);
}

// The least-squares fit within the growth-curve domain; the simplex's result
// is searched from when it lies in the domain, and dropped otherwise.
DomainFit domainFit(const SimplexFit& simplex, const SimplexProblem& problem,
                    std::span<const float> values) {
  const ModelParams m = modelParams(simplex.best, problem.modelSelector);
  const GrowthCurve start{m.a, m.b, m.c, m.s, m.k};
  return fitGrowthDomain(problem.modelSelector, values, problem.n, &start);
}

// Curve and parameters of a Hugershoff or general exponential fit: a, c, the
// decline rate -b, k and s (all but k zero for the flat curve).
void reportGrowthCurve(const DomainFit& fit, std::span<float> fitted, int32_t nCurve,
                       CurveParams& params, std::vector<std::string>* atBound) {
  writeGrowthCurve(fit.curve, fitted, nCurve);
  params.fill(0.0f);
  params[0] = static_cast<float>(fit.curve.a);
  params[1] = static_cast<float>(fit.curve.c);
  params[2] = static_cast<float>(-fit.curve.b);
  params[4] = static_cast<float>(fit.curve.k);
  params[5] = static_cast<float>(fit.curve.s);
  if (atBound != nullptr) *atBound = fit.atBound;
}

}  // namespace

float xmean2(std::span<const float> x, int32_t n) {
  if (n <= 0) {
    throw FitFailure("error in xmean2: n=0", true, true);
  }
  if (n > static_cast<int32_t>(x.size())) {
    throw std::out_of_range("xmean2: n exceeds the array length");
  }
  float sum = 0.0f;
  for (int32_t i = 0; i < n; ++i) sum += x[static_cast<size_t>(i)];
  return sum / static_cast<float>(n);
}

void detrend2(std::span<float> series, std::span<float> fitted, int32_t nCurve, int32_t& n,
              CurveParams& params, int32_t& option, int32_t maxLen, int32_t& span, float& fitParam,
              int32_t startStiffness, FitNotes* notes, FitSearch search,
              std::vector<std::string>* atBound) {
  params.fill(0.0f);
  if (atBound != nullptr) atBound->clear();
  if (option < 1 || option > 8) {
    detrendSmoothing(series, fitted, n, option, maxLen, span, fitParam, startStiffness, notes);
    return;
  }
  const auto growthFit = [&](const SimplexPoint& start, const SimplexProblem& problem,
                             std::span<const float> values) {
    // The coarse search leaves out the simplex and stops at the grid's best valley.
    if (search == FitSearch::coarse)
      return fitGrowthDomain(problem.modelSelector, values, problem.n, nullptr, true);
    return domainFit(gamoeba(start, problem, nCurve, fitted, false), problem, values);
  };
  if (n > static_cast<int32_t>(series.size()) || nCurve > static_cast<int32_t>(fitted.size())) {
    throw std::out_of_range("detrend2: n or nCurve exceeds the array length");
  }
  const std::span<const float> values(series.data(), series.size());

  switch (option) {
    case 1:
    case 2: {
      curve(nCurve, n, values, fitted, params, notes);
      if (params[1] > 0.0f && params[4] >= 0.0f) return;
      params.fill(0.0f);
      const float slope = fitLine(values, fitted, nCurve, n, params, notes);
      if (option == 1) {
        option = 4;
        return;
      }
      if (slope > 0.0f) fitMeanLine(values, fitted, nCurve, n, params);
      option = 5;
      return;
    }
    case 3: {
      WorkArray abscissa;
      fillAbscissa(abscissa, n, nCurve);
      const SimplexProblem problem{kModelNegExp, kFitCapacity, n, abscissa, values, notes};
      const DomainFit fit = growthFit(SimplexPoint{}, problem, values);
      // No decline (b = 0, or the flat curve a = 0): straight line.
      if (fit.curve.b == 0.0) {
        fallBackToLine(values, fitted, nCurve, n, params, option, notes);
        return;
      }
      writeGrowthCurve(fit.curve, fitted, nCurve);
      params[0] = static_cast<float>(fit.curve.a);
      params[1] = static_cast<float>(-fit.curve.b);
      params[4] = static_cast<float>(fit.curve.k);
      if (atBound != nullptr) *atBound = fit.atBound;
      return;
    }
    case 4:
    case 5: {
      const float slope = fitLine(values, fitted, nCurve, n, params, notes);
      if (option == 5 && slope > 0.0f) {
        option = 6;
        fitMeanLine(values, fitted, nCurve, n, params);
      }
      return;
    }
    case 6:
      fitMeanLine(values, fitted, nCurve, n, params);
      return;
    case 7: {
      WorkArray abscissa;
      fillAbscissa(abscissa, n, nCurve);
      hughdi(abscissa, values, nCurve, n, fitted, params, kStartFitMissing, notes);
      const SimplexPoint start{params[0], params[1], params[2], 0.0f, 0.0f};
      const SimplexProblem problem{kModelHugershoff, kFitCapacity, n, abscissa, values, notes};
      reportGrowthCurve(growthFit(start, problem, values), fitted, nCurve, params, atBound);
      params[6] = 7.0f;
      return;
    }
    case 8: {
      WorkArray abscissa;
      WorkArray positions(static_cast<size_t>(n > 0 ? n : 0));
      WorkArray logs(positions.size());
      fillAbscissa(abscissa, n, nCurve);
      gexp(values, nCurve, n, fitted, positions, logs, params, kStartFitMissing, notes);
      const SimplexPoint start{params[0], params[1], 0.0f, 0.0f, 0.0f};
      const SimplexProblem problem{kModelGenExp, kFitCapacity, n, abscissa, values, notes};
      reportGrowthCurve(growthFit(start, problem, values), fitted, nCurve, params, atBound);
      params[1] = 1.0f;
      params[6] = 8.0f;
      return;
    }
    default:
      return;
  }
}

}  // namespace kavrel
