// Run recipes: a written recipe reads back as the same run, paths are taken
// from the recipe's folder, the command line overrides the recipe, and a
// wrong recipe is named with its key.
#include "cli/recipe.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_fixture.h"
#include "cli/command_line.h"
#include "support/testdata.h"

namespace kavrel::cli {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

class Recipe : public CliFolder {
 protected:
  // Parses the command line, writes its recipe to `recipe` and reads it back.
  void roundTrip(const std::vector<std::string>& args, const fs::path& recipe) {
    const Command first = parse(args);
    ASSERT_EQ(first.kind, CommandKind::run) << first.text;
    write(recipe, recipeText(first.request, dir_ / recipe));
    const Command again = parse({"run", "--recipe", recipe.string()});
    ASSERT_EQ(again.kind, CommandKind::run) << again.text << "\n"
                                            << test::readTextFile(dir_ / recipe);
    RunRequest expected = first.request;
    expected.recipePath = dir_ / recipe;
    EXPECT_EQ(again.request, expected) << test::readTextFile(dir_ / recipe);
  }
};

TEST_F(Recipe, WrittenRecipeReadsBackAsTheSameRun) {
  roundTrip({"run",           "site.rwl",    "--pith",       "site.pith",
             "--pith-format", "(10x,i3)",    "--power",      "--outliers",
             "0.1:4.7",       "--age-band",  "20:400",       "--first-years",
             "-50:1900",      "--threshold", "mean",         "--index",
             "residual",      "--curve",     "3:-5:7",       "--curve",
             "1:4",           "--curve",     "2:-3:-1",      "--curve",
             "4:-2",          "--out",       "results",      "--page",
             "p.svg",         "--report",    "--chronology", "--chronology-page",
             "c.pdf",         "--page-size", "800x600",      "--site",
             "CA667",         "--quiet"},
            "recipes/deep/r.toml");
  // Reals that need all nine digits of a float survive too.
  roundTrip({"run", "site.rwl", "--outliers", "0.123456789:2.385", "--index", "none"}, "r2.toml");

  // Input paths are written relative to the recipe's folder.
  const Command c = parse({"run", "site.rwl", "--pith", "site.pith", "--pith-format", "(i3)"});
  const std::string text = recipeText(c.request, dir_ / "a/b/r.toml");
  EXPECT_THAT(text, HasSubstr("input = '../../site.rwl'"));
  EXPECT_THAT(text, HasSubstr("pith = '../../site.pith'"));
  EXPECT_THAT(text, Not(HasSubstr("out =")));  // not named: the folder kavrel is started in
}

TEST_F(Recipe, PathsAreTakenFromTheRecipesFolder) {
  write("sites/s1/s1.rwl", "KVR01A  1972   190\n");
  write("sites/s1/recipe.toml",
        "input = 's1.rwl'\nout = 'results'\npage = 'p.ps'\ncurve = ['2:-5:3']\n");
  RunRequest expected = plainRun();
  expected.options.inputFileName = "sites/s1/s1.rwl";
  expected.inputPath = dir_ / "sites/s1/s1.rwl";
  expected.outFolder = dir_ / "sites/s1/results";
  expected.outFolderGiven = true;
  expected.pagePath = dir_ / "sites/s1/results/p.ps";
  expected.pageFormat = PictureFormat::PostScript;
  expected.revisions = {{2, -5, "3"}};
  expected.recipePath = dir_ / "sites/s1/recipe.toml";

  Command c = parse({"run", "--recipe", "sites/s1/recipe.toml"});
  ASSERT_EQ(c.kind, CommandKind::run) << c.text;
  EXPECT_EQ(c.request, expected);

  // Started in another folder, the recipe finds the same files.
  c = parse({"run", "--recipe", "../sites/s1/recipe.toml"}, dir_ / "data");
  ASSERT_EQ(c.kind, CommandKind::run) << c.text;
  expected.options.inputFileName = "../sites/s1/s1.rwl";
  EXPECT_EQ(c.request, expected);
}

TEST_F(Recipe, CommandLineOverridesTheRecipe) {
  write("r.toml",
        "input = 'none.rwl'\npower = true\nindex = 'none'\nthreshold = 'mean'\n"
        "curve = ['1:4', '2:5']\nsite = 'OLD'\n");
  const Command c = parse({"run", "site.rwl", "--recipe", "r.toml", "--power=false", "--index",
                           "ratio", "--curve", "3:-5", "--site", "NEW"});
  ASSERT_EQ(c.kind, CommandKind::run) << c.text;
  RunRequest expected = plainRun();
  expected.options.useMeanAge = true;  // from the recipe
  expected.revisions = {{3, -5, ""}};  // the command line's curves replace the recipe's
  expected.site = "NEW";
  expected.recipePath = dir_ / "r.toml";
  EXPECT_EQ(c.request, expected);
}

TEST_F(Recipe, WrongRecipesAreNamedWithTheirKey) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"input = 'site.rwl'\noutlier = [0, 5]\n", "recipe r.toml: unknown key 'outlier'"},
      {"input = 'site.rwl'\nsave-recipe = 'x.toml'\n", "recipe r.toml: unknown key 'save-recipe'"},
      {"input = 'site.rwl'\npower = 'yes'\n", "recipe r.toml, key 'power': expected true or false"},
      {"input = 'site.rwl'\noutliers = [1]\n", "recipe r.toml, key 'outliers': expected an array"},
      {"input = 'site.rwl'\nage-band = [1.5, 3]\n",
       "recipe r.toml, key 'age-band': expected an array of two whole numbers"},
      {"input = 'site.rwl'\ncurve = '1:4'\n", "recipe r.toml, key 'curve': expected an array"},
      {"input = 'site.rwl'\ncurve = ['1:4', 7]\n", "recipe r.toml, key 'curve': expected an array"},
      {"input = 3\n", "recipe r.toml, key 'input': expected a string"},
      {"input = 'site.rwl'\npower = \n", "--recipe: r.toml, line 2"},
      // Values read well but wrong are named by their key too.
      {"input = 'site.rwl'\noutliers = [5, 1.5]\n",
       "recipe r.toml, key 'outliers': LOWER 5 is above UPPER 1.5"},
      {"input = 'site.rwl'\ncurve = ['1:4', '3:-4']\n",
       "recipe r.toml, key 'curve' item 3:-4: option -4 needs"},
      {"input = 'site.rwl'\nindex = 'none'\nchronology = true\n",
       "recipe r.toml, key 'chronology': a chronology needs index series, but recipe r.toml, key "
       "'index' is none"},
      {"input = 'none.rwl'\n", "recipe r.toml, key 'input': the file none.rwl does not exist"},
      {"pith = 'site.pith'\n", "INPUT: no ring-width file"},
  };
  for (const auto& [recipe, error] : cases) {
    write("r.toml", recipe);
    const Command c = parse({"run", "--recipe", "r.toml"});
    EXPECT_EQ(c.kind, CommandKind::usageError) << recipe;
    EXPECT_THAT(c.text, StartsWith(error)) << recipe;
  }
  EXPECT_THAT(parse({"run", "--recipe", "none.toml"}).text,
              StartsWith("--recipe: the recipe none.toml does not exist"));
}

}  // namespace
}  // namespace kavrel::cli
