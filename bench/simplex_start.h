// The simplex fit's problem and starting point for curve code 7 (Hugershoff,
// started from hughdi) or 8 (general exponential, started from gexp), as the
// curve fits set them up; shared by the fit benchmarks.
#pragma once

#include <cstdint>
#include <vector>

#include "fit/amoeba.h"
#include "fit/startfits.h"

namespace kavrel::bench {

struct SimplexStart {
  std::vector<float> abscissa;  // 1..n
  SimplexPoint start{};
  int32_t selector = kModelHugershoff;
};

inline SimplexStart simplexStart(const std::vector<float>& y, int32_t code) {
  const auto n = static_cast<int32_t>(y.size());
  SimplexStart s;
  s.abscissa.resize(y.size());
  std::vector<float> fitted(y.size());
  std::vector<float> w1(y.size());
  std::vector<float> w2(y.size());
  for (int32_t t = 1; t <= n; ++t) s.abscissa[static_cast<size_t>(t - 1)] = static_cast<float>(t);
  CurveParams p{};
  if (code == 7) {
    hughdi(s.abscissa, y, n, n, fitted, p, 0.0f);
    s.start = {p[0], p[1], p[2], 0.0f, 0.0f};
  } else {
    gexp(y, n, n, fitted, w1, w2, p, 0.0f);
    s.start = {p[0], p[1], 0.0f, 0.0f, 0.0f};
    s.selector = kModelGenExp;
  }
  return s;
}

}  // namespace kavrel::bench
