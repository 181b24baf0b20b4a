// Ring-width inputs read whole before their series are handed out: the
// Heidelberg format and CSV tables (a year column and one column per
// series). Each reader delivers the same series the decade reader does
// (identifier, first year, values in millimetres, negative values as the
// missing marker) into the same store. Bad content raises kavrel::Fatal
// naming the input, the line and the column.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rwfile/trrw.h"

namespace kavrel {

// The format of an input from its first lines: Heidelberg when the first
// non-blank line begins with "HEADER:" or "DATA:" (any case); CSV when the
// first non-blank line holds a comma or a tab and the next one begins with a
// whole number (the year) followed by that separator; decade lines otherwise.
InputFormat detectInputFormat(std::string_view head);

// Years a series of a table input may span: those the decade files hold.
inline constexpr int32_t kMinYear = -9999;
inline constexpr int32_t kMaxYear = 9999;

// The separator of a CSV table from its first line: the more frequent of
// comma and tab outside quotes (comma when as frequent); 0 when neither is.
char csvSeparator(std::string_view firstLine);

// One series of a table input.
struct TableSeries {
  std::string name;      // the name in the file
  std::string decadeId;  // its unique form of at most 8 characters (see assignDecadeIds)
  int32_t firstYear = 0;
  int32_t line = 0;  // line where the series begins (Heidelberg) or is named (CSV)
  std::vector<float> values;
};

// A warning of a table input, handed out with the read of series `before`
// (0-based; the number of series kept when it was raised).
struct TableWarning {
  std::size_t before = 0;
  RwWarning warning;
};

struct SeriesTable {
  std::vector<TableSeries> series;
  std::vector<TableWarning> warnings;  // series left out, dates repaired, names shortened,
                                       // in the order of `before`
};

// Reads a Heidelberg file (HEADER: / DATA:Tree or DATA:Single blocks).
// `inputName` names the input in messages.
SeriesTable readHeidelberg(std::string_view text, const std::string& inputName);

// Reads a CSV table: a header row of series names over a year column, one row
// per year, widths in millimetres, empty or NA where a series has no value;
// comma or tab separated.
SeriesTable readCsvTable(std::string_view text, const std::string& inputName);

// Gives each series the unique identifier of at most eight characters that
// the decade files hold, with a warning for every name written differently.
// A name of up to eight printable characters, the last not a blank, is kept.
// A longer one (or one holding a control or non-ASCII byte, written "_" there,
// or ending in a blank) becomes its first
// eight characters when no other series uses that form; otherwise, in input
// order, its first 7 characters followed by 1, 2, ... (6 and 10, 11, ... when
// those run out), the lowest number that no other series uses. Leaves the
// warnings in the order of their series.
void assignDecadeIds(SeriesTable& table);

}  // namespace kavrel
