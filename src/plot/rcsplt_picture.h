// The regional-curve page saved as a picture file in the scripted mode: the
// page the plot menu draws, with one more line under each panel's title
// giving the class's series count and curve. Defined in rcsplt.cpp beside
// the page drawing it shares.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "plot/picture.h"
#include "plot/rcsplt.h"

namespace kavrel {

// The line under a panel's title, e.g. "n = 24, General Exp." (the curve
// name without surrounding blanks).
std::string regionalCurveNote(int32_t seriesCount, std::string_view curveName);

// Draws the page of the five classes into path with the target's device;
// notes[c - 1] is the line under the title of class c (see
// regionalCurveNote; drawn as plain ASCII). Returns PLplot's messages of
// aborted, non-fatal operations. Throws Fatal when an age-aligned file is
// missing or unreadable (before the file is opened), and as drawPicture does.
std::vector<std::string> drawRegionalCurvePicture(
    const PlotState& state, const PlotInputs& inputs,
    const std::array<std::string, kPlotClassCount>& notes, const std::string& path,
    const PictureTarget& target);

}  // namespace kavrel
