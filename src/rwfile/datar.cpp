// Header-driven blocks inside a measurement file: a line with "#" in column
// 80, more text lines, a header line "(2(2x,i8),t23,a)" with the number of
// values, the first year and a read format, then the values in millimetres
// read with that format.
#include <algorithm>
#include <optional>
#include <string>

#include "rwfile/fields.h"
#include "rwfile/rw_internal.h"
#include "util/missing.h"

namespace kavrel::rw {

namespace {

std::string_view columns(const Line& line, std::size_t start, std::size_t width) {
  return std::string_view(line.data() + start, width);
}

// How reading the values of a block ended.
enum class BlockEnd { Complete, BadField, EndOfInput };

// Values of one block: the first kMaxSeriesValues are kept, the rest counted.
struct BlockValues {
  std::vector<float>& kept;
  int32_t count = 0;
  void add(float v) {
    if (count < kMaxSeriesValues) kept.push_back(v);
    ++count;
  }
};

// Reads `count` values with the block's read format. Lines are taken as 80
// columns padded with blanks; when the format's items are used up and values
// remain, reading goes on with the next line from the reversion item, which
// the format parser guarantees to be followed by a numeric field.
BlockEnd readBlockValues(ReaderState& st, const ReadFormat& format, int32_t count,
                         BlockValues& out) {
  using Kind = FormatItem::Kind;
  if (count == 0) return BlockEnd::Complete;  // no value lines to read
  const Line* line = st.source.next();
  if (line == nullptr) return BlockEnd::EndOfInput;
  std::size_t col = 0;
  std::size_t item = 0;
  while (out.count < count) {
    if (item == format.items.size()) {
      item = format.reversion;
      if ((line = st.source.next()) == nullptr) return BlockEnd::EndOfInput;
      col = 0;
    }
    const FormatItem& f = format.items[item++];
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
        if ((line = st.source.next()) == nullptr) return BlockEnd::EndOfInput;
        col = 0;
        break;
      case Kind::Int:
      case Kind::Real: {
        // Columns past the end of the line read as blanks.
        std::string_view field;
        if (col < kLineWidth) {
          field = std::string_view(line->data() + col, std::min(w, kLineWidth - col));
        }
        col += w;
        float v = 0.0f;
        if (f.kind == Kind::Int) {
          int32_t i = 0;
          if (!readIntField(field, i)) return BlockEnd::BadField;
          v = static_cast<float>(i);
        } else if (!readRealField(field, f.decimals, v)) {
          return BlockEnd::BadField;
        }
        // A negative width is a missing-ring code or a filler, never a width.
        if (v < 0.0f) {
          v = kMissingValue;
          ++st.info.negativesAsMissing;
        }
        out.add(v);
        break;
      }
    }
  }
  return BlockEnd::Complete;
}

}  // namespace

int32_t datar(ReaderState& st, Line& idLine, std::vector<float>& values, int32_t& firstYear) {
  values.clear();
  while (const Line* next = st.source.next()) {
    const Line& line = *next;
    if (isBlankLine(line)) {
      ++st.info.blankLines;
      continue;
    }
    if (!(line[0] == 'n' && line[1] == ' ' && line[2] == ' ')) idLine = line;
    // Header "(2(2x,i8),t23,a)": count in columns 3-10, first year in 13-20,
    // the read format in 23-30.
    int32_t count = 0;
    int32_t year = 0;
    if (!readIntField(columns(line, 2, 8), count)) continue;
    if (!readIntField(columns(line, 12, 8), year)) continue;
    const std::string_view formatText = columns(line, 22, 8);
    if (formatText.find('(') == std::string_view::npos ||
        formatText.find(')') == std::string_view::npos) {
      continue;
    }
    firstYear = year;
    const int32_t headerLine = st.source.lineNumber();
    const std::string id(idLine.data(), kIdWidth);
    const std::string formatShown = trimmedId(formatText);
    if (count < 0) {
      // No number of values; returned as it stands it could even read as the
      // end of the file.
      st.message(">> sbr datar:  error reading data");
      st.warn(RwWarning::Kind::BlockValues, headerLine, id,
              "header announces " + std::to_string(count) + " values: block read as empty");
      return 0;
    }
    BlockValues out{values};
    const std::optional<ReadFormat> format = parseReadFormat(formatText);
    BlockEnd end = BlockEnd::BadField;
    if (format) end = readBlockValues(st, *format, count, out);
    if (end == BlockEnd::BadField) {
      st.message(">> sbr datar:  error reading data");
      if (format) {
        st.warn(RwWarning::Kind::BlockValues, st.source.lineNumber(), id,
                "a value cannot be read with the block's format " + formatShown +
                    ": the remaining values are missing");
      } else {
        st.warn(RwWarning::Kind::BlockValues, headerLine, id,
                "the block's read format " + formatShown +
                    " cannot be interpreted: all its values are missing");
      }
    } else if (end == BlockEnd::EndOfInput) {
      st.message(">> sbr datar:  unexpected end reading data");
      st.warn(RwWarning::Kind::BlockValues, headerLine, id,
              "the input ends after " + std::to_string(out.count) + " of " + std::to_string(count) +
                  " values: the remaining values are missing");
    }
    // Values the block did not deliver are missing rings, never stale data.
    values.resize(static_cast<std::size_t>(std::min(count, kMaxSeriesValues)), kMissingValue);
    if (count > kMaxSeriesValues) {
      st.info.tooLong = true;
      st.warn(RwWarning::Kind::TooLong, headerLine, id,
              std::to_string(count) + " values: only the first " +
                  std::to_string(kMaxSeriesValues) + " are kept");
    }
    return count;
  }
  return kEndOfFile;
}

}  // namespace kavrel::rw
