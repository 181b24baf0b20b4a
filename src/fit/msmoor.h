// Running medians of odd window length (Tukey 1977, Exploratory Data
// Analysis, ch. 7): `msmoo` makes one pass, `msmoor` repeats passes until the
// series is a fixed point of the smoother (at most 10 passes).
//
// Positions 1..n map to indices 0..n-1. Windows are sorted with the shared
// heapsort.
#pragma once

#include <cstdint>
#include <span>

#include "fit/fit_notes.h"

namespace kavrel {


// Largest number of passes msmoor makes before giving up.
inline constexpr int32_t kMsmoorMaxPasses = 10;

// Error codes: 0 success; 1 n < window or n > capacity; 2 window < 1 or
// window > capacity; 3 window not odd after lowering an even window by one;
// msmoor adds 10 to an error reported by msmoo; 20 no convergence.
inline constexpr int32_t kMsmoorNoConvergence = 20;

// Outcome of msmoor.
struct MsmoorResult {
  int32_t passes = 0;     // passes counted (11 when the limit was reached)
  int32_t errorCode = 0;  // see above
};

// Repeated running medians of series[0..n-1] into curve[0..n-1] until the sum
// of absolute changes of a pass is below 1e-6. `series` is overwritten by each
// pass's input, so on return it holds the input of the last pass. An even
// window is lowered by one, and the lowered value is written back. work holds
// at least `window` values (a larger window counts as error 2). On an input
// error the note "input error N in msmoor." asks for a wait for Return (a
// pause in `notes`) and curve is left alone. After 10 passes without
// convergence the note "*** maximum iterations reached in msmoor ***" says so
// and curve holds the tenth pass.
[[nodiscard]] MsmoorResult msmoor(std::span<float> series, std::span<float> curve,
                                  std::span<float> work, int32_t n, int32_t& window,
                                  int32_t capacity, FitNotes* notes = nullptr);

// One pass of running medians of odd window length: curve[i] is the median of
// series[i-k..i+k], k = (window - 1) / 2; the first and last k positions take
// the nearest full-window median. Returns 0 or an input error code (1, 2, 3)
// after the note "input error N in msmoo." and its wait for Return.
[[nodiscard]] int32_t msmoo(std::span<const float> series, std::span<float> curve,
                            std::span<float> work, int32_t n, int32_t window, int32_t capacity,
                            FitNotes* notes = nullptr);

}  // namespace kavrel
