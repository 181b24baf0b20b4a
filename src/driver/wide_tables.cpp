#include "driver/wide_tables.h"

#include <algorithm>
#include <limits>
#include <span>
#include <vector>

#include "driver/report.h"

namespace kavrel {

namespace {

// One column: its name, first year and values by year.
struct Column {
  std::string name;
  int32_t firstYear = 0;
  std::span<const float> values;
};

void appendTable(std::string& out, const std::vector<Column>& columns) {
  out += "year";
  int32_t first = std::numeric_limits<int32_t>::max();
  int32_t last = std::numeric_limits<int32_t>::min();
  for (const Column& c : columns) {
    out += ',' + csvText(c.name);
    if (c.values.empty()) continue;
    first = std::min(first, c.firstYear);
    last = std::max(last, c.firstYear + static_cast<int32_t>(c.values.size()) - 1);
  }
  out += '\n';
  for (int64_t year = first; year <= last; ++year) {
    out += std::to_string(year);
    for (const Column& c : columns) {
      out += ',';
      const int64_t i = year - c.firstYear;
      if (i < 0 || i >= static_cast<int64_t>(c.values.size())) continue;
      const float v = c.values[static_cast<size_t>(i)];
      if (v != kMissingValue) out += csvReal(v);
    }
    out += '\n';
  }
}

// The classified records, in input order.
std::vector<const SeriesRecord*> classified(const RunResults& results) {
  std::vector<const SeriesRecord*> records;
  for (const SeriesRecord& r : results.series) {
    if (r.classNumber >= 1 && r.classNumber <= kClassCount && r.storeIndex > 0) {
      records.push_back(&r);
    }
  }
  return records;
}

}  // namespace

std::string wideColumnName(const std::string& storeId) {
  const size_t first = storeId.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return storeId.substr(first, storeId.find_last_not_of(' ') - first + 1);
}

void appendIndicesCsv(std::string& out, const RunResults& results) {
  // The index series of a class follow its series in input order (the class
  // files are written in that order), so the m-th record of class c owns the
  // m-th index series of class c.
  std::array<std::vector<const IndexSeries*>, kClassCount> byClass;
  for (const IndexSeries& s : results.indexSeries) {
    if (s.classNumber >= 1 && s.classNumber <= kClassCount) {
      byClass[static_cast<size_t>(s.classNumber - 1)].push_back(&s);
    }
  }
  std::array<size_t, kClassCount> used{};
  std::vector<Column> columns;
  for (const SeriesRecord* r : classified(results)) {
    const auto ci = static_cast<size_t>(r->classNumber - 1);
    Column c{wideColumnName(r->id), r->firstYear, {}};
    if (used[ci] < byClass[ci].size()) {
      const IndexSeries* s = byClass[ci][used[ci]++];
      c.firstYear = s->firstYear;
      c.values = s->values;
    }
    columns.push_back(std::move(c));
  }
  appendTable(out, columns);
}

void appendWidthsCsv(std::string& out, const RunResults& results) {
  std::vector<Column> columns;
  for (const SeriesRecord* r : classified(results)) {
    Column c{wideColumnName(r->id), r->firstYear, {}};
    const auto k = static_cast<size_t>(r->storeIndex - 1);
    if (k < results.widths.size()) c.values = results.widths[k];
    columns.push_back(std::move(c));
  }
  appendTable(out, columns);
}

}  // namespace kavrel
