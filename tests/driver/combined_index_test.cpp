// Removal of one class's index series from the combined index file.
#include "driver/combined_index.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "rwfile/trrw.h"
#include "support/testdata.h"
#include "util/fatal.h"

namespace kavrel {
namespace {

namespace fs = std::filesystem;

void spit(const fs::path& p, const std::string& text) {
  std::ofstream f(p, std::ios::binary);
  f << text;
}

// The decade lines of one series, as the writer lays them out.
std::string series(std::string_view id, int32_t firstYear, const std::vector<float>& values) {
  std::string out;
  EXPECT_TRUE(trrwFormat(out, id, firstYear, values).ok());
  return out;
}

// Every series of a file, as (id, first year, values).
struct Read {
  std::string id;
  int32_t firstYear;
  std::vector<float> values;
};
std::vector<Read> readAll(const fs::path& p) {
  auto in = RwInput::openFile(p.string());
  EXPECT_TRUE(in.has_value());
  std::vector<Read> out;
  int32_t counter = 0;
  for (;;) {
    Read r{};
    if (trrwRead(*in, r.id, r.firstYear, r.values, counter) == kEndOfFile) break;
    out.push_back(std::move(r));
  }
  return out;
}

class CombinedIndex : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kavrel_combined_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    combined = dir / "KavrelV6indx.raw.txt";
    classFile = dir / "shortlowV6_raw_agealigned.indx.txt";
  }
  void TearDown() override { fs::remove_all(dir); }

  RemovalResult remove(const RemovalHooks& hooks = {}) {
    return removeClassSeries(classFile.string(), combined.string(), hooks);
  }

  // Scratch files of the combined file left in the folder.
  std::vector<fs::path> scratchFiles() const {
    std::vector<fs::path> found;
    for (const auto& e : fs::directory_iterator(dir)) {
      const std::string name = e.path().filename().string();
      if (name.rfind("KavrelV6indx.raw.txt.", 0) == 0 && name.ends_with(".part")) {
        found.push_back(e.path());
      }
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  fs::path dir, combined, classFile;
};

// Five series of three classes; class 2 is revised twice. Each time exactly
// its old series go, the others stay byte for byte in order, and the new
// series appended after the removal are the only class-2 copies.
TEST_F(CombinedIndex, RevisingAClassTwiceKeepsOneCopyAndTheOthersByteForByte) {
  const std::string a = series("AAA01   ", 1653, {0.912f, 1.104f, 0.987f, 1.233f});
  const std::string b = series(
      "AAA02   ", 1650, {1.5f, 0.75f, 1.0f, 0.998f, 1.02f, 0.9f, 1.1f, 1.2f, 0.8f, 1.3f, 0.7f});
  const std::string c = series("BBB01   ", -5, {0.5f, 1.5f, 2.5f, 0.25f, 1.75f, 1.125f});
  const std::string d = series("BBB02   ", 1900, {1.385f, 0.615f});
  const std::string e = series("CCC01   ", 1789, {2.385f});
  spit(combined, a + b + c + d + e);
  spit(classFile, c + d);

  RemovalResult r = remove();
  EXPECT_EQ(r.classSeries, 2);
  EXPECT_EQ(r.removed, 2);
  EXPECT_EQ(r.kept, 3);
  EXPECT_EQ(r.notFound(), 0);
  EXPECT_EQ(test::readTextFile(combined), a + b + e);
  EXPECT_TRUE(scratchFiles().empty());

  // The revision pass writes the refitted class 2 behind the kept series and
  // rewrites its index file; the combined file changes only at commit.
  const std::string c2 = series("BBB01   ", -5, {0.55f, 1.45f, 2.4f, 0.3f, 1.7f, 1.1f});
  const std::string d2 = series("BBB02   ", 1900, {1.3f, 0.7f});
  spit(classFile, c + d);
  spit(combined, a + b + c + d + e);
  {
    CombinedIndexRewrite rewrite(classFile.string(), combined.string());
    EXPECT_EQ(rewrite.result().removed, 2);
    ASSERT_NE(rewrite.file(), nullptr);
    rewrite.file()->write(c2 + d2);
    EXPECT_EQ(test::readTextFile(combined), a + b + c + d + e);
    rewrite.commit();
    EXPECT_EQ(rewrite.file(), nullptr);
  }
  spit(classFile, c2 + d2);
  EXPECT_EQ(test::readTextFile(combined), a + b + e + c2 + d2);
  EXPECT_TRUE(scratchFiles().empty());

  r = remove();
  EXPECT_EQ(r.removed, 2);
  EXPECT_EQ(test::readTextFile(combined), a + b + e);
}

// Identifiers repeat across classes in real files. Only the series equal in
// identifier, first year and values to one of the class's series goes; a
// same-named series of another class (other year, or same year and other
// values) stays, and each class series removes one copy only.
TEST_F(CombinedIndex, SharedIdentifiersAcrossClassesAreKept) {
  const std::string other1 = series("ST850A  ", -662, {0.31f, 0.42f, 0.27f});
  const std::string other2 = series("ST850A  ", -137, {0.5f, 0.6f, 0.7f});
  const std::string mine = series("ST850A  ", -137, {0.51f, 0.6f, 0.7f});
  const std::string twin = series("X1      ", 2000, {1.0f, 2.0f});
  spit(combined, other1 + twin + other2 + mine + twin);
  spit(classFile, mine + twin);

  const RemovalResult r = remove();
  EXPECT_EQ(r.removed, 2);
  EXPECT_EQ(r.kept, 3);
  // The first equal twin goes, the second (another class's identical series) stays.
  EXPECT_EQ(test::readTextFile(combined), other1 + other2 + twin);
}

// Lines the reader skips (a header, blank lines) and CRLF line ends are kept
// as they were; a class series missing from the combined file is counted.
TEST_F(CombinedIndex, OtherLinesAndLineEndsAreCopiedAsTheyWere) {
  auto crlf = [](std::string s) {
    std::string out;
    for (char ch : s) {
      if (ch == '\n') out += '\r';
      out += ch;
    }
    return out;
  };
  const std::string head = "Site header line that is not a series\r\n";
  const std::string a = crlf(series("A1      ", 1801, {1.1f, 1.2f, 1.3f}));
  const std::string b = crlf(series("B1      ", 1802, {2.1f, 2.2f}));
  const std::string cNoEnd = "C1      1810  1000  1100 -9999";  // last line without a line end
  spit(combined, head + a + "\r\n" + b + cNoEnd);
  spit(classFile, series("B1      ", 1802, {2.1f, 2.2f}) + series("Z9      ", 1700, {0.4f}));

  const RemovalResult r = remove();
  EXPECT_EQ(r.classSeries, 2);
  EXPECT_EQ(r.removed, 1);
  EXPECT_EQ(r.notFound(), 1);
  // The last line gets a line end, so that series appended after it stay apart.
  EXPECT_EQ(test::readTextFile(combined), head + a + "\r\n" + cNoEnd + "\n");

  spit(combined, head + a + "\r\n" + b + cNoEnd);
  const std::string b2 = series("B1      ", 1802, {2.0f, 2.3f});
  {
    CombinedIndexRewrite rewrite(classFile.string(), combined.string());
    rewrite.file()->write(b2);
    rewrite.commit();
  }
  EXPECT_EQ(test::readTextFile(combined), head + a + "\r\n" + cNoEnd + "\n" + b2);
  const std::vector<Read> after = readAll(combined);
  ASSERT_EQ(after.size(), 3u);
  EXPECT_EQ(after[1].id, "C1      ");
  EXPECT_EQ(after[1].values.size(), 2u);
  EXPECT_EQ(after[2].id, "B1      ");
  EXPECT_EQ(after[2].values, (std::vector<float>{2.0f, 2.3f}));
}

// A real file with a duplicate identifier, CRLF lines, an ITRDB header and
// years written into column 8: removing the second ST850A series takes out
// exactly its own block of lines and nothing else.
TEST_F(CombinedIndex, RealFileWithDuplicateIdentifier) {
  REQUIRE_SHARED_DATA(ca667, "itrdb/ca667.rwl");
  const std::string original = test::readTextFile(ca667);
  spit(combined, original);
  const std::vector<Read> before = readAll(combined);
  int dupIndex = -1;
  int named = 0;
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (before[i].id == "ST850A  ") {
      ++named;
      if (before[i].firstYear == -137) dupIndex = static_cast<int>(i);
    }
  }
  ASSERT_EQ(named, 2);
  ASSERT_GE(dupIndex, 0);
  spit(classFile, series("ST850A  ", -137, before[static_cast<std::size_t>(dupIndex)].values));

  const RemovalResult r = remove();
  EXPECT_EQ(r.removed, 1);
  EXPECT_EQ(r.kept, static_cast<int32_t>(before.size()) - 1);

  // The result is the original with one contiguous run of lines cut out; the
  // cut lines all belong to ST850A and read back as the removed series.
  std::string after = test::readTextFile(combined);
  // The file's last line has no line end; the copy gives it one.
  ASSERT_NE(original.back(), '\n');
  ASSERT_EQ(after.back(), '\n');
  after.pop_back();
  ASSERT_LT(after.size(), original.size());
  std::size_t prefix = 0;
  while (prefix < after.size() && after[prefix] == original[prefix]) ++prefix;
  while (prefix > 0 && original[prefix - 1] != '\n') --prefix;  // back to a line start
  const std::size_t cut = original.size() - after.size();
  EXPECT_EQ(original.substr(0, prefix) + original.substr(prefix + cut), after);
  const std::string removed = original.substr(prefix, cut);
  std::istringstream lines(removed);
  std::string line;
  int lineCount = 0;
  while (std::getline(lines, line)) {
    ++lineCount;
    EXPECT_EQ(line.substr(0, 6), "ST850A") << line;
  }
  // 591 rings from -137: 7 on the first line, 58 full decades, then 4 and the marker.
  EXPECT_EQ(lineCount, 60);

  const std::vector<Read> rest = readAll(combined);
  ASSERT_EQ(rest.size(), before.size() - 1);
  int left = 0;
  for (const Read& s : rest) {
    if (s.id == "ST850A  ") {
      ++left;
      EXPECT_EQ(s.firstYear, -662);
      EXPECT_EQ(s.values.size(), 274u);
    }
  }
  EXPECT_EQ(left, 1);
}

// The process is killed while the scratch file is half written, or when it is
// complete but not yet renamed: the combined file is the old one, whole. A
// run that finishes leaves the new one, whole.
TEST_F(CombinedIndex, KillDuringRewriteLeavesOldOrNewFileWhole) {
  std::string all;
  std::string kept;
  std::string mine;
  for (int i = 0; i < 12; ++i) {
    std::string id = "S";
    id += std::to_string(100 + i);
    const std::string s =
        series(id, 1700 + i, {0.5f + 0.1f * static_cast<float>(i), 1.25f, 0.875f, 1.0625f});
    all += s;
    if (i % 3 == 1) {
      mine += s;
    } else {
      kept += s;
    }
  }
  spit(combined, all);
  spit(classFile, mine);

  auto killedAt = [&](const RemovalHooks& hooks) {
    const pid_t pid = fork();
    if (pid == 0) {
      try {
        removeClassSeries(classFile.string(), combined.string(), hooks);
      } catch (...) {
        _exit(3);
      }
      _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
  };

  RemovalHooks midWrite;
  midWrite.afterSeriesWritten = [](int32_t written) {
    if (written == 4) raise(SIGKILL);
  };
  int status = killedAt(midWrite);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  EXPECT_EQ(test::readTextFile(combined), all);
  // The interrupted scratch copy is left behind; nothing else removes it.
  std::vector<fs::path> stale = scratchFiles();
  ASSERT_EQ(stale.size(), 1u);
  EXPECT_LT(fs::file_size(stale[0]), kept.size());
  fs::remove(stale[0]);

  RemovalHooks beforeRename;
  beforeRename.beforeRename = [] { raise(SIGKILL); };
  status = killedAt(beforeRename);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(test::readTextFile(combined), all);
  stale = scratchFiles();
  ASSERT_EQ(stale.size(), 1u);
  EXPECT_EQ(test::readTextFile(stale[0]), kept);

  // Killed while the class's new series are being written: still the old file.
  {
    const pid_t pid = fork();
    if (pid == 0) {
      CombinedIndexRewrite rewrite(classFile.string(), combined.string());
      rewrite.file()->write("NEW01   1800  1000");
      rewrite.file()->flush();
      raise(SIGKILL);
    }
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(test::readTextFile(combined), all);
  }

  // A later removal completes under a scratch name of its own, leaving the
  // stale scratch files of the killed ones as they were.
  stale = scratchFiles();
  ASSERT_EQ(stale.size(), 2u);
  status = killedAt({});
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(test::readTextFile(combined), kept);
  EXPECT_EQ(scratchFiles(), stale);
}

// Missing files end the run with a message naming the file; nothing is
// created or changed. A rewrite abandoned before commit (a failure in the
// class pass) leaves the old combined file and no scratch file.
TEST_F(CombinedIndex, MissingFilesAreFatalAndAbandonedRewritesLeaveTheOldFile) {
  const std::string a = series("A1      ", 1801, {1.1f});
  const std::string b = series("B1      ", 1802, {2.2f, 2.3f});
  EXPECT_THAT([&] { remove(); },
              ::testing::ThrowsMessage<Fatal>(::testing::HasSubstr("class index file")));
  spit(classFile, a);
  EXPECT_THAT([&] { remove(); },
              ::testing::ThrowsMessage<Fatal>(::testing::HasSubstr("combined index file")));
  EXPECT_FALSE(fs::exists(combined));
  EXPECT_TRUE(scratchFiles().empty());

  spit(combined, a + b);
  {
    CombinedIndexRewrite rewrite(classFile.string(), combined.string());
    rewrite.file()->write(a);
    EXPECT_EQ(scratchFiles().size(), 1u);
  }
  EXPECT_EQ(test::readTextFile(combined), a + b);
  EXPECT_TRUE(scratchFiles().empty());
}

}  // namespace
}  // namespace kavrel
