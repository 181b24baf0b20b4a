// The signal-free and single-curve options: parsed in both modes, kept by a
// recipe, and refused when they can't apply.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_fixture.h"
#include "cli/recipe.h"

namespace kavrel::cli {
namespace {

using ::testing::HasSubstr;

class SignalFreeOptions : public CliFolder {};

TEST_F(SignalFreeOptions, ParsedAndKeptByARecipe) {
  const Command c = parse({"run", "site.rwl", "--single-curve", "--signal-free", "--sf-tolerance",
                           "0.0005", "--sf-max-passes", "40", "--sf-min-depth", "3", "--sf-robust",
                           "--curve", "1:4"});
  ASSERT_EQ(c.kind, CommandKind::run) << c.text;
  const SignalFreeSettings& sf = c.request.signalFreeSettings;
  EXPECT_TRUE(c.request.signalFree);
  EXPECT_TRUE(c.request.singleCurve);
  EXPECT_EQ(sf.tolerance, 0.0005);
  EXPECT_EQ(sf.maxPasses, 40);
  EXPECT_EQ(sf.minDepth, 3);
  EXPECT_TRUE(sf.robust);
  write("r.toml", recipeText(c.request, dir_ / "r.toml"));
  const Command again = parse({"run", "--recipe", "r.toml"});
  ASSERT_EQ(again.kind, CommandKind::run) << again.text;
  RunRequest expected = c.request;
  expected.recipePath = dir_ / "r.toml";
  EXPECT_EQ(again.request, expected);
  // The dialogue takes them too.
  EXPECT_EQ(parse({"--signal-free", "--single-curve"}).kind, CommandKind::dialogue);
}

TEST_F(SignalFreeOptions, RefusedWhereTheyCantApply) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{"--sf-tolerance", "0.01"}, "--sf-tolerance: tunes the signal-free loop, which needs --signal-free"},
      {{"--sf-robust"}, "needs --signal-free"},
      {{"--signal-free", "--sf-tolerance", "0"}, "'0' is not a positive number"},
      {{"--signal-free", "--sf-tolerance", "nan"}, "is not a positive number"},
      {{"--signal-free", "--sf-max-passes", "0"}, "is not a whole number of 1 or more"},
      {{"--signal-free", "--sf-min-depth", "2.5"}, "is not a whole number of 1 or more"},
      {{"--single-curve", "--curve", "2:4"}, "--curve 2:4: with --single-curve the one class is class 1"},
  };
  for (const Case& k : cases) {
    std::vector<std::string> args = {"run", "site.rwl"};
    args.insert(args.end(), k.args.begin(), k.args.end());
    const Command c = parse(args);
    EXPECT_EQ(c.kind, CommandKind::usageError) << k.message;
    EXPECT_THAT(c.text, HasSubstr(k.message));
  }
  write("bad.toml", "input = 'site.rwl'\nsignal-free = true\nsf-max-passes = 'ten'\n");
  EXPECT_THAT(parse({"run", "--recipe", "bad.toml"}).text,
              HasSubstr("key 'sf-max-passes': expected a whole number"));
}

}  // namespace
}  // namespace kavrel::cli
