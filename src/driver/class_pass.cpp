#include "driver/class_pass.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "driver/rcdrvr.h"
#include "driver/report.h"
#include "driver/run_context.h"
#include "rcs/class_curve.h"
#include "rcs/diagnostics.h"
#include "rwfile/trrw.h"
#include "util/console.h"
#include "util/fatal.h"
#include "util/fixedformat.h"
#include "util/outfile.h"
#include "util/stats.h"

namespace kavrel {

namespace {

// Problems shown on the screen per class; the log receives every one.
constexpr int32_t kScreenProblemLines = 10;

// The identifier without its trailing blanks, for messages.
std::string trimmedId(const std::string& id) {
  const size_t end = id.find_last_not_of(' ');
  return end == std::string::npos ? id : id.substr(0, end + 1);
}

// Why no index value came from a curve value.
const char* problemText(float curve, int32_t indexMode) {
  if (curve == kMissingValue || !std::isfinite(curve)) return "has no value: index set to missing";
  if (indexMode == 1 && curve <= 0.0f) return "is not positive: index set to missing";
  return "gives no finite index: index set to missing";
}

// Reads every series of a class raw file and gives it its pith offset.
std::vector<ClassSeries> readClassFile(const std::string& rawName,
                                       const std::vector<int32_t>& pithOffsets) {
  std::optional<RwInput> input = RwInput::openFile(rawName);
  if (!input) throw Fatal("Cannot open class file " + rawName + " for reading");
  std::vector<ClassSeries> series;
  int32_t counter = 0;
  for (;;) {
    ClassSeries s;
    if (trrwRead(*input, s.id, s.firstYear, s.values, counter) == kEndOfFile) break;
    const size_t k = series.size();
    if (k >= pithOffsets.size()) {
      throw Fatal("Class file " + rawName + " holds more series than were classed into it");
    }
    s.pithOffset = pithOffsets[k];
    if (s.lastAge() > kMaxRings) {
      throw Fatal("Series " + s.id + " of " + rawName + ": pith offset plus length " +
                  std::to_string(s.lastAge()) + " exceeds " + std::to_string(kMaxRings) +
                  " cambial ages");
    }
    series.push_back(std::move(s));
  }
  // Every pith offset belongs to one series of the file, in order; a series
  // lost on the way would shift every later one to the wrong cambial ages.
  if (series.size() != pithOffsets.size()) {
    throw Fatal("Class file " + rawName + " holds " + std::to_string(series.size()) +
                " series, but " + std::to_string(pithOffsets.size()) + " were classed into it");
  }
  return series;
}

// Shows the lines of a class fit on the screen (not in the log), waits for
// Return where the fit asks, and ends the run on a failed fit with its
// message.
void showClassFit(Console& console, const ClassCurveFit& fit) {
  size_t pause = 0;
  for (size_t i = 0; i <= fit.lines.size(); ++i) {
    for (; pause < fit.pauses.size() && fit.pauses[pause] == i; ++pause) console.pause();
    if (i < fit.lines.size()) console.writeLine(fit.lines[i]);
  }
  console.flush();
  if (fit.failed()) throw *fit.failure;
}

void writeAgeAlignedFile(const std::filesystem::path& path, std::span<const ClassSeries> series,
                         std::span<const float> curve) {
  OutputFile file(path);
  std::string line;
  appendAgeAlignedHeader(line, series);
  file.write(line);
  for (int32_t j = 1; j <= static_cast<int32_t>(curve.size()); ++j) {
    line.clear();
    appendAgeAlignedLine(line, j, curve[static_cast<size_t>(j - 1)], series);
    file.write(line);
  }
  file.commit();
}

// Writes the class index file and the class's part of the combined index file,
// and keeps each series' chronology values in ctx.results in place of the
// class's earlier ones.
void writeIndices(RunContext& ctx, int32_t classNumber, std::span<const ClassSeries> series,
                  std::span<const float> curve) {
  const auto ci = static_cast<size_t>(classNumber - 1);
  if (ctx.combinedIndexFile == nullptr) {
    throw Fatal(std::string("The combined index file ") + kCombinedIndexFileName + " is not open");
  }
  const std::string name = indexFileName(ctx.classFileNames[ci]);
  ctx.indexFileNames[ci] = name;
  OutputFile file(ctx.outputPath(name));
  std::string lines;
  const int32_t mode = ctx.options.indexMode;
  int32_t problemCount = 0;
  std::vector<IndexProblem> problems;
  std::vector<IndexSeries> kept;
  std::vector<std::string> keptIds;
  kept.reserve(series.size());
  keptIds.reserve(series.size());
  for (const ClassSeries& s : series) {
    const float m = mode == 2 ? minResidual(s, curve) : 0.0f;
    problems.clear();
    const std::vector<float> index = indexSeries(s, curve, mode, m, problems);
    for (const IndexProblem& p : problems) {
      const std::string text = freeLine(
          {classLabel(ctx, classNumber) + ": Warning: series", trimmedId(s.id), "age", p.age,
           "regional curve", p.curve, problemText(p.curve, mode)});
      if (problemCount < kScreenProblemLines) {
        ctx.log.echo(text);
      } else {
        ctx.log.line(text);
      }
      ++problemCount;
    }
    lines.clear();
    const RwWriteStatus status = trrwFormat(lines, s.id, s.firstYear, index);
    if (status.yearOutOfRange) {
      throw Fatal("Cannot write series " + s.id + " to " + name + ": " +
                  describeWriteStatus(status, s.id));
    }
    if (!status.ok()) ctx.log.echo(freeLine({describeWriteStatus(status, s.id)}));
    file.write(lines);
    ctx.combinedIndexFile->write(lines);
    kept.push_back({classNumber, s.firstYear, chronologyValues(s, curve, mode, index)});
    keptIds.push_back(s.id);
  }
  if (problemCount > kScreenProblemLines) {
    ctx.log.echo(freeLine({classLabel(ctx, classNumber) + ":",
                           problemCount - kScreenProblemLines, "more index warnings are in the log"}));
  }
  file.commit();
  ctx.results.replaceIndexSeries(classNumber, std::move(kept), std::move(keptIds));
}

}  // namespace

std::string classLabel(const RunContext& ctx, int32_t classNumber) {
  return "Class " + std::to_string(classNumber) + " (" + classNameOf(ctx.results, classNumber) +
         ")";
}

std::string ageAlignedFileName(std::string_view rawName) {
  std::string name(rawName.substr(0, 15));
  name.resize(15, ' ');
  name += "_agealigned.txt";
  std::erase(name, ' ');
  return name;
}

std::string indexFileName(std::string_view ageAlignedName) {
  const size_t dot = ageAlignedName.find('.');
  std::string name(ageAlignedName.substr(0, dot == std::string_view::npos ? ageAlignedName.size()
                                                                         : dot + 1));
  name += "indx.txt";
  std::erase(name, ' ');
  return name;
}

void appendAgeAlignedHeader(std::string& out, std::span<const ClassSeries> series) {
  std::vector<FmtArg> items;
  items.reserve(3 + 2 * series.size());
  items.emplace_back("#age");
  items.emplace_back(kTableSeparator);
  items.emplace_back("f");
  for (const ClassSeries& s : series) {
    items.emplace_back(kTableSeparator);
    std::string id = s.id;
    id.resize(8, ' ');
    items.emplace_back(id);
  }
  out += freeLine(items);
  out += '\n';
}

void appendAgeAlignedLine(std::string& out, int32_t age, float curve,
                          std::span<const ClassSeries> series) {
  // The free-format line of the items age, separator, curve, separator,
  // value, ...: a blank before the age and before each separator (the
  // separator begins with a TAB), none after it (it ends in blanks). Written
  // directly, as the table's lines are the bulk of a run's output.
  out += ' ';
  out += std::to_string(age);
  const auto column = [&out](float v) {
    out += ' ';
    out += kTableSeparator;
    appendFreeReal(out, static_cast<double>(v));
  };
  column(curve);
  for (const ClassSeries& s : series) column(s.atAge(age));
  out += '\n';
}

ClassPass computeClassPass(RunContext& ctx, int32_t classNumber, bool revision) {
  if (classNumber < 1 || classNumber > kClassCount) {
    throw Fatal("Class number " + std::to_string(classNumber) + " is outside 1..5");
  }
  const auto ci = static_cast<size_t>(classNumber - 1);
  const std::string rawName = ctx.rawClassFileName(classNumber);
  ctx.classFileNames[ci] = rawName;
  ClassPass pass;
  pass.series = readClassFile(ctx.outputPath(rawName).string(), ctx.store.classPithOffsets[ci]);
  const std::vector<ClassSeries>& series = pass.series;
  ctx.classFileNames[ci] = ageAlignedFileName(rawName);
  const std::string& ageName = ctx.classFileNames[ci];

  for (const ClassSeries& s : series) {
    for (float v : s.values) ctx.maxRawValue = std::max(ctx.maxRawValue, v);
  }
  // Each candidate's class score is its lowest score over the series, so the
  // default does not depend on the order of the series.
  std::array<float, 3> scores = {kScoreStart, kScoreStart, kScoreStart};
  if (!revision && !series.empty()) {
    std::vector<std::span<const float>> values;
    values.reserve(series.size());
    for (const ClassSeries& s : series) values.emplace_back(s.values);
    scores = scoreDefaultFits(values, ctx.detrend);
  }
  const auto count = static_cast<int32_t>(series.size());
  ctx.seriesInClass[ci] = count;
  AgeMean mean = meanByAge(series);

  int32_t curveOption = ctx.detrend.option;
  if (!revision) {
    ctx.log.echo(formatLayout("(/1x,'Processing file: ',a)", {ageName}));
    ctx.log.echo(freeLine({"total number of series = ", count}));
    if (count > 0) {
      const int32_t winner = chooseDefaultFit(scores);
      ctx.log.echo(freeLine({kDefaultFitMessages[static_cast<size_t>(winner - 1)]}));
      curveOption = kDefaultFitCodes[static_cast<size_t>(winner - 1)];
    }
  }

  pass.settingsBefore = ctx.detrend;
  pass.optionAsked = curveOption;
  ClassResult& result = pass.result;
  result.passed = true;
  result.revision = revision;
  result.seriesCount = count;
  std::vector<float> fitted;
  if (!mean.meanValues.empty()) {
    result.optionAsked = curveOption;
    ClassCurveFit fit = fitClassCurve(mean.meanValues, curveOption, ctx.detrend);
    showClassFit(ctx.console, fit);
    curveOption = fit.optionUsed;
    ctx.detrend.span = fit.settings.span;
    ctx.detrend.fitParam = fit.settings.fitParam;
    result.params = fit.params;
    result.atBound = std::move(fit.atBound);
    fitted = std::move(fit.curve);
    result.fitted = true;
    result.optionUsed = curveOption;
    result.settings = ctx.detrend;
    const auto bad = std::count_if(fitted.begin(), fitted.end(),
                                   [](float v) { return !std::isfinite(v); });
    if (bad > 0) {
      ctx.log.echo(freeLine({classLabel(ctx, classNumber) + ": Warning: the regional curve has", bad,
                             "undefined values; they are written as -999.0"}));
    }
    // A growth curve that ends on a bound of its domain: the data want a
    // flatter or simpler curve. Normal, but worth a line.
    if (!result.atBound.empty()) {
      std::string names;
      for (const std::string& name : result.atBound) names += (names.empty() ? "" : ", ") + name;
      ctx.log.echo(freeLine({classLabel(ctx, classNumber) + ", " + curveShortName(curveOption) + ": " +
                             names + " at the bound of the growth-curve domain"}));
    }
  }
  pass.curve = curveByAge(mean, fitted);
  pass.curveOption = fitted.empty() ? kNoCurveFitted : curveOption;
  ctx.classReruns[ci] = {series, fitted.empty() ? 0 : pass.optionAsked, pass.settingsBefore};

  if (!series.empty()) {
    result.minTotalAge = series.front().lastAge();
    result.maxTotalAge = series.front().lastAge();
    for (const ClassSeries& s : series) {
      result.minTotalAge = std::min(result.minTotalAge, s.lastAge());
      result.maxTotalAge = std::max(result.maxTotalAge, s.lastAge());
    }
  }
  result.diagnostics = classDiagnostics(series);
  result.classMaxAge = std::max(mean.classMaxAge, 0);
  result.meanAges = std::move(mean.meanAges);
  result.meanValues = std::move(mean.meanValues);
  result.depths = std::move(mean.meanDepths);
  return pass;
}

void writeClassFiles(RunContext& ctx, int32_t classNumber, std::span<const ClassSeries> series,
                     std::span<const float> curve, int32_t curveOption, const ClassResult& result) {
  const auto ci = static_cast<size_t>(classNumber - 1);
  ctx.classCurveOptions[ci] = curveOption;
  writeAgeAlignedFile(ctx.outputPath(ctx.classFileNames[ci]), series, curve);
  if (ctx.options.indexMode == 1 || ctx.options.indexMode == 2) {
    writeIndices(ctx, classNumber, series, curve);
  }
  ctx.maxAgeAllClasses = std::max(ctx.maxAgeAllClasses, result.classMaxAge);
  ctx.results.classes[ci] = result;
  ctx.results.classes[ci].curveByAge.assign(curve.begin(), curve.end());
}

void writeClassPass(RunContext& ctx, int32_t classNumber, const ClassPass& pass) {
  writeClassFiles(ctx, classNumber, pass.series, pass.curve, pass.curveOption, pass.result);
}

void classPass(RunContext& ctx, int32_t classNumber, bool revision) {
  const ClassPass pass = computeClassPass(ctx, classNumber, revision);
  writeClassPass(ctx, classNumber, pass);
}

}  // namespace kavrel
