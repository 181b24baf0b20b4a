// Reader and writer of ring-width files in the decade-line measurement format
// (identifier in columns 1-8, year in 9-12, up to ten 6-column integers in
// 13-72; end marker 999 for hundredths or -9999 for thousandths of a mm), plus
// the header-driven block ("#" in column 80, a header line with a count, a first
// year and a read format, then the values in millimetres) that the reader also
// accepts. Every series the program reads or writes passes through here.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kavrel {

// The layouts a ring-width input may have: decade lines (with header-driven
// blocks), Heidelberg, or a CSV table; automatic tells them apart by content
// (detectInputFormat in series_table.h).
enum class InputFormat { automatic, decade, heidelberg, csv };

// "decade", "heidelberg", "csv" (and "auto" for automatic).
std::string_view inputFormatName(InputFormat format);
// The format of a name as the --format option takes it; nullopt for others.
std::optional<InputFormat> inputFormatNamed(std::string_view name);


// Count and series counter returned by trrwRead at the end of the input.
inline constexpr int32_t kEndOfFile = -999;

// At most this many unparsable (text) lines are skipped within one read call.
inline constexpr int32_t kMaxTextLines = 25;

// Input lines are cut at this many characters.
inline constexpr std::size_t kLineWidth = 80;

// Values the reader stores for one series. A longer series (a damaged file, a
// header-driven block announcing an absurd count) is counted to its end, but
// only its first kMaxSeriesValues values are kept, so that no input can make
// the reader hold more than this in memory. Well above the 2000 ring
// positions of the series store.
inline constexpr int32_t kMaxSeriesValues = 100000;

// Warnings kept for one read call; further ones are only counted.
inline constexpr std::size_t kMaxWarningsPerRead = 1000;

// What happened during the last trrwRead call, for callers that want to tell
// the user about repaired input. The reader itself never prints these.
struct RwReadInfo {
  int32_t firstLine = 0;           // 1-based line number where the series began
  int32_t lastLine = 0;            // line number of its last line (end marker)
  int32_t textLines = 0;           // unparsable lines skipped before/inside it
  int32_t blankLines = 0;          // all-blank lines skipped
  int32_t negativesAsMissing = 0;  // negative values stored as the missing marker
  bool headerBlock = false;        // the series came from a header-driven block
  bool noEndMarker = false;        // delivered without its end marker (see trrwRead)
  bool tooLong = false;            // more than kMaxSeriesValues values: only those kept
  int32_t warningsNotKept = 0;     // warnings beyond kMaxWarningsPerRead, counted only
  std::string fullName;            // a Heidelberg or CSV series' name as in the file (the
                                   // identifier is then its decade form); empty otherwise
};

// One thing the reader repaired or left out, in the manner of htslib's
// diagnostics: what is wrong, in which series, on which line.
struct RwWarning {
  enum class Kind {
    TextLine,       // a line that is not a decade line, met after the first series
    NoEndMarker,    // a series ended without its end marker (another identifier, a year
                    // going back, a header-driven block, the end of the input)
    SeriesLeftOut,  // such a series that could not be delivered
    YearGap,        // a line's year skips years: missing rings fill the gap
    FieldLayout,    // a numeric field whose digits are not right-aligned or have a blank inside
    ExtraValues,    // values after the end of the line's decade, ignored
    BlockValues,    // the values of a header-driven block could not be read
    TooLong,        // more values than kMaxSeriesValues
    ReadError,      // the input reported a read error
    DatesDisagree,  // a table input's dates and length disagree: the end date is kept
    NameShortened   // a name written differently in the decade files (at most 8 characters)
  };
  Kind kind = Kind::TextLine;
  int32_t line = 0;    // 1-based line number; 0 when no line applies
  std::string series;  // identifier without trailing blanks; empty when none applies
  std::string text;    // what is wrong and what the reader did about it
  // "line 12, series ABC: <text>" (the parts that apply).
  std::string message() const;
};

namespace rw {
struct ReaderState;
}

// One open ring-width input, read line by line in chunks of fixed size, so
// that memory stays bounded whatever the size or content of the input. The
// position carries over from one trrwRead call to the next. The end-of-file
// result is final: every later read reports it again.
class RwInput {
 public:
  // Opens a file; nullopt when it cannot be opened or its first bytes cannot
  // be read (a directory, for example). A Heidelberg or CSV file (given as
  // `format`, or found so by content with InputFormat::automatic) is read
  // whole here; bad content in it raises Fatal naming the file, the line and
  // the column.
  static std::optional<RwInput> openFile(const std::string& path,
                                         InputFormat format = InputFormat::decade);
  // Reads from an open stream, which stays owned by the caller and must stay
  // open while this input is read.
  static RwInput fromStream(std::FILE* stream, std::string name = "(stream)");
  // Reads from text held in memory (tests, generated data).
  static RwInput fromText(std::string text, std::string name = "(text)",
                          InputFormat format = InputFormat::decade);

  RwInput(RwInput&&) noexcept;
  RwInput& operator=(RwInput&&) noexcept;
  ~RwInput();

  // Name given at construction (the path for openFile), for diagnostics.
  const std::string& name() const noexcept;
  // The layout being read: decade, heidelberg or csv.
  InputFormat format() const noexcept;
  // Number of the last line taken from the input (1-based, 0 before the first).
  int32_t lineNumber() const noexcept;
  // Details of the most recent read.
  const RwReadInfo& lastRead() const noexcept;
  // Warnings of the most recent read, in line order (at most kMaxWarningsPerRead).
  const std::vector<RwWarning>& warnings() const noexcept;
  // True once the input has reported a read error; reading ended there.
  bool readError() const noexcept;
  // Where the ">> sbr datar" console lines go (standard output by default).
  void setMessageStream(std::FILE* stream) noexcept;

 private:
  explicit RwInput(std::unique_ptr<rw::ReaderState> state);
  friend int32_t trrwRead(RwInput&, std::string&, int32_t&, std::vector<float>&, int32_t&);

  std::unique_ptr<rw::ReaderState> state_;
};

// Mode "mr": reads the next series. Sets id (8 characters, blank padded),
// firstYear and values and returns the number of values; values holds them
// all unless the series is longer than kMaxSeriesValues (lastRead().tooLong),
// when it holds the first kMaxSeriesValues. seriesCounter becomes
// max(seriesCounter, 0) + 1. At the end of the input the result and
// seriesCounter are both kEndOfFile (-999). Negative values other than end
// markers are stored as the missing marker -999.0.
//
// The lines of a series are checked against the series they continue: a
// line of another identifier, a year that goes back, a header-driven block or
// the end of the input ends a series without its end marker. Such a series is
// delivered in the unit of the series read before it when they agree, and
// left out otherwise; a year that skips years puts missing rings in the gap.
// A 999 or -9999 is an end marker only where nothing but blanks or zeros
// follow it on its line, and, for 999, the next line does not continue the
// series. All of this, text lines met after the first series, and numeric
// fields whose digits are not right-aligned are reported in warnings().
// Throws kavrel::Fatal with "sbr trrw:  over 25 text lines" when a call meets
// more than 25 text lines.
int32_t trrwRead(RwInput& in, std::string& id, int32_t& firstYear, std::vector<float>& values,
                 int32_t& seriesCounter);

// Outcome of writing one series. Values that the 6-column thousandths field
// cannot hold are never written as asterisks or wrapped numbers: they are
// written as the missing marker and counted here.
struct RwWriteStatus {
  int32_t linesWritten = 0;
  int32_t valuesAsMissing = 0;  // non-finite or outside -99.9995..999.9995 mm
  int32_t markerClashes = 0;    // would read back as an end marker; see trrwWrite
  bool yearOutOfRange = false;  // a line year outside -9999..9999: nothing written
  bool ioError = false;         // the stream reported a write error
  bool idChanged = false;       // the identifier had to be written differently; see trrwWrite
  std::string idWritten;        // the identifier as written, when idChanged
  // True when every value and the identifier were written as given and the
  // stream took them.
  bool ok() const noexcept {
    return valuesAsMissing == 0 && markerClashes == 0 && !yearOutOfRange && !ioError && !idChanged;
  }
};

// One-line description of a status that is not ok() for the screen or log,
// naming the series; empty when the status is ok().
std::string describeWriteStatus(const RwWriteStatus& status, std::string_view id);

// Mode "mw": writes one series in thousandths of a mm with the end marker
// -9999, lines laid out as "(a8,i4,10i6)". Nothing is written for an empty
// series. The missing marker -999.0 is written as -999. A value whose
// thousandths would be 999 is written as 998 and one that would be -9999 as the
// missing marker, so the series never ends early when read back. Years of
// -1000 and earlier are written in columns 8-12 after the first 7 characters
// of the identifier. An identifier whose eighth character is "-" is written
// with "_" there when a line year has four digits, as "ABCDEFG-1500" would
// read back as identifier ABCDEFG and year -1500. Both changes are reported
// through idChanged, so that no line reads back differently unannounced.
RwWriteStatus trrwWrite(std::FILE* out, std::string_view id, int32_t firstYear,
                        std::span<const float> values);

// The same layout appended to a string (no I/O; ioError stays false).
RwWriteStatus trrwFormat(std::string& out, std::string_view id, int32_t firstYear,
                         std::span<const float> values);

}  // namespace kavrel
