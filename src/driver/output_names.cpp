#include "driver/output_names.h"

#include <sys/stat.h>

#include <algorithm>

#include "driver/chronology_output.h"
#include "driver/class_pass.h"
#include "driver/report.h"
#include "driver/signal_free_output.h"
#include "driver/run_context.h"
#include "driver/run_log.h"
#include "driver/run_request.h"
#include "driver/wide_tables.h"

namespace kavrel {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> makeOutputNames() {
  std::vector<std::string> names = {kRunLogFileName, kCombinedIndexFileName};
  for (const char* raw : kClassFileNames) {
    const std::string aligned = ageAlignedFileName(raw);
    names.push_back(raw);
    names.push_back(aligned);
    names.push_back(indexFileName(aligned));
  }
  return names;
}

// The folder of p, resolved to its real location; empty when unknown.
fs::path realFolderOf(const fs::path& p) {
  std::error_code ec;
  const fs::path folder = fs::weakly_canonical(fs::absolute(p, ec).parent_path(), ec);
  return ec ? fs::path() : folder;
}

// The single-curve class's raw (0), age-aligned (1) and index (2) file names.
std::string makeSingleName(int part) {
  const std::string aligned = ageAlignedFileName(kSingleClassFileName);
  return part == 0 ? std::string(kSingleClassFileName) : part == 1 ? aligned : indexFileName(aligned);
}

bool isOutputName(const std::string& name) {
  for (const auto* names : {&runOutputNames(), &extraOutputNames()}) {
    if (std::find(names->begin(), names->end(), name) != names->end()) return true;
  }
  return false;
}

// The output name p carries, when it lies in outputFolder.
std::optional<std::string> nameInFolder(const fs::path& p, const fs::path& outputFolder) {
  const std::string name = p.filename().string();
  if (!isOutputName(name)) return std::nullopt;
  if (realFolderOf(p) != outputFolder) return std::nullopt;
  return name;
}

// Whether reading `path` reads the file the run replaces under `output`: the
// output's own directory entry (not what a link there points to, which the
// run's rename leaves alone).
bool readsOutput(const fs::path& path, const fs::path& output) {
  struct stat read {};
  struct stat replaced {};
  return ::stat(path.c_str(), &read) == 0 && ::lstat(output.c_str(), &replaced) == 0 &&
         read.st_dev == replaced.st_dev && read.st_ino == replaced.st_ino;
}

}  // namespace

const std::vector<std::string>& runOutputNames() {
  static const std::vector<std::string> names = makeOutputNames();
  return names;
}

const std::vector<std::string>& extraOutputNames() {
  static const std::vector<std::string> names = {
      kCombinedScratchFileName,  // scratch copy of the combined index file
      kSeriesCsvName,            // --report
      kClassesCsvName,           // --report
      kCurvesCsvName,            // --report
      kWidthsCsvName,            // --report
      kIndicesCsvName,           // --report, indices
      kChronologyCsvName,        // --chronology
      kSignalCsvName,            // --chronology
      kCrnFileName,              // --chronology, ratio indices
      kManifestFileName,         // every run
      kSignalFreeCsvName,        // --signal-free --chronology
      makeSingleName(0),         // --single-curve: the one class's raw,
      makeSingleName(1),         // age-aligned
      makeSingleName(2),         // and index files
  };
  return names;
}

std::vector<std::string> resultNames() {
  std::vector<std::string> names = runOutputNames();
  names.insert(names.end(), extraOutputNames().begin(), extraOutputNames().end());
  return names;
}

std::vector<std::string> plannedResultNames(const RunOptions& options, const RunRequest& request) {
  const bool indices = options.indexMode == 1 || options.indexMode == 2;
  std::vector<std::string> names = {kRunLogFileName, kManifestFileName};
  if (indices) names.push_back(kCombinedIndexFileName);
  const std::vector<std::string> raws =
      request.singleCurve ? std::vector<std::string>{kSingleClassFileName}
                          : std::vector<std::string>(kClassFileNames.begin(), kClassFileNames.end());
  for (const std::string& raw : raws) {
    const std::string aligned = ageAlignedFileName(raw);
    names.push_back(raw);
    names.push_back(aligned);
    if (indices) names.push_back(indexFileName(aligned));
  }
  if (request.report) {
    names.insert(names.end(), {kSeriesCsvName, kClassesCsvName, kCurvesCsvName, kWidthsCsvName});
    if (indices) names.push_back(kIndicesCsvName);
  }
  if (request.chronology && indices) {
    names.insert(names.end(), {kChronologyCsvName, kSignalCsvName});
    if (options.indexMode == 1) names.push_back(kCrnFileName);
    if (request.signalFree) names.push_back(kSignalFreeCsvName);
  }
  return names;
}

std::vector<fs::path> namedOutputFiles(const RunRequest& request) {
  std::vector<fs::path> files;
  for (const fs::path* p : {&request.pagePath, &request.chronologyPagePath, &request.recordPath,
                            &request.saveRecipePath}) {
    if (!p->empty()) files.push_back(*p);
  }
  return files;
}

std::optional<std::string> runOutputFor(const fs::path& path, const fs::path& outputDir,
                                        std::span<const fs::path> namedFiles) {
  if (path.empty()) return std::nullopt;
  for (const fs::path& named : namedFiles) {
    std::error_code e1, e2, e3;
    const fs::path a = fs::weakly_canonical(fs::absolute(path, e1), e1);
    const fs::path b = fs::weakly_canonical(fs::absolute(named, e2), e2);
    if ((!e1 && !e2 && a == b) || (fs::equivalent(path, named, e3) && !e3)) return named.string();
  }
  std::error_code ec;
  const fs::path outputFolder =
      fs::weakly_canonical(fs::absolute(outputDir.empty() ? fs::path(".") : outputDir), ec);
  if (ec) return std::nullopt;
  if (auto name = nameInFolder(path, outputFolder)) return name;
  // Through links: where the path finally leads.
  const fs::path resolved = fs::weakly_canonical(fs::absolute(path), ec);
  if (!ec) {
    if (auto name = nameInFolder(resolved, outputFolder)) return name;
  }
  for (const auto* names : {&runOutputNames(), &extraOutputNames()}) {
    for (const std::string& name : *names) {
      if (readsOutput(path, outputDir / name)) return name;
    }
  }
  return std::nullopt;
}

}  // namespace kavrel
