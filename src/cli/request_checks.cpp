#include "cli/request_checks.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "driver/output_names.h"
#include "driver/pith_offsets.h"
#include "driver/rcdrvr.h"
#include "plot/picture.h"
#include "util/shown_text.h"

namespace kavrel::cli {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void refuse(const Given& given, const std::string& reason) {
  throw UsageError(given.origin + ": " + reason);
}

// A value in quotes for a message, cut and escaped when long or unprintable.
std::string inQuotes(std::string_view text) {
  std::string quoted(1, '\'');
  quoted.append(shownText(text));
  quoted.push_back('\'');
  return quoted;
}

// An optionally signed run of decimal digits that fits in 32 bits, and nothing else.
std::optional<int32_t> wholeNumber(std::string_view text) {
  if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
  int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// A decimal real number within single precision, and nothing else.
std::optional<float> realNumber(std::string_view text) {
  if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
  float value = 0.0f;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::string shortest(float value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

// LOWER:UPPER (or MIN:MAX, FROM:TO) of two numbers read by `parse`, the first
// not above the second.
template <typename Parse>
auto orderedPair(const Given& given, Parse parse, std::string_view first, std::string_view second,
                 std::string_view numbers) {
  const std::size_t colon = given.text.find(':');
  decltype(parse(std::string_view{})) low, high;
  if (colon != std::string::npos) {
    const std::string_view text = given.text;
    low = parse(text.substr(0, colon));
    high = parse(text.substr(colon + 1));
  }
  if (!low || !high) {
    refuse(given, inQuotes(given.text) + " is not " + std::string(first) + ":" +
                      std::string(second) + " with two " + std::string(numbers));
  }
  if (*low > *high) {
    auto show = [](auto v) {
      if constexpr (std::is_same_v<decltype(v), float>)
        return shortest(v);
      else
        return std::to_string(v);
    };
    refuse(given, std::string(first) + " " + show(*low) + " is above " + std::string(second) + " " +
                      show(*high));
  }
  return std::make_pair(*low, *high);
}

bool isTrue(const Given& given) { return given.text == "true"; }

fs::path withoutTrailingSeparator(fs::path path) {
  path = path.lexically_normal();
  if (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
  return path;
}

// An input-side path (a file to read, the out folder): the name as given,
// joined to its recipe's folder, and the path to open.
struct NamedPath {
  std::string shown;
  fs::path resolved;
};

NamedPath inputSidePath(const Given& given, const fs::path& startFolder) {
  if (given.text.empty()) refuse(given, "the path is empty");
  fs::path path(given.text);
  NamedPath named;
  if (!path.is_absolute() && !given.folder.empty()) {
    path = (given.folder / path).lexically_normal();
    named.shown = path.string();
  } else {
    named.shown = given.text;
  }
  named.resolved = withoutTrailingSeparator(path.is_absolute() ? path : startFolder / path);
  return named;
}

// An output file: relative to `base` unless absolute; it must name a file.
fs::path outputSidePath(const Given& given, const fs::path& base) {
  if (given.text.empty()) refuse(given, "the path is empty");
  const fs::path path(given.text);
  if (!path.has_filename() || path.filename() == "." || path.filename() == "..")
    refuse(given, inQuotes(given.text) + " names a folder, not a file");
  return (path.is_absolute() ? path : base / path).lexically_normal();
}

std::string lowerExtension(const fs::path& file) {
  std::string ext = file.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

// The value of a picture-file setting: its path (relative to the out folder)
// and its format.
std::pair<fs::path, std::optional<PictureFormat>> pictureFile(const Given& given,
                                                              const fs::path& outFolder) {
  const fs::path path = outputSidePath(given, outFolder);
  const std::optional<PictureFormat> format = pictureFormatOf(path);
  if (!format) refuse(given, inQuotes(given.text) + " must end in .ps, .pdf, .png or .svg");
  return {path, format};
}

fs::path recipeFile(const Given& given, const fs::path& startFolder) {
  const fs::path path = outputSidePath(given, startFolder);
  if (lowerExtension(path) != ".toml") refuse(given, inQuotes(given.text) + " must end in .toml");
  return path;
}

// The read format as typed, without a pair of enclosing quotes: the dialogue
// asks for it in quotes and keeps what is inside.
std::string unquoted(const std::string& text) {
  if (text.size() >= 2 && (text.front() == '\'' || text.front() == '"') &&
      text.back() == text.front())
    return text.substr(1, text.size() - 2);
  return text;
}

Revision revisionOf(const Given& given) {
  const std::string& text = given.text;
  const std::size_t first = text.find(':');
  const std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
  if (first == std::string::npos ||
      (second != std::string::npos && text.find(':', second + 1) != std::string::npos))
    refuse(given, "not CLASS:OPTION or CLASS:OPTION:ANSWER");
  const std::optional<int32_t> classNumber = wholeNumber(std::string_view(text).substr(0, first));
  if (!classNumber || *classNumber < 1 || *classNumber > 5)
    refuse(given, "the class must be a number 1..5");
  const std::string optionText =
      text.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
  const std::optional<int32_t> option = wholeNumber(optionText);
  if (!option) refuse(given, "the curve option " + inQuotes(optionText) + " is not a whole number");
  Revision revision;
  revision.classNumber = *classNumber;
  revision.option = *option;
  if (second != std::string::npos) revision.answer = text.substr(second + 1);
  if (const std::optional<std::string> why = curveAnswerError(revision.option, revision.answer))
    refuse(given, *why);
  return revision;
}

void pageSize(const Given& given, RunRequest& request) {
  const std::size_t x = given.text.find_first_of("xX");
  std::optional<int32_t> width, height;
  if (x != std::string::npos) {
    width = wholeNumber(std::string_view(given.text).substr(0, x));
    height = wholeNumber(std::string_view(given.text).substr(x + 1));
  }
  if (!width || !height)
    refuse(given, inQuotes(given.text) + " is not WIDTHxHEIGHT, e.g. 1600x1200");
  for (const int32_t side : {*width, *height}) {
    if (side < kMinPageSide || side > kMaxPageSide) {
      refuse(given, "each side must be " + std::to_string(kMinPageSide) + " to " +
                        std::to_string(kMaxPageSide) + " pixels");
    }
  }
  request.pageWidth = *width;
  request.pageHeight = *height;
}

std::string siteCode(const Given& given) {
  const std::string& code = given.text;
  const bool allowed = std::all_of(code.begin(), code.end(), [](unsigned char c) {
    return std::isalnum(c) != 0 || c == '-' || c == '_';
  });
  if (code.empty() || code.size() > kMaxSiteLength || !allowed) {
    refuse(given, inQuotes(code) + " is not a site code of 1 to " + std::to_string(kMaxSiteLength) +
                      " letters, digits, '-' or '_'");
  }
  return code;
}

// --- Checks of the file system. None of them writes anything. ---

void requireReadableFile(const Given& given, const NamedPath& file) {
  std::error_code ec;
  const fs::file_status status = fs::status(file.resolved, ec);
  if (status.type() == fs::file_type::not_found)
    refuse(given, "the file " + file.shown + " does not exist");
  if (fs::is_directory(status)) refuse(given, file.shown + " is a folder, not a file");
  if (!fs::is_regular_file(status)) {
    refuse(given, file.shown + (ec ? " can't be examined: " + ec.message()
                                   : std::string(" is not a regular file")));
  }
  // Opening a regular file reads nothing and changes nothing.
  std::FILE* f = std::fopen(file.resolved.c_str(), "rb");
  if (f == nullptr)
    refuse(given, "the file " + file.shown + " can't be read: " + std::strerror(errno));
  std::fclose(f);
}

bool writableFolder(const fs::path& folder) { return ::access(folder.c_str(), W_OK | X_OK) == 0; }

// Longest name of one file or folder, and of a whole path, the system takes.
constexpr std::size_t kMaxNameBytes = 255;
// The longest path, less room for the suffix of a scratch name beside it.
constexpr std::size_t kMaxPathBytes = 4095 - 12;

// Room a folder's path leaves for the names of the files written into it.
constexpr std::size_t kRoomForFileNames = 64;

// A path the system can open: no part longer than a file name may be, and
// not longer as a whole than a path may be, less `room` for what is added
// to it.
void requireOpenablePath(const Given& given, const fs::path& path, std::size_t room = 0) {
  const std::string whole = path.string();
  if (whole.size() + room > kMaxPathBytes) {
    refuse(given, "the path is " + std::to_string(whole.size()) + " bytes long; at most " +
                      std::to_string(kMaxPathBytes - room) + " can be used here");
  }
  for (const fs::path& part : path) {
    if (part.native().size() > kMaxNameBytes) {
      refuse(given, "the name " + shownText(part.native()) + " is " +
                        std::to_string(part.native().size()) + " bytes long; a file or folder " +
                        "name holds at most " + std::to_string(kMaxNameBytes));
    }
  }
}

// Files can be created in `folder`: it is a writable folder, or it can be
// created below its nearest existing ancestor, which is a writable folder.
void requireCreatableFolder(const Given& given, const fs::path& folder) {
  requireOpenablePath(given, folder, kRoomForFileNames);
  for (fs::path p = folder;; p = p.parent_path()) {
    std::error_code ec;
    const fs::file_status status = fs::status(p, ec);
    if (status.type() == fs::file_type::not_found && fs::is_symlink(fs::symlink_status(p, ec)))
      refuse(given, p.string() + " is a link to something that does not exist");
    if (status.type() != fs::file_type::not_found) {
      if (!fs::is_directory(status)) refuse(given, p.string() + " is not a folder");
      if (!writableFolder(p)) {
        refuse(given, "the folder " + p.string() + " is not writable: " + std::strerror(errno));
      }
      return;
    }
    if (p == p.parent_path() || p.parent_path().empty())
      refuse(given, "no part of " + folder.string() + " exists");
  }
}

// An output file can be written: it is not a folder or a special file, and
// its folder is an existing writable folder, or the out folder of a run
// without questions (checked on its own and created when missing).
void requireWritableFile(const Given& given, const fs::path& file,
                         const std::optional<fs::path>& outFolder) {
  requireOpenablePath(given, file);
  std::error_code ec;
  const fs::file_status status = fs::status(file, ec);
  if (fs::is_directory(status)) refuse(given, file.string() + " is a folder, not a file");
  if (fs::exists(status) && !fs::is_regular_file(status))
    refuse(given, file.string() + " is not a regular file");
  const fs::path folder = file.parent_path();
  if (outFolder && folder == *outFolder) return;
  const fs::file_status folderStatus = fs::status(folder, ec);
  if (!fs::is_directory(folderStatus))
    refuse(given, "the folder " + folder.string() + " does not exist");
  if (!writableFolder(folder)) {
    refuse(given, "the folder " + folder.string() + " is not writable: " + std::strerror(errno));
  }
}

// A file to read must not stand for one of the run's outputs in outFolder.
void requireNoOutput(const Given& given, const fs::path& file, const fs::path& outFolder) {
  const std::optional<std::string> output = runOutputFor(file, outFolder);
  if (!output) return;
  refuse(given, file.filename() == *output
                    ? *output + " is an output file of this run, which the run replaces"
                    : file.string() + " is the output file " + *output +
                          " of this run, which the run replaces");
}

// Whether two paths name one existing file (after links), or are the same path.
bool sameFile(const fs::path& a, const fs::path& b) {
  if (a.empty() || b.empty()) return false;
  if (a.lexically_normal() == b.lexically_normal()) return true;
  std::error_code ec;
  return fs::equivalent(a, b, ec) && !ec;
}

// Settings of a run without questions that fill the dialogue's answers.
void fillRunOptions(const GivenSettings& given, const fs::path& startFolder, RunRequest& request) {
  RunOptions& o = request.options;
  if (!given.input) {
    throw UsageError("INPUT: no ring-width file; give it after 'run' or as the recipe key 'input'");
  }
  const NamedPath input = inputSidePath(*given.input, startFolder);
  o.inputFileName = input.shown;
  request.inputPath = input.resolved;
  if (given.format) {
    const std::optional<InputFormat> format = inputFormatNamed(given.format->text);
    if (!format) {
      refuse(*given.format, inQuotes(given.format->text) + " is not decade, heidelberg or csv");
    }
    request.inputFormat = *format;
  }

  if (given.pith && !given.pithFormat) refuse(*given.pith, "needs --pith-format as well");
  if (given.pithFormat && !given.pith) refuse(*given.pithFormat, "needs --pith as well");
  if (given.pith) {
    const NamedPath pith = inputSidePath(*given.pith, startFolder);
    o.usePithOffsets = true;
    o.pithFileName = pith.shown;
    request.pithPath = pith.resolved;
    o.pithReadFormat = unquoted(given.pithFormat->text);
    std::string why;
    if (!parsePithFormat(o.pithReadFormat, &why)) {
      refuse(*given.pithFormat, inQuotes(o.pithReadFormat) +
                                    " is not a read format kavrel reads: " + why +
                                    " (use forms such as (i3) or (50x,i3))");
    }
  }
  if (given.power) o.powerTransform = isTrue(*given.power);
  if (given.outliers) {
    const auto [lower, upper] =
        orderedPair(*given.outliers, realNumber, "LOWER", "UPPER", "real numbers");
    o.removeOutliers = true;
    o.lowerLimit = lower;
    o.upperLimit = upper;
  }
  if (given.ageBand) {
    const auto [low, high] =
        orderedPair(*given.ageBand, wholeNumber, "MIN", "MAX", "whole numbers");
    o.restrictAgeBand = true;
    o.minAge = low;
    o.maxAge = high;
  }
  if (given.firstYears) {
    const auto [from, to] =
        orderedPair(*given.firstYears, wholeNumber, "FROM", "TO", "whole numbers (years)");
    o.restrictYears = true;
    o.firstYearMin = from;
    o.firstYearMax = to;
  }
  if (given.threshold) {
    const std::string& t = given.threshold->text;
    if (t != "mean" && t != "median")
      refuse(*given.threshold, inQuotes(t) + " is not mean or median");
    o.useMeanAge = (t == "mean");
  }
  o.indexMode = 1;  // ratios unless told otherwise
  if (given.index) {
    const std::string& t = given.index->text;
    if (t == "none")
      o.indexMode = 0;
    else if (t == "ratio")
      o.indexMode = 1;
    else if (t == "residual")
      o.indexMode = 2;
    else
      refuse(*given.index, inQuotes(t) + " is not none, ratio or residual");
  }
  for (const Given& curve : given.curves) request.revisions.push_back(revisionOf(curve));
}

// A chronology is built from the index series, so a run without indices
// can't give one.
void requireIndices(const GivenSettings& given, const Given& setting) {
  if (given.index && given.index->text == "none") {
    refuse(setting, "a chronology needs index series, but " + given.index->origin + " is none");
  }
}

// The signal-free loop's switch and its tuning; tuning without the loop is
// refused, so that it is never silently ignored.
void signalFreeSettings(const GivenSettings& given, RunRequest& request) {
  if (given.signalFree) request.signalFree = isTrue(*given.signalFree);
  SignalFreeSettings& sf = request.signalFreeSettings;
  for (const std::optional<Given>* tuning :
       {&given.sfTolerance, &given.sfMaxPasses, &given.sfMinDepth, &given.sfRobust}) {
    if (*tuning && !request.signalFree && (tuning != &given.sfRobust || isTrue(**tuning)))
      refuse(**tuning, "tunes the signal-free loop, which needs --signal-free");
  }
  if (given.sfTolerance) {
    const std::string& t = given.sfTolerance->text;
    double value = 0.0;
    const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), value);
    if (t.empty() || error != std::errc() || end != t.data() + t.size() || !std::isfinite(value) ||
        value <= 0.0)
      refuse(*given.sfTolerance, inQuotes(t) + " is not a positive number");
    sf.tolerance = value;
  }
  const auto atLeastOne = [](const Given& g) {
    const std::optional<int32_t> n = wholeNumber(g.text);
    if (!n || *n < 1) refuse(g, inQuotes(g.text) + " is not a whole number of 1 or more");
    return *n;
  };
  if (given.sfMaxPasses) sf.maxPasses = atLeastOne(*given.sfMaxPasses);
  if (given.sfMinDepth) sf.minDepth = atLeastOne(*given.sfMinDepth);
  if (given.sfRobust) sf.robust = isTrue(*given.sfRobust);
}

// The signal statistics' windows and correlation, the tree grouping and the
// chronology page's smoothed line. Settings that only shape a chronology are
// refused without one, so that they are never silently ignored.
void chronologySettings(const GivenSettings& given, RunRequest& request) {
  const bool chronology = request.chronology || !request.chronologyPagePath.empty();
  for (const std::optional<Given>* setting : {&given.window, &given.correlation}) {
    if (*setting && !chronology)
      refuse(**setting, "shapes the signal statistics, which need --chronology or "
                        "--chronology-page");
  }
  if (given.chronologySmooth && request.chronologyPagePath.empty())
    refuse(*given.chronologySmooth, "smooths the chronology page, which needs --chronology-page");
  if (given.window) {
    const std::string_view t = given.window->text;
    const std::size_t colon = t.find(':');
    std::optional<int32_t> length, lag;
    if (colon != std::string_view::npos) {
      length = wholeNumber(t.substr(0, colon));
      lag = wholeNumber(t.substr(colon + 1));
    }
    if (!length || !lag || *length < 3 || *lag < 1)
      refuse(*given.window, inQuotes(t) + " is not LENGTH:LAG with a length of 3 or more years "
                            "and a lag of 1 or more");
    request.windowLength = *length;
    request.windowLag = *lag;
  }
  if (given.correlation) {
    const std::string& t = given.correlation->text;
    if (t == "pearson")
      request.correlation = SignalCorrelation::Pearson;
    else if (t == "spearman")
      request.correlation = SignalCorrelation::Spearman;
    else
      refuse(*given.correlation, inQuotes(t) + " is not pearson or spearman");
  }
  if (given.treeChars) {
    const std::optional<int32_t> k = wholeNumber(given.treeChars->text);
    if (!k || *k < 0) refuse(*given.treeChars, inQuotes(given.treeChars->text) +
                                                   " is not a whole number of 0 or more");
    request.treeChars = *k;
  }
  if (given.chronologySmooth) {
    const std::optional<int32_t> years = wholeNumber(given.chronologySmooth->text);
    if (!years || *years < 10)
      refuse(*given.chronologySmooth,
             inQuotes(given.chronologySmooth->text) + " is not a whole number of 10 or more years");
    request.chronologySmooth = *years;
  }
}

// The chronology's confidence bands: the number of replicates and their
// tuning; tuning without replicates is refused, so that it is never silently
// ignored.
void bootstrapSettings(const GivenSettings& given, RunRequest& request) {
  const auto atLeast = [](const Given& g, int32_t low) {
    const std::optional<int32_t> n = wholeNumber(g.text);
    if (!n || *n < low)
      refuse(g, inQuotes(g.text) + " is not a whole number of " + std::to_string(low) + " or more");
    return *n;
  };
  if (given.bootstrap) {
    request.bootstrap = atLeast(*given.bootstrap, 1);
    requireIndices(given, *given.bootstrap);
    if (!request.chronology && request.chronologyPagePath.empty())
      refuse(*given.bootstrap, "the bands belong to the chronology: give --chronology or "
                               "--chronology-page");
  }
  for (const std::optional<Given>* tuning : {&given.seed, &given.ci, &given.threads}) {
    if (*tuning && request.bootstrap == 0)
      refuse(**tuning, "tunes the bootstrap, which needs --bootstrap");
  }
  if (given.seed) {
    const std::string& t = given.seed->text;
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), value);
    // A recipe holds TOML integers, which stop at 2^63 - 1.
    if (t.empty() || error != std::errc() || end != t.data() + t.size() ||
        value > static_cast<uint64_t>(INT64_MAX))
      refuse(*given.seed, inQuotes(t) + " is not a whole number of 0 or more");
    request.seed = value;
  }
  if (given.ci) {
    const std::string& t = given.ci->text;
    double value = 0.0;
    const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), value);
    if (t.empty() || error != std::errc() || end != t.data() + t.size() || !(value > 0.0) ||
        !(value < 1.0))
      refuse(*given.ci, inQuotes(t) + " is not a level between 0 and 1");
    request.ciLevel = value;
  }
  if (given.threads) request.threads = atLeast(*given.threads, 1);
}

}  // namespace

std::optional<PictureFormat> pictureFormatOf(const fs::path& file) {
  const std::optional<PictureTarget> target = pictureTarget(file.filename().string()).target;
  if (!target) return std::nullopt;
  return target->format;
}

RunRequest checkedRequest(const GivenSettings& given, bool interactive,
                          const fs::path& startFolder) {
  RunRequest request;
  request.interactive = interactive;
  request.outFolder = withoutTrailingSeparator(startFolder);

  // Values first, in the order of the help text.
  if (!interactive) fillRunOptions(given, startFolder, request);
  if (given.out) {
    request.outFolder = inputSidePath(*given.out, startFolder).resolved;
    request.outFolderGiven = true;
  }
  if (given.page) {
    std::tie(request.pagePath, request.pageFormat) = pictureFile(*given.page, request.outFolder);
  }
  if (given.pithTable) {
    if (given.pith) refuse(*given.pithTable, "can't be given with " + given.pith->origin);
    const NamedPath table = inputSidePath(*given.pithTable, startFolder);
    request.options.usePithOffsets = true;
    request.options.pithTableFileName = table.shown;
    request.pithTablePath = table.resolved;
  }
  if (given.report) request.report = isTrue(*given.report);
  if (given.chronology) {
    request.chronology = isTrue(*given.chronology);
    if (request.chronology) requireIndices(given, *given.chronology);
  }
  if (given.chronologyPage) {
    std::tie(request.chronologyPagePath, request.chronologyPageFormat) =
        pictureFile(*given.chronologyPage, request.outFolder);
    requireIndices(given, *given.chronologyPage);
    if (request.chronologyPagePath == request.pagePath)
      refuse(*given.chronologyPage, "the same file as the regional-curve page");
  }
  if (given.pageSize) pageSize(*given.pageSize, request);
  if (given.site) request.site = siteCode(*given.site);
  chronologySettings(given, request);
  if (given.quiet) request.quiet = isTrue(*given.quiet);
  signalFreeSettings(given, request);
  bootstrapSettings(given, request);
  if (given.singleCurve) request.singleCurve = isTrue(*given.singleCurve);
  // One class: a revision names class 1.
  for (size_t i = 0; request.singleCurve && i < request.revisions.size(); ++i) {
    if (request.revisions[i].classNumber != 1)
      refuse(given.curves[i], "with --single-curve the one class is class 1");
  }
  if (given.recipe) request.recipePath = inputSidePath(*given.recipe, startFolder).resolved;
  if (given.saveRecipe) request.saveRecipePath = recipeFile(*given.saveRecipe, startFolder);
  if (given.record) request.recordPath = recipeFile(*given.record, startFolder);

  // Then the file system: what is read exists, where files go is usable. The
  // dialogue writes into the start folder as it always has; a run without
  // questions checks its out folder, given or not.
  std::optional<fs::path> outFolder;
  if (given.pithTable) {
    requireReadableFile(*given.pithTable, inputSidePath(*given.pithTable, startFolder));
    requireNoOutput(*given.pithTable, request.pithTablePath, request.outFolder);
  }
  if (!interactive) {
    requireReadableFile(*given.input, inputSidePath(*given.input, startFolder));
    if (given.pith) requireReadableFile(*given.pith, inputSidePath(*given.pith, startFolder));
    const Given defaultOut{".", "--out (not given: the current folder)", {}};
    requireCreatableFolder(given.out ? *given.out : defaultOut, request.outFolder);
    outFolder = request.outFolder;
  }
  if (given.page) requireWritableFile(*given.page, request.pagePath, outFolder);
  if (given.chronologyPage)
    requireWritableFile(*given.chronologyPage, request.chronologyPagePath, outFolder);
  if (given.saveRecipe) requireWritableFile(*given.saveRecipe, request.saveRecipePath, outFolder);
  if (given.record) requireWritableFile(*given.record, request.recordPath, outFolder);

  // A run replaces its outputs, so a file it reads must be none of them, and
  // no file it writes may be a file it reads.
  if (!interactive) {
    requireNoOutput(*given.input, request.inputPath, request.outFolder);
    if (given.pith) requireNoOutput(*given.pith, request.pithPath, request.outFolder);
    const std::pair<const std::optional<Given>&, const fs::path&> written[] = {
        {given.page, request.pagePath},
        {given.chronologyPage, request.chronologyPagePath},
        {given.saveRecipe, request.saveRecipePath}};
    for (const auto& [setting, path] : written) {
      if (!setting) continue;
      for (const fs::path& read : {request.inputPath, request.pithPath, request.pithTablePath}) {
        if (sameFile(path, read)) refuse(*setting, path.string() + " is a file this run reads");
      }
    }
  }
  return request;
}

}  // namespace kavrel::cli
