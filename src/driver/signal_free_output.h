// The signal-free loop's part of the chronology files: the normalised pass-0
// and signal-free chronologies as columns of the chronology table, and the
// table of the loop's passes.
#pragma once

#include <string>

#include "chron/chronology.h"
#include "rcs/signal_free.h"

namespace kavrel {

inline constexpr const char* kSignalFreeCsvName = "kavrel_signal_free.csv";

// The chronology table `csv` (header and one row per year of `chronology`)
// with the columns pass0_K and signal_free_K appended to every row.
std::string withSignalFreeColumns(const std::string& csv, const Chronology& chronology,
                                  const SignalFreeResult& loop);

// "pass,largest_change,median_change,converged", one row per pass from pass 0.
std::string signalFreeCsv(const SignalFreeResult& loop);

}  // namespace kavrel
