// The run log: lines to the log only or to the screen and the log, and a log
// that ends with what was written when it is closed early.
#include "driver/run_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/testdata.h"
#include "util/fatal.h"

namespace kavrel {
namespace {

TEST(RunLog, LinesScreenAndClose) {
  const auto dir = std::filesystem::temp_directory_path() / "kavrel_run_log_test";
  std::filesystem::create_directories(dir);
  const auto path = dir / "log.txt";
  {
    std::ofstream old(path);
    old << "an older run\n";
  }
  RunLog log;
  EXPECT_FALSE(log.isOpen());
  log.line(" ignored while closed");
  log.open(path.string());
  ASSERT_TRUE(log.isOpen());
  ::testing::internal::CaptureStdout();
  log.line(" input file = gp.rwl");
  log.echo(" 1 Skip Age Band ABC      12");
  log.raw(" part");
  log.raw(" two\n");
  const std::string screen = ::testing::internal::GetCapturedStdout();
  log.close();
  log.close();  // a second close is harmless
  log.line(" after close");
  EXPECT_EQ(screen, " 1 Skip Age Band ABC      12\n");
  // The old log is replaced, not appended to.
  EXPECT_EQ(test::readTextFile(path),
            " input file = gp.rwl\n 1 Skip Age Band ABC      12\n part two\n");
  std::filesystem::remove_all(dir);

  RunLog bad;
  EXPECT_THROW(bad.open((dir / "no" / "such" / "folder" / "log.txt").string()), Fatal);
  EXPECT_FALSE(bad.isOpen());
}

TEST(RunLog, QuietScreenKeepsOnlyWarnings) {
  const std::pair<const char*, bool> lines[] = {
      {" 1 Skip HIGH Value KVR05A   4.12", false},
      {" Default Curve fit: Linear", false},
      {"\n Processing file: medV6_raw_agealigned.txt", false},
      {" Warning: class 2 series X age 4 regional curve -999.0 has no value", true},
      {" *************** WARNING **************** ", true},
      {" Class 3: 12 more index warnings are in the log", true},
      {" trrw: series A: 1 value(s) too large for the file", true},
      {">> sbr spline: matrix not positive definite", true},
      {" a line about sbr and trrw", false},
  };
  const auto dir = std::filesystem::temp_directory_path() / "kavrel_run_log_quiet";
  std::filesystem::create_directories(dir);
  RunLog log;
  log.open(dir / "log.txt");
  log.setQuiet(true);
  std::string shown, logged;
  ::testing::internal::CaptureStdout();
  for (const auto& [line, warning] : lines) {
    EXPECT_EQ(isWarningLine(line), warning) << line;
    log.echo(line);
    if (warning) shown += std::string(line) + "\n";
    logged += std::string(line) + "\n";
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), shown);
  log.close();
  EXPECT_EQ(test::readTextFile(dir / "log.txt"), logged);  // the log is unchanged
  std::filesystem::remove_all(dir);
}

// In a run without questions every warning line, on the screen and in the
// log, starts with the input's name; other lines are left as they are.
TEST(RunLog, WarningPrefixMarksWarningLinesOnly) {
  const std::pair<const char*, const char*> lines[] = {
      {" Class 2 (shortlow): Warning: series X age 4", "gp.rwl: Class 2 (shortlow): Warning: series X age 4"},
      {">> sbr curve: over 34 iterations", "gp.rwl: >> sbr curve: over 34 iterations"},
      {" Default Curve fit: Linear", " Default Curve fit: Linear"},
  };
  const auto dir = std::filesystem::temp_directory_path() / "kavrel_run_log_prefix";
  std::filesystem::create_directories(dir);
  RunLog log;
  log.open(dir / "log.txt");
  log.setWarningPrefix("gp.rwl");
  std::string expected;
  ::testing::internal::CaptureStdout();
  for (const auto& [line, shown] : lines) {
    log.echo(line);
    expected += std::string(shown) + "\n";
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), expected);
  log.close();
  EXPECT_EQ(test::readTextFile(dir / "log.txt"), expected);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kavrel
