// The curve revision loop: after the first pass over the five classes the
// user may replace any class's regional curve by another curve type, as often
// as wanted. Each revision refits that one class, rewrites its files and
// replaces its series in the combined index file, then the plot is drawn again.
#pragma once

#include <cstdint>
#include <vector>

#include "driver/run_request.h"
#include "plot/rcsplt.h"

namespace kavrel {

struct RunContext;

// Shows the plot of the last pass, then asks "Change a RC curve?". On true:
// asks for the class and the curve type, makes the revision (reviseClass),
// appends it to `made` (with the answer as applied, see appliedCurveAnswer)
// and loops. Returns on false; the caller then writes the termination.
// Answers that cannot be continued (end of input, "/" in the curve-fit menu)
// raise Fatal.
void revisionLoop(RunContext& ctx, std::vector<Revision>& made);

// Makes the revisions in order, each exactly as the loop makes one after its
// menu: the answer applied to the fitting settings, then reviseClass. Shows
// no plot and asks nothing.
void applyRevisions(RunContext& ctx, const std::vector<Revision>& revisions);

// One revision once the curve type is chosen (ctx.detrend holds its
// settings): the run-log lines, then the class refitted with `option`, its
// files rewritten and its series replaced in the combined index file.
void reviseClass(RunContext& ctx, int32_t classNumber, int32_t option);

// What the regional-curve page needs from the run's latest passes.
PlotInputs regionalCurvePlotInputs(const RunContext& ctx);

}  // namespace kavrel
