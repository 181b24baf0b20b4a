#include "rcs/rcs_pass.h"

#include <algorithm>
#include <cmath>

#include "fit/curve.h"
#include "rcs/class_curve.h"
#include "util/stats.h"

namespace kavrel {

AgeMean meanByAge(std::span<const ClassSeries> series) {
  AgeMean mean;
  for (const ClassSeries& s : series) {
    mean.classMaxAge = std::max(mean.classMaxAge, s.lastAge());
    mean.classMinPithOffset = std::min(mean.classMinPithOffset, s.pithOffset);
  }
  if (series.empty() || mean.classMaxAge <= 0) return mean;
  // The count is kept as a real, as the sum is; both are single precision and
  // summed in series order.
  std::vector<float> ageSum(static_cast<size_t>(mean.classMaxAge), 0.0f);
  std::vector<float> ageCount(static_cast<size_t>(mean.classMaxAge), 0.0f);
  std::vector<int32_t> depth(static_cast<size_t>(mean.classMaxAge), 0);
  for (const ClassSeries& s : series) {
    for (size_t r = 0; r < s.values.size(); ++r) {
      const float v = s.values[r];
      if (v == kMissingValue) continue;
      const size_t j = static_cast<size_t>(s.pithOffset) + r;
      ageSum[j] += v;
      ageCount[j] += 1.0f;
      ++depth[j];
    }
  }
  for (int32_t j = 1; j <= mean.classMaxAge; ++j) {
    const auto i = static_cast<size_t>(j - 1);
    if (ageCount[i] != 0.0f) {
      mean.meanValues.push_back(ageSum[i] / ageCount[i]);
      mean.meanAges.push_back(j);
      mean.meanDepths.push_back(depth[i]);
    }
  }
  return mean;
}

std::vector<float> curveByAge(const AgeMean& mean, std::span<const float> fitted) {
  std::vector<float> curve(static_cast<size_t>(std::max(mean.classMaxAge, 0)), kMissingValue);
  const size_t n = std::min(fitted.size(), mean.meanAges.size());
  for (size_t i = 0; i < n; ++i) {
    if (std::isfinite(fitted[i])) curve[static_cast<size_t>(mean.meanAges[i] - 1)] = fitted[i];
  }
  return curve;
}

bool defaultFitComputable(int32_t code, std::span<const float> present) {
  if (code == 1) return static_cast<int32_t>(present.size()) >= kCurveMinValues;
  if (code != 8) return true;
  return std::any_of(present.begin(), present.end(), [](float v) { return v > 0.0f; });
}

std::array<float, 3> scoreSeriesFits(std::span<const float> values,
                                     const DetrendOptions& settings) {
  std::array<float, 3> scores = {kScoreStart, kScoreStart, kScoreStart};
  // A missing ring is no width: fitting it would drag every candidate.
  std::vector<float> present;
  present.reserve(values.size());
  for (float v : values) {
    if (v != kMissingValue) present.push_back(v);
  }
  // Only a series every candidate can be fitted to takes part.
  for (int32_t code : kDefaultFitCodes) {
    if (!defaultFitComputable(code, present)) return scores;
  }
  std::array<float, 3> deviations{};
  std::vector<float> residuals(present.size());
  for (size_t f = 0; f < scores.size(); ++f) {
    // Only the deviations are compared, so the growth curves take the coarse search.
    const ClassCurveFit fit =
        fitClassCurve(present, kDefaultFitCodes[f], settings, FitSearch::coarse);
    if (fit.failed()) return scores;
    const size_t n = std::min(fit.curve.size(), present.size());
    for (size_t i = 0; i < n; ++i) residuals[i] = present[i] - fit.curve[i];
    deviations[f] = moment(residuals, static_cast<int32_t>(n)).meanAbsDev;
  }
  return deviations;
}

std::array<float, 3> scoreDefaultFits(std::span<const std::span<const float>> series,
                                      const DetrendOptions& settings) {
  std::array<float, 3> scores = {kScoreStart, kScoreStart, kScoreStart};
  for (std::span<const float> values : series) {
    const std::array<float, 3> own = scoreSeriesFits(values, settings);
    for (size_t f = 0; f < scores.size(); ++f) scores[f] = std::min(scores[f], own[f]);
  }
  return scores;
}

int32_t chooseDefaultFit(const std::array<float, 3>& scores) {
  int32_t best = 1;
  for (int32_t f = 2; f <= 3; ++f) {
    if (scores[static_cast<size_t>(f - 1)] < scores[static_cast<size_t>(best - 1)]) best = f;
  }
  return best;
}

float minResidual(const ClassSeries& series, std::span<const float> curveByAge) {
  float m = kScoreStart;
  for (size_t r = 0; r < series.values.size(); ++r) {
    const float v = series.values[r];
    const size_t j = static_cast<size_t>(series.pithOffset) + r;
    if (v == kMissingValue || j >= curveByAge.size()) continue;
    const float c = curveByAge[j];
    if (c == kMissingValue) continue;
    m = std::min(m, v - c);
  }
  return m;
}

std::vector<float> indexSeries(const ClassSeries& series, std::span<const float> curveByAge,
                               int32_t indexMode, float seriesMinResidual,
                               std::vector<IndexProblem>& problems) {
  const float shift = std::fabs(std::min(seriesMinResidual, 0.0f));
  std::vector<float> index;
  index.reserve(series.values.size());
  for (size_t r = 0; r < series.values.size(); ++r) {
    const float v = series.values[r];
    if (v == kMissingValue) {
      index.push_back(kMissingValue);
      continue;
    }
    const auto age = static_cast<int32_t>(static_cast<size_t>(series.pithOffset) + r + 1);
    const float c =
        static_cast<size_t>(age) <= curveByAge.size() ? curveByAge[static_cast<size_t>(age - 1)]
                                                       : kMissingValue;
    const bool usable = c != kMissingValue && std::isfinite(c) && (indexMode != 1 || c > 0.0f);
    float x = kMissingValue;
    if (usable) {
      // Left to right in single precision: (v - c) + shift + 0.001.
      x = indexMode == 1 ? v / c : v - c + shift + 0.001f;
    }
    if (!usable || !std::isfinite(x)) {
      problems.push_back({age, c});
      index.push_back(kMissingValue);
      continue;
    }
    index.push_back(x > 0.998f && x < 1.0f ? 0.998f : x);
  }
  return index;
}

std::vector<float> chronologyValues(const ClassSeries& series, std::span<const float> curveByAge,
                                    int32_t indexMode, std::span<const float> index) {
  std::vector<float> values(index.size(), kMissingValue);
  for (size_t r = 0; r < index.size() && r < series.values.size(); ++r) {
    const size_t j = static_cast<size_t>(series.pithOffset) + r;
    if (index[r] == kMissingValue || j >= curveByAge.size()) continue;
    const float v = series.values[r];
    const float c = curveByAge[j];
    values[r] = indexMode == 1 ? v / c : v - c;
  }
  return values;
}

}  // namespace kavrel
