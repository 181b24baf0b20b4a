// Confidence bands of the chronology by resampling trees through the whole
// method: each replicate draws trees with replacement and runs the method
// again on them from the classification on (age threshold, classes, each
// class's curve, the signal-free loop when asked, indices, chronology), in
// memory. The percentile interval of the replicates' chronologies by year is
// the band. Arrays in, results out; no console, file or static state.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fit/detrend2.h"
#include "rcs/rcs_pass.h"
#include "rcs/signal_free.h"

namespace kavrel {

// SplitMix64 (Steele, Lea & Flood 2014): a 64-bit state advanced by the golden
// gamma and mixed by a fixed finaliser; the same numbers on every platform.
class SplitMix64 {
 public:
  explicit SplitMix64(uint64_t state) : state_(state) {}
  uint64_t next();

 private:
  uint64_t state_;
};

// The SplitMix64 finaliser of x.
uint64_t mix64(uint64_t x);

// The generator of replicate r (1-based) of a run seeded with `seed`: its
// state starts at mix64(mix64(seed) + r).
SplitMix64 replicateGenerator(uint64_t seed, int32_t replicate);

// A number drawn uniformly from 0 .. n-1 (n >= 1) by Lemire's multiply-shift
// with rejection: the high 64 bits of x * n for a 64-bit draw x, drawing again
// while the low 64 bits fall below 2^64 mod n.
uint64_t drawBelow(SplitMix64& rng, uint64_t n);

// The 128-bit product of a and b as its high and low 64 bits.
void multiply128(uint64_t a, uint64_t b, uint64_t& high, uint64_t& low);

// The type-7 quantile (R's default) of the values in `sorted` (ascending) at
// probability p: h = (n - 1) p, x[floor h] + (h - floor h) (x[floor h + 1] -
// x[floor h]). NaN for no values.
double quantile7(std::span<const double> sorted, double p);

// Whether a series' early growth is above both later thirds (high), below both
// (low) or neither; fixed per series, so a replicate needs only the threshold.
enum class GrowthKind { high, low, neither };

// A class as the whole sample ended it.
struct BootstrapClass {
  int32_t optionAsked = 0;  // method code to refit with; 0: choose the default by scoring
  DetrendOptions settings;  // fitting settings before the class's fit
};

struct BootstrapInput {
  std::vector<ClassSeries> series;  // every classified series
  std::vector<GrowthKind> growth;   // per series
  std::vector<int32_t> tree;        // per series: tree number 0 .. trees-1
  bool singleCurve = false;         // every series in class 1
  bool useMeanAge = false;          // the age threshold is the mean (else the median) total age
  std::array<BootstrapClass, 5> classes;
  int32_t indexMode = 1;                           // 1 ratios, 2 residuals
  std::optional<SignalFreeSettings> signalFree;    // run the signal-free loop
  int32_t firstYear = 0;                           // years of the bands: firstYear ..
  int32_t yearCount = 0;                           // firstYear + yearCount - 1
};

struct BootstrapSettings {
  int32_t replicates = 0;
  uint64_t seed = 1;
  double level = 0.95;  // central probability of the interval
  int32_t threads = 1;
};

// One chronology column's band: per year, the bounds (NaN where no replicate
// has a value) and the number of replicates with a value.
struct BandColumn {
  std::vector<double> lower, upper;
  std::vector<int32_t> replicates;
};

struct BootstrapResult {
  BandColumn mean, robustMean, signalFree;  // signalFree only with the loop
  int32_t failed = 0;                       // replicates left out: a fit failed
  std::string firstFailure;                 // why the first of them failed
};

// One replicate's chronologies on the band's years (NaN where none), or its
// failure.
struct ReplicateChronology {
  std::vector<double> mean, robustMean, signalFree;
  std::optional<std::string> failure;
};

// Series numbers (into input.series) of replicate r: as many trees as there
// are, each drawn with drawBelow from the replicate's generator, all cores of
// a drawn tree in input order, in the order the trees were drawn.
std::vector<size_t> replicateDraw(const BootstrapInput& input, uint64_t seed, int32_t replicate);

// The method run on the given series (repeats allowed).
ReplicateChronology runReplicate(const BootstrapInput& input, std::span<const size_t> draw);

// Every replicate on settings.threads threads, then the bands. `progress`,
// when set, is called after each replicate with the number done (one call at a
// time). The result does not depend on the number of threads.
BootstrapResult bootstrapBands(const BootstrapInput& input, const BootstrapSettings& settings,
                               const std::function<void(int32_t)>& progress = {});

}  // namespace kavrel
