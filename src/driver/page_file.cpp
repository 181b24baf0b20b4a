#include "driver/page_file.h"

#include <array>
#include <string>
#include <vector>

#include "driver/rcdrvr.h"
#include "driver/revision.h"
#include "driver/run_context.h"
#include "plot/rcsplt_picture.h"
#include "util/console.h"
#include "util/fatal.h"
#include "util/outfile.h"

namespace kavrel {

void commitPicture(ScratchPath& scratch, const std::filesystem::path& path, PictureFormat format) {
  const std::string problem = incompletePicture(scratch.path().string(), format);
  if (!problem.empty()) {
    throw Fatal("Can't write file " + path.string() + ": " + problem +
                "; the disk may be full. The file is not saved.");
  }
  if (!scratch.commit()) throw Fatal("Can't write file " + path.string() + ": " + scratch.error());
}

void saveRegionalCurvePage(RunContext& ctx, const std::filesystem::path& path, PageSize pngSize) {
  const PictureTargetResult target = pictureTarget(path.filename().string(), pngSize);
  if (!target.target) throw Fatal(target.message);

  std::array<std::string, kPlotClassCount> notes;
  for (size_t c = 0; c < notes.size(); ++c) {
    const int32_t option = ctx.classCurveOptions[c];
    notes[c] = regionalCurveNote(ctx.seriesInClass[c],
                                 option == kNoCurveFitted ? "no curve" : curveShortName(option));
  }
  // Drawn into a fresh scratch file that replaces the named file only once
  // the page is complete, so a failed drawing never leaves half a page.
  ScratchPath scratch(path);
  if (!scratch.ok()) throw Fatal("Can't write file " + path.string() + ": " + scratch.error());
  const std::vector<std::string> warnings = drawRegionalCurvePicture(
      PlotState{}, regionalCurvePlotInputs(ctx), notes, scratch.path().string(), *target.target);
  for (const std::string& w : warnings) ctx.console.writeLine(">> sbr rcsplt: PLplot: " + w);
  commitPicture(scratch, path, target.target->format);
  if (!ctx.log.quiet()) ctx.console.writeLine(" The page is saved in " + path.string());
}

}  // namespace kavrel
