// Wide tables for other tools: one row per calendar year, one column per
// classified series (in input order), as R's read.csv(..., row.names = 1)
// and pandas read them and dplR's as.rwl takes them. Built from RunResults;
// the caller writes the files.
#pragma once

#include <string>

#include "driver/run_results.h"

namespace kavrel {

inline constexpr const char* kIndicesCsvName = "kavrel_indices.csv";
inline constexpr const char* kWidthsCsvName = "kavrel_widths.csv";

// Column name of a series in the wide tables: the identifier the decade
// files carry, without its padding blanks.
std::string wideColumnName(const std::string& storeId);

// "year" and one column per classified series; then one row per year from
// the earliest first year to the latest last year of those series. Empty
// fields where a series has no value.
// Indices: ratios or residuals as computed, before the index files round
// them and without the residual files' shift (results.indexSeries).
// Widths: the ring widths read, in millimetres (results.widths).
void appendIndicesCsv(std::string& out, const RunResults& results);
void appendWidthsCsv(std::string& out, const RunResults& results);

}  // namespace kavrel
