// The first pass over the five age/growth classes: classification of the
// loaded series and the five class raw files, then the class loop over
// classes 1..5 (age alignment, default curve choice, regional curve, the
// age-aligned files and the indices), and the closing of the combined index
// file once the pass is done.
#pragma once

namespace kavrel {

struct RunContext;

// Runs the first pass on the loaded, pith-shifted store of ctx. Sets
// ctx.maxRawValue to the missing marker before the first class, so that it
// only grows from there. Writes "Processing file:", "total number of series ="
// and the default-fit line of each class to the screen and the log. After
// class 5 commits the combined index file (ctx.combinedFirstPass, when open)
// under its final name. Raises Fatal when a file can't be created, written or
// read back.
void firstPass(RunContext& ctx);

}  // namespace kavrel
