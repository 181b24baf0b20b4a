// Detrending dispatcher: the parametric branches, their fallback chains, the
// params layout, and least-squares quality of the nonlinear fits against an
// independent reference search.
#include "fit/detrend2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "fit/amoeba.h"
#include "support/testdata.h"
#include "util/fatal.h"

namespace kavrel {
namespace {

struct DetrendRun {
  std::vector<float> fitted;
  CurveParams params{};
  int32_t option = 0;
  int32_t n = 0;
  std::vector<std::string> atBound;
  std::string screen;  // the fit's lines, as shown
};

DetrendRun runDetrend(std::vector<float> series, int32_t option) {
  DetrendRun run;
  run.n = static_cast<int32_t>(series.size());
  run.fitted.assign(series.size(), -1.0f);
  run.params.fill(123.0f);  // must be cleared by the dispatcher
  run.option = option;
  int32_t span = -67;
  float fitParam = 0.0f;
  FitNotes notes;
  detrend2(series, run.fitted, run.n, run.n, run.params, run.option, 2000, span, fitParam, 20,
           &notes, FitSearch::full, &run.atBound);
  run.screen = notesText(notes);
  return run;
}

std::vector<float> line(int32_t n, double intercept, double slope) {
  std::vector<float> y(static_cast<size_t>(n));
  for (int32_t t = 1; t <= n; ++t)
    y[static_cast<size_t>(t - 1)] = static_cast<float>(intercept + slope * t);
  return y;
}

// Least-squares line computed independently (centred sums).
void lsLine(const std::vector<float>& y, double& slope, double& intercept) {
  const double n = static_cast<double>(y.size());
  double mx = 0.0;
  double my = 0.0;
  for (size_t i = 0; i < y.size(); ++i) {
    mx += static_cast<double>(i + 1);
    my += y[i];
  }
  mx /= n;
  my /= n;
  double sxy = 0.0;
  double sxx = 0.0;
  for (size_t i = 0; i < y.size(); ++i) {
    const double dx = static_cast<double>(i + 1) - mx;
    sxy += dx * (y[i] - my);
    sxx += dx * dx;
  }
  slope = sxy / sxx;
  intercept = my - slope * mx;
}

double mean(const std::vector<float>& y) {
  double s = 0.0;
  for (float v : y) s += v;
  return s / static_cast<double>(y.size());
}

void expectParamsZeroExcept(const CurveParams& p, std::initializer_list<int> used) {
  for (int i = 0; i < 7; ++i) {
    bool isUsed = false;
    for (int u : used) isUsed = isUsed || u == i;
    if (!isUsed) {
      EXPECT_EQ(p[static_cast<size_t>(i)], 0.0f) << "params element " << i + 1;
    }
  }
}

TEST(Detrend2, Xmean2SumsInSinglePrecisionAndRejectsEmptyInput) {
  const std::vector<float> one{2.385f};
  EXPECT_EQ(xmean2(one, 1), 2.385f);
  // In single precision 1e8 + 1 is 1e8, so the index-order sum is 0, not 1.
  const std::vector<float> cancel{1.0e8f, 1.0f, -1.0e8f};
  EXPECT_EQ(xmean2(cancel, 3), 0.0f);
  const std::vector<float> four{1.5f, 2.5f, 3.25f, 4.75f};
  EXPECT_FLOAT_EQ(xmean2(four, 4), 3.0f);
  try {
    (void)xmean2(four, 0);
    ADD_FAILURE() << "n = 0 must be fatal";
  } catch (const FitFailure& e) {
    EXPECT_STREQ(e.what(), "error in xmean2: n=0");
    EXPECT_TRUE(e.pause());
    EXPECT_TRUE(e.blankLineFirst());
  }
}

TEST(Detrend2, StraightLineAndMeanLineMethods) {
  // Method 4 on a falling noisy series: the least-squares line.
  std::mt19937_64 gen{123456};
  std::normal_distribution<double> noise(0.0, 0.2);
  std::vector<float> falling = line(80, 4.2, -0.031);
  for (float& v : falling) v += static_cast<float>(noise(gen));
  double slope = 0.0;
  double intercept = 0.0;
  lsLine(falling, slope, intercept);
  DetrendRun r4 = runDetrend(falling, 4);
  EXPECT_EQ(r4.option, 4);
  EXPECT_NEAR(r4.params[2], slope, 1e-5);
  EXPECT_NEAR(r4.params[4], intercept, 1e-4);
  expectParamsZeroExcept(r4.params, {2, 4});
  EXPECT_NEAR(r4.fitted[79], intercept + slope * 80.0, 1e-4);

  // Method 5 keeps a falling line ...
  DetrendRun r5 = runDetrend(falling, 5);
  EXPECT_EQ(r5.option, 5);
  EXPECT_NEAR(r5.params[2], slope, 1e-5);

  // ... and replaces a rising one by the mean line, reporting method 6.
  const std::vector<float> rising = line(50, 1.1, 0.02);
  DetrendRun r5up = runDetrend(rising, 5);
  EXPECT_EQ(r5up.option, 6);
  expectParamsZeroExcept(r5up.params, {4});
  EXPECT_NEAR(r5up.params[4], mean(rising), 1e-5);
  for (float v : r5up.fitted) EXPECT_EQ(v, r5up.params[4]);

  // Method 6: the mean line.
  DetrendRun r6 = runDetrend(falling, 6);
  EXPECT_EQ(r6.option, 6);
  expectParamsZeroExcept(r6.params, {4});
  EXPECT_NEAR(r6.params[4], mean(falling), 1e-5);
  EXPECT_EQ(r6.fitted.front(), r6.params[4]);
  EXPECT_EQ(r6.fitted.back(), r6.params[4]);
}

TEST(Detrend2, NegativeExponentialAcceptedWithItsParams) {
  std::vector<float> y(120);
  double sum = 0.0;
  for (int t = 1; t <= 120; ++t) {
    y[static_cast<size_t>(t - 1)] = static_cast<float>(1.7 * std::exp(-0.023 * t) + 0.45);
    sum += y[static_cast<size_t>(t - 1)];
  }
  for (int code : {1, 2}) {
    DetrendRun r = runDetrend(y, code);
    EXPECT_EQ(r.option, code);
    EXPECT_NEAR(r.params[0], 1.7, 1e-3);
    EXPECT_NEAR(r.params[1], 0.023, 1e-5);
    EXPECT_NEAR(r.params[4], 0.45, 1e-3);
    EXPECT_GE(r.params[5], 1.0f);  // search pass
    EXPECT_NEAR(r.params[6], sum, 1e-3);
    EXPECT_EQ(r.params[2], 0.0f);
    EXPECT_EQ(r.params[3], 0.0f);
    for (int t = 1; t <= 120; t += 17) {
      EXPECT_NEAR(r.fitted[static_cast<size_t>(t - 1)], y[static_cast<size_t>(t - 1)], 1e-4);
    }
  }
}

TEST(Detrend2, NegativeExponentialFallbackChain) {
  // A rising series: method 1 falls back to the straight line (method 4),
  // method 2 to the mean line (reported as method 5).
  std::vector<float> rising(60);
  for (int t = 1; t <= 60; ++t) {
    rising[static_cast<size_t>(t - 1)] =
        static_cast<float>(0.8 + 0.9 * (1.0 - std::exp(-0.05 * t)));
  }
  double slope = 0.0;
  double intercept = 0.0;
  lsLine(rising, slope, intercept);
  DetrendRun r1 = runDetrend(rising, 1);
  DetrendRun r2 = runDetrend(rising, 2);
  EXPECT_EQ(r1.option, 4);
  expectParamsZeroExcept(r1.params, {2, 4});
  EXPECT_NEAR(r1.params[2], slope, 1e-5);
  EXPECT_NEAR(r1.params[4], intercept, 1e-4);
  EXPECT_NEAR(r1.fitted[0], intercept + slope, 1e-4);
  EXPECT_EQ(r2.option, 5);
  expectParamsZeroExcept(r2.params, {4});
  EXPECT_NEAR(r2.params[4], mean(rising), 1e-5);
  EXPECT_EQ(r2.fitted[59], r2.params[4]);

  // Too short for the exponential and falling: method 2 keeps the falling line.
  const std::vector<float> shortFalling = line(19, 2.9, -0.04);
  DetrendRun r2short = runDetrend(shortFalling, 2);
  const std::string out = r2short.screen;
  EXPECT_NE(out.find(">> sbr curve: only      19 values, no exponential curve fit"),
            std::string::npos);
  EXPECT_EQ(r2short.option, 5);
  expectParamsZeroExcept(r2short.params, {2, 4});
  EXPECT_NEAR(r2short.params[2], -0.04, 1e-6);
  EXPECT_NEAR(r2short.params[4], 2.9, 1e-5);
  EXPECT_NEAR(r2short.fitted[18], 2.9 - 0.04 * 19, 1e-5);

  // A long falling straight line has no exponential with a positive asymptote
  // below 9999; method 2 again ends on the falling line.
  const std::vector<float> longFalling = line(200, 9.5, -0.03);
  DetrendRun r2long = runDetrend(longFalling, 2);
  EXPECT_EQ(r2long.option, 5);
  EXPECT_NEAR(r2long.params[2], -0.03, 1e-6);
  EXPECT_NEAR(r2long.fitted[199], 9.5 - 0.03 * 200, 1e-4);

  // A non-positive mean of the first ten values: no exponential, line instead.
  std::vector<float> zeroStart = line(40, 2.0, -0.01);
  for (int i = 0; i < 10; ++i) zeroStart[static_cast<size_t>(i)] = 0.0f;
  DetrendRun rz = runDetrend(zeroStart, 1);
  EXPECT_EQ(rz.option, 4);
}

TEST(Detrend2, GeneralNegativeExponentialBySimplex) {
  std::vector<float> y(150);
  for (int t = 1; t <= 150; ++t) {
    y[static_cast<size_t>(t - 1)] = static_cast<float>(2.2 * std::exp(-0.02 * t) + 0.7);
  }
  DetrendRun r = runDetrend(y, 3);
  EXPECT_EQ(r.option, 3);
  EXPECT_NEAR(r.params[0], 2.2, 0.02);
  EXPECT_NEAR(r.params[1], 0.02, 3e-4);  // stored as abs(b)
  EXPECT_NEAR(r.params[4], 0.7, 0.02);
  expectParamsZeroExcept(r.params, {0, 1, 4});
  // The curve is the model at the stored parameters (b negative).
  for (int t = 1; t <= 150; t += 29) {
    const double f = r.params[0] * std::exp(-r.params[1] * t) + r.params[4];
    EXPECT_NEAR(r.fitted[static_cast<size_t>(t - 1)], f, 1e-4);
  }
  // A rising series has no decline: straight line, method 4.
  const std::vector<float> rising = line(70, 0.5, 0.013);
  DetrendRun up = runDetrend(rising, 3);
  EXPECT_EQ(up.option, 4);
  expectParamsZeroExcept(up.params, {2, 4});
  EXPECT_NEAR(up.params[2], 0.013, 1e-5);
  EXPECT_NEAR(up.fitted[69], 0.5 + 0.013 * 70, 1e-4);
}

TEST(Detrend2, HugershoffAndGeneralExponentialParamsLayout) {
  std::vector<float> y(180);
  for (int t = 1; t <= 180; ++t) {
    const double u = t + 2.0;
    y[static_cast<size_t>(t - 1)] =
        static_cast<float>(1.4 * std::pow(u, 0.9) * std::exp(-0.028 * u) + 0.35);
  }
  DetrendRun r7 = runDetrend(y, 7);
  EXPECT_EQ(r7.option, 7);
  EXPECT_EQ(r7.params[6], 7.0f);
  EXPECT_EQ(r7.params[3], 0.0f);
  EXPECT_GT(r7.params[2], 0.0f);  // abs(b)
  EXPECT_GE(r7.params[5], 0.0f);  // shift
  for (int t = 1; t <= 180; t += 23) {
    const double u = t + r7.params[5];
    const double f =
        r7.params[0] * std::pow(u, r7.params[1]) * std::exp(-r7.params[2] * u) + r7.params[4];
    EXPECT_NEAR(r7.fitted[static_cast<size_t>(t - 1)], f, 2e-4 * std::fabs(f) + 1e-5);
  }

  DetrendRun r8 = runDetrend(y, 8);
  EXPECT_EQ(r8.option, 8);
  EXPECT_EQ(r8.params[1], 1.0f);
  EXPECT_EQ(r8.params[6], 8.0f);
  EXPECT_EQ(r8.params[3], 0.0f);
  EXPECT_GE(r8.params[5], 0.0f);
  for (int t = 1; t <= 180; t += 23) {
    const double u = t + r8.params[5];
    const double f = r8.params[0] * u * std::exp(-r8.params[2] * u) + r8.params[4];
    EXPECT_NEAR(r8.fitted[static_cast<size_t>(t - 1)], f, 2e-4 * std::fabs(f) + 1e-5);
  }
}

TEST(Detrend2, FlatDataGiveTheFlatGrowthCurve) {
  // Constant widths: no decline, so the general negative exponential falls
  // back to the (flat) line; the Hugershoff and general exponential curves are
  // the flat curve at k with a = 0 and b, s (and c for Hugershoff) reported 0.
  const std::vector<float> y(50, 1.75f);
  struct Case {
    int32_t code;
    int32_t option;
    std::vector<std::string> atBound;
    float c;
  };
  for (const Case& q : {Case{3, 4, {}, 0.0f}, Case{7, 7, {"a", "b", "c", "s"}, 0.0f},
                        Case{8, 8, {"a", "b", "s"}, 1.0f}}) {
    const DetrendRun r = runDetrend(y, q.code);
    EXPECT_EQ(r.option, q.option) << q.code;
    EXPECT_EQ(r.atBound, q.atBound) << q.code;
    for (float v : r.fitted) EXPECT_NEAR(v, 1.75f, 1e-6f) << q.code;
    if (q.code == 3) continue;
    expectParamsZeroExcept(r.params, {1, 4, 6});
    EXPECT_EQ(r.params[1], q.c);
    EXPECT_NEAR(r.params[4], 1.75f, 1e-6f);
  }
}

TEST(Detrend2, GrowthCurvesOfHugeWidthsStayFinite) {
  // Widths near 3e20: every residual sum of squares overflows single
  // precision, so the simplex finds no finite point; the fit over the domain
  // works in double precision and still gives a finite curve.
  std::vector<float> y(40);
  for (int t = 1; t <= 40; ++t) {
    y[static_cast<size_t>(t - 1)] = static_cast<float>(3.0e20 * (1.0 + 0.2 * std::sin(1.7 * t)));
  }
  for (int code : {3, 7, 8}) {
    const DetrendRun r = runDetrend(y, code);
    EXPECT_TRUE(r.option == code || (code == 3 && r.option == 4)) << code;
    for (float v : r.fitted) EXPECT_TRUE(std::isfinite(v) && v >= 0.0f) << code;
  }
}

TEST(Detrend2, SimplexMethodsRejectMoreValuesThanTheirCapacity) {
  const std::vector<float> y(5001, 1.25f);
  for (int code : {3, 7, 8}) {
    try {
      runDetrend(y, code);
      ADD_FAILURE() << "5001 values must be fatal for code " << code;
    } catch (const FitFailure& e) {
      EXPECT_EQ(std::string(e.what()), "in gamoff ne > nemax:       5001      5000\nbye.");
      EXPECT_TRUE(e.pause());
    }
  }
}

TEST(Detrend2, CodesOutsideOneToEightNeverTakeAParametricBranch) {
  // Whatever the smoothing methods do, they leave params at 0 and the code
  // unchanged; a parametric branch would set params or change the code.
  std::vector<float> y(60);
  for (int t = 1; t <= 60; ++t)
    y[static_cast<size_t>(t - 1)] = static_cast<float>(1.9 * std::exp(-0.03 * t) + 0.4);
  for (int code : {-9, -6, -5, -4, -3, -2, 0, 9, 10, 30, -10, -67}) {
    std::vector<float> series = y;
    std::vector<float> fitted(60, -1.0f);
    CurveParams params;
    params.fill(5.5f);
    int32_t option = code;
    int32_t n = 60;
    int32_t span = 50;
    float fitParam = 11.0f;
    try {
      detrend2(series, fitted, 60, n, params, option, 2000, span, fitParam, 20);
    } catch (const std::exception&) {
      // A smoothing method that is missing or refuses its input fails loudly.
    }
    EXPECT_EQ(option, code);
    for (float p : params) EXPECT_EQ(p, 0.0f) << "code " << code;
  }
}

// ---- Least-squares quality of the nonlinear fits -------------------------

// Residual sum of squares of the best y = a*g + k for a given regressor g,
// with a and k by closed-form least squares (double precision).
double linearRss(const std::vector<float>& y, const std::vector<double>& g) {
  const double n = static_cast<double>(y.size());
  double mg = 0.0;
  double my = 0.0;
  for (size_t i = 0; i < y.size(); ++i) {
    mg += g[i];
    my += y[i];
  }
  mg /= n;
  my /= n;
  double sgg = 0.0;
  double sgy = 0.0;
  double syy = 0.0;
  for (size_t i = 0; i < y.size(); ++i) {
    const double dg = g[i] - mg;
    const double dy = y[i] - my;
    sgg += dg * dg;
    sgy += dg * dy;
    syy += dy * dy;
  }
  if (!(sgg > 0.0)) return syy;
  return syy - sgy * sgy / sgg;
}

// Grid search over the nonlinear parameters that repeatedly zooms in on the
// best grid point; the linear parameters are solved at every point.
double zoomGridRss(const std::vector<float>& y, std::vector<double> centre,
                   std::vector<double> halfWidth, const std::vector<double>& lower,
                   const std::function<double(const std::vector<double>&, double t)>& regressor) {
  const int dims = static_cast<int>(centre.size());
  const int points = dims == 1 ? 401 : (dims == 2 ? 41 : 17);
  std::vector<double> g(y.size());
  auto rssAt = [&](const std::vector<double>& theta) {
    for (size_t i = 0; i < y.size(); ++i) g[i] = regressor(theta, static_cast<double>(i + 1));
    for (double v : g) {
      if (!std::isfinite(v)) return std::numeric_limits<double>::infinity();
    }
    return linearRss(y, g);
  };
  double best = rssAt(centre);
  for (int level = 0; level < 32; ++level) {
    std::vector<double> bestTheta = centre;
    std::vector<int> idx(static_cast<size_t>(dims), 0);
    int total = 1;
    for (int d = 0; d < dims; ++d) total *= points;
    for (int m = 0; m < total; ++m) {
      int rest = m;
      std::vector<double> theta(static_cast<size_t>(dims));
      for (int d = 0; d < dims; ++d) {
        const int k = rest % points;
        rest /= points;
        const double v = centre[static_cast<size_t>(d)] +
                         halfWidth[static_cast<size_t>(d)] * (2.0 * k / (points - 1) - 1.0);
        theta[static_cast<size_t>(d)] = std::max(v, lower[static_cast<size_t>(d)]);
      }
      const double r = rssAt(theta);
      if (r < best) {
        best = r;
        bestTheta = theta;
      }
    }
    centre = bestTheta;
    for (double& h : halfWidth) h *= 0.6;
  }
  return best;
}

double fittedRss(const std::vector<float>& y, const std::vector<float>& f) {
  double s = 0.0;
  for (size_t i = 0; i < y.size(); ++i) {
    const double r = static_cast<double>(y[i]) - f[i];
    s += r * r;
  }
  return s;
}

TEST(Detrend2, NonlinearFitsReachTheLeastSquaresOptimum) {
  std::mt19937_64 gen{123456};
  std::normal_distribution<double> noise(0.0, 1.0);
  const int32_t n = 300;

  // Negative exponential data for codes 1 and 3.
  std::vector<float> negExp(static_cast<size_t>(n));
  double trueNegExp = 0.0;
  for (int t = 1; t <= n; ++t) {
    const double e = 0.12 * noise(gen);
    negExp[static_cast<size_t>(t - 1)] = static_cast<float>(1.8 * std::exp(-0.015 * t) + 0.6 + e);
    trueNegExp += e * e;
  }
  const double refNegExp =
      zoomGridRss(negExp, {0.05}, {0.0499}, {1e-6},
                  [](const std::vector<double>& th, double t) { return std::exp(-th[0] * t); });
  EXPECT_LE(refNegExp, trueNegExp);
  for (int code : {1, 3}) {
    DetrendRun r = runDetrend(negExp, code);
    EXPECT_EQ(r.option, code);
    EXPECT_LE(fittedRss(negExp, r.fitted), 1.01 * refNegExp) << "code " << code;
  }

  // General exponential data (shift 2) for code 8, multiplicative noise.
  std::vector<float> genExp(static_cast<size_t>(n));
  for (int t = 1; t <= n; ++t) {
    const double u = t + 2.0;
    genExp[static_cast<size_t>(t - 1)] =
        static_cast<float>((2.5 * u * std::exp(-0.03 * u) + 0.4) * std::exp(0.15 * noise(gen)));
  }
  const double refGenExp = zoomGridRss(genExp, {-0.05, 10.0}, {0.049, 10.0}, {-1.0, 0.0},
                                       [](const std::vector<double>& th, double t) {
                                         const double u = t + th[1];
                                         return u * std::exp(th[0] * u);
                                       });
  DetrendRun r8 = runDetrend(genExp, 8);
  EXPECT_EQ(r8.option, 8);
  EXPECT_LE(fittedRss(genExp, r8.fitted), 1.01 * refGenExp);

  // Hugershoff data (c = 0.8, shift 1.5) for code 7.
  std::vector<float> hug(static_cast<size_t>(n));
  for (int t = 1; t <= n; ++t) {
    const double u = t + 1.5;
    hug[static_cast<size_t>(t - 1)] = static_cast<float>(
        (1.5 * std::pow(u, 0.8) * std::exp(-0.025 * u) + 0.3) * std::exp(0.15 * noise(gen)));
  }
  const double refHug = zoomGridRss(hug, {1.0, -0.05, 10.0}, {1.0, 0.049, 10.0}, {-3.0, -1.0, 0.0},
                                    [](const std::vector<double>& th, double t) {
                                      const double u = t + th[2];
                                      return std::pow(u, th[0]) * std::exp(th[1] * u);
                                    });
  DetrendRun r7 = runDetrend(hug, 7);
  EXPECT_EQ(r7.option, 7);
  EXPECT_LE(fittedRss(hug, r7.fitted), 1.01 * refHug);
}

// The first `count` series of a decade-format file with the 999 end marker
// (hundredths of mm), read by fixed columns: identifier 1-8, year 9-12, six
// columns per value.
std::vector<std::vector<float>> firstSeries(const std::string& path, size_t count) {
  std::ifstream in(path);
  std::vector<std::vector<float>> all;
  std::string id;
  std::string line;
  bool open = false;
  while (std::getline(in, line) && all.size() <= count) {
    if (line.size() < 18) continue;
    const std::string lineId = line.substr(0, 8);
    if (!open || lineId != id) {
      all.emplace_back();
      id = lineId;
      open = true;
    }
    for (size_t col = 12; col + 6 <= line.size(); col += 6) {
      const int v = std::stoi(line.substr(col, 6));
      if (v == 999) {
        open = false;
        break;
      }
      all.back().push_back(static_cast<float>(v) / 100.0f);
    }
  }
  if (all.size() > count) all.resize(count);
  return all;
}

TEST(Detrend2, RealSeriesFitsReachTheLeastSquaresOptimum) {
  REQUIRE_SHARED_DATA(path, "dplr/gp.rwl");
  const std::vector<std::vector<float>> series = firstSeries(path, 6);
  ASSERT_EQ(series.size(), 6u);
  for (size_t k = 0; k < series.size(); ++k) {
    const std::vector<float>& y = series[k];
    const int32_t n = static_cast<int32_t>(y.size());
    ASSERT_GT(n, 100);
    std::vector<float> abscissa(y.size());
    for (int32_t t = 1; t <= n; ++t) abscissa[static_cast<size_t>(t - 1)] = static_cast<float>(t);
    std::vector<float> fitted(y.size());

    // General negative exponential (the simplex of method 3, either sign of b).
    const SimplexFit neg =
        gamoeba(SimplexPoint{}, {kModelNegExp, kObjectiveCapacity, n, abscissa, y}, n, fitted);
    const double refNeg =
        zoomGridRss(y, {0.0}, {0.2}, {-1.0},
                    [](const std::vector<double>& th, double t) { return std::exp(th[0] * t); });
    EXPECT_LE(fittedRss(y, fitted), 1.01 * refNeg) << "series " << k;

    (void)neg;
  }
}

}  // namespace
}  // namespace kavrel
