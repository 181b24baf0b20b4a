// The settings of a run as given, on the command line or in a recipe, before
// they are checked: each keeps its text, where it came from (to name it in a
// message) and the folder its relative paths start from. One table lists
// every setting once, so the command line, the recipe reader and the help
// text all know the same names.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kavrel::cli {

// A usage error: a one-line message naming the option or recipe key and the
// reason. Raised while reading and checking the settings; parseCommandLine
// turns it into its result, so it never leaves the module.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One setting as given.
struct Given {
  std::string text;  // the value; flags and recipe booleans are "true" or "false"
  std::string
      origin;  // how messages name it: "--outliers", "INPUT", "recipe r.toml, key 'outliers'"
  std::filesystem::path folder;  // folder, as given, that a relative input path is taken
                                 // from: a recipe's folder; empty for the command line
};

// Every setting of a run; nothing where a setting was not given.
struct GivenSettings {
  std::optional<Given> input, pith, pithFormat, power, outliers, ageBand, firstYears, threshold,
      index, out, page, report, chronology, chronologyPage, pageSize, site, quiet, pithTable,
      format;
  std::optional<Given> singleCurve, signalFree, sfTolerance, sfMaxPasses, sfMinDepth, sfRobust;
  std::optional<Given> window, correlation, treeChars, chronologySmooth;
  std::optional<Given> bootstrap, seed, ci, threads;
  std::vector<Given> curves;                        // --curve, in the order given
  std::optional<Given> recipe, saveRecipe, record;  // command line only
};

// Where a setting may be given.
enum class SettingMode {
  both,         // the dialogue (kavrel [options]) and runs without questions
  runOnly,      // kavrel run only
  dialogueOnly  // kavrel [options] only
};

// How a setting's value is written.
enum class SettingKind {
  text,      // a word or a path; a TOML string in recipes
  flag,      // no value on the command line (--name=false to clear); a TOML boolean
  realPair,  // LOWER:UPPER on the command line; [lower, upper] in recipes
  intPair,   // MIN:MAX on the command line; [min, max] of whole numbers in recipes
  list,      // repeatable; a TOML array of strings in recipes
  real,      // one real number; a TOML number in recipes
  whole      // one whole number; a TOML integer in recipes
};

struct SettingSpec {
  std::string_view name;  // long option name without "--", and the recipe key
  SettingKind kind;
  SettingMode mode;
  bool inRecipe;                                // may be a recipe key
  std::optional<Given> GivenSettings::*member;  // nullptr for --curve (a list)
};

// Every setting in the order of the help text. INPUT is positional on the
// command line and the key "input" in recipes.
std::span<const SettingSpec> settingSpecs();

// The command line's settings over a recipe's: a setting given on the
// command line replaces the recipe's, and any --curve replaces the recipe's
// whole list of curves.
GivenSettings overRecipe(const GivenSettings& commandLine, const GivenSettings& recipe);

}  // namespace kavrel::cli
