// Growth-curve fits inside their domain: a grid over the nonlinear parameters
// on run means of the data finds the valleys, a bounded pattern search on the
// data finishes the lowest of them. a and k come from non-negative least
// squares at every point, so the search moves over b, s and c alone.
#include "fit/growth_domain.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

namespace kavrel {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Search coordinates, in which the valleys of the objective run nearly
// straight. With U = s + (n + 1)/2 the middle of the shifted range, the data
// fix the slope beta1 = b + c/U and the curvature beta2 = c/U^2 of
// ln(u^c*exp(b*u)) there, more than b, c and s themselves:
//   z0 = ln(1 - b*n) for the negative exponential, else beta1*n;
//   z1 = ln(1 + s);
//   z2 = beta2*n^2 (Hugershoff).
// Points beyond b = 0 or c = 10 map onto the bound, so the objective is
// flat there and every point evaluated lies in the domain.
using Z = std::array<double, 3>;

// Largest decline of the regressor over the range, in e-folds per value: far
// beyond the point where only the first value is still above the asymptote.
constexpr double kSteepest = 80.0;
// Largest |ln| of the regressor's peak u^c*exp(b*u); the float range ends
// near e^88.
constexpr double kRepresentable = 80.0;

// Grid: declines d, shifts from 0.5 up by a factor 2, Hugershoff exponents.
constexpr std::array<double, 17> kGridDeclines{0.0, 0.05, 0.15, 0.3, 0.6, 1.0,  1.5,  2.2,  3.2,
                                               4.5, 6.5,  9.0,  13.0, 20.0, 35.0, 70.0, 200.0};
constexpr std::array<double, 13> kGridExponents{0.0, 0.25, 0.5, 0.75, 1.0, 1.5, 2.0,
                                                3.0, 4.0,  5.5, 7.0,  8.5, 10.0};
// Grid valleys searched coarsely (on run means), and the lowest of their ends
// finished on the data.
constexpr size_t kFinished = 3;
constexpr size_t kFinishedOnData = 1;
// Pattern search: smallest step (relative to the first) and evaluation budget.
// The fine last step makes a fit insensitive to last-digit changes of the
// values (a class mean summed in another order gives the same curve to 1e-6).
constexpr double kSmallestStep = 1.0 / 1048576.0;
constexpr double kCoarseStep = 1.0 / 256.0;
constexpr int32_t kCreepMoves = 24;
constexpr double kCreep = 1.0e-7;
// Relative distance from a bound that counts as on it.
constexpr double kSnap = 1.0e-9;
constexpr int32_t kSearchEvaluations = 4000;
// Values per run of the grid's run means grow by one every this many
// positions from the nearer end; short series are gridded on the data.
constexpr int32_t kRunGrowth = 4;
constexpr int32_t kRunsFrom = 120;

bool hasShift(int32_t selector) { return selector != kModelNegExp; }
size_t dims(int32_t selector) {
  return selector == kModelNegExp ? 1 : (selector == kModelGenExp ? 2 : 3);
}

// Weighted points (t, y, w): the data, or means of runs of them.
struct Points {
  std::vector<double> t, y, w;
  double weight = 0.0;
  double meanY = 0.0;
  double syy = 0.0;  // weighted sum of squares about the mean

  void finish() {
    weight = 0.0;
    double sum = 0.0;
    for (size_t i = 0; i < t.size(); ++i) {
      weight += w[i];
      sum += w[i] * y[i];
    }
    meanY = sum / weight;
    syy = 0.0;
    for (size_t i = 0; i < t.size(); ++i) syy += w[i] * (y[i] - meanY) * (y[i] - meanY);
  }
};

Points dataPoints(std::span<const float> series, int32_t n) {
  Points p;
  for (int32_t i = 0; i < n; ++i) {
    p.t.push_back(static_cast<double>(i + 1));
    p.y.push_back(static_cast<double>(series[static_cast<size_t>(i)]));
    p.w.push_back(1.0);
  }
  p.finish();
  return p;
}

// Run means, one value long at both ends where growth curves bend most.
Points runPoints(const Points& data) {
  Points p;
  const size_t n = data.t.size();
  for (size_t i = 0; i < n;) {
    const size_t length =
        std::max<size_t>(1, std::min(i + 1, n - i) / static_cast<size_t>(kRunGrowth));
    const size_t end = std::min(n, i + length);
    double st = 0.0;
    double sy = 0.0;
    for (size_t j = i; j < end; ++j) {
      st += data.t[j];
      sy += data.y[j];
    }
    const auto count = static_cast<double>(end - i);
    p.t.push_back(st / count);
    p.y.push_back(sy / count);
    p.w.push_back(count);
    i = end;
  }
  p.finish();
  return p;
}

// Result of one evaluation: the residual sum of squares with a and k from
// non-negative least squares; logA = ln a (a > 0 only).
struct Eval {
  double rss = kInf;
  double logA = -kInf;  // -inf: a = 0
  double k = 0.0;
  double b = 0.0, c = 0.0, s = 0.0;
};

class Profile {
 public:
  Profile(int32_t selector, int32_t n)
      : selector_(selector),
        n_(static_cast<double>(n)),
        shiftMax_(kDomainShiftLimit * static_cast<double>(n)) {
    const double middle = 0.5 * (n_ + 1.0);
    const double steepest = kSteepest * n_;
    switch (selector) {
      case kModelNegExp:
        lower_ = {0.0, 0.0, 0.0};
        upper_ = {std::log1p(steepest), 0.0, 0.0};
        break;
      case kModelGenExp:
        lower_ = {-steepest, 0.0, 0.0};
        upper_ = {n_ / middle, std::log1p(shiftMax_), 0.0};
        break;
      default:
        lower_ = {-steepest, 0.0, 0.0};
        upper_ = {kDomainExponentLimit * n_ / middle, std::log1p(shiftMax_),
                  kDomainExponentLimit * (n_ / middle) * (n_ / middle)};
        break;
    }
  }

  Z clamp(Z z) const {
    for (size_t i = 0; i < 3; ++i) z[i] = std::clamp(z[i], lower_[i], upper_[i]);
    return z;
  }
  const Z& lower() const { return lower_; }
  const Z& upper() const { return upper_; }

  // Model parameters b, c and s of a search point, on the domain.
  void natural(const Z& z, double& b, double& c, double& s) const {
    if (selector_ == kModelNegExp) {
      s = 0.0;
      c = 0.0;
      b = z[0] <= 0.0 ? 0.0 : -std::expm1(z[0]) / n_;
      return;
    }
    s = z[1] >= upper_[1] ? shiftMax_ : std::clamp(std::expm1(z[1]), 0.0, shiftMax_);
    const double u = s + 0.5 * (n_ + 1.0);
    c = 1.0;
    if (selector_ == kModelHugershoff)
      c = std::clamp(z[2] * (u / n_) * (u / n_), 0.0, kDomainExponentLimit);
    b = std::clamp(z[0] / n_ - c / u, -kSteepest, 0.0);
  }
  Z search(double b, double c, double s) const {
    if (selector_ == kModelNegExp) return clamp({std::log1p(-b * n_), 0.0, 0.0});
    const double u = s + 0.5 * (n_ + 1.0);
    return clamp({(b + c / u) * n_, std::log1p(s), c * (n_ / u) * (n_ / u)});
  }

  Eval evaluate(const Points& p, const Z& z) {
    Eval e;
    natural(z, e.b, e.c, e.s);
    const size_t m = p.t.size();
    g_.resize(m);
    if (e.c != 0.0 && (&p != logPoints_ || e.s != logShift_)) {
      logU_.resize(m);
      for (size_t i = 0; i < m; ++i) logU_[i] = std::log(p.t[i] + e.s);
      logPoints_ = &p;
      logShift_ = e.s;
    }
    double top = -kInf;
    for (size_t i = 0; i < m; ++i) {
      const double l = e.b * (p.t[i] + e.s) + (e.c == 0.0 ? 0.0 : e.c * logU_[i]);
      g_[i] = l;
      top = std::max(top, l);
    }
    // Beyond kRepresentable the amplitude, which the curve's parameters carry
    // in single precision, would leave the float range.
    if (!(std::fabs(top) <= kRepresentable)) {
      e.rss = kInf;
      return e;
    }
    double sg = 0.0;
    for (size_t i = 0; i < m; ++i) {
      g_[i] = std::exp(g_[i] - top);
      sg += p.w[i] * g_[i];
    }
    const double meanG = sg / p.weight;
    double sgg = 0.0;
    double sgy = 0.0;
    for (size_t i = 0; i < m; ++i) {
      const double dg = g_[i] - meanG;
      sgg += p.w[i] * dg * dg;
      sgy += p.w[i] * dg * (p.y[i] - p.meanY);
    }
    // Flat curve at the mean (or at 0 for a negative mean).
    const double flatK = std::max(p.meanY, 0.0);
    e.k = flatK;
    e.rss = p.syy + p.weight * (p.meanY - flatK) * (p.meanY - flatK);
    // A regressor that is constant to rounding carries no shape.
    if (!(sgg > 1.0e-13 * p.weight * (meanG * meanG + 1.0e-300))) return e;
    const double a = sgy / sgg;
    const double k = p.meanY - a * meanG;
    if (a > 0.0 && k >= 0.0) {
      e.rss = std::max(p.syy - a * sgy, 0.0);
      e.logA = std::log(a) - top;
      e.k = k;
      return e;
    }
    // The constrained optimum lies on a = 0 (the flat curve) or on k = 0.
    const double sgRaw = sgg + p.weight * meanG * meanG;  // sum w g^2
    const double syRaw = sgy + p.weight * meanG * p.meanY;  // sum w g y
    if (syRaw > 0.0) {
      const double a0 = syRaw / sgRaw;
      const double rss0 = std::max(p.syy + p.weight * p.meanY * p.meanY - a0 * syRaw, 0.0);
      if (rss0 < e.rss) {
        e.rss = rss0;
        e.logA = std::log(a0) - top;
        e.k = 0.0;
      }
    }
    return e;
  }

 private:
  int32_t selector_;
  double n_;
  double shiftMax_;
  Z lower_{}, upper_{};
  std::vector<double> g_;
  // ln(t + s) of the last points and shift evaluated with c != 0.
  std::vector<double> logU_;
  const Points* logPoints_ = nullptr;
  double logShift_ = -1.0;
};

// Pattern search (Hooke, R. & Jeeves, T.A. 1961, "Direct search" solution of
// numerical and statistical problems, J. ACM 8: 212-229) from z: exploratory
// steps along each coordinate, then pattern moves along the resulting
// displacement, which lengthen while they keep lowering the objective, so
// that the search also follows oblique and curved valleys; when no step
// helps, the steps halve. Points beyond a bound are moved onto it.
Eval patternSearch(Profile& profile, const Points& data, size_t d, Z& z, Eval best, Z step,
                   double scale, double smallest) {
  const double floor = 1.0e-15 * (data.syy + data.weight * data.meanY * data.meanY);
  int32_t evaluations = 0;
  const auto better = [&](const Eval& e, const Eval& than) { return e.rss < than.rss - floor; };
  // Exploratory steps around x (value fx) at the current scale.
  const auto explore = [&](Z x, Eval& fx) {
    for (size_t i = 0; i < d; ++i) {
      for (double sign : {1.0, -1.0}) {
        Z trial = x;
        trial[i] += sign * scale * step[i];
        trial = profile.clamp(trial);
        if (trial == x) continue;
        const Eval e = profile.evaluate(data, trial);
        ++evaluations;
        if (better(e, fx)) {
          x = trial;
          fx = e;
          break;
        }
      }
    }
    return x;
  };
  // A search that only creeps along a valley floor ends: the gain of the
  // last kCreepMoves moves together is below kCreep of the objective.
  int32_t moves = 0;
  double before = best.rss;
  while (scale >= smallest && evaluations < kSearchEvaluations) {
    Eval fx = best;
    Z x = explore(z, fx);
    if (!better(fx, best)) {
      scale *= 0.5;
      continue;
    }
    Z base = z;
    z = x;
    best = fx;
    while (evaluations < kSearchEvaluations) {
      if (++moves == kCreepMoves) {
        if (before - best.rss < kCreep * best.rss) return best;
        moves = 0;
        before = best.rss;
      }
      Z p = z;
      for (size_t i = 0; i < d; ++i) p[i] += z[i] - base[i];
      p = profile.clamp(p);
      Eval fp = profile.evaluate(data, p);
      ++evaluations;
      const Z q = explore(p, fp);
      if (!better(fp, best)) break;
      base = z;
      z = q;
      best = fp;
    }
  }
  return best;
}

// Grid nodes no higher than any neighbour, lowest first.
std::vector<Z> gridValleys(Profile& profile, const Points& points, int32_t selector, int32_t n) {
  // Rates as declines -b*n of the exponent over the series.
  std::vector<double> rates;
  for (double d : kGridDeclines) rates.push_back(-d / static_cast<double>(n));
  std::vector<double> shifts{0.0};
  if (hasShift(selector)) {
    for (double s = 0.5; s < kDomainShiftLimit * n; s *= 2.0) shifts.push_back(s);
    shifts.push_back(kDomainShiftLimit * n);
  }
  std::vector<double> exponents{selector == kModelGenExp ? 1.0 : 0.0};
  if (selector == kModelHugershoff) exponents.assign(kGridExponents.begin(), kGridExponents.end());
  const size_t n0 = rates.size(), n1 = shifts.size(), n2 = exponents.size();
  std::vector<double> value(n0 * n1 * n2);
  std::vector<Z> at(value.size());
  const auto node = [&](size_t i, size_t j, size_t l) { return (i * n1 + j) * n2 + l; };
  for (size_t i = 0; i < n0; ++i)
    for (size_t j = 0; j < n1; ++j)
      for (size_t l = 0; l < n2; ++l) {
        const size_t q = node(i, j, l);
        at[q] = profile.search(rates[i], exponents[l], shifts[j]);
        value[q] = profile.evaluate(points, at[q]).rss;
      }
  std::vector<std::pair<double, Z>> valleys;
  for (size_t i = 0; i < n0; ++i)
    for (size_t j = 0; j < n1; ++j)
      for (size_t l = 0; l < n2; ++l) {
        const double v = value[node(i, j, l)];
        if (!std::isfinite(v)) continue;
        bool lowest = true;
        for (size_t di = 0; di < 3 && lowest; ++di)
          for (size_t dj = 0; dj < 3 && lowest; ++dj)
            for (size_t dl = 0; dl < 3 && lowest; ++dl) {
              const size_t i2 = i + di, j2 = j + dj, l2 = l + dl;
              if (i2 < 1 || j2 < 1 || l2 < 1 || i2 > n0 || j2 > n1 || l2 > n2) continue;
              lowest = value[node(i2 - 1, j2 - 1, l2 - 1)] >= v;
            }
        if (lowest) valleys.emplace_back(v, at[node(i, j, l)]);
      }
  std::sort(valleys.begin(), valleys.end(),
            [](const auto& x, const auto& y) { return x.first < y.first; });
  std::vector<Z> out;
  for (size_t i = 0; i < valleys.size() && i < kFinished; ++i) out.push_back(valleys[i].second);
  return out;
}

}  // namespace

bool inGrowthDomain(const GrowthCurve& m, int32_t modelSelector, int32_t n) {
  const auto finite = [](double x) { return std::isfinite(x); };
  if (!finite(m.a) || !finite(m.b) || !finite(m.c) || !finite(m.s) || !finite(m.k)) return false;
  if (m.a < 0.0 || m.b > 0.0 || m.k < 0.0) return false;
  if (m.s < 0.0 || m.s > kDomainShiftLimit * static_cast<double>(n)) return false;
  if (modelSelector == kModelHugershoff) return m.c >= 0.0 && m.c <= kDomainExponentLimit;
  return m.c == (modelSelector == kModelGenExp ? 1.0 : 0.0) &&
         (modelSelector != kModelNegExp || m.s == 0.0);
}

void writeGrowthCurve(const GrowthCurve& m, std::span<float> fitted, int32_t count) {
  if (count > static_cast<int32_t>(fitted.size()))
    throw std::out_of_range("writeGrowthCurve: count exceeds the curve length");
  // a*u^c*exp(b*u) as one exponential, so that a huge a and a tiny power
  // never meet in one product.
  const double logA = m.a > 0.0 ? std::log(m.a) : -kInf;
  for (int32_t t = 1; t <= count; ++t) {
    const double u = static_cast<double>(t) + m.s;
    double f = m.k;
    if (m.a > 0.0) f += std::exp(logA + m.b * u + (m.c == 0.0 ? 0.0 : m.c * std::log(u)));
    fitted[static_cast<size_t>(t - 1)] = static_cast<float>(f);
  }
}

DomainFit fitGrowthDomain(int32_t modelSelector, std::span<const float> series, int32_t n,
                          const GrowthCurve* start, bool coarseOnly) {
  if (n < 1 || n > static_cast<int32_t>(series.size()))
    throw std::out_of_range("fitGrowthDomain: n must be 1..series length");
  (void)simplexParamCount(modelSelector);  // rejects an unknown selector
  const Points data = dataPoints(series, n);
  Profile profile(modelSelector, n);
  const size_t d = dims(modelSelector);
  std::vector<Z> starts;
  if (start != nullptr && inGrowthDomain(*start, modelSelector, n))
    starts.push_back(profile.search(start->b, start->c, start->s));
  const Points runs = n >= kRunsFrom ? runPoints(data) : Points{};
  const Points& coarse = n >= kRunsFrom ? runs : data;
  for (const Z& z : gridValleys(profile, coarse, modelSelector, n)) starts.push_back(z);

  // Steps of about a grid spacing.
  const Z step{modelSelector == kModelNegExp ? 0.35 : 0.5, 0.7, 1.0};
  Eval best;
  // Every start searched coarsely on the run means; the lowest kFinishedOnData
  // of their ends finished on the data.
  std::vector<std::pair<double, Z>> ends;
  for (Z z : starts) {
    const Eval e = &coarse != &data
                       ? patternSearch(profile, coarse, d, z, profile.evaluate(coarse, z), step,
                                       1.0, kCoarseStep)
                       : Eval{};
    ends.emplace_back(e.rss, z);
  }
  std::stable_sort(ends.begin(), ends.end(),
                   [](const auto& x, const auto& y) { return x.first < y.first; });
  if (&coarse != &data && ends.size() > kFinishedOnData) ends.resize(kFinishedOnData);
  if (coarseOnly) {
    // The lowest end as it stands (on run means), or one coarse search on
    // the data of a short series.
    if (!ends.empty()) ends.resize(1);
    for (auto& [value, z] : ends) {
      best = &coarse != &data ? profile.evaluate(data, z)
                              : patternSearch(profile, data, d, z, profile.evaluate(data, z), step,
                                              1.0, kCoarseStep);
    }
  }
  for (auto& [value, z] : ends) {
    if (coarseOnly) break;
    const Eval e = patternSearch(profile, data, d, z, profile.evaluate(data, z), step,
                                 &coarse != &data ? 4.0 * kCoarseStep : 1.0, kSmallestStep);
    if (e.rss < best.rss) best = e;
  }

  DomainFit fit;
  if (!std::isfinite(best.rss)) {
    // No point could be evaluated: the flat curve at the mean.
    best = profile.evaluate(data, Z{});
  }
  fit.flat = !(best.logA > -kInf);
  GrowthCurve& m = fit.curve;
  m.k = best.k;
  if (!fit.flat) {
    m.a = std::exp(best.logA);
    m.b = best.b;
    m.c = best.c;
    m.s = best.s;
  }
  if (!fit.flat && !(m.a > 0.0 && std::isfinite(m.a))) {
    fit.flat = true;
    m = {0.0, 0.0, 0.0, 0.0, best.k};
  }
  // Parameters within rounding of a bound are on it.
  const double shiftMax = kDomainShiftLimit * static_cast<double>(n);
  if (!fit.flat) {
    if (-m.b * (static_cast<double>(n) + m.s) < kSnap) m.b = 0.0;
    if (m.s < kSnap) m.s = 0.0;
    if (m.s > shiftMax * (1.0 - kSnap)) m.s = shiftMax;
    if (modelSelector == kModelHugershoff && m.c < kSnap) m.c = 0.0;
    if (modelSelector == kModelHugershoff && m.c > kDomainExponentLimit * (1.0 - kSnap))
      m.c = kDomainExponentLimit;
  }
  // With c = 0 the shift only scales the amplitude: fold it into a.
  if (!fit.flat && modelSelector == kModelHugershoff && m.c == 0.0 && m.s != 0.0) {
    const double a = std::exp(std::log(m.a) + m.b * m.s);
    if (a > 0.0 && std::isfinite(a)) {
      m.a = a;
      m.s = 0.0;
    }
  }
  // The reported residual sum of squares, on the values.
  fit.rss = 0.0;
  {
    std::vector<float> curve(static_cast<size_t>(n));
    writeGrowthCurve(m, curve, n);
    for (int32_t i = 0; i < n; ++i) {
      const double r = static_cast<double>(series[static_cast<size_t>(i)]) -
                       static_cast<double>(curve[static_cast<size_t>(i)]);
      fit.rss += r * r;
    }
  }
  if (m.a == 0.0) fit.atBound.emplace_back("a");
  if (m.b == 0.0) fit.atBound.emplace_back("b");
  if (modelSelector == kModelHugershoff && (m.c == 0.0 || m.c == kDomainExponentLimit))
    fit.atBound.emplace_back("c");
  if (hasShift(modelSelector) && (m.s == 0.0 || m.s == shiftMax)) fit.atBound.emplace_back("s");
  if (m.k == 0.0) fit.atBound.emplace_back("k");
  return fit;
}

}  // namespace kavrel
