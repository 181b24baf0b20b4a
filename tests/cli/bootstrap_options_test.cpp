// The bootstrap options: parsed in both modes, kept by a recipe, and refused
// when they can't apply.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_fixture.h"
#include "cli/recipe.h"

namespace kavrel::cli {
namespace {

using ::testing::HasSubstr;

class BootstrapOptions : public CliFolder {};

TEST_F(BootstrapOptions, ParsedAndKeptByARecipe) {
  const Command c = parse({"run", "site.rwl", "--chronology", "--bootstrap", "500", "--seed", "42",
                           "--ci", "0.9", "--threads", "3", "--tree-chars", "5"});
  ASSERT_EQ(c.kind, CommandKind::run) << c.text;
  EXPECT_EQ(c.request.bootstrap, 500);
  EXPECT_EQ(c.request.seed, 42u);
  EXPECT_EQ(c.request.ciLevel, 0.9);
  EXPECT_EQ(c.request.threads, 3);
  EXPECT_EQ(c.request.treeChars, 5);
  write("r.toml", recipeText(c.request, dir_ / "r.toml"));
  const Command again = parse({"run", "--recipe", "r.toml"});
  ASSERT_EQ(again.kind, CommandKind::run) << again.text;
  RunRequest expected = c.request;
  expected.recipePath = dir_ / "r.toml";
  EXPECT_EQ(again.request, expected);
  // The defaults, and the dialogue takes the options too.
  const Command d = parse({"run", "site.rwl", "--chronology-page", "c.png", "--bootstrap", "10"});
  ASSERT_EQ(d.kind, CommandKind::run) << d.text;
  EXPECT_EQ(d.request.seed, 1u);
  EXPECT_EQ(d.request.ciLevel, 0.95);
  EXPECT_EQ(d.request.threads, 0);
  EXPECT_EQ(parse({"--chronology", "--bootstrap", "10", "--seed", "3"}).kind,
            CommandKind::dialogue);
}

TEST_F(BootstrapOptions, RefusedWhereTheyCantApply) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{"--bootstrap", "10"}, "--bootstrap: the bands belong to the chronology"},
      {{"--chronology", "--index", "none", "--bootstrap", "10"}, "needs index series"},
      {{"--chronology", "--bootstrap", "0"}, "'0' is not a whole number of 1 or more"},
      {{"--chronology", "--seed", "2"}, "--seed: tunes the bootstrap, which needs --bootstrap"},
      {{"--chronology", "--bootstrap", "5", "--seed", "-1"}, "is not a whole number of 0 or more"},
      {{"--chronology", "--bootstrap", "5", "--ci", "1"}, "'1' is not a level between 0 and 1"},
      {{"--chronology", "--bootstrap", "5", "--ci", "nan"}, "is not a level between 0 and 1"},
      {{"--chronology", "--bootstrap", "5", "--threads", "0"}, "is not a whole number of 1 or more"},
      {{"--tree-chars", "-2"}, "is not a whole number of 0 or more"},
  };
  for (const Case& k : cases) {
    std::vector<std::string> args = {"run", "site.rwl"};
    args.insert(args.end(), k.args.begin(), k.args.end());
    const Command c = parse(args);
    EXPECT_EQ(c.kind, CommandKind::usageError) << k.message;
    EXPECT_THAT(c.text, HasSubstr(k.message));
  }
}

}  // namespace
}  // namespace kavrel::cli
