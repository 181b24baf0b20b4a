#include "driver/results_output.h"

#include <string>

#include "chron/crn.h"
#include "driver/chronology_output.h"
#include "driver/report.h"
#include "util/console.h"
#include "util/outfile.h"

namespace kavrel {

namespace {

void writeOutput(const RunContext& ctx, const char* name, const std::string& text) {
  OutputFile file(ctx.outputPath(name));
  file.write(text);
  file.commit();
}

void writeReport(RunContext& ctx, const RunRequest& request) {
  std::string text;
  appendSeriesCsv(text, ctx.results);
  writeOutput(ctx, kSeriesCsvName, text);
  text.clear();
  appendClassesCsv(text, ctx.results);
  writeOutput(ctx, kClassesCsvName, text);
  text.clear();
  appendCurvesCsv(text, ctx.results);
  writeOutput(ctx, kCurvesCsvName, text);
  if (request.quiet) return;
  ctx.console.writeLine(classTable(ctx.results));
  ctx.console.writeLine(std::string("\n Run report: ") + kSeriesCsvName + ", " + kClassesCsvName +
                        ", " + kCurvesCsvName);
}

void writeChronology(RunContext& ctx, const RunRequest& request) {
  const int32_t mode = ctx.options.indexMode;
  if (mode != 1 && mode != 2) {
    ctx.console.writeLine(" No chronology: this run computed no index series.");
    return;
  }
  const std::string site =
      request.site.empty() ? crnSiteCode(ctx.options.inputFileName) : request.site;
  const ChronologyTexts texts = chronologyTexts(ctx.results, mode, site);
  writeOutput(ctx, kChronologyCsvName, texts.chronologyCsv);
  writeOutput(ctx, kSignalCsvName, texts.signalCsv);
  if (texts.crnWritable) writeOutput(ctx, kCrnFileName, texts.crn);
  for (const std::string& note : texts.notes) ctx.console.writeLine(" " + note);
  if (request.quiet) return;
  std::string written = std::string(" Chronology: ") + kChronologyCsvName + ", " + kSignalCsvName;
  if (texts.crnWritable) written += std::string(", ") + kCrnFileName;
  ctx.console.writeLine(written);
}

}  // namespace

void writeRequestedResults(RunContext& ctx, const RunRequest& request) {
  if (request.report) writeReport(ctx, request);
  if (request.chronology) writeChronology(ctx, request);
  ctx.console.flush();
}

}  // namespace kavrel
