#include "cli/recipe.h"

#include <toml++/toml.h>

#include <array>
#include <charconv>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "util/shown_text.h"

namespace kavrel::cli {

namespace {

namespace fs = std::filesystem;

template <typename T>
std::string shortest(T value) {
  char buffer[40];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

// A number of a recipe array as the text the command line would give.
std::optional<std::string> numberText(const toml::node& node, bool wholeOnly) {
  if (const auto whole = node.value_exact<int64_t>()) return std::to_string(*whole);
  if (wholeOnly) return std::nullopt;
  if (const auto real = node.value_exact<double>()) return shortest(*real);
  return std::nullopt;
}

class RecipeReader {
 public:
  RecipeReader(const Given& recipe, const fs::path& startFolder)
      : name_(recipe.text), folder_(fs::path(recipe.text).parent_path()) {
    const fs::path path =
        fs::path(recipe.text).is_absolute() ? fs::path(recipe.text) : startFolder / recipe.text;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::is_regular_file(status)) {
      throw UsageError(recipe.origin + ": " +
                       (status.type() == fs::file_type::not_found
                            ? "the recipe " + recipe.text + " does not exist"
                            : recipe.text + " is not a recipe file"));
    }
    try {
      table_ = toml::parse_file(path.string());
    } catch (const toml::parse_error& e) {
      std::ostringstream where;
      where << recipe.origin << ": " << recipe.text << ", line " << e.source().begin.line
            << ", column " << e.source().begin.column << ": " << e.description();
      throw UsageError(where.str());
    }
  }

  GivenSettings settings() const {
    GivenSettings settings;
    for (auto&& [key, node] : table_) {
      const std::string name(key.str());
      const SettingSpec* spec = specNamed(name);
      if (spec == nullptr) {
        throw UsageError("recipe " + name_ + ": unknown key '" + shownText(name) + "'");
      }
      if (spec->kind == SettingKind::list) {
        settings.curves = curves(name, node);
      } else {
        settings.*spec->member = Given{valueText(*spec, node), origin(name), folder_};
      }
    }
    return settings;
  }

 private:
  static const SettingSpec* specNamed(std::string_view name) {
    for (const SettingSpec& spec : settingSpecs()) {
      if (spec.inRecipe && spec.name == name) return &spec;
    }
    return nullptr;
  }

  std::string origin(std::string_view key) const {
    return "recipe " + name_ + ", key '" + std::string(key) + "'";
  }

  [[noreturn]] void wrongType(std::string_view key, std::string_view expected) const {
    throw UsageError(origin(key) + ": expected " + std::string(expected));
  }

  std::string valueText(const SettingSpec& spec, const toml::node& node) const {
    switch (spec.kind) {
      case SettingKind::text:
        if (!node.is_string()) wrongType(spec.name, "a string");
        return *node.value<std::string>();
      case SettingKind::flag:
        if (!node.is_boolean()) wrongType(spec.name, "true or false");
        return *node.value<bool>() ? "true" : "false";
      case SettingKind::realPair:
      case SettingKind::intPair: {
        const bool whole = spec.kind == SettingKind::intPair;
        const char* expected = whole ? "an array of two whole numbers, e.g. [20, 400]"
                                     : "an array of two numbers, e.g. [0.0, 5.0]";
        const toml::array* pair = node.as_array();
        if (pair == nullptr || pair->size() != 2) wrongType(spec.name, expected);
        const std::optional<std::string> low = numberText((*pair)[0], whole);
        const std::optional<std::string> high = numberText((*pair)[1], whole);
        if (!low || !high) wrongType(spec.name, expected);
        return *low + ":" + *high;
      }
      case SettingKind::real:
      case SettingKind::whole: {
        const bool whole = spec.kind == SettingKind::whole;
        const std::optional<std::string> text = numberText(node, whole);
        if (!text) wrongType(spec.name, whole ? "a whole number" : "a number");
        return *text;
      }
      case SettingKind::list:
        break;
    }
    return {};
  }

  std::vector<Given> curves(std::string_view key, const toml::node& node) const {
    const char* expected = "an array of strings, e.g. [\"3:-5:7\", \"1:4\"]";
    const toml::array* items = node.as_array();
    if (items == nullptr) wrongType(key, expected);
    std::vector<Given> list;
    for (const toml::node& item : *items) {
      if (!item.is_string()) wrongType(key, expected);
      const std::string text = *item.value<std::string>();
      list.push_back(Given{text, origin(key) + " item " + text, folder_});
    }
    return list;
  }

  std::string name_;  // the recipe's path as given
  fs::path folder_;   // the recipe's folder as given
  toml::table table_;
};

std::string relativeText(const fs::path& path, const fs::path& base) {
  const fs::path relative = path.lexically_relative(base);
  return (relative.empty() ? path : relative).generic_string();
}

// The float as the double of its shortest decimal text, so that the recipe
// shows 0.1 rather than the float's binary expansion.
double asDecimal(float value) {
  const std::string text = shortest(value);
  double decimal = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), decimal);
  return decimal;
}

// True when six significant digits give the float back exactly.
bool sixDigitsSuffice(float value) {
  char buffer[40];
  const auto written = std::to_chars(buffer, buffer + sizeof buffer, asDecimal(value),
                                     std::chars_format::general, 6);
  float back = 0.0f;
  std::from_chars(buffer, written.ptr, back);
  return back == value;
}

std::string revisionText(const Revision& revision) {
  std::string text = std::to_string(revision.classNumber) + ":" + std::to_string(revision.option);
  if (!revision.answer.empty()) text += ":" + revision.answer;
  return text;
}

constexpr std::array<const char*, 3> kIndexNames = {"none", "ratio", "residual"};

}  // namespace

GivenSettings readRecipe(const Given& recipe, const fs::path& startFolder) {
  return RecipeReader(recipe, startFolder).settings();
}

std::string recipeText(const RunRequest& request, const fs::path& recipeFile) {
  const fs::path folder = recipeFile.parent_path().lexically_normal();
  const RunOptions& o = request.options;
  toml::table recipe;
  recipe.insert("input", relativeText(request.inputPath, folder));
  if (request.inputFormat == InputFormat::heidelberg || request.inputFormat == InputFormat::csv) {
    recipe.insert("format", std::string(inputFormatName(request.inputFormat)));
  }
  if (!request.pithPath.empty()) {
    recipe.insert("pith", relativeText(request.pithPath, folder));
    recipe.insert("pith-format", o.pithReadFormat);
  }
  if (!request.pithTablePath.empty()) {
    recipe.insert("pith-table", relativeText(request.pithTablePath, folder));
  }
  recipe.insert("power", o.powerTransform);
  bool sixDigits = true;
  if (o.removeOutliers) {
    recipe.insert("outliers", toml::array{asDecimal(o.lowerLimit), asDecimal(o.upperLimit)});
    sixDigits = sixDigitsSuffice(o.lowerLimit) && sixDigitsSuffice(o.upperLimit);
  }
  if (o.restrictAgeBand) {
    recipe.insert("age-band", toml::array{int64_t{o.minAge}, int64_t{o.maxAge}});
  }
  if (o.restrictYears) {
    recipe.insert("first-years", toml::array{int64_t{o.firstYearMin}, int64_t{o.firstYearMax}});
  }
  recipe.insert("threshold", o.useMeanAge ? "mean" : "median");
  if (o.indexMode >= 0 && o.indexMode < static_cast<int32_t>(kIndexNames.size())) {
    recipe.insert("index", kIndexNames[static_cast<std::size_t>(o.indexMode)]);
  }
  if (!request.revisions.empty()) {
    toml::array curves;
    for (const Revision& revision : request.revisions) curves.push_back(revisionText(revision));
    recipe.insert("curve", std::move(curves));
  }
  if (request.outFolderGiven) recipe.insert("out", relativeText(request.outFolder, folder));
  if (!request.pagePath.empty()) {
    recipe.insert("page", relativeText(request.pagePath, request.outFolder));
  }
  recipe.insert("report", request.report);
  recipe.insert("chronology", request.chronology);
  if (!request.chronologyPagePath.empty()) {
    recipe.insert("chronology-page", relativeText(request.chronologyPagePath, request.outFolder));
  }
  recipe.insert("page-size",
                std::to_string(request.pageWidth) + "x" + std::to_string(request.pageHeight));
  if (!request.site.empty()) recipe.insert("site", request.site);
  // The chronology's settings when they differ from their defaults.
  const RunRequest defaults;
  if (request.windowLength != defaults.windowLength || request.windowLag != defaults.windowLag) {
    recipe.insert("window", toml::array{int64_t{request.windowLength}, int64_t{request.windowLag}});
  }
  if (request.correlation == SignalCorrelation::Spearman) recipe.insert("correlation", "spearman");
  if (request.treeChars != defaults.treeChars) {
    recipe.insert("tree-chars", int64_t{request.treeChars});
  }
  if (request.chronologySmooth != defaults.chronologySmooth) {
    recipe.insert("chronology-smooth", int64_t{request.chronologySmooth});
  }
  if (request.quiet) recipe.insert("quiet", true);
  if (request.singleCurve) recipe.insert("single-curve", true);
  if (request.signalFree) {
    const SignalFreeSettings& sf = request.signalFreeSettings;
    recipe.insert("signal-free", true);
    recipe.insert("sf-tolerance", sf.tolerance);
    recipe.insert("sf-max-passes", int64_t{sf.maxPasses});
    recipe.insert("sf-min-depth", int64_t{sf.minDepth});
    recipe.insert("sf-robust", sf.robust);
  }
  if (request.bootstrap > 0) {
    recipe.insert("bootstrap", int64_t{request.bootstrap});
    recipe.insert("seed", static_cast<int64_t>(request.seed));
    recipe.insert("ci", request.ciLevel);
    if (request.threads > 0) recipe.insert("threads", int64_t{request.threads});
  }
  if (request.treeChars > 0) recipe.insert("tree-chars", int64_t{request.treeChars});

  // The shorter form of real numbers only when it loses nothing.
  toml::format_flags flags = toml::toml_formatter::default_flags;
  if (sixDigits) flags = flags | toml::format_flags::relaxed_float_precision;
  std::ostringstream text;
  text << "# kavrel run recipe: kavrel run --recipe " << recipeFile.filename().string()
       << " repeats this run.\n"
       << "# Input files and out are relative to this file's folder, page files to out.\n\n"
       << toml::toml_formatter{recipe, flags} << "\n";
  return text.str();
}

}  // namespace kavrel::cli
