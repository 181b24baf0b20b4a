#include "driver/combined_index.h"

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
void copyKeptLines(std::FILE* in, OutputFile& out, const LinePlan& plan,
                   const RemovalHooks& hooks) {
  std::string line;
  int32_t lineNumber = 0;
  int32_t seriesWritten = 0;
  std::size_t nextKept = 0;
  bool lineOpen = false;  // the last line written has no line end
  auto write = [&](const std::string& text) { out.write(text); };
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

}  // namespace

CombinedIndexRewrite::CombinedIndexRewrite(const std::string& classIndexFile,
                                           const std::string& combinedFile, RemovalHooks hooks)
    : hooks_(std::move(hooks)) {
  const std::vector<IndexSeries> classSeries = readClassIndexFile(classIndexFile);
  const LinePlan plan = planRemoval(combinedFile, classSeries);

  FilePtr in(std::fopen(combinedFile.c_str(), "rb"));
  if (!in) {
    throw Fatal("Cannot open the combined index file " + combinedFile +
                " for reading: " + std::strerror(errno));
  }
  scratch_.emplace(combinedFile);
  // Any failure from here on destroys scratch_, which removes the scratch file.
  copyKeptLines(in.get(), *scratch_, plan, hooks_);
  result_.classSeries = static_cast<int32_t>(classSeries.size());
  result_.removed = plan.removed;
  result_.kept = plan.kept;
}

CombinedIndexRewrite::~CombinedIndexRewrite() = default;

void CombinedIndexRewrite::commit() {
  if (committed_ || !scratch_) return;
  // The scratch file must be on disk before it replaces the combined file.
  scratch_->finish();
  if (hooks_.beforeRename) hooks_.beforeRename();
  // rename replaces the combined file in one step: a reader sees the old or
  // the new file, never a missing or partial one.
  scratch_->commit();
  committed_ = true;
}

RemovalResult removeClassSeries(const std::string& classIndexFile, const std::string& combinedFile,
                                const RemovalHooks& hooks) {
  CombinedIndexRewrite rewrite(classIndexFile, combinedFile, hooks);
  rewrite.commit();
  return rewrite.result();
}

}  // namespace kavrel
