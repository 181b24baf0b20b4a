// Fuzz target: the pith-table reader. The input is the table's text; rows
// that are read must hold a name and an offset, and the matching must name
// every series without a row.
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/pith_table.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<kavrel::NamedPithOffset> rows;
  try {
    rows = kavrel::parsePithTable(kavrel::fuzz::asText(data, size), 100);
  } catch (const kavrel::PithTableError& e) {
    if (e.line() < 0 || e.column() < 0) std::abort();
    return 0;
  }
  if (rows.size() > 100) std::abort();
  std::vector<std::string> keys;
  for (const kavrel::NamedPithOffset& row : rows) {
    if (row.name.empty() || row.offset < 0 || row.line < 2) std::abort();
    keys.push_back(row.name);
  }
  keys.emplace_back("no such name");
  const kavrel::PithTableMismatch m = kavrel::matchPithTable(rows, keys);
  if (m.withoutRow.empty()) std::abort();
  return 0;
}
