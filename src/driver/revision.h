// The curve revision loop: after the first pass over the five classes the
// user may replace any class's regional curve by another curve type, as often
// as wanted. Each revision refits that one class, rewrites its files and
// replaces its series in the combined index file, then the plot is drawn again.
#pragma once

namespace kavrel {

struct RunContext;

// Shows the plot of the last pass, then asks "Change a RC curve?". On true:
// asks for the class and the curve type, logs the choice, removes the class's
// old series from the combined index file, refits the class and loops. Returns
// on false; the caller then writes the termination. Answers that cannot be
// continued (end of input, "/" in the curve-fit menu) raise Fatal.
void revisionLoop(RunContext& ctx);

}  // namespace kavrel
