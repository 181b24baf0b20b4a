// Downhill simplex fit of the growth-curve family a*u^c*exp(b*u) + k, u = t + s.
#include "fit/amoeba.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>

#include "util/fatal.h"

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
    for (int32_t i = 0; i <= paramCount; ++i) sum += simplex.vertices[static_cast<size_t>(i)][static_cast<size_t>(j)];
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
    std::printf("\n");
    std::fflush(stdout);
    char line[64];
    std::snprintf(line, sizeof line, "in gamoff ne > nemax: %10d%10d", n, capacity);
    throw Fatal(std::string(line) + "\n bye.", true);
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
      std::printf("\n");
      std::fflush(stdout);
      throw Fatal("in gamoff tmd \xE2\x89\xA4 0 at xd." + formatD17_10(u) + formatD17_10(t) +
                      "\n this is a fatal condition.",
                  true);
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
      std::fputs("\n ** Warning: itmax exceeded in amoeba **\n", stdout);
      std::fflush(stdout);
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

// Residual sum of squares of the model as a function of its nonlinear
// parameters only (variable projection): a and k are solved by linear least
// squares for each trial. theta holds b (selector 1), b, s (2) or c, b, s (3).
class ProfileObjective {
 public:
  explicit ProfileObjective(const SimplexProblem& problem) : problem_(problem) {
    dims_ = problem.modelSelector == kModelNegExp ? 1 : (problem.modelSelector == kModelGenExp ? 2 : 3);
  }

  int dims() const { return dims_; }
  // Index of the shift in theta, or -1.
  int shiftIndex() const { return dims_ == 1 ? -1 : dims_ - 1; }

  // Residual sum of squares at theta; a and k of the solution through the arguments.
  double evaluate(const std::array<double, 3>& theta, double& a, double& k) {
    double b = 0.0;
    double c = 0.0;
    double s = 0.0;
    unpack(theta, b, c, s);
    const int32_t n = problem_.n;
    double sumG = 0.0;
    double sumY = 0.0;
    for (int32_t i = 0; i < n; ++i) {
      const double u = static_cast<double>(problem_.abscissa[static_cast<size_t>(i)]) + s;
      if (!(u > 0.0)) return kInfinite;
      const double logTerm = (c == 0.0) ? 0.0 : c * std::log(u);
      const double g = std::exp(b * u + logTerm);
      if (!std::isfinite(g)) return kInfinite;
      work_[static_cast<size_t>(i)] = g;
      sumG += g;
      sumY += static_cast<double>(problem_.series[static_cast<size_t>(i)]);
    }
    const double nd = static_cast<double>(n);
    const double meanG = sumG / nd;
    const double meanY = sumY / nd;
    double sgg = 0.0;
    double sgy = 0.0;
    double syy = 0.0;
    for (int32_t i = 0; i < n; ++i) {
      const double dg = work_[static_cast<size_t>(i)] - meanG;
      const double dy = static_cast<double>(problem_.series[static_cast<size_t>(i)]) - meanY;
      sgg += dg * dg;
      sgy += dg * dy;
      syy += dy * dy;
    }
    if (!(sgg > 0.0) || !std::isfinite(sgg)) return kInfinite;
    a = sgy / sgg;
    k = meanY - a * meanG;
    const double rss = syy - sgy * sgy / sgg;
    return std::isfinite(rss) ? rss : kInfinite;
  }

  void unpack(const std::array<double, 3>& theta, double& b, double& c, double& s) const {
    switch (dims_) {
      case 1:
        b = theta[0];
        break;
      case 2:
        b = theta[0];
        s = theta[1];
        c = 1.0;
        break;
      default:
        c = theta[0];
        b = theta[1];
        s = theta[2];
        break;
    }
  }

  static constexpr double kInfinite = std::numeric_limits<double>::infinity();

 private:
  const SimplexProblem& problem_;
  int dims_ = 1;
  std::array<double, kObjectiveCapacity> work_{};
};

using Theta = std::array<double, 3>;

// Keeps the shift at or above 0, as the simplex does.
void projectShift(Theta& theta, int shiftIndex) {
  if (shiftIndex >= 0 && theta[static_cast<size_t>(shiftIndex)] < 0.0) {
    theta[static_cast<size_t>(shiftIndex)] = 0.0;
  }
}

// One Nelder-Mead run in double precision from `best` with the given steps;
// updates best/bestValue and the evaluation count.
void localSearch(ProfileObjective& objective, Theta& best, double& bestValue, const Theta& steps,
                 int32_t maxEvaluations, int32_t& evaluations) {
  const int dims = objective.dims();
  const int shift = objective.shiftIndex();
  std::array<Theta, 4> x{};
  std::array<double, 4> f{};
  double a = 0.0;
  double k = 0.0;
  x[0] = best;
  f[0] = bestValue;
  for (int i = 1; i <= dims; ++i) {
    x[static_cast<size_t>(i)] = best;
    x[static_cast<size_t>(i)][static_cast<size_t>(i - 1)] += steps[static_cast<size_t>(i - 1)];
    projectShift(x[static_cast<size_t>(i)], shift);
    f[static_cast<size_t>(i)] = objective.evaluate(x[static_cast<size_t>(i)], a, k);
    ++evaluations;
  }
  auto tryPoint = [&](const Theta& centroid, const Theta& from, double factor, Theta& out) {
    for (int j = 0; j < dims; ++j) {
      const size_t jj = static_cast<size_t>(j);
      out[jj] = centroid[jj] + factor * (from[jj] - centroid[jj]);
    }
    projectShift(out, shift);
    ++evaluations;
    return objective.evaluate(out, a, k);
  };
  while (evaluations < maxEvaluations) {
    // Order the vertices by value (at most four).
    for (int i = 1; i <= dims; ++i) {
      for (int j = i; j > 0 && f[static_cast<size_t>(j)] < f[static_cast<size_t>(j - 1)]; --j) {
        std::swap(f[static_cast<size_t>(j)], f[static_cast<size_t>(j - 1)]);
        std::swap(x[static_cast<size_t>(j)], x[static_cast<size_t>(j - 1)]);
      }
    }
    const size_t worst = static_cast<size_t>(dims);
    if (f[worst] - f[0] <= 1.0e-13 * std::fabs(f[0])) break;
    Theta centroid{};
    for (int i = 0; i < dims; ++i) {
      for (int j = 0; j < dims; ++j) {
        centroid[static_cast<size_t>(j)] += x[static_cast<size_t>(i)][static_cast<size_t>(j)] / dims;
      }
    }
    Theta reflected{};
    const double fr = tryPoint(centroid, x[worst], -1.0, reflected);
    if (fr < f[0]) {
      Theta expanded{};
      const double fe = tryPoint(centroid, x[worst], -2.0, expanded);
      x[worst] = fe < fr ? expanded : reflected;
      f[worst] = fe < fr ? fe : fr;
    } else if (fr < f[worst - 1]) {
      x[worst] = reflected;
      f[worst] = fr;
    } else {
      Theta contracted{};
      const double fc = fr < f[worst] ? tryPoint(centroid, reflected, 0.5, contracted)
                                      : tryPoint(centroid, x[worst], 0.5, contracted);
      if (fc < std::min(fr, f[worst])) {
        x[worst] = contracted;
        f[worst] = fc;
      } else {
        for (int i = 1; i <= dims; ++i) {
          Theta& xi = x[static_cast<size_t>(i)];
          for (int j = 0; j < dims; ++j) {
            xi[static_cast<size_t>(j)] = x[0][static_cast<size_t>(j)] +
                                         0.5 * (xi[static_cast<size_t>(j)] - x[0][static_cast<size_t>(j)]);
          }
          f[static_cast<size_t>(i)] = objective.evaluate(xi, a, k);
          ++evaluations;
        }
      }
    }
  }
  for (int i = 0; i <= dims; ++i) {
    if (f[static_cast<size_t>(i)] < bestValue) {
      bestValue = f[static_cast<size_t>(i)];
      best = x[static_cast<size_t>(i)];
    }
  }
}

}  // namespace

namespace {

// Local search with restarts from its own result until a restart no longer
// lowers the value; the evaluation budget is shared through `evaluations`.
void polish(ProfileObjective& objective, Theta& theta, double& value, const RefineOptions& options,
            int32_t budget, int32_t& evaluations) {
  for (int32_t restart = 0; restart <= options.maxRestarts; ++restart) {
    Theta steps{};
    for (int j = 0; j < objective.dims(); ++j) {
      const size_t jj = static_cast<size_t>(j);
      // Steps of about a tenth of each parameter, with a floor per kind.
      double floor = 1.0e-3;                                // rate b
      if (objective.dims() == 3 && j == 0) floor = 0.05;  // exponent c
      if (j == objective.shiftIndex()) floor = 0.5;        // shift s
      steps[jj] = 0.1 * std::fabs(theta[jj]) + floor;
    }
    const double before = value;
    localSearch(objective, theta, value, steps, budget, evaluations);
    if (!(value < before * (1.0 - 1.0e-12)) || evaluations >= budget) break;
  }
}

// Best point of a coarse grid of declining curves over the nonlinear
// parameters: rates from -0.001 to -0.1, shifts 0 to 20, exponents 0.5 to 2.
double coarseGrid(ProfileObjective& objective, Theta& best, int32_t& evaluations) {
  static constexpr std::array<double, 5> kRates{-0.001, -0.003, -0.01, -0.03, -0.1};
  static constexpr std::array<double, 3> kShifts{0.0, 3.0, 20.0};
  static constexpr std::array<double, 3> kExponents{0.5, 1.0, 2.0};
  const int dims = objective.dims();
  const size_t shiftCount = dims >= 2 ? kShifts.size() : 1;
  const size_t exponentCount = dims == 3 ? kExponents.size() : 1;
  double bestValue = ProfileObjective::kInfinite;
  double a = 0.0;
  double k = 0.0;
  for (double rate : kRates) {
    for (size_t si = 0; si < shiftCount; ++si) {
      for (size_t ci = 0; ci < exponentCount; ++ci) {
        Theta theta{};
        if (dims == 1) theta = {rate, 0.0, 0.0};
        if (dims == 2) theta = {rate, kShifts[si], 0.0};
        if (dims == 3) theta = {kExponents[ci], rate, kShifts[si]};
        const double value = objective.evaluate(theta, a, k);
        ++evaluations;
        if (value < bestValue) {
          bestValue = value;
          best = theta;
        }
      }
    }
  }
  return bestValue;
}

}  // namespace

RefineResult refineLeastSquares(const SimplexPoint& start, float startValue,
                                const SimplexProblem& problem, const RefineOptions& options) {
  RefineResult result;
  result.point = start;
  result.value = startValue;
  if (problem.n < 3) return result;
  ProfileObjective objective(problem);
  const ModelParams m = modelParams(start, problem.modelSelector);
  Theta theta{};
  switch (objective.dims()) {
    case 1:
      theta = {static_cast<double>(m.b), 0.0, 0.0};
      break;
    case 2:
      theta = {static_cast<double>(m.b), static_cast<double>(m.s), 0.0};
      break;
    default:
      theta = {static_cast<double>(m.c), static_cast<double>(m.b), static_cast<double>(m.s)};
      break;
  }
  projectShift(theta, objective.shiftIndex());
  double a = 0.0;
  double k = 0.0;
  double value = objective.evaluate(theta, a, k);
  result.evaluations = 1;
  // Half the budget polishes the simplex result; the rest polishes the best
  // declining curve of a coarse grid, in case the simplex settled in another
  // valley.
  polish(objective, theta, value, options, options.maxEvaluations / 2, result.evaluations);
  Theta gridTheta{};
  double gridValue = coarseGrid(objective, gridTheta, result.evaluations);
  if (std::isfinite(gridValue)) {
    polish(objective, gridTheta, gridValue, options, options.maxEvaluations, result.evaluations);
    if (gridValue < value) {
      value = gridValue;
      theta = gridTheta;
    }
  }
  if (!std::isfinite(value)) return result;
  (void)objective.evaluate(theta, a, k);
  double b = 0.0;
  double c = 0.0;
  double s = 0.0;
  objective.unpack(theta, b, c, s);
  SimplexPoint point{};
  switch (problem.modelSelector) {
    case kModelNegExp:
      point = {static_cast<float>(a), static_cast<float>(b), static_cast<float>(k), 0.0f, 0.0f};
      break;
    case kModelGenExp:
      point = {static_cast<float>(a), static_cast<float>(b), static_cast<float>(s),
               static_cast<float>(k), 0.0f};
      break;
    default:
      point = {static_cast<float>(a), static_cast<float>(c), static_cast<float>(b),
               static_cast<float>(s), static_cast<float>(k)};
      break;
  }
  const float pointValue = gamoff(point, problem);
  if (pointValue < startValue * static_cast<float>(1.0 - options.minGain)) {
    result.point = point;
    result.value = pointValue;
    result.accepted = true;
  }
  return result;
}

SimplexFit gamoeba(const SimplexPoint& start, const SimplexProblem& problem, int32_t nCurve,
                   std::span<float> fitted, bool refine) {
  if (nCurve > static_cast<int32_t>(fitted.size())) {
    throw std::out_of_range("gamoeba: nCurve exceeds the curve length");
  }
  const int32_t p = simplexParamCount(problem.modelSelector);
  Simplex simplex;
  simplex.vertices[0] = start;
  for (int32_t j = p; j < kSimplexMaxParams; ++j) simplex.vertices[0][static_cast<size_t>(j)] = 0.0f;
  simplex.values[0] = gamoff(simplex.vertices[0], problem);
  for (int32_t i = 1; i <= p; ++i) {
    simplex.vertices[static_cast<size_t>(i)] = fixedVertex(problem.modelSelector, i);
    simplex.values[static_cast<size_t>(i)] = gamoff(simplex.vertices[static_cast<size_t>(i)], problem);
  }
  SimplexFit fit;
  amoeba(simplex, p, fit.evaluations, kSimplexTolerance, problem);
  fit.best = simplex.vertices[0];
  fit.bestValue = simplex.values[0];
  if (refine) {
    const RefineResult better = refineLeastSquares(fit.best, fit.bestValue, problem);
    fit.refineEvaluations = better.evaluations;
    if (better.accepted) {
      fit.best = better.point;
      fit.bestValue = better.value;
      fit.refined = true;
    }
  }

  const ModelParams m = modelParams(fit.best, problem.modelSelector);
  for (int32_t t = 1; t <= nCurve; ++t) {
    const float u = static_cast<float>(t) + m.s;
    const float logTerm = (m.c == 0.0f) ? 0.0f : m.c * std::log(u);
    fitted[static_cast<size_t>(t - 1)] = m.a * std::exp(m.b * u + logTerm) + m.k;
  }
  return fit;
}

}  // namespace kavrel
