// The regional-curve page saved as a picture file by a run without questions:
// the page the plot menu shows after the run's last pass, with each class's
// series count and curve under its title. No window is opened.
#pragma once

#include <filesystem>

#include "plot/picture.h"

namespace kavrel {

struct RunContext;
class ScratchPath;

// Renames the picture drawn into `scratch` over `path` once it is complete
// (see incompletePicture). Raises Fatal naming the file and the reason when
// it is cut short or can't be renamed; the scratch file is removed then.
void commitPicture(ScratchPath& scratch, const std::filesystem::path& path, PictureFormat format);

// Draws the page of the run's latest passes into a scratch file beside
// `path` and renames it into place; the format follows the extension (.ps,
// .pdf, .png, .svg), pngSize sizes a PNG. PLplot's messages of aborted
// operations are shown on the screen. Raises Fatal naming the file when the
// name has another extension, when the file can't be written, and when an
// age-aligned file can't be read or PLplot fails.
void saveRegionalCurvePage(RunContext& ctx, const std::filesystem::path& path, PageSize pngSize);

}  // namespace kavrel
