#include "driver/classify.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "rwfile/trrw.h"
#include "util/cfile.h"
#include "util/fatal.h"
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

std::vector<int32_t> classifySeries(SeriesStore& store, bool useMeanAge) {
  const int32_t n = store.seriesCount;
  store.ageThreshold = ageThreshold(std::span<const int32_t>(store.totalAges.data(),
                                                             static_cast<size_t>(n)),
                                    useMeanAge);
  store.classCounts.fill(0);
  for (auto& row : store.classPithOffsets) row.clear();
  store.thirdMedians.assign(static_cast<size_t>(n), {kMissingValue, kMissingValue, kMissingValue});

  std::vector<int32_t> classes(static_cast<size_t>(n));
  for (int32_t k = 1; k <= n; ++k) {
    const auto idx = static_cast<size_t>(k - 1);
    const ThirdMedians thirds = thirdMedians(store.values[idx], store.totalAge(k));
    store.thirdMedians[idx] = thirds.medians;
    if (store.length(k) <= 0) continue;
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
  // complete, so an interrupted run never leaves a half-written class file.
  std::array<std::string, kClassCount> partNames;
  std::array<FilePtr, kClassCount> files;
  auto removeParts = [&partNames, &files]() {
    for (size_t c = 0; c < files.size(); ++c) {
      files[c].reset();
      if (!partNames[c].empty()) std::remove(partNames[c].c_str());
    }
  };
  for (size_t c = 0; c < files.size(); ++c) {
    partNames[c] = fileNames[c] + ".part";
    files[c].reset(std::fopen(partNames[c].c_str(), "w"));
    if (!files[c]) {
      const std::string reason = std::strerror(errno);
      partNames[c].clear();
      removeParts();
      throw Fatal("Cannot create class file " + fileNames[c] + ": " + reason);
    }
  }
  std::vector<float> measured;
  measured.reserve(static_cast<size_t>(kMaxRings));
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
    const RwWriteStatus status =
        trrwWrite(files[c].get(), store.id(k), store.firstYear(k), measured);
    if (status.ioError || status.yearOutOfRange) {
      removeParts();
      throw Fatal("Cannot write series " + store.id(k) + " to class file " + fileNames[c] + ": " +
                  describeWriteStatus(status, store.id(k)));
    }
    if (!status.ok()) notes.push_back(describeWriteStatus(status, store.id(k)));
  }
  for (size_t c = 0; c < files.size(); ++c) {
    std::FILE* f = files[c].release();
    const bool bad = std::ferror(f) != 0;
    if (std::fclose(f) != 0 || bad) {
      removeParts();
      throw Fatal("Cannot write class file " + fileNames[c]);
    }
  }
  for (size_t c = 0; c < files.size(); ++c) {
    if (std::rename(partNames[c].c_str(), fileNames[c].c_str()) != 0) {
      const std::string reason = std::strerror(errno);
      removeParts();
      throw Fatal("Cannot replace class file " + fileNames[c] + ": " + reason);
    }
  }
  return notes;
}

}  // namespace kavrel
