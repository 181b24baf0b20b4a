// The signal-free form of regional curve standardisation (Melvin & Briffa
// 2008, Dendrochronologia 26:71-86): the common chronology is divided out of
// (ratios) or subtracted from (residuals) the measurements, each class's curve
// is refitted to the signal-free mean by age, and so on until the chronology
// no longer changes. Everything happens on arrays; the caller writes files and
// shows the pass lines.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fit/detrend2.h"
#include "rcs/class_curve.h"
#include "rcs/rcs_pass.h"

namespace kavrel {

struct SignalFreeSettings {
  double tolerance = 0.002;  // stop when the largest change falls below this
  int32_t maxPasses = 25;    // passes after pass 0 at most
  int32_t minDepth = 2;      // years with fewer series are left as they are
  bool robust = false;       // biweight instead of the arithmetic mean for the chronology

  bool operator==(const SignalFreeSettings&) const = default;
};

// One class entering a loop: its series and how pass 0 fitted it.
struct RcsClassInput {
  std::span<const ClassSeries> series;
  int32_t optionAsked = 0;  // method code the class asked for in pass 0
  DetrendOptions settings;  // fitting settings in force before the pass-0 fit
};

// A class's curve in one pass.
struct RcsClassCurve {
  AgeMean mean;                 // mean by age of the values the curve was fitted to
  ClassCurveFit fit;            // the fit of the mean values
  std::vector<float> curveByAge;  // index j-1 for age j; missing marker where none
};

// A chronology by calendar year, normalised (ratios: mean 1, residuals: mean
// 0 over the years with at least minDepth series). value is NaN where no
// series has an index.
struct YearlyChronology {
  int32_t firstYear = 0;
  std::vector<double> value;
  std::vector<int32_t> depth;
};

struct SignalFreePass {
  int32_t pass = 0;
  double largestChange = 0.0;  // NaN for pass 0
  double medianChange = 0.0;   // NaN for pass 0
};

struct SignalFreeResult {
  std::vector<RcsClassCurve> pass0;       // per class, in input order
  std::vector<RcsClassCurve> final;       // the curves of the last pass
  YearlyChronology pass0Chronology;       // normalised pass-0 chronology
  YearlyChronology chronology;            // normalised signal-free chronology C
  std::vector<SignalFreePass> passes;     // from pass 0
  bool converged = false;
  // Set when a fit failed; the curves and chronology are those of the last
  // complete pass.
  std::optional<std::string> failure;
};

// The index a chronology averages: w / c for ratios (indexMode 1), w - c for
// residuals (2); the missing marker where w is missing or c can't give one.
float rcsIndex(float w, float c, int32_t indexMode);

// Fits one class as the standard pass does: mean by age of `series`, the
// curve of `option` through it.
RcsClassCurve fitClassPass(std::span<const ClassSeries> series, int32_t option,
                           const DetrendOptions& settings);

// The chronology of the indices of every series of every class against the
// given curves (one per class), with its depth, not normalised.
YearlyChronology passChronology(std::span<const RcsClassInput> classes,
                                std::span<const RcsClassCurve> curves, int32_t indexMode,
                                bool robust);

// Normalises a chronology in place over the years with depth >= minDepth.
void normaliseChronology(YearlyChronology& c, int32_t indexMode, int32_t minDepth);

// The whole loop from pass 0. Its result depends only on the series (not on
// their order within a class), the class options and the settings.
SignalFreeResult signalFreeLoop(std::span<const RcsClassInput> classes, int32_t indexMode,
                                const SignalFreeSettings& settings);

}  // namespace kavrel
