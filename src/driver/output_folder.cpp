#include "driver/output_folder.h"

#include <algorithm>

#include "driver/output_names.h"
#include "driver/run_context.h"
#include "driver/run_request.h"

namespace kavrel {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kScratchSuffix = ".part";
constexpr std::size_t kRandomLength = 6;  // as the file writer makes them

bool isLetterOrDigit(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The output folder as a path to list ("." for the working folder).
fs::path listedFolder(const RunContext& ctx) {
  return ctx.outputDir.empty() ? fs::path(".") : ctx.outputDir;
}

}  // namespace

bool isScratchOf(const std::string& entry, const std::vector<std::string>& names) {
  const std::size_t tail = 1 + kRandomLength + kScratchSuffix.size();
  if (entry.size() <= tail || !entry.ends_with(kScratchSuffix)) return false;
  const std::size_t dot = entry.size() - tail;
  if (entry[dot] != '.') return false;
  const std::string_view random(entry.data() + dot + 1, kRandomLength);
  if (!std::all_of(random.begin(), random.end(), isLetterOrDigit)) return false;
  const std::string_view name(entry.data(), dot);
  return std::find(names.begin(), names.end(), name) != names.end();
}

int removeScratchFiles(const fs::path& folder, const std::vector<std::string>& names) {
  int removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (!isScratchOf(it->path().filename().string(), names)) continue;
    std::error_code typeError;
    if (fs::is_directory(it->symlink_status(typeError))) continue;
    std::error_code removeError;
    if (fs::remove(it->path(), removeError)) ++removed;
  }
  return removed;
}

void removeStaleScratchFiles(RunContext& ctx) {
  std::vector<std::string> names = resultNames();
  const fs::path folder = listedFolder(ctx);
  std::error_code ec;
  const fs::path realFolder = fs::weakly_canonical(fs::absolute(folder, ec), ec);
  for (const fs::path& named : ctx.namedOutputs) {
    std::error_code ec2;
    if (!ec && fs::weakly_canonical(named.parent_path(), ec2) == realFolder && !ec2) {
      names.push_back(named.filename().string());
    }
  }
  const int removed = removeScratchFiles(folder, names);
  if (removed == 0) return;
  ctx.log.echo(" Removed " + std::to_string(removed) + " scratch file" + (removed == 1 ? "" : "s") +
               " left by an interrupted run of kavrel.");
}

void warnOfOtherResults(RunContext& ctx, const RunRequest& request) {
  const std::vector<std::string> planned = plannedResultNames(ctx.options, request);
  const fs::path folder = listedFolder(ctx);
  std::string list;
  for (const std::string& name : resultNames()) {
    if (std::find(planned.begin(), planned.end(), name) != planned.end()) continue;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(folder / name, ec))) continue;
    if (!list.empty()) list += ", ";
    list += name;
  }
  if (list.empty()) return;
  ctx.log.echo(" Warning: result files this run does not write stay in the folder: " + list);
}

}  // namespace kavrel
