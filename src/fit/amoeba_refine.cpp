// Least-squares refinement of a simplex result: Levenberg-Marquardt in double
// precision from the simplex's point and from the best point of a coarse grid.
#include "fit/amoeba_refine.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace kavrel {

namespace {

// Residual sum of squares of the model as a function of its nonlinear
// parameters only (variable projection): a and k are solved by linear least
// squares for each trial. theta holds b (selector 1), b, s (2) or c, b, s (3).
class ProfileObjective {
 public:
  explicit ProfileObjective(const SimplexProblem& problem) : problem_(problem) {
    dims_ =
        problem.modelSelector == kModelNegExp ? 1 : (problem.modelSelector == kModelGenExp ? 2 : 3);
  }

  int dims() const { return dims_; }

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
  std::array<double, kObjectiveCapacity> work_;  // regressor values of one evaluation
};

using Theta = std::array<double, 3>;

// Model parameters in double precision, in the vertex order of the selector.
using Params = std::array<double, kSimplexMaxParams>;

// Roles of the vertex positions.
enum class Role { A, B, C, S, K };

std::array<Role, kSimplexMaxParams> roles(int32_t modelSelector) {
  switch (modelSelector) {
    case kModelNegExp:
      return {Role::A, Role::B, Role::K, Role::K, Role::K};
    case kModelGenExp:
      return {Role::A, Role::B, Role::S, Role::K, Role::K};
    default:
      return {Role::A, Role::C, Role::B, Role::S, Role::K};
  }
}

// Levenberg-Marquardt least squares on the full model in double precision,
// from `p`, with the shift kept >= 0. Returns the residual sum of squares at
// the final `p`; counts one evaluation per model pass.
double levenbergMarquardt(const SimplexProblem& problem, Params& p, int32_t maxIterations,
                          int32_t& evaluations) {
  const int32_t count = simplexParamCount(problem.modelSelector);
  const auto role = roles(problem.modelSelector);
  const int32_t n = problem.n;
  auto unpack = [&](const Params& q, double& a, double& b, double& c, double& sh, double& k) {
    a = b = sh = k = 0.0;
    c = problem.modelSelector == kModelGenExp ? 1.0 : 0.0;
    for (int32_t j = 0; j < count; ++j) {
      const double v = q[static_cast<size_t>(j)];
      switch (role[static_cast<size_t>(j)]) {
        case Role::A:
          a = v;
          break;
        case Role::B:
          b = v;
          break;
        case Role::C:
          c = v;
          break;
        case Role::S:
          sh = v;
          break;
        case Role::K:
          k = v;
          break;
      }
    }
  };
  auto rssAt = [&](const Params& q) {
    double a, b, c, sh, k;
    unpack(q, a, b, c, sh, k);
    ++evaluations;
    double sum = 0.0;
    for (int32_t i = 0; i < n; ++i) {
      const double u = static_cast<double>(problem.abscissa[static_cast<size_t>(i)]) + sh;
      if (!(u > 0.0)) return ProfileObjective::kInfinite;
      const double logTerm = (c == 0.0) ? 0.0 : c * std::log(u);
      const double r = static_cast<double>(problem.series[static_cast<size_t>(i)]) -
                       (a * std::exp(b * u + logTerm) + k);
      sum += r * r;
    }
    return std::isfinite(sum) ? sum : ProfileObjective::kInfinite;
  };
  auto clampShift = [&](Params& q) {
    for (int32_t j = 0; j < count; ++j) {
      if (role[static_cast<size_t>(j)] == Role::S && q[static_cast<size_t>(j)] < 0.0)
        q[static_cast<size_t>(j)] = 0.0;
    }
  };

  clampShift(p);
  double rss = rssAt(p);
  if (!std::isfinite(rss)) return rss;
  double lambda = 1.0e-3;
  for (int32_t iteration = 0; iteration < maxIterations; ++iteration) {
    // Normal equations J'J d = J'r at p.
    double jtj[kSimplexMaxParams][kSimplexMaxParams] = {};
    double jtr[kSimplexMaxParams] = {};
    double a, b, c, sh, k;
    unpack(p, a, b, c, sh, k);
    for (int32_t i = 0; i < n; ++i) {
      const double u = static_cast<double>(problem.abscissa[static_cast<size_t>(i)]) + sh;
      const double logU = std::log(u);
      const double g = std::exp(b * u + ((c == 0.0) ? 0.0 : c * logU));
      const double r = static_cast<double>(problem.series[static_cast<size_t>(i)]) - (a * g + k);
      double d[kSimplexMaxParams] = {};
      for (int32_t j = 0; j < count; ++j) {
        switch (role[static_cast<size_t>(j)]) {
          case Role::A:
            d[j] = g;
            break;
          case Role::B:
            d[j] = a * g * u;
            break;
          case Role::C:
            d[j] = a * g * logU;
            break;
          case Role::S:
            d[j] = a * g * (b + c / u);
            break;
          case Role::K:
            d[j] = 1.0;
            break;
        }
      }
      for (int32_t j = 0; j < count; ++j) {
        jtr[j] += d[j] * r;
        for (int32_t m = 0; m <= j; ++m) jtj[j][m] += d[j] * d[m];
      }
    }
    ++evaluations;
    bool stepped = false;
    while (lambda < 1.0e12) {
      // Cholesky solve of (J'J + lambda diag(J'J)) d = J'r.
      double l[kSimplexMaxParams][kSimplexMaxParams] = {};
      bool positive = true;
      for (int32_t j = 0; j < count && positive; ++j) {
        for (int32_t m = 0; m <= j; ++m) {
          double v = jtj[j][m];
          if (m == j) v += lambda * (jtj[j][j] > 0.0 ? jtj[j][j] : 1.0);
          for (int32_t q = 0; q < m; ++q) v -= l[j][q] * l[m][q];
          if (m == j) {
            if (!(v > 0.0)) {
              positive = false;
              break;
            }
            l[j][j] = std::sqrt(v);
          } else {
            l[j][m] = v / l[m][m];
          }
        }
      }
      if (!positive) {
        lambda *= 10.0;
        continue;
      }
      double z[kSimplexMaxParams] = {};
      for (int32_t j = 0; j < count; ++j) {
        double v = jtr[j];
        for (int32_t q = 0; q < j; ++q) v -= l[j][q] * z[q];
        z[j] = v / l[j][j];
      }
      Params trial = p;
      for (int32_t j = count - 1; j >= 0; --j) {
        double v = z[j];
        for (int32_t q = j + 1; q < count; ++q) v -= l[q][j] * trial[static_cast<size_t>(q)];
        trial[static_cast<size_t>(j)] = v / l[j][j];
      }
      for (int32_t j = 0; j < count; ++j)
        trial[static_cast<size_t>(j)] += p[static_cast<size_t>(j)];
      clampShift(trial);
      const double trialRss = rssAt(trial);
      if (trialRss < rss) {
        const double gain = (rss - trialRss) / rss;
        p = trial;
        rss = trialRss;
        lambda = std::max(lambda / 10.0, 1.0e-12);
        stepped = gain > 1.0e-13;
        break;
      }
      lambda *= 10.0;
    }
    if (!stepped) break;
  }
  return rss;
}

// Best point of a coarse grid over the nonlinear parameters (falling and rising
// rates, shifts 0 to 20, exponents 0.5 to 2), with a and k solved by linear
// least squares, in the selector's vertex order.
double coarseGrid(ProfileObjective& objective, int32_t modelSelector, Params& best,
                  int32_t& evaluations) {
  static constexpr std::array<double, 10> kRates{-0.1,  -0.03, -0.01, -0.003, -0.001,
                                                 0.001, 0.003, 0.01,  0.03,   0.1};
  static constexpr std::array<double, 3> kShifts{0.0, 3.0, 20.0};
  static constexpr std::array<double, 3> kExponents{0.5, 1.0, 2.0};
  const int dims = objective.dims();
  const size_t shiftCount = dims >= 2 ? kShifts.size() : 1;
  const size_t exponentCount = dims == 3 ? kExponents.size() : 1;
  double bestValue = ProfileObjective::kInfinite;
  for (double rate : kRates) {
    for (size_t si = 0; si < shiftCount; ++si) {
      for (size_t ci = 0; ci < exponentCount; ++ci) {
        Theta theta{};
        if (dims == 1) theta = {rate, 0.0, 0.0};
        if (dims == 2) theta = {rate, kShifts[si], 0.0};
        if (dims == 3) theta = {kExponents[ci], rate, kShifts[si]};
        double a = 0.0;
        double k = 0.0;
        const double value = objective.evaluate(theta, a, k);
        ++evaluations;
        if (value < bestValue) {
          bestValue = value;
          if (modelSelector == kModelNegExp) best = {a, rate, k, 0.0, 0.0};
          if (modelSelector == kModelGenExp) best = {a, rate, kShifts[si], k, 0.0};
          if (modelSelector == kModelHugershoff) best = {a, kExponents[ci], rate, kShifts[si], k};
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
  const int32_t count = simplexParamCount(problem.modelSelector);
  // Too few values to determine the parameters, or more than the work space holds.
  if (problem.n <= count || problem.n > kObjectiveCapacity) return result;
  // Two local searches: from the simplex result, and from the best curve of a
  // coarse grid, in case the simplex settled in another valley.
  Params fromSimplex{};
  for (int32_t j = 0; j < count; ++j)
    fromSimplex[static_cast<size_t>(j)] = static_cast<double>(start[static_cast<size_t>(j)]);
  double best = levenbergMarquardt(problem, fromSimplex, options.maxIterations, result.evaluations);
  Params bestParams = fromSimplex;
  ProfileObjective objective(problem);
  Params fromGrid{};
  if (options.gridStart &&
      std::isfinite(coarseGrid(objective, problem.modelSelector, fromGrid, result.evaluations))) {
    const double gridBest =
        levenbergMarquardt(problem, fromGrid, options.maxIterations, result.evaluations);
    if (gridBest < best) {
      best = gridBest;
      bestParams = fromGrid;
    }
  }
  if (!std::isfinite(best)) return result;
  SimplexPoint point{};
  for (int32_t j = 0; j < count; ++j)
    point[static_cast<size_t>(j)] = static_cast<float>(bestParams[static_cast<size_t>(j)]);
  // The single-precision point is judged by the simplex's own objective.
  const float pointValue = gamoff(point, problem);
  if (pointValue < startValue * static_cast<float>(1.0 - options.minGain)) {
    result.point = point;
    result.value = pointValue;
    result.accepted = true;
  }
  return result;
}

}  // namespace kavrel
