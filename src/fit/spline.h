// Cubic smoothing splines for equally spaced values (one value per ring):
// a fixed stiffness for the whole series (`spline`) or one stiffness per ring
// (`spline2`, the age-dependent spline), with the stiffness given as the period
// in years at which the curve keeps half the amplitude (Cook & Peters 1981,
// Tree-Ring Bulletin 41:45-53; Reinsch 1967, Numer. Math. 10:177-183).
//
// Positions 1..n map to indices 0..n-1. The banded system is built and solved
// in double precision; inputs are widened from single precision and the curve
// is rounded back.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "fit/detrend2.h"
#include "fit/fit_notes.h"

namespace kavrel {

// Written into curve[0] when the series has fewer than 4 values.
inline constexpr float kSplineTooShort = -9998.0f;
// Written into curve[0] when the system is rejected (a pivot that is not
// positive) or the stiffness is below 1 year.
inline constexpr float kSplineFailed = -9999.0f;
// Message of the FitFailure raised for a series longer than the spline's capacity.
inline constexpr const char* kSplineTooLongMessage =
    "\n*** series too long for spline subroutine ***\n"
    "*** enlarge mxy parameter in subroutine ***\n";
// Fewest values a spline accepts.
inline constexpr int32_t kSplineMinValues = 4;

// Outcome of a spline fit.
enum class SplineStatus {
  ok,                   // curve written
  tooShort,             // fewer than 4 values: curve[0] = kSplineTooShort, nothing else written
  notPositiveDefinite,  // pivot rejected: curve[0] = kSplineFailed, a note written
  badStiffness,         // a stiffness below 1 year: curve[0] = kSplineFailed, a note written
};

// Band matrix, right-hand side and smoothing parameters of one fit, sized
// once for up to `capacity` values and reused by every call of one thread.
class SplineWorkspace {
 public:
  explicit SplineWorkspace(int32_t capacity = kFitCapacity);
  int32_t capacity() const { return capacity_; }
  FitNotes* notes = nullptr;  // receives the spline's lines (none when null)

 private:
  friend struct SplineSolver;
  int32_t capacity_;
  std::vector<double> band_;  // per row: two left of the diagonal, one left, diagonal
  std::vector<double> rhs_;   // right-hand side, then forward result, then solution
  std::vector<double> p_;     // smoothing parameter of each row
};

// Smoothing parameter p of the 50 % response rule for a stiffness of
// `stiffness` years: p = 6 (cos w - 1)^2 / (cos w + 2), w = 2 pi / stiffness.
// 1 year gives 0, 2 years 24; p falls towards 0 as the stiffness grows.
// Requires stiffness != 0.
double splineResponseParameter(int32_t stiffness);

// Smoothing spline of series[0..n-1] (n = series.size()) with one stiffness in
// years (at least 1) into curve[0..n-1]; smoothingParam receives p rounded to
// single precision (left alone when n < 4 or the stiffness is below 1).
// More than the workspace capacity (5000 values without a workspace) raises
// FitFailure with the two-line "series too long" message. Without a
// workspace, each call allocates its own and notes are dropped.
[[nodiscard]] SplineStatus spline(std::span<const float> series, std::span<float> curve,
                                  float& smoothingParam, int32_t stiffness);
[[nodiscard]] SplineStatus spline(std::span<const float> series, std::span<float> curve,
                                  float& smoothingParam, int32_t stiffness,
                                  SplineWorkspace& work);

// Age-dependent smoothing spline: row i of the system uses its own stiffness
// stiffnessByRing[i] (years, at least 1; entries 0..n-3 are used). With every
// entry equal to T it gives the same curve as spline() with stiffness T.
[[nodiscard]] SplineStatus spline2(std::span<const float> series, std::span<float> curve,
                                   std::span<const int32_t> stiffnessByRing);
[[nodiscard]] SplineStatus spline2(std::span<const float> series, std::span<float> curve,
                                   std::span<const int32_t> stiffnessByRing,
                                   SplineWorkspace& work);

namespace detail {
// The spline with the smoothing parameter of each row given directly
// (p[0..n-3]), so tests can reach the rejected-pivot path that the 50 %
// response rule never produces.
[[nodiscard]] SplineStatus splineWithParameters(std::span<const float> series,
                                                std::span<float> curve,
                                                std::span<const double> p,
                                                SplineWorkspace& work);
}  // namespace detail

// Per-ring stiffness of the age-dependent spline: startStiffness,
// startStiffness + 1, ..., startStiffness + n - 1 into stiffnessByRing[0..n-1].
void lsmake(int32_t n, int32_t startStiffness, std::span<int32_t> stiffnessByRing);

}  // namespace kavrel
