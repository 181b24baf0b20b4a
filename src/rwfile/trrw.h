// Reader and writer of ring-width files in the decade-line measurement format
// (identifier in columns 1-8, year in 9-12, up to ten 6-column integers in
// 13-72; end marker 999 for hundredths or -9999 for thousandths of a mm), plus
// the header-driven block ("#" in column 80, a header line with a count, a first
// year and a read format, then the values in millimetres) that the reader also
// accepts. Every series the program reads or writes passes through here.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kavrel {

// Count and series counter returned by trrwRead at the end of the input.
inline constexpr int32_t kEndOfFile = -999;

// At most this many unparsable (text) lines are skipped within one read call.
inline constexpr int32_t kMaxTextLines = 25;

// Input lines are cut at this many characters.
inline constexpr std::size_t kLineWidth = 80;

// Largest number of values a header-driven block may announce; a header with
// a negative count or more than this is treated as a damaged block.
inline constexpr int32_t kMaxBlockValues = 1000000;

// What happened during the last trrwRead call, for callers that want to tell
// the user about repaired input. The reader itself never prints these.
struct RwReadInfo {
  int32_t firstLine = 0;           // 1-based line number where the series began
  int32_t lastLine = 0;            // line number of its last line (end marker)
  int32_t textLines = 0;           // unparsable lines skipped before/inside it
  int32_t blankLines = 0;          // all-blank lines skipped
  int32_t negativesAsMissing = 0;  // negative values stored as the missing marker
  bool headerBlock = false;        // the series came from a header-driven block
};

// One open ring-width input. The whole file is held in memory, so reading is
// fast and the position carries over from one trrwRead call to the next. The
// end-of-file result is final: every later read reports it again.
class RwInput {
 public:
  // Opens and reads a file; nullopt when it cannot be opened or read.
  static std::optional<RwInput> openFile(const std::string& path);
  // Takes the rest of an open stream (which stays open and owned by the caller).
  static RwInput fromStream(std::FILE* stream, std::string name = "(stream)");
  // Reads from text held in memory (tests, generated data).
  static RwInput fromText(std::string text, std::string name = "(text)");

  // Name given at construction (the path for openFile), for diagnostics.
  const std::string& name() const noexcept { return name_; }
  // Number of the last line taken from the input (1-based, 0 before the first).
  int32_t lineNumber() const noexcept { return lineNumber_; }
  // Details of the most recent read.
  const RwReadInfo& lastRead() const noexcept { return info_; }
  // Where the ">> sbr datar" console lines go (standard output by default).
  void setMessageStream(std::FILE* stream) noexcept { messages_ = stream; }

 private:
  RwInput(std::string text, std::string name);
  friend int32_t trrwRead(RwInput&, std::string&, int32_t&, std::vector<float>&, int32_t&);
  friend struct RwLineSource;

  std::string text_;
  std::string name_;
  std::size_t pos_ = 0;       // offset of the next unread line
  std::size_t prevPos_ = 0;   // offset of the last line taken, for stepping back
  int32_t lineNumber_ = 0;
  bool atEnd_ = false;        // end of file has been reported
  RwReadInfo info_;
  std::FILE* messages_ = stdout;
};

// Mode "mr": reads the next series. Sets id (8 characters, blank padded),
// firstYear and values (sized to the number read) and returns that number.
// seriesCounter becomes max(seriesCounter, 0) + 1. At the end of the input the
// result and seriesCounter are both kEndOfFile (-999); a last series without
// its end marker is not delivered. Negative values other than end markers are
// stored as the missing marker -999.0. Throws kavrel::Fatal with
// "sbr trrw:  over 25 text lines" when a call meets more than 25 text lines.
int32_t trrwRead(RwInput& in, std::string& id, int32_t& firstYear, std::vector<float>& values,
                 int32_t& seriesCounter);

// Outcome of writing one series. Values that the 6-column thousandths field
// cannot hold are never written as asterisks or wrapped numbers: they are
// written as the missing marker and counted here.
struct RwWriteStatus {
  int32_t linesWritten = 0;
  int32_t valuesAsMissing = 0;     // non-finite or outside -99.9995..999.9995 mm
  int32_t markerClashes = 0;       // would read back as an end marker; see trrwWrite
  bool yearOutOfRange = false;     // a line year outside -9999..9999: nothing written
  bool ioError = false;            // the stream reported a write error
  // True when every value was written as given and the stream took it.
  bool ok() const noexcept {
    return valuesAsMissing == 0 && markerClashes == 0 && !yearOutOfRange && !ioError;
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
// -1000 and earlier are written in columns 8-12 after a 7-character identifier.
RwWriteStatus trrwWrite(std::FILE* out, std::string_view id, int32_t firstYear,
                        std::span<const float> values);

// The same layout appended to a string (no I/O; ioError stays false).
RwWriteStatus trrwFormat(std::string& out, std::string_view id, int32_t firstYear,
                         std::span<const float> values);

}  // namespace kavrel
