// The chronology's signal and page options: parsed, kept by a recipe, and
// refused where they can't apply.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_fixture.h"
#include "cli/recipe.h"

namespace kavrel::cli {
namespace {

using ::testing::HasSubstr;

class ChronologyOptions : public CliFolder {};

TEST_F(ChronologyOptions, ParsedKeptByARecipeAndRefused) {
  const Command c = parse({"run", "site.rwl", "--chronology-page", "c.svg", "--window", "30:10",
                           "--correlation", "spearman", "--tree-chars", "5",
                           "--chronology-smooth", "60"});
  ASSERT_EQ(c.kind, CommandKind::run) << c.text;
  EXPECT_EQ(c.request.windowLength, 30);
  EXPECT_EQ(c.request.windowLag, 10);
  EXPECT_EQ(c.request.correlation, SignalCorrelation::Spearman);
  EXPECT_EQ(c.request.treeChars, 5);
  EXPECT_EQ(c.request.chronologySmooth, 60);
  write("r.toml", recipeText(c.request, dir_ / "r.toml"));
  const Command again = parse({"run", "--recipe", "r.toml"});
  ASSERT_EQ(again.kind, CommandKind::run) << again.text;
  RunRequest expected = c.request;
  expected.recipePath = dir_ / "r.toml";
  EXPECT_EQ(again.request, expected);
  EXPECT_EQ(parse({"--chronology", "--window", "40:20"}).kind, CommandKind::dialogue);

  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{"--window", "40:20"}, "--window: shapes the signal statistics, which need --chronology"},
      {{"--chronology", "--chronology-smooth", "20"}, "which needs --chronology-page"},
      {{"--chronology", "--window", "2:1"}, "'2:1' is not LENGTH:LAG"},
      {{"--chronology", "--window", "50"}, "'50' is not LENGTH:LAG"},
      {{"--chronology", "--correlation", "kendall"}, "'kendall' is not pearson or spearman"},
      {{"--tree-chars", "-1"}, "'-1' is not a whole number of 0 or more"},
      {{"--chronology-page", "c.png", "--chronology-smooth", "9"}, "is not a whole number of 10"},
  };
  for (const Case& k : cases) {
    std::vector<std::string> args = {"run", "site.rwl"};
    args.insert(args.end(), k.args.begin(), k.args.end());
    const Command r = parse(args);
    EXPECT_EQ(r.kind, CommandKind::usageError) << k.message;
    EXPECT_THAT(r.text, HasSubstr(k.message));
  }
}

}  // namespace
}  // namespace kavrel::cli
