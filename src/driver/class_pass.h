// One pass over one age/growth class: the class raw file is read back, each
// series is placed on the cambial-age axis by its pith offset, the class's
// mean by age is fitted with a regional curve, and the age-aligned file, the
// class index file and the class's part of the combined index file are
// written. The first pass also chooses the curve type by scoring three
// default fits; a revision pass uses the type chosen in the curve-fit menu.
#pragma once

#include <cstdint>

namespace kavrel {

struct RunContext;

// Runs the pass for class classNumber (1..5).
//   revision = false: first pass. Scores the linear, negative exponential and
//     general exponential fits on the class's series, writes
//     "Processing file: ...", "total number of series = n" and the
//     "Default Curve fit: ..." line to the screen and the log, and fits the
//     winner.
//   revision = true: fits with the method code ctx.detrend.option (set by the
//     curve-fit menu) and writes none of those lines.
// Reads ctx.store.classPithOffsets and the class raw file; updates
// ctx.classFileNames (the age-aligned name), ctx.indexFileNames,
// ctx.seriesInClass, ctx.maxAgeAllClasses and ctx.maxRawValue. Appends the
// index series to ctx.combinedIndexFile when indices are wanted (the file
// must then be open). Raises Fatal when a file can't be opened or written.
void classPass(RunContext& ctx, int32_t classNumber, bool revision);

}  // namespace kavrel
