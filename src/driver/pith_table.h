// Pith-offset tables: pith offsets paired with series by name, in a CSV file
// as R's write.csv writes a data frame of them. The header names a column
// "series" and a column "pith.offset" (or "pith_offset"); a leading column
// with an empty name (R's row names) and any other named column are ignored.
// Fields are separated by commas, or by tabs when the header holds a tab and
// no comma; fields in double quotes may hold separators and doubled quotes.
// The table's values follow R's convention: the cambial age of the first
// measured ring, 1 when that ring is the pith. A series' offset (the rings
// missing before its first measured ring) is that value minus one.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kavrel {

// One row of a table.
struct NamedPithOffset {
  std::string name;    // series name, without surrounding blanks
  int32_t offset = 0;  // rings missing between the pith and the first measured ring
  int32_t line = 0;    // line of the file that holds the row (1-based)
};

// Content a table can't be read from: where and why.
class PithTableError : public std::runtime_error {
 public:
  PithTableError(int32_t line, int32_t column, const std::string& why)
      : std::runtime_error(why), line_(line), column_(column) {}
  int32_t line() const { return line_; }
  int32_t column() const { return column_; }  // 1-based field number; 0: the whole line

 private:
  int32_t line_;
  int32_t column_;
};

// The name a series is looked up by in a table: its full name as read (a
// decade file's identifier), without padding blanks.
std::string pithTableKey(std::string_view name);

// Reads the rows of a table, in file order; at most maxRows of them. Raises
// PithTableError for a header without the two columns, a row whose field
// count differs from the header's, an empty series name, a value that is not
// a whole number from 1 to 2147483647 (empty and NA included), more than
// maxRows rows, a quote out of place, or a file without a header.
std::vector<NamedPithOffset> parsePithTable(std::string_view text, int32_t maxRows);

// What a table and the names of the series read fail to pair up: names of
// series without a row, rows without a series and names given more than once
// (in the table or among the series). Empty lists: every series has exactly
// one row.
struct PithTableMismatch {
  std::vector<std::string> withoutRow, withoutSeries, twice;
  bool any() const { return !withoutRow.empty() || !withoutSeries.empty() || !twice.empty(); }
};
PithTableMismatch matchPithTable(const std::vector<NamedPithOffset>& table,
                                 const std::vector<std::string>& seriesKeys);

}  // namespace kavrel
