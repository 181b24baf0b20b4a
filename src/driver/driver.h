// The run sequence of the program, from the banner to the termination lines.
#pragma once

#include "driver/run_context.h"

namespace kavrel {

// Runs the whole program on ctx: environment for the plotting library, the
// run log, the banner, the run-options dialogue, loading and screening, the
// power transformation, the pith-offset shift and the Loading table, the
// first pass over the classes, the revision loop and the termination lines.
// Conditions that end the run raise Fatal; the caller writes the message and
// closes the log.
void runProgram(RunContext& ctx);

// Writes the termination lines on the screen (after the log is closed): an
// empty line, 37 asterisks, " Normal Termination of Program", 37 asterisks
// and an empty line.
void writeTermination(RunContext& ctx);

}  // namespace kavrel
