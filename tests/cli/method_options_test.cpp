// The options of the signal-free and single-curve forms, the signal
// statistics and the bootstrap: parsed in both modes, kept by a recipe, and
// refused when they can't apply.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "cli/cli_fixture.h"
#include "cli/recipe.h"

namespace kavrel::cli {
namespace {

using ::testing::HasSubstr;

class MethodOptions : public CliFolder {};

TEST_F(MethodOptions, ParsedAndKeptByARecipe) {
  struct Case {
    std::vector<std::string> args;                 // after "run site.rwl"
    std::function<void(const RunRequest&)> check;  // the settings parsed
  };
  const std::vector<Case> cases = {
      {{"--single-curve", "--signal-free", "--sf-tolerance", "0.0005", "--sf-max-passes", "40",
        "--sf-min-depth", "3", "--sf-robust", "--curve", "1:4"},
       [](const RunRequest& r) {
         const SignalFreeSettings& sf = r.signalFreeSettings;
         EXPECT_TRUE(r.signalFree);
         EXPECT_TRUE(r.singleCurve);
         EXPECT_EQ(sf.tolerance, 0.0005);
         EXPECT_EQ(sf.maxPasses, 40);
         EXPECT_EQ(sf.minDepth, 3);
         EXPECT_TRUE(sf.robust);
       }},
      {{"--chronology-page", "c.svg", "--window", "30:10", "--correlation", "spearman",
        "--tree-chars", "5", "--chronology-smooth", "60"},
       [](const RunRequest& r) {
         EXPECT_EQ(r.windowLength, 30);
         EXPECT_EQ(r.windowLag, 10);
         EXPECT_EQ(r.correlation, SignalCorrelation::Spearman);
         EXPECT_EQ(r.treeChars, 5);
         EXPECT_EQ(r.chronologySmooth, 60);
       }},
      {{"--chronology", "--bootstrap", "500", "--seed", "42", "--ci", "0.9", "--threads", "3",
        "--tree-chars", "5"},
       [](const RunRequest& r) {
         EXPECT_EQ(r.bootstrap, 500);
         EXPECT_EQ(r.seed, 42u);
         EXPECT_EQ(r.ciLevel, 0.9);
         EXPECT_EQ(r.threads, 3);
         EXPECT_EQ(r.treeChars, 5);
       }},
      {{"--chronology-page", "c.png", "--bootstrap", "10"},  // the defaults
       [](const RunRequest& r) {
         EXPECT_EQ(r.seed, 1u);
         EXPECT_EQ(r.ciLevel, 0.95);
         EXPECT_EQ(r.threads, 0);
       }},
  };
  for (const Case& k : cases) {
    std::vector<std::string> args = {"run", "site.rwl"};
    args.insert(args.end(), k.args.begin(), k.args.end());
    const Command c = parse(args);
    ASSERT_EQ(c.kind, CommandKind::run) << c.text;
    k.check(c.request);
    write("r.toml", recipeText(c.request, dir_ / "r.toml"));
    const Command again = parse({"run", "--recipe", "r.toml"});
    ASSERT_EQ(again.kind, CommandKind::run) << again.text;
    RunRequest expected = c.request;
    expected.recipePath = dir_ / "r.toml";
    EXPECT_EQ(again.request, expected) << k.args.front();
  }
  // The dialogue takes them too.
  EXPECT_EQ(parse({"--signal-free", "--single-curve"}).kind, CommandKind::dialogue);
  EXPECT_EQ(parse({"--chronology", "--window", "40:20"}).kind, CommandKind::dialogue);
  EXPECT_EQ(parse({"--chronology", "--bootstrap", "10", "--seed", "3"}).kind,
            CommandKind::dialogue);
}

TEST_F(MethodOptions, RefusedWhereTheyCantApply) {
  struct Case {
    std::vector<std::string> args;  // after "run site.rwl"
    const char* message;
  };
  const std::vector<Case> cases = {
      {{"--sf-tolerance", "0.01"},
       "--sf-tolerance: tunes the signal-free loop, which needs --signal-free"},
      {{"--sf-robust"}, "needs --signal-free"},
      {{"--signal-free", "--sf-tolerance", "0"}, "'0' is not a positive number"},
      {{"--signal-free", "--sf-tolerance", "nan"}, "is not a positive number"},
      {{"--signal-free", "--sf-max-passes", "0"}, "is not a whole number of 1 or more"},
      {{"--signal-free", "--sf-min-depth", "2.5"}, "is not a whole number of 1 or more"},
      {{"--single-curve", "--curve", "2:4"},
       "--curve 2:4: with --single-curve the one class is class 1"},
      {{"--window", "40:20"}, "--window: shapes the signal statistics, which need --chronology"},
      {{"--chronology", "--chronology-smooth", "20"}, "which needs --chronology-page"},
      {{"--chronology", "--window", "2:1"}, "'2:1' is not LENGTH:LAG"},
      {{"--chronology", "--window", "50"}, "'50' is not LENGTH:LAG"},
      {{"--chronology", "--correlation", "kendall"}, "'kendall' is not pearson or spearman"},
      {{"--tree-chars", "-1"}, "'-1' is not a whole number of 0 or more"},
      {{"--chronology-page", "c.png", "--chronology-smooth", "9"}, "is not a whole number of 10"},
      {{"--bootstrap", "10"}, "--bootstrap: the bands belong to the chronology"},
      {{"--chronology", "--index", "none", "--bootstrap", "10"}, "needs index series"},
      {{"--chronology", "--bootstrap", "0"}, "'0' is not a whole number of 1 or more"},
      {{"--chronology", "--seed", "2"}, "--seed: tunes the bootstrap, which needs --bootstrap"},
      {{"--chronology", "--bootstrap", "5", "--seed", "-1"}, "is not a whole number of 0 or more"},
      {{"--chronology", "--bootstrap", "5", "--ci", "1"}, "'1' is not a level between 0 and 1"},
      {{"--chronology", "--bootstrap", "5", "--ci", "nan"}, "is not a level between 0 and 1"},
      {{"--chronology", "--bootstrap", "5", "--threads", "0"}, "is not a whole number of 1 or more"},
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
