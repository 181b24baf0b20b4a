// Shared pieces of the driver tests: decade lines written independently of
// the program's writer, a fixture that runs each test in a scratch folder of
// its own (the class files have fixed names), and the commit of the combined
// index file that a first pass leaves open.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/run_context.h"
#include "driver/run_log.h"
#include "util/console.h"

namespace kavrel::test {

// Decade lines of one series in thousandths of a mm with the -9999 marker.
inline std::string decade(const std::string& id, int32_t firstYear, const std::vector<int>& v) {
  std::vector<int> all = v;
  all.push_back(-9999);
  std::string out;
  int32_t year = firstYear;
  size_t i = 0;
  while (i < all.size()) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%-8s%4d", id.c_str(), year);
    out += buf;
    const int32_t room = 10 - ((year % 10) + 10) % 10;
    for (int32_t c = 0; c < room && i < all.size(); ++c, ++i, ++year) {
      std::snprintf(buf, sizeof buf, "%6d", all[i]);
      out += buf;
    }
    out += "\n";
  }
  return out;
}

// Runs each test in a fresh scratch folder with an open run log.
class ScratchFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           (std::string("kavrel_") + info->test_suite_name() + "_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    std::filesystem::current_path(dir_);
    log_.open();
  }
  void TearDown() override {
    log_.close();
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  std::filesystem::path old_, dir_;
  Console console_{stdin, stdout};
  RunLog log_;
};

// Puts the combined index file the passes appended to under its name.
inline void commitCombined(RunContext& ctx) {
  ctx.combinedIndexFile = nullptr;
  ctx.combinedFirstPass->commit();
  ctx.combinedFirstPass.reset();
}

}  // namespace kavrel::test
