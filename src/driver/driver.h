// The run sequence of the program, from the banner to the termination lines.
#pragma once

#include <exception>

#include "driver/run_context.h"
#include "util/fatal.h"

namespace kavrel {

// Runs the whole program on ctx: the lock on the output folder (a second run
// in a folder ends at once, touching nothing), environment for the plotting
// library, the run log, the banner, the run-options dialogue, loading and
// screening, the power transformation, the pith-offset shift and the Loading
// table, the first pass over the classes, the revision loop and the
// termination lines.
// Conditions that end the run raise Fatal; the caller hands them to
// reportFatal.
void runProgram(RunContext& ctx);

// The banner lines, each ending in a newline.
const char* bannerText();

// Closes the log and writes the termination lines on the screen: two empty
// lines, 37 asterisks, " Normal Termination of Program", 37 asterisks and two
// empty lines (the layout "(/)" before and after).
void writeTermination(RunContext& ctx);

// Ends a run that raised Fatal: writes each line of its message with one
// leading blank (empty lines stay empty) to the screen and the log, pauses
// for Return when asked (unless input has ended), closes the combined index
// file and the log, and returns the exit status (never 0).
int reportFatal(RunContext& ctx, const Fatal& fatal);

// Ends a run on an unexpected internal error the same way, with status 2.
int reportInternalError(RunContext& ctx, const std::exception& error);

}  // namespace kavrel
