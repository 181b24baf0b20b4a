#include "driver/pith_table.h"

#include <csv.h>

#include <algorithm>
#include <limits>
#include <map>
#include <set>

namespace kavrel {

namespace {

std::string trimmedText(std::string_view s) {
  const size_t first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return std::string(s.substr(first, s.find_last_not_of(" \t\r") - first + 1));
}

// The fields of one record with the line each ended on.
struct Record {
  std::vector<std::string> fields;
  int32_t line = 0;
};

struct ParseState {
  std::vector<Record> records;
  Record current;
  int32_t line = 0;
  size_t maxRecords = 0;
  bool tooMany = false;
};

void onField(void* field, size_t length, void* data) {
  auto* state = static_cast<ParseState*>(data);
  if (state->tooMany) return;
  state->current.fields.emplace_back(static_cast<const char*>(field), length);
  state->current.line = state->line;
}

void onRecordEnd(int, void* data) {
  auto* state = static_cast<ParseState*>(data);
  if (state->tooMany) return;
  if (state->records.size() >= state->maxRecords) {
    state->tooMany = true;
    return;
  }
  state->records.push_back(std::move(state->current));
  state->current = Record{};
}

// A table value counts the first measured ring itself (1: that ring is the
// pith), so the rings missing before it are one fewer. Whole numbers
// 1..INT32_MAX.
bool readOffset(const std::string& text, int32_t& missingRings) {
  if (text.empty()) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
    if (v > std::numeric_limits<int32_t>::max()) return false;
  }
  if (v < 1) return false;
  missingRings = static_cast<int32_t>(v - 1);
  return true;
}

std::vector<Record> csvRecords(std::string_view text, size_t maxRecords) {
  // A byte-order mark some spreadsheet programs write is no part of the header.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const size_t firstLineEnd = std::min(text.find('\n'), text.size());
  const std::string_view header = text.substr(0, firstLineEnd);
  const bool tabs =
      header.find('\t') != std::string_view::npos && header.find(',') == std::string_view::npos;

  csv_parser parser{};
  if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI) != 0) {
    throw PithTableError(0, 0, "out of memory");
  }
  if (tabs) csv_set_delim(&parser, CSV_TAB);
  ParseState state;
  state.maxRecords = maxRecords;
  size_t pos = 0;
  bool failed = false;
  while (pos < text.size() && !failed && !state.tooMany) {
    const size_t end = std::min(text.find('\n', pos), text.size() - 1) + 1;
    ++state.line;
    const size_t length = end - pos;
    failed = csv_parse(&parser, text.data() + pos, length, onField, onRecordEnd, &state) != length;
    pos = end;
  }
  if (!failed && !state.tooMany) {
    failed = csv_fini(&parser, onField, onRecordEnd, &state) != 0;
  }
  csv_free(&parser);
  if (state.tooMany) {
    throw PithTableError(state.line, 0,
                         "more than " + std::to_string(maxRecords - 1) + " rows of pith offsets");
  }
  if (failed) throw PithTableError(state.line, 0, "a quote out of place, or a quoted field not closed");
  return std::move(state.records);
}

}  // namespace

std::string pithTableKey(std::string_view name) { return trimmedText(name); }

std::vector<NamedPithOffset> parsePithTable(std::string_view text, int32_t maxRows) {
  const std::vector<Record> records = csvRecords(text, static_cast<size_t>(maxRows) + 1);
  if (records.empty()) throw PithTableError(1, 0, "no header row naming series and pith.offset");
  const Record& header = records.front();
  size_t seriesColumn = header.fields.size();
  size_t offsetColumn = header.fields.size();
  for (size_t i = 0; i < header.fields.size(); ++i) {
    const std::string name = trimmedText(header.fields[i]);
    const auto column = static_cast<int32_t>(i + 1);
    if (name == "series") {
      if (seriesColumn != header.fields.size()) {
        throw PithTableError(header.line, column, "a second column named series");
      }
      seriesColumn = i;
    } else if (name == "pith.offset" || name == "pith_offset") {
      if (offsetColumn != header.fields.size()) {
        throw PithTableError(header.line, column, "a second column of pith offsets");
      }
      offsetColumn = i;
    }
  }
  if (seriesColumn == header.fields.size() || offsetColumn == header.fields.size()) {
    throw PithTableError(header.line, 0,
                         "the header names no column series and pith.offset (or pith_offset)");
  }
  std::vector<NamedPithOffset> rows;
  rows.reserve(records.size() - 1);
  for (size_t r = 1; r < records.size(); ++r) {
    const Record& record = records[r];
    if (record.fields.size() != header.fields.size()) {
      throw PithTableError(record.line, static_cast<int32_t>(std::min(record.fields.size(), header.fields.size()) + 1),
                           std::to_string(record.fields.size()) + " fields where the header has " +
                               std::to_string(header.fields.size()));
    }
    NamedPithOffset row;
    row.line = record.line;
    row.name = trimmedText(record.fields[seriesColumn]);
    if (row.name.empty()) {
      throw PithTableError(record.line, static_cast<int32_t>(seriesColumn + 1),
                           "the series name is empty");
    }
    const std::string offset = trimmedText(record.fields[offsetColumn]);
    if (!readOffset(offset, row.offset)) {
      throw PithTableError(record.line, static_cast<int32_t>(offsetColumn + 1),
                           "'" + offset + "' is not a pith offset (a whole number, 1 or more)");
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

PithTableMismatch matchPithTable(const std::vector<NamedPithOffset>& table,
                                 const std::vector<std::string>& seriesKeys) {
  PithTableMismatch m;
  std::map<std::string, int32_t> rowCount;
  for (const NamedPithOffset& row : table) ++rowCount[row.name];
  std::map<std::string, int32_t> seriesCount;
  for (const std::string& key : seriesKeys) ++seriesCount[key];
  std::set<std::string> twice;
  for (const std::string& key : seriesKeys) {
    if (rowCount.find(key) == rowCount.end()) m.withoutRow.push_back(key);
    if (seriesCount[key] > 1 && twice.insert(key).second) m.twice.push_back(key);
  }
  for (const NamedPithOffset& row : table) {
    if (seriesCount.find(row.name) == seriesCount.end()) m.withoutSeries.push_back(row.name);
    if (rowCount[row.name] > 1 && twice.insert(row.name).second) m.twice.push_back(row.name);
  }
  return m;
}

}  // namespace kavrel
