// The Heidelberg reader: blocks of a "HEADER:" line, Key=Value lines and a
// "DATA:" line followed by the values.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>
#include <string>

#include "rwfile/real_text.h"
#include "rwfile/series_table.h"
#include "util/fatal.h"
#include "util/missing.h"

namespace kavrel {

namespace {

using Kind = RwWarning::Kind;

// A header value with where it stands, for messages.
struct Entry {
  std::string value;
  int32_t line = 0;
  int32_t column = 0;
};

// One HEADER:/DATA: block as read.
struct Block {
  int32_t headerLine = 0;
  int32_t dataLine = 0;
  std::string dataKind;               // after "DATA:", lower case without blanks
  std::string dataKindText;           // the same as written
  std::map<std::string, Entry> keys;  // lower-case key -> value
  std::optional<int32_t> length;      // Length, when given
  std::vector<float> values;          // as written, in the file's unit
  bool extraLines = false;            // values on lines after the one that completes Length
  int32_t lengthLine = 0;             // line holding the Length-th value
};

std::string squeezedLower(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c != ' ' && c != '\t')
      out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string shown(std::string_view s) {
  std::string out(s.substr(0, 40));
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
  }
  return '"' + out + '"';
}

class HeidelbergReader {
 public:
  HeidelbergReader(std::string_view text, const std::string& name) : text_(text), name_(name) {}
  SeriesTable read();

 private:
  [[noreturn]] void fail(int32_t line, int32_t column, const std::string& what) const {
    throw Fatal(name_ + ", line " + std::to_string(line) + ", column " + std::to_string(column) +
                ": " + what);
  }
  std::optional<int32_t> optionalInt(const Block& b, const char* key) const;
  void headerLine(Block& b, std::string_view line, int32_t lineNo);
  void dataLine(Block& b, std::string_view line, int32_t lineNo);
  void addValue(Block& b, std::string_view token, int32_t lineNo, int32_t column);
  void finish(Block& b);
  void date();

  std::string_view text_;
  const std::string& name_;
  SeriesTable table_;
  std::vector<Block> ringWidths_;  // blocks kept, dated after the whole file is read
  int32_t blockCount_ = 0;
};

std::optional<int32_t> HeidelbergReader::optionalInt(const Block& b, const char* key) const {
  const auto it = b.keys.find(key);
  if (it == b.keys.end() || trimmed(it->second.value).empty()) return std::nullopt;
  const std::string_view v = trimmed(it->second.value);
  int32_t out = 0;
  const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), out);
  if (ec != std::errc() || end != v.data() + v.size()) {
    fail(it->second.line, it->second.column, shown(v) + " is not a whole number");
  }
  return out;
}

void HeidelbergReader::headerLine(Block& b, std::string_view line, int32_t lineNo) {
  const std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return;  // free text in a header carries nothing we use
  const std::string key = squeezedLower(line.substr(0, eq));
  b.keys[key] = Entry{std::string(line.substr(eq + 1)), lineNo, static_cast<int32_t>(eq + 2)};
  if (key == "length") {
    b.length = optionalInt(b, "length");
    if (b.length && (*b.length < 0 || *b.length > kMaxSeriesValues)) {
      fail(lineNo, static_cast<int32_t>(eq + 2),
           "Length must be 0 to " + std::to_string(kMaxSeriesValues));
    }
  }
}

void HeidelbergReader::addValue(Block& b, std::string_view token, int32_t lineNo, int32_t column) {
  float v = 0.0f;
  if (!rw::parseReal(token, v)) fail(lineNo, column, shown(token) + " is not a number");
  if (b.length && static_cast<int32_t>(b.values.size()) >= *b.length) {
    if (lineNo != b.lengthLine && v != 0.0f) b.extraLines = true;
    return;
  }
  if (b.values.size() >= static_cast<std::size_t>(kMaxSeriesValues)) {
    fail(lineNo, column, "more than " + std::to_string(kMaxSeriesValues) + " values in a series");
  }
  b.values.push_back(v);
  if (b.length && static_cast<int32_t>(b.values.size()) == *b.length) b.lengthLine = lineNo;
}

void HeidelbergReader::dataLine(Block& b, std::string_view line, int32_t lineNo) {
  const std::size_t semicolon = line.find(';');
  if (semicolon != std::string_view::npos) {
    // "value;comment;...": one value, the rest is notes.
    const std::string_view head = line.substr(0, semicolon);
    const std::size_t a = head.find_first_not_of(" \t");
    if (a == std::string_view::npos) fail(lineNo, 1, "no value before \";\"");
    addValue(b, trimmed(head), lineNo, static_cast<int32_t>(a + 1));
    return;
  }
  const std::size_t n = line.size();
  std::size_t pos = 0;
  while (true) {
    while (pos < n && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    if (pos == n) break;
    std::size_t end = pos;
    while (end < n && line[end] != ' ' && line[end] != '\t') ++end;
    addValue(b, line.substr(pos, end - pos), lineNo, static_cast<int32_t>(pos + 1));
    pos = end;
  }
}

void HeidelbergReader::finish(Block& b) {
  ++blockCount_;
  auto key = [&](const char* k) {
    const auto it = b.keys.find(k);
    return it == b.keys.end() ? std::string() : std::string(trimmed(it->second.value));
  };
  std::string name = key("keycode");
  if (name.empty()) name = "FH" + std::to_string(blockCount_);
  auto leaveOut = [&](const std::string& why) {
    table_.warnings.push_back(TableWarning{
        ringWidths_.size(),
        RwWarning{Kind::SeriesLeftOut, b.headerLine, std::string(), "series " + name + " " + why}});
  };
  const std::string format = squeezedLower(key("dataformat"));
  if (b.dataKind == "double" || b.dataKind == "quadro" || format == "halfchrono" ||
      format == "chrono") {
    leaveOut("is a mean curve (DATA:" + b.dataKindText +
             (format.empty() ? "" : ", DataFormat=" + key("dataformat")) + "): left out");
    return;
  }
  if (b.dataKind != "tree" && b.dataKind != "single") {
    leaveOut("has data of an unknown kind (DATA:" + b.dataKindText + "): left out");
    return;
  }
  const std::string type = squeezedLower(key("datatype"));
  if (!type.empty() && type != "ringwidth" && type != "ringwidths" && type != "totalringwidth") {
    leaveOut("holds " + key("datatype") + ", not ring widths: left out");
    return;
  }
  if (b.length && static_cast<int32_t>(b.values.size()) < *b.length) {
    fail(b.dataLine, 1,
         "series " + name + ": Length=" + std::to_string(*b.length) + " but its data hold " +
             std::to_string(b.values.size()) + " values");
  }
  if (!b.length) {
    // Without Length the series ends at its last non-zero value; the zeros
    // after it are the padding of the last line.
    while (!b.values.empty() && b.values.back() == 0.0f) b.values.pop_back();
  }
  if (b.extraLines) {
    table_.warnings.push_back(TableWarning{
        ringWidths_.size(), RwWarning{Kind::ExtraValues, b.lengthLine, name,
                                      "values on the lines after the Length=" +
                                          std::to_string(*b.length) + " values: left out"}});
  }
  if (b.values.empty()) {
    leaveOut("holds no values: left out");
    return;
  }
  if (!optionalInt(b, "dateend") && !optionalInt(b, "datebegin")) {
    leaveOut("is undated (neither DateEnd nor DateBegin): left out");
    return;
  }
  const std::string unit = squeezedLower(key("unit"));
  if (!unit.empty() && unit != "1/100mm" && unit != "1/1000mm" && unit != "mm" &&
      unit != "1/10mm") {
    const Entry& e = b.keys.at("unit");
    fail(e.line, e.column, shown(e.value) + " is not a unit: 1/100 mm, 1/1000 mm or mm");
  }
  b.keys["keycode"].value = name;
  b.keys["unit"].value = unit;
  ringWidths_.push_back(std::move(b));
}

// Dates the blocks kept. Years are stored as the decade files count them,
// with a year 0. A file that counts without one shows it in a series whose
// DateBegin and DateEnd lie on both sides of 0 and are Length years apart
// (one less than with a year 0); then every negative date of the file moves
// one year on (-1 is year 0).
void HeidelbergReader::date() {
  const std::size_t first = 0;
  const std::size_t end = ringWidths_.size();
  bool withoutYearZero = false;
  bool yearZero = false;
  for (std::size_t i = first; i < end; ++i) {
    const Block& b = ringWidths_[i];
    const auto begin = optionalInt(b, "datebegin");
    const auto last = optionalInt(b, "dateend");
    const int64_t n = static_cast<int64_t>(b.values.size());
    if ((begin && *begin == 0) || (last && *last == 0)) yearZero = true;
    if (begin && last && *begin < 0 && *last > 0 && int64_t{*last} - *begin == n) {
      withoutYearZero = true;
    }
  }
  withoutYearZero = withoutYearZero && !yearZero;
  auto astronomical = [&](int32_t year) { return withoutYearZero && year < 0 ? year + 1 : year; };
  for (std::size_t i = first; i < end; ++i) {
    Block& b = ringWidths_[i];
    const std::string& name = b.keys["keycode"].value;
    const auto begin = optionalInt(b, "datebegin");
    const auto last = optionalInt(b, "dateend");
    const int32_t n = static_cast<int32_t>(b.values.size());
    TableSeries s;
    s.name = name;
    s.line = b.headerLine;
    if (last) {
      s.firstYear = static_cast<int32_t>(
          std::clamp<int64_t>(int64_t{astronomical(*last)} - n + 1, INT32_MIN, INT32_MAX));
      if (begin && astronomical(*begin) != s.firstYear) {
        table_.warnings.push_back(TableWarning{
            i, RwWarning{Kind::DatesDisagree, b.headerLine, std::string(),
                         "series " + name + ": DateBegin=" + std::to_string(*begin) + " and " +
                             std::to_string(n) +
                             " values disagree with DateEnd=" + std::to_string(*last) +
                             ": dated by DateEnd, first year " + std::to_string(s.firstYear)}});
      }
    } else {
      s.firstYear = astronomical(*begin);
    }
    if (int64_t{s.firstYear} < kMinYear || int64_t{s.firstYear} + n - 1 > kMaxYear) {
      const Entry& e = b.keys.at(last ? "dateend" : "datebegin");
      fail(
          e.line, e.column,
          "series " + name + " would lie outside the years -9999..9999 that the decade files hold");
    }
    const std::string& unit = b.keys["unit"].value;
    const bool hundredths = unit.empty() || unit == "1/100mm";
    const bool thousandths = unit == "1/1000mm";
    const bool tenths = unit == "1/10mm";
    for (float& v : b.values) {
      // The scaling of the decade reader, so that the same integers give the
      // same widths: hundredths times 0.01, thousandths then times 0.1.
      if (v < 0.0f) {
        v = kMissingValue;
      } else if (hundredths) {
        v = v * 0.01f;
      } else if (thousandths) {
        v = v * 0.01f * 0.1f;
      } else if (tenths) {
        v = v * 0.1f;
      }
    }
    s.values = std::move(b.values);
    table_.series.push_back(std::move(s));
  }
}

SeriesTable HeidelbergReader::read() {
  enum class Where { before, header, data };
  Where where = Where::before;
  Block block;
  std::size_t pos = 0;
  int32_t lineNo = 0;
  if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
  while (pos < text_.size()) {
    std::size_t end = pos;
    while (end < text_.size() && text_[end] != '\n' && text_[end] != '\r') ++end;
    const std::string_view line = text_.substr(pos, end - pos);
    pos = end;
    if (pos < text_.size() && text_[pos] == '\r') ++pos;
    if (pos < text_.size() && text_[pos] == '\n') ++pos;
    ++lineNo;
    const std::string_view t = trimmed(line);
    if (t.empty()) continue;
    // Only a line beginning with H or D can be a HEADER: or DATA: line.
    const char c0 = static_cast<char>(std::toupper(static_cast<unsigned char>(t[0])));
    const std::string lower = c0 == 'H' || c0 == 'D'
                                  ? squeezedLower(t.substr(0, std::min<std::size_t>(t.size(), 7)))
                                  : std::string();
    if (lower == "header:") {
      if (where == Where::data) finish(block);
      block = Block{};
      block.headerLine = lineNo;
      where = Where::header;
      continue;
    }
    if (lower.rfind("data:", 0) == 0) {
      if (where == Where::data) finish(block);
      if (where != Where::header) {
        block = Block{};
        block.headerLine = lineNo;
      }
      block.dataLine = lineNo;
      block.dataKind = squeezedLower(t.substr(5));
      block.dataKindText = std::string(trimmed(t.substr(5)));
      where = Where::data;
      continue;
    }
    switch (where) {
      case Where::before:
        fail(lineNo, static_cast<int32_t>(line.size() - trimmed(line).size() + 1),
             "a Heidelberg file begins with a HEADER: or DATA: line, not " + shown(t));
      case Where::header:
        headerLine(block, line, lineNo);
        break;
      case Where::data:
        dataLine(block, line, lineNo);
        break;
    }
  }
  if (where == Where::data) finish(block);
  if (where == Where::header) {
    table_.warnings.push_back(TableWarning{
        ringWidths_.size(), RwWarning{Kind::SeriesLeftOut, block.headerLine, std::string(),
                                      "a header without a DATA: line: nothing read"}});
  }
  date();
  assignDecadeIds(table_);
  return std::move(table_);
}

}  // namespace

SeriesTable readHeidelberg(std::string_view text, const std::string& inputName) {
  return HeidelbergReader(text, inputName).read();
}

}  // namespace kavrel
