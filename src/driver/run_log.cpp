#include "driver/run_log.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "util/fatal.h"

namespace kavrel {

RunLog::~RunLog() { file_.reset(); }

void RunLog::open(const std::filesystem::path& path) {
  file_.reset();
  file_ = std::make_unique<OutputFile>(path, OutputFile::Placement::AtOnce);
}

void RunLog::put(std::string_view text, bool newline) {
  if (!file_) return;
  try {
    file_->write(text);
    if (newline) file_->write("\n");
    // Line by line, so that the log holds every line written so far even when
    // the run is interrupted while it waits for an answer.
    file_->flush();
  } catch (const Fatal&) {
    file_.reset();
    throw;
  }
}

void RunLog::line(std::string_view text) {
  if (!warningPrefix_.empty() && isWarningLine(text)) {
    put(prefixed(text), true);
    return;
  }
  put(text, true);
}

void RunLog::echo(std::string_view text) {
  const bool warning = isWarningLine(text);
  if (!quiet_ || warning) {
    const std::string shown = warning && !warningPrefix_.empty() ? prefixed(text) : std::string(text);
    std::fwrite(shown.data(), 1, shown.size(), stdout);
    std::fputc('\n', stdout);
  }
  line(text);
}

std::string RunLog::prefixed(std::string_view text) const {
  // A line that starts with a blank keeps one blank after the colon.
  const size_t first = text.find_first_not_of(' ');
  const std::string_view rest = first == std::string_view::npos ? text : text.substr(first);
  return warningPrefix_ + ": " + std::string(rest);
}

void RunLog::raw(std::string_view text) { put(text, false); }

void RunLog::flush() {
  if (!file_) return;
  try {
    file_->flush();
  } catch (const Fatal&) {
    file_.reset();
    throw;
  }
}

void RunLog::close() {
  if (!file_) return;
  std::unique_ptr<OutputFile> file = std::move(file_);
  file->commit();
}

bool isWarningLine(std::string_view text) {
  static constexpr std::string_view kWord = "warning";
  const auto sameLetter = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == b;
  };
  if (std::search(text.begin(), text.end(), kWord.begin(), kWord.end(), sameLetter) != text.end())
    return true;
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return false;
  const std::string_view start = text.substr(first);
  return start.starts_with(">> sbr") || start.starts_with("trrw:");
}

}  // namespace kavrel
