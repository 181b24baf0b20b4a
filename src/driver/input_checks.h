// Checks of a file the run is to read, made before the run writes anything
// that depends on it: the dialogue asks again with the reason, and a file
// that yields no series ends the run before any result file is touched.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "rwfile/trrw.h"

namespace kavrel {

// Why the file typed as `name` (opened as `path`) can't be read as an input:
// a control character in the name, no such file, not a regular file, or not
// readable. Nothing when it can be read. Opens the file only when it is a
// regular file, so a device or a pipe never blocks the question.
std::optional<std::string> fileToReadProblem(std::string_view name,
                                             const std::filesystem::path& path);

// Raises Fatal (status 1) naming the input `name` and what was expected when
// not one series can be read from `path`: an empty file, text, binary data.
// Series that screening drops later still count as read.
void requireSomeSeries(const std::string& name, const std::filesystem::path& path,
                       InputFormat format = InputFormat::automatic);

}  // namespace kavrel
