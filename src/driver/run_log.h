// The run log "Kavrelv6_log.txt": the answers of the dialogue and the result
// lines of the run (skip messages, warnings, tables, fit lines), kept open for
// the whole run. A run that ends early closes the log, so that it holds
// everything written so far.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace kavrel {

inline constexpr const char* kRunLogFileName = "Kavrelv6_log.txt";

class RunLog {
 public:
  RunLog() = default;
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;
  ~RunLog();

  // Creates or overwrites the log file; throws Fatal when it can't be created.
  void open(const std::string& path = kRunLogFileName);
  bool isOpen() const { return file_ != nullptr; }

  // Writes one line (the text plus a newline) to the log only. Does nothing
  // when the log is closed.
  void line(std::string_view text);
  // Writes one line to the screen (standard output) and the same line to the log.
  void echo(std::string_view text);
  // Writes text to the log without a newline (for fixed layouts that hold
  // their own line breaks).
  void raw(std::string_view text);

  void flush();
  // Closes the log; later writes are ignored. Safe to call more than once.
  void close();

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace kavrel
