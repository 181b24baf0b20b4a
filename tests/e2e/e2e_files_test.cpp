// Whole runs and the files around them: an input named like an output is
// refused, links are replaced and never written through, a failed rename or
// a full disk ends the run with a message and no scratch file, and a second
// run in a busy folder ends at once without touching it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
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
const char* const kCombined = "KavrelV6indx.raw.txt";

// The 17 output names of a run.
std::vector<std::string> outputNames() {
  std::vector<std::string> names = {kLog, kCombined};
  for (const char* raw :
       {"shorthighV6_raw", "shortlowV6_raw", "longhighV6_raw", "longlowV6_raw", "medV6_raw"}) {
    names.push_back(raw);
    names.push_back(std::string(raw) + "_agealigned.txt");
    names.push_back(std::string(raw) + "_agealigned.indx.txt");
  }
  return names;
}

// Answers after the input-file question: no pith offsets, every option
// declined, median age, ratios; continue from the plot menu.
const char* const kRestOfDialogue = "f\nf\nf\nf\nf\n2\n1\nc\n";

void spit(const fs::path& p, const std::string& text) {
  std::ofstream f(p, std::ios::binary);
  f << text;
}

// Every entry of a folder: a link's target, or the size of a file.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    files[name] = e.is_symlink() ? "-> " + fs::read_symlink(e.path()).string()
                                 : std::to_string(e.file_size()) + " bytes";
  }
  return files;
}

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

TEST(E2eFiles, InputNamesThatAreOutputsAreRefusedAndAskedAgain) {
  REQUIRE_SHARED_DATA(rwl, "dplr/gp.rwl");
  REQUIRE_SHARED_DATA(pith, "dplr/gp.pith");
  // Answers refused at the input-file question (1) and at the pith-offset
  // file question (2), as typed and as shown, and the output each stands for.
  struct Refused {
    int question;
    std::string typed;
    std::string shown;
    std::string output;
  };
  const std::vector<Refused> refused = {
      {1, "medV6_raw", "medV6_raw", ""},
      {1, "'./Kavrelv6_log.txt'", "./Kavrelv6_log.txt", kLog},
      {1, "alias.rwl", "alias.rwl", "medV6_raw"},  // a link to an output
      {2, "KavrelV6indx.raw.txt", "KavrelV6indx.raw.txt", ""},
      {2, "'../run/longlowV6_raw_agealigned.indx.txt'", "../run/longlowV6_raw_agealigned.indx.txt",
       "longlowV6_raw_agealigned.indx.txt"},
  };
  std::string answers[3];
  for (const Refused& r : refused) answers[r.question] += r.typed + "\n";
  const std::string script =
      "\n" + answers[1] + "gp.rwl\nt\n" + answers[2] + "gp.pith\n'(i3)'\nf\nf\nf\nf\n2\n1\nc\nf\n";
  RunSetup setup;
  setup.prepare = [](const fs::path& folder) {
    spit(folder / "medV6_raw", "an older class file\n");
    fs::create_symlink("medV6_raw", folder / "alias.rwl");
  };
  RunResult r = runKavrel(script, {{rwl, "gp.rwl"}, {pith, "gp.pith"}}, 120, setup);
  ASSERT_EQ(r.exitStatus, 0) << r.screen;
  for (const Refused& f : refused) {
    const std::string what =
        f.output.empty() ? " is an output file" : " is the output file " + f.output;
    EXPECT_THAT(r.screen, HasSubstr(" " + f.shown + what +
                                    " of this run, which the run replaces; enter another name.\n"));
  }
  EXPECT_EQ(count(r.screen, "Enter input file of tree-ring measurements :> "), 4);
  EXPECT_EQ(count(r.screen, "Enter Pith Offset file name :> "), 3);
  // Only the accepted names are logged.
  const std::string log = r.file(kLog);
  EXPECT_EQ(log.rfind(" input file = gp.rwl\n", 0), 0u) << log;
  EXPECT_EQ(count(log, "input file = "), 1);
  EXPECT_EQ(count(log, "pith offset file = "), 1);
  EXPECT_THAT(log, HasSubstr(" pith offset file = gp.pith\n"));
  EXPECT_THAT(log, Not(HasSubstr("enter another name")));
}

TEST(E2eFiles, LinksAreReplacedAndNeverWrittenThrough) {
  REQUIRE_SHARED_DATA(rwl, "dplr/gp.rwl");
  // Links named like every output's old scratch name, like the log and like
  // a class file, all to files outside the run folder.
  std::vector<std::string> linked;
  for (const std::string& name : outputNames()) linked.push_back(name + ".part");
  linked.push_back(kLog);
  linked.push_back("medV6_raw");
  std::map<std::string, std::string> outside;
  RunSetup setup;
  setup.prepare = [&](const fs::path& folder) {
    const fs::path elsewhere = folder.parent_path() / "elsewhere";
    fs::create_directory(elsewhere);
    for (const std::string& name : linked) {
      spit(elsewhere / name, "not the run's: " + name + "\n");
      fs::create_symlink(elsewhere / name, folder / name);
    }
    outside = snapshot(elsewhere);
  };
  // A revision of class 3 rewrites the combined file through a scratch file.
  RunResult r = runKavrel("\ngp.rwl\n" + std::string(kRestOfDialogue) + "t\n3\n6\nc\nf\n",
                          {{rwl, "gp.rwl"}}, 120, setup);
  ASSERT_EQ(r.exitStatus, 0) << r.screen;
  EXPECT_EQ(snapshot(r.folder.parent_path() / "elsewhere"), outside);
  for (const char* name : {kLog, "medV6_raw"}) {
    EXPECT_FALSE(fs::is_symlink(r.folder / name)) << name;
  }
  EXPECT_EQ(r.file(kLog).rfind(" input file = gp.rwl\n", 0), 0u);
  EXPECT_THAT(r.file("medV6_raw"), HasSubstr("-9999"));
  // The planted links stay as they were, and no scratch file is left.
  std::vector<std::string> planted(linked.begin(), linked.end() - 2);
  std::sort(planted.begin(), planted.end());
  EXPECT_EQ(r.scratchNames(), planted);
  for (const std::string& name : planted) EXPECT_TRUE(fs::is_symlink(r.folder / name)) << name;
}

TEST(E2eFiles, AFailedRenameEndsTheRunAndLeavesNoScratchFile) {
  REQUIRE_SHARED_DATA(rwl, "dplr/gp.rwl");
  RunSetup setup;
  setup.prepare = [](const fs::path& folder) { fs::create_directory(folder / kCombined); };
  RunResult r =
      runKavrel("\ngp.rwl\n" + std::string(kRestOfDialogue) + "f\n", {{rwl, "gp.rwl"}}, 120, setup);
  EXPECT_EQ(r.exitStatus, 1);
  const std::string message = " Cannot replace file KavrelV6indx.raw.txt: Is a directory\n";
  EXPECT_THAT(r.screen, HasSubstr(message));
  EXPECT_THAT(r.file(kLog), HasSubstr(message));
  EXPECT_THAT(r.scratchNames(), ::testing::IsEmpty());
}

// Under a file size limit writes fail as on a full disk: the run ends with a
// message naming the file and the reason, on the screen and, while it can
// still be written, in the log.
TEST(E2eFiles, AFullDiskEndsTheRunNamingTheFile) {
  REQUIRE_SHARED_DATA(rwl, "dplr/gp.rwl");
  struct Case {
    int blocks;        // 512-byte blocks a file may hold
    const char* file;  // the first file that doesn't fit
    bool inLog;        // the message reaches the log
  };
  // The log of this run holds about 10 kB, its class files up to 61 kB.
  for (const Case& c : {Case{8, kLog, false}, Case{40, "shortlowV6_raw", true}}) {
    SCOPED_TRACE(c.file);
    RunSetup setup;
    setup.fileSizeBlocks = c.blocks;
    RunResult r = runKavrel("\ngp.rwl\n" + std::string(kRestOfDialogue) + "f\n", {{rwl, "gp.rwl"}},
                            120, setup);
    EXPECT_EQ(r.exitStatus, 1);
    const std::string message = " Cannot write file " + std::string(c.file) + ": File too large\n";
    EXPECT_THAT(r.screen, HasSubstr(message));
    EXPECT_EQ(r.file(kLog).find(message) != std::string::npos, c.inLog);
    EXPECT_THAT(r.scratchNames(), ::testing::IsEmpty());
    EXPECT_THAT(r.screen, Not(HasSubstr("Normal Termination")));
  }
}

// A run that waits at its banner holds the folder; a second run there ends
// at once with a message and changes nothing; the first then completes.
TEST(E2eFiles, ASecondRunInABusyFolderEndsWithoutTouchingIt) {
  REQUIRE_SHARED_DATA(rwl, "dplr/gp.rwl");
  pid_t first = -1;
  int toFirst = -1;
  int fromFirst = -1;
  std::string firstScreen;
  std::map<std::string, std::string> before;
  RunSetup setup;
  setup.prepare = [&](const fs::path& folder) {
    int in[2];
    int out[2];
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    first = fork();
    ASSERT_GE(first, 0);
    if (first == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[1]);
      close(out[0]);
      if (chdir(folder.c_str()) != 0) _exit(127);
      unsetenv("DISPLAY");
      execl(kavrelExe().c_str(), "kavrel", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    toFirst = in[1];
    fromFirst = out[0];
    char buf[4096];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (firstScreen.find("Hit RETURN to Continue") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      const ssize_t n = read(fromFirst, buf, sizeof buf);
      if (n <= 0) break;
      firstScreen.append(buf, static_cast<size_t>(n));
    }
    before = snapshot(folder);
  };
  RunResult second =
      runKavrel("\ngp.rwl\n" + std::string(kRestOfDialogue) + "f\n", {{rwl, "gp.rwl"}}, 120, setup);
  ASSERT_GT(first, 0);
  ASSERT_THAT(firstScreen, HasSubstr("Hit RETURN to Continue"));
  EXPECT_EQ(second.exitStatus, 1);
  EXPECT_THAT(second.screen, ::testing::MatchesRegex(
                                 " Another run of kavrel is using the folder /.*/run; this run "
                                 "ends without changing anything there.\n"));
  EXPECT_EQ(snapshot(second.folder), before);

  const std::string answers = "\ngp.rwl\n" + std::string(kRestOfDialogue) + "f\n";
  ASSERT_EQ(write(toFirst, answers.data(), answers.size()), static_cast<ssize_t>(answers.size()));
  close(toFirst);
  char buf[4096];
  while (read(fromFirst, buf, sizeof buf) > 0) {
  }
  close(fromFirst);
  int status = 0;
  waitpid(first, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(second.file(kLog).rfind(" input file = gp.rwl\n", 0), 0u);
  EXPECT_TRUE(second.exists(kCombined));
}

}  // namespace
}  // namespace kavrel::test
