// Pith offsets by series name: a pith table with the offsets of a positional
// pith-offset file gives the same files, in a run and in the dialogue (where
// it answers the pith question); a table that does not pair up with the
// series is not used; bad content ends the run before any class file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/run_helper.h"
#include "support/testdata.h"

namespace kavrel::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

class PithTable : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!sharedDataAvailable("dplr/gp.po.csv")) GTEST_SKIP() << "shared data not found";
    // gp.po.csv holds R's values for the offsets of gp.pith (one more each:
    // R counts the first measured ring), by name in file order; a copy in
    // reverse order with R's row names checks that order plays no part.
    inputs_ = {{sharedDataPath("dplr/gp.rwl"), "gp.rwl"},
               {sharedDataPath("dplr/gp.pith"), "gp.pith"},
               {sharedDataPath("dplr/gp.po.csv"), "gp.po.csv"},
               {writeTempFile("shuffled.csv", shuffledWithRowNames()), "shuffled.csv"}};
  }

  // gp.po.csv as write.csv writes it with row names, rows in reverse order.
  static std::string shuffledWithRowNames() {
    const std::vector<std::string> lines = splitLines(readTextFile(sharedDataPath("dplr/gp.po.csv")));
    std::string text = "\"\",";
    text.append(lines.front()).append("\n");
    for (size_t i = lines.size() - 1; i >= 1; --i) {
      if (lines[i].empty()) continue;
      text.append("\"").append(std::to_string(i)).append("\",").append(lines[i]).append("\n");
    }
    return text;
  }

  static std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
      const size_t end = std::min(text.find('\n', pos), text.size());
      lines.push_back(text.substr(pos, end - pos));
      pos = end + 1;
    }
    return lines;
  }

  RunResult run(const std::vector<std::string>& args, const std::string& stdinText = "") const {
    RunSetup setup;
    setup.args = args;
    return runKavrel(stdinText, inputs_, 240, setup);
  }

  std::vector<std::string> inputNames() const {
    std::vector<std::string> n;
    for (const RunInput& in : inputs_) n.push_back(in.name);
    return n;
  }

  std::vector<RunInput> inputs_;
};

TEST_F(PithTable, OffsetsByNameGiveTheFilesOfThePositionalFile) {
  const std::vector<std::string> common = {"--threshold", "median", "--index", "ratio", "--report",
                                           "--curve", "3:7"};
  auto withCommon = [&](std::vector<std::string> args) {
    args.insert(args.end(), common.begin(), common.end());
    return args;
  };
  const RunResult positional =
      run(withCommon({"run", "gp.rwl", "--pith", "gp.pith", "--pith-format", "(i3)"}));
  ASSERT_EQ(positional.exitStatus, 0) << positional.screen << positional.errors;
  const std::vector<std::string> skip = inputNames();
  // The log and the manifest (which holds the log's checksum and the pith
  // file read) name where the offsets came from; every other file is the same.
  std::map<std::string, std::string> expected = filesBelow(positional.folder, skip);
  expected.erase("Kavrelv6_log.txt");
  expected.erase("kavrel_manifest.toml");

  for (const char* table : {"gp.po.csv", "shuffled.csv"}) {
    SCOPED_TRACE(table);
    const RunResult byName = run(withCommon({"run", "gp.rwl", "--pith-table", table}));
    ASSERT_EQ(byName.exitStatus, 0) << byName.screen << byName.errors;
    std::map<std::string, std::string> got = filesBelow(byName.folder, skip);
    const std::string log = got["Kavrelv6_log.txt"];
    EXPECT_THAT(got["kavrel_manifest.toml"], HasSubstr(std::string("name = \"") + table));
    got.erase("Kavrelv6_log.txt");
    got.erase("kavrel_manifest.toml");
    ASSERT_EQ(got.size(), expected.size());
    for (const auto& [name, text] : expected) EXPECT_TRUE(got[name] == text) << name << " differs";
    EXPECT_THAT(log, HasSubstr(std::string(" pith offset table = ") + table + "\n"));
    EXPECT_THAT(log, HasSubstr(" Number of offsets read = 58\n"));
  }

  // In the dialogue the table answers the pith question, which is not asked;
  // the files, log included, are those of the run with the same table.
  const RunResult dialogue =
      run({"--pith-table", "gp.po.csv", "--report"}, "\ngp.rwl\nf\nf\nf\nf\n2\n1\nc\nt\n3\n7\nc\nf\n");
  ASSERT_EQ(dialogue.exitStatus, 0) << dialogue.screen << dialogue.errors;
  EXPECT_THAT(dialogue.screen, Not(HasSubstr("Pith Offset file")));
  const RunResult runMode = run(withCommon({"run", "gp.rwl", "--pith-table", "gp.po.csv"}));
  std::map<std::string, std::string> fromDialogue = filesBelow(dialogue.folder, skip);
  std::map<std::string, std::string> fromRun = filesBelow(runMode.folder, skip);
  ASSERT_EQ(fromDialogue.size(), fromRun.size());
  for (const auto& [name, text] : fromRun) EXPECT_TRUE(fromDialogue[name] == text) << name;
}

TEST_F(PithTable, MismatchWarnsAndBadContentEndsTheRun) {
  const std::string po = readTextFile(sharedDataPath("dplr/gp.po.csv"));
  struct Case {
    std::string label;
    std::string table;
    int status;
    std::string shown;  // on the screen or standard error
  };
  const std::vector<Case> cases = {
      {"a row too many, a name twice", po + "\"zz9\",3\n\"01A\",4\n", 0,
       " Warning: the pith table t.csv does not match the series: no series for zz9; given more "
       "than once: 01A. Program continuing without offset information"},
      {"a series without a row", po.substr(0, po.rfind('\n', po.size() - 2) + 1), 0,
       "does not match the series: no row for "},
      {"not a number", "series,pith_offset\n01A,12\n01B,1x\n", 1,
       " Cannot read the pith table t.csv, line 3, column 2: '1x' is not a pith offset"},
      {"R's 0 is no offset", "\"\",\"series\",\"pith.offset\"\n\"1\",\"01A\",0\n", 1,
       "line 2, column 3: '0' is not a pith offset"},
      {"short row", "series,pith.offset\n01A\n", 1, "line 2, column 2: 1 fields where the header has 2"},
      {"no such columns", "id,offset\n01A,3\n", 1, "line 1: the header names no column series"},
      {"open quote", "series,pith.offset\n\"01A,3\n", 1, "a quote out of place"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    RunSetup setup;
    setup.args = {"run", "gp.rwl", "--pith-table", "t.csv", "--report"};
    std::vector<RunInput> inputs = inputs_;
    inputs.push_back({writeTempFile(c.label + ".csv", c.table), "t.csv"});
    const RunResult r = runKavrel("", inputs, 240, setup);
    EXPECT_EQ(r.exitStatus, c.status) << r.screen << r.errors;
    EXPECT_THAT(r.screen, HasSubstr(c.shown));
    // A failed run writes no class file; a mismatch runs without offsets.
    EXPECT_EQ(r.exists("medV6_raw"), c.status == 0);
  }
  const RunResult both =
      run({"run", "gp.rwl", "--pith-table", "gp.po.csv", "--pith", "gp.pith", "--pith-format", "(i3)"});
  EXPECT_EQ(both.exitStatus, 2);
  EXPECT_THAT(both.errors, HasSubstr("--pith-table: can't be given with --pith"));
}

}  // namespace
}  // namespace kavrel::test
