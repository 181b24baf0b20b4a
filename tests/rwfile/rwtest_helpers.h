// Small helpers shared by the ring-width reader and writer tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "rwfile/trrw.h"
#include "support/testdata.h"

namespace kavrel::test {

// One series as the reader delivered it.
struct ReadSeries {
  std::string id;
  int32_t firstYear = 0;
  std::vector<float> values;
};

// Reads every series until the end-of-file result.
inline std::vector<ReadSeries> readAllSeries(RwInput& in) {
  std::vector<ReadSeries> all;
  int32_t counter = 0;
  while (true) {
    ReadSeries s;
    const int32_t n = trrwRead(in, s.id, s.firstYear, s.values, counter);
    if (n == kEndOfFile) break;
    all.push_back(std::move(s));
  }
  return all;
}

inline std::vector<ReadSeries> readAllSeries(const std::string& text) {
  RwInput in = RwInput::fromText(text);
  in.setMessageStream(nullptr);
  return readAllSeries(in);
}

// Every series of a text and every warning of the reader, as messages.
struct ReadOutcome {
  std::vector<ReadSeries> series;
  std::vector<std::string> warnings;
};

inline ReadOutcome readWithWarnings(RwInput& in) {
  ReadOutcome out;
  int32_t counter = 0;
  while (true) {
    ReadSeries s;
    const int32_t n = trrwRead(in, s.id, s.firstYear, s.values, counter);
    for (const RwWarning& w : in.warnings()) out.warnings.push_back(w.message());
    if (n == kEndOfFile) break;
    out.series.push_back(std::move(s));
  }
  return out;
}

inline ReadOutcome readWithWarnings(const std::string& text) {
  RwInput in = RwInput::fromText(text);
  in.setMessageStream(nullptr);
  return readWithWarnings(in);
}

// Every series of a decade-format file.
inline std::vector<ReadSeries> readSeriesFile(const std::filesystem::path& path) {
  return readAllSeries(readTextFile(path));
}

// A decade line laid out by hand: identifier in columns 1-8, year in 9-12,
// then each value right-aligned in six columns.
inline std::string decadeLine(const std::string& id, int32_t year, const std::vector<int32_t>& values) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%-8.8s%4d", id.c_str(), static_cast<int>(year));
  std::string line = buf;
  for (int32_t v : values) {
    std::snprintf(buf, sizeof buf, "%6d", static_cast<int>(v));
    line += buf;
  }
  return line + "\n";
}

// Everything written to a stdio stream, via a temporary file.
class CapturedStream {
 public:
  CapturedStream() : file_(std::tmpfile()) {}
  ~CapturedStream() {
    if (file_ != nullptr) std::fclose(file_);
  }
  CapturedStream(const CapturedStream&) = delete;
  CapturedStream& operator=(const CapturedStream&) = delete;
  std::FILE* get() const { return file_; }
  std::string text() const {
    std::fflush(file_);
    std::rewind(file_);
    std::string out;
    char buf[4096];
    std::size_t got = 0;
    while ((got = std::fread(buf, 1, sizeof buf, file_)) > 0) out.append(buf, got);
    return out;
  }

 private:
  std::FILE* file_;
};

}  // namespace kavrel::test
