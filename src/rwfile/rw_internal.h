// Parts of the ring-width reader shared by its source files and never used
// outside src/rwfile: the line source that streams an input in fixed-size
// chunks, the state an RwInput keeps between read calls, and the
// header-driven block reader.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rwfile/series_table.h"
#include "rwfile/trrw.h"

namespace kavrel::rw {

// One input line: the first 80 columns, padded with blanks.
using Line = std::array<char, kLineWidth>;

// Decade-line layout: identifier columns 1-8, year 9-12, ten values of six
// columns each in 13-72. Columns 73-80 are never read.
inline constexpr std::size_t kIdWidth = 8;
inline constexpr std::size_t kYearColumn = 8;  // 0-based start of columns 9-12
inline constexpr std::size_t kYearWidth = 4;
inline constexpr std::size_t kValueColumn = 12;
inline constexpr std::size_t kValueWidth = 6;
inline constexpr int32_t kValuesPerLine = 10;

// End markers: 999 closes a series in hundredths, -9999 one in thousandths.
inline constexpr int32_t kHundredthsMarker = 999;
inline constexpr int32_t kThousandthsMarker = -9999;

// Number of values on a line that starts in `year`: up to the end of its
// decade. The remainder takes the sign of the year, so year -5 gives 5 values
// (-5..-1) and the next line starts at year 0.
inline int32_t valuesOnFirstLine(int32_t year) {
  const int32_t r = year % kValuesPerLine;
  if (year >= 0) return kValuesPerLine - r;
  return r == 0 ? kValuesPerLine : -r;
}

// Bit of DecadeLine::irregular for the year field; bits 0-9 are the values.
inline constexpr uint32_t kYearBit = 1u << kValuesPerLine;

// One parsed decade line.
struct DecadeLine {
  std::array<char, kIdWidth> id{};
  bool longYear = false;  // a year of -1000 or earlier, its sign in column 8
  int32_t year = 0;
  std::array<int32_t, kValuesPerLine> values{};
  uint32_t blank = 0;      // bit k: value field k is all blank
  uint32_t irregular = 0;  // bit k: value field k, kYearBit: the year field; see parseDecadeLine
  bool yearIntoId = false;    // a digit of the identifier's column 8 may belong to the year
  bool afterValues = false;   // digits in columns 73-80, which are never read
};

// Parses a decade line; false makes it a text line (a field that is not a
// number, or nothing in columns 9-72). Numeric fields are read by their
// columns with blanks ignored and an all-blank field read as 0; a field is
// irregular when a blank follows its first character, that is, when its
// digits are not right-aligned or have a blank between them. A "-" in column
// 8 directly before four digits is the sign of a year of -1000 or earlier.
bool parseDecadeLine(const Line& line, DecadeLine& out);

// Columns 1-8 of two lines name the same series. A line with a five-column
// year keeps only seven identifier columns, so then seven are compared.
bool sameIdentifier(const std::array<char, kIdWidth>& a, bool aLong, const char* b, bool bLong);

// True for a line of blanks and tabs only.
inline bool isBlankLine(const Line& line) {
  for (char c : line) {
    if (c != ' ' && c != '\t') return false;
  }
  return true;
}

// An identifier without its trailing blanks, for messages.
std::string trimmedId(std::string_view id);

// Hands out the lines of an input one at a time, cut at 80 columns and padded
// with blanks; the rest of an over-long line is skipped, never stored. LF,
// CRLF and a lone CR all end a line. A file or stream is read in chunks of
// kChunkSize bytes; text given in memory is read in place. One line of
// look-ahead: pushBack() makes next() hand out the last line again.
class LineSource {
 public:
  static constexpr std::size_t kChunkSize = std::size_t{1} << 16;

  explicit LineSource(std::string text);
  LineSource(std::FILE* stream, bool ownsStream);
  ~LineSource();
  LineSource(const LineSource&) = delete;
  LineSource& operator=(const LineSource&) = delete;

  // The next line, valid until the next call; nullptr at the end of the input
  // or after a read error.
  const Line* next();
  void pushBack();
  int32_t lineNumber() const noexcept { return lineNumber_; }
  bool failed() const noexcept { return failed_; }

 private:
  // Reads the next chunk of a stream; false at its end or on a read error.
  bool refill();
  void skipByteOrderMark();
  const char* nextOf(char c, const char*& cache);

  std::FILE* stream_ = nullptr;
  bool ownsStream_ = false;
  std::string buffer_;  // the whole text, or the current chunk of a stream
  const char* pos_ = nullptr;
  const char* end_ = nullptr;
  const char* nextLineFeed_ = nullptr;  // next LF at or after pos_ when not before it
  const char* nextReturn_ = nullptr;    // the same for CR
  Line line_{};
  bool skipLineFeed_ = false;  // the last line ended in CR; an LF right after is part of it
  bool pushedBack_ = false;
  bool failed_ = false;
  int32_t lineNumber_ = 0;
};

// Everything an RwInput keeps from one read call to the next.
struct ReaderState {
  ReaderState(std::string text, std::string inputName);
  ReaderState(std::FILE* stream, bool ownsStream, std::string inputName);

  LineSource source;
  std::string name;
  bool atEnd = false;             // the end-of-file result has been given
  bool seriesBegun = false;       // a series has been met; text lines are reported from then on
  int32_t hundredthsSeries = 0;   // series closed by 999 so far
  int32_t thousandthsSeries = 0;  // series closed by -9999 so far
  RwReadInfo info;
  std::vector<RwWarning> warnings;
  std::FILE* messages = stdout;
  // A Heidelberg or CSV input, read whole when opened; its series are handed
  // out one per read call.
  std::optional<SeriesTable> table;
  InputFormat format = InputFormat::decade;
  std::size_t nextSeries = 0;
  std::size_t nextWarning = 0;

  // Starts the record of a new read call.
  void beginCall();
  // Adds a warning of the current call, or counts it beyond the limit.
  void warn(RwWarning::Kind kind, int32_t line, std::string_view id, std::string text);
  // Writes one console line to the message stream (">> sbr datar" lines only).
  void message(const char* text);
};

// Reads one header-driven block starting at the current line. `idLine`
// receives the last line before the header that does not begin with "n  ",
// whose first 8 characters are the series identifier. Fills `values` (at most
// kMaxSeriesValues of them) and returns the count the header announces, or
// kEndOfFile when the input ends before a header.
int32_t datar(ReaderState& state, Line& idLine, std::vector<float>& values, int32_t& firstYear);

}  // namespace kavrel::rw
