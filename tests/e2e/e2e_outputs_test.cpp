// What a run leaves in its folder: a picture cut short by a full disk is
// never kept, an input may not be a file the run writes, scratch files of a
// killed run are cleared, and the manifest accounts for every file written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "e2e/run_helper.h"
#include "support/testdata.h"

namespace kavrel::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

const char* const kLog = "Kavrelv6_log.txt";
const char* const kManifest = "kavrel_manifest.toml";

std::string example() { return sourceDir() + "/examples/kavrel_example.rwl"; }

// The dialogue's answers after the input file: no pith offsets, every option
// declined, median age, ratios.
const char* const kOptions = "f\nf\nf\nf\nf\n2\n1\n";

void spit(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

// SHA-256 and size of a file, as sha256sum and the file system give them.
std::pair<std::string, std::string> digestOf(const fs::path& p) {
  std::string hash;
  const std::string cmd = "sha256sum < '" + p.string() + "'";
  if (std::FILE* f = popen(cmd.c_str(), "r")) {
    char buf[128];
    if (std::fgets(buf, sizeof buf, f) != nullptr) hash = std::string(buf).substr(0, 64);
    pclose(f);
  }
  return {hash, std::to_string(fs::file_size(p))};
}

// The [[input]] or [[output]] tables of a manifest: name -> (sha256, size).
std::map<std::string, std::pair<std::string, std::string>> manifestFiles(const std::string& text,
                                                                         const std::string& table) {
  std::map<std::string, std::pair<std::string, std::string>> files;
  bool inTable = false;
  std::string name;
  for (const std::string& line : splitLines(text)) {
    if (line.starts_with("[")) inTable = line == "[[" + table + "]]";
    if (!inTable) continue;
    const auto value = [&](const char* key) -> std::optional<std::string> {
      const std::string prefix = std::string(key) + " = ";
      if (!line.starts_with(prefix)) return std::nullopt;
      std::string v = line.substr(prefix.size());
      if (v.size() >= 2 && v.front() == '"') v = v.substr(1, v.size() - 2);
      return v;
    };
    if (auto v = value("name")) name = *v;
    if (auto v = value("size")) files[name].second = *v;
    if (auto v = value("sha256")) files[name].first = *v;
  }
  return files;
}

// A page cut short by a full disk (here a file size limit of 100 kB, which
// every other file of the run fits) is not kept: the run names the file and
// ends with status 1, and neither the picture nor its scratch file stays.
TEST(E2eOutputs, PicturesCutShortAreNotKept) {
  for (const std::vector<std::string>& pageArgs : {std::vector<std::string>{"--page", "p.png"},
                                                   {"--page", "p.svg"},
                                                   {"--page", "p.ps"},
                                                   {"--chronology-page", "c.png"}}) {
    const std::string& file = pageArgs[1];
    SCOPED_TRACE(file);
    RunSetup setup;
    setup.fileSizeBlocks = 200;
    setup.args = {"run", "ex.rwl", "--out", "o", pageArgs[0], file};
    RunResult r = runKavrel("", {{example(), "ex.rwl"}}, 120, setup);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_THAT(r.screen, HasSubstr("/o/" + file + ": the picture is cut short"));
    EXPECT_THAT(r.screen, Not(HasSubstr("is saved")));
    EXPECT_THAT(r.screen, Not(HasSubstr("Normal Termination")));
    EXPECT_FALSE(fs::exists(r.folder / "o" / file));
    for (const auto& e : fs::directory_iterator(r.folder / "o")) {
      EXPECT_FALSE(e.path().string().ends_with(".part")) << e.path();
    }
  }
}

// The plot menu's save says so and asks for another name ("-": standard
// output, which the limit does not reach); the run goes on.
TEST(E2eOutputs, PlotMenuSaveCutShortAsksAgain) {
  RunSetup setup;
  setup.fileSizeBlocks = 200;
  RunResult r = runKavrel("\nex.rwl\n" + std::string(kOptions) + "s\nq.ps\n-\nc\nf\n",
                          {{example(), "ex.rwl"}}, 120, setup);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_THAT(r.screen, HasSubstr(" Can't write file q.ps: the picture is cut short"));
  EXPECT_THAT(r.screen, HasSubstr("enter another name.\nEnter graphics output file name: "));
  EXPECT_FALSE(r.exists("q.ps"));
  EXPECT_THAT(r.scratchNames(), ::testing::IsEmpty());
}

// The dialogue refuses an input or pith-offset file that this run writes
// under a name given on the command line, asks again and logs nothing of it.
TEST(E2eOutputs, DialogueRefusesInputsTheRunWrites) {
  struct Case {
    std::vector<std::string> args;
    std::string answers;
    std::string name;  // the refused name
  };
  const Case cases[] = {
      {{"--record", "data.toml"}, "\ndata.toml\n", "data.toml"},
      {{"--chronology-page", "data.png"}, "\nex.rwl\nt\ndata.png\n", "data.png"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunSetup setup;
    setup.args = c.args;
    setup.prepare = [&](const fs::path& folder) { fs::copy_file(example(), folder / c.name); };
    RunResult r = runKavrel(c.answers, {{example(), "ex.rwl"}}, 60, setup);
    EXPECT_NE(r.exitStatus, 0);  // the answers end at the question asked again
    EXPECT_THAT(r.screen, HasSubstr(" " + c.name + " is the output file " +
                                    (r.folder / c.name).string() + " of this run"));
    EXPECT_THAT(r.file(kLog), Not(HasSubstr(c.name)));
    EXPECT_EQ(r.file(c.name), readTextFile(example()));
  }
}

// Scratch files of result names and of the run's own page are stale while
// the run holds the folder: they go, with one line saying how many; other
// ".part" files stay.
TEST(E2eOutputs, StaleScratchFilesAreRemoved) {
  const std::vector<std::string> stale = {"medV6_raw.a8Zq3k.part",
                                          "kavrel_manifest.toml.000000.part",
                                          "kavrel_chronology.crn.ZZZZZZ.part", "p.svg.AbCdEf.part"};
  const std::vector<std::string> kept = {"foo.a8Zq3k.part", "medV6_raw.a8Z-3k.part",
                                         "medV6_raw.a8Zq3.part", "notes.txt.part"};
  RunSetup setup;
  setup.args = {"run", "ex.rwl", "--page", "p.svg"};
  setup.prepare = [&](const fs::path& folder) {
    for (const auto* list : {&stale, &kept})
      for (const std::string& name : *list) spit(folder / name, "x");
  };
  RunResult r = runKavrel("", {{example(), "ex.rwl"}}, 120, setup);
  EXPECT_EQ(r.exitStatus, 0);
  const std::string line = " Removed 4 scratch files left by an interrupted run of kavrel.\n";
  EXPECT_THAT(r.screen, HasSubstr(line));
  EXPECT_THAT(r.file(kLog), HasSubstr(line));
  EXPECT_EQ(r.scratchNames(), kept);
}

// The manifest of both ways of running lists every file the run wrote, the
// log included, and every file it read, with the size and SHA-256 that
// sha256sum finds; result files of an earlier run are named in a warning,
// kept, and left out of the manifest.
TEST(E2eOutputs, ManifestAccountsForEveryFileReadAndWritten) {
  struct Case {
    const char* label;
    std::vector<std::string> args;
    std::string answers;
    std::vector<std::string> older;  // result files planted before the run
    std::string warning;             // expected warning line; empty: none
  };
  const Case cases[] = {
      {"dialogue", {"--record", "r.toml"}, "\nex.rwl\n" + std::string(kOptions) + "c\nf\n", {}, ""},
      {"run",
       {"run", "ex.rwl", "--index", "residual", "--threshold", "mean", "--chronology"},
       "",
       {"kavrel_classes.csv", "kavrel_chronology.crn"},
       " Warning: result files this run does not write stay in the folder: kavrel_classes.csv, "
       "kavrel_chronology.crn\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    RunSetup setup;
    setup.args = c.args;
    setup.prepare = [&](const fs::path& folder) {
      for (const std::string& name : c.older) spit(folder / name, "an earlier run\n");
    };
    RunResult r = runKavrel(c.answers, {{example(), "ex.rwl"}}, 120, setup);
    ASSERT_EQ(r.exitStatus, 0) << r.screen;
    if (c.warning.empty()) {
      EXPECT_THAT(r.screen, Not(HasSubstr("Warning: result files")));
    } else {
      EXPECT_THAT(r.screen, HasSubstr(c.warning));
      EXPECT_THAT(r.file(kLog), HasSubstr(c.warning));
    }
    const std::string manifest = r.file(kManifest);
    EXPECT_THAT(manifest, HasSubstr("\nversion = \""));
    EXPECT_THAT(manifest, HasSubstr("\n[recipe]\n"));
    const auto inputs = manifestFiles(manifest, "input");
    ASSERT_EQ(inputs.size(), 1u);
    EXPECT_EQ(inputs.at("ex.rwl"), digestOf(example()));
    std::set<std::string> expected;
    for (const auto& e : fs::directory_iterator(r.folder)) {
      const std::string name = e.path().filename().string();
      if (name == kManifest || name == "ex.rwl" || std::count(c.older.begin(), c.older.end(), name))
        continue;
      expected.insert(name);
    }
    const auto outputs = manifestFiles(manifest, "output");
    std::set<std::string> listed;
    for (const auto& [name, digest] : outputs) {
      listed.insert(name);
      ASSERT_TRUE(fs::exists(r.folder / name)) << name;
      EXPECT_EQ(digest, digestOf(r.folder / name)) << name;
    }
    EXPECT_EQ(listed, expected);
    EXPECT_TRUE(listed.count(kLog));
    for (const std::string& name : c.older) EXPECT_EQ(r.file(name), "an earlier run\n");
  }
}

// A manifest that can't be written is a failed run.
TEST(E2eOutputs, ManifestThatCannotBeWrittenEndsWithStatusOne) {
  RunSetup setup;
  setup.args = {"run", "ex.rwl"};
  setup.prepare = [](const fs::path& folder) { fs::create_directory(folder / kManifest); };
  RunResult r = runKavrel("", {{example(), "ex.rwl"}}, 120, setup);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_THAT(r.screen, HasSubstr("/kavrel_manifest.toml: Is a directory\n"));
  EXPECT_THAT(r.screen, Not(HasSubstr("Normal Termination")));
  EXPECT_THAT(r.scratchNames(), ::testing::IsEmpty());
}

}  // namespace
}  // namespace kavrel::test
