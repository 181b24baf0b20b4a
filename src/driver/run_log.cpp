#include "driver/run_log.h"

#include "util/fatal.h"

namespace kavrel {

RunLog::~RunLog() { close(); }

void RunLog::open(const std::string& path) {
  close();
  file_ = std::fopen(path.c_str(), "w");
  if (file_ == nullptr) {
    throw Fatal("Cannot create the run log file: " + path);
  }
  // Line by line, so that the log holds every line written so far even when
  // the run is interrupted while it waits for an answer.
  std::setvbuf(file_, nullptr, _IOLBF, BUFSIZ);
}

void RunLog::line(std::string_view text) {
  if (file_ == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fputc('\n', file_);
}

void RunLog::echo(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  line(text);
}

void RunLog::raw(std::string_view text) {
  if (file_ == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), file_);
}

void RunLog::flush() {
  if (file_ != nullptr) std::fflush(file_);
}

void RunLog::close() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

}  // namespace kavrel
