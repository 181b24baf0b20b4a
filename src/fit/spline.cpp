#include "fit/spline.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>


namespace kavrel {

namespace {

// pi as the 50 % response rule states it, in double precision.
constexpr double kPi = 3.1415926535897936;

// Band rows: element two left of the diagonal, one left, the diagonal.
constexpr int kFarLeft = 0;
constexpr int kLeft = 1;
constexpr int kDiag = 2;

void reportNotPositiveDefinite(FitNotes* notes) {
  note(notes, ">> sbr spline: matrix not positive definite");
}

void reportBadStiffness(int32_t stiffness, FitNotes* notes) {
  note(notes, ">> sbr spline: stiffness " + std::to_string(stiffness) +
                  " is below 1 year; no spline fitted");
}

void stopTooLong() { throw FitFailure(kSplineTooLongMessage, false); }

// A workspace for one call, no larger than the series needs.
SplineWorkspace workspaceFor(size_t n) {
  return SplineWorkspace(static_cast<int32_t>(std::min<size_t>(n, kFitCapacity)));
}

}  // namespace

SplineWorkspace::SplineWorkspace(int32_t capacity)
    : capacity_(capacity),
      band_(3 * static_cast<size_t>(capacity > 2 ? capacity - 2 : 1)),
      rhs_(static_cast<size_t>(capacity > 2 ? capacity - 2 : 1)),
      p_(static_cast<size_t>(capacity > 2 ? capacity - 2 : 1)) {}

// Builds, factors and solves the band system A u = Q'y of order m = n - 2,
// A = Q'Q + diag-by-row(p) R, and forms the curve y - Q u.
struct SplineSolver {
  SplineWorkspace& ws;

  void setParameter(int32_t row, double p) { ws.p_[static_cast<size_t>(row)] = p; }

  double& band(int32_t row, int col) { return ws.band_[3 * static_cast<size_t>(row) + col]; }

  void buildMatrix(int32_t m) {
    for (int32_t i = 0; i < m; ++i) {
      const double p = ws.p_[i];
      band(i, kFarLeft) = 1.0;
      band(i, kLeft) = p / 3.0 - 4.0;
      band(i, kDiag) = 4.0 * p / 3.0 + 6.0;
    }
    // Elements that would lie left of the first column.
    band(0, kFarLeft) = 0.0;
    band(0, kLeft) = 0.0;
    if (m > 1) band(1, kFarLeft) = 0.0;
  }

  void buildRhs(std::span<const float> y, int32_t m) {
    for (int32_t i = 0; i < m; ++i) {
      ws.rhs_[i] = static_cast<double>(y[i]) - 2.0 * static_cast<double>(y[i + 1]) +
                   static_cast<double>(y[i + 2]);
    }
  }

  // Band Cholesky A = L L' in place; the diagonal holds 1 / L_ii. A pivot is
  // rejected when s / (16 m) does not register against the unreduced
  // diagonal, which also catches pivots that are not positive.
  bool factor(int32_t m) {
    const double scale = 16.0 * static_cast<double>(m);
    for (int32_t i = 0; i < m; ++i) {
      // Column i - 2 (band position 0), i - 1 (position 1), i (position 2).
      for (int col = 0; col <= kDiag; ++col) {
        const int32_t j = i - 2 + col;
        if (j < 0) continue;
        double s = band(i, col);
        // Sum over band columns k of row i left of column j: k = i-2 .. j-1.
        for (int32_t k = i - 2; k < j; ++k) {
          if (k < 0) continue;
          s -= band(i, k - (i - 2)) * band(j, k - (j - 2));
        }
        if (col < kDiag) {
          band(i, col) = s * band(j, kDiag);
        } else {
          const double a = band(i, kDiag);
          if (a + s / scale <= a) return false;
          band(i, kDiag) = 1.0 / std::sqrt(s);
        }
      }
    }
    return true;
  }

  void solve(int32_t m) {
    std::vector<double>& z = ws.rhs_;
    // Forward L z = r. Leading zeros of r stay zero.
    int32_t first = 0;
    while (first < m && z[first] == 0.0) ++first;
    for (int32_t i = first; i < m; ++i) {
      double s = z[i];
      if (i - 2 >= first) s -= band(i, kFarLeft) * z[i - 2];
      if (i - 1 >= first) s -= band(i, kLeft) * z[i - 1];
      z[i] = s * band(i, kDiag);
    }
    // Backward L' u = z.
    for (int32_t i = m - 1; i >= 0; --i) {
      double s = z[i];
      if (i + 1 < m) s -= band(i + 1, kLeft) * z[i + 1];
      if (i + 2 < m) s -= band(i + 2, kFarLeft) * z[i + 2];
      z[i] = s * band(i, kDiag);
    }
  }

  // curve = y - Q u; the correction is formed in double and rounded once.
  void correct(std::span<const float> y, std::span<float> curve, int32_t n) {
    const int32_t m = n - 2;
    const std::vector<double>& u = ws.rhs_;
    // v_i = u_{i-2} - 2 u_{i-1} + u_i, with the terms outside 1..m absent.
    for (int32_t i = 0; i < n; ++i) {
      double v = 0.0;
      if (i >= 2) v = u[i - 2];
      if (i >= 1 && i - 1 < m) v -= 2.0 * u[i - 1];
      if (i < m) v += u[i];
      curve[i] = y[i] - static_cast<float>(v);
    }
  }

  SplineStatus run(std::span<const float> y, std::span<float> curve) {
    const auto n = static_cast<int32_t>(y.size());
    const int32_t m = n - 2;
    buildMatrix(m);
    buildRhs(y, m);
    if (!factor(m)) {
      curve[0] = kSplineFailed;
      reportNotPositiveDefinite(ws.notes);
      return SplineStatus::notPositiveDefinite;
    }
    solve(m);
    correct(y, curve, n);
    return SplineStatus::ok;
  }
};

double splineResponseParameter(int32_t stiffness) {
  const double w = 2.0 * kPi / static_cast<double>(stiffness);
  const double c = std::cos(w);
  return 6.0 * (c - 1.0) * (c - 1.0) / (c + 2.0);
}

SplineStatus spline(std::span<const float> series, std::span<float> curve, float& smoothingParam,
                    int32_t stiffness, SplineWorkspace& work) {
  const auto n = static_cast<int32_t>(series.size());
  assert(curve.size() >= series.size());
  if (n < kSplineMinValues) {
    if (!curve.empty()) curve[0] = kSplineTooShort;
    return SplineStatus::tooShort;
  }
  if (n > work.capacity()) stopTooLong();
  if (stiffness < 1) {
    curve[0] = kSplineFailed;
    reportBadStiffness(stiffness, work.notes);
    return SplineStatus::badStiffness;
  }
  const double p = splineResponseParameter(stiffness);
  smoothingParam = static_cast<float>(p);
  SplineSolver solver{work};
  for (int32_t i = 0; i < n - 2; ++i) solver.setParameter(i, p);
  return solver.run(series, curve);
}

SplineStatus spline(std::span<const float> series, std::span<float> curve, float& smoothingParam,
                    int32_t stiffness) {
  SplineWorkspace work = workspaceFor(series.size());
  return spline(series, curve, smoothingParam, stiffness, work);
}

SplineStatus spline2(std::span<const float> series, std::span<float> curve,
                     std::span<const int32_t> stiffnessByRing, SplineWorkspace& work) {
  const auto n = static_cast<int32_t>(series.size());
  assert(curve.size() >= series.size());
  if (n < kSplineMinValues) {
    if (!curve.empty()) curve[0] = kSplineTooShort;
    return SplineStatus::tooShort;
  }
  if (n > work.capacity()) stopTooLong();
  const int32_t m = n - 2;
  assert(stiffnessByRing.size() >= static_cast<size_t>(m));
  for (int32_t i = 0; i < m; ++i) {
    if (stiffnessByRing[i] < 1) {
      curve[0] = kSplineFailed;
      reportBadStiffness(stiffnessByRing[i], work.notes);
      return SplineStatus::badStiffness;
    }
  }
  SplineSolver solver{work};
  for (int32_t i = 0; i < m; ++i) solver.setParameter(i, splineResponseParameter(stiffnessByRing[i]));
  return solver.run(series, curve);
}

SplineStatus spline2(std::span<const float> series, std::span<float> curve,
                     std::span<const int32_t> stiffnessByRing) {
  SplineWorkspace work = workspaceFor(series.size());
  return spline2(series, curve, stiffnessByRing, work);
}

SplineStatus detail::splineWithParameters(std::span<const float> series, std::span<float> curve,
                                          std::span<const double> p, SplineWorkspace& work) {
  const auto n = static_cast<int32_t>(series.size());
  if (n < kSplineMinValues) {
    if (!curve.empty()) curve[0] = kSplineTooShort;
    return SplineStatus::tooShort;
  }
  if (n > work.capacity()) stopTooLong();
  SplineSolver solver{work};
  for (int32_t i = 0; i < n - 2; ++i) solver.setParameter(i, p[static_cast<size_t>(i)]);
  return solver.run(series, curve);
}

void lsmake(int32_t n, int32_t startStiffness, std::span<int32_t> stiffnessByRing) {
  assert(n <= 0 || stiffnessByRing.size() >= static_cast<size_t>(n));
  // Held at the largest integer rather than overflowing: such a stiffness is
  // a straight line already.
  for (int32_t i = 0; i < n; ++i) {
    stiffnessByRing[i] = static_cast<int32_t>(
        std::min<int64_t>(static_cast<int64_t>(startStiffness) + i, INT32_MAX));
  }
}

}  // namespace kavrel
