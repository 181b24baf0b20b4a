#include "driver/combined_index.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "rwfile/trrw.h"
#include "util/cfile.h"
#include "util/fatal.h"

namespace kavrel {

namespace {

// One series as the ring-width reader delivers it.
struct IndexSeries {
  std::string id;
  int32_t firstYear = 0;
  std::vector<float> values;
};

// Identifier, first year and length: the key under which equal series are found.
using SeriesKey = std::tuple<std::string, int32_t, std::size_t>;

std::vector<IndexSeries> readClassIndexFile(const std::string& path) {
  std::optional<RwInput> input = RwInput::openFile(path);
  if (!input) {
    throw Fatal("Cannot open the class index file " + path +
                " for reading: " + std::strerror(errno));
  }
  std::vector<IndexSeries> series;
  int32_t counter = 0;
  for (;;) {
    IndexSeries s;
    if (trrwRead(*input, s.id, s.firstYear, s.values, counter) == kEndOfFile) break;
    series.push_back(std::move(s));
  }
  return series;
}

// Lines (1-based) of the combined file that belong to a removed series, and
// the last line of each kept series.
struct LinePlan {
  std::vector<bool> dropped;           // index = line number
  std::vector<int32_t> keptLastLines;  // ascending
  int32_t removed = 0;
  int32_t kept = 0;
};

LinePlan planRemoval(const std::string& combinedFile, const std::vector<IndexSeries>& classSeries) {
  // Class series not yet matched, by key, in class-file order.
  std::map<SeriesKey, std::vector<std::size_t>> pending;
  for (std::size_t i = 0; i < classSeries.size(); ++i) {
    const IndexSeries& s = classSeries[i];
    pending[{s.id, s.firstYear, s.values.size()}].push_back(i);
  }

  std::optional<RwInput> input = RwInput::openFile(combinedFile);
  if (!input) {
    throw Fatal("Cannot open the combined index file " + combinedFile +
                " for reading: " + std::strerror(errno));
  }
  LinePlan plan;
  std::string id;
  int32_t firstYear = 0;
  std::vector<float> values;
  int32_t counter = 0;
  while (trrwRead(*input, id, firstYear, values, counter) != kEndOfFile) {
    const RwReadInfo& info = input->lastRead();
    bool matched = false;
    auto found = pending.find({id, firstYear, values.size()});
    if (found != pending.end()) {
      std::vector<std::size_t>& candidates = found->second;
      for (auto it = candidates.begin(); it != candidates.end(); ++it) {
        // Both copies were read by the same reader from text written by the
        // same writer, so equal series compare equal value by value.
        if (classSeries[*it].values == values) {
          candidates.erase(it);
          matched = true;
          break;
        }
      }
    }
    if (matched) {
      if (plan.dropped.size() <= static_cast<std::size_t>(info.lastLine)) {
        plan.dropped.resize(static_cast<std::size_t>(info.lastLine) + 1, false);
      }
      for (int32_t line = info.firstLine; line <= info.lastLine; ++line) {
        plan.dropped[static_cast<std::size_t>(line)] = true;
      }
      ++plan.removed;
    } else {
      plan.keptLastLines.push_back(info.lastLine);
      ++plan.kept;
    }
  }
  return plan;
}

// Copies the lines of `in` that the plan keeps to `out`, byte for byte. A line
// ends at LF, CRLF or a lone CR, as the ring-width reader counts them.
void copyKeptLines(std::FILE* in, std::FILE* out, const LinePlan& plan, const RemovalHooks& hooks,
                   const std::string& scratchFile) {
  std::string line;
  int32_t lineNumber = 0;
  int32_t seriesWritten = 0;
  std::size_t nextKept = 0;
  bool lineOpen = false;  // the last line written has no line end
  auto write = [&](const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), out) != text.size()) {
      throw Fatal("Cannot write the scratch file " + scratchFile + ": " + std::strerror(errno));
    }
  };
  auto emit = [&]() {
    ++lineNumber;
    const auto n = static_cast<std::size_t>(lineNumber);
    const bool drop = n < plan.dropped.size() && plan.dropped[n];
    if (!drop) {
      write(line);
      lineOpen = line.back() != '\n' && line.back() != '\r';
    }
    line.clear();
    while (nextKept < plan.keptLastLines.size() && plan.keptLastLines[nextKept] <= lineNumber) {
      ++nextKept;
      ++seriesWritten;
      if (hooks.afterSeriesWritten) hooks.afterSeriesWritten(seriesWritten);
    }
  };
  for (int c = std::getc(in); c != EOF; c = std::getc(in)) {
    line.push_back(static_cast<char>(c));
    if (c == '\n') {
      emit();
    } else if (c == '\r') {
      const int next = std::getc(in);
      if (next == '\n') {
        line.push_back('\n');
      } else if (next != EOF) {
        std::ungetc(next, in);
      }
      emit();
    }
  }
  if (!line.empty()) emit();
  if (std::ferror(in))
    throw Fatal("Cannot read the combined index file: " + std::string(std::strerror(errno)));
  // The class's new series follow: a last kept line without a line end gets
  // one, so that the first of them doesn't run on into it.
  if (lineOpen) write("\n");
}

// Directory part of a path, for syncing the rename; "." for a bare name.
std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Makes a completed rename durable; failures here leave a whole file either
// way, so they are not reported.
void syncDirectory(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

CombinedIndexRewrite::CombinedIndexRewrite(const std::string& classIndexFile,
                                           const std::string& combinedFile,
                                           const std::string& scratchFile, RemovalHooks hooks)
    : combinedFile_(combinedFile), scratchFile_(scratchFile), hooks_(std::move(hooks)) {
  const std::vector<IndexSeries> classSeries = readClassIndexFile(classIndexFile);
  const LinePlan plan = planRemoval(combinedFile, classSeries);

  FilePtr in(std::fopen(combinedFile.c_str(), "rb"));
  if (!in) {
    throw Fatal("Cannot open the combined index file " + combinedFile +
                " for reading: " + std::strerror(errno));
  }
  scratch_ = std::fopen(scratchFile.c_str(), "wb");
  if (scratch_ == nullptr) {
    throw Fatal("Cannot create the scratch file " + scratchFile + ": " + std::strerror(errno));
  }
  try {
    copyKeptLines(in.get(), scratch_, plan, hooks_, scratchFile);
  } catch (...) {
    std::fclose(scratch_);
    scratch_ = nullptr;
    std::remove(scratchFile.c_str());
    throw;
  }
  result_.classSeries = static_cast<int32_t>(classSeries.size());
  result_.removed = plan.removed;
  result_.kept = plan.kept;
}

CombinedIndexRewrite::~CombinedIndexRewrite() {
  if (scratch_ != nullptr) {
    std::fclose(scratch_);
    std::remove(scratchFile_.c_str());
  }
}

void CombinedIndexRewrite::commit() {
  if (scratch_ == nullptr) return;
  std::FILE* f = scratch_;
  scratch_ = nullptr;
  // The scratch file must be on disk before it replaces the combined file.
  const bool written = std::fflush(f) == 0 && std::ferror(f) == 0 && ::fsync(fileno(f)) == 0;
  const int writeErrno = errno;
  if (std::fclose(f) != 0 || !written) {
    std::remove(scratchFile_.c_str());
    throw Fatal("Cannot write the scratch file " + scratchFile_ + ": " +
                std::strerror(written ? errno : writeErrno));
  }
  if (hooks_.beforeRename) hooks_.beforeRename();
  // rename replaces the combined file in one step: a reader sees the old or
  // the new file, never a missing or partial one.
  if (std::rename(scratchFile_.c_str(), combinedFile_.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    std::remove(scratchFile_.c_str());
    throw Fatal("Cannot replace the combined index file " + combinedFile_ + ": " + reason);
  }
  syncDirectory(directoryOf(combinedFile_));
}

RemovalResult removeClassSeries(const std::string& classIndexFile, const std::string& combinedFile,
                                const std::string& scratchFile, const RemovalHooks& hooks) {
  CombinedIndexRewrite rewrite(classIndexFile, combinedFile, scratchFile, hooks);
  rewrite.commit();
  return rewrite.result();
}

}  // namespace kavrel
