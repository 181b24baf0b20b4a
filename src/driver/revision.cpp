#include "driver/revision.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "driver/class_pass.h"
#include "driver/combined_index.h"
#include "driver/output_names.h"
#include "driver/rcdrvr.h"
#include "driver/run_context.h"
#include "driver/signal_free_run.h"
#include "plot/rcsplt.h"
#include "util/console.h"
#include "util/fatal.h"
#include "util/fixedformat.h"

namespace kavrel {

namespace {

// Clears the screen between the dialogue's screens, but only on a terminal:
// a transcript of a piped run keeps every line and no shell is started.
void clearScreen(Console& console) {
  console.flush();
  if (::isatty(::fileno(console.out())) == 0) return;
  const int status = std::system("clear");
  (void)status;  // a screen that can't be cleared changes nothing
}

// The class list with the age-aligned names and the class prompt; asks again
// until the answer is a class number 1..5.
int32_t askClass(RunContext& ctx) {
  std::string block = "\n   Select Age-class to change\n";
  for (int32_t c = 1; c <= ctx.classCount(); ++c) {
    block +=
        formatLayout("(3x,'[',i1,'] ',a)", {c, ctx.classFileNames[static_cast<size_t>(c - 1)]});
    block += '\n';
  }
  block += "\n   Enter a value between 1 and " + std::to_string(ctx.classCount()) + " :> ";
  for (;;) {
    const int32_t c = ctx.console.askInteger(block);
    if (c >= 1 && c <= ctx.classCount()) return c;
  }
}

// The run log's record of a revision: an empty line, 53 asterisks, the file
// being recalculated and the description of the curve type.
void logRevision(RunContext& ctx, int32_t classNumber, int32_t option) {
  ctx.log.line(freeLine({}));
  ctx.log.line(freeLine({std::string(53, '*')}));
  ctx.log.line(
      freeLine({"ReCalculate file: ", ctx.classFileNames[static_cast<size_t>(classNumber - 1)]}));
  const std::string_view description = curveDescription(option);
  if (!description.empty()) ctx.log.line(freeLine({description}));
}

// Points ctx.combinedIndexFile at the rewrite's scratch file for one class
// pass and detaches it again however the pass ends, so that the file is
// closed exactly once (by the rewrite).
class CombinedFileLease {
 public:
  CombinedFileLease(RunContext& ctx, OutputFile* file) : ctx_(ctx) {
    ctx_.combinedIndexFile = file;
  }
  ~CombinedFileLease() { ctx_.combinedIndexFile = nullptr; }
  CombinedFileLease(const CombinedFileLease&) = delete;
  CombinedFileLease& operator=(const CombinedFileLease&) = delete;

 private:
  RunContext& ctx_;
};

// Refits one class. With indices the class's old series leave the combined
// file and its new ones take their place at the end, in one replacement of
// the file once the pass is complete; without indices there is no combined
// file and only the class pass runs.
void revisionPass(RunContext& ctx, int32_t classNumber) {
  if (ctx.options.indexMode == 0) {
    classPass(ctx, classNumber, true);
    return;
  }
  const auto ci = static_cast<size_t>(classNumber - 1);
  const std::string classIndex = ctx.indexFileNames[ci].empty()
                                     ? indexFileName(ctx.classFileNames[ci])
                                     : ctx.indexFileNames[ci];
  CombinedIndexRewrite rewrite(ctx.outputPath(classIndex).string(),
                               ctx.outputPath(kCombinedIndexFileName).string());
  if (rewrite.result().notFound() > 0) {
    ctx.log.echo(freeLine({classLabel(ctx, classNumber) + ": Warning:", rewrite.result().notFound(),
                           "series of", classIndex,
                           "were not found in", kCombinedIndexFileName}));
  }
  {
    CombinedFileLease lease(ctx, rewrite.file());
    classPass(ctx, classNumber, true);
  }
  rewrite.commit();
}

}  // namespace

PlotInputs regionalCurvePlotInputs(const RunContext& ctx) {
  PlotInputs in;
  for (size_t c = 0; c < kClassCount; ++c) {
    in.classFileNames[c] = ctx.outputPath(ctx.classFileNames[c]).string();
  }
  in.seriesInClass = ctx.seriesInClass;
  in.panelCount = ctx.classCount();
  in.maxAgeAllClasses = ctx.maxAgeAllClasses;
  in.maxRawValue = ctx.maxRawValue;
  in.protectedFiles = {ctx.inputPath.empty() ? ctx.options.inputFileName : ctx.inputPath.string(),
                       ctx.options.pithFileName};
  for (const auto* names : {&runOutputNames(), &extraOutputNames()}) {
    for (const std::string& name : *names) in.protectedFiles.push_back(ctx.outputPath(name).string());
  }
  return in;
}

void reviseClass(RunContext& ctx, int32_t classNumber, int32_t option) {
  if (classNumber < 1 || classNumber > ctx.classCount()) {
    throw Fatal("Class number " + std::to_string(classNumber) + " is outside 1.." +
                std::to_string(ctx.classCount()));
  }
  logRevision(ctx, classNumber, option);
  ctx.detrend.option = option;
  if (ctx.signalFreeRun) {
    signalFreeRevision(ctx, classNumber);
  } else {
    revisionPass(ctx, classNumber);
  }
}

void revisionLoop(RunContext& ctx, std::vector<Revision>& made) {
  // The plot style chosen in the plot menu carries over from pass to pass.
  PlotState plot;
  for (;;) {
    rcsplt(plot, ctx.console, regionalCurvePlotInputs(ctx));
    clearScreen(ctx.console);
    if (!ctx.console.askLogical("\n Change a RC curve? t[rue] or f[alse]:> ")) return;

    const int32_t classNumber = askClass(ctx);
    clearScreen(ctx.console);
    const int32_t option = rcdrvr(ctx.console, ctx.detrend);
    made.push_back({classNumber, option, appliedCurveAnswer(option, ctx.detrend)});
    reviseClass(ctx, classNumber, option);
  }
}

void applyRevisions(RunContext& ctx, const std::vector<Revision>& revisions) {
  for (const Revision& revision : revisions) {
    applyCurveAnswer(revision.option, revision.answer, ctx.detrend);
    reviseClass(ctx, revision.classNumber, revision.option);
  }
}

}  // namespace kavrel
