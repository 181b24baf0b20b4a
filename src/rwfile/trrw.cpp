#include "rwfile/trrw.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "rwfile/fields.h"
#include "util/fatal.h"
#include "util/missing.h"

namespace kavrel {

namespace {

// Decade-line layout: identifier columns 1-8, year 9-12, ten values of six
// columns each in 13-72. Columns 73-80 are never read.
constexpr std::size_t kIdWidth = 8;
constexpr std::size_t kYearColumn = 8;  // 0-based start of columns 9-12
constexpr std::size_t kYearWidth = 4;
constexpr std::size_t kValueColumn = 12;
constexpr std::size_t kValueWidth = 6;
constexpr int32_t kValuesPerLine = 10;

// End markers: 999 closes a series in hundredths, -9999 one in thousandths.
constexpr int32_t kHundredthsMarker = 999;
constexpr int32_t kThousandthsMarker = -9999;
// The missing marker as it is written in the thousandths field.
constexpr int32_t kMissingField = -999;

// A line that announces a header-driven block has "#" in column 80.
constexpr std::size_t kBlockFlagColumn = 79;

using LineBuffer = std::array<char, kLineWidth>;

// Number of values on the first line of a series that starts in `year`:
// up to the end of its decade. The remainder takes the sign of the year, so
// year -5 gives 5 values (-5..-1) and the next line starts at year 0.
int32_t valuesOnFirstLine(int32_t year) {
  const int32_t r = year % kValuesPerLine;
  if (year >= 0) return kValuesPerLine - r;
  return r == 0 ? kValuesPerLine : -r;
}

bool isBlankLine(const LineBuffer& line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
}

std::string_view columns(const LineBuffer& line, std::size_t start, std::size_t width) {
  return std::string_view(line.data() + start, width);
}

// One parsed decade line.
struct DecadeLine {
  std::string id;
  int32_t year = 0;
  std::array<int32_t, kValuesPerLine> values{};
};

// Parses a decade line; false makes it a text line. Years of -1000 and
// earlier carry their sign in column 8 ("SS004B -2649"): a "-" there directly
// before four digits is the year's sign and the identifier is columns 1-7.
// A line whose columns 9-72 are all blank (an identifier or a word alone) is
// a text line too: read literally it would be a decade of zeros in year 0
// that swallows the following series.
bool parseDecadeLine(const LineBuffer& line, DecadeLine& out) {
  const std::string_view numbers =
      columns(line, kYearColumn, kValueColumn - kYearColumn + kValuesPerLine * kValueWidth);
  if (numbers.find_first_not_of(' ') == std::string_view::npos) return false;
  const std::string_view yearField = columns(line, kYearColumn, kYearWidth);
  const bool longNegativeYear = line[kYearColumn - 1] == '-' &&
                          std::all_of(yearField.begin(), yearField.end(),
                                      [](char c) { return c >= '0' && c <= '9'; });
  if (!rw::readIntField(yearField, out.year)) return false;
  for (int32_t k = 0; k < kValuesPerLine; ++k) {
    const std::size_t start = kValueColumn + static_cast<std::size_t>(k) * kValueWidth;
    if (!rw::readIntField(columns(line, start, kValueWidth), out.values[static_cast<std::size_t>(k)])) {
      return false;
    }
  }
  if (longNegativeYear) {
    out.year = -out.year;
    out.id.assign(line.data(), kIdWidth - 1);
    out.id.push_back(' ');
  } else {
    out.id.assign(line.data(), kIdWidth);
  }
  return true;
}

}  // namespace

// Hands out the lines of an RwInput one at a time, cut at 80 characters and
// padded with blanks. LF, CRLF and a lone CR all end a line.
struct RwLineSource {
  static bool next(RwInput& in, LineBuffer& line) {
    const std::string& text = in.text_;
    if (in.pos_ >= text.size()) return false;
    const std::size_t start = in.pos_;
    std::size_t end = start;
    const char* data = text.data();
    const std::size_t size = text.size();
    while (end < size && data[end] != '\n' && data[end] != '\r') ++end;
    std::size_t next = end;
    if (next < size) {
      next += (data[next] == '\r' && next + 1 < size && data[next + 1] == '\n') ? 2 : 1;
    }
    const std::size_t len = std::min(end - start, kLineWidth);
    std::memcpy(line.data(), data + start, len);
    std::memset(line.data() + len, ' ', kLineWidth - len);
    in.prevPos_ = start;
    in.pos_ = next;
    ++in.lineNumber_;
    return true;
  }

  // Puts the last line back, so that it is read again.
  static void stepBack(RwInput& in) {
    in.pos_ = in.prevPos_;
    --in.lineNumber_;
  }

  static void message(RwInput& in, const char* text) {
    if (in.messages_ != nullptr) {
      std::fputs(text, in.messages_);
      std::fputc('\n', in.messages_);
      std::fflush(in.messages_);
    }
  }

  static RwReadInfo& info(RwInput& in) { return in.info_; }
};

namespace {

// Reads the values of a header-driven block with its read format. Lines are
// taken as 80 columns padded with blanks; when the format's items are used up
// and values remain, reading goes on with the next line from the reversion
// item. Returns false on a field that is not a number; `eof` is set when the
// input ends first.
bool readBlockValues(RwInput& in, const rw::ReadFormat& format, int32_t count,
                     std::vector<float>& values, bool& eof) {
  using Kind = rw::FormatItem::Kind;
  LineBuffer line;
  eof = false;
  // A block of no values has no value lines to read.
  if (count == 0) return true;
  if (!RwLineSource::next(in, line)) {
    eof = true;
    return true;
  }
  std::size_t col = 0;
  std::size_t item = 0;
  while (static_cast<int32_t>(values.size()) < count) {
    if (item == format.items.size()) {
      item = format.reversion;
      if (!RwLineSource::next(in, line)) {
        eof = true;
        return true;
      }
      col = 0;
    }
    const rw::FormatItem& f = format.items[item++];
    const std::size_t w = static_cast<std::size_t>(f.width);
    switch (f.kind) {
      case Kind::Skip:
      case Kind::TabRight:
        col += w;
        break;
      case Kind::TabLeft:
        col = col > w ? col - w : 0;
        break;
      case Kind::TabTo:
        col = w > 0 ? w - 1 : 0;
        break;
      case Kind::NextRecord:
        if (!RwLineSource::next(in, line)) {
          eof = true;
          return true;
        }
        col = 0;
        break;
      case Kind::Int:
      case Kind::Real: {
        // Columns past the end of the line read as blanks.
        std::string_view field;
        if (col < kLineWidth) field = std::string_view(line.data() + col, std::min(w, kLineWidth - col));
        col += w;
        float v = 0.0f;
        if (f.kind == Kind::Int) {
          int32_t i = 0;
          if (!rw::readIntField(field, i)) return false;
          v = static_cast<float>(i);
        } else if (!rw::readRealField(field, f.decimals, v)) {
          return false;
        }
        // A negative width is a missing-ring code or a filler, never a width.
        if (v < 0.0f) {
          v = kMissingValue;
          ++RwLineSource::info(in).negativesAsMissing;
        }
        values.push_back(v);
        break;
      }
    }
  }
  return true;
}

// Reads one header-driven block starting at the current line. `idLine`
// receives the last line before the header that does not begin with "n  ",
// whose first 8 characters are the series identifier. Returns the number of
// values, or kEndOfFile when the input ends before a header.
int32_t datar(RwInput& in, LineBuffer& idLine, std::vector<float>& values, int32_t& firstYear) {
  LineBuffer line;
  values.clear();
  while (RwLineSource::next(in, line)) {
    if (isBlankLine(line)) {
      ++RwLineSource::info(in).blankLines;
      continue;
    }
    if (!(line[0] == 'n' && line[1] == ' ' && line[2] == ' ')) idLine = line;
    // Header "(2(2x,i8),t23,a)": count in columns 3-10, first year in 13-20,
    // the read format in 23-30.
    int32_t count = 0;
    int32_t year = 0;
    if (!rw::readIntField(columns(line, 2, 8), count)) continue;
    if (!rw::readIntField(columns(line, 12, 8), year)) continue;
    const std::string_view formatText = columns(line, 22, 8);
    if (formatText.find('(') == std::string_view::npos ||
        formatText.find(')') == std::string_view::npos) {
      continue;
    }
    firstYear = year;
    const std::optional<rw::ReadFormat> format = rw::parseReadFormat(formatText);
    if (!format || count < 0 || count > kMaxBlockValues) {
      RwLineSource::message(in, ">> sbr datar:  error reading data");
      return 0;
    }
    bool eof = false;
    const bool ok = readBlockValues(in, *format, count, values, eof);
    if (!ok) RwLineSource::message(in, ">> sbr datar:  error reading data");
    if (eof) RwLineSource::message(in, ">> sbr datar:  unexpected end reading data");
    // Values the block did not deliver are missing rings, never stale data.
    values.resize(static_cast<std::size_t>(count), kMissingValue);
    return count;
  }
  return kEndOfFile;
}

// The end-of-file result: no values, count and series counter both -999.
int32_t endOfInput(std::vector<float>& values, int32_t& seriesCounter) {
  values.clear();
  seriesCounter = kEndOfFile;
  return kEndOfFile;
}

}  // namespace

RwInput::RwInput(std::string text, std::string name) : text_(std::move(text)), name_(std::move(name)) {
  // A UTF-8 byte-order mark written by some editors would shift every column
  // of the first line by three; it is not part of the data.
  if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;
}

std::optional<RwInput> RwInput::openFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return std::nullopt;
  RwInput in = fromStream(f, path);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return std::nullopt;
  return in;
}

RwInput RwInput::fromStream(std::FILE* stream, std::string name) {
  std::string text;
  // Size the buffer once when the stream is a regular file; a pipe or an
  // unsized stream grows it chunk by chunk.
  const long here = std::ftell(stream);
  if (here >= 0 && std::fseek(stream, 0, SEEK_END) == 0) {
    const long end = std::ftell(stream);
    std::fseek(stream, here, SEEK_SET);
    if (end > here) text.reserve(static_cast<std::size_t>(end - here));
  }
  std::array<char, 1 << 16> chunk;
  std::size_t got = 0;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), stream)) > 0) text.append(chunk.data(), got);
  return RwInput(std::move(text), std::move(name));
}

RwInput RwInput::fromText(std::string text, std::string name) {
  return RwInput(std::move(text), std::move(name));
}

int32_t trrwRead(RwInput& in, std::string& id, int32_t& firstYear, std::vector<float>& values,
                 int32_t& seriesCounter) {
  seriesCounter = std::max(seriesCounter, 0) + 1;
  values.clear();
  in.info_ = RwReadInfo{};
  if (in.atEnd_) return endOfInput(values, seriesCounter);

  LineBuffer line;
  DecadeLine decade;
  int32_t parsedLines = 0;
  int32_t textLines = 0;
  while (RwLineSource::next(in, line)) {
    if (isBlankLine(line)) {
      ++in.info_.blankLines;
      continue;
    }
    if (values.empty() && line[kBlockFlagColumn] == '#') {
      RwLineSource::stepBack(in);
      in.info_.firstLine = in.lineNumber_ + 1;
      in.info_.headerBlock = true;
      LineBuffer idLine;
      idLine.fill(' ');
      const int32_t count = datar(in, idLine, values, firstYear);
      in.info_.lastLine = in.lineNumber_;
      if (count == kEndOfFile) {
        in.atEnd_ = true;
        return endOfInput(values, seriesCounter);
      }
      id.assign(idLine.data(), kIdWidth);
      return count;
    }
    if (!parseDecadeLine(line, decade)) {
      ++textLines;
      ++in.info_.textLines;
      if (textLines > kMaxTextLines) throw Fatal("sbr trrw:  over 25 text lines");
      continue;
    }
    int32_t positions = kValuesPerLine;
    if (parsedLines == 0) {
      id = decade.id;
      firstYear = decade.year;
      positions = valuesOnFirstLine(decade.year);
      in.info_.firstLine = in.lineNumber_;
    }
    ++parsedLines;
    for (int32_t k = 0; k < positions; ++k) {
      const int32_t v = decade.values[static_cast<std::size_t>(k)];
      if (v == kThousandthsMarker) {
        // Stored as hundredths so far; the marker says they were thousandths.
        for (float& x : values) {
          if (x != kMissingValue) x *= 0.1f;
        }
        in.info_.lastLine = in.lineNumber_;
        return static_cast<int32_t>(values.size());
      }
      if (v == kHundredthsMarker) {
        in.info_.lastLine = in.lineNumber_;
        return static_cast<int32_t>(values.size());
      }
      if (v < 0) {
        // -999 missing codes, -7 fillers and typos: a missing ring.
        values.push_back(kMissingValue);
        ++in.info_.negativesAsMissing;
      } else {
        values.push_back(static_cast<float>(v) * 0.01f);
      }
    }
  }
  // The input ended before the series' end marker: nothing is delivered.
  in.atEnd_ = true;
  return endOfInput(values, seriesCounter);
}

// ---------------------------------------------------------------------------
// Writer

namespace {

// Writes v right-aligned in `width` columns at p and returns the end; v must fit.
char* putInt(char* p, int32_t v, std::size_t width) {
  char* end = p + width;
  char* q = end;
  const bool negative = v < 0;
  uint32_t u = negative ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
  do {
    *--q = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (negative) *--q = '-';
  while (q > p) *--q = ' ';
  return end;
}

// Thousandths that fit the six-column field.
constexpr float kLargestField = 999999.5f;
constexpr float kSmallestField = -99999.5f;

// The integer written for one value, in thousandths of a mm.
int32_t fieldValue(float v, RwWriteStatus& status) {
  if (v == kMissingValue) return kMissingField;
  if (!std::isfinite(v)) {
    ++status.valuesAsMissing;
    return kMissingField;
  }
  // nint in single precision: halves round away from zero.
  const float scaled = v * 1000.0f;
  if (!(scaled < kLargestField) || !(scaled > kSmallestField)) {
    ++status.valuesAsMissing;
    return kMissingField;
  }
  const int32_t i = static_cast<int32_t>(std::round(scaled));
  if (i == kHundredthsMarker) {
    // 999 would end the series when read back.
    ++status.markerClashes;
    return kHundredthsMarker - 1;
  }
  if (i == kThousandthsMarker) {
    ++status.markerClashes;
    return kMissingField;
  }
  return i;
}

char* putLineStart(char* p, std::string_view id, int32_t year) {
  // Years of -1000 and earlier need five columns: the identifier gives up its
  // eighth column to the sign.
  const std::size_t idWidth = year <= -1000 ? kIdWidth - 1 : kIdWidth;
  const std::size_t shown = std::min(id.size(), idWidth);
  std::memcpy(p, id.data(), shown);
  std::memset(p + shown, ' ', idWidth - shown);
  return putInt(p + idWidth, year, kIdWidth + kYearWidth - idWidth);
}

}  // namespace

RwWriteStatus trrwFormat(std::string& out, std::string_view id, int32_t firstYear,
                         std::span<const float> values) {
  RwWriteStatus status;
  const int64_t n = static_cast<int64_t>(values.size());
  if (n == 0) return status;
  const int32_t first = valuesOnFirstLine(firstYear);
  // Year of the line that holds the end marker (the last line written).
  int64_t lastLineYear = firstYear;
  if (n >= first) lastLineYear = int64_t{firstYear} + first + (n - first) / kValuesPerLine * kValuesPerLine;
  if (firstYear < -9999 || lastLineYear > 9999) {
    status.yearOutOfRange = true;
    return status;
  }
  int64_t next = 0;  // index of the next value to write
  int32_t year = firstYear;
  int32_t positions = first;
  // One line is at most 12 + 10 * 6 columns and the line end.
  std::array<char, kValueColumn + kValuesPerLine * kValueWidth + 1> line;
  while (true) {
    char* p = putLineStart(line.data(), id, year);
    ++status.linesWritten;
    bool markerWritten = false;
    for (int32_t k = 0; k < positions; ++k) {
      if (next == n) {
        p = putInt(p, kThousandthsMarker, kValueWidth);
        markerWritten = true;
        break;
      }
      p = putInt(p, fieldValue(values[static_cast<std::size_t>(next)], status), kValueWidth);
      ++next;
    }
    *p++ = '\n';
    out.append(line.data(), static_cast<std::size_t>(p - line.data()));
    if (markerWritten) break;
    year += positions;
    positions = kValuesPerLine;
  }
  return status;
}

RwWriteStatus trrwWrite(std::FILE* out, std::string_view id, int32_t firstYear,
                        std::span<const float> values) {
  std::string buffer;
  buffer.reserve(values.size() / kValuesPerLine * 75 + 160);
  RwWriteStatus status = trrwFormat(buffer, id, firstYear, values);
  if (!buffer.empty() && std::fwrite(buffer.data(), 1, buffer.size(), out) != buffer.size()) {
    status.ioError = true;
  }
  if (std::ferror(out) != 0) status.ioError = true;
  return status;
}

std::string describeWriteStatus(const RwWriteStatus& status, std::string_view id) {
  std::string text;
  const std::string series = "series " + std::string(id.substr(0, std::min<std::size_t>(id.size(), kIdWidth)));
  auto add = [&](const std::string& part) {
    if (!text.empty()) text += "; ";
    text += part;
  };
  if (status.yearOutOfRange) add("years outside -9999..9999, series not written");
  if (status.valuesAsMissing > 0) {
    add(std::to_string(status.valuesAsMissing) +
        " value(s) too large for the file or not a number, written as missing (-999)");
  }
  if (status.markerClashes > 0) {
    add(std::to_string(status.markerClashes) +
        " value(s) equal to an end marker in thousandths (0.999 or -9.999), written as 0.998 or missing");
  }
  if (status.ioError) add("write error");
  if (text.empty()) return text;
  return "trrw: " + series + ": " + text;
}

}  // namespace kavrel
