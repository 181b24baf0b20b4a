#include "cli/given_settings.h"

#include <array>

namespace kavrel::cli {

namespace {

using K = SettingKind;
using M = SettingMode;
using S = GivenSettings;

const std::array<SettingSpec, 37> kSpecs = {{
    {"input", K::text, M::runOnly, true, &S::input},
    {"format", K::text, M::runOnly, true, &S::format},
    {"pith", K::text, M::runOnly, true, &S::pith},
    {"pith-format", K::text, M::runOnly, true, &S::pithFormat},
    {"pith-table", K::text, M::both, true, &S::pithTable},
    {"power", K::flag, M::runOnly, true, &S::power},
    {"outliers", K::realPair, M::runOnly, true, &S::outliers},
    {"age-band", K::intPair, M::runOnly, true, &S::ageBand},
    {"first-years", K::intPair, M::runOnly, true, &S::firstYears},
    {"threshold", K::text, M::runOnly, true, &S::threshold},
    {"index", K::text, M::runOnly, true, &S::index},
    {"curve", K::list, M::runOnly, true, nullptr},
    {"out", K::text, M::runOnly, true, &S::out},
    {"page", K::text, M::runOnly, true, &S::page},
    {"report", K::flag, M::both, true, &S::report},
    {"chronology", K::flag, M::both, true, &S::chronology},
    {"chronology-page", K::text, M::both, true, &S::chronologyPage},
    {"page-size", K::text, M::both, true, &S::pageSize},
    {"site", K::text, M::both, true, &S::site},
    {"window", K::intPair, M::both, true, &S::window},
    {"correlation", K::text, M::both, true, &S::correlation},
    {"tree-chars", K::whole, M::both, true, &S::treeChars},
    {"chronology-smooth", K::whole, M::both, true, &S::chronologySmooth},
    {"single-curve", K::flag, M::both, true, &S::singleCurve},
    {"signal-free", K::flag, M::both, true, &S::signalFree},
    {"sf-tolerance", K::real, M::both, true, &S::sfTolerance},
    {"sf-max-passes", K::whole, M::both, true, &S::sfMaxPasses},
    {"sf-min-depth", K::whole, M::both, true, &S::sfMinDepth},
    {"sf-robust", K::flag, M::both, true, &S::sfRobust},
    {"bootstrap", K::whole, M::both, true, &S::bootstrap},
    {"seed", K::whole, M::both, true, &S::seed},
    {"ci", K::real, M::both, true, &S::ci},
    {"threads", K::whole, M::both, true, &S::threads},
    {"quiet", K::flag, M::runOnly, true, &S::quiet},
    {"recipe", K::text, M::runOnly, false, &S::recipe},
    {"save-recipe", K::text, M::runOnly, false, &S::saveRecipe},
    {"record", K::text, M::dialogueOnly, false, &S::record},
}};

}  // namespace

std::span<const SettingSpec> settingSpecs() { return kSpecs; }

GivenSettings overRecipe(const GivenSettings& commandLine, const GivenSettings& recipe) {
  GivenSettings merged = recipe;
  for (const SettingSpec& spec : kSpecs) {
    if (spec.member != nullptr && (commandLine.*spec.member).has_value())
      merged.*spec.member = commandLine.*spec.member;
  }
  if (!commandLine.curves.empty()) merged.curves = commandLine.curves;
  return merged;
}

}  // namespace kavrel::cli
