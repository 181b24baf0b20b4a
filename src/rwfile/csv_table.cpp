// The CSV reader: a header row of series names over the year column, then
// one row per year. Parsed with libcsv, fed a line at a time so that every
// message can name its line.
#include <csv.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <string>

#include "rwfile/series_table.h"
#include "util/fatal.h"
#include "util/missing.h"

namespace kavrel {

namespace {

// One series column as read: its values from its first to its last year
// with a value, the missing marker in the years between that have none.
struct Column {
  std::string name;
  int32_t firstYear = 0;
  int32_t lastYear = 0;
  std::vector<float> values;
};

std::string shown(std::string_view s) {
  std::string out(s.substr(0, 40));
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
  }
  return '"' + out + '"';
}

std::string_view trimmed(std::string_view s) {
  const std::size_t a = s.find_first_not_of(' ');
  if (a == std::string_view::npos) return {};
  return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

bool isMissingText(std::string_view t) {
  return t.empty() || t == "NA" || t == "NaN" || t == "nan" || t == "NAN";
}

// Fields are trimmed of blanks only: a tab is a separator.
int blankOnly(unsigned char c) { return c == ' ' ? 1 : 0; }

class CsvReader {
 public:
  CsvReader(std::string_view text, const std::string& name) : text_(text), name_(name) {}
  SeriesTable read();

  static void onField(void* field, std::size_t len, void* self) {
    static_cast<CsvReader*>(self)->field(static_cast<const char*>(field), len);
  }
  static void onRow(int, void* self) { static_cast<CsvReader*>(self)->rowEnd(); }

 private:
  // libcsv calls back through C code, which an exception must not cross:
  // the first error is kept and raised once the parser has returned.
  void error(int32_t column, const std::string& what) {
    if (failed_) return;
    failed_ = true;
    message_ = name_ + ", line " + std::to_string(line_) + ", column " + std::to_string(column) +
               ": " + what;
  }
  void field(const char* p, std::size_t len);
  void headerField(std::string_view text);
  void year(std::string_view text);
  void value(std::string_view text);
  void rowEnd();

  std::string_view text_;
  const std::string& name_;
  std::vector<Column> columns_;
  std::vector<int32_t> nameLines_;
  std::map<std::string, int32_t, std::less<>> nameColumns_;  // name -> its CSV column (1-based)
  bool header_ = true;
  int32_t cell_ = 0;  // 0-based cell of the current row
  int32_t line_ = 0;  // line being parsed
  bool haveYear_ = false;
  int32_t year_ = 0;
  bool failed_ = false;
  std::string message_;
};

void CsvReader::field(const char* p, std::size_t len) {
  if (failed_) return;
  const std::string_view text = trimmed(std::string_view(p == nullptr ? "" : p, len));
  if (header_) {
    headerField(text);
  } else if (cell_ == 0) {
    year(text);
  } else if (cell_ > static_cast<int32_t>(columns_.size())) {
    error(cell_ + 1, "more cells than the header names series");
  } else {
    value(text);
  }
  ++cell_;
}

void CsvReader::headerField(std::string_view text) {
  if (cell_ == 0) return;  // over the year column: any text
  const int32_t column = cell_ + 1;
  if (text.empty()) return error(column, "a series without a name");
  const auto [it, added] = nameColumns_.emplace(std::string(text), column);
  if (!added) {
    return error(column, "the series name " + shown(text) + " is given twice (also in column " +
                             std::to_string(it->second) + ")");
  }
  columns_.push_back(Column{std::string(text), 0, 0, {}});
  nameLines_.push_back(line_);
}

void CsvReader::year(std::string_view text) {
  int32_t y = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), y);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
    return error(1, "the year " + shown(text) + " is not a whole number");
  }
  if (haveYear_ && y <= year_) {
    return error(1, "the year " + std::to_string(y) + " does not follow " + std::to_string(year_));
  }
  year_ = y;
  haveYear_ = true;
}

void CsvReader::value(std::string_view text) {
  if (isMissingText(text)) return;
  float v = 0.0f;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) {
    return error(cell_ + 1, shown(text) + " is not a number");
  }
  Column& c = columns_[static_cast<std::size_t>(cell_ - 1)];
  if (c.values.empty()) {
    c.firstYear = year_;
  } else {
    const int64_t gap = int64_t{year_} - c.lastYear - 1;
    if (int64_t{year_} - c.firstYear >= kMaxSeriesValues) {
      return error(cell_ + 1, "series " + c.name + " spans more than " +
                                  std::to_string(kMaxSeriesValues) + " years");
    }
    c.values.insert(c.values.end(), static_cast<std::size_t>(gap), kMissingValue);
  }
  // Negative widths are stored as missing, as the decade reader does.
  c.values.push_back(v < 0.0f ? kMissingValue : v);
  c.lastYear = year_;
}

void CsvReader::rowEnd() {
  if (failed_) return;
  if (header_) {
    header_ = false;
    if (columns_.empty())
      error(1, "the header row names no series (no comma or tab after its first cell)");
  } else if (cell_ < static_cast<int32_t>(columns_.size()) + 1) {
    error(cell_ + 1, "the row ends before the last series' column");
  }
  cell_ = 0;
}

SeriesTable CsvReader::read() {
  std::string_view text = text_;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  // The separator is the more frequent of comma and tab in the first line.
  const std::string_view first = text.substr(0, text.find('\n'));
  const auto commas = std::count(first.begin(), first.end(), ',');
  const auto tabs = std::count(first.begin(), first.end(), '\t');
  csv_parser parser;
  if (csv_init(&parser, CSV_APPEND_NULL) != 0) throw Fatal("Cannot set up the CSV reader");
  struct Free {
    csv_parser* p;
    ~Free() { csv_free(p); }
  } freeParser{&parser};
  csv_set_delim(&parser, tabs > commas ? CSV_TAB : CSV_COMMA);
  csv_set_space_func(&parser, blankOnly);
  std::size_t pos = 0;
  while (pos < text.size() && !failed_) {
    std::size_t end = text.find('\n', pos);
    end = end == std::string_view::npos ? text.size() : end + 1;
    ++line_;
    if (csv_parse(&parser, text.data() + pos, end - pos, onField, onRow, this) != end - pos) {
      error(cell_ + 1, csv_strerror(csv_error(&parser)));
    }
    pos = end;
  }
  if (!failed_) csv_fini(&parser, onField, onRow, this);
  if (failed_) throw Fatal(message_);

  SeriesTable table;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    Column& c = columns_[i];
    if (c.values.empty()) {
      table.warnings.push_back(
          TableWarning{table.series.size(),
                       RwWarning{RwWarning::Kind::SeriesLeftOut, nameLines_[i], std::string(),
                                 "series " + c.name + " holds no values: left out"}});
      continue;
    }
    table.series.push_back(
        TableSeries{std::move(c.name), {}, c.firstYear, nameLines_[i], std::move(c.values)});
  }
  assignDecadeIds(table);
  return table;
}

}  // namespace

SeriesTable readCsvTable(std::string_view text, const std::string& inputName) {
  return CsvReader(text, inputName).read();
}

}  // namespace kavrel
