// Parsing and checking of the command line: every option with valid and
// invalid values, the rules between options, and the two ways of running.
#include "cli/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "cli/cli_fixture.h"

namespace kavrel::cli {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

// One command line after "kavrel run site.rwl": either the change it makes
// to the plain run's request, or the start of its one-line error.
struct RunCase {
  std::vector<std::string> options;
  std::function<void(RunRequest&, const fs::path& dir)> change;  // null when an error is expected
  std::string error;
};

using Cases = std::vector<RunCase>;

void check(const Cases& cases, const std::function<Command(std::vector<std::string>)>& parse,
           const RunRequest& plain, const fs::path& dir) {
  for (const RunCase& c : cases) {
    std::vector<std::string> args = {"run", "site.rwl"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Command command = parse(args);
    std::string shown;
    for (const std::string& a : c.options) shown += a + " ";
    if (c.change) {
      ASSERT_EQ(command.kind, CommandKind::run) << shown << "-> " << command.text;
      RunRequest expected = plain;
      c.change(expected, dir);
      EXPECT_EQ(command.request, expected) << shown;
    } else {
      ASSERT_EQ(command.kind, CommandKind::usageError) << shown;
      EXPECT_THAT(command.text, StartsWith(c.error)) << shown;
      EXPECT_EQ(command.text.find('\n'), std::string::npos) << shown;
    }
  }
}

class CommandLine : public CliFolder {
 protected:
  void run(const Cases& cases) {
    const std::set<fs::path> before = listing();
    check(
        cases, [this](std::vector<std::string> args) { return parse(args); }, plainRun(), dir_);
    // Checking writes nothing: no out folder, page or recipe appears.
    EXPECT_EQ(listing(), before);
  }
};

TEST_F(CommandLine, InputAndPithOffsets) {
  run({
      {{}, [](RunRequest&, const fs::path&) {}, ""},
      {{"--pith", "site.pith", "--pith-format", "'(10x,i3)'"},
       [](RunRequest& r, const fs::path& d) {
         r.options.usePithOffsets = true;
         r.options.pithFileName = "site.pith";
         r.options.pithReadFormat = "(10x,i3)";
         r.pithPath = d / "site.pith";
       },
       ""},
      {{"--pith-format=(i3)", "--pith", "./data/../site.pith"},
       [](RunRequest& r, const fs::path& d) {
         r.options.usePithOffsets = true;
         r.options.pithFileName = "./data/../site.pith";  // as typed, for the log
         r.options.pithReadFormat = "(i3)";
         r.pithPath = d / "site.pith";
       },
       ""},
      {{"--pith", "site.pith"}, nullptr, "--pith: needs --pith-format"},
      {{"--pith-format", "(i3)"}, nullptr, "--pith-format: needs --pith"},
      {{"--pith", "none.pith", "--pith-format", "(i3)"},
       nullptr,
       "--pith: the file none.pith does not exist"},
      {{"--pith", "data", "--pith-format", "(i3)"}, nullptr, "--pith: data is a folder"},
      {{"--pith", "site.pith", "--pith-format", "(f5.2)"},
       nullptr,
       "--pith-format: '(f5.2)' is not a read format kavrel reads"},
      {{"--pith", "", "--pith-format", "(i3)"}, nullptr, "--pith: the path is empty"},
  });
  // INPUT itself.
  Command c = parse({"run"});
  EXPECT_THAT(c.text, StartsWith("INPUT: no ring-width file"));
  c = parse({"run", "none.rwl"});
  EXPECT_THAT(c.text, StartsWith("INPUT: the file none.rwl does not exist"));
  c = parse({"run", "site.rwl", "plain.txt"});
  EXPECT_EQ(c.kind, CommandKind::usageError);
  EXPECT_THAT(c.text, HasSubstr("plain.txt"));

  // A file to read that stands for one of the run's outputs, which the run
  // would replace, is refused, also through a hard link; in another out
  // folder it is an ordinary file. No file written may be one read.
  write("medV6_raw", "KVR01A  1972   190   220\n");
  write("data/Kavrelv6_log.txt", "1\n");
  write("in.ps", "KVR01A  1972   190   220\n");
  fs::create_hard_link(dir_ / "medV6_raw", dir_ / "data/copy.rwl");
  const std::vector<std::pair<std::vector<std::string>, std::string>> outputs = {
      {{"run", "medV6_raw"}, "INPUT: medV6_raw is an output file of this run"},
      {{"run", "data/copy.rwl"}, "INPUT: " + (dir_ / "data/copy.rwl").string() +
                                     " is the output file medV6_raw of this run"},
      {{"run", "site.rwl", "--out", "data", "--pith", "data/Kavrelv6_log.txt", "--pith-format",
        "(i3)"},
       "--pith: Kavrelv6_log.txt is an output file of this run"},
      {{"run", "./data/../medV6_raw", "--out", "data"}, ""},
      {{"run", "in.ps", "--page", "in.ps"}, "--page: " + (dir_ / "in.ps").string() + " is a file this run reads"},
  };
  for (const auto& [args, error] : outputs) {
    c = parse(args);
    if (error.empty()) {
      EXPECT_EQ(c.kind, CommandKind::run) << args[1] << ": " << c.text;
    } else {
      EXPECT_EQ(c.kind, CommandKind::usageError) << args[1];
      EXPECT_THAT(c.text, StartsWith(error));
    }
  }
}

TEST_F(CommandLine, ScreeningThresholdAndIndex) {
  run({
      {{"--power"}, [](RunRequest& r, const fs::path&) { r.options.powerTransform = true; }, ""},
      {{"--power=false"}, [](RunRequest&, const fs::path&) {}, ""},
      {{"--power=perhaps"}, nullptr, "Could not convert: --power"},
      {{"--outliers", "-0.5:4.25"},
       [](RunRequest& r, const fs::path&) {
         r.options.removeOutliers = true;
         r.options.lowerLimit = -0.5f;
         r.options.upperLimit = 4.25f;
       },
       ""},
      {{"--outliers", "2.385:2.385"},
       [](RunRequest& r, const fs::path&) {
         r.options.removeOutliers = true;
         r.options.lowerLimit = r.options.upperLimit = 2.385f;
       },
       ""},
      {{"--outliers", "5:1"}, nullptr, "--outliers: LOWER 5 is above UPPER 1"},
      {{"--outliers", "4.25"}, nullptr, "--outliers: '4.25' is not LOWER:UPPER"},
      {{"--outliers", "0:inf"}, nullptr, "--outliers: '0:inf' is not LOWER:UPPER"},
      {{"--outliers", "0:1e60"}, nullptr, "--outliers: '0:1e60' is not LOWER:UPPER"},
      {{"--outliers"}, nullptr, "--outliers"},
      {{"--age-band", "20:400"},
       [](RunRequest& r, const fs::path&) {
         r.options.restrictAgeBand = true;
         r.options.minAge = 20;
         r.options.maxAge = 400;
       },
       ""},
      {{"--age-band", "20.5:400"}, nullptr, "--age-band: '20.5:400' is not MIN:MAX"},
      {{"--age-band", "400:20"}, nullptr, "--age-band: MIN 400 is above MAX 20"},
      {{"--age-band", "1:99999999999"}, nullptr, "--age-band: '1:99999999999' is not MIN:MAX"},
      {{"--first-years", "-50:1900"},
       [](RunRequest& r, const fs::path&) {
         r.options.restrictYears = true;
         r.options.firstYearMin = -50;
         r.options.firstYearMax = 1900;
       },
       ""},
      {{"--first-years", "1900:1700"}, nullptr, "--first-years: FROM 1900 is above TO 1700"},
      {{"--threshold", "mean"},
       [](RunRequest& r, const fs::path&) { r.options.useMeanAge = true; },
       ""},
      {{"--threshold", "median"}, [](RunRequest&, const fs::path&) {}, ""},
      {{"--threshold", "average"}, nullptr, "--threshold: 'average' is not mean or median"},
      {{"--index", "none"}, [](RunRequest& r, const fs::path&) { r.options.indexMode = 0; }, ""},
      {{"--index", "residual"},
       [](RunRequest& r, const fs::path&) { r.options.indexMode = 2; },
       ""},
      {{"--index", "ratios"}, nullptr, "--index: 'ratios' is not none, ratio or residual"},
  });
}

TEST_F(CommandLine, CurveRevisions) {
  auto revisions = [](std::vector<Revision> list) {
    return [list](RunRequest& r, const fs::path&) { r.revisions = list; };
  };
  run({
      {{"--curve", "3:-5:7", "--curve", "1:4", "--curve=3:-5"},
       revisions({{3, -5, "7"}, {1, 4, ""}, {3, -5, ""}}),
       ""},
      {{"--curve", "5:-4:-100", "--curve", "2:-3:-1", "--curve", "4:-2:-40"},
       revisions({{5, -4, "-100"}, {2, -3, "-1"}, {4, -2, "-40"}}),
       ""},
      // Every code the menu takes without a question.
      {{"--curve", "1:0", "--curve", "1:-7", "--curve", "1:12", "--curve", "1:-12"},
       revisions({{1, 0, ""}, {1, -7, ""}, {1, 12, ""}, {1, -12, ""}}),
       ""},
      {{"--curve", "6:4"}, nullptr, "--curve 6:4: the class must be a number 1..5"},
      {{"--curve", "0:4"}, nullptr, "--curve 0:4: the class must be a number 1..5"},
      {{"--curve", "3:x"}, nullptr, "--curve 3:x: the curve option 'x' is not a whole number"},
      {{"--curve", "3"}, nullptr, "--curve 3: not CLASS:OPTION"},
      {{"--curve", "3:-5:7:1"}, nullptr, "--curve 3:-5:7:1: not CLASS:OPTION"},
      {{"--curve", "3:-5:10"}, nullptr, "--curve 3:-5:10: the super smoother's alpha 10"},
      {{"--curve", "3:-5:seven"}, nullptr, "--curve 3:-5:seven: the answer seven is not"},
      {{"--curve", "3:-4"}, nullptr, "--curve 3:-4: option -4 needs its window width"},
      {{"--curve", "3:-4:2"}, nullptr, "--curve 3:-4:2: the lowess window 2"},
      {{"--curve", "3:-3:4"}, nullptr, "--curve 3:-3:4: the median window 4"},
      {{"--curve", "3:-3:-101"}, nullptr, "--curve 3:-3:-101: the median window -101"},
      {{"--curve", "3:4:7"}, nullptr, "--curve 3:4:7: option 4 asks no question"},
      {{"--curve", "1:4", "2:4"}, nullptr, "The following argument was not expected: 2:4"},
  });
}

TEST_F(CommandLine, OutputsAndExtras) {
  run({
      {{"--out", "results/run1"},
       [](RunRequest& r, const fs::path& d) {
         r.outFolder = d / "results/run1";
         r.outFolderGiven = true;
       },
       ""},
      {{"--out", "results", "--page", "page.ps"},
       [](RunRequest& r, const fs::path& d) {
         r.outFolder = d / "results";
         r.outFolderGiven = true;
         r.pagePath = d / "results/page.ps";  // page files go into the out folder
         r.pageFormat = PictureFormat::PostScript;
       },
       ""},
      {{"--page", "data/p.PNG", "--chronology-page", "c.svg", "--chronology", "--report"},
       [](RunRequest& r, const fs::path& d) {
         r.pagePath = d / "data/p.PNG";
         r.pageFormat = PictureFormat::Png;
         r.chronologyPagePath = d / "c.svg";
         r.chronologyPageFormat = PictureFormat::Svg;
         r.chronology = r.report = true;
       },
       ""},
      {{"--page", "/tmp/../tmp/p.pdf"},
       [](RunRequest& r, const fs::path&) {
         r.pagePath = "/tmp/p.pdf";
         r.pageFormat = PictureFormat::Pdf;
       },
       ""},
      {{"--page-size", "800x600", "--site", "CA-6_7", "--quiet", "--save-recipe", "r.toml"},
       [](RunRequest& r, const fs::path& d) {
         r.pageWidth = 800;
         r.pageHeight = 600;
         r.site = "CA-6_7";
         r.quiet = true;
         r.saveRecipePath = d / "r.toml";
       },
       ""},
      {{"--out", "plain.txt"}, nullptr, "--out: "},
      {{"--out", "plain.txt/sub"}, nullptr, "--out: "},
      {{"--out", ""}, nullptr, "--out: the path is empty"},
      {{"--page", "page.jpg"}, nullptr, "--page: 'page.jpg' must end in .ps, .pdf, .png or .svg"},
      {{"--page", "data/"}, nullptr, "--page: 'data/' names a folder, not a file"},
      {{"--page", "none/p.ps"}, nullptr, "--page: the folder "},
      {{"--page", "a.ps", "--chronology-page", "a.ps"},
       nullptr,
       "--chronology-page: the same file as the regional-curve page"},
      {{"--index", "none", "--chronology"},
       nullptr,
       "--chronology: a chronology needs index series, but --index is none"},
      {{"--index", "none", "--chronology-page", "c.ps"},
       nullptr,
       "--chronology-page: a chronology needs index series"},
      {{"--page-size", "800*600"}, nullptr, "--page-size: '800*600' is not WIDTHxHEIGHT"},
      {{"--page-size", "800x600x2"}, nullptr, "--page-size: '800x600x2' is not WIDTHxHEIGHT"},
      {{"--page-size", "99x600"}, nullptr, "--page-size: each side must be 100 to 8000"},
      {{"--site", "ABCDEFG"}, nullptr, "--site: 'ABCDEFG' is not a site code"},
      {{"--site", "A B"}, nullptr, "--site: 'A B' is not a site code"},
      {{"--site", ""}, nullptr, "--site: '' is not a site code"},
      {{"--save-recipe", "r.txt"}, nullptr, "--save-recipe: 'r.txt' must end in .toml"},
      {{"--save-recipe", "none/r.toml"}, nullptr, "--save-recipe: the folder "},
      {{"--record", "r.toml"}, nullptr, "--record: only for the dialogue"},
      {{"--bogus"}, nullptr, "The following argument was not expected: --bogus"},
  });
  // The out folder named in messages is the part that is not a folder.
  EXPECT_THAT(parse({"run", "site.rwl", "--out", "plain.txt/sub"}).text,
              HasSubstr("plain.txt is not a folder"));
}

TEST_F(CommandLine, PathsTheSystemRefusesAndLongValues) {
  // Found before anything is written, as usage errors, not as a failed run.
  fs::create_symlink(dir_ / "gone", dir_ / "dangling");
  const std::string longName(300, 'p');
  run({
      {{"--page", longName + ".png"}, nullptr, "--page: the name " + longName.substr(0, 100)},
      {{"--out", "o", "--page", "data/" + longName + ".ps"}, nullptr, "--page: the name "},
      {{"--out", "dangling"}, nullptr, "--out: " + (dir_ / "dangling").string() + " is a link"},
      {{"--out", "dangling/sub"}, nullptr, "--out: " + (dir_ / "dangling").string() + " is a link"},
      {{"--out", std::string(5000, 'd')}, nullptr, "--out: the path is "},
  });
  // A bad value is quoted cut to 100 bytes and escaped, whatever its size.
  for (const std::string& value : {std::string(1 << 20, 'S'), std::string("A\nB\0C", 5)}) {
    const Command command = parse({"run", "site.rwl", "--site", value});
    ASSERT_EQ(command.kind, CommandKind::usageError);
    EXPECT_LT(command.text.size(), 250u);
    EXPECT_EQ(command.text.find_first_of(std::string("\n\0", 2)), std::string::npos);
  }
}

TEST_F(CommandLine, DialogueHelpAndVersion) {
  Command c = parse({});
  ASSERT_EQ(c.kind, CommandKind::dialogue);
  RunRequest expected;
  expected.outFolder = dir_;
  EXPECT_EQ(c.request, expected);

  c = parse({"--record", "data/session.toml", "--report", "--chronology", "--site", "AB1",
             "--chronology-page", "c.pdf", "--page-size", "1000x1000"});
  ASSERT_EQ(c.kind, CommandKind::dialogue) << c.text;
  EXPECT_EQ(c.request.recordPath, dir_ / "data/session.toml");
  EXPECT_EQ(c.request.chronologyPagePath, dir_ / "c.pdf");
  EXPECT_TRUE(c.request.report && c.request.chronology);
  EXPECT_EQ(c.request.site, "AB1");
  EXPECT_EQ(c.request.pageWidth, 1000);

  // What only a run without questions takes is refused in the dialogue.
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"site.rwl"}, "INPUT site.rwl: a ring-width file is named only after 'run'"},
      {{"--report", "run"}, "'run' comes first"},
      {{"--power"}, "--power: only for a run without questions"},
      {{"--curve", "1:4"}, "--curve: only for a run without questions"},
      {{"--out", "x"}, "--out: only for a run without questions"},
      {{"--record", "r.txt"}, "--record: 'r.txt' must end in .toml"},
      {{"--site", "TOOLONG"}, "--site: 'TOOLONG' is not a site code"},
  };
  for (const auto& [args, error] : refused) {
    c = parse(args);
    EXPECT_EQ(c.kind, CommandKind::usageError) << error;
    EXPECT_THAT(c.text, StartsWith(error));
  }

  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"run", "--help"}}) {
    c = parse(args);
    EXPECT_EQ(c.kind, CommandKind::help);
    EXPECT_THAT(c.text, StartsWith("Usage:"));
  }
  c = parse({"--version"});
  EXPECT_EQ(c.kind, CommandKind::version);
  EXPECT_THAT(c.text, StartsWith("kavrel "));
}

}  // namespace
}  // namespace kavrel::cli
