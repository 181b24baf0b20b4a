// Log-linear starting fits of the Hugershoff and general exponential curves.
#include "fit/startfits.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>


namespace kavrel {

namespace {


// Determinant of the 3x3 matrix with rows (r0, r1, r2), expanded along row 0.
double det3(const double r0[3], const double r1[3], const double r2[3]) {
  return r0[0] * (r1[1] * r2[2] - r1[2] * r2[1]) - r0[1] * (r1[0] * r2[2] - r1[2] * r2[0]) +
         r0[2] * (r1[0] * r2[1] - r1[1] * r2[0]);
}

void zeroStart(std::span<float> fitted, int32_t nCurve, CurveParams& params, int32_t count) {
  for (int32_t i = 0; i < count; ++i) params[static_cast<size_t>(i)] = 0.0f;
  for (int32_t i = 0; i < nCurve; ++i) fitted[static_cast<size_t>(i)] = 0.0f;
}

}  // namespace

void hughdi(std::span<const float> abscissa, std::span<const float> series, int32_t nCurve,
            int32_t n, std::span<float> fitted, CurveParams& params, float missing,
            FitNotes* notes) {
  if (n > static_cast<int32_t>(series.size()) || n > static_cast<int32_t>(abscissa.size()) ||
      nCurve > static_cast<int32_t>(fitted.size()) ||
      nCurve > static_cast<int32_t>(abscissa.size())) {
    throw std::out_of_range("hughdi: n or nCurve exceeds the array length");
  }
  double m = 0.0;
  double st = 0.0;
  double sl = 0.0;
  double sll = 0.0;
  double stt = 0.0;
  double stl = 0.0;
  double sy = 0.0;
  double sly = 0.0;
  double sty = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    const float tf = abscissa[static_cast<size_t>(i)];
    const float yf = series[static_cast<size_t>(i)];
    if (yf == missing || !(yf > 0.0f) || !(tf > 0.0f)) continue;
    const double t = static_cast<double>(tf);
    const double l = std::log(t);
    const double y = std::log(static_cast<double>(yf));
    m += 1.0;
    st += t;
    sl += l;
    sll += l * l;
    stt += t * t;
    stl += t * l;
    sy += y;
    sly += l * y;
    sty += t * y;
  }
  if (m < 3.0) {
    char count[16];
    std::snprintf(count, sizeof count, "%8d", static_cast<int32_t>(m));
    note(notes, std::string(">> sbr hughdi: only") + count +
                    " usable values, starting values left at 0");
    zeroStart(fitted, nCurve, params, 3);
    return;
  }

  // Normal equations of ln y = alpha + c*ln t + b*t, solved by Cramer's rule.
  const double r0[3] = {m, sl, st};
  const double r1[3] = {sl, sll, stl};
  const double r2[3] = {st, stl, stt};
  const double det = det3(r0, r1, r2);
  const double r0a[3] = {sy, sl, st};
  const double r1a[3] = {sly, sll, stl};
  const double r2a[3] = {sty, stl, stt};
  const double r0c[3] = {m, sy, st};
  const double r1c[3] = {sl, sly, stl};
  const double r2c[3] = {st, sty, stt};
  const double r0b[3] = {m, sl, sy};
  const double r1b[3] = {sl, sll, sly};
  const double r2b[3] = {st, stl, sty};
  const double alpha = det3(r0a, r1a, r2a) / det;
  const double c = det3(r0c, r1c, r2c) / det;
  const double b = det3(r0b, r1b, r2b) / det;
  float a = static_cast<float>(std::exp(alpha));
  const float cf = static_cast<float>(c);
  const float bf = static_cast<float>(b);
  if (det == 0.0 || !std::isfinite(a) || !std::isfinite(cf) || !std::isfinite(bf)) {
    note(notes, ">> sbr hughdi: singular log-linear fit, starting values left at 0");
    zeroStart(fitted, nCurve, params, 3);
    return;
  }
  params[0] = a;
  params[1] = cf;
  params[2] = bf;

  double sumCurve = 0.0;
  double sumResidual = 0.0;
  bool finite = true;
  for (int32_t i = 0; i < nCurve; ++i) {
    const float t = abscissa[static_cast<size_t>(i)];
    const float f = a * std::pow(t, cf) * std::exp(bf * t);
    finite = finite && std::isfinite(f);
    fitted[static_cast<size_t>(i)] = f;
    if (i < n && series[static_cast<size_t>(i)] != missing) {
      sumCurve += static_cast<double>(f);
      sumResidual += static_cast<double>(series[static_cast<size_t>(i)]) - static_cast<double>(f);
    }
  }
  if (!finite) {
    note(notes, ">> sbr hughdi: starting curve out of range, starting values left at 0");
    zeroStart(fitted, nCurve, params, 3);
    return;
  }
  // Scale the curve so that its sum equals the data's sum over the same positions.
  const float g = static_cast<float>(sumResidual / sumCurve + 1.0);
  if (g != 0.0f && std::isfinite(g)) {
    a = a * g;
    params[0] = a;
    for (int32_t i = 0; i < nCurve; ++i) fitted[static_cast<size_t>(i)] *= g;
  }
}

void gexp(std::span<const float> series, int32_t nCurve, int32_t n, std::span<float> fitted,
          std::span<float> abscissaWork, std::span<float> logWork, CurveParams& params,
          float missing, FitNotes* notes) {
  if (n < 1) {
    throw FitFailure("*** n .le. 0 in sbr gexp ***\n", true, true);
  }
  if (n > static_cast<int32_t>(series.size()) || n > static_cast<int32_t>(abscissaWork.size()) ||
      n > static_cast<int32_t>(logWork.size()) || nCurve > static_cast<int32_t>(fitted.size())) {
    throw std::out_of_range("gexp: n or nCurve exceeds the array length");
  }
  int32_t m = 0;
  for (int32_t i = 1; i <= n; ++i) {
    const float y = series[static_cast<size_t>(i - 1)];
    if (!(y > 0.0f) || y == missing) continue;
    const float t = static_cast<float>(i);
    abscissaWork[static_cast<size_t>(m)] = t;
    logWork[static_cast<size_t>(m)] = std::log(y) - std::log(t);
    ++m;
  }
  if (m == 0) {
    throw FitFailure("*** n1 .le. 0 in sbr gexp ***\n", true, true);
  }
  if (m == 1) {
    note(notes, ">> sbr gexp: only one usable value, starting values left at 0");
    zeroStart(fitted, nCurve, params, 2);
    return;
  }

  double sumX = 0.0;
  double sumZ = 0.0;
  for (int32_t i = 0; i < m; ++i) {
    sumX += static_cast<double>(abscissaWork[static_cast<size_t>(i)]);
    sumZ += static_cast<double>(logWork[static_cast<size_t>(i)]);
  }
  const double md = static_cast<double>(m);
  const double meanX = sumX / md;
  const double meanZ = sumZ / md;
  double sxx = 0.0;
  double szz = 0.0;
  double sxz = 0.0;
  for (int32_t i = 0; i < m; ++i) {
    const double dx = static_cast<double>(abscissaWork[static_cast<size_t>(i)]) - meanX;
    const double dz = static_cast<double>(logWork[static_cast<size_t>(i)]) - meanZ;
    sxx += dx * dx;
    szz += dz * dz;
    sxz += dx * dz;
  }
  // Slope through the correlation: b = r*sz/sx. When ln(y/t) is constant the
  // correlation is undefined but the slope is 0.
  double b = 0.0;
  if (szz > 0.0) {
    const double sx = std::sqrt(sxx / (md - 1.0));
    const double sz = std::sqrt(szz / (md - 1.0));
    const double r = sxz / std::sqrt(sxx * szz);
    b = r * sz / sx;
  }
  const float af = static_cast<float>(std::exp(meanZ - b * meanX));
  const float bf = static_cast<float>(b);
  if (!std::isfinite(af)) {
    note(notes, ">> sbr gexp: amplitude out of range, starting values left at 0");
    zeroStart(fitted, nCurve, params, 2);
    return;
  }
  bool finite = true;
  for (int32_t t = 1; t <= nCurve; ++t) {
    const float tf = static_cast<float>(t);
    const float f = tf * af * std::exp(bf * tf);
    finite = finite && std::isfinite(f);
    fitted[static_cast<size_t>(t - 1)] = f;
  }
  if (!finite) {
    note(notes, ">> sbr gexp: starting curve out of range, starting values left at 0");
    zeroStart(fitted, nCurve, params, 2);
    return;
  }
  params[0] = af;
  params[1] = -bf;
}

}  // namespace kavrel
