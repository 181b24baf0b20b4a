// Run recipes: a run's settings in a TOML file, one key per setting named
// like its long option (input, pith, pith-format, power, outliers = [lower,
// upper], curve = ["3:-5:7", ...], ...). Input files and the out folder are
// relative to the recipe's folder, so a recipe travels with its data; page
// files are relative to the out folder, like every output file.
#pragma once

#include <filesystem>
#include <string>

#include "cli/given_settings.h"
#include "driver/run_request.h"

namespace kavrel::cli {

// Reads the recipe that `recipe` names (its text is the path as given,
// relative to startFolder; its origin names it in messages). The settings
// come back with origins such as "recipe sites/a.toml, key 'outliers'" and,
// as their folder, the recipe's folder as given. Raises UsageError for a
// recipe that is missing or unreadable, is not valid TOML, holds an unknown
// key or a value of the wrong type.
GivenSettings readRecipe(const Given& recipe, const std::filesystem::path& startFolder);

// The TOML text of a recipe that repeats `request` (as it was run, revisions
// included) when saved as recipeFile (an absolute path): input files and the
// out folder relative to recipeFile's folder, page files relative to the out
// folder. The out folder is written only when it was named; the pith-offset
// file when pithPath is set; quiet only when true. Writes no file.
std::string recipeText(const RunRequest& request, const std::filesystem::path& recipeFile);

}  // namespace kavrel::cli
