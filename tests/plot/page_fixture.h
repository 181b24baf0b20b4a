// The five classes most page tests draw: written into a scratch folder in
// the class loop's age-aligned layout, with the inputs the plot receives.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "plot/rcsplt.h"
#include "plot_test_support.h"

namespace kavrel::plottest {

inline const char* const kAgeAlignedNames[5] = {
    "shorthighV6_raw_agealigned.txt", "shortlowV6_raw_agealigned.txt",
    "longhighV6_raw_agealigned.txt", "longlowV6_raw_agealigned.txt", "medV6_raw_agealigned.txt"};

inline float testCurve(int32_t age) {
  return 0.71f * std::exp(-0.0123f * static_cast<float>(age)) + 0.187f;
}

// Ring widths below 1 mm that vary from ring to ring.
inline std::vector<float> rings(int32_t n, float start) {
  std::vector<float> v;
  for (int32_t r = 1; r <= n; ++r) {
    v.push_back(start * std::exp(-0.009f * static_cast<float>(r)) +
                0.037f * std::sin(0.7f * static_cast<float>(r)) + 0.05f);
  }
  return v;
}

struct FiveClasses {
  std::vector<std::vector<TestSeries>> classes;
  PlotInputs inputs;
};

// Class 1: series of pith offsets 0 and 20; class 2: three series; class 3
// empty; class 4: one series up to age 100; class 5: two series, one with a
// missing value inside. Largest age 100, largest value below 1 mm.
inline FiveClasses writeFiveClasses() {
  FiveClasses f;
  f.classes = {
      {{"AB001A  ", 0, rings(60, 0.83f)}, {"AB002B  ", 20, rings(50, 0.611f)}},
      {{"CD101   ", 0, rings(40, 0.52f)},
       {"CD102   ", 3, rings(45, 0.47f)},
       {"CD103   ", 7, rings(30, 0.55f)}},
      {},
      {{"EF201   ", 5, rings(95, 0.43f)}},
      {{"GH301   ", 2, rings(33, 0.73f)}, {"GH302   ", 0, rings(27, 0.66f)}},
  };
  f.classes[4][0].rings[10] = -999.0f;  // a missing ring inside the series
  int32_t maxAge = 0;
  for (size_t c = 0; c < 5; ++c) {
    maxAge = std::max(maxAge, writeAgeAligned(kAgeAlignedNames[c], f.classes[c], testCurve));
    f.inputs.classFileNames[c] = kAgeAlignedNames[c];
    f.inputs.seriesInClass[c] = static_cast<int32_t>(f.classes[c].size());
  }
  f.inputs.maxAgeAllClasses = maxAge;
  f.inputs.maxRawValue = 0.93f;
  return f;
}

// A plot state that sends "screen" pages to an svg file.
inline PlotState svgState(const std::string& file = "page.svg") {
  PlotState s;
  s.screenDevice = "svg";
  s.screenFile = file;
  return s;
}

}  // namespace kavrel::plottest
