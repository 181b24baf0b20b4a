// The extra outputs asked for besides the dialogue's files: the run report
// (three CSV tables and a table of the classes on the screen) and the
// chronology (two CSV tables and, for ratios, the decade chronology file).
// Written at the normal end of the run, after the last revision, into the
// output folder; none of them goes to the run log.
#pragma once

#include "driver/run_context.h"
#include "driver/run_request.h"

namespace kavrel {

// Writes what request.report and request.chronology ask for from ctx.results,
// each file through OutputFile under ctx.outputDir. The class table and the
// list of files written go to the screen unless request.quiet; warnings always
// do. Without index series (index mode 0) no chronology is written and the
// screen says so. The decade chronology's site code is request.site, or the
// first six characters of the input file's name. Raises Fatal when a file
// can't be written or the index series can't form a chronology.
void writeRequestedResults(RunContext& ctx, const RunRequest& request);

}  // namespace kavrel
