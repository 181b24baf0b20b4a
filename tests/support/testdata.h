// Locating the shared real-data files and the built program for tests;
// reading files independently of the program's own readers.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace kavrel::test {

// Full path of a file below the shared data folder, e.g. "itrdb/ca667.rwl".
// When the file is missing the calling test is skipped with a message, except
// under CI (CI=true) where it fails: CI must always see the real data.
// Use through the REQUIRE_SHARED_DATA macro, which returns from the test.
std::string sharedDataPath(const std::string& relative);
bool sharedDataAvailable(const std::string& relative);

// Path of the built kavrel executable.
std::string kavrelExe();

// Path of the repository's source tree (for examples/).
std::string sourceDir();

// Whole contents of a file, byte for byte; "" when it can't be read.
std::string readTextFile(const std::filesystem::path& path);

// Ring widths of the first series of a decade-format file with the 999 end
// marker (ID, decade year, then up to ten values per line).
std::vector<float> firstSeries(const std::string& path);

}  // namespace kavrel::test

// Declares `var` as the path of a shared data file, or skips/fails the test.
#define REQUIRE_SHARED_DATA(var, relative)                                          \
  std::string var = ::kavrel::test::sharedDataPath(relative);                       \
  if (!::kavrel::test::sharedDataAvailable(relative)) {                             \
    const char* ci_ = std::getenv("CI");                                            \
    if (ci_ != nullptr && std::string(ci_) == "true") {                             \
      FAIL() << "shared data file missing under CI: " << var;                       \
    }                                                                               \
    GTEST_SKIP() << "shared data file not found, skipping: " << var;                \
  }
