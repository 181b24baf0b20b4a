#include "driver/page_file.h"

#include <array>
#include <string>
#include <vector>

#include "chron/crn.h"
#include "driver/rcdrvr.h"
#include "driver/report.h"
#include "driver/revision.h"
#include "driver/run_context.h"
#include "plot/rcs_figure.h"
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

namespace {

// The classes' names in words, in class order.
constexpr std::array<const char*, kClassCount> kClassTitles = {
    "Short-lived, rising early growth", "Short-lived, falling early growth",
    "Long-lived, rising early growth", "Long-lived, falling early growth",
    "Neither rising nor falling early growth"};

}  // namespace

void saveRegionalCurvePage(RunContext& ctx, const std::filesystem::path& path, PageSize pngSize,
                           const std::string& site) {
  const PictureTargetResult target = pictureTarget(path.filename().string(), pngSize);
  if (!target.target) throw Fatal(target.message);

  RegionalCurveFigure figure;
  const std::string input = std::filesystem::path(ctx.options.inputFileName).filename().string();
  figure.title = "Site " + (site.empty() ? crnSiteCode(ctx.options.inputFileName) : site) + ", " +
                 input + (ctx.singleCurve ? ": one regional curve" : ": regional curves by class");
  for (size_t c = 0; c < figure.panels.size(); ++c) {
    const int32_t option = ctx.classCurveOptions[c];
    figure.panels[c].title = ctx.singleCurve ? "All classified series" : kClassTitles[c];
    figure.panels[c].seriesCount = ctx.seriesInClass[c];
    if (option != kNoCurveFitted) figure.panels[c].curve = std::string(curveName(option));
    if (ctx.results.signalFree) {
      figure.panels[c].firstPassCurve = ctx.results.classes[c].curvePass0ByAge;
    }
  }
  // Drawn into a fresh scratch file that replaces the named file only once
  // the page is complete, so a failed drawing never leaves half a page.
  ScratchPath scratch(path);
  if (!scratch.ok()) throw Fatal("Can't write file " + path.string() + ": " + scratch.error());
  const std::vector<std::string> warnings = drawRegionalCurveFigure(
      regionalCurvePlotInputs(ctx), figure, scratch.path().string(), *target.target);
  for (const std::string& w : warnings) ctx.console.writeLine(">> sbr rcsplt: PLplot: " + w);
  commitPicture(scratch, path, target.target->format);
  if (!ctx.log.quiet()) ctx.console.writeLine(" The page is saved in " + path.string());
}

}  // namespace kavrel
