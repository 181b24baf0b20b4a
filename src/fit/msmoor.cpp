#include "fit/msmoor.h"

#include <cassert>
#include <cmath>
#include <string>

#include "util/stats.h"

namespace kavrel {

namespace {

// A pass that changes the series by less than this in total has converged.
constexpr float kConvergence = 1.0e-6f;

bool isOdd(int32_t window) { return window % 2 == 1; }  // % keeps the sign of window

// Notes "input error N in <routine>." after a blank line, and a wait for Return.
void reportInputError(FitNotes* notes, int32_t code, const char* routine) {
  note(notes, "\n input error " + std::to_string(code) + " in " + routine + ".");
  notePause(notes);
}

// Input checks shared by both routines, in order, each overwriting the code.
int32_t checkSizes(int32_t n, int32_t window, int32_t capacity, size_t workSize) {
  int32_t code = 0;
  if (n < window || n > capacity) code = 1;
  if (window < 1 || window > capacity || static_cast<size_t>(window) > workSize) code = 2;
  return code;
}

}  // namespace

int32_t msmoo(std::span<const float> series, std::span<float> curve, std::span<float> work,
              int32_t n, int32_t window, int32_t capacity, FitNotes* notes) {
  int32_t code = checkSizes(n, window, capacity, work.size());
  if (!isOdd(window)) code = 3;
  if (code != 0) {
    reportInputError(notes, code, "msmoo");
    return code;
  }
  assert(series.size() >= static_cast<size_t>(n) && curve.size() >= static_cast<size_t>(n));
  if (window == 1) {
    for (int32_t i = 0; i < n; ++i) curve[i] = series[i];
    return 0;
  }
  const int32_t k = (window - 1) / 2;
  for (int32_t i = k; i < n - k; ++i) {
    for (int32_t j = 0; j < window; ++j) work[j] = series[i - k + j];
    sort(window, work);
    curve[i] = work[k];
  }
  // The ends take the nearest full-window median.
  for (int32_t i = 0; i < k; ++i) curve[i] = curve[k];
  for (int32_t i = n - k; i < n; ++i) curve[i] = curve[n - k - 1];
  return 0;
}

MsmoorResult msmoor(std::span<float> series, std::span<float> curve, std::span<float> work,
                    int32_t n, int32_t& window, int32_t capacity, FitNotes* notes) {
  MsmoorResult result;
  result.errorCode = checkSizes(n, window, capacity, work.size());
  if (!isOdd(window)) {
    // An even window is lowered to the odd one below it, for the caller too.
    window -= 1;
    if (!isOdd(window)) result.errorCode = 3;
  }
  if (result.errorCode != 0) {
    reportInputError(notes, result.errorCode, "msmoor");
    return result;
  }

  while (true) {
    ++result.passes;
    if (result.passes > kMsmoorMaxPasses) {
      note(notes, "\n *** maximum iterations reached in msmoor ***");
      result.errorCode = kMsmoorNoConvergence;
      return result;
    }
    const int32_t code = msmoo(series, curve, work, n, window, capacity, notes);
    if (code != 0) {
      result.errorCode = code + 10;
      return result;
    }
    float change = 0.0f;
    for (int32_t i = 0; i < n; ++i) change += std::fabs(series[i] - curve[i]);
    if (change < kConvergence) return result;
    for (int32_t i = 0; i < n; ++i) series[i] = curve[i];
  }
}

}  // namespace kavrel
