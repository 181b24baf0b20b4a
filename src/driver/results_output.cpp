#include "driver/results_output.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "chron/crn.h"
#include "driver/bootstrap_run.h"
#include "driver/chronology_output.h"
#include "driver/chronology_smooth.h"
#include "driver/page_file.h"
#include "driver/report.h"
#include "driver/signal_free_output.h"
#include "driver/signal_free_run.h"
#include "driver/wide_tables.h"
#include "plot/chronplt.h"
#include "plot/picture.h"
#include "util/console.h"
#include "util/fatal.h"
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
  text.clear();
  appendWidthsCsv(text, ctx.results);
  writeOutput(ctx, kWidthsCsvName, text);
  // Index values exist only when the run computed indices.
  const bool indices = ctx.options.indexMode == 1 || ctx.options.indexMode == 2;
  if (indices) {
    text.clear();
    appendIndicesCsv(text, ctx.results);
    writeOutput(ctx, kIndicesCsvName, text);
  }
  if (ctx.results.singleCurve || ctx.results.signalFree) {
    for (const std::string& line : diagnosticWarnings(ctx.results)) ctx.console.writeLine(line);
  }
  if (request.quiet) return;
  ctx.console.writeLine(classTable(ctx.results));
  std::string written = std::string("\n Run report: ") + kSeriesCsvName + ", " + kClassesCsvName +
                        ", " + kCurvesCsvName + ", " + kWidthsCsvName;
  if (indices) written += std::string(", ") + kIndicesCsvName;
  ctx.console.writeLine(written);
}

// The chronology page: the robust mean with its reference line, the depth,
// and the years of weak common signal shaded; drawn into a scratch file that
// replaces the named file once the page is complete.
void saveChronologyPage(RunContext& ctx, const RunRequest& request, const ChronologyTexts& texts,
                        const std::optional<BootstrapResult>& bands) {
  const std::filesystem::path& path = request.chronologyPagePath;
  const PictureTargetResult target =
      pictureTarget(path.filename().string(), PageSize{request.pageWidth, request.pageHeight});
  if (!target.target) throw Fatal(target.message);
  ChronologyPlotData data;
  const std::vector<ChronologyYear>& years = texts.chronology.years;
  if (!years.empty()) {
    data.firstYear = years.front().year;
    data.weak = weakSignalYears(texts.windows, years.front().year, years.back().year);
  }
  for (const ChronologyYear& y : years) {
    data.index.push_back(y.robustMean);
    data.depth.push_back(y.depth);
  }
  // The signal-free form draws the standard (pass-0) and the signal-free
  // chronologies, both normalised, with a legend.
  if (ctx.signalFreeRun && !years.empty()) {
    const SignalFreeResult& loop = ctx.signalFreeRun->result;
    const auto at = [&](const YearlyChronology& c, int32_t year) -> std::optional<double> {
      const int64_t i = int64_t{year} - c.firstYear;
      if (i < 0 || i >= static_cast<int64_t>(c.value.size())) return std::nullopt;
      return c.value[static_cast<size_t>(i)];
    };
    for (size_t i = 0; i < years.size(); ++i) {
      data.index[i] = at(loop.pass0Chronology, years[i].year);
      data.second.push_back(at(loop.chronology, years[i].year));
    }
    data.indexName = "standard (pass 0)";
    data.secondName = "signal-free";
  }
  data.smooth = smoothedChronology(data.second.empty() ? data.index : data.second,
                                   request.chronologySmooth);
  data.smoothName = std::to_string(request.chronologySmooth) + "-year spline";
  for (const SignalWindow& w : texts.windows) {
    if (w.eps) data.eps.emplace_back(0.5 * (w.firstYear + w.lastYear), *w.eps);
  }
  // The band under the chronology lines: of the signal-free one, else of the
  // robust mean.
  if (bands && !years.empty()) {
    const BandColumn& band = ctx.signalFreeRun ? bands->signalFree : bands->robustMean;
    const auto value = [](double v) {
      return std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
    };
    for (size_t i = 0; i < years.size() && i < band.lower.size(); ++i) {
      data.bandLower.push_back(value(band.lower[i]));
      data.bandUpper.push_back(value(band.upper[i]));
    }
    data.bandLower.resize(years.size());
    data.bandUpper.resize(years.size());
    char level[32];
    std::snprintf(level, sizeof level, "%g", 100.0 * request.ciLevel);
    data.bandName = std::string("band: ") + level + "% of " + std::to_string(request.bootstrap) +
                    " bootstrap replicates";
  }
  const bool ratios = texts.chronology.kind == IndexKind::Ratio;
  data.referenceLevel = ratios ? 1.0 : 0.0;
  data.title = "RCS chronology, " + std::filesystem::path(ctx.options.inputFileName).filename().string();
  data.indexLabel = ratios ? "Index (ratio)" : "Index (residual, mm)";
  ScratchPath scratch(path);
  if (!scratch.ok()) throw Fatal("Can't write file " + path.string() + ": " + scratch.error());
  for (const std::string& w : drawChronologyPicture(data, scratch.path().string(), *target.target)) {
    ctx.console.writeLine(">> sbr chronology page: PLplot: " + w);
  }
  commitPicture(scratch, path, target.target->format);
  if (!request.quiet) ctx.console.writeLine(" The chronology page is saved in " + path.string());
}

void writeChronology(RunContext& ctx, const RunRequest& request) {
  const int32_t mode = ctx.options.indexMode;
  if (mode != 1 && mode != 2) {
    ctx.console.writeLine(" No chronology: this run computed no index series.");
    return;
  }
  const std::string site =
      request.site.empty() ? crnSiteCode(ctx.options.inputFileName) : request.site;
  SignalOptions signal;
  signal.windowLength = request.windowLength;
  signal.windowLag = request.windowLag;
  signal.correlation = request.correlation;
  const ChronologyTexts texts = chronologyTexts(ctx.results, mode, site, signal, request.treeChars);
  std::optional<BootstrapResult> bands;
  if (request.bootstrap > 0) bands = runBootstrap(ctx, request, texts.chronology);
  if (!request.chronologyPagePath.empty()) saveChronologyPage(ctx, request, texts, bands);
  if (!request.chronology) return;
  std::string table = texts.chronologyCsv;
  if (ctx.signalFreeRun) {
    table = withSignalFreeColumns(table, texts.chronology, ctx.signalFreeRun->result);
  }
  if (bands) table = withBandColumns(table, texts.chronology, *bands);
  writeOutput(ctx, kChronologyCsvName, table);
  if (ctx.signalFreeRun) writeOutput(ctx, kSignalFreeCsvName, signalFreeCsv(ctx.signalFreeRun->result));
  writeOutput(ctx, kSignalCsvName, texts.signalCsv);
  if (texts.crnWritable) writeOutput(ctx, kCrnFileName, texts.crn);
  for (const std::string& note : texts.notes) ctx.console.writeLine(" " + note);
  if (request.quiet) return;
  std::string written = std::string(" Chronology: ") + kChronologyCsvName + ", " + kSignalCsvName;
  if (texts.crnWritable) written += std::string(", ") + kCrnFileName;
  if (ctx.signalFreeRun) written += std::string(", ") + kSignalFreeCsvName;
  ctx.console.writeLine(written);
}

}  // namespace

void writeRequestedResults(RunContext& ctx, const RunRequest& request) {
  if (request.report) writeReport(ctx, request);
  if (request.chronology || !request.chronologyPagePath.empty()) writeChronology(ctx, request);
  ctx.console.flush();
}

}  // namespace kavrel
