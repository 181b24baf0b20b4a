// Output files: written beside the target under a fresh name, never through
// a link, renamed into place; every failure names the file and the reason
// and leaves no scratch file behind.
#include "util/outfile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/testdata.h"
#include "util/fatal.h"

namespace kavrel {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;
using Placement = OutputFile::Placement;

void spit(const fs::path& p, const std::string& text) {
  std::ofstream f(p, std::ios::binary);
  f << text;
}

class OutFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kavrel_outfile_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    fs::create_directory(dir / "elsewhere");
  }
  void TearDown() override { fs::remove_all(dir); }

  // Names in the test folder other than "elsewhere", sorted.
  std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(dir)) {
      if (e.path().filename() != "elsewhere") found.push_back(e.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  fs::path dir;
};

// What stands under the target's name before the file is written.
struct Planted {
  const char* what;
  std::function<void(const fs::path& target, const fs::path& elsewhere)> plant;
};

const std::vector<Planted> kPlanted = {
    {"nothing", [](const fs::path&, const fs::path&) {}},
    {"an older file", [](const fs::path& t, const fs::path&) { spit(t, "older run\n"); }},
    {"a link to a file elsewhere",
     [](const fs::path& t, const fs::path& e) {
       spit(e, "not ours\n");
       fs::create_symlink(e, t);
     }},
    {"a dangling link",
     [](const fs::path& t, const fs::path& e) { fs::create_symlink(e.string() + ".none", t); }},
};

TEST_F(OutFile, WrittenFreshAndRenamedIntoPlaceNeverThroughALink) {
  const mode_t mask = ::umask(022);
  ::umask(mask);
  for (const Placement placement : {Placement::OnCommit, Placement::AtOnce}) {
    for (const Planted& p : kPlanted) {
      SCOPED_TRACE(std::string(p.what) + (placement == Placement::AtOnce ? ", at once" : ""));
      const fs::path target = dir / "medV6_raw";
      const fs::path elsewhere = dir / "elsewhere" / "data.rwl";
      p.plant(target, elsewhere);
      const std::string before = test::readTextFile(target);
      {
        OutputFile f(target, placement);
        EXPECT_EQ(f.scratch().parent_path(), dir);
        f.write("new ");
        f.write(std::string(100000, 'x'));  // more than one buffer
        f.flush();
        if (placement == Placement::OnCommit) {
          // Until the commit the target is as it was, the data beside it.
          EXPECT_EQ(test::readTextFile(target), before);
          EXPECT_THAT(f.scratch().filename().string(),
                      ::testing::MatchesRegex("medV6_raw\\.[A-Za-z0-9]{6}\\.part"));
        } else {
          EXPECT_FALSE(fs::is_symlink(target));
        }
        f.write("end\n");
        f.commit();
        f.commit();  // a second commit does nothing
      }
      EXPECT_FALSE(fs::is_symlink(target));
      EXPECT_EQ(test::readTextFile(target), "new " + std::string(100000, 'x') + "end\n");
      if (fs::exists(elsewhere)) {
        EXPECT_EQ(test::readTextFile(elsewhere), "not ours\n");
      }
      struct stat st {};
      ASSERT_EQ(::stat(target.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
      EXPECT_EQ(names(), std::vector<std::string>{"medV6_raw"});
      fs::remove(target);
      fs::remove(elsewhere);
    }
  }
}

// Runs `body` with the process's file size limit at `bytes` (writes beyond
// it fail with EFBIG instead of raising SIGXFSZ), as on a full disk.
void withFileSizeLimit(rlim_t bytes, const std::function<void()>& body) {
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit limited = old;
  limited.rlim_cur = bytes;
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  try {
    body();
  } catch (...) {
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    throw;
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
}

TEST_F(OutFile, FailuresNameTheFileAndTheReasonAndLeaveNoScratchFile) {
  const fs::path target = dir / "KavrelV6indx.raw.txt";
  const std::string big(3 * 4096, 'x');

  // The final name is a folder: the rename fails.
  fs::create_directory(target);
  {
    OutputFile f(target);
    f.write("data\n");
    EXPECT_THAT([&] { f.commit(); }, ThrowsMessage<Fatal>("Cannot replace file " + target.string() +
                                                          ": Is a directory"));
    EXPECT_FALSE(f.isOpen());
  }
  EXPECT_THAT([&] { OutputFile f(target, Placement::AtOnce); },
              ThrowsMessage<Fatal>("Cannot create file " + target.string() + ": Is a directory"));
  EXPECT_EQ(names(), std::vector<std::string>{"KavrelV6indx.raw.txt"});
  fs::remove(target);

  // No such folder.
  EXPECT_THAT([&] { OutputFile f(dir / "none" / "x"); },
              ThrowsMessage<Fatal>(HasSubstr("/none/x: No such file or directory")));

  // A full disk: the older file stays whole, the scratch file goes.
  spit(target, "older run\n");
  withFileSizeLimit(4096, [&] {
    OutputFile f(target);
    EXPECT_THAT(
        [&] {
          f.write(big);
          f.commit();
        },
        ThrowsMessage<Fatal>("Cannot write file " + target.string() + ": File too large"));
  });
  EXPECT_EQ(test::readTextFile(target), "older run\n");
  EXPECT_EQ(names(), std::vector<std::string>{"KavrelV6indx.raw.txt"});

  // The same for a file placed at once: it keeps what could be written.
  withFileSizeLimit(4096, [&] {
    OutputFile f(target, Placement::AtOnce);
    f.write("first line\n");
    f.flush();
    EXPECT_THAT(
        [&] {
          f.write(big);
          f.flush();
        },
        ThrowsMessage<Fatal>("Cannot write file " + target.string() + ": File too large"));
  });
  EXPECT_EQ(test::readTextFile(target).substr(0, 11), "first line\n");
  EXPECT_EQ(fs::file_size(target), 4096u);

  // Abandoned before the commit: the target as it was, nothing else left.
  spit(target, "older run\n");
  {
    OutputFile f(target);
    f.write("half");
    f.flush();
  }
  EXPECT_EQ(test::readTextFile(target), "older run\n");
  EXPECT_EQ(names(), std::vector<std::string>{"KavrelV6indx.raw.txt"});
}

TEST_F(OutFile, ScratchPathForAWriterThatOpensByName) {
  const fs::path target = dir / "page.ps";
  spit(dir / "page.ps.part", "user data\n");
  {
    ScratchPath a(target);
    ScratchPath b(target);
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_NE(a.path(), b.path());
    EXPECT_EQ(fs::file_size(a.path()), 0u);
    spit(a.path(), "%!PS\n");
    EXPECT_TRUE(a.commit());
  }  // b, uncommitted, is removed
  EXPECT_EQ(test::readTextFile(target), "%!PS\n");
  EXPECT_EQ(test::readTextFile(dir / "page.ps.part"), "user data\n");
  EXPECT_EQ(names(), (std::vector<std::string>{"page.ps", "page.ps.part"}));

  fs::remove(target);
  fs::create_directory(target);
  ScratchPath c(target);
  ASSERT_TRUE(c.ok());
  EXPECT_FALSE(c.commit());
  EXPECT_EQ(c.error(), "Is a directory");
  EXPECT_EQ(names(), (std::vector<std::string>{"page.ps", "page.ps.part"}));

  ScratchPath d(dir / "none" / "page.ps");
  EXPECT_FALSE(d.ok());
  EXPECT_EQ(d.error(), "No such file or directory");
}

}  // namespace
}  // namespace kavrel
