// Fuzz target: the CSV reader on any bytes. Every reading passes the shared
// checks, and the series read, written back as a CSV table, read back the
// same.
#include <csv.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <map>
#include <string>

#include "fuzz/fuzz_input.h"
#include "fuzz/table_roundtrip.h"
#include "util/fatal.h"

namespace {

// Rows of a written table beyond which the round trip is not tried.
constexpr int64_t kMaxRows = 200000;

bool asCsv(const std::vector<kavrel::fuzz::NamedSeries>& all, std::string& out) {
  // The rows: every year some series spans.
  std::map<int32_t, std::vector<std::string>> rows;
  int64_t spanned = 0;
  for (const auto& s : all) spanned += static_cast<int64_t>(s.values.size());
  if (spanned > kMaxRows) return false;
  out = "year";
  char buf[64];
  for (std::size_t k = 0; k < all.size(); ++k) {
    const auto& s = all[k];
    std::string quoted(2 * s.name.size() + 2, '\0');
    quoted.resize(csv_write(quoted.data(), quoted.size(), s.name.data(), s.name.size()));
    out += ',' + quoted;
    for (std::size_t i = 0; i < s.values.size(); ++i) {
      auto& row = rows[s.firstYear + static_cast<int32_t>(i)];
      row.resize(all.size());
      // A missing ring is written as a negative width, which reads back as
      // missing also at either end of a series (where NA would shorten it).
      const auto r = std::to_chars(buf, buf + sizeof buf, s.values[i] < 0.0f ? -1.0f : s.values[i]);
      row[k].assign(buf, r.ptr);
    }
  }
  out += '\n';
  for (auto& [year, cells] : rows) {
    out += std::to_string(year);
    cells.resize(all.size());
    for (const std::string& c : cells) out += ',' + (c.empty() ? std::string("NA") : c);
    out += '\n';
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kavrel;
  std::vector<fuzz::NamedSeries> first;
  try {
    first = fuzz::readTable(std::string(fuzz::asText(data, size)), InputFormat::csv);
  } catch (const Fatal&) {
    return 0;  // bad content: a defined end of the run
  }
  fuzz::checkSeries(first);
  std::string text;
  if (first.empty() || !asCsv(first, text)) return 0;  // a header needs a series
  std::vector<fuzz::NamedSeries> again;
  try {
    again = fuzz::readTable(text, InputFormat::csv);
  } catch (const Fatal&) {
    std::abort();  // what the reader delivered is always readable
  }
  if (again != first) std::abort();
  return 0;
}
