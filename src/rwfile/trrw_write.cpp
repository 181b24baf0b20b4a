// The decade-line writer (mode "mw"): thousandths of a mm, end marker -9999,
// lines laid out as "(a8,i4,10i6)".
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>

#include "rwfile/rw_internal.h"
#include "rwfile/trrw.h"
#include "util/missing.h"

namespace kavrel {

namespace {

using rw::kHundredthsMarker;
using rw::kIdWidth;
using rw::kThousandthsMarker;
using rw::kValueColumn;
using rw::kValuesPerLine;
using rw::kValueWidth;
using rw::kYearWidth;

// The missing marker as it is written in the thousandths field.
constexpr int32_t kMissingField = -999;

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

char* putLineStart(char* p, const std::array<char, kIdWidth>& id, int32_t year) {
  // Years of -1000 and earlier need five columns: the identifier gives up its
  // eighth column to the sign.
  const std::size_t idWidth = year <= -1000 ? kIdWidth - 1 : kIdWidth;
  std::memcpy(p, id.data(), idWidth);
  return putInt(p + idWidth, year, kIdWidth + kYearWidth - idWidth);
}

}  // namespace

RwWriteStatus trrwFormat(std::string& out, std::string_view id, int32_t firstYear,
                         std::span<const float> values) {
  RwWriteStatus status;
  const int64_t n = static_cast<int64_t>(values.size());
  if (n == 0) return status;
  const int32_t first = rw::valuesOnFirstLine(firstYear);
  // Year of the line that holds the end marker (the last line written).
  int64_t lastLineYear = firstYear;
  if (n >= first) {
    lastLineYear = int64_t{firstYear} + first + (n - first) / kValuesPerLine * kValuesPerLine;
  }
  if (firstYear < -9999 || lastLineYear > 9999) {
    status.yearOutOfRange = true;
    return status;
  }
  std::array<char, kIdWidth> shown;
  shown.fill(' ');
  std::memcpy(shown.data(), id.data(), std::min(id.size(), kIdWidth));
  // A "-" in column 8 directly before a four-digit year reads back as the
  // year's sign, so it is written as "_" on every line of such a series.
  if (shown[kIdWidth - 1] == '-' && lastLineYear >= 1000) {
    shown[kIdWidth - 1] = '_';
    status.idChanged = true;
    status.idWritten.assign(shown.data(), kIdWidth);
  } else if (shown[kIdWidth - 1] != ' ' && firstYear <= -1000) {
    status.idChanged = true;
    status.idWritten.assign(shown.data(), kIdWidth - 1);
  }
  int64_t next = 0;  // index of the next value to write
  int32_t year = firstYear;
  int32_t positions = first;
  // One line is at most 12 + 10 * 6 columns and the line end.
  std::array<char, kValueColumn + kValuesPerLine * kValueWidth + 1> line;
  while (true) {
    char* p = putLineStart(line.data(), shown, year);
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
  const std::string series = "series " + std::string(id.substr(0, std::min(id.size(), kIdWidth)));
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
        " value(s) equal to an end marker in thousandths (0.999 or -9.999), written as 0.998 or "
        "missing");
  }
  if (status.idChanged) {
    add("identifier written as \"" + status.idWritten +
        (status.idWritten.size() < kIdWidth
             ? "\": the sign of years before -999 takes its eighth column"
             : "\": a \"-\" before a four-digit year would read as the year's sign"));
  }
  if (status.ioError) add("write error");
  if (text.empty()) return text;
  return "trrw: " + series + ": " + text;
}

}  // namespace kavrel
