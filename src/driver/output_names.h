// The names of the files a run writes into its output folder, and the check
// that keeps a file the user names (input, pith offsets) from being one of
// them: a run replaces its outputs, so reading one of them as input would
// destroy it.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kavrel {

struct RunOptions;
struct RunRequest;

// The scratch copy of the combined index file; reserved as a result name.
inline constexpr const char* kCombinedScratchFileName = "temp.txt";
// The record of what a run read and wrote, written at the end of every run.
inline constexpr const char* kManifestFileName = "kavrel_manifest.toml";

// The run log, the five raw class files, their age-aligned and index files
// and the combined index file (17 bare names).
const std::vector<std::string>& runOutputNames();

// Every other name kavrel writes under: the optional files (run report,
// chronology), the manifest and the combined file's scratch copy. A new
// output file adds its name to the table in output_names.cpp. They count as
// outputs of every run: an input never takes one of these names.
const std::vector<std::string>& extraOutputNames();

// Both lists: every fixed name of a file kavrel may write.
std::vector<std::string> resultNames();

// The fixed result names a run of `request` with `options` writes (options
// as answered: the index mode decides the index files); the files it names
// itself (pages, recipes) are not among them.
std::vector<std::string> plannedResultNames(const RunOptions& options, const RunRequest& request);

// The files the run writes under names the user gave (pages, recipes):
// the non-empty ones of request's page, chronology page, record and
// save-recipe paths.
std::vector<std::filesystem::path> namedOutputFiles(const RunRequest& request);

// The output name (of either list) `path` stands for when outputs go to
// folder `outputDir`, or the file of namedFiles it stands for (as the same
// path or the same file); nothing when it stands for none. `path` is taken relative to the working
// folder. It stands for an output when its folder is the output folder and
// its name an output name (also after resolving links, so "./medV6_raw" and a
// link to "medV6_raw" count), or when reading it reads the file an existing
// output name holds (a hard link). A link named like an output is replaced
// by the run, not written through, so the file it points to is no output.
std::optional<std::string> runOutputFor(const std::filesystem::path& path,
                                        const std::filesystem::path& outputDir,
                                        std::span<const std::filesystem::path> namedFiles = {});

}  // namespace kavrel
