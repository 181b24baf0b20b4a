// The names of the files a run writes into its output folder, and the check
// that keeps a file the user names (input, pith offsets) from being one of
// them: a run replaces its outputs, so reading one of them as input would
// destroy it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kavrel {

// The run log, the five raw class files, their age-aligned and index files
// and the combined index file (17 bare names).
const std::vector<std::string>& runOutputNames();

// The run report's and the chronology's files, written when asked for (eight
// bare names). They count as outputs of every run: an input never takes one
// of these names.
const std::vector<std::string>& extraOutputNames();

// The output name (of either list) `path` stands for when outputs go to
// folder `outputDir`;
// nothing when it stands for none. `path` is taken relative to the working
// folder. It stands for an output when its folder is the output folder and
// its name an output name (also after resolving links, so "./medV6_raw" and a
// link to "medV6_raw" count), or when reading it reads the file an existing
// output name holds (a hard link). A link named like an output is replaced
// by the run, not written through, so the file it points to is no output.
std::optional<std::string> runOutputFor(const std::filesystem::path& path,
                                        const std::filesystem::path& outputDir);

}  // namespace kavrel
