#include "driver/class_pass.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "driver/run_context.h"
#include "rwfile/trrw.h"
#include "fit/curve.h"
#include "fit/fit_result.h"
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

// Fits the class curve: shows the fit's lines on the screen (not in the log),
// waits for Return where the fit asks, and ends the run on a failed fit with
// its message.
FitResult fitClassCurve(Console& console, std::span<const float> values,
                        const DetrendOptions& detrend) {
  FitSettings settings;
  settings.detrend = detrend;
  settings.maxLen = kMaxRings;
  FitResult fit = fitSeries(values, settings);
  size_t pause = 0;
  for (size_t i = 0; i <= fit.lines.size(); ++i) {
    for (; pause < fit.pauses.size() && fit.pauses[pause] == i; ++pause) console.pause();
    if (i < fit.lines.size()) console.writeLine(fit.lines[i]);
  }
  console.flush();
  if (fit.status == FitStatus::failed) throw Fatal(fit.failure, fit.failurePauses);
  return fit;
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
          {"Warning: class", classNumber, "series", trimmedId(s.id), "age", p.age, "regional curve",
           p.curve, problemText(p.curve, mode)});
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
    ctx.log.echo(freeLine({"Class " + std::to_string(classNumber) + ":",
                           problemCount - kScreenProblemLines, "more index warnings are in the log"}));
  }
  file.commit();
  ctx.results.replaceIndexSeries(classNumber, std::move(kept), std::move(keptIds));
}

}  // namespace

AgeMean meanByAge(std::span<const ClassSeries> series) {
  AgeMean mean;
  for (const ClassSeries& s : series) {
    mean.classMaxAge = std::max(mean.classMaxAge, s.lastAge());
    mean.classMinPithOffset = std::min(mean.classMinPithOffset, s.pithOffset);
  }
  if (series.empty() || mean.classMaxAge <= 0) return mean;
  // The count is kept as a real, as the sum is; both are single precision and
  // summed in series order.
  std::vector<float> ageSum(static_cast<size_t>(mean.classMaxAge), 0.0f);
  std::vector<float> ageCount(static_cast<size_t>(mean.classMaxAge), 0.0f);
  std::vector<int32_t> depth(static_cast<size_t>(mean.classMaxAge), 0);
  for (const ClassSeries& s : series) {
    for (size_t r = 0; r < s.values.size(); ++r) {
      const float v = s.values[r];
      if (v == kMissingValue) continue;
      const size_t j = static_cast<size_t>(s.pithOffset) + r;
      ageSum[j] += v;
      ageCount[j] += 1.0f;
      ++depth[j];
    }
  }
  for (int32_t j = 1; j <= mean.classMaxAge; ++j) {
    const auto i = static_cast<size_t>(j - 1);
    if (ageCount[i] != 0.0f) {
      mean.meanValues.push_back(ageSum[i] / ageCount[i]);
      mean.meanAges.push_back(j);
      mean.meanDepths.push_back(depth[i]);
    }
  }
  return mean;
}

std::vector<float> curveByAge(const AgeMean& mean, std::span<const float> fitted) {
  std::vector<float> curve(static_cast<size_t>(std::max(mean.classMaxAge, 0)), kMissingValue);
  const size_t n = std::min(fitted.size(), mean.meanAges.size());
  for (size_t i = 0; i < n; ++i) {
    if (std::isfinite(fitted[i])) curve[static_cast<size_t>(mean.meanAges[i] - 1)] = fitted[i];
  }
  return curve;
}

bool defaultFitComputable(int32_t code, std::span<const float> present) {
  if (code == 1) return static_cast<int32_t>(present.size()) >= kCurveMinValues;
  if (code != 8) return true;
  return std::any_of(present.begin(), present.end(), [](float v) { return v > 0.0f; });
}

std::array<float, 3> scoreSeriesFits(std::span<const float> values,
                                     const DetrendOptions& settings) {
  std::array<float, 3> scores = {kScoreStart, kScoreStart, kScoreStart};
  // A missing ring is no width: fitting it would drag every candidate.
  std::vector<float> present;
  present.reserve(values.size());
  for (float v : values) {
    if (v != kMissingValue) present.push_back(v);
  }
  // Only a series every candidate can be fitted to takes part.
  for (int32_t code : kDefaultFitCodes) {
    if (!defaultFitComputable(code, present)) return scores;
  }
  std::array<float, 3> deviations{};
  std::vector<float> residuals(present.size());
  FitSettings fit;
  fit.detrend = settings;
  fit.search = FitSearch::coarse;  // only the deviations are compared
  for (size_t f = 0; f < scores.size(); ++f) {
    fit.detrend.option = kDefaultFitCodes[f];
    const FitResult r = fitSeries(present, fit);
    if (r.status != FitStatus::ok) return scores;
    const size_t n = std::min(r.curve.size(), present.size());
    for (size_t i = 0; i < n; ++i) residuals[i] = present[i] - r.curve[i];
    deviations[f] = moment(residuals, static_cast<int32_t>(n)).meanAbsDev;
  }
  for (size_t f = 0; f < scores.size(); ++f) scores[f] = std::min(scores[f], deviations[f]);
  return scores;
}

std::array<float, 3> scoreDefaultFits(std::span<const std::span<const float>> series,
                                      const DetrendOptions& settings) {
  std::array<float, 3> scores = {kScoreStart, kScoreStart, kScoreStart};
  for (std::span<const float> values : series) {
    const std::array<float, 3> own = scoreSeriesFits(values, settings);
    for (size_t f = 0; f < scores.size(); ++f) scores[f] = std::min(scores[f], own[f]);
  }
  return scores;
}

int32_t chooseDefaultFit(const std::array<float, 3>& scores) {
  int32_t best = 1;
  for (int32_t f = 2; f <= 3; ++f) {
    if (scores[static_cast<size_t>(f - 1)] < scores[static_cast<size_t>(best - 1)]) best = f;
  }
  return best;
}

float minResidual(const ClassSeries& series, std::span<const float> curveByAge) {
  float m = kScoreStart;
  for (size_t r = 0; r < series.values.size(); ++r) {
    const float v = series.values[r];
    const size_t j = static_cast<size_t>(series.pithOffset) + r;
    if (v == kMissingValue || j >= curveByAge.size()) continue;
    const float c = curveByAge[j];
    if (c == kMissingValue) continue;
    m = std::min(m, v - c);
  }
  return m;
}

std::vector<float> indexSeries(const ClassSeries& series, std::span<const float> curveByAge,
                               int32_t indexMode, float seriesMinResidual,
                               std::vector<IndexProblem>& problems) {
  const float shift = std::fabs(std::min(seriesMinResidual, 0.0f));
  std::vector<float> index;
  index.reserve(series.values.size());
  for (size_t r = 0; r < series.values.size(); ++r) {
    const float v = series.values[r];
    if (v == kMissingValue) {
      index.push_back(kMissingValue);
      continue;
    }
    const auto age = static_cast<int32_t>(static_cast<size_t>(series.pithOffset) + r + 1);
    const float c =
        static_cast<size_t>(age) <= curveByAge.size() ? curveByAge[static_cast<size_t>(age - 1)]
                                                       : kMissingValue;
    const bool usable = c != kMissingValue && std::isfinite(c) && (indexMode != 1 || c > 0.0f);
    float x = kMissingValue;
    if (usable) {
      // Left to right in single precision: (v - c) + shift + 0.001.
      x = indexMode == 1 ? v / c : v - c + shift + 0.001f;
    }
    if (!usable || !std::isfinite(x)) {
      problems.push_back({age, c});
      index.push_back(kMissingValue);
      continue;
    }
    index.push_back(x > 0.998f && x < 1.0f ? 0.998f : x);
  }
  return index;
}

std::vector<float> chronologyValues(const ClassSeries& series, std::span<const float> curveByAge,
                                    int32_t indexMode, std::span<const float> index) {
  std::vector<float> values(index.size(), kMissingValue);
  for (size_t r = 0; r < index.size() && r < series.values.size(); ++r) {
    const size_t j = static_cast<size_t>(series.pithOffset) + r;
    if (index[r] == kMissingValue || j >= curveByAge.size()) continue;
    const float v = series.values[r];
    const float c = curveByAge[j];
    values[r] = indexMode == 1 ? v / c : v - c;
  }
  return values;
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

void classPass(RunContext& ctx, int32_t classNumber, bool revision) {
  if (classNumber < 1 || classNumber > kClassCount) {
    throw Fatal("Class number " + std::to_string(classNumber) + " is outside 1..5");
  }
  const auto ci = static_cast<size_t>(classNumber - 1);
  const std::string rawName = kClassFileNames[ci];
  ctx.classFileNames[ci] = rawName;
  std::vector<ClassSeries> series =
      readClassFile(ctx.outputPath(rawName).string(), ctx.store.classPithOffsets[ci]);
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

  ClassResult result;
  result.passed = true;
  result.revision = revision;
  result.seriesCount = count;
  std::vector<float> fitted;
  if (!mean.meanValues.empty()) {
    result.optionAsked = curveOption;
    DetrendOptions asked = ctx.detrend;
    asked.option = curveOption;
    FitResult fit = fitClassCurve(ctx.console, mean.meanValues, asked);
    curveOption = fit.methodUsed;
    ctx.detrend.span = fit.span;
    ctx.detrend.fitParam = fit.fitParam;
    result.params = fit.params;
    fitted = std::move(fit.curve);
    result.fitted = true;
    result.optionUsed = curveOption;
    result.settings = ctx.detrend;
    const auto bad = std::count_if(fitted.begin(), fitted.end(),
                                   [](float v) { return !std::isfinite(v); });
    if (bad > 0) {
      ctx.log.echo(freeLine({"Warning: the regional curve of class", classNumber, "has", bad,
                             "undefined values; they are written as -999.0"}));
    }
  }
  std::vector<float> curve = curveByAge(mean, fitted);
  ctx.classCurveOptions[ci] = fitted.empty() ? kNoCurveFitted : curveOption;
  writeAgeAlignedFile(ctx.outputPath(ageName), series, curve);
  if (ctx.options.indexMode == 1 || ctx.options.indexMode == 2) {
    writeIndices(ctx, classNumber, series, curve);
  }
  ctx.maxAgeAllClasses = std::max(ctx.maxAgeAllClasses, mean.classMaxAge);

  if (!series.empty()) {
    result.minTotalAge = series.front().lastAge();
    result.maxTotalAge = series.front().lastAge();
    for (const ClassSeries& s : series) {
      result.minTotalAge = std::min(result.minTotalAge, s.lastAge());
      result.maxTotalAge = std::max(result.maxTotalAge, s.lastAge());
    }
  }
  result.classMaxAge = std::max(mean.classMaxAge, 0);
  result.meanAges = std::move(mean.meanAges);
  result.meanValues = std::move(mean.meanValues);
  result.depths = std::move(mean.meanDepths);
  result.curveByAge = std::move(curve);
  ctx.results.classes[ci] = std::move(result);
}

}  // namespace kavrel
