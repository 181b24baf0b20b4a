// Spread-versus-level power transformation of a ring-width series: the slope b
// of ln|v(j+1) - v(j)| against ln v(j+1) gives the power p = 1 - b (kept in
// 0.05..1; below 0.05 the natural log is used), so that the year-to-year
// spread no longer grows with the level; the result is rescaled to the
// series' range before the transformation. All arithmetic is single precision.
// References: Tukey, Exploratory Data Analysis (1977), ch. 3 (spread versus
// level); Cook & Peters 1997, The Holocene 7:361-370 (power transformation of
// ring widths before detrending).
#pragma once

#include <cstdint>
#include <span>

namespace kavrel {

// Least-squares straight line y = intercept + slope * x.
struct TrendLine {
  float slope = 0.0f;
  float intercept = 0.0f;
};

// Least-squares line of y[0..n-1] on x[0..n-1], sums in single precision.
// A zero spread of x (n = 1, all x equal) gives slope 0 and the mean of y as
// intercept; n <= 0 gives slope 0 and intercept 0.
TrendLine trend2(int32_t n, std::span<const float> x, std::span<const float> y);

// Power transformation of ONE series in place (all its values; the caller
// passes the series' own length). Zero widths become 0.001 first.
// Missing rings (kMissingValue) stay missing: they take no part in the points,
// the ranges or the transform, and keep their places; a pair of successive
// rings with a missing one gives no point.
// A series with no usable point (m = 0: one value, all successive values
// equal, or every pair broken by missing rings) and a series whose transformed
// values are all equal (zero new range) are left exactly as passed.
void slpt1(std::span<float> series);

}  // namespace kavrel
