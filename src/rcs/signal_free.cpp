#include "rcs/signal_free.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "chron/chronology.h"

namespace kavrel {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct YearSpan {
  int32_t first = 0;
  int32_t count = 0;  // years first .. first + count - 1
};

YearSpan yearSpan(std::span<const RcsClassInput> classes) {
  int32_t first = std::numeric_limits<int32_t>::max();
  int32_t last = std::numeric_limits<int32_t>::min();
  for (const RcsClassInput& c : classes) {
    for (const ClassSeries& s : c.series) {
      if (s.values.empty()) continue;
      first = std::min(first, s.firstYear);
      last = std::max(last, s.firstYear + static_cast<int32_t>(s.values.size()) - 1);
    }
  }
  if (first > last) return {};
  return {first, last - first + 1};
}

// Largest and median change between two normalised chronologies over the
// years where both have at least minDepth series.
SignalFreePass change(const YearlyChronology& before, const YearlyChronology& after,
                      int32_t indexMode, int32_t minDepth, double ringMean) {
  std::vector<double> d;
  for (size_t i = 0; i < after.value.size() && i < before.value.size(); ++i) {
    if (after.depth[i] < minDepth || before.depth[i] < minDepth) continue;
    const double a = after.value[i];
    const double b = before.value[i];
    if (!std::isfinite(a) || !std::isfinite(b)) continue;
    if (indexMode == 1) {
      if (b != 0.0) d.push_back(std::fabs(a / b - 1.0));
    } else if (ringMean != 0.0) {
      d.push_back(std::fabs(a - b) / ringMean);
    }
  }
  SignalFreePass p;
  if (d.empty()) return p;
  p.largestChange = *std::max_element(d.begin(), d.end());
  p.medianChange = median(d);
  return p;
}

}  // namespace

float rcsIndex(float w, float c, int32_t indexMode) {
  if (w == kMissingValue || c == kMissingValue || !std::isfinite(c)) return kMissingValue;
  if (indexMode == 1 && c <= 0.0f) return kMissingValue;
  const float x = indexMode == 1 ? w / c : w - c;
  return std::isfinite(x) ? x : kMissingValue;
}

RcsClassCurve fitClassPass(std::span<const ClassSeries> series, int32_t option,
                           const DetrendOptions& settings) {
  RcsClassCurve out;
  out.mean = meanByAge(series);
  if (!out.mean.meanValues.empty()) {
    out.fit = fitClassCurve(out.mean.meanValues, option, settings);
  } else {
    out.fit.optionUsed = option;
    out.fit.settings = settings;
  }
  out.curveByAge = curveByAge(out.mean, out.fit.curve);
  return out;
}

YearlyChronology passChronology(std::span<const RcsClassInput> classes,
                                std::span<const RcsClassCurve> curves, int32_t indexMode,
                                bool robust) {
  const YearSpan span = yearSpan(classes);
  YearlyChronology c;
  c.firstYear = span.first;
  const auto n = static_cast<size_t>(span.count);
  c.value.assign(n, kNaN);
  c.depth.assign(n, 0);
  std::vector<double> sum(n, 0.0);
  std::vector<std::vector<double>> values(robust ? n : 0);
  for (size_t k = 0; k < classes.size(); ++k) {
    const std::vector<float>& curve = curves[k].curveByAge;
    for (const ClassSeries& s : classes[k].series) {
      for (size_t r = 0; r < s.values.size(); ++r) {
        const size_t j = static_cast<size_t>(s.pithOffset) + r;
        const float x =
            rcsIndex(s.values[r], j < curve.size() ? curve[j] : kMissingValue, indexMode);
        if (x == kMissingValue) continue;
        const auto y = static_cast<size_t>(s.firstYear - span.first) + r;
        sum[y] += static_cast<double>(x);
        ++c.depth[y];
        if (robust) values[y].push_back(static_cast<double>(x));
      }
    }
  }
  std::vector<double> work;
  for (size_t y = 0; y < n; ++y) {
    if (c.depth[y] == 0) continue;
    c.value[y] = robust ? biweightMean(values[y], work) : sum[y] / c.depth[y];
  }
  return c;
}

void normaliseChronology(YearlyChronology& c, int32_t indexMode, int32_t minDepth) {
  double sum = 0.0;
  int32_t count = 0;
  for (size_t y = 0; y < c.value.size(); ++y) {
    if (c.depth[y] < minDepth || !std::isfinite(c.value[y])) continue;
    sum += c.value[y];
    ++count;
  }
  if (count == 0) return;
  const double level = sum / count;
  if (indexMode == 1 && level == 0.0) return;
  for (double& v : c.value) v = indexMode == 1 ? v / level : v - level;
}

SignalFreeResult signalFreeLoop(std::span<const RcsClassInput> classes, int32_t indexMode,
                                const SignalFreeSettings& settings) {
  SignalFreeResult result;
  const auto failed = [&](size_t k, int32_t pass, const ClassCurveFit& fit) {
    if (!fit.failed()) return false;
    result.failure = "class " + std::to_string(k + 1) + ", signal-free pass " +
                     std::to_string(pass) + ": " + fit.failure->what();
    return true;
  };
  for (size_t k = 0; k < classes.size(); ++k) {
    result.pass0.push_back(
        fitClassPass(classes[k].series, classes[k].optionAsked, classes[k].settings));
    if (failed(k, 0, result.pass0.back().fit)) return result;
  }
  result.pass0Chronology = passChronology(classes, result.pass0, indexMode, settings.robust);
  normaliseChronology(result.pass0Chronology, indexMode, settings.minDepth);
  result.final = result.pass0;
  result.chronology = result.pass0Chronology;
  result.passes.push_back({0, kNaN, kNaN});

  // The residual change is taken relative to the mean ring of the collection.
  double ringSum = 0.0;
  int64_t ringCount = 0;
  for (const RcsClassInput& c : classes) {
    for (const ClassSeries& s : c.series) {
      for (float w : s.values) {
        if (w == kMissingValue) continue;
        ringSum += static_cast<double>(w);
        ++ringCount;
      }
    }
  }
  const double ringMean = ringCount > 0 ? ringSum / static_cast<double>(ringCount) : 0.0;

  std::vector<double> divisor;  // per year: C(t) where it applies, NaN where w stays
  std::vector<double> sum;
  for (int32_t pass = 1; pass <= settings.maxPasses; ++pass) {
    const YearlyChronology& c = result.chronology;
    divisor.assign(c.value.size(), kNaN);
    for (size_t y = 0; y < c.value.size(); ++y) {
      const double cy = c.value[y];
      if (c.depth[y] >= settings.minDepth && std::isfinite(cy) && (indexMode != 1 || cy > 0.0))
        divisor[y] = cy;
    }
    std::vector<RcsClassCurve> curves;
    curves.reserve(classes.size());
    for (size_t k = 0; k < classes.size(); ++k) {
      // The mean by age of the signal-free measurements, accumulated directly
      // in double precision, so that the order of the series doesn't move the
      // result; the ages and depths are those of pass 0 (a measurement is
      // missing in both or in neither).
      RcsClassCurve curve;
      curve.mean = result.pass0[k].mean;
      sum.assign(static_cast<size_t>(std::max(curve.mean.classMaxAge, 0)), 0.0);
      for (const ClassSeries& s : classes[k].series) {
        const size_t y0 = static_cast<size_t>(s.firstYear - c.firstYear);
        for (size_t r = 0; r < s.values.size(); ++r) {
          const float w = s.values[r];
          if (w == kMissingValue) continue;
          const double cy = divisor[y0 + r];
          float v = w;
          if (!std::isnan(cy)) {
            v = static_cast<float>(indexMode == 1 ? static_cast<double>(w) / cy
                                                  : static_cast<double>(w) - cy);
          }
          sum[static_cast<size_t>(s.pithOffset) + r] += static_cast<double>(v);
        }
      }
      for (size_t i = 0; i < curve.mean.meanAges.size(); ++i) {
        curve.mean.meanValues[i] = static_cast<float>(
            sum[static_cast<size_t>(curve.mean.meanAges[i] - 1)] / curve.mean.meanDepths[i]);
      }
      curve.fit.optionUsed = classes[k].optionAsked;
      curve.fit.settings = classes[k].settings;
      if (!curve.mean.meanValues.empty()) {
        curve.fit = fitClassCurve(curve.mean.meanValues, classes[k].optionAsked, classes[k].settings);
      }
      if (failed(k, pass, curve.fit)) return result;
      curve.curveByAge = curveByAge(curve.mean, curve.fit.curve);
      curves.push_back(std::move(curve));
    }
    YearlyChronology next = passChronology(classes, curves, indexMode, settings.robust);
    normaliseChronology(next, indexMode, settings.minDepth);
    SignalFreePass p = change(c, next, indexMode, settings.minDepth, ringMean);
    p.pass = pass;
    result.passes.push_back(p);
    result.final = std::move(curves);
    result.chronology = std::move(next);
    if (p.largestChange < settings.tolerance) {
      result.converged = true;
      break;
    }
  }
  return result;
}

}  // namespace kavrel
