// The class checks: R's type-7 quantiles, the correlation, and when each
// warning is raised.
#include <gtest/gtest.h>

#include <vector>

#include "rcs/diagnostics.h"

namespace kavrel {
namespace {

TEST(ClassDiagnostics, QuantilesMatchRsDefault) {
  // quantile(x, p) in R (type 7).
  struct Case {
    std::vector<double> x;
    double p;
    double r;
  };
  const Case cases[] = {{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 0.05, 1.45},
                        {{10, 9, 8, 7, 6, 5, 4, 3, 2, 1}, 0.95, 9.55},
                        {{1900, 1950, 1910}, 0.05, 1901.0},
                        {{4}, 0.95, 4.0}};
  for (const Case& c : cases) EXPECT_NEAR(*quantileType7(c.x, c.p), c.r, 1e-9);
  EXPECT_FALSE(quantileType7({}, 0.5).has_value());
}

// n series starting every `step` years from 1800, each of `rings` rings whose
// early width grows with the start year when `biased`.
std::vector<ClassSeries> collection(int n, int step, int rings, bool biased) {
  std::vector<ClassSeries> out;
  for (int i = 0; i < n; ++i) {
    ClassSeries s{"S", 1800 + i * step, 0, {}};
    for (int r = 0; r < rings; ++r) {
      const float early = biased ? 1.0f + 0.1f * static_cast<float>(i) : 1.0f + 0.3f * static_cast<float>(i % 2);
      s.values.push_back(r < 50 ? early : 0.5f);
    }
    if (i == 0) s.values[3] = kMissingValue;  // a missing ring is no width
    out.push_back(s);
  }
  return out;
}

TEST(ClassDiagnostics, WarnsOnNarrowStartsAndEarlyGrowthBias) {
  struct Case {
    const char* name;
    int n, step, rings;
    bool biased;
    bool narrow, bias;
  };
  const Case cases[] = {
      {"spread starts, no bias", 10, 20, 300, false, false, false},
      {"narrow starts", 10, 5, 300, false, true, false},
      {"bias with ten series", 10, 20, 300, true, false, true},
      {"too few series for the bias test", 9, 20, 300, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ClassDiagnostics d = classDiagnostics(collection(c.n, c.step, c.rings, c.biased));
    EXPECT_EQ(d.narrowStart, c.narrow);
    EXPECT_EQ(d.modernSampleBias, c.bias);
    EXPECT_DOUBLE_EQ(*d.meanRings, c.rings);
    // Start years 1800 + k * step: the 5th percentile by hand.
    EXPECT_NEAR(*d.startP05, 1800 + 0.05 * (c.n - 1) * c.step, 1e-9);
  }
  EXPECT_NEAR(*correlation(std::vector<double>{1, 2, 3}, std::vector<double>{2, 4, 6.5}),
              0.99794872, 1e-7);  // 4.5 / sqrt(2 * 10.1667)
  EXPECT_FALSE(classDiagnostics({}).meanRings.has_value());
}

}  // namespace
}  // namespace kavrel
