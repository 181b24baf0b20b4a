// Housekeeping of the output folder at the start of a run, done while the
// run holds the folder's lock and is therefore the only kavrel there:
// scratch files that a killed run left are removed, and result files of an
// earlier run that this run will not replace are named, so that a reused
// folder never mixes runs unnoticed.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kavrel {

struct RunContext;
struct RunRequest;

// Whether `entry` is a scratch file of one of `names`: the name, a dot, six
// letters or digits, then ".part" ("medV6_raw.a8Zq3k.part").
bool isScratchOf(const std::string& entry, const std::vector<std::string>& names);

// Removes every scratch file of `names` in `folder` (links and files, never a
// folder) and returns how many went; others are left alone.
int removeScratchFiles(const std::filesystem::path& folder, const std::vector<std::string>& names);

// Removes the scratch files of every result name and of the files the run
// names itself in its folder, with one line on the screen and in the log
// giving their number (none when there were none).
void removeStaleScratchFiles(RunContext& ctx);

// Names in one warning line (screen and log) the result files in the output
// folder that this run will not write; they are kept.
void warnOfOtherResults(RunContext& ctx, const RunRequest& request);

}  // namespace kavrel
