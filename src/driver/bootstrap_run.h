// The chronology's confidence bands in a run: the classified series grouped
// into trees, the replicates run on the requested threads with a progress
// line on the screen, and the band columns appended to the chronology table.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "chron/chronology.h"
#include "chron/trees.h"
#include "driver/run_request.h"
#include "rcs/bootstrap.h"

namespace kavrel {

struct RunContext;


// Runs the replicates of request.bootstrap over the years of `chronology`;
// shows the progress line and the count of replicates left out.
BootstrapResult runBootstrap(RunContext& ctx, const RunRequest& request,
                             const Chronology& chronology);

// The chronology table `csv` (header and one row per year of `chronology`)
// with <column>_lower, <column>_upper and <column>_replicates appended to
// every row for mean_K, robust_mean_K and, when the bands hold it,
// signal_free_K.
std::string withBandColumns(const std::string& csv, const Chronology& chronology,
                            const BootstrapResult& bands);

}  // namespace kavrel
