// The smoothing branches of the detrending dispatcher. Every branch leaves a
// finite curve in fitted[0..n-1]: where a method cannot fit the series (too
// few values, a rejected spline system, an input error of the running
// medians) the curve is the horizontal line at the mean and a note
// says so, so that no marker value or stale curve reaches the indices.
#include "fit/detrend2_smoothing.h"

#include <algorithm>
#include <vector>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "fit/detrend2.h"
#include "fit/lowess.h"
#include "fit/msmoor.h"
#include "fit/spline.h"
#include "fit/supsmu.h"
#include "util/missing.h"
#include "util/stats.h"

namespace kavrel {

namespace {

// Shortest series for which the super smoother gets its automatic span.
constexpr int32_t kSupsmuAutoSpanMin = 40;
// Fixed span of the super smoother for shorter series.
constexpr float kSupsmuShortSpan = 0.3f;
// Stiffness used when a spline code gives less than 1 year: this percentage
// of the series length.
constexpr int32_t kDefaultStiffnessPercent = 67;
// Starting stiffness of the age-dependent spline used in place of one below
// 1 year (the value the curve-fit menu suggests).
constexpr int32_t kDefaultStartStiffness = 75;

bool isSplineCode(int32_t option) { return option >= -2 || option <= -6; }

// Stiffness in years of the fixed-stiffness spline codes: the code itself
// from 10 up, a percentage of the length (truncated) from -10 down, and none
// for the other codes.
int32_t codeStiffness(int32_t option, int32_t n) {
  if (option >= 10) return option;
  if (option <= -10) {
    const int64_t years = std::abs(static_cast<int64_t>(option)) * n / 100;
    return static_cast<int32_t>(std::min<int64_t>(years, INT32_MAX));
  }
  return 0;
}

// One smoothing fit: its work arrays, sized to the series, and where its
// lines go.
struct Smoother {
  explicit Smoother(int32_t n, FitNotes* fitNotes)
      : notes(fitNotes),
        size(static_cast<size_t>(std::max(n, 1))),
        copyWork(size),
        secondWork(size),
        weightWork(size),
        stiffnessWork(size),
        splineWork(static_cast<int32_t>(size)) {
    splineWork.notes = notes;
  }

  FitNotes* notes;
  size_t size;
  std::vector<float> copyWork;        // series copy / flattened curve / ratios
  std::vector<float> secondWork;      // abscissa, differences
  std::vector<float> weightWork;      // super smoother weights; median window
  std::vector<int32_t> stiffnessWork; // per-ring stiffness
  SplineWorkspace splineWork;

  void say(const std::string& line) { note(notes, ">> sbr detrend2: " + line); }

// The horizontal line at the mean of series[0..n-1].
void meanCurve(std::span<const float> series, std::span<float> fitted, int32_t n,
               const std::string& reason) {
  say(reason + "; horizontal line at the mean used");
  if (n <= 0) return;
  const float mean = xmean2(series, n);
  std::fill(fitted.begin(), fitted.begin() + n, mean);
}

// Fits `fit` (a spline call) and replaces a failed spline by the mean line.
template <typename Fit>
void splineOrMean(std::span<const float> series, std::span<float> fitted, int32_t n, Fit fit) {
  if (n < kSplineMinValues) {
    meanCurve(series, fitted, n,
              std::to_string(n) + " values are too few for a smoothing spline (" +
                  std::to_string(kSplineMinValues) + " needed)");
    return;
  }
  if (fit() != SplineStatus::ok) meanCurve(series, fitted, n, "smoothing spline failed");
}

void fixedSpline(std::span<const float> series, std::span<float> fitted, int32_t n,
                 int32_t option) {
  const int32_t stiffness = splineCodeStiffness(option, n);
  if (codeStiffness(option, n) < 1 && n >= kSplineMinValues) {
    say("method " + std::to_string(option) + " gives a spline stiffness below 1 year; " +
        std::to_string(kDefaultStiffnessPercent) + " pct of the series length (" +
        std::to_string(stiffness) + " years) used");
  }
  float smoothingParam = 0.0f;
  splineOrMean(series.first(n), fitted, n, [&] {
    return spline(series.first(n), fitted, smoothingParam, stiffness, splineWork);
  });
}

void superSmoother(std::span<const float> series, std::span<float> fitted, int32_t n,
                   float alpha) {
  if (n < kSupsmuMinValues) {
    say(std::to_string(n) + " values are too few for the super smoother (" +
        std::to_string(kSupsmuMinValues) + " needed); least-squares line through all values used");
  }
  const auto count = static_cast<size_t>(n);
  for (int32_t i = 0; i < n; ++i) {
    secondWork[i] = static_cast<float>(i + 1);
    weightWork[i] = 1.0f;
  }
  const float span = n < kSupsmuAutoSpanMin ? kSupsmuShortSpan : 0.0f;
  std::vector<float> scratch(kSupsmuWorkColumns * count);
  supsmu(std::span<const float>(secondWork.data(), count), series.first(count),
         std::span<const float>(weightWork.data(), count), span, alpha, fitted, scratch);
}

void robustLowess(std::span<const float> series, std::span<float> fitted, int32_t n,
                  int32_t span, float& fitParam) {
  // The span is a percentage of the series length; a negative span (the
  // menu's form for a percentage) counts by its size.
  fitParam = static_cast<float>(std::abs(static_cast<int64_t>(span))) / 100.0f;
  LowessWorkspace lowessWork(n);
  lowess(series.first(static_cast<size_t>(n)), fitted, fitParam, lowessWork);
}

// Window of the running medians: the whole-number part of fitParam, or, when
// negative, that percentage of the series length (at least 1: no smoothing).
int32_t medianWindow(float fitParam, int32_t n) {
  if (!(std::fabs(fitParam) < 1.0e9f)) return 0;  // not a usable window
  if (fitParam < 0.0f) {
    const double percent = -static_cast<double>(fitParam);
    const double width = std::min(percent * n / 100.0, static_cast<double>(n) + 1.0);
    return std::max<int32_t>(1, static_cast<int32_t>(width));
  }
  return static_cast<int32_t>(fitParam);
}

void runningMedians(std::span<const float> series, std::span<float> fitted, int32_t n,
                    int32_t maxLen, int32_t& span, float fitParam) {
  span = medianWindow(fitParam, n);
  if (span > n) {
    const int32_t longest = n % 2 == 1 ? n : n - 1;
    say("median window " + std::to_string(span) + " is longer than the series (" +
        std::to_string(n) + " values); window " + std::to_string(longest) + " used");
    span = longest;
  }
  const auto count = static_cast<size_t>(n);
  std::copy(series.begin(), series.begin() + n, copyWork.begin());
  const MsmoorResult r = msmoor(std::span<float>(copyWork.data(), count), fitted,
                                std::span<float>(weightWork.data(), weightWork.size()), n, span,
                                maxLen, notes);
  if (r.errorCode != 0 && r.errorCode != kMsmoorNoConvergence) {
    meanCurve(series, fitted, n, "running medians failed (error " + std::to_string(r.errorCode) + ")");
  }
}

void ageDependentSpline(std::span<const float> series, std::span<float> fitted, int32_t n,
                        int32_t startStiffness) {
  if (n < kSplineMinValues) {
    splineOrMean(series, fitted, n, [] { return SplineStatus::tooShort; });
    return;
  }
  if (startStiffness < 1) {
    say("starting stiffness " + std::to_string(startStiffness) + " is below 1 year; " +
        std::to_string(kDefaultStartStiffness) + " years used");
    startStiffness = ageDependentStartStiffness(startStiffness);
  }
  const auto count = static_cast<size_t>(n);
  const std::span<int32_t> stiffness(stiffnessWork.data(), count);
  lsmake(n, startStiffness, stiffness);
  const SplineStatus first = spline2(series.first(count), fitted, stiffness, splineWork);
  if (first != SplineStatus::ok) {
    meanCurve(series, fitted, n, "smoothing spline failed");
    return;
  }

  // Remove the end upturn: walk back while the curve rises; p is where the
  // walk stops (the lowest point before the final rise; the first point when
  // the whole curve rises), and the rise after it is flattened to its value.
  int32_t p = n - 1;
  while (p > 0 && fitted[p] > fitted[p - 1]) --p;
  if (p == n - 1) return;
  const std::span<float> flattened(copyWork.data(), count);
  std::copy(fitted.begin(), fitted.begin() + n, flattened.begin());
  std::fill(flattened.begin() + p + 1, flattened.end(), flattened[p]);
  lsmake(n, startStiffness, stiffness);
  if (spline2(flattened, fitted, stiffness, splineWork) != SplineStatus::ok) {
    meanCurve(series, fitted, n, "smoothing spline failed");
  }
}

void differenceIndex(std::span<float> series, std::span<float> fitted, int32_t& n) {
  const int32_t m = n - 1;
  const auto count = static_cast<size_t>(m);
  const std::span<float> diffs(secondWork.data(), count);
  const std::span<float> kept(copyWork.data(), count);
  for (int32_t i = 0; i < m; ++i) {
    diffs[i] = series[i + 1] - series[i];
    kept[i] = series[i + 1];
  }
  series[0] = kMissingValue;
  std::copy(diffs.begin(), diffs.end(), series.begin() + 1);
  n = m;
  if (m == 0) return;

  float smoothingParam = 0.0f;
  splineOrMean(kept, fitted, m, [&] { return spline(kept, fitted, smoothingParam, m / 3, splineWork); });

  // Ratios to the spline where it is positive; elsewhere the ratio is not
  // defined and stays out of the statistics.
  int32_t ratioCount = 0;
  for (int32_t i = 0; i < m; ++i) {
    if (fitted[i] > 0.0f) kept[ratioCount++] = kept[i] / fitted[i];
  }
  const MomentResult d = moment(diffs, m);
  const MomentResult r = moment(kept, ratioCount);
  // Degenerate spreads (kNoValue or 0) give no scaled deviation; without any
  // ratio the index is centred on 1.
  const float ratioMean = ratioCount > 0 ? r.mean : 1.0f;
  const float ratioSd = r.stdDev > 0.0f ? r.stdDev : 0.0f;
  for (int32_t j = 0; j < m; ++j) {
    const float z = d.stdDev > 0.0f ? (diffs[j] - d.mean) / d.stdDev : 0.0f;
    series[j + 1] = z * ratioSd + ratioMean;
  }
}

};

}  // namespace

int32_t splineCodeStiffness(int32_t option, int32_t n) {
  const int32_t stiffness = codeStiffness(option, n);
  if (stiffness >= 1 || n < kSplineMinValues) return stiffness;
  return std::max<int32_t>(1, kDefaultStiffnessPercent * n / 100);
}

int32_t ageDependentStartStiffness(int32_t startStiffness) {
  return startStiffness < 1 ? kDefaultStartStiffness : startStiffness;
}

void detrendSmoothing(std::span<float> series, std::span<float> fitted, int32_t& n,
                      int32_t option, int32_t maxLen, int32_t& span, float& fitParam,
                      int32_t startStiffness, FitNotes* notes) {
  if (n > static_cast<int32_t>(series.size()) || n > static_cast<int32_t>(fitted.size())) {
    throw std::out_of_range("detrend2: n exceeds the array length");
  }
  if (n <= 0) {
    note(notes, ">> sbr detrend2: no values to smooth");
    return;
  }
  if (n > kFitCapacity) {
    if (isSplineCode(option)) throw FitFailure(kSplineTooLongMessage, false);
    throw FitFailure("\n*** series too long for detrend2: " + std::to_string(n) +
                         " values, at most " + std::to_string(kFitCapacity) + " ***\n",
                     false);
  }
  const std::span<const float> values(series.data(), static_cast<size_t>(n));
  Smoother smoother(n, notes);
  switch (option) {
    case -5:
      smoother.superSmoother(values, fitted, n, fitParam);
      break;
    case -4:
      smoother.robustLowess(values, fitted, n, span, fitParam);
      break;
    case -3:
      smoother.runningMedians(values, fitted, n, maxLen, span, fitParam);
      break;
    case -2:
      smoother.ageDependentSpline(values, fitted, n, startStiffness);
      break;
    case -1:
      smoother.differenceIndex(series, fitted, n);
      break;
    default:
      smoother.fixedSpline(values, fitted, n, option);
      break;
  }
}

}  // namespace kavrel
