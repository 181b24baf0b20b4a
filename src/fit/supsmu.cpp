#include "fit/supsmu.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace kavrel {

namespace {

// Start of the running minimum of smoothed residuals.
constexpr float kBig = 1.0e20f;
// Floor of the residual ratio in the bass adjustment.
constexpr float kSmall = 1.0e-7f;
// Relative size of the smallest slope denominator.
constexpr float kEps = 1.0e-3f;

inline double wide(float v) { return static_cast<double>(v); }

// Weighted window statistics, kept in double precision as points enter and
// leave the window.
struct Window {
  double weight = 0.0;  // total weight W
  double mx = 0.0;      // weighted mean of x
  double my = 0.0;      // weighted mean of y
  double sxx = 0.0;     // weighted sum of squares of x about mx
  double sxy = 0.0;     // weighted sum of cross-products about (mx, my)

  // The sums are updated with the new means.
  void add(double xi, double yi, double wi) {
    const double w0 = weight;
    weight = w0 + wi;
    if (weight > 0.0) {
      mx = (w0 * mx + wi * xi) / weight;
      my = (w0 * my + wi * yi) / weight;
    }
    const double t = w0 > 0.0 ? weight * wi * (xi - mx) / w0 : 0.0;
    sxx += t * (xi - mx);
    sxy += t * (yi - my);
  }

  // The sums are updated with the old means, then the means.
  void remove(double xo, double yo, double wo) {
    const double w0 = weight;
    weight = w0 - wo;
    const double t = weight > 0.0 ? w0 * wo * (xo - mx) / weight : 0.0;
    sxx -= t * (xo - mx);
    sxy -= t * (yo - my);
    if (weight > 0.0) {
      mx = (w0 * mx - wo * xo) / weight;
      my = (w0 * my - wo * yo) / weight;
    }
  }
};

}  // namespace

void smooth(std::span<const float> x, std::span<const float> y, std::span<const float> w,
            float span, bool wantResiduals, float slopeFloor, std::span<float> curve,
            std::span<float> residuals) {
  const auto n = static_cast<int32_t>(y.size());
  assert(x.size() >= y.size() && w.size() >= y.size() && curve.size() >= y.size());
  assert(!wantResiduals || residuals.size() >= y.size());
  if (n <= 0) return;
  // Half-window trunc(0.5 span n + 0.5), at least 2; compared before the
  // conversion so that a huge span cannot overflow it.
  const float half = 0.5f * span * static_cast<float>(n) + 0.5f;
  int32_t b = 2;
  if (half >= static_cast<float>(n)) {
    b = n;
  } else if (half >= 2.0f) {
    b = static_cast<int32_t>(half);
  }

  // The first window; a window longer than the series is the whole series.
  Window win;
  const int32_t first = std::min(2 * b + 1, n);
  for (int32_t i = 0; i < first; ++i) win.add(wide(x[i]), wide(y[i]), wide(w[i]));

  for (int32_t j = 0; j < n; ++j) {
    // 0-based: the point leaving is j - b - 1, the point entering j + b.
    const int32_t out = j - b - 1;
    const int32_t in = j + b;
    if (out >= 0 && in < n) {
      win.remove(wide(x[out]), wide(y[out]), wide(w[out]));
      win.add(wide(x[in]), wide(y[in]), wide(w[in]));
    }
    const double a = win.sxx > wide(slopeFloor) ? win.sxy / win.sxx : 0.0;
    const double xj = wide(x[j]);
    curve[j] = static_cast<float>(a * (xj - win.mx) + win.my);
    if (!wantResiduals) continue;
    // Cross-validated residual: the point's own leverage h removed.
    double h = win.weight > 0.0 ? 1.0 / win.weight : 0.0;
    if (win.sxx > wide(slopeFloor)) h += (xj - win.mx) * (xj - win.mx) / win.sxx;
    const double c = 1.0 - wide(w[j]) * h;
    if (c > 0.0) {
      residuals[j] = static_cast<float>(std::fabs(wide(y[j]) - wide(curve[j])) / c);
    } else {
      residuals[j] = j > 0 ? residuals[j - 1] : 0.0f;
    }
  }
}

void supsmu(std::span<const float> x, std::span<const float> y, std::span<const float> w,
            float span, float alpha, std::span<float> curve, std::span<float> work) {
  const auto n = static_cast<int32_t>(y.size());
  assert(x.size() >= y.size() && w.size() >= y.size() && curve.size() >= y.size());
  assert(work.size() >= static_cast<size_t>(kSupsmuWorkColumns) * y.size());
  if (n <= 0) return;

  // All abscissae equal: the weighted mean everywhere.
  if (x[n - 1] <= x[0]) {
    float sy = 0.0f, sw = 0.0f;
    for (int32_t j = 0; j < n; ++j) {
      sy += w[j] * y[j];
      sw += w[j];
    }
    const float a = sw > 0.0f ? sy / sw : 0.0f;
    std::fill(curve.begin(), curve.begin() + n, a);
    return;
  }

  // Scale of x from the quarter points (the whole range when there are fewer
  // than 4 values), widened until it is positive.
  int32_t i = n / 4, k = 3 * i;
  if (i < 1) {
    i = 1;
    k = n;
  }
  float s = x[k - 1] - x[i - 1];
  while (s <= 0.0f) {
    if (k < n) ++k;
    if (i > 1) --i;
    s = x[k - 1] - x[i - 1];
  }
  const float slopeFloor = (kEps * s) * (kEps * s);

  auto col = [&](int c) { return work.subspan(static_cast<size_t>(c - 1) * n, n); };

  if (span > 0.0f) {
    smooth(x, y, w, span, true, slopeFloor, curve, col(1));
    return;
  }

  const float spans[3] = {kSupsmuTweeter, kSupsmuMidrange, kSupsmuWoofer};
  for (int c = 1; c <= 3; ++c) {
    smooth(x, y, w, spans[c - 1], true, slopeFloor, col(2 * c - 1), col(7));
    smooth(x, col(7), w, kSupsmuMidrange, false, slopeFloor, col(2 * c), {});
  }

  // Span with the smallest smoothed residual (ties to the smaller span),
  // then pulled towards the woofer by the bass control.
  const auto res = [&](int c, int32_t j) { return work[static_cast<size_t>(c - 1) * n + j]; };
  std::span<float> chosen = col(7);
  for (int32_t j = 0; j < n; ++j) {
    float rmin = kBig;
    for (int c = 1; c <= 3; ++c) {
      if (res(2 * c, j) < rmin) {
        rmin = res(2 * c, j);
        chosen[j] = spans[c - 1];
      }
    }
    const float woofer = res(6, j);
    if (alpha > 0.0f && alpha <= 10.0f && rmin < woofer && rmin > 0.0f) {
      chosen[j] += (kSupsmuWoofer - chosen[j]) *
                   std::pow(std::max(kSmall, rmin / woofer), 10.0f - alpha);
    }
  }

  std::span<float> spanCurve = col(2);
  smooth(x, chosen, w, kSupsmuMidrange, false, slopeFloor, spanCurve, {});

  std::span<float> mixed = col(4);
  for (int32_t j = 0; j < n; ++j) {
    const float sj = std::clamp(spanCurve[j], kSupsmuTweeter, kSupsmuWoofer);
    float f = sj - kSupsmuMidrange;
    if (f < 0.0f) {
      f = -f / (kSupsmuMidrange - kSupsmuTweeter);
      mixed[j] = (1.0f - f) * res(3, j) + f * res(1, j);
    } else {
      f = f / (kSupsmuWoofer - kSupsmuMidrange);
      mixed[j] = (1.0f - f) * res(3, j) + f * res(5, j);
    }
  }
  smooth(x, mixed, w, kSupsmuTweeter, false, slopeFloor, curve, {});
}

}  // namespace kavrel
