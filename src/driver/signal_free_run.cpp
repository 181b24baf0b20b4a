#include "driver/signal_free_run.h"

#include <cstdio>
#include <vector>

#include "driver/run_context.h"
#include "util/fatal.h"
#include "util/fixedformat.h"
#include "util/outfile.h"

namespace kavrel {

namespace {

std::string changeText(double change) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", change);
  return text;
}

// Runs the loop over the classes' pass 0, shows its pass lines and writes
// every class's files from the final curves. The combined index file must be
// open when indices are written.
void loopAndWrite(RunContext& ctx) {
  SignalFreeRun& run = *ctx.signalFreeRun;
  std::vector<RcsClassInput> in;
  for (int32_t c = 1; c <= ctx.classCount(); ++c) {
    const ClassPass& p = run.passes[static_cast<size_t>(c - 1)];
    in.push_back({p.series, p.optionAsked, p.settingsBefore});
  }
  // Without index series the loop still needs a chronology: it uses ratios.
  const int32_t mode = ctx.options.indexMode == 2 ? 2 : 1;
  run.result = signalFreeLoop(in, mode, *ctx.signalFree);
  const SignalFreeResult& r = run.result;
  for (const SignalFreePass& p : r.passes) {
    if (p.pass == 0) continue;
    ctx.log.echo(" Signal-free pass " + std::to_string(p.pass) + ": largest change " +
                 changeText(p.largestChange));
  }
  if (r.failure) throw Fatal("The signal-free loop can't go on: " + *r.failure);
  if (!r.converged) {
    ctx.log.echo(" Warning: the signal-free loop reached " +
                 std::to_string(ctx.signalFree->maxPasses) +
                 " passes without converging (last change " +
                 changeText(r.passes.back().largestChange) + "); the last pass is used");
  }
  for (int32_t c = 1; c <= ctx.classCount(); ++c) {
    const auto ci = static_cast<size_t>(c - 1);
    const ClassPass& pass = run.passes[ci];
    const RcsClassCurve& final = r.final[ci];
    ClassResult result = pass.result;
    result.curvePass0ByAge = pass.curve;
    if (result.fitted) {
      result.optionUsed = final.fit.optionUsed;
      result.params = final.fit.params;
      result.settings = final.fit.settings;
      result.settings.option = pass.result.settings.option;
    }
    const int32_t option = result.fitted ? final.fit.optionUsed : kNoCurveFitted;
    writeClassFiles(ctx, c, pass.series, final.curveByAge, option, result);
  }
}

}  // namespace

void signalFreeFirstPass(RunContext& ctx) {
  ctx.signalFreeRun = std::make_shared<SignalFreeRun>();
  for (int32_t c = 1; c <= ctx.classCount(); ++c) {
    ctx.signalFreeRun->passes[static_cast<size_t>(c - 1)] = computeClassPass(ctx, c, false);
  }
  loopAndWrite(ctx);
}

void signalFreeRevision(RunContext& ctx, int32_t classNumber) {
  ctx.signalFreeRun->passes[static_cast<size_t>(classNumber - 1)] =
      computeClassPass(ctx, classNumber, true);
  if (ctx.options.indexMode != 1 && ctx.options.indexMode != 2) {
    loopAndWrite(ctx);
    return;
  }
  // Every class's series are replaced, so the combined file is written anew
  // beside its name and replaces it once complete.
  OutputFile combined(ctx.outputPath(kCombinedIndexFileName));
  ctx.combinedIndexFile = &combined;
  try {
    loopAndWrite(ctx);
  } catch (...) {
    ctx.combinedIndexFile = nullptr;
    throw;
  }
  ctx.combinedIndexFile = nullptr;
  combined.commit();
}

}  // namespace kavrel
