// Turns the settings as given into a checked RunRequest: every value parsed,
// every rule between settings applied, every file to read present and every
// folder to write usable, before anything is written.
#pragma once

#include <filesystem>
#include <optional>

#include "cli/given_settings.h"
#include "driver/run_request.h"

namespace kavrel::cli {

// Longest site code. (The limits of a saved page's sides are the plotting
// module's kMinPageSide and kMaxPageSide.)
inline constexpr std::size_t kMaxSiteLength = 6;

// Builds the request of the dialogue (interactive) or of a run without
// questions from `given`. Relative paths are taken from startFolder (an
// absolute path: where kavrel was started) or, for a recipe's input paths and
// out folder, from the recipe's folder; page files from the out folder.
// Raises UsageError naming the first setting found wrong. Reads no file
// beyond opening the input files, writes nothing and creates no folder.
RunRequest checkedRequest(const GivenSettings& given, bool interactive,
                          const std::filesystem::path& startFolder);

// The picture format an output file's extension selects (.ps, .pdf, .png,
// .svg, any case); nothing for any other name.
std::optional<PictureFormat> pictureFormatOf(const std::filesystem::path& file);

}  // namespace kavrel::cli
