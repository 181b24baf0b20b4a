// Fuzz target: the recipe reader. The input is the text of a recipe file,
// read as `kavrel run --recipe r.toml` reads it and checked as a run's
// settings. Either a UsageError or a request comes back, and nothing is
// written. An accepted request's recipe, saved and read again, must give the
// same recipe text: a saved recipe repeats its run.
#include <cstdlib>
#include <string>

#include "cli/given_settings.h"
#include "cli/recipe.h"
#include "cli/request_checks.h"
#include "fuzz/fuzz_folder.h"
#include "fuzz/fuzz_input.h"

namespace {

using kavrel::cli::Given;

// The checked request of the recipe at `name` in the start folder, or
// nothing when it is refused.
std::optional<kavrel::RunRequest> checkedRecipe(const std::string& name) {
  const auto& start = kavrel::fuzz::startFolder();
  try {
    const kavrel::cli::GivenSettings given =
        kavrel::cli::readRecipe(Given{name, "--recipe", {}}, start);
    return kavrel::cli::checkedRequest(given, false, start);
  } catch (const kavrel::cli::UsageError& e) {
    if (std::string(e.what()).empty()) std::abort();
    return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto& start = kavrel::fuzz::startFolder();
  kavrel::fuzz::writeFile(start / "r.toml", std::string(kavrel::fuzz::asText(data, size)));
  const std::size_t before = kavrel::fuzz::entryCount(start);
  const std::optional<kavrel::RunRequest> request = checkedRecipe("r.toml");
  if (kavrel::fuzz::entryCount(start) != before) std::abort();
  if (!request) return 0;

  const std::string saved = kavrel::cli::recipeText(*request, start / "saved.toml");
  kavrel::fuzz::writeFile(start / "saved.toml", saved);
  const std::optional<kavrel::RunRequest> again = checkedRecipe("saved.toml");
  if (!again || kavrel::cli::recipeText(*again, start / "saved.toml") != saved) std::abort();
  std::filesystem::remove(start / "saved.toml");
  return 0;
}
