// The bootstrap bands as whole runs on real data: the band columns beside
// unchanged files and columns, the same table on one and two threads, bands
// that hold the chronology in the years of good depth, and the recipe.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/run_helper.h"
#include "support/testdata.h"

namespace kavrel::test {
namespace {

using ::testing::HasSubstr;

std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream in(line);
  for (std::string f; std::getline(in, f, ',');) out.push_back(f);
  if (!line.empty() && line.back() == ',') out.emplace_back();
  return out;
}

TEST(BootstrapRun, BandColumnsBesideUnchangedFiles) {
  REQUIRE_SHARED_DATA(rwl, "itrdb/ca533.rwl");
  const auto run = [&](const std::vector<std::string>& extra) {
    RunSetup setup;
    setup.args = {"run", "site.rwl", "--chronology", "--report", "--index", "ratio"};
    setup.args.insert(setup.args.end(), extra.begin(), extra.end());
    return runKavrel("", {{rwl, "site.rwl"}}, 240, setup);
  };
  const RunResult plain = run({});
  const RunResult one = run({"--bootstrap", "200", "--threads", "1", "--save-recipe", "r.toml"});
  const RunResult two = run({"--bootstrap", "200", "--threads", "2"});
  for (const RunResult* r : {&plain, &one, &two}) ASSERT_EQ(r->exitStatus, 0) << r->screen << r->errors;

  EXPECT_THAT(one.screen, HasSubstr(" Bootstrap: 200 of 200 replicates, "));
  EXPECT_EQ(one.file("kavrel_chronology.csv"), two.file("kavrel_chronology.csv"));
  for (const char* name : {"Kavrelv6_log.txt", "KavrelV6indx.raw.txt", "kavrel_signal.csv",
                           "kavrel_classes.csv", "kavrel_chronology.crn"})
    EXPECT_EQ(one.file(name), plain.file(name)) << name;
  EXPECT_THAT(one.file("r.toml"), HasSubstr("bootstrap = 200"));

  // The existing columns unchanged, the bands after them; the robust mean
  // inside its band in nearly every year of 10 or more series.
  const std::vector<std::string> base = plain.fileLines("kavrel_chronology.csv");
  const std::vector<std::string> banded = one.fileLines("kavrel_chronology.csv");
  ASSERT_EQ(base.size(), banded.size());
  EXPECT_EQ(banded[0], base[0] +
                           ",mean_ratio_lower,mean_ratio_upper,mean_ratio_replicates,"
                           "robust_mean_ratio_lower,robust_mean_ratio_upper,"
                           "robust_mean_ratio_replicates");
  int32_t years = 0, inside = 0;
  for (size_t i = 1; i < base.size(); ++i) {
    ASSERT_EQ(banded[i].substr(0, base[i].size() + 1), base[i] + ",") << i;
    const std::vector<std::string> f = fields(banded[i]);
    ASSERT_EQ(f.size(), 15u) << banded[i];
    if (std::stoi(f[1]) < 10) continue;
    ++years;
    const double robust = std::stod(f[3]);
    if (robust >= std::stod(f[12]) && robust <= std::stod(f[13])) ++inside;
    EXPECT_EQ(f[14], "200");
  }
  ASSERT_GT(years, 500);
  EXPECT_GE(inside, years * 95 / 100);
}

// The dialogue takes the options, --record keeps them, and the recipe
// replays to the same bands.
TEST(BootstrapRun, DialogueRecordsAndTheRecipeReplays) {
  const std::string rwl = sourceDir() + "/examples/kavrel_example.rwl";
  RunSetup setup;
  setup.args = {"--record", "r.toml", "--chronology", "--bootstrap", "30", "--seed", "4",
                "--tree-chars", "3"};
  const RunResult d = runKavrel("\nsite.rwl\nf\nf\nf\nf\nf\n2\n1\nc\nf\n", {{rwl, "site.rwl"}},
                                240, setup);
  ASSERT_EQ(d.exitStatus, 0) << d.screen << d.errors;
  EXPECT_THAT(d.screen, HasSubstr(" Bootstrap: 30 of 30 replicates, "));
  const std::string recipe = d.file("r.toml");
  for (const char* key : {"bootstrap = 30", "seed = 4", "ci = 0.95", "tree-chars = 3"})
    EXPECT_THAT(recipe, HasSubstr(key));

  RunSetup replay;
  replay.args = {"run", "--recipe", "r.toml", "--threads", "2"};
  replay.prepare = [&](const std::filesystem::path& folder) {
    std::filesystem::copy_file(d.folder / "r.toml", folder / "r.toml");
  };
  const RunResult r = runKavrel("", {{rwl, "site.rwl"}}, 240, replay);
  ASSERT_EQ(r.exitStatus, 0) << r.screen << r.errors;
  EXPECT_THAT(r.fileLines("kavrel_chronology.csv")[0], HasSubstr(",robust_mean_ratio_replicates"));
  EXPECT_EQ(r.file("kavrel_chronology.csv"), d.file("kavrel_chronology.csv"));
}

}  // namespace
}  // namespace kavrel::test
