// The run log "Kavrelv6_log.txt": the answers of the dialogue and the result
// lines of the run (skip messages, warnings, tables, fit lines), kept open for
// the whole run. Every line reaches the file when it is written, so a run that
// ends early, even killed, leaves a log of everything written so far.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <string_view>

#include "util/outfile.h"

namespace kavrel {

inline constexpr const char* kRunLogFileName = "Kavrelv6_log.txt";

class RunLog {
 public:
  RunLog() = default;
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;
  ~RunLog();

  // Creates the log file fresh, replacing any file of that name (a link
  // itself, never its target); throws Fatal when it can't be created.
  void open(const std::filesystem::path& path = kRunLogFileName);
  bool isOpen() const { return file_ != nullptr; }

  // Writes one line (the text plus a newline) to the log only. Does nothing
  // when the log is closed. A write that fails raises Fatal naming the log and
  // the reason; the log is closed then, so later lines go to the screen only.
  void line(std::string_view text);
  // Writes one line to the screen (standard output) and the same line to the
  // log. When quiet, only a warning line (isWarningLine) reaches the screen.
  void echo(std::string_view text);
  // Quiet: the screen shows only warnings; the log receives every line as before.
  void setQuiet(bool quiet) { quiet_ = quiet; }
  bool quiet() const { return quiet_; }
  // Text put before every warning line (isWarningLine) on the screen and in
  // the log, followed by ": " (e.g. "site.rwl: "), so that lines from runs over many files can be
  // told apart; empty for none.
  void setWarningPrefix(std::string prefix) { warningPrefix_ = std::move(prefix); }
  // Writes text to the log without a newline (for fixed layouts that hold
  // their own line breaks).
  void raw(std::string_view text);

  void flush();
  // Closes the log; later writes are ignored. Raises Fatal when the last data
  // can't be written. Safe to call more than once.
  void close();

 private:
  void put(std::string_view text, bool newline);
  std::string prefixed(std::string_view text) const;

  std::unique_ptr<OutputFile> file_;
  bool quiet_ = false;
  std::string warningPrefix_;
};

// Whether a result line is a warning, which a quiet run still shows: it says
// "warning" (any case), or it is a numerical routine's trouble line (">> sbr")
// or the file writer's note on a value it could not write ("trrw:").
bool isWarningLine(std::string_view text);

}  // namespace kavrel
