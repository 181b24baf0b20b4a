// The chronology and signal tables as CSV text: a header row, comma
// separators, '.' decimals and one record per row, so that R's read.csv and
// pandas read them without options. A value that does not exist is an empty
// field. The functions append to a string; the caller writes the file.
#pragma once

#include <span>
#include <string>

#include "chron/chronology.h"
#include "chron/signal.h"

namespace kavrel {

// Appends the chronology: "year,depth,mean_K,robust_mean_K" and the five
// class means "shorthigh_mean_K" .. "med_mean_K", where K is "ratio" or
// "residual" after the chronology's kind; then one row per year.
void appendChronologyCsv(std::string& out, const Chronology& chronology);
// The same with the class-mean columns of the first classColumns.size()
// classes, named by classColumns (e.g. one class "all").
void appendChronologyCsv(std::string& out, const Chronology& chronology,
                         std::span<const char* const> classColumns);

// Appends the signal windows: "first_year,last_year,series,rbar,eps", the
// statistics by tree "trees,rbar_tot,rbar_wt,rbar_bt,c_eff,rbar_eff,snr,eps_eff"
// (rbar_tot repeats rbar under the name the tree statistics use), then one
// row per window.
void appendSignalCsv(std::string& out, std::span<const SignalWindow> windows);

// v as the fewest digits that give its single-precision value back,
// locale-independent ("0.125", "1.5e-07"); an empty text for a missing value
// or one that is not finite in single precision, and "0" for either zero.
std::string csvNumber(std::optional<double> v);

}  // namespace kavrel
