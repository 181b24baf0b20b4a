// Downhill simplex fit of the growth-curve family a*u^c*exp(b*u) + k, u = t + s.
#include "fit/amoeba.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>

#include "fit/least_squares_refine.h"
#include "util/fixedformat.h"

namespace kavrel {

namespace {

// A double in the Fortran D17.10 layout, e.g. "-0.3000000000D+00".
std::string formatD17_10(double v) {
  if (v == 0.0) return " 0.0000000000D+00";
  char sci[32];
  std::snprintf(sci, sizeof sci, "%.9e", std::fabs(v));  // d.ddddddddde+XX
  const std::string text(sci);
  const size_t ePos = text.find('e');
  const int exponent = std::stoi(text.substr(ePos + 1)) + 1;
  std::string digits = text.substr(0, 1) + text.substr(2, ePos - 2);
  char exp[16];
  std::snprintf(exp, sizeof exp, "D%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
  std::string out = std::string(v < 0.0 ? "-" : "") + "0." + digits + exp;
  while (out.size() < 17) out.insert(out.begin(), ' ');
  return out;
}

// Shift s is parameter P-1 of selectors 2 and 3.
bool hasShift(int32_t modelSelector) {
  return modelSelector == kModelGenExp || modelSelector == kModelHugershoff;
}

void recomputeParamSum(Simplex& simplex, int32_t paramCount) {
  for (int32_t j = 0; j < paramCount; ++j) {
    float sum = 0.0f;
    for (int32_t i = 0; i <= paramCount; ++i)
      sum += simplex.vertices[static_cast<size_t>(i)][static_cast<size_t>(j)];
    simplex.paramSum[static_cast<size_t>(j)] = sum;
  }
}

}  // namespace

int32_t simplexParamCount(int32_t modelSelector) {
  switch (modelSelector) {
    case kModelNegExp:
      return 3;
    case kModelGenExp:
      return 4;
    case kModelHugershoff:
      return 5;
    default:
      throw std::invalid_argument("simplex model selector must be 1, 2 or 3, got " +
                                  std::to_string(modelSelector));
  }
}

ModelParams modelParams(const SimplexPoint& point, int32_t modelSelector) {
  ModelParams m;
  switch (modelSelector) {
    case kModelNegExp:
      m.a = point[0];
      m.b = point[1];
      m.k = point[2];
      break;
    case kModelGenExp:
      m.a = point[0];
      m.b = point[1];
      m.s = point[2];
      m.k = point[3];
      m.c = 1.0f;
      break;
    case kModelHugershoff:
      m.a = point[0];
      m.c = point[1];
      m.b = point[2];
      m.s = point[3];
      m.k = point[4];
      break;
    default:
      throw std::invalid_argument("simplex model selector must be 1, 2 or 3, got " +
                                  std::to_string(modelSelector));
  }
  return m;
}

SimplexPoint fixedVertex(int32_t modelSelector, int32_t vertex) {
  const int32_t p = simplexParamCount(modelSelector);
  if (vertex < 1 || vertex > p) {
    throw std::out_of_range("fixed simplex vertex must be 1.." + std::to_string(p));
  }
  // Vertex i moves parameter i-1 away from the origin: a to 1, c to 1, the
  // rate b to -0.01, the shift s to 1 and the asymptote k to 0.1.
  SimplexPoint point{};
  const int32_t j = vertex - 1;
  float value = 1.0f;
  const bool isRate = (modelSelector == kModelHugershoff) ? j == 2 : j == 1;
  const bool isAsymptote = j == p - 1;
  if (isRate) value = -0.01f;
  if (isAsymptote) value = 0.1f;
  point[static_cast<size_t>(j)] = value;
  return point;
}

void checkObjectiveCapacity(int32_t n, int32_t capacity) {
  if (n > capacity) {
    throw FitFailure(formatLayout("('in gamoff ne > nemax: ',2i10)", {n, capacity}) + "\nbye.",
                     true, true);
  }
}

float gamoff(const SimplexPoint& point, const SimplexProblem& problem) {
  checkObjectiveCapacity(problem.n, problem.capacity);
  if (problem.n > static_cast<int32_t>(problem.abscissa.size()) ||
      problem.n > static_cast<int32_t>(problem.series.size())) {
    throw std::out_of_range("gamoff: n exceeds the array length");
  }
  const ModelParams m = modelParams(point, problem.modelSelector);
  const double a = static_cast<double>(m.a);
  const double b = static_cast<double>(m.b);
  const double c = static_cast<double>(m.c);
  const double s = static_cast<double>(m.s);
  const double k = static_cast<double>(m.k);
  double sum = 0.0;
  for (int32_t i = 0; i < problem.n; ++i) {
    const double t = static_cast<double>(problem.abscissa[static_cast<size_t>(i)]);
    const double u = t + s;
    if (u < 0.0) {
      throw FitFailure("in gamoff tmd \xE2\x89\xA4 0 at xd." + formatD17_10(u) +
                           formatD17_10(t) + "\nthis is a fatal condition.",
                       true, true);
    }
    // c*ln(u) is exactly 0 for c = 0 and exactly ln(u) for c = 1; skipping the
    // logarithm when c = 0 also gives u = 0 the model's limit a*exp(0) + k.
    const double logTerm = (c == 0.0) ? 0.0 : c * std::log(u);
    const double f = a * std::exp(b * u + logTerm) + k;
    const double r = f - static_cast<double>(problem.series[static_cast<size_t>(i)]);
    sum += r * r;
  }
  const float value = static_cast<float>(sum);
  // Overflow and undefined sums rank worst instead of poisoning the ranking.
  if (!std::isfinite(value)) return std::numeric_limits<float>::infinity();
  return value;
}

SimplexRank rankVertices(std::span<const float> values, int32_t vertexCount) {
  SimplexRank rank;
  rank.lowest = 0;
  if (values[0] > values[1]) {
    rank.highest = 0;
    rank.nextHighest = 1;
  } else {
    rank.highest = 1;
    rank.nextHighest = 0;
  }
  for (int32_t i = 0; i < vertexCount; ++i) {
    const float y = values[static_cast<size_t>(i)];
    if (y <= values[static_cast<size_t>(rank.lowest)]) rank.lowest = i;
    if (y > values[static_cast<size_t>(rank.highest)]) {
      rank.nextHighest = rank.highest;
      rank.highest = i;
    } else if (y > values[static_cast<size_t>(rank.nextHighest)] && i != rank.highest) {
      rank.nextHighest = i;
    }
  }
  return rank;
}

float ametry(Simplex& simplex, int32_t paramCount, int32_t worst, float factor,
             const SimplexProblem& problem) {
  const float f1 = (1.0f - factor) / static_cast<float>(paramCount);
  const float f2 = f1 - factor;
  SimplexPoint trial{};
  auto& worstVertex = simplex.vertices[static_cast<size_t>(worst)];
  for (int32_t j = 0; j < paramCount; ++j) {
    const size_t jj = static_cast<size_t>(j);
    trial[jj] = simplex.paramSum[jj] * f1 - worstVertex[jj] * f2;
  }
  // The shift must not take the abscissa below its start.
  if (hasShift(problem.modelSelector)) {
    float& shift = trial[static_cast<size_t>(paramCount - 2)];
    if (shift <= 0.0f) shift = 0.0f;
  }
  const float value = gamoff(trial, problem);
  if (value < simplex.values[static_cast<size_t>(worst)]) {
    simplex.values[static_cast<size_t>(worst)] = value;
    for (int32_t j = 0; j < paramCount; ++j) {
      const size_t jj = static_cast<size_t>(j);
      simplex.paramSum[jj] += trial[jj] - worstVertex[jj];
      worstVertex[jj] = trial[jj];
    }
  }
  return value;
}

void amoeba(Simplex& simplex, int32_t paramCount, int32_t& evaluations, float tolerance,
            const SimplexProblem& problem) {
  const int32_t vertexCount = paramCount + 1;
  evaluations = 0;
  recomputeParamSum(simplex, paramCount);
  auto& y = simplex.values;
  for (;;) {
    const SimplexRank rank = rankVertices(y, vertexCount);
    const size_t lo = static_cast<size_t>(rank.lowest);
    const size_t hi = static_cast<size_t>(rank.highest);
    const size_t nh = static_cast<size_t>(rank.nextHighest);
    // With both values 0 the spread is undefined and the test cannot pass.
    const float spread = 2.0f * std::fabs(y[hi] - y[lo]) / (std::fabs(y[lo]) + std::fabs(y[hi]));
    if (spread < tolerance) {
      std::swap(y[0], y[lo]);
      std::swap(simplex.vertices[0], simplex.vertices[lo]);
      return;
    }
    if (evaluations >= kSimplexMaxEvaluations) {
      note(problem.notes, "\n ** Warning: itmax exceeded in amoeba **");
      return;
    }
    evaluations += 2;
    float trial = ametry(simplex, paramCount, rank.highest, -1.0f, problem);
    if (trial <= y[lo]) {
      trial = ametry(simplex, paramCount, rank.highest, 2.0f, problem);
    } else if (trial >= y[nh]) {
      const float saved = y[hi];
      trial = ametry(simplex, paramCount, rank.highest, 0.5f, problem);
      if (trial >= saved) {
        // Shrink every vertex halfway towards the lowest.
        const auto& best = simplex.vertices[lo];
        for (int32_t i = 0; i < vertexCount; ++i) {
          const size_t ii = static_cast<size_t>(i);
          if (ii == lo) continue;
          auto& vertex = simplex.vertices[ii];
          for (int32_t j = 0; j < paramCount; ++j) {
            const size_t jj = static_cast<size_t>(j);
            vertex[jj] = 0.5f * (vertex[jj] + best[jj]);
          }
          y[ii] = gamoff(vertex, problem);
        }
        evaluations += paramCount;
        recomputeParamSum(simplex, paramCount);
      }
    } else {
      evaluations -= 1;
    }
  }
}

namespace {

const RefineOptions kDefaultRefine{};

// The simplex fit, refined when `refine` is given.
SimplexFit runFit(const SimplexPoint& start, const SimplexProblem& problem, int32_t nCurve,
                  std::span<float> fitted, const RefineOptions* refine) {
  if (nCurve > static_cast<int32_t>(fitted.size())) {
    throw std::out_of_range("gamoeba: nCurve exceeds the curve length");
  }
  const int32_t p = simplexParamCount(problem.modelSelector);
  Simplex simplex;
  simplex.vertices[0] = start;
  for (int32_t j = p; j < kSimplexMaxParams; ++j)
    simplex.vertices[0][static_cast<size_t>(j)] = 0.0f;
  simplex.values[0] = gamoff(simplex.vertices[0], problem);
  for (int32_t i = 1; i <= p; ++i) {
    simplex.vertices[static_cast<size_t>(i)] = fixedVertex(problem.modelSelector, i);
    simplex.values[static_cast<size_t>(i)] =
        gamoff(simplex.vertices[static_cast<size_t>(i)], problem);
  }
  SimplexFit fit;
  amoeba(simplex, p, fit.evaluations, kSimplexTolerance, problem);
  fit.best = simplex.vertices[0];
  fit.bestValue = simplex.values[0];

  // Model curve at a point in single precision; false when a value is not finite.
  auto writeCurve = [&](const SimplexPoint& point) {
    const ModelParams m = modelParams(point, problem.modelSelector);
    bool finite = true;
    for (int32_t t = 1; t <= nCurve; ++t) {
      const float u = static_cast<float>(t) + m.s;
      const float logTerm = (m.c == 0.0f) ? 0.0f : m.c * std::log(u);
      const float value = m.a * std::exp(m.b * u + logTerm) + m.k;
      fitted[static_cast<size_t>(t - 1)] = value;
      finite = finite && std::isfinite(value);
    }
    return finite;
  };

  if (refine != nullptr) {
    const RefineResult better = refineLeastSquares(fit.best, fit.bestValue, problem, *refine);
    fit.refineEvaluations = better.evaluations;
    // A refined point whose curve overflows in single precision (a tiny
    // amplitude times a huge exponential) is of no use: keep the search's result.
    if (better.accepted && writeCurve(better.point)) {
      fit.best = better.point;
      fit.bestValue = better.value;
      fit.refined = true;
      // The objective still falls towards ever larger shifts: the fit has no
      // finite optimum and stops at the limit.
      if (better.shiftAtLimit) {
        char line[128];
        std::snprintf(line, sizeof line,
                      ">> sbr gamoeba: shift reached its limit of%10.1f (%g n), fit stopped there",
                      static_cast<double>(better.shiftLimit), refine->shiftLimit);
        note(problem.notes, line);
      }
      return fit;
    }
  }
  writeCurve(fit.best);
  return fit;
}

}  // namespace

SimplexFit gamoeba(const SimplexPoint& start, const SimplexProblem& problem, int32_t nCurve,
                   std::span<float> fitted, bool refine) {
  return refine ? runFit(start, problem, nCurve, fitted, &kDefaultRefine)
                : runFit(start, problem, nCurve, fitted, nullptr);
}

SimplexFit gamoeba(const SimplexPoint& start, const SimplexProblem& problem, int32_t nCurve,
                   std::span<float> fitted, const RefineOptions& refine) {
  return runFit(start, problem, nCurve, fitted, &refine);
}

}  // namespace kavrel
