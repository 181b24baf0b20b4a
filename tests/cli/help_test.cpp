// The help and version texts and the program's entry.
#include "cli/help.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdio.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/given_settings.h"
#include "support/testdata.h"

namespace kavrel::cli {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

TEST(Help, NamesEveryOptionRecipeKeyAndExitStatus) {
  const std::string help = helpText();
  const std::vector<std::string> names = commandLineOptionNames();
  EXPECT_GE(names.size(), settingSpecs().size() + 2);
  for (const std::string& name : names) {
    // Each name stands as a word: "-h, --help", "--pith FILE", "INPUT  ".
    const bool listed = help.find("  " + name + " ") != std::string::npos ||
                        help.find(" " + name + ", ") != std::string::npos ||
                        help.find(", " + name + " ") != std::string::npos;
    EXPECT_TRUE(listed) << name;
  }
  for (const SettingSpec& spec : settingSpecs()) {
    if (spec.inRecipe) {
      EXPECT_THAT(help, HasSubstr(std::string(spec.name))) << spec.name;
    }
  }
  EXPECT_THAT(help, HasSubstr("  0  normal end\n"));
  EXPECT_THAT(help, HasSubstr("  1  the run failed"));
  EXPECT_THAT(help, HasSubstr("  2  usage error"));
  EXPECT_THAT(help, HasSubstr("  3  ended at the user's '/'"));
}

// Runs cliMain on arguments and returns the status and both outputs.
struct Outcome {
  int status = -1;
  std::string out, err;
};

Outcome callMain(std::vector<std::string> args) {
  args.insert(args.begin(), "kavrel");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  char* outText = nullptr;
  char* errText = nullptr;
  std::size_t outSize = 0, errSize = 0;
  std::FILE* out = open_memstream(&outText, &outSize);
  std::FILE* err = open_memstream(&errText, &errSize);
  Outcome o;
  o.status = cliMain(static_cast<int>(argv.size()), argv.data(), out, err);
  std::fclose(out);
  std::fclose(err);
  o.out.assign(outText, outSize);
  o.err.assign(errText, errSize);
  std::free(outText);
  std::free(errText);
  return o;
}

TEST(CliMain, ExitStatusesOfHelpVersionAndUsage) {
  Outcome o = callMain({"--help"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, helpText());
  EXPECT_EQ(o.err, "");

  o = callMain({"--version"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, versionText());
  EXPECT_THAT(o.out, StartsWith("kavrel "));

  o = callMain({"run", "--threshold", "mode"});
  EXPECT_EQ(o.status, kExitUsage);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err,
            "kavrel: INPUT: no ring-width file; give it after 'run' or as the recipe key 'input'\n"
            "Try 'kavrel --help' for the options.\n");

}

}  // namespace
}  // namespace kavrel::cli
