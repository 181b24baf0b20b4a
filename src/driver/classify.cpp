#include "driver/classify.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "rwfile/trrw.h"
#include "util/fatal.h"
#include "util/outfile.h"
#include "util/stats.h"

namespace kavrel {

int32_t thirdLength(int32_t totalAge) {
  // Single-precision product, rounded half away from zero.
  return static_cast<int32_t>(std::lround(static_cast<float>(totalAge) * kThirdFraction));
}

namespace {

// Median of the values of positions first..last (1-based, inclusive) that
// are not missing; false when there is none.
bool segmentMedian(std::span<const float> agesValues, int32_t first, int32_t last,
                   std::vector<float>& scratch, float& median) {
  scratch.clear();
  const int32_t end = std::min(last, static_cast<int32_t>(agesValues.size()));
  for (int32_t j = std::max(first, 1); j <= end; ++j) {
    const float v = agesValues[static_cast<size_t>(j - 1)];
    if (v != kMissingValue) scratch.push_back(v);
  }
  if (scratch.empty()) return false;
  median = mfs(scratch, static_cast<int32_t>(scratch.size()), 2).median;
  return true;
}

}  // namespace

ThirdMedians thirdMedians(std::span<const float> agesValues, int32_t totalAge) {
  ThirdMedians result;
  const int32_t t = thirdLength(totalAge);
  const std::array<std::array<int32_t, 2>, 3> segments = {
      {{1, t}, {t + 1, 2 * t}, {2 * t + 1, totalAge}}};
  std::vector<float> scratch;
  scratch.reserve(static_cast<size_t>(std::max(totalAge, 0)));
  result.complete = true;
  for (size_t s = 0; s < 3; ++s) {
    if (!segmentMedian(agesValues, segments[s][0], segments[s][1], scratch, result.medians[s])) {
      result.medians[s] = kMissingValue;
      result.complete = false;
    }
  }
  return result;
}

float ageThreshold(std::span<const int32_t> totalAges, bool useMean) {
  if (totalAges.empty()) return 0.0f;
  std::vector<float> ages(totalAges.begin(), totalAges.end());
  const auto n = static_cast<int32_t>(ages.size());
  return useMean ? moment(ages, n).mean : mfs(ages, n, 2).median;
}

int32_t seriesClass(int32_t totalAge, float threshold, const ThirdMedians& thirds) {
  if (!thirds.complete) return kClassMedium;
  const float s1 = thirds.medians[0];
  const float s2 = thirds.medians[1];
  const float s3 = thirds.medians[2];
  const bool high = s1 < s2 && s1 < s3;
  const bool low = s1 > s2 && s1 > s3;
  if (!high && !low) return kClassMedium;
  // A tie with the threshold counts as short.
  const bool shortSeries = static_cast<float>(totalAge) <= threshold;
  if (shortSeries) return high ? kClassShortHigh : kClassShortLow;
  return high ? kClassLongHigh : kClassLongLow;
}

float avoidEndMarker(float value) {
  return value > 0.998f && value < 1.0f ? 0.998f : value;
}

bool hasMeasuredValue(const SeriesStore& store, int32_t k) {
  if (store.length(k) <= 0) return false;
  const std::vector<float>& v = store.values[static_cast<size_t>(k - 1)];
  return std::any_of(v.begin(), v.end(), [](float x) { return x != kMissingValue; });
}

std::vector<int32_t> classifySeries(SeriesStore& store, bool useMeanAge) {
  const int32_t n = store.seriesCount;
  // Only series with a measured ring take part in the age threshold.
  std::vector<int32_t> ages;
  ages.reserve(static_cast<size_t>(n));
  for (int32_t k = 1; k <= n; ++k) {
    if (hasMeasuredValue(store, k)) ages.push_back(store.totalAge(k));
  }
  store.ageThreshold = ageThreshold(ages, useMeanAge);
  store.classCounts.fill(0);
  for (auto& row : store.classPithOffsets) row.clear();
  store.thirdMedians.assign(static_cast<size_t>(n), {kMissingValue, kMissingValue, kMissingValue});

  std::vector<int32_t> classes(static_cast<size_t>(n));
  for (int32_t k = 1; k <= n; ++k) {
    const auto idx = static_cast<size_t>(k - 1);
    const ThirdMedians thirds = thirdMedians(store.values[idx], store.totalAge(k));
    store.thirdMedians[idx] = thirds.medians;
    if (!hasMeasuredValue(store, k)) continue;
    const int32_t c = seriesClass(store.totalAge(k), store.ageThreshold, thirds);
    classes[idx] = c;
    const auto ci = static_cast<size_t>(c - 1);
    ++store.classCounts[ci];
    store.classPithOffsets[ci].push_back(store.pithOffset(k));
  }
  return classes;
}

std::vector<std::string> writeClassRawFiles(const SeriesStore& store,
                                            std::span<const int32_t> classes,
                                            const std::array<std::string, kClassCount>& fileNames) {
  std::vector<std::string> notes;
  // Each file is written beside its final name and renamed into place once
  // complete, so an interrupted run never leaves a half-written class file;
  // a failure removes every scratch file.
  std::array<std::unique_ptr<OutputFile>, kClassCount> files;
  // A class without a name (the classes a single curve leaves empty) gets no file.
  for (size_t c = 0; c < files.size(); ++c) {
    if (!fileNames[c].empty()) files[c] = std::make_unique<OutputFile>(fileNames[c]);
  }
  std::vector<float> measured;
  measured.reserve(static_cast<size_t>(kMaxRings));
  std::string text;
  for (int32_t k = 1; k <= store.seriesCount; ++k) {
    const auto idx = static_cast<size_t>(k - 1);
    if (classes[idx] < 1 || classes[idx] > kClassCount) continue;
    const int32_t p = store.pithOffset(k);
    const auto& row = store.values[idx];
    measured.clear();
    for (int32_t j = p + 1; j <= store.totalAge(k); ++j) {
      measured.push_back(avoidEndMarker(row[static_cast<size_t>(j - 1)]));
    }
    const auto c = static_cast<size_t>(classes[idx] - 1);
    if (!files[c]) continue;
    text.clear();
    const RwWriteStatus status = trrwFormat(text, store.id(k), store.firstYear(k), measured);
    if (status.yearOutOfRange) {
      throw Fatal("Cannot write series " + store.id(k) + " to class file " + fileNames[c] + ": " +
                  describeWriteStatus(status, store.id(k)));
    }
    files[c]->write(text);
    if (!status.ok()) notes.push_back(describeWriteStatus(status, store.id(k)));
  }
  for (auto& f : files) {
    if (f) f->finish();
  }
  for (auto& f : files) {
    if (f) f->commit();
  }
  return notes;
}

}  // namespace kavrel
