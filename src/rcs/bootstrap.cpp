#include "rcs/bootstrap.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "chron/chronology.h"
#include "util/stats.h"

namespace kavrel {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Class of a series against the replicate's age threshold; a tie counts as
// short, as in the run's classification.
int32_t classOf(GrowthKind growth, int32_t totalAge, float threshold) {
  if (growth == GrowthKind::neither) return 5;
  const bool shortSeries = static_cast<float>(totalAge) <= threshold;
  if (shortSeries) return growth == GrowthKind::high ? 1 : 2;
  return growth == GrowthKind::high ? 3 : 4;
}

float replicateThreshold(std::span<const ClassSeries* const> series, bool useMean) {
  if (series.empty()) return 0.0f;
  std::vector<float> ages;
  ages.reserve(series.size());
  for (const ClassSeries* s : series) ages.push_back(static_cast<float>(s->lastAge()));
  const auto n = static_cast<int32_t>(ages.size());
  return useMean ? moment(ages, n).mean : mfs(ages, n, 2).median;
}

// The option a class refits with: the whole sample's, or the default fit's
// winner on these series for a class the whole sample left empty.
int32_t classOption(const BootstrapClass& c, std::span<const ClassSeries> series) {
  if (c.optionAsked != 0) return c.optionAsked;
  std::vector<std::span<const float>> values;
  values.reserve(series.size());
  for (const ClassSeries& s : series) values.emplace_back(s.values);
  const int32_t winner = chooseDefaultFit(scoreDefaultFits(values, c.settings));
  return kDefaultFitCodes[static_cast<size_t>(winner - 1)];
}

double at(const std::optional<double>& v) { return v ? *v : kNaN; }

// Bounds of one column over the replicates that succeeded.
BandColumn band(const std::vector<ReplicateChronology>& reps,
                std::vector<double> ReplicateChronology::*column, int32_t years, double level) {
  BandColumn b;
  const auto n = static_cast<size_t>(years);
  b.lower.assign(n, kNaN);
  b.upper.assign(n, kNaN);
  b.replicates.assign(n, 0);
  std::vector<double> x;
  for (size_t y = 0; y < n; ++y) {
    x.clear();
    for (const ReplicateChronology& r : reps) {
      if (r.failure || (r.*column).size() <= y) continue;
      const double v = (r.*column)[y];
      if (std::isfinite(v)) x.push_back(v);
    }
    std::sort(x.begin(), x.end());
    b.replicates[y] = static_cast<int32_t>(x.size());
    b.lower[y] = quantile7(x, (1.0 - level) / 2.0);
    b.upper[y] = quantile7(x, (1.0 + level) / 2.0);
  }
  return b;
}

}  // namespace

uint64_t mix64(uint64_t x) {
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

uint64_t SplitMix64::next() {
  state_ += 0x9E3779B97F4A7C15ULL;
  return mix64(state_);
}

SplitMix64 replicateGenerator(uint64_t seed, int32_t replicate) {
  return SplitMix64(mix64(mix64(seed) + static_cast<uint64_t>(replicate)));
}

// The 128-bit product of a and b as its high and low 64 bits.
void multiply128(uint64_t a, uint64_t b, uint64_t& high, uint64_t& low) {
  const uint64_t aLo = a & 0xFFFFFFFFULL, aHi = a >> 32;
  const uint64_t bLo = b & 0xFFFFFFFFULL, bHi = b >> 32;
  const uint64_t ll = aLo * bLo, lh = aLo * bHi, hl = aHi * bLo, hh = aHi * bHi;
  const uint64_t mid = (ll >> 32) + (lh & 0xFFFFFFFFULL) + (hl & 0xFFFFFFFFULL);
  low = (mid << 32) | (ll & 0xFFFFFFFFULL);
  high = hh + (lh >> 32) + (hl >> 32) + (mid >> 32);
}

uint64_t drawBelow(SplitMix64& rng, uint64_t n) {
  uint64_t high = 0;
  uint64_t low = 0;
  multiply128(rng.next(), n, high, low);
  if (low < n) {
    const uint64_t limit = (0 - n) % n;  // 2^64 mod n
    while (low < limit) multiply128(rng.next(), n, high, low);
  }
  return high;
}

double quantile7(std::span<const double> sorted, double p) {
  if (sorted.empty()) return kNaN;
  const double h = static_cast<double>(sorted.size() - 1) * p;
  const auto lo = static_cast<size_t>(std::floor(h));
  if (lo + 1 >= sorted.size()) return sorted.back();
  return sorted[lo] + (h - static_cast<double>(lo)) * (sorted[lo + 1] - sorted[lo]);
}

std::vector<size_t> replicateDraw(const BootstrapInput& input, uint64_t seed, int32_t replicate) {
  int32_t trees = 0;
  for (int32_t t : input.tree) trees = std::max(trees, t + 1);
  std::vector<std::vector<size_t>> cores(static_cast<size_t>(trees));
  for (size_t i = 0; i < input.tree.size(); ++i) cores[static_cast<size_t>(input.tree[i])].push_back(i);
  SplitMix64 rng = replicateGenerator(seed, replicate);
  std::vector<size_t> draw;
  draw.reserve(input.series.size());
  for (int32_t i = 0; i < trees; ++i) {
    const std::vector<size_t>& tree = cores[drawBelow(rng, static_cast<uint64_t>(trees))];
    draw.insert(draw.end(), tree.begin(), tree.end());
  }
  return draw;
}

ReplicateChronology runReplicate(const BootstrapInput& input, std::span<const size_t> draw) {
  ReplicateChronology out;
  // Classification: the threshold of the drawn series' total ages, then each
  // series' class from its fixed growth kind.
  std::vector<const ClassSeries*> drawn;
  drawn.reserve(draw.size());
  for (size_t i : draw) drawn.push_back(&input.series[i]);
  const float threshold = replicateThreshold(drawn, input.useMeanAge);
  std::array<std::vector<ClassSeries>, 5> members;
  for (size_t k = 0; k < draw.size(); ++k) {
    const ClassSeries& s = *drawn[k];
    const int32_t c =
        input.singleCurve ? 1 : classOf(input.growth[draw[k]], s.lastAge(), threshold);
    members[static_cast<size_t>(c - 1)].push_back(s);
  }
  std::vector<RcsClassInput> classes;
  std::vector<int32_t> classNumbers;
  for (size_t c = 0; c < members.size(); ++c) {
    if (members[c].empty()) continue;  // an empty class is normal in a replicate
    const BootstrapClass& bc = input.classes[c];
    classes.push_back({members[c], classOption(bc, members[c]), bc.settings});
    classNumbers.push_back(static_cast<int32_t>(c + 1));
  }

  // The class curves: one pass, or the signal-free loop.
  std::vector<RcsClassCurve> curves;
  std::optional<SignalFreeResult> loop;
  if (input.signalFree) {
    loop = signalFreeLoop(classes, input.indexMode, *input.signalFree);
    if (loop->failure) {
      out.failure = *loop->failure;
      return out;
    }
    curves = std::move(loop->final);
  } else {
    for (size_t k = 0; k < classes.size(); ++k) {
      curves.push_back(fitClassPass(classes[k].series, classes[k].optionAsked, classes[k].settings));
      if (curves.back().fit.failed()) {
        out.failure = "class " + std::to_string(classNumbers[k]) + ": " +
                      curves.back().fit.failure->what();
        return out;
      }
    }
  }

  // Indices and the chronology, as the run builds them from its index series.
  std::vector<IndexSeries> index;
  index.reserve(draw.size());
  for (size_t k = 0; k < classes.size(); ++k) {
    const std::vector<float>& curve = curves[k].curveByAge;
    for (const ClassSeries& s : classes[k].series) {
      IndexSeries is{classNumbers[k], s.firstYear, std::vector<float>(s.values.size())};
      for (size_t r = 0; r < s.values.size(); ++r) {
        const size_t j = static_cast<size_t>(s.pithOffset) + r;
        is.values[r] = rcsIndex(s.values[r], j < curve.size() ? curve[j] : kMissingValue,
                                input.indexMode);
      }
      index.push_back(std::move(is));
    }
  }
  const ChronologyResult built =
      buildChronology(index, input.indexMode == 1 ? IndexKind::Ratio : IndexKind::Residual);
  if (built.status != ChronStatus::Ok) {
    out.failure = built.message;
    return out;
  }
  const auto n = static_cast<size_t>(input.yearCount);
  out.mean.assign(n, kNaN);
  out.robustMean.assign(n, kNaN);
  for (const ChronologyYear& y : built.chronology.years) {
    const int64_t i = int64_t{y.year} - input.firstYear;
    if (i < 0 || i >= static_cast<int64_t>(n)) continue;
    out.mean[static_cast<size_t>(i)] = at(y.mean);
    out.robustMean[static_cast<size_t>(i)] = at(y.robustMean);
  }
  if (loop) {
    out.signalFree.assign(n, kNaN);
    const YearlyChronology& c = loop->chronology;
    for (size_t t = 0; t < c.value.size(); ++t) {
      const int64_t i = int64_t{c.firstYear} + static_cast<int64_t>(t) - input.firstYear;
      if (i < 0 || i >= static_cast<int64_t>(n)) continue;
      out.signalFree[static_cast<size_t>(i)] = c.value[t];
    }
  }
  return out;
}

BootstrapResult bootstrapBands(const BootstrapInput& input, const BootstrapSettings& settings,
                               const std::function<void(int32_t)>& progress) {
  const int32_t count = std::max(settings.replicates, 0);
  std::vector<ReplicateChronology> reps(static_cast<size_t>(count));
  std::atomic<int32_t> next{0};
  std::mutex progressMutex;
  int32_t done = 0;
  // Each thread takes the next replicate number; a replicate's draws depend on
  // the seed and its number alone, so the threads only share the work.
  const auto work = [&] {
    for (;;) {
      const int32_t r = next.fetch_add(1);
      if (r >= count) return;
      try {
        const std::vector<size_t> draw = replicateDraw(input, settings.seed, r + 1);
        reps[static_cast<size_t>(r)] = runReplicate(input, draw);
      } catch (const std::exception& e) {
        // Nothing may leave a thread: the replicate is left out instead.
        reps[static_cast<size_t>(r)].failure = e.what();
      }
      if (progress) {
        const std::lock_guard<std::mutex> lock(progressMutex);
        progress(++done);
      }
    }
  };
  const int32_t threads = std::clamp(settings.threads, 1, std::max(count, 1));
  std::vector<std::thread> pool;
  for (int32_t t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();

  BootstrapResult result;
  for (const ReplicateChronology& r : reps) {
    if (!r.failure) continue;
    if (result.failed == 0) result.firstFailure = *r.failure;
    ++result.failed;
  }
  result.mean = band(reps, &ReplicateChronology::mean, input.yearCount, settings.level);
  result.robustMean = band(reps, &ReplicateChronology::robustMean, input.yearCount, settings.level);
  if (input.signalFree) {
    result.signalFree =
        band(reps, &ReplicateChronology::signalFree, input.yearCount, settings.level);
  }
  return result;
}

}  // namespace kavrel
