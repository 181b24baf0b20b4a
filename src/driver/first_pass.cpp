#include "driver/first_pass.h"

#include "driver/class_pass.h"
#include "driver/classify.h"
#include "driver/single_curve.h"
#include "driver/run_context.h"
#include "driver/signal_free_run.h"
#include "util/fixedformat.h"
#include "util/outfile.h"

namespace kavrel {

void firstPass(RunContext& ctx) {
  std::vector<int32_t> classes = classifySeries(ctx.store, ctx.options.useMeanAge);
  if (ctx.singleCurve) mergeIntoOneClass(ctx.store, classes);
  recordClassification(ctx.results, ctx.store, classes, ctx.options.useMeanAge);
  ctx.results.singleCurve = ctx.singleCurve;
  ctx.results.signalFree = ctx.signalFree.has_value();
  std::array<std::string, kClassCount> rawNames;
  for (int32_t c = 1; c <= ctx.classCount(); ++c) {
    rawNames[static_cast<size_t>(c - 1)] = ctx.outputPath(ctx.rawClassFileName(c));
  }
  for (const std::string& note : writeClassRawFiles(ctx.store, classes, rawNames)) {
    ctx.log.echo(freeLine({note}));
  }

  // The largest raw value only grows from here, across every later pass.
  ctx.maxRawValue = kMissingValue;
  if (ctx.signalFree) {
    signalFreeFirstPass(ctx);
  } else {
    for (int32_t c = 1; c <= ctx.classCount(); ++c) classPass(ctx, c, false);
  }

  ctx.combinedIndexFile = nullptr;
  if (ctx.combinedFirstPass) {
    const std::unique_ptr<OutputFile> combined = std::move(ctx.combinedFirstPass);
    combined->commit();
  }
}

}  // namespace kavrel
