// Decade lines taken apart by their columns: identifier, year and ten
// values, with a note of every numeric field that is not laid out as its
// writer's "(a8,i4,10i6)" would lay it out.
#include <cstring>

#include "rwfile/rw_internal.h"

namespace kavrel::rw {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a numeric field by its columns: blanks are ignored, an all-blank field
// is 0, an optional sign must precede the digits; false for anything else.
// `irregular` is set when a blank follows the first character written, that
// is, when the digits are not right-aligned or have a blank between them.
// Fields are at most six columns, so the value cannot overflow.
bool readColumns(const char* p, std::size_t width, int32_t& value, bool& blank, bool& irregular) {
  std::size_t i = 0;
  while (i < width && p[i] == ' ') ++i;
  value = 0;
  irregular = false;
  blank = i == width;
  if (blank) return true;
  bool negative = false;
  if (p[i] == '-' || p[i] == '+') negative = p[i++] == '-';
  bool digits = false;
  int32_t v = 0;
  for (; i < width; ++i) {
    const char c = p[i];
    if (isDigit(c)) {
      v = v * 10 + (c - '0');
      digits = true;
    } else if (c == ' ') {
      irregular = true;
    } else {
      return false;
    }
  }
  if (!digits) return false;
  value = negative ? -v : v;
  return true;
}

}  // namespace

// Years of -1000 and earlier carry their sign in column 8 ("SS004B -2649"),
// and then the identifier is columns 1-7. A line whose columns 9-72 are all
// blank (an identifier or a word alone) would read as a decade of zeros in
// year 0 that swallows the next series, so it is a text line.
bool parseDecadeLine(const Line& line, DecadeLine& out) {
  const char* d = line.data();
  out.longYear = d[kYearColumn - 1] == '-' && isDigit(d[kYearColumn]) &&
                 isDigit(d[kYearColumn + 1]) && isDigit(d[kYearColumn + 2]) &&
                 isDigit(d[kYearColumn + 3]);
  bool blank = false;
  bool irregular = false;
  if (!readColumns(d + kYearColumn, kYearWidth, out.year, blank, irregular)) return false;
  const bool yearBlank = blank;
  out.blank = 0;
  out.irregular = irregular ? kYearBit : 0;
  for (int32_t k = 0; k < kValuesPerLine; ++k) {
    const char* field = d + kValueColumn + static_cast<std::size_t>(k) * kValueWidth;
    if (!readColumns(field, kValueWidth, out.values[static_cast<std::size_t>(k)], blank,
                     irregular)) {
      return false;
    }
    out.blank |= static_cast<uint32_t>(blank) << k;
    out.irregular |= static_cast<uint32_t>(irregular) << k;
  }
  constexpr uint32_t kAllBlank = (1u << kValuesPerLine) - 1;
  if (yearBlank && out.blank == kAllBlank) return false;
  // A year of more digits than its columns ("BIGYR  10001": identifier
  // "BIGYR  1", year 1) leaves a digit in column 8 before a year field that
  // starts with 0, or a digit alone after a blank in column 7.
  out.yearIntoId = !out.longYear && (out.irregular & kYearBit) == 0 && isDigit(d[kIdWidth - 1]) &&
                   isDigit(d[kYearColumn]) && (d[kYearColumn] == '0' || d[kIdWidth - 2] == ' ');
  constexpr std::size_t kAfterValues = kValueColumn + kValuesPerLine * kValueWidth;
  out.afterValues = false;
  for (std::size_t i = kAfterValues; i < kLineWidth; ++i) out.afterValues |= isDigit(d[i]);
  std::memcpy(out.id.data(), d, kIdWidth);
  if (out.longYear) {
    out.year = -out.year;
    out.id[kIdWidth - 1] = ' ';
  }
  return true;
}

bool sameIdentifier(const std::array<char, kIdWidth>& a, bool aLong, const char* b, bool bLong) {
  const std::size_t n = (aLong || bLong) ? kIdWidth - 1 : kIdWidth;
  return std::memcmp(a.data(), b, n) == 0;
}

}  // namespace kavrel::rw
