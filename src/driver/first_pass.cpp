#include "driver/first_pass.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "driver/class_pass.h"
#include "driver/classify.h"
#include "driver/run_context.h"
#include "util/fatal.h"
#include "util/fixedformat.h"

namespace kavrel {

void firstPass(RunContext& ctx) {
  const std::vector<int32_t> classes = classifySeries(ctx.store, ctx.options.useMeanAge);
  std::array<std::string, kClassCount> rawNames;
  for (size_t c = 0; c < rawNames.size(); ++c) rawNames[c] = kClassFileNames[c];
  for (const std::string& note : writeClassRawFiles(ctx.store, classes, rawNames)) {
    ctx.log.echo(freeLine({note}));
  }

  // The largest raw value only grows from here, across every later pass.
  ctx.maxRawValue = kMissingValue;
  for (int32_t c = 1; c <= kClassCount; ++c) classPass(ctx, c, false);

  if (ctx.combinedIndexFile != nullptr) {
    std::FILE* f = ctx.combinedIndexFile;
    ctx.combinedIndexFile = nullptr;
    const bool bad = std::ferror(f) != 0;
    if (std::fclose(f) != 0 || bad) {
      throw Fatal(std::string("Cannot write the combined index file ") + kCombinedIndexPartName);
    }
    if (std::rename(kCombinedIndexPartName, kCombinedIndexFileName) != 0) {
      throw Fatal(std::string("Cannot rename ") + kCombinedIndexPartName + " to " +
                  kCombinedIndexFileName + ": " + std::strerror(errno));
    }
  }
}

}  // namespace kavrel
