// Exit statuses of kavrel, the same for the dialogue and for runs without
// questions.
#pragma once

#include "driver/rcdrvr.h"

namespace kavrel::cli {

inline constexpr int kExitNormal = 0;     // normal end of the run
inline constexpr int kExitRunFailed = 1;  // the run failed: a file or the data
inline constexpr int kExitUsage = 2;      // usage error: nothing was written
inline constexpr int kExitStopped = 3;    // ended at the user's "/" in the curve-fit menu
static_assert(kExitStopped == kMenuStopExitStatus);

}  // namespace kavrel::cli
