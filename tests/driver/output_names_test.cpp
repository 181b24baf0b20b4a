// Which paths stand for one of the run's outputs: by name in the output
// folder, through links, and by identity of the file.
#include "driver/output_names.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace kavrel {
namespace {

namespace fs = std::filesystem;

TEST(OutputNames, SeventeenFilesOfTheRun) {
  const auto& names = runOutputNames();
  const std::set<std::string> distinct(names.begin(), names.end());
  EXPECT_EQ(distinct.size(), 17u);
  for (const char* name :
       {"Kavrelv6_log.txt", "KavrelV6indx.raw.txt", "shorthighV6_raw", "medV6_raw",
        "longlowV6_raw_agealigned.txt", "shortlowV6_raw_agealigned.indx.txt"}) {
    EXPECT_EQ(distinct.count(name), 1u) << name;
  }
}

TEST(OutputNames, PathsThatStandForAnOutput) {
  char tmpl[] = "/tmp/kavrel_outnames_XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const fs::path dir = tmpl;
  const fs::path old = fs::current_path();
  fs::current_path(dir);
  fs::create_directories("out");
  fs::create_directories("sub");
  std::ofstream("gp.rwl") << "data\n";
  std::ofstream("medV6_raw") << "an older class file\n";
  std::ofstream("out/longlowV6_raw_agealigned.indx.txt") << "an older index file\n";
  fs::create_symlink("medV6_raw", "alias.rwl");
  fs::create_symlink(dir, "here");
  fs::create_hard_link("out/longlowV6_raw_agealigned.indx.txt", "kept.rwl");
  // An output name that is a link: the run replaces the link, not gp.rwl.
  fs::create_symlink("gp.rwl", "out/shortlowV6_raw");

  struct Case {
    const char* path;
    const char* outputDir;
    const char* output;  // nullptr: no output
  };
  const Case cases[] = {
      {"medV6_raw", ".", "medV6_raw"},
      {"./Kavrelv6_log.txt", ".", "Kavrelv6_log.txt"},  // need not exist
      {"sub/../KavrelV6indx.raw.txt", ".", "KavrelV6indx.raw.txt"},
      {"here/medV6_raw", ".", "medV6_raw"},  // through a linked folder
      {"alias.rwl", ".", "medV6_raw"},       // a link to an output
      {"gp.rwl", ".", nullptr},
      {"medV6_raw.part", ".", nullptr},
      {"sub/medV6_raw", ".", nullptr},  // another folder
      {"", ".", nullptr},
      // Outputs going to another folder.
      {"out/medV6_raw", "out", "medV6_raw"},
      {"medV6_raw", "out", nullptr},
      {"kept.rwl", "out", "longlowV6_raw_agealigned.indx.txt"},  // a hard link
      {"gp.rwl", "out", nullptr},
      {"out/shortlowV6_raw", "out", "shortlowV6_raw"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " with outputs in " + c.outputDir);
    const auto found = runOutputFor(c.path, c.outputDir);
    if (c.output == nullptr) {
      EXPECT_FALSE(found.has_value()) << found.value_or("");
    } else {
      ASSERT_TRUE(found.has_value());
      EXPECT_EQ(*found, c.output);
    }
  }
  // With outputs in the working folder, reading alias.rwl reads medV6_raw;
  // with them elsewhere it is an ordinary file.
  EXPECT_FALSE(runOutputFor("alias.rwl", dir / "out").has_value());

  // Files the run writes under names the user gave stand for outputs too,
  // by path or through a link; every fixed result name does wherever the
  // run writes it.
  const std::vector<fs::path> named = {dir / "sub" / "page.png", dir / "gp.rwl"};
  EXPECT_EQ(runOutputFor("sub/page.png", "out", named), named[0].string());
  EXPECT_EQ(runOutputFor("alias2.rwl", "out", named), std::nullopt);
  fs::create_symlink("gp.rwl", "alias2.rwl");
  EXPECT_EQ(runOutputFor("alias2.rwl", "out", named), named[1].string());
  for (const char* name : {"kavrel_manifest.toml", "temp.txt", "kavrel_classes.csv"}) {
    EXPECT_EQ(runOutputFor(name, "."), name);
  }
  fs::current_path(old);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace kavrel
