#include "driver/driver.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "driver/first_pass.h"
#include "driver/loading.h"
#include "driver/manifest.h"
#include "driver/output_folder.h"
#include "driver/output_names.h"
#include "driver/page_file.h"
#include "driver/results_output.h"
#include "driver/revision.h"
#include "driver/run_options.h"
#include "plot/rcsplt.h"
#include "util/console.h"
#include "util/fixedformat.h"
#include "util/outfile.h"

namespace kavrel {

namespace fs = std::filesystem;

namespace {

// A run that ends before its first pass is complete drops the combined file
// it was writing; the combined file of an earlier run stays as it was.
void closeCombinedIndexFile(RunContext& ctx) {
  ctx.combinedIndexFile = nullptr;
  ctx.combinedFirstPass.reset();
}

// Closes the log after a failure. A log that can't be completed any more is
// reported on the screen only.
void closeLogAfterFailure(RunContext& ctx) {
  try {
    ctx.log.close();
  } catch (const Fatal& e) {
    std::printf(" %s\n", e.what());
  }
}

// Writes a message line by line, each with one leading blank, to the screen
// and, while it can still be written, the log. A log that fails here (a full
// disk may well be why the run ends) gets its own message on the screen.
void writeMessage(RunContext& ctx, std::string_view message) {
  std::string logFailure;
  size_t pos = 0;
  while (pos <= message.size()) {
    size_t end = message.find('\n', pos);
    if (end == std::string_view::npos) end = message.size();
    std::string_view text = message.substr(pos, end - pos);
    std::string line;
    if (!text.empty()) {
      line.reserve(text.size() + 1);
      line.push_back(' ');
      line.append(text);
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    try {
      ctx.log.line(line);
    } catch (const Fatal& e) {
      logFailure = e.what();
    }
    pos = end + 1;
  }
  if (!logFailure.empty()) std::printf(" %s\n", logFailure.c_str());
}

// Takes the lock on the output folder, or ends the run before it has touched
// anything when another run holds it.
void lockOutputFolder(RunContext& ctx) {
  if (ctx.folderLock.tryLock(ctx.outputDir)) return;
  std::error_code ec;
  fs::path folder = fs::absolute(ctx.outputDir, ec).lexically_normal();
  if (ec) folder = ctx.outputDir;
  std::string shown = folder.string();
  if (shown.size() > 1 && shown.back() == '/') shown.pop_back();
  throw Fatal("Another run of kavrel is using the folder " + shown +
              "; this run ends without changing anything there.");
}

// Creates the output folder of a run without questions and any missing
// folder above it.
void createOutputFolder(const fs::path& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) throw Fatal("Cannot create the output folder " + folder.string() + ": " + ec.message());
}

// Keeps the dialogue's answers in the request, as a run without questions
// would give them: the options as answered (before loading changes any) and
// the files typed, resolved from the start folder.
void recordAnswers(const RunContext& ctx, RunRequest& request) {
  request.options = ctx.options;
  request.inputPath = fs::absolute(ctx.options.inputFileName).lexically_normal();
  request.pithPath.clear();
  if (ctx.options.usePithOffsets && ctx.options.pithTableFileName.empty()) {
    request.pithPath = fs::absolute(ctx.options.pithFileName).lexically_normal();
  }
}

// The manifest of a finished run: the recipe of the run as --record would
// write it, the files read, and every file the run committed.
void writeRunManifest(RunContext& ctx, const RunRequest& request, const RecipeText& recipeText,
                      const std::vector<fs::path>& written) {
  const std::string recipe =
      recipeText ? recipeText(request, fs::absolute(ctx.outputPath(kManifestFileName))) : "";
  std::vector<fs::path> inputs;
  for (const fs::path* p : {&request.inputPath, &request.pithPath, &request.pithTablePath,
                            &request.recipePath}) {
    if (!p->empty()) inputs.push_back(*p);
  }
  writeManifest(ctx, recipe, inputs, written);
}

}  // namespace

const char* bannerText() {
  return "\n"
         "Program kavrel attempts to separate raw ring width series by\n"
         "age-class and growth rates then find the optimal Region Curve fit\n"
         "for each Age/Growth Class and produce indices for each series in each \n"
         "class.\n"
         "\n"
         "The program produces 17 output files.\n"
         "\n"
         "RAW AGE/Growth_dec      RAW AGE/Growth/Curve_Column         RAW AGE/Growth/Index_dec\n"
         " 1.shortlowV6_raw        2.shortlowV6_raw_agealigned.txt     "
         "3.shortlowV6_raw_agealigned.indx.txt\n"
         " 4.shorthighV6_raw       5.shorthighV6_raw_agealigned.txt    "
         "6.shorthighV6_raw_agealigned.indx.txt\n"
         " 7.med6_raw              8.medV6_raw_agealigned.txt          "
         "9.medV6_raw_agealigned.indx.txt\n"
         " 10.longlowV6_raw        11.longlowV6_raw_agealigned.txt     "
         "12.longlowV6_raw_agealigned.indx.txt\n"
         " 13.longhighV6_raw       14.longhighV6_raw_agealigned.txt    "
         "15.longhighV6_raw_agealigned.indx.txt\n"
         "\n"
         "The files:\n"
         "  16.KavrelV6indx.raw.txt > Contains All RC detrended series in decade format.\n"
         "  17.Kavrelv6_log.txt > Contains all user and program screen input/output.\n"
         "  18.KavrelV6.ps (GMT version only) > A Postscript graphic file of results.\n"
         "\n";
}

void writeTermination(RunContext& ctx) {
  ctx.log.close();
  if (ctx.log.quiet()) return;
  std::string stars(38, '*');
  stars[0] = ' ';
  const std::string emptyRecords = formatLayout("(/)", {});  // two empty records
  ctx.console.writeLine(emptyRecords);
  ctx.console.writeLine(stars);
  ctx.console.writeLine(formatLayout("(1x,'Normal Termination of Program')", {}));
  ctx.console.writeLine(stars);
  ctx.console.writeLine(emptyRecords);
  ctx.console.flush();
}

void runProgram(RunContext& ctx, RunRequest& request, const RecipeText& recipeText) {
  CommittedFiles committed;
  ctx.interactive = request.interactive;
  ctx.log.setQuiet(request.quiet);
  ctx.results.keepWidths = request.report;
  if (!ctx.interactive) {
    ctx.outputDir = request.outFolder;
    createOutputFolder(ctx.outputDir);
  }
  lockOutputFolder(ctx);
  setPlotEnvironment();
  ctx.log.open(ctx.outputPath(kRunLogFileName));
  ctx.namedOutputs = namedOutputFiles(request);
  removeStaleScratchFiles(ctx);

  ctx.pithTablePath = request.pithTablePath;
  if (ctx.interactive) {
    ctx.options.pithTableFileName = request.options.pithTableFileName;
    ctx.console.write(bannerText());
    ctx.console.pause(kHitReturn);
    askRunOptions(ctx);
    recordAnswers(ctx, request);
  } else {
    ctx.options = request.options;
    ctx.inputPath = request.inputPath;
    ctx.log.setWarningPrefix(ctx.options.inputFileName);
    ctx.inputFormat = request.inputFormat;
    applyRunOptions(ctx, request.pithPath);
  }
  if (request.signalFree) ctx.signalFree = request.signalFreeSettings;
  ctx.singleCurve = request.singleCurve;
  warnOfOtherResults(ctx, request);
  loadAndPrepare(ctx);
  request.inputFormat = ctx.inputFormat;  // as read, for the recipe
  firstPass(ctx);
  if (ctx.interactive) {
    revisionLoop(ctx, request.revisions);
  } else {
    applyRevisions(ctx, request.revisions);
    if (!request.pagePath.empty()) {
      saveRegionalCurvePage(ctx, request.pagePath, PageSize{request.pageWidth, request.pageHeight},
                            request.site);
    }
  }
  closeCombinedIndexFile(ctx);
  writeRequestedResults(ctx, request);

  const std::filesystem::path& recipe =
      ctx.interactive ? request.recordPath : request.saveRecipePath;
  if (!recipe.empty() && recipeText) {
    OutputFile file(recipe);
    file.write(recipeText(request, recipe));
    file.commit();
    // The recipe keeps the answers as typed; say now that it won't run as is.
    if (ctx.interactive && hasReversedLimits(ctx.options)) {
      ctx.console.writeLine(" The recipe " + recipe.filename().string() +
                            " keeps a reversed pair of limits as typed; kavrel run refuses it "
                            "until the pair is put in order.");
    }
  }
  ctx.log.close();
  writeRunManifest(ctx, request, recipeText, committed.paths());
  writeTermination(ctx);
}

int reportFatal(RunContext& ctx, const Fatal& fatal) {
  std::fflush(stdout);
  writeMessage(ctx, fatal.what());
  if (fatal.pauseForReturn() && ctx.interactive) {
    ctx.console.writeLine(kHitReturn);
    (void)ctx.console.tryReadLine();
  }
  closeCombinedIndexFile(ctx);
  closeLogAfterFailure(ctx);
  std::fflush(stdout);
  return fatal.exitStatus() != 0 ? fatal.exitStatus() : 1;
}

int reportInternalError(RunContext& ctx, const std::exception& error) {
  std::fflush(stdout);
  std::string message = "Internal error: ";
  message.append(error.what());
  writeMessage(ctx, message);
  closeCombinedIndexFile(ctx);
  closeLogAfterFailure(ctx);
  std::fflush(stdout);
  return 1;
}

}  // namespace kavrel
