// The signal-free and single-curve forms as whole runs: their files and
// columns, a loop that depends only on the final curve options (revisions
// rerun it from pass 0), and the dialogue taking the same options.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/run_helper.h"
#include "support/testdata.h"

namespace kavrel::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::vector<std::string> kFinalFiles = {
    "shorthighV6_raw_agealigned.txt", "shortlowV6_raw_agealigned.txt",
    "longhighV6_raw_agealigned.txt",  "longlowV6_raw_agealigned.txt",
    "medV6_raw_agealigned.txt",       "longhighV6_raw_agealigned.indx.txt",
    "KavrelV6indx.raw.txt",           "kavrel_signal_free.csv",
    "kavrel_chronology.csv",          "kavrel_curves.csv"};

RunResult run(const std::vector<std::string>& extra, const std::string& stdinText = "") {
  const std::string rwl = sourceDir() + "/examples/kavrel_example.rwl";
  RunSetup setup;
  setup.args = extra;
  return runKavrel(stdinText, {{rwl, "site.rwl"}}, 240, setup);
}

TEST(SignalFreeRun, FilesColumnsAndRevisionReruns) {
  const std::vector<std::string> base = {"run", "site.rwl", "--signal-free", "--chronology",
                                         "--report", "--index"};
  for (const std::string index : {"ratio", "residual"}) {
    SCOPED_TRACE(index);
    std::vector<std::string> once = base;
    once.push_back(index);
    std::vector<std::string> twice = once;
    once.insert(once.end(), {"--curve", "3:4"});
    twice.insert(twice.end(), {"--curve", "3:2", "--curve", "3:4"});
    const RunResult a = run(once);
    const RunResult b = run(twice);
    ASSERT_EQ(a.exitStatus, 0) << a.screen << a.errors;
    ASSERT_EQ(b.exitStatus, 0) << b.screen << b.errors;

    // One row per pass from pass 0; converged within the default tolerance.
    const std::vector<std::string> passes = a.fileLines("kavrel_signal_free.csv");
    ASSERT_GE(passes.size(), 3u);
    EXPECT_EQ(passes[0], "pass,largest_change,median_change,converged");
    EXPECT_EQ(passes[1], "0,,,true");
    EXPECT_LT(std::stod(passes.back().substr(passes.back().find(',') + 1)), 0.002);
    // The pass lines: once per pass, on the screen and in the log.
    const std::string log = a.file("Kavrelv6_log.txt");
    size_t lines = 0;
    for (size_t p = log.find(" Signal-free pass "); p != std::string::npos;
         p = log.find(" Signal-free pass ", p + 1))
      ++lines;
    // The first pass's loop and the revision's.
    EXPECT_GE(lines, 2 * (passes.size() - 2));
    EXPECT_THAT(a.screen, HasSubstr(" Signal-free pass 1: largest change "));

    const std::string k = index;
    EXPECT_THAT(a.fileLines("kavrel_chronology.csv")[0],
                HasSubstr(",pass0_" + k + ",signal_free_" + k));
    EXPECT_THAT(a.fileLines("kavrel_curves.csv")[0], StartsWith("class,age,t,depth,mean,curve,curve_pass0"));
    EXPECT_THAT(a.fileLines("kavrel_classes.csv")[0], HasSubstr(",start_p05,start_p95,"));

    // Revising class 3 twice or once to the same curve gives the same loop.
    for (const std::string& name : kFinalFiles) EXPECT_EQ(a.file(name), b.file(name)) << name;
  }
}

TEST(SignalFreeRun, SingleCurveWritesOneClass) {
  const RunResult r = run({"run", "site.rwl", "--single-curve", "--signal-free", "--chronology",
                           "--report", "--curve", "1:4", "--save-recipe", "r.toml"});
  ASSERT_EQ(r.exitStatus, 0) << r.screen << r.errors;
  for (const char* name : {"allV6_raw", "allV6_raw_agealigned.txt", "allV6_raw_agealigned.indx.txt"})
    EXPECT_TRUE(r.exists(name)) << name;
  for (const char* name : {"shorthighV6_raw", "medV6_raw_agealigned.txt"})
    EXPECT_FALSE(r.exists(name)) << name;
  EXPECT_THAT(r.fileLines("kavrel_chronology.csv")[0],
              HasSubstr(",robust_mean_ratio,all_mean_ratio,pass0_ratio,"));
  const std::vector<std::string> classes = r.fileLines("kavrel_classes.csv");
  ASSERT_EQ(classes.size(), 2u);
  EXPECT_THAT(classes[1], StartsWith("1,all,36,"));
  // The recipe keeps both forms, and replays to the same files.
  const std::string recipe = r.file("r.toml");
  EXPECT_THAT(recipe, HasSubstr("single-curve = true"));
  EXPECT_THAT(recipe, HasSubstr("signal-free = true"));

  // The dialogue takes the same options: its revision menu offers class 1.
  const RunResult d = run({"--single-curve", "--signal-free"},
                          "\nsite.rwl\nf\nf\nf\nf\nf\n2\n1\nc\nt\n1\n4\nc\nf\n");
  ASSERT_EQ(d.exitStatus, 0) << d.screen << d.errors;
  EXPECT_THAT(d.screen, HasSubstr("Enter a value between 1 and 1 :>"));
  EXPECT_EQ(d.file("allV6_raw_agealigned.indx.txt"), r.file("allV6_raw_agealigned.indx.txt"));
}

}  // namespace
}  // namespace kavrel::test
