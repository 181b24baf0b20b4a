#include "driver/run_options.h"

#include <algorithm>
#include <filesystem>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "driver/input_checks.h"
#include "driver/output_names.h"
#include "driver/pith_offsets.h"
#include "driver/pith_table.h"
#include "driver/run_context.h"
#include "util/console.h"
#include "util/fatal.h"
#include "util/fixedformat.h"
#include "util/shown_text.h"

namespace kavrel {

namespace {

constexpr const char* kPithReadError = "There was an error reading the pith offset information";
constexpr const char* kPithTerminating =
    "Check the format entered and try again. Program Terminating.";

// Text as typed, without the blanks a fixed-length field would add.
std::string trimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// Asks a question that repeats while the answer is not one of 0, 1, 2.
int32_t askIndexMode(Console& console) {
  for (;;) {
    int32_t mode = console.askInteger(
        "\n Compute indices? \n"
        "  [0] No \n"
        "  [1] As Ratios \n"
        "  [2] As Residuals :> ");
    if (mode >= 0 && mode <= 2) return mode;
    console.writeLine("\n Enter a value between 0 and 2");
    console.pause(" hit return to contunue");
  }
}

// Asks for the name of a file to read until it names none of the run's
// outputs: the run replaces those, so the data would be lost.
std::string askInputName(RunContext& ctx, std::string_view block) {
  for (;;) {
    std::string name = trimmed(ctx.console.askText(block));
    const std::optional<std::string> output = runOutputFor(name, ctx.outputDir, ctx.namedOutputs);
    if (!output) {
      if (const std::optional<std::string> problem = fileToReadProblem(name, name)) {
        ctx.console.writeLine(" " + *problem + "; enter another name.");
        continue;
      }
      return name;
    }
    const std::string what =
        name == *output ? " is an output file" : " is the output file " + *output;
    ctx.console.writeLine(" " + name + what +
                          " of this run, which the run replaces; enter another name.");
  }
}

void logLimits(RunLog& log, FmtArg lower, FmtArg upper) {
  log.line(freeLine({" Lower limit = ", lower}));
  log.line(freeLine({" Upper limit = ", upper}));
}

// The answers are kept as given; a pair whose lower end lies above its upper
// end is most likely a slip, so it gets one warning line on the screen and in
// the log.
template <typename T>
void warnIfReversed(RunLog& log, const char* what, T lower, T upper) {
  if (lower > upper) {
    log.echo(freeLine({"Warning:", what, "lower limit", lower, "is above its upper limit", upper}));
  }
}

}  // namespace

void readPithOffsetFile(RunOptions& options, std::vector<int32_t>& pithOffsets,
                        const std::filesystem::path& file) {
  std::string why;
  std::optional<PithFormat> format = parsePithFormat(options.pithReadFormat, &why);
  if (!format) {
    throw Fatal(std::string("\n") + kPithReadError + "\nThe read format " + options.pithReadFormat +
                " is not supported: " + why + ". Use forms such as (i3) or (50x,i3).\n" +
                kPithTerminating);
  }
  const std::filesystem::path path = file.empty() ? std::filesystem::path(options.pithFileName) : file;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    throw Fatal("Cannot open the pith offset file " + options.pithFileName +
                " for reading: " + std::strerror(errno));
  }
  errno = 0;
  PithReadResult result = readPithOffsets(f, *format, kMaxPithOffsets);
  // A directory opens but can't be read: report it like a missing file.
  const int readError = std::ferror(f) != 0 ? (errno != 0 ? errno : EIO) : 0;
  std::fclose(f);
  if (readError != 0) {
    throw Fatal("Cannot open the pith offset file " + options.pithFileName +
                " for reading: " + std::strerror(readError));
  }
  if (result.badRecord != 0) {
    throw Fatal(std::string("\n") + kPithReadError + "\nRecord " +
                std::to_string(result.badRecord) + " of " + options.pithFileName +
                (result.negative ? std::string(" holds a negative pith offset.\n")
                                 : " does not fit the format " + options.pithReadFormat + ".\n") +
                kPithTerminating);
  }
  pithOffsets = std::move(result.offsets);
  options.offsetCount = static_cast<int32_t>(pithOffsets.size());
}

void applyInputFile(RunContext& ctx) {
  const std::string& name = ctx.options.inputFileName;
  ctx.log.line(freeLine({"input file = ", escapedText(name)}));
  requireSomeSeries(name, ctx.inputPath.empty() ? std::filesystem::path(name) : ctx.inputPath,
                    ctx.inputFormat);
}

void applyPithOffsets(RunContext& ctx, const std::filesystem::path& file) {
  RunOptions& o = ctx.options;
  readPithOffsetFile(o, ctx.store.pithOffsets, file);
  // A count of 10000 widens the 4-digit field instead of showing asterisks.
  if (!ctx.log.quiet()) {
    ctx.console.writeLine(formatLayout(o.offsetCount > 9999 ? "(/2x,a,i5)" : "(/2x,a,i4)",
                                       {"Number of offsets read = ", o.offsetCount}));
  }
  ctx.log.line(freeLine({"pith offset file = ", escapedText(o.pithFileName)}));
  ctx.log.line(freeLine({"Number of offsets read = ", o.offsetCount}));
  // Offsets that all read 0 usually come from a format pointing at blank or
  // wrong columns, e.g. '(5x,i3)' on a file whose offsets stand elsewhere.
  const std::vector<int32_t>& offsets = ctx.store.pithOffsets;
  if (!offsets.empty() &&
      std::all_of(offsets.begin(), offsets.end(), [](int32_t v) { return v == 0; })) {
    ctx.log.echo(freeLine({"Warning: every pith offset read from", o.pithFileName,
                           "is 0; check the read format", o.pithReadFormat}));
  }
}

void readPithTableFile(const std::string& name, const std::filesystem::path& file,
                       std::vector<NamedPithOffset>& rows) {
  const std::filesystem::path path = file.empty() ? std::filesystem::path(name) : file;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    throw Fatal("Cannot open the pith table " + name + " for reading: " + std::strerror(errno));
  }
  std::string text;
  char buffer[65536];
  errno = 0;
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, got);
  const int readError = std::ferror(f) != 0 ? (errno != 0 ? errno : EIO) : 0;
  std::fclose(f);
  if (readError != 0) {
    throw Fatal("Cannot open the pith table " + name + " for reading: " + std::strerror(readError));
  }
  try {
    rows = parsePithTable(text, kMaxPithOffsets);
  } catch (const PithTableError& e) {
    std::string where = name + ", line " + std::to_string(e.line());
    if (e.column() > 0) where += ", column " + std::to_string(e.column());
    throw Fatal("Cannot read the pith table " + where + ": " + e.what() + ".");
  }
}

void applyPithTable(RunContext& ctx, const std::filesystem::path& file) {
  RunOptions& o = ctx.options;
  readPithTableFile(o.pithTableFileName, file, ctx.store.pithTable);
  o.offsetCount = static_cast<int32_t>(ctx.store.pithTable.size());
  if (!ctx.log.quiet()) {
    ctx.console.writeLine(formatLayout(o.offsetCount > 9999 ? "(/2x,a,i5)" : "(/2x,a,i4)",
                                       {"Number of offsets read = ", o.offsetCount}));
  }
  ctx.log.line(freeLine({"pith offset table = ", o.pithTableFileName}));
  ctx.log.line(freeLine({"Number of offsets read = ", o.offsetCount}));
  ctx.log.line(freeLine({"Pith offsets are paired with the series by name"}));
}

void applyPowerTransform(RunContext& ctx) {
  ctx.log.line(freeLine({"Power Transformation = ", ctx.options.powerTransform}));
}

void applyOutlierChoice(RunContext& ctx) {
  ctx.log.line(freeLine({"Remove Outliers = ", ctx.options.removeOutliers}));
}

bool hasReversedLimits(const RunOptions& o) {
  return (o.removeOutliers && o.lowerLimit > o.upperLimit) ||
         (o.restrictAgeBand && o.minAge > o.maxAge) ||
         (o.restrictYears && o.firstYearMin > o.firstYearMax);
}

void applyOutlierLimits(RunContext& ctx) {
  const RunOptions& o = ctx.options;
  logLimits(ctx.log, o.lowerLimit, o.upperLimit);
  warnIfReversed(ctx.log, "the outlier", o.lowerLimit, o.upperLimit);
}

void applyAgeBandChoice(RunContext& ctx) {
  ctx.log.line(freeLine({"Restrict Age band = ", ctx.options.restrictAgeBand}));
}

void applyAgeBandLimits(RunContext& ctx) {
  const RunOptions& o = ctx.options;
  logLimits(ctx.log, o.minAge, o.maxAge);
  warnIfReversed(ctx.log, "the age band's", o.minAge, o.maxAge);
}

void applyFirstYearChoice(RunContext& ctx) {
  ctx.log.line(freeLine({"Restrict Chronology length = ", ctx.options.restrictYears}));
}

void applyFirstYearLimits(RunContext& ctx) {
  const RunOptions& o = ctx.options;
  logLimits(ctx.log, o.firstYearMin, o.firstYearMax);
  warnIfReversed(ctx.log, "the first-year band's", o.firstYearMin, o.firstYearMax);
}

void applyAgeThreshold(RunContext& ctx) {
  ctx.log.line(
      freeLine({ctx.options.useMeanAge ? "Using file Mean Age " : "Using file Median Age"}));
}

void applyIndexMode(RunContext& ctx) {
  static constexpr const char* kModeLines[] = {"No detrending", "Compute Ratios",
                                               "Compute Residuals"};
  const int32_t mode = ctx.options.indexMode;
  if (mode < 0 || mode > 2) throw Fatal("Index mode " + std::to_string(mode) + " is not 0, 1 or 2");
  ctx.log.line(freeLine({kModeLines[mode]}));
  if (mode == 1 || mode == 2) ctx.openCombinedIndexFile();
}

void applyRunOptions(RunContext& ctx, const std::filesystem::path& pithFile) {
  const RunOptions& o = ctx.options;
  applyInputFile(ctx);
  if (o.usePithOffsets && !o.pithTableFileName.empty()) {
    applyPithTable(ctx, ctx.pithTablePath);
  } else if (o.usePithOffsets) {
    applyPithOffsets(ctx, pithFile);
  }
  applyPowerTransform(ctx);
  applyOutlierChoice(ctx);
  if (o.removeOutliers) applyOutlierLimits(ctx);
  applyAgeBandChoice(ctx);
  if (o.restrictAgeBand) applyAgeBandLimits(ctx);
  applyFirstYearChoice(ctx);
  if (o.restrictYears) applyFirstYearLimits(ctx);
  applyAgeThreshold(ctx);
  applyIndexMode(ctx);
}

void askRunOptions(RunContext& ctx) {
  Console& console = ctx.console;
  RunOptions& o = ctx.options;

  o.inputFileName = askInputName(ctx, "\n Enter input file of tree-ring measurements :> ");
  ctx.inputPath = o.inputFileName;
  applyInputFile(ctx);

  // A pith table given with the options answers the question.
  if (!o.pithTableFileName.empty()) {
    o.usePithOffsets = true;
    applyPithTable(ctx, ctx.pithTablePath);
  } else {
  o.usePithOffsets = console.askLogical(
      "\n Is there a Pith Offset file to accompany these data?\n"
      "  This is a column file of pith offset estimates where the\n"
      "  row number corresponds directly with the sequence order of\n"
      "  the series in file: " +
      o.inputFileName +
      "\n"
      "\n  Enter t[rue] or f[alse] :> ");
  if (o.usePithOffsets) {
    o.pithFileName = askInputName(ctx, "\n  Enter Pith Offset file name :> ");
    o.pithReadFormat =
        trimmed(console.askQuotedText("\n  Enter FORTRAN read format (within single quotes)\n"
                                "  Examples: '(i3)' or '(50x,i3)'  :> "));
    applyPithOffsets(ctx, o.pithFileName);
  }
  }

  o.powerTransform = console.askLogical("\n Apply Power Transformation [t]rue or [f]alse :> ");
  applyPowerTransform(ctx);

  o.removeOutliers = console.askLogical(
      "\n Remove outliers ?\n"
      "  Skip records with values greater than some lower limit\n"
      "  less than some upper limit\n"
      "  [t]rue or [f]alse :> ");
  applyOutlierChoice(ctx);
  if (o.removeOutliers) {
    o.upperLimit = console.askReal("  Enter upper limit (as a real number) :> ");
    o.lowerLimit = console.askReal("  Enter lower limit (as a real number) :> ");
    applyOutlierLimits(ctx);
  }

  o.restrictAgeBand = console.askLogical(
      "\n Restrict Age band?\n"
      "  Confine analysis to include only those records with\n"
      "  more than x and less then y values\n"
      "  [t]rue or [f]alse :> ");
  applyAgeBandChoice(ctx);
  if (o.restrictAgeBand) {
    o.minAge = console.askInteger("  Enter lower Age limit (as an integer) :> ");
    o.maxAge = console.askInteger("  Enter upper Age limit (as an integer) :> ");
    applyAgeBandLimits(ctx);
  }

  o.restrictYears = console.askLogical(
      "\n Restrict Chronology length?\n"
      "  Confine analysis to only those records with an initial year.\n"
      "  greater than x and less than y.\n"
      "  [t]rue or [f]alse :> ");
  applyFirstYearChoice(ctx);
  if (o.restrictYears) {
    o.firstYearMin = console.askInteger("  Enter First Year (as an integer) :> ");
    o.firstYearMax = console.askInteger("  Enter Last Year (as an integer) :> ");
    applyFirstYearLimits(ctx);
  }

  // Any integer is accepted; only 1 selects the mean.
  const int32_t ageChoice = console.askInteger(
      "\n Use Mean or Median\n"
      "  values for defining age classes?\n"
      "  [1] Mean or [2] Median  :> ");
  o.useMeanAge = (ageChoice == 1);
  applyAgeThreshold(ctx);

  o.indexMode = askIndexMode(console);
  applyIndexMode(ctx);
}

}  // namespace kavrel
