// The decade-line reader (mode "mr"): one series per call, its lines taken
// in file order and checked against the series they continue.
#include "rwfile/trrw.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "rwfile/rw_internal.h"
#include "util/fatal.h"
#include "util/missing.h"

namespace kavrel {

namespace {

using rw::DecadeLine;
using rw::isBlankLine;
using rw::kHundredthsMarker;
using rw::kIdWidth;
using rw::kThousandthsMarker;
using rw::kValueColumn;
using rw::kValuesPerLine;
using rw::kValueWidth;
using rw::kYearBit;
using rw::kYearColumn;
using rw::kYearWidth;
using rw::Line;
using rw::parseDecadeLine;
using rw::sameIdentifier;
using Kind = RwWarning::Kind;

// A line that announces a header-driven block has "#" in column 80.
constexpr std::size_t kBlockFlagColumn = 79;

// A field's text in quotes, with unprintable bytes shown as "?".
std::string quoted(const char* p, std::size_t n) {
  std::string s(p, n);
  for (char& c : s) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
  }
  return '"' + s + '"';
}

std::string columnRange(std::size_t start, std::size_t width) {
  return "columns " + std::to_string(start + 1) + "-" + std::to_string(start + width);
}

// Reads one series of decade lines for trrwRead.
class DecadeReader {
 public:
  DecadeReader(rw::ReaderState& st, std::vector<float>& values) : st_(st), values_(values) {}

  // The next series: its count, with id and firstYear set, or kEndOfFile.
  int32_t read(std::string& id, int32_t& firstYear);

 private:
  // The series being read.
  struct Series {
    bool open = false;
    std::array<char, kIdWidth> id{};
    bool longYear = false;
    int32_t firstYear = 0;
    int32_t nextYear = 0;        // year of the next value position
    int32_t count = 0;           // values so far; at most kMaxSeriesValues are stored
    int32_t trailingBlanks = 0;  // blank fields that ended the last line, not yet placed
    int32_t firstLine = 0;
    int32_t lastLine = 0;
  };

  int32_t readBlock(std::string& id, int32_t& firstYear);
  void start(const DecadeLine& d, int32_t lineNo);
  void placeUpTo(int32_t year, int32_t lineNo);
  bool takeLine(const DecadeLine& d, const Line& raw, int32_t lineNo);
  bool isEndMarker(const DecadeLine& d, int32_t k, int32_t positions);
  bool nextLineContinues(int32_t year);
  void reportFields(const DecadeLine& d, const Line& raw, int32_t lineNo, int32_t used,
                    int32_t positions, bool ended);
  void toThousandths();
  void closeWithMarker(int32_t marker);
  bool endWithoutMarker(const std::string& reason, int32_t lineNo);
  void textLine(const Line& line, int32_t& textLines);
  int32_t deliver(std::string& id, int32_t& firstYear);

  void add(float v) {
    if (cur_.count < kMaxSeriesValues) values_.push_back(v);
    ++cur_.count;
  }
  void addRepeated(float v, int32_t n) {
    const int32_t room = std::max(0, kMaxSeriesValues - cur_.count);
    values_.insert(values_.end(), static_cast<std::size_t>(std::min(n, room)), v);
    cur_.count += n;
  }
  std::string curId() const { return std::string(cur_.id.data(), kIdWidth); }

  rw::ReaderState& st_;
  std::vector<float>& values_;
  Series cur_;
  Line raw_{};  // copy of a line that needs warnings after a look-ahead
};

int32_t DecadeReader::read(std::string& id, int32_t& firstYear) {
  rw::LineSource& src = st_.source;
  int32_t textLines = 0;
  DecadeLine d;
  while (true) {
    const Line* line = src.next();
    if (line == nullptr) {
      if (src.failed()) {
        st_.warn(Kind::ReadError, src.lineNumber(), cur_.open ? curId() : std::string(),
                 "a read error ends the input here");
      }
      if (cur_.open &&
          endWithoutMarker("no end marker before the end of the input", cur_.lastLine)) {
        return deliver(id, firstYear);
      }
      st_.atEnd = true;
      return kEndOfFile;
    }
    if (isBlankLine(*line)) {
      ++st_.info.blankLines;
      continue;
    }
    const int32_t lineNo = src.lineNumber();
    if ((*line)[kBlockFlagColumn] == '#') {
      src.pushBack();
      if (!cur_.open) return readBlock(id, firstYear);
      if (endWithoutMarker("no end marker before the header-driven block at this line", lineNo)) {
        return deliver(id, firstYear);
      }
      continue;
    }
    if (!parseDecadeLine(*line, d)) {
      textLine(*line, textLines);
      continue;
    }
    if (!cur_.open) {
      start(d, lineNo);
    } else if (!sameIdentifier(cur_.id, cur_.longYear, d.id.data(), d.longYear)) {
      src.pushBack();
      const std::string other = rw::trimmedId(std::string_view(d.id.data(), kIdWidth));
      if (endWithoutMarker("no end marker before series " + other + " begins", lineNo)) {
        return deliver(id, firstYear);
      }
      textLines = 0;
      continue;
    } else if (d.year < cur_.nextYear) {
      src.pushBack();
      if (endWithoutMarker("no end marker before the year goes back from " +
                               std::to_string(cur_.nextYear) + " to " + std::to_string(d.year) +
                               ", where a new series of this identifier begins",
                           lineNo)) {
        return deliver(id, firstYear);
      }
      textLines = 0;
      continue;
    } else {
      placeUpTo(d.year, lineNo);
    }
    if (takeLine(d, *line, lineNo)) return deliver(id, firstYear);
  }
}

int32_t DecadeReader::readBlock(std::string& id, int32_t& firstYear) {
  st_.info.firstLine = st_.source.lineNumber() + 1;
  st_.info.headerBlock = true;
  Line idLine;
  idLine.fill(' ');
  const int32_t count = rw::datar(st_, idLine, values_, firstYear);
  st_.info.lastLine = st_.source.lineNumber();
  if (count == kEndOfFile) {
    st_.atEnd = true;
    return kEndOfFile;
  }
  st_.seriesBegun = true;
  id.assign(idLine.data(), kIdWidth);
  return count;
}

void DecadeReader::start(const DecadeLine& d, int32_t lineNo) {
  cur_ = Series{};
  cur_.open = true;
  cur_.id = d.id;
  cur_.longYear = d.longYear;
  cur_.firstYear = d.year;
  cur_.nextYear = d.year;
  cur_.firstLine = lineNo;
  st_.seriesBegun = true;
}

// Places the blank fields that ended the previous line and, when the line's
// year skips years, missing rings up to `year`, so that every value keeps its
// calendar year. Blank fields are zero rings when the series goes on.
void DecadeReader::placeUpTo(int32_t year, int32_t lineNo) {
  if (year > cur_.nextYear) {
    const int32_t from = cur_.nextYear - cur_.trailingBlanks;
    st_.warn(Kind::YearGap, lineNo, curId(),
             "year " + std::to_string(year) + " where " + std::to_string(cur_.nextYear) +
                 " was expected: years " + std::to_string(from) + " to " +
                 std::to_string(year - 1) + " read as missing rings");
    addRepeated(kMissingValue, year - from);
  } else {
    addRepeated(0.0f, cur_.trailingBlanks);
  }
  cur_.trailingBlanks = 0;
}

// Takes the values of one line of the current series; true when its end
// marker was on the line.
bool DecadeReader::takeLine(const DecadeLine& d, const Line& raw, int32_t lineNo) {
  cur_.lastLine = lineNo;
  const int32_t positions = rw::valuesOnFirstLine(d.year);
  // Warnings name the line's fields after a look-ahead has replaced the line.
  if (d.irregular != 0 || d.yearIntoId || d.afterValues) raw_ = raw;
  int32_t blanks = 0;
  int32_t k = 0;
  bool ended = false;
  for (; k < positions; ++k) {
    const int32_t v = d.values[static_cast<std::size_t>(k)];
    if ((v == kHundredthsMarker || v == kThousandthsMarker) && isEndMarker(d, k, positions)) {
      ended = true;
      break;
    }
    if ((d.blank >> k) & 1u) {
      ++blanks;
      continue;
    }
    addRepeated(0.0f, blanks);
    blanks = 0;
    if (v < 0) {
      // -999 missing codes, -7 fillers and typos: a missing ring.
      add(kMissingValue);
      ++st_.info.negativesAsMissing;
    } else {
      add(static_cast<float>(v) * 0.01f);
    }
  }
  reportFields(d, raw_, lineNo, ended ? k + 1 : positions, positions, ended);
  if (ended) {
    // Blank fields before the marker are zero rings.
    addRepeated(0.0f, blanks);
    closeWithMarker(d.values[static_cast<std::size_t>(k)]);
    return true;
  }
  cur_.trailingBlanks = blanks;
  cur_.nextYear = d.year + positions;
  return false;
}

// A 999 or -9999 in value position k ends the series only when nothing but
// blanks or zeros follow it on its line. A 999 must also not be followed by
// a line that continues the series: then it is a ring of 9.99 mm (0.999 in a
// thousandths file). A -9999 is never a ring width, and reading it as one
// would join two adjacent series of one identifier, so it needs no look-ahead.
bool DecadeReader::isEndMarker(const DecadeLine& d, int32_t k, int32_t positions) {
  for (int32_t j = k + 1; j < kValuesPerLine; ++j) {
    if (((d.blank >> j) & 1u) == 0 && d.values[static_cast<std::size_t>(j)] != 0) return false;
  }
  if (d.values[static_cast<std::size_t>(k)] == kThousandthsMarker) return true;
  return !nextLineContinues(d.year + positions);
}

// Looks at the next line that is not blank: true when it is a decade line of
// the current series starting in `year`. The line is left to be read again.
bool DecadeReader::nextLineContinues(int32_t year) {
  rw::LineSource& src = st_.source;
  while (const Line* line = src.next()) {
    if (isBlankLine(*line)) {
      ++st_.info.blankLines;
      continue;
    }
    DecadeLine next;
    const bool continues = (*line)[kBlockFlagColumn] != '#' && parseDecadeLine(*line, next) &&
                           sameIdentifier(cur_.id, cur_.longYear, next.id.data(), next.longYear) &&
                           next.year == year;
    src.pushBack();
    return continues;
  }
  return false;
}

// Warns about the fields of a line that may not say what their writer meant:
// numeric fields whose digits are not right-aligned or have a blank inside
// (among the year and the first `used` values), and values after the end of
// the line's decade, which are not read.
void DecadeReader::reportFields(const DecadeLine& d, const Line& raw, int32_t lineNo, int32_t used,
                                int32_t positions, bool ended) {
  auto field = [&](const char* what, std::size_t start, std::size_t width, int32_t value) {
    const std::string_view text(raw.data() + start, width);
    const std::size_t first = text.find_first_not_of(' ');
    const std::size_t last = text.find_last_not_of(' ');
    const bool inner = text.substr(first, last - first + 1).find(' ') != std::string_view::npos;
    st_.warn(Kind::FieldLayout, lineNo, curId(),
             std::string(what) + " field " + quoted(text.data(), width) + " (" +
                 columnRange(start, width) + ") read as " + std::to_string(value) +
                 (inner ? ": blank between its digits" : ": digits not right-aligned"));
  };
  const char* c = raw.data();
  if (d.yearIntoId) {
    st_.warn(Kind::FieldLayout, lineNo, curId(),
             "year field " + quoted(c + kYearColumn, kYearWidth) + " (" +
                 columnRange(kYearColumn, kYearWidth) + ") read as " + std::to_string(d.year) +
                 " with identifier " + quoted(c, kIdWidth) +
                 ": the year may have more digits than its columns");
  }
  if (d.afterValues) {
    constexpr std::size_t kAfterValues = kValueColumn + kValuesPerLine * kValueWidth;
    st_.warn(Kind::ExtraValues, lineNo, curId(),
             "value(s) " + quoted(c + kAfterValues, kLineWidth - kAfterValues) + " in " +
                 columnRange(kAfterValues, kLineWidth - kAfterValues) +
                 ", after the ten values, not read");
  }
  if (d.irregular != 0) {
    if (d.irregular & kYearBit) field("year", kYearColumn, kYearWidth, d.year);
    for (int32_t k = 0; k < used; ++k) {
      if ((d.irregular >> k) & 1u) {
        field("value", kValueColumn + static_cast<std::size_t>(k) * kValueWidth, kValueWidth,
              d.values[static_cast<std::size_t>(k)]);
      }
    }
  }
  if (ended) return;
  int32_t extra = 0;
  for (int32_t k = positions; k < kValuesPerLine; ++k) {
    if (((d.blank >> k) & 1u) == 0 && d.values[static_cast<std::size_t>(k)] != 0) ++extra;
  }
  if (extra > 0) {
    const std::size_t start = kValueColumn + static_cast<std::size_t>(positions) * kValueWidth;
    st_.warn(Kind::ExtraValues, lineNo, curId(),
             std::to_string(extra) + " value(s) after the end of the decade (" +
                 columnRange(start, kValueColumn + kValuesPerLine * kValueWidth - start) +
                 ") not read");
  }
}

void DecadeReader::toThousandths() {
  // Stored as hundredths so far.
  for (float& x : values_) {
    if (x != kMissingValue) x *= 0.1f;
  }
}

void DecadeReader::closeWithMarker(int32_t marker) {
  if (marker == kThousandthsMarker) {
    toThousandths();
    ++st_.thousandthsSeries;
  } else {
    ++st_.hundredthsSeries;
  }
}

// Ends the current series without its end marker. It is delivered in the unit
// of the series read before it when they all agree, with a warning; when it
// has no values or its unit can't be told, it is left out with a warning and
// false is returned. The reason names what ended it; the warning goes on lineNo.
bool DecadeReader::endWithoutMarker(const std::string& reason, int32_t lineNo) {
  cur_.trailingBlanks = 0;  // blank fields at the end of the last line are not rings
  const bool hundredths = st_.hundredthsSeries > 0;
  const bool thousandths = st_.thousandthsSeries > 0;
  std::string outcome;
  if (cur_.count == 0) {
    outcome = "left out: it has no values";
  } else if (hundredths == thousandths) {
    outcome = hundredths
                  ? "left out: its unit is unknown, as the series before it use both units"
                  : "left out: its unit is unknown, as no series before it has an end marker";
  }
  if (!outcome.empty()) {
    st_.warn(Kind::SeriesLeftOut, lineNo, curId(), reason + "; " + outcome);
    cur_ = Series{};
    values_.clear();
    return false;
  }
  // The unit is borrowed, so this series does not count toward later ones.
  if (thousandths) toThousandths();
  st_.warn(Kind::NoEndMarker, lineNo, curId(),
           reason + "; read in " + (thousandths ? "thousandths" : "hundredths") +
               " of a mm like the series before it");
  st_.info.noEndMarker = true;
  return true;
}

// A line that is not a decade line. Before the first series such lines are
// the file's header and pass silently; after it each one is reported.
void DecadeReader::textLine(const Line& line, int32_t& textLines) {
  ++textLines;
  ++st_.info.textLines;
  if (textLines > kMaxTextLines) throw Fatal("sbr trrw:  over 25 text lines");
  if (!st_.seriesBegun) return;
  const int32_t lineNo = st_.source.lineNumber();
  const bool ownLine = cur_.open && sameIdentifier(cur_.id, cur_.longYear, line.data(),
                                                   line[kYearColumn - 1] == '-');
  if (ownLine) {
    st_.warn(Kind::TextLine, lineNo, curId(),
             "not a decade line (a letter or sign in its numeric columns): its values are left "
             "out");
  } else {
    st_.warn(Kind::TextLine, lineNo, std::string(), "not a decade line: skipped");
  }
}

int32_t DecadeReader::deliver(std::string& id, int32_t& firstYear) {
  id.assign(cur_.id.data(), kIdWidth);
  firstYear = cur_.firstYear;
  st_.info.firstLine = cur_.firstLine;
  st_.info.lastLine = cur_.lastLine;
  if (cur_.count > kMaxSeriesValues) {
    st_.info.tooLong = true;
    st_.warn(Kind::TooLong, cur_.firstLine, curId(),
             std::to_string(cur_.count) + " values: only the first " +
                 std::to_string(kMaxSeriesValues) + " are kept");
  }
  return cur_.count;
}

// Hands out the next series of a Heidelberg or CSV input, with the warnings
// raised before it (all that are left at the end).
int32_t tableRead(rw::ReaderState& st, std::string& id, int32_t& firstYear,
                  std::vector<float>& values) {
  SeriesTable& table = *st.table;
  const std::size_t k = st.nextSeries;
  const bool last = k >= table.series.size();
  while (st.nextWarning < table.warnings.size() &&
         (last || table.warnings[st.nextWarning].before <= k)) {
    const RwWarning& w = table.warnings[st.nextWarning++].warning;
    st.warn(w.kind, w.line, w.series, w.text);
  }
  if (last) {
    st.atEnd = true;
    return kEndOfFile;
  }
  TableSeries& s = table.series[k];
  ++st.nextSeries;
  id = s.decadeId;
  id.resize(kIdWidth, ' ');
  firstYear = s.firstYear;
  values = std::move(s.values);
  s.values = {};
  st.info.firstLine = st.info.lastLine = s.line;
  st.info.fullName = s.name;
  return static_cast<int32_t>(values.size());
}

}  // namespace

int32_t trrwRead(RwInput& in, std::string& id, int32_t& firstYear, std::vector<float>& values,
                 int32_t& seriesCounter) {
  rw::ReaderState& st = *in.state_;
  seriesCounter = std::max(seriesCounter, 0) + 1;
  values.clear();
  st.beginCall();
  int32_t n = kEndOfFile;
  if (!st.atEnd) {
    n = st.table ? tableRead(st, id, firstYear, values)
                 : DecadeReader(st, values).read(id, firstYear);
  }
  if (n == kEndOfFile) {
    values.clear();
    seriesCounter = kEndOfFile;
  }
  return n;
}

}  // namespace kavrel
