// Friedman's variable-span super smoother (Friedman 1984, "A variable span
// smoother", Stanford LCS Technical Report 5): local straight-line fits over
// three spans, the span chosen point by point by cross-validation and pushed
// towards the widest span by the bass control.
//
// Positions 1..n map to indices 0..n-1. Inputs and outputs are single
// precision; the running window sums of smooth() are double precision.
#pragma once

#include <cstdint>
#include <span>

namespace kavrel {

// Spans of the automatic mode, as fractions of the series length.
inline constexpr float kSupsmuTweeter = 0.05f;   // smallest span
inline constexpr float kSupsmuMidrange = 0.2f;   // middle span; also smooths residuals and spans
inline constexpr float kSupsmuWoofer = 0.5f;     // largest span
// Fewest values for which the smallest window (5 points) fits in the series.
inline constexpr int32_t kSupsmuMinValues = 5;
// Columns of scratch storage supsmu needs per value.
inline constexpr int32_t kSupsmuWorkColumns = 7;

// Super smoother of y[0..n-1] at abscissae x (strictly increasing), weights w
// (non-negative), n = y.size(); x and w hold at least n values.
//   span   > 0: one fixed span (fraction of n); <= 0: automatic choice
//   alpha  bass control: 0 < alpha <= 10 pulls the chosen spans towards the
//          widest span (10 the hardest); any other value leaves them alone
//   curve  at least n values (out)
//   work   at least 7 n values of scratch
// All x equal (n = 1 included): every curve value is the weighted mean of y.
// With fewer than 5 values the window covers the whole series, so the curve is
// the weighted least-squares line of all values; a console line says so.
void supsmu(std::span<const float> x, std::span<const float> y, std::span<const float> w,
            float span, float alpha, std::span<float> curve, std::span<float> work);

// Local linear smooth of y over a symmetric window of trunc(0.5 span n + 0.5)
// neighbours on each side (at least 2; the whole series when the window is
// longer), updated as the window slides. With wantResiduals, `residuals`
// receives the cross-validated absolute residuals. A slope is used only where
// the window's sum of squares of x exceeds slopeFloor.
void smooth(std::span<const float> x, std::span<const float> y, std::span<const float> w,
            float span, bool wantResiduals, float slopeFloor, std::span<float> curve,
            std::span<float> residuals);

}  // namespace kavrel
