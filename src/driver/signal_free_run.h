// The signal-free loop of a run: pass 0 of every class (the ordinary class
// passes, without their files), the loop in memory, then every class's
// age-aligned and index files and the combined file from the final curves.
// A revision reruns the whole loop, since one class's curve changes the
// common chronology.
#pragma once

#include <array>
#include <cstdint>

#include "driver/class_pass.h"
#include "driver/series_store.h"
#include "rcs/signal_free.h"

namespace kavrel {

struct RunContext;

struct SignalFreeRun {
  std::array<ClassPass, kClassCount> passes;  // pass 0 of each class, as its latest pass left it
  SignalFreeResult result;                    // the latest loop
};

// The first pass with the loop, in place of the five class passes.
void signalFreeFirstPass(RunContext& ctx);

// Refits class classNumber with ctx.detrend (as revised), reruns the loop over
// every class and rewrites every class's files and the combined file.
void signalFreeRevision(RunContext& ctx, int32_t classNumber);

}  // namespace kavrel
