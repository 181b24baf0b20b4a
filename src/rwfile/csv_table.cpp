// The CSV reader: a header row of series names over the year column, then
// one row per year. Parsed with libcsv, fed a line at a time so that every
// message can name its line.
#include <csv.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <string>

#include "rwfile/real_text.h"
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

// An empty cell in a block of rows; no number read is ever NaN.
const float kNoValue = std::numeric_limits<float>::quiet_NaN();

bool isMissingText(std::string_view t) {
  return t.empty() || t == "NA" || t == "NaN" || t == "nan" || t == "NAN";
}

// Cells of a tab-separated table are trimmed of blanks only.
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
  void flush();
  bool pad(char c) const { return c == ' ' || (c == '\t' && separator_ != '\t'); }
  bool blank(std::string_view line) const;
  bool simpleLine(std::string_view line);
  bool nextCell(std::string_view line, std::size_t pos, std::string_view& cell,
                std::size_t& end) const;
  void cell(std::string_view text);

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
  char separator_ = ',';
  bool libcsvRowOpen_ = false;           // libcsv holds part of a row (a quoted line break)
  std::vector<std::string_view> cells_;  // the cells of a simple line
  // Rows read but not yet appended to their columns: kBlockRows rows of one
  // value a column, kNoValue for an empty cell (and before a row is read).
  static constexpr std::size_t kBlockRows = 16;
  std::vector<float> block_;
  std::array<int32_t, kBlockRows> blockYears_{};
  std::array<int32_t, kBlockRows> blockLines_{};
  std::size_t blockRows_ = 0;
  std::vector<std::size_t> blockColumns_;  // columns with a value in the block
  std::vector<char> inBlock_;              // per column: listed in blockColumns_
};

bool CsvReader::blank(std::string_view line) const {
  for (char c : line) {
    if (!pad(c) && c != '\r' && c != '\n') return false;
  }
  return true;
}

// Most lines hold only plain cells and cells wholly in quotes, with no quote,
// separator or line break inside: such a line is split here, as libcsv would
// split it (blanks around a cell and the enclosing quotes dropped), which
// halves the time a large table takes. Any other line, and a line without a
// separator, is left to libcsv: false, nothing handed over.
// The cell of `line` that begins at `pos`, trimmed and out of its quotes;
// `end` is where it ends (a separator or the line's end). False for a cell
// with a quote anywhere but around it.
bool CsvReader::nextCell(std::string_view line, std::size_t pos, std::string_view& cell,
                         std::size_t& end) const {
  end = pos;
  int32_t quotes = 0;
  for (; end < line.size() && line[end] != separator_; ++end) quotes += line[end] == '"';
  cell = line.substr(pos, end - pos);
  while (!cell.empty() && pad(cell.front())) cell.remove_prefix(1);
  while (!cell.empty() && pad(cell.back())) cell.remove_suffix(1);
  if (quotes == 0) return true;
  if (quotes != 2 || cell.size() < 2 || cell.front() != '"' || cell.back() != '"') return false;
  cell = cell.substr(1, cell.size() - 2);
  return true;
}

void CsvReader::cell(std::string_view text) {
  // An empty cell of a series: its place in the block already holds kNoValue.
  if (text.empty() && !header_ && cell_ > 0 && cell_ <= static_cast<int32_t>(columns_.size()) &&
      !failed_) {
    ++cell_;
  } else {
    field(text.data(), text.size());
  }
}

bool CsvReader::simpleLine(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.find('\r') != std::string_view::npos) return false;
  const std::size_t firstEnd = line.find(separator_);
  if (firstEnd == std::string_view::npos) return false;
  std::string_view text;
  std::size_t end = 0;
  if (!header_ && line.find('"', firstEnd) == std::string_view::npos) {
    // A data row with no quote after its year: every cell but the first is
    // plain, so the cells are taken as they are split.
    if (!nextCell(line, 0, text, end)) return false;  // only the first can fail
    cell(text);
    // The rest hold no quote: split at each separator, trim the padding.
    const char* p = line.data() + end;
    const char* const stop = line.data() + line.size();
    while (p != stop) {
      const char* from = p + 1;
      // Cells are short (most are empty): a plain scan beats a library call.
      for (p = from; p != stop && *p != separator_; ++p) {
      }
      const char* to = p;
      while (from != to && pad(*from)) ++from;
      while (to != from && pad(to[-1])) --to;
      cell(std::string_view(from, static_cast<std::size_t>(to - from)));
    }
    rowEnd();
    return true;
  }
  cells_.clear();
  for (std::size_t pos = 0;; pos = end + 1) {
    if (!nextCell(line, pos, text, end)) return false;
    cells_.push_back(text);
    if (end == line.size()) break;
  }
  for (const std::string_view c : cells_) cell(c);
  rowEnd();
  return true;
}

void CsvReader::field(const char* p, std::size_t len) {
  if (failed_) return;
  // libcsv has trimmed the blanks around an unquoted cell.
  const std::string_view text(p == nullptr ? "" : p, len);
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
  if (y < kMinYear || y > kMaxYear) {
    return error(1, "the year " + std::to_string(y) + " lies outside -9999..9999, the years " +
                        "the decade files hold");
  }
  if (haveYear_ && y <= year_) {
    return error(1, "the year " + std::to_string(y) + " does not follow " + std::to_string(year_));
  }
  year_ = y;
  haveYear_ = true;
}

void CsvReader::value(std::string_view text) {
  if (isMissingText(text)) return;  // its place in the block holds kNoValue
  float v = 0.0f;
  if (!rw::parseReal(text, v)) return error(cell_ + 1, shown(text) + " is not a number");
  const std::size_t k = static_cast<std::size_t>(cell_ - 1);
  block_[blockRows_ * columns_.size() + k] = v;
  if (inBlock_[k] == 0) {
    inBlock_[k] = 1;
    blockColumns_.push_back(k);
  }
}

// Appends the rows held in block_ to their columns, column by column, so
// that each column's end is fetched once a block rather than once a row.
void CsvReader::flush() {
  const std::size_t n = columns_.size();
  std::sort(blockColumns_.begin(), blockColumns_.end());
  for (const std::size_t k : blockColumns_) {
    Column& c = columns_[k];
    inBlock_[k] = 0;
    for (std::size_t r = 0; r < blockRows_; ++r) {
      const float v = block_[r * n + k];
      if (std::isnan(v)) continue;
      block_[r * n + k] = kNoValue;
      const int32_t year = blockYears_[r];
      if (c.values.empty()) {
        c.firstYear = year;
        c.values.reserve(256);  // a few growth steps for a series of typical length
      } else if (int64_t{year} != int64_t{c.lastYear} + 1) {
        if (int64_t{year} - c.firstYear >= kMaxSeriesValues) {
          line_ = blockLines_[r];
          return error(static_cast<int32_t>(k) + 2, "series " + c.name + " spans more than " +
                                                        std::to_string(kMaxSeriesValues) +
                                                        " years");
        }
        c.values.insert(c.values.end(), static_cast<std::size_t>(year - c.lastYear - 1),
                        kMissingValue);
      }
      // Negative widths are stored as missing, as the decade reader does.
      c.values.push_back(v < 0.0f ? kMissingValue : v);
      c.lastYear = year;
    }
  }
  blockColumns_.clear();
  blockRows_ = 0;
}

void CsvReader::rowEnd() {
  if (failed_) return;
  if (header_) {
    header_ = false;
    if (columns_.empty())
      error(1, "the header row names no series (no comma or tab after its first cell)");
    block_.assign(kBlockRows * columns_.size(), kNoValue);
    inBlock_.assign(columns_.size(), 0);
  } else if (cell_ < static_cast<int32_t>(columns_.size()) + 1) {
    error(cell_ + 1, "the row ends before the last series' column");
  } else {
    blockYears_[blockRows_] = year_;
    blockLines_[blockRows_] = line_;
    if (++blockRows_ == kBlockRows) flush();
  }
  cell_ = 0;
}

SeriesTable CsvReader::read() {
  std::string_view text = text_;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const char separator = csvSeparator(text.substr(0, text.find('\n')));
  csv_parser parser;
  if (csv_init(&parser, 0) != 0) throw Fatal("Cannot set up the CSV reader");
  struct Free {
    csv_parser* p;
    ~Free() { csv_free(p); }
  } freeParser{&parser};
  if (separator == '\t') {
    csv_set_delim(&parser, CSV_TAB);
    csv_set_space_func(&parser, blankOnly);  // a tab separates here, never pads
  }
  separator_ = separator == '\t' ? '\t' : ',';
  std::size_t pos = 0;
  while (pos < text.size() && !failed_) {
    std::size_t end = text.find('\n', pos);
    end = end == std::string_view::npos ? text.size() : end + 1;
    ++line_;
    const std::string_view line = text.substr(pos, end - pos);
    if (libcsvRowOpen_ || !simpleLine(line)) {
      libcsvRowOpen_ = !blank(line);
      if (csv_parse(&parser, line.data(), line.size(), onField, onRow, this) != line.size()) {
        error(cell_ + 1, csv_strerror(csv_error(&parser)));
      }
    }
    pos = end;
  }
  if (!failed_) csv_fini(&parser, onField, onRow, this);
  if (!failed_) flush();
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
