// Whole runs on the bundled example data that exercise the regional-curve
// page: saving PostScript with piped answers, and the screen page under a
// virtual X display.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "e2e/run_helper.h"
#include "support/testdata.h"

namespace kavrel {
namespace {

namespace fs = std::filesystem;
using test::RunInput;
using test::runKavrel;

constexpr const char* kMenuTop = "|************* plot options menu ***************|";

std::vector<RunInput> exampleInputs() {
  const std::string examples = test::sourceDir() + "/examples/";
  return {{examples + "kavrel_example.rwl", "kavrel_example.rwl"},
          {examples + "kavrel_example.pith", "kavrel_example.pith"}};
}

// The run-options dialogue for the example data with pith offsets, the
// median age and ratio indices; the plot menu answers follow.
std::string dialogue() {
  return "\n"                    // banner
         "kavrel_example.rwl\n"  // input file
         "t\n"                   // pith-offset file
         "kavrel_example.pith\n"
         "'(8x,i5)'\n"
         "f\nf\nf\nf\n"  // power transformation, outliers, age band, years
         "2\n"           // median age
         "1\n";          // ratios
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

bool haveCommand(const std::string& name) {
  return std::system(("command -v " + name + " > /dev/null 2>&1").c_str()) == 0;
}

// Skips the test when a tool is missing, except under CI where it must be installed.
#define REQUIRE_COMMAND(name)                                                    \
  if (!haveCommand(name)) {                                                      \
    const char* ci_ = std::getenv("CI");                                         \
    if (ci_ != nullptr && std::string(ci_) == "true") FAIL() << name " missing"; \
    GTEST_SKIP() << name " not installed";                                       \
  }

TEST(PlotE2E, SavesPostScriptThroughPipedAnswers) {
  REQUIRE_COMMAND("gs");
  // Save, redraw (skipped without a display), continue, no change of curves.
  const auto run = runKavrel(dialogue() + "s\nkavrel_page.ps\n0\nc\nf\n", exampleInputs());
  ASSERT_EQ(run.exitStatus, 0) << run.screen << run.errors;
  EXPECT_NE(run.screen.find("Normal Termination of Program"), std::string::npos);
  EXPECT_EQ(count(run.screen, " No display (DISPLAY is not set): the screen page is skipped."), 2u);
  EXPECT_EQ(count(run.screen, kMenuTop), 3u);
  EXPECT_EQ(count(run.screen, "Enter graphics output file name: "), 1u);
  EXPECT_NE(run.screen.find("NOTE: The image file type is postscript. Use a .ps extention\n"
                            "  to make that readily apparent to your OS\n"),
            std::string::npos);
  EXPECT_NE(run.screen.find(" The page is saved in kavrel_page.ps"), std::string::npos);

  const std::string ps = run.file("kavrel_page.ps");
  ASSERT_EQ(ps.rfind("%!PS", 0), 0u) << "not PostScript";
  EXPECT_NE(ps.find("%%EOF"), std::string::npos);
  // Ghostscript renders the file without error, and the drawing covers most
  // of the landscape page (five panels in a 2 x 3 grid).
  const std::string cmd = "cd '" + run.folder.string() +
                          "' && gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=bbox kavrel_page.ps"
                          " > gs.out 2> gs.err";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << run.file("gs.err");
  const std::string bbox = run.file("gs.err");
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  const size_t at = bbox.find("%%BoundingBox:");
  ASSERT_NE(at, std::string::npos) << bbox;
  ASSERT_EQ(std::sscanf(bbox.c_str() + at, "%%%%BoundingBox: %d %d %d %d", &x0, &y0, &x1, &y1), 4);
  EXPECT_GT((x1 - x0) * (y1 - y0), 612 * 792 / 3) << bbox;
}

TEST(PlotE2E, APLplotFailureEndsTheRunThroughTheProgram) {
  // No PLplot drivers at all: PLplot's fatal error while listing the devices
  // (before any page is drawn) becomes the program's own fatal message with
  // the log closed, instead of PLplot ending the process itself.
  char pattern[] = "/tmp/kavrel_nodrv_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const char* old = std::getenv("PLPLOT_DRV_DIR");
  const std::string saved = old != nullptr ? old : "";
  setenv("PLPLOT_DRV_DIR", pattern, 1);
  const auto run = runKavrel(dialogue() + "s\nnever.ps\nc\nf\n", exampleInputs());
  if (old != nullptr) {
    setenv("PLPLOT_DRV_DIR", saved.c_str(), 1);
  } else {
    unsetenv("PLPLOT_DRV_DIR");
  }
  fs::remove(pattern);
  EXPECT_NE(run.exitStatus, 0);
  EXPECT_NE(run.screen.find("PLplot error: No device drivers found"), std::string::npos)
      << run.screen << run.errors;
  EXPECT_EQ(run.errors.find("IMMEDIATE EXIT"), std::string::npos) << run.errors;
  EXPECT_NE(run.file("Kavrelv6_log.txt").find("Processing file: medV6_raw_agealigned.txt"),
            std::string::npos);
  EXPECT_FALSE(run.exists("never.ps"));
}

TEST(PlotE2E, StyleCarriesOverToThePageOfARevisionPass) {
  // Series lines blue(9) on the first page; class 3 refitted as a straight
  // line; the page of the revision pass saved.
  const auto run =
      runKavrel(dialogue() + "4\n9\nc\n" + "t\n3\n4\n" + "s\nrevised.ps\nc\nf\n", exampleInputs());
  ASSERT_EQ(run.exitStatus, 0) << run.screen << run.errors;
  EXPECT_EQ(count(run.screen, kMenuTop), 4u);  // two on each page
  const std::string ps = run.file("revised.ps");
  ASSERT_EQ(ps.rfind("%!PS", 0), 0u) << "not PostScript";
  constexpr const char* kBlue = "0.0000 0.0000 1.0000 C";
  constexpr const char* kGrey = "0.7451 0.7451 0.7451 C";
  constexpr const char* kRed = "1.0000 0.0000 0.0000 C";
  EXPECT_GE(count(ps, kBlue), 5u);  // at least once per panel
  EXPECT_EQ(count(ps, kGrey), 0u);
  EXPECT_GE(count(ps, kRed), 4u);  // the curves of the four classes with series
}

TEST(PlotE2E, ScreenPageOpensDrawsAndClosesUnderAVirtualDisplay) {
  REQUIRE_COMMAND("xvfb-run");
  char pattern[] = "/tmp/kavrel_xvfb_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path base = pattern;
  const fs::path folder = base / "run";
  fs::create_directory(folder);
  for (const RunInput& in : exampleInputs()) {
    fs::create_symlink(fs::absolute(in.source), folder / in.name);
  }
  std::ofstream(base / "stdin.txt") << dialogue() << "0\n0\nc\nf\n";
  // Piped answers: the window must not wait for a key, so the run ends
  // within the time limit. Each drawing opens and closes its own window;
  // -noreset keeps the virtual server from resetting (and refusing
  // connections for a moment) whenever its only client has gone, as a
  // desktop display with other clients never does.
  const std::string cmd = "cd '" + folder.string() +
                          "' && timeout 120 xvfb-run -a -s '-screen 0 1280x1024x24 -noreset' '" +
                          test::kavrelExe() + "' < ../stdin.txt > ../stdout.txt 2> ../stderr.txt";
  const int status = std::system(cmd.c_str());
  const std::string screen = test::readTextFile(base / "stdout.txt");
  const std::string errors = test::readTextFile(base / "stderr.txt");
  std::error_code ec;
  fs::remove_all(base, ec);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0) << screen << errors;
  EXPECT_NE(screen.find("Normal Termination of Program"), std::string::npos);
  EXPECT_EQ(screen.find("the screen page is skipped"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("could not be shown"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("Press Enter"), std::string::npos);  // no waiting in the window
  EXPECT_EQ(count(screen, kMenuTop), 3u);
  EXPECT_EQ(errors.find("PLplot"), std::string::npos) << errors;
}

}  // namespace
}  // namespace kavrel
