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
#include "fit/startfits.h"
#include "fit/least_squares_refine.h"

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

// True when the simplex result can be used: a finite objective and curve.
bool simplexUsable(const SimplexFit& fit, std::span<const float> fitted, int32_t nCurve,
                   int32_t option, FitNotes* notes) {
  bool finite = std::isfinite(fit.bestValue);
  for (int32_t t = 0; t < nCurve && finite; ++t)
    finite = std::isfinite(fitted[static_cast<size_t>(t)]);
  if (!finite) {
    char line[80];
    std::snprintf(line, sizeof line,
                  ">> sbr detrend2: method%3d gives no finite curve, straight line fitted", option);
    note(notes, line);
  }
  return finite;
}

// Fractional spread at which the short simplex of a coarse fit stops; the
// refinement from its point does the rest.
constexpr float kCoarseSimplexTolerance = 1.0e-1f;

// Model curve at a point in single precision into fitted[0..nCurve-1];
// false when a value is not finite.
bool writeModelCurve(const SimplexPoint& point, int32_t modelSelector, int32_t nCurve,
                     std::span<float> fitted) {
  const ModelParams m = modelParams(point, modelSelector);
  bool finite = true;
  for (int32_t t = 1; t <= nCurve; ++t) {
    const float u = static_cast<float>(t) + m.s;
    const float logTerm = (m.c == 0.0f) ? 0.0f : m.c * std::log(u);
    const float value = m.a * std::exp(m.b * u + logTerm) + m.k;
    fitted[static_cast<size_t>(t - 1)] = value;
    finite = finite && std::isfinite(value);
  }
  return finite;
}

// The growth-curve fit from `start` as far as `search` goes.
SimplexFit searchGrowthCurve(const SimplexPoint& start, const SimplexProblem& problem,
                             int32_t nCurve, std::span<float> fitted, FitSearch search) {
  RefineOptions refine;
  refine.gridStart = search == FitSearch::full;
  if (search != FitSearch::coarse) return gamoeba(start, problem, nCurve, fitted, refine);
  // The simplex as gamoeba sets it up, stopped early.
  // A coarse simplex, then the refinement from its point.
  const int32_t p = simplexParamCount(problem.modelSelector);
  Simplex simplex;
  simplex.vertices[0] = start;
  for (int32_t j = p; j < kSimplexMaxParams; ++j) simplex.vertices[0][static_cast<size_t>(j)] = 0.0f;
  simplex.values[0] = gamoff(simplex.vertices[0], problem);
  for (int32_t i = 1; i <= p; ++i) {
    const auto v = static_cast<size_t>(i);
    simplex.vertices[v] = fixedVertex(problem.modelSelector, i);
    simplex.values[v] = gamoff(simplex.vertices[v], problem);
  }
  SimplexFit fit;
  amoeba(simplex, p, fit.evaluations, kCoarseSimplexTolerance, problem);
  fit.best = simplex.vertices[0];
  fit.bestValue = simplex.values[0];
  const RefineResult better = refineLeastSquares(fit.best, fit.bestValue, problem, refine);
  fit.refineEvaluations = better.evaluations;
  if (better.accepted && writeModelCurve(better.point, problem.modelSelector, nCurve, fitted)) {
    fit.best = better.point;
    fit.bestValue = better.value;
    fit.refined = true;
    return fit;
  }
  writeModelCurve(fit.best, problem.modelSelector, nCurve, fitted);
  return fit;
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
              int32_t startStiffness, FitNotes* notes, FitSearch search) {
  params.fill(0.0f);
  if (option < 1 || option > 8) {
    detrendSmoothing(series, fitted, n, option, maxLen, span, fitParam, startStiffness, notes);
    return;
  }
  const auto growthFit = [&](const SimplexPoint& start, const SimplexProblem& problem) {
    return searchGrowthCurve(start, problem, nCurve, fitted, search);
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
      const SimplexFit fit = growthFit(SimplexPoint{}, problem);
      const ModelParams m = modelParams(fit.best, kModelNegExp);
      params[0] = m.a;
      params[1] = std::fabs(m.b);
      params[2] = 0.0f;
      params[4] = m.k;
      params[5] = 0.0f;
      // An unusable (not finite) result, or a rate >= 0 (no decline): straight line.
      if (!simplexUsable(fit, fitted, nCurve, option, notes) || m.b >= 0.0f) {
        fallBackToLine(values, fitted, nCurve, n, params, option, notes);
      }
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
      const SimplexFit fit = growthFit(start, problem);
      if (!simplexUsable(fit, fitted, nCurve, option, notes)) {
        fallBackToLine(values, fitted, nCurve, n, params, option, notes);
        return;
      }
      const ModelParams m = modelParams(fit.best, kModelHugershoff);
      params[0] = m.a;
      params[1] = m.c;
      params[2] = std::fabs(m.b);
      params[4] = m.k;
      params[5] = m.s;
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
      const SimplexFit fit = growthFit(start, problem);
      if (!simplexUsable(fit, fitted, nCurve, option, notes)) {
        fallBackToLine(values, fitted, nCurve, n, params, option, notes);
        return;
      }
      const ModelParams m = modelParams(fit.best, kModelGenExp);
      params[0] = m.a;
      params[1] = 1.0f;
      params[2] = std::fabs(m.b);
      params[4] = m.k;
      params[5] = m.s;
      params[6] = 8.0f;
      return;
    }
    default:
      return;
  }
}

}  // namespace kavrel
