// A scratch folder for the command-line tests, holding a ring-width file, a
// pith-offset file, a plain text file and a subfolder. The parser only
// opens the files, so their contents need not be real data.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "driver/run_request.h"

namespace kavrel {

// Readable failure output for whole requests.
inline void PrintTo(const RunRequest& r, std::ostream* os) {
  const RunOptions& o = r.options;
  *os << "{interactive=" << r.interactive << " input=" << o.inputFileName << "|" << r.inputPath
      << " pith=" << o.usePithOffsets << ":" << o.pithFileName << "|" << r.pithPath << ":"
      << o.pithReadFormat << " power=" << o.powerTransform << " outliers=" << o.removeOutliers
      << ":" << o.lowerLimit << ":" << o.upperLimit << " age=" << o.restrictAgeBand << ":"
      << o.minAge << ":" << o.maxAge << " years=" << o.restrictYears << ":" << o.firstYearMin << ":"
      << o.firstYearMax << " mean=" << o.useMeanAge << " index=" << o.indexMode
      << " revisions=" << r.revisions.size() << " out=" << r.outFolder << ":" << r.outFolderGiven
      << " page=" << r.pagePath << " report=" << r.report << " chronology=" << r.chronology
      << " chronologyPage=" << r.chronologyPagePath << " size=" << r.pageWidth << "x"
      << r.pageHeight << " site=" << r.site << " quiet=" << r.quiet << " recipe=" << r.recipePath
      << " record=" << r.recordPath << " save=" << r.saveRecipePath << "}";
}

namespace cli {

namespace fs = std::filesystem;

class CliFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kavrel_cli_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = fs::path(pattern);
    write("site.rwl", "KVR01A  1972   190   220\n");
    write("site.pith", "KVR01A      9\n");
    write("plain.txt", "text\n");
    fs::create_directory(dir_ / "data");
  }
  void TearDown() override { fs::remove_all(dir_); }

  void write(const fs::path& relative, const std::string& text) {
    fs::create_directories((dir_ / relative).parent_path());
    std::ofstream(dir_ / relative, std::ios::binary) << text;
  }

  Command parse(std::vector<std::string> args, const fs::path& start = {}) const {
    return parseCommandLine(args, start.empty() ? dir_ : start);
  }

  // The request of "kavrel run site.rwl": every other setting at its default.
  RunRequest plainRun() const {
    RunRequest r;
    r.interactive = false;
    r.options.inputFileName = "site.rwl";
    r.inputPath = dir_ / "site.rwl";
    r.options.indexMode = 1;
    r.outFolder = dir_;
    return r;
  }

  // Every path below the folder, to show that parsing created nothing.
  std::set<fs::path> listing() const {
    std::set<fs::path> paths;
    for (const auto& e : fs::recursive_directory_iterator(dir_)) paths.insert(e.path());
    return paths;
  }

  fs::path dir_;
};

}  // namespace cli
}  // namespace kavrel
