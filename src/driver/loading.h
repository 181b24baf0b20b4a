// Loading and screening of the input file into the series store, the power
// transformation, the pith-offset check and shift to cambial age, and the
// "Loading" table of per-series statistics.
#pragma once

#include <cstdint>
#include <string>

#include "driver/run_log.h"
#include "driver/run_options.h"
#include "driver/run_results.h"
#include "driver/series_store.h"

namespace kavrel {

class Console;
class RwInput;
struct RunContext;

// Reads every series of `in` and stores those that pass the screening tests
// (outlier, age band, first year, in this order; then the capacity of
// kMaxRings ring positions including the pith offset). Each dropped record
// is counted in store.skipCount, gets one line on the screen and in the log,
// and, when pith offsets are used, loses its offset so that offset k stays
// paired with the k-th accepted series. More than kMaxSeries accepted series
// raise Fatal naming the limit. The reader's warnings about the input go to
// the log, the first ten also to the screen, then one line with the number
// of the others. With `records`, every record read is appended to it in
// input order, with its fate and, when dropped, the value that failed and the
// pith offset dropped with it.
void loadSeries(SeriesStore& store, RunOptions& options, RwInput& in, RunLog& log,
                std::vector<SeriesRecord>* records = nullptr);

// Opens ctx.inputPath (options.inputFileName when empty) in ctx.inputFormat
// (automatic: told by content) and loads it, recording every record in
// ctx.results and the format read in ctx.inputFormat; Fatal when it can't be
// read to its end or holds bad Heidelberg or CSV content.
void loadInputFile(RunContext& ctx);

// Power transformation of every stored series (its measured values only).
void powerTransformAll(SeriesStore& store);

// When pith offsets are used and their count differs from the number of
// accepted series: the warning on screen and in the log, a pause for Return
// (only with `pause`: a run without questions goes straight on), then every
// offset becomes 0 and options.usePithOffsets false.
void checkPithOffsetCount(SeriesStore& store, RunOptions& options, Console& console, RunLog& log,
                          bool pause = true);

// Shifts every series by its pith offset, so that ring position j is cambial
// age j (the first pithOffsets(k) positions missing), fills totalAges and
// leaves exactly seriesCount pith offsets in the store.
void shiftByPithOffsets(SeriesStore& store);

// Header lines of the Loading table (the empty line, the title and the
// column titles), separated by newlines.
std::string loadingHeader();

// The Loading table row of series k (1-based) of a shifted store. Uses
// store.workSeries as scratch. A series without any value shows -999.000 in
// its five statistics columns.
std::string loadingRow(SeriesStore& store, int32_t k);

// Writes the Loading table to the screen and the log.
void writeLoadingTable(SeriesStore& store, RunLog& log);

// Steps from opening the input file through the Loading table, for ctx.
void loadAndPrepare(RunContext& ctx);

}  // namespace kavrel
