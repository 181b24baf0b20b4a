// Runs without questions against the dialogue: the same answers given on the
// command line write the same files, the run log included, byte for byte; a
// recorded session replays to the same files; the exit statuses; usage
// errors that touch nothing; the quiet screen; saved pages.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "driver/run_log.h"
#include "e2e/run_helper.h"
#include "support/testdata.h"

namespace kavrel::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// One revision: as typed at the curve-fit menu and as given to --curve.
struct Rev {
  int classNumber;
  int option;
  std::string typed;  // the answer line of the option's question (-5..-2 only)
  std::string given;  // ANSWER of --curve
};

// Answer lines of the revision loop: each revision, then "f".
std::string revisionAnswers(const std::vector<Rev>& revisions) {
  std::string s;
  for (const Rev& r : revisions) {
    s += "t\n" + std::to_string(r.classNumber) + "\n" + std::to_string(r.option) + "\n";
    if (r.option >= -5 && r.option <= -2) s += r.typed + "\n";
    s += "c\n";
  }
  return s + "f\n";
}

std::vector<std::string> curveArgs(const std::vector<Rev>& revisions) {
  std::vector<std::string> args;
  for (const Rev& r : revisions) {
    args.push_back("--curve");
    args.push_back(std::to_string(r.classNumber) + ":" + std::to_string(r.option) +
                   (r.given.empty() ? "" : ":" + r.given));
  }
  return args;
}

std::vector<std::string> names(const std::vector<RunInput>& inputs) {
  std::vector<std::string> n;
  for (const RunInput& in : inputs) n.push_back(in.name);
  return n;
}

// The run log without the input's name that kavrel run puts before every
// warning line (and without the blanks that start such a line).
std::string withoutWarningPrefix(const std::string& log, const std::string& input) {
  std::istringstream in(log);
  std::string out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(input + ": ", 0) == 0) {
      line = line.substr(input.size() + 2);
    } else if (isWarningLine(line)) {
      line = line.substr(std::min(line.find_first_not_of(' '), line.size()));
    }
    out += line + "\n";
  }
  return out;
}

// Both maps hold the same file names with the same bytes, the manifests
// aside (they name the inputs from their own folders); the run's log differs
// only by the input's name before its warning lines.
void expectSameFiles(const std::map<std::string, std::string>& dialogue,
                     std::map<std::string, std::string> run, const std::string& input) {
  if (run.count(kRunLogFileName) != 0 && dialogue.count(kRunLogFileName) != 0) {
    run[kRunLogFileName] = withoutWarningPrefix(run[kRunLogFileName], input);
    EXPECT_EQ(run[kRunLogFileName], withoutWarningPrefix(dialogue.at(kRunLogFileName), input));
    run[kRunLogFileName] = dialogue.at(kRunLogFileName);
  }
  std::vector<std::string> a, b;
  for (const auto& [name, text] : dialogue) a.push_back(name);
  for (const auto& [name, text] : run) b.push_back(name);
  EXPECT_EQ(std::erase(a, "kavrel_manifest.toml"), 1u);
  EXPECT_EQ(std::erase(b, "kavrel_manifest.toml"), 1u);
  ASSERT_EQ(a, b);
  for (const std::string& name : a) {
    EXPECT_TRUE(dialogue.at(name) == run.at(name)) << name << " differs";
  }
}

struct MatrixCase {
  std::string label;
  std::string input;              // ring-width file name in the run folder
  std::string dialogue;           // answers to questions 1..8
  std::string pauses;             // Returns the dialogue waits for before the plot
  std::vector<std::string> args;  // the same answers for kavrel run (after INPUT)
  std::vector<Rev> revisions;
  std::string page;   // --page, in the out folder; empty: none
  std::string magic;  // the page file's first bytes
};

class RunMode : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!sharedDataAvailable("dplr/gp.rwl")) GTEST_SKIP() << "shared data not found";
    inputs_ = {{sharedDataPath("dplr/gp.rwl"), "gp.rwl"},
               {sharedDataPath("dplr/gp.pith"), "gp.pith"},
               {sharedDataPath("dplr/zof.pith"), "zof.pith"},
               {sharedDataPath("itrdb/ca533.rwl"), "ca533.rwl"}};
  }

  RunResult runWith(const std::vector<std::string>& args, const std::string& stdinText = "",
                    const std::function<void(const fs::path&)>& prepare = {}) const {
    RunSetup setup;
    setup.args = args;
    setup.prepare = prepare;
    return runKavrel(stdinText, inputs_, 240, setup);
  }

  std::vector<RunInput> inputs_;
};

TEST_F(RunMode, WritesTheDialoguesFilesByteForByte) {
  const std::vector<MatrixCase> cases = {
      {"pith offsets, median, ratios; parametric curves, class 1 twice",
       "gp.rwl",
       "gp.rwl\nt\ngp.pith\n'(i3)'\nf\nf\nf\nf\n2\n1\n",
       "",
       {"--pith", "gp.pith", "--pith-format", "'(i3)'", "--threshold", "median", "--index",
        "ratio"},
       {{1, 1, "", ""}, {2, 7, "", ""}, {3, 8, "", ""}, {1, 3, "", ""}, {5, 5, "", ""}},
       "page.ps",
       "%!PS"},
      {"power transformation, mean, residuals; smoothers",
       "gp.rwl",
       "gp.rwl\nf\nt\nf\nf\nf\n1\n2\n",
       "",
       {"--power", "--threshold", "mean", "--index", "residual"},
       {{4, -5, "3", "3"}, {5, -4, "25", "25"}, {2, -3, "-20", "-20"}, {3, -1, "", ""}},
       "page.png",
       "\x89PNG"},
      {"every screening, no indices; splines, class 2 twice",
       "gp.rwl",
       "gp.rwl\nt\ngp.pith\n'(i3)'\nf\nt\n2.385\n0.05\nt\n120\n400\nt\n1600\n1800\n2\n0\n",
       "",
       {"--pith", "gp.pith", "--pith-format", "(i3)", "--outliers", "0.05:2.385", "--age-band",
        "120:400", "--first-years", "1600:1800", "--index", "none"},
       {{2, -2, " 5", "75"}, {1, 30, "", ""}, {3, -50, "", ""}, {2, -2, "", ""}, {4, 9, "", ""}},
       "page.svg",
       "<?xml"},
      {"outliers only, residuals; mixed families, class 5 twice",
       "gp.rwl",
       "gp.rwl\nt\ngp.pith\n'(i3)'\nf\nt\n1.5\n0\nf\nf\n2\n2\n",
       "",
       {"--pith", "gp.pith", "--pith-format", "(i3)", "--outliers", "0:1.5", "--index",
        "residual"},
       {{5, 4, "", ""}, {5, -3, "7", "7"}, {1, 2, "", ""}, {4, -12, "", ""}},
       "page.pdf",
       "%PDF"},
      {"age band only, mean, ratios",
       "gp.rwl",
       "gp.rwl\nf\nf\nf\nt\n200\n350\nf\n1\n1\n",
       "",
       {"--age-band", "200:350", "--threshold", "mean"},
       {{2, 6, "", ""}},
       "",
       ""},
      {"first years only, power, median, residuals",
       "gp.rwl",
       "gp.rwl\nt\ngp.pith\n'(i3)'\nt\nf\nf\nt\n1650\n1750\n2\n2\n",
       "",
       {"--pith", "gp.pith", "--pith-format", "(i3)", "--power", "--first-years", "1650:1750",
        "--index", "residual"},
       {{1, -4, "9", "9"}},
       "",
       ""},
      {"more offsets than series: warning without a pause; median, ratios",
       "gp.rwl",
       "gp.rwl\nt\nzof.pith\n'(i3)'\nf\nf\nf\nf\n3\n1\n",
       "\n",
       {"--pith", "zof.pith", "--pith-format", "(i3)"},
       {},
       "",
       ""},
      {"a long real file: default super smoother",
       "ca533.rwl",
       "ca533.rwl\nf\nf\nf\nf\nf\n2\n1\n",
       "",
       {},
       {{3, -5, "", ""}, {4, 40, "", ""}},
       "",
       ""},
  };
  const std::vector<std::string> inputNames = names(inputs_);
  for (const MatrixCase& c : cases) {
    SCOPED_TRACE(c.label);
    const RunResult dialogue =
        runWith({}, "\n" + c.dialogue + c.pauses + "c\n" + revisionAnswers(c.revisions));
    ASSERT_EQ(dialogue.exitStatus, 0) << dialogue.screen.substr(dialogue.screen.size() - 500);

    std::vector<std::string> args = {"run", c.input};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const std::vector<std::string> curves = curveArgs(c.revisions);
    args.insert(args.end(), curves.begin(), curves.end());
    args.insert(args.end(), {"--out", "out"});
    if (!c.page.empty()) args.insert(args.end(), {"--page", c.page});
    // Standard input is empty: a pause or question would end the run.
    const RunResult run = runWith(args);
    ASSERT_EQ(run.exitStatus, 0) << run.screen << run.errors;

    std::map<std::string, std::string> written = filesBelow(run.folder / "out");
    if (!c.page.empty()) {
      ASSERT_TRUE(written.count(c.page)) << c.page;
      EXPECT_THAT(written[c.page], StartsWith(c.magic));
      written.erase(c.page);
    }
    // Warning lines of the run start with the input's name.
    if (written[kRunLogFileName].find("Warning") != std::string::npos) {
      EXPECT_THAT(written[kRunLogFileName], HasSubstr("\n" + c.input + ": "));
      EXPECT_THAT(run.screen, HasSubstr(c.input + ": "));
    }
    expectSameFiles(filesBelow(dialogue.folder, inputNames), written, c.input);
    EXPECT_GE(written.size(), 11u);  // the log and two files per class at least
    const std::string log = written["Kavrelv6_log.txt"];
    size_t revised = 0;
    for (size_t p = log.find("ReCalculate file: "); p != std::string::npos;
         p = log.find("ReCalculate file: ", p + 1))
      ++revised;
    EXPECT_EQ(revised, c.revisions.size());
    // Nothing but the out folder is added to the run folder.
    EXPECT_EQ(filesBelow(run.folder, inputNames).size(), written.size() + (c.page.empty() ? 0 : 1));
    EXPECT_EQ(run.errors, "");
  }
}

TEST_F(RunMode, ScreenShowsResultLinesWithoutDialogueAndQuietOnlyWarnings) {
  // More pith offsets than series: a warning the quiet screen keeps.
  const std::vector<std::string> args = {"run", "gp.rwl", "--pith", "zof.pith", "--pith-format",
                                         "(i3)", "--curve", "2:-5", "--page", "p.svg"};
  const RunResult loud = runWith(args);
  std::vector<std::string> quietArgs = args;
  quietArgs.push_back("--quiet");
  const RunResult quiet = runWith(quietArgs);
  ASSERT_EQ(loud.exitStatus, 0) << loud.screen;
  ASSERT_EQ(quiet.exitStatus, 0) << quiet.screen;

  for (const char* shown : {"Number of offsets read =   61", "Loading ____", "Processing file: ",
                            "Default Curve fit", "*************** WARNING", "Normal Termination",
                            "The page is saved in "}) {
    EXPECT_THAT(loud.screen, HasSubstr(shown));
  }
  for (const char* absent : {"Program kavrel attempts", "Hit RETURN", "Hit Return", ":> ",
                             "plot options menu", "No display", "Select RCS curve"}) {
    EXPECT_THAT(loud.screen, Not(HasSubstr(absent)));
  }
  // Quiet: the warning block and nothing of the results; the same log.
  EXPECT_THAT(quiet.screen, HasSubstr("  *************** WARNING **************** \n"
                                      "  The number of series measurements read >>>>>   58\n"
                                      "  Does NOT equal number of pith ofsets read >>   61\n"
                                      "  Program continuing without offset information\n"));
  for (const std::string& line : quiet.screenLines()) {
    if (line.empty() || line.find("WARNING") != std::string::npos ||
        line.find("Warning") != std::string::npos || line.starts_with("  The number") ||
        line.starts_with("  Does NOT") || line.starts_with("  Program continuing") ||
        line.starts_with(">> sbr"))
      continue;
    ADD_FAILURE() << "quiet screen shows: " << line;
  }
  EXPECT_EQ(quiet.file("Kavrelv6_log.txt"), loud.file("Kavrelv6_log.txt"));
  EXPECT_THAT(loud.file("Kavrelv6_log.txt"), HasSubstr(" Loading ____"));
  EXPECT_THAT(quiet.file("p.svg"), StartsWith("<?xml"));
  EXPECT_EQ(quiet.scratchNames(), std::vector<std::string>{});
}

TEST_F(RunMode, RecordedSessionReplaysToTheSameFiles) {
  const std::vector<Rev> revisions = {
      {2, -2, " 5", "75"}, {3, -4, "-30", "-30"}, {3, 4, "", ""}, {1, -5, "", "7"}};
  const RunResult recorded =
      runWith({"--record", "r.toml"},
              "\ngp.rwl\nt\ngp.pith\n'(i3)'\nt\nf\nf\nf\n2\n2\nc\n" + revisionAnswers(revisions));
  ASSERT_EQ(recorded.exitStatus, 0) << recorded.screen;
  const std::string recipe = recorded.file("r.toml");
  EXPECT_THAT(recipe, HasSubstr("curve = [ '2:-2:75', '3:-4:-30', '3:4', '1:-5:7' ]"));
  EXPECT_THAT(recipe, HasSubstr("input = 'gp.rwl'"));
  EXPECT_THAT(recipe, HasSubstr("pith = 'gp.pith'"));
  EXPECT_THAT(recipe, HasSubstr("index = 'residual'"));

  const RunResult replayed =
      runWith({"run", "--recipe", "r.toml", "--out", "other/", "--save-recipe", "saved.toml"}, "",
              [&](const fs::path& folder) { fs::copy_file(recorded.folder / "r.toml", folder / "r.toml"); });
  ASSERT_EQ(replayed.exitStatus, 0) << replayed.screen << replayed.errors;
  std::vector<std::string> skip = names(inputs_);
  skip.push_back("r.toml");
  expectSameFiles(filesBelow(recorded.folder, skip), filesBelow(replayed.folder / "other"), "gp.rwl");
  // The saved recipe repeats the run, now with its out folder.
  const std::string saved = replayed.file("saved.toml");
  EXPECT_THAT(saved, HasSubstr("curve = [ '2:-2:75', '3:-4:-30', '3:4', '1:-5:7' ]"));
  EXPECT_THAT(saved, HasSubstr("out = 'other'"));
}

// A session with reversed outlier limits (upper 1, lower 5) is recorded as typed; the recording
// says at once that the run mode will refuse it, and it does, naming the key.
TEST_F(RunMode, RecordedReversedLimitsAreFlaggedAndRefused) {
  const RunResult recorded =
      runWith({"--record", "r.toml"}, "\ngp.rwl\nf\nf\nt\n1.0\n5.0\nf\nf\n2\n1\nc\nf\n");
  ASSERT_EQ(recorded.exitStatus, 0) << recorded.screen;
  EXPECT_THAT(recorded.screen, HasSubstr(" The recipe r.toml keeps a reversed pair of limits"));
  const RunResult replayed = runWith({"run", "--recipe", "r.toml"}, "", [&](const fs::path& folder) {
    fs::copy_file(recorded.folder / "r.toml", folder / "r.toml");
  });
  EXPECT_EQ(replayed.exitStatus, 2);
  EXPECT_THAT(replayed.errors, HasSubstr("outliers"));
}

TEST_F(RunMode, ExitStatuses) {
  struct StatusCase {
    std::vector<std::string> args;
    std::string stdinText;
    int status;
    std::string shown;  // on the screen (standard output)
  };
  const std::vector<StatusCase> cases = {
      {{"--help"}, "", 0, "Usage:"},
      {{"--version"}, "", 0, "kavrel "},
      // A pith-offset file that does not fit its format: the run fails.
      {{"run", "gp.rwl", "--pith", "gp.rwl", "--pith-format", "(i3)"},
       "",
       1,
       " Record 1 of gp.rwl does not fit the format (i3)."},
      {{"run", "gp.rwl", "--index", "ratios"}, "", 2, ""},
      // "/" at the super smoother's question ends the dialogue at once.
      {{}, "\ngp.rwl\nf\nf\nf\nf\nf\n2\n1\nc\nt\n1\n-5\n/\n", 3, "Change a RC curve?"},
  };
  for (const StatusCase& c : cases) {
    const RunResult r = runWith(c.args, c.stdinText);
    SCOPED_TRACE(c.args.empty() ? "dialogue" : c.args.front());
    EXPECT_EQ(r.exitStatus, c.status) << r.screen << r.errors;
    EXPECT_THAT(r.screen, HasSubstr(c.shown));
  }
}

TEST_F(RunMode, UsageErrorsNameTheOptionAndTouchNothing) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"run"}, "INPUT: no ring-width file"},
      {{"run", "none.rwl"}, "INPUT: the file none.rwl does not exist"},
      {{"run", "Kavrelv6_log.txt"}, "INPUT: Kavrelv6_log.txt is an output file of this run"},
      {{"run", "gp.rwl", "--pith", "gp.pith"}, "--pith: needs --pith-format"},
      {{"run", "gp.rwl", "--pith", "gp.pith", "--pith-format", "(f5.2)"}, "--pith-format: "},
      {{"run", "gp.rwl", "--power=maybe"}, "Could not convert: --power"},
      {{"run", "gp.rwl", "--outliers", "3:1"}, "--outliers: LOWER 3 is above UPPER 1"},
      {{"run", "gp.rwl", "--age-band", "a:b"}, "--age-band: 'a:b' is not MIN:MAX"},
      {{"run", "gp.rwl", "--first-years", "1900:1800"}, "--first-years: FROM 1900 is above TO"},
      {{"run", "gp.rwl", "--threshold", "mode"}, "--threshold: 'mode' is not mean or median"},
      {{"run", "gp.rwl", "--index", "ratios"}, "--index: 'ratios' is not none, ratio or residual"},
      {{"run", "gp.rwl", "--curve", "6:4"}, "--curve 6:4: the class must be a number 1..5"},
      {{"run", "gp.rwl", "--curve", "2:-3:4"}, "--curve 2:-3:4: the median window 4"},
      {{"run", "gp.rwl", "--out", "gp.rwl/x"}, "--out: "},
      {{"run", "gp.rwl", "--page", "p.jpg"}, "--page: 'p.jpg' must end in .ps, .pdf, .png or .svg"},
      {{"run", "--recipe", "none.toml"}, "--recipe: the recipe none.toml does not exist"},
      {{"run", "--recipe", "bad.toml"}, "recipe bad.toml, key 'index': expected a string"},
      {{"run", "gp.rwl", "--save-recipe", "r.txt"}, "--save-recipe: 'r.txt' must end in .toml"},
      {{"run", "gp.rwl", "--quiet=perhaps"}, "Could not convert: --quiet"},
      {{"run", "gp.rwl", "--record", "r.toml"}, "--record: only for the dialogue"},
      {{"--record", "r.txt"}, "--record: 'r.txt' must end in .toml"},
      {{"--power"}, "--power: only for a run without questions"},
      {{"run", "gp.rwl", "--page", std::string(300, 'p') + ".png"}, "--page: the name "},
      {{"run", "gp.rwl", "--out", "dangling"}, "--out: "},
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(args.back());
    std::map<std::string, std::string> before;
    const RunResult r = runWith(args, "", [&](const fs::path& folder) {
      std::ofstream(folder / "Kavrelv6_log.txt") << "an earlier log\n";
      std::ofstream(folder / "bad.toml") << "index = 1\n";
      fs::create_symlink(folder / "gone", folder / "dangling");
      before = filesBelow(folder);
    });
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_EQ(r.screen, "");
    EXPECT_THAT(r.errors, StartsWith("kavrel: " + message));
    EXPECT_THAT(r.errors, HasSubstr("\nTry 'kavrel --help' for the options.\n"));
    EXPECT_EQ(filesBelow(r.folder), before);
    EXPECT_EQ(fs::exists(r.folder / "out"), false);
  }
}

TEST_F(RunMode, InputWithoutSeriesEndsBeforeAnyOutput) {
  // Files that hold no series: status 1, one message on the screen and in
  // the log, and no other file created or replaced.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"empty.rwl", "it is empty"},
      {"notes.txt", "none of its lines is one"},
      {"zeros.rwl", "none of its lines is one"},
      {"gp.pith", "it begins with more than 25 lines of other text"},
      {"recipe.toml", "none of its lines is one"}};
  for (const auto& [input, why] : cases) {
    SCOPED_TRACE(input);
    std::map<std::string, std::string> before;
    const RunResult r = runWith({"run", input}, "", [&](const fs::path& folder) {
      std::ofstream(folder / "empty.rwl").flush();
      std::ofstream(folder / "notes.txt") << "Site notes\nCollected 1998\n";
      std::ofstream(folder / "zeros.rwl") << std::string(1 << 20, '\0');
      std::ofstream(folder / "recipe.toml") << "input = \"gp.rwl\"\nindex = \"ratio\"\n";
      std::ofstream(folder / "KavrelV6indx.raw.txt") << "EARLIER RUN\n";
      before = filesBelow(folder);
    });
    EXPECT_EQ(r.exitStatus, 1);
    const std::string message =
        " No tree-ring series can be read from the input file " + input + ": ";
    EXPECT_THAT(r.screen, HasSubstr(message));
    EXPECT_THAT(r.screen, HasSubstr(why));
    EXPECT_THAT(r.file("Kavrelv6_log.txt"), HasSubstr(message));
    std::map<std::string, std::string> after = filesBelow(r.folder);
    after.erase("Kavrelv6_log.txt");
    EXPECT_EQ(after, before);
  }
}

TEST_F(RunMode, ControlCharactersOfNamesAreEscapedInTheLog) {
  const RunResult r = runWith({"run", "a\tb.rwl", "--index", "none"}, "", [](const fs::path& folder) {
    fs::copy_file(folder / "gp.rwl", folder / "a\tb.rwl");
  });
  EXPECT_EQ(r.exitStatus, 0) << r.screen;
  EXPECT_THAT(r.file("Kavrelv6_log.txt"), HasSubstr(" input file = a\\tb.rwl\n"));
}

}  // namespace
}  // namespace kavrel::test
