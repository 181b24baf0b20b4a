#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "page_fixture.h"
#include "plot/rcsplt.h"
#include "plot_test_support.h"
#include "support/testdata.h"
#include "util/console.h"
#include "util/fatal.h"

namespace kavrel {
namespace {

using test::readTextFile;
using plottest::readSvgPage;
using plottest::ScratchDir;
using plottest::ScriptedConsole;

constexpr const char* kMenuTop =
    "               |************* plot options menu ***************|\n";
constexpr const char* kPrompt = "\n enter option number > ";
constexpr const char* kFileNamePrompt = "Enter graphics output file name: ";

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// Runs the page with the scripted answers; returns the screen text.
std::string run(PlotState& state, const PlotInputs& inputs, const std::string& answers) {
  ScriptedConsole script(answers);
  rcsplt(state, script.console(), inputs);
  return script.output();
}

// Files of the working folder whose names end in ".part" (scratch files).
int scratchFiles() {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(".")) {
    n += e.path().filename().string().ends_with(".part") ? 1 : 0;
  }
  return n;
}

// Sets an environment variable for the scope of a test and restores it.
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value == nullptr) {
      unsetenv(name);
    } else {
      setenv(name, value, 1);
    }
  }
  ~EnvVar() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(RcspltMenu, StyleAnswersTakeEffectAtTheNextRedraw) {
  setPlotEnvironment();
  ScratchDir dir;
  const auto five = plottest::writeFiveClasses();
  PlotState state = plottest::svgState();
  // Series colour 9, then redraw, then continue with an empty answer.
  std::string out = run(state, five.inputs, "4\n9\n0\n\n");
  EXPECT_EQ(state.seriesColour, 9);
  EXPECT_EQ(state.screenPages, 2);
  EXPECT_EQ(count(out, kMenuTop), 3u);
  EXPECT_NE(out.find("\n             color table ______________________________________________\n"
                     "             white(0) red(1)  yellow(2)  green(3)  aquamarine(4) pink(5) \n"),
            std::string::npos);
  EXPECT_NE(out.find("\n             select new line color: [0-15] : "), std::string::npos);
  auto page = readSvgPage("page.svg");
  ASSERT_EQ(page.panels.size(), 5u);
  EXPECT_EQ(page.panels[0].data[0].stroke, "#0000FF");  // blue(9)
  EXPECT_EQ(page.panels[0].data[2].stroke, "#FF0000");

  // Frame yellow(2), curve green(3), curve width 4; the style persists into
  // the next call of the page, as for a revision pass.
  out = run(state, five.inputs, "2\n2\n5\n3\n7\n4\nc\n");
  EXPECT_NE(out.find("select new frame color [0-15] : "), std::string::npos);
  EXPECT_NE(out.find("select new curve color: [0-15] : "), std::string::npos);
  EXPECT_NE(out.find("select new curve width: [0-8]  : "), std::string::npos);
  EXPECT_EQ(state.screenPages, 3);  // the styles wait for the next drawing
  run(state, five.inputs, "c\n");
  page = readSvgPage("page.svg", "#FFFF00");
  ASSERT_EQ(page.panels.size(), 5u);
  EXPECT_EQ(page.panels[1].data[0].stroke, "#0000FF");
  EXPECT_EQ(page.panels[1].data.back().stroke, "#00FF00");
  EXPECT_DOUBLE_EQ(page.panels[1].data.back().width, 4.0);

  // Text colour and line style are kept; an unreadable answer asks again.
  out = run(state, five.inputs, "3\nred\n13\n6\n2\nc\n");
  EXPECT_EQ(state.textColour, 13);
  EXPECT_EQ(state.curveStyle, 2);
  EXPECT_EQ(count(out, "select new text color: [0-15] : "), 2u);
}

TEST(RcspltMenu, UnknownOptionsShowTheMenuAgain) {
  setPlotEnvironment();
  ScratchDir dir;
  const auto five = plottest::writeFiveClasses();
  PlotState state = plottest::svgState();
  const std::string out = run(state, five.inputs, "8\nsx\n100\n-1\nCx\nc\n");
  EXPECT_NE(out.find("\n             Unknown option 8  re-enter a valid choise\n"),
            std::string::npos);
  EXPECT_NE(out.find("Unknown option sx re-enter"), std::string::npos);
  EXPECT_NE(out.find("Unknown option 10 re-enter"), std::string::npos);  // read as two characters
  EXPECT_NE(out.find("Unknown option -1 re-enter"), std::string::npos);
  EXPECT_NE(out.find("Unknown option Cx re-enter"), std::string::npos);
  EXPECT_EQ(count(out, kMenuTop), 6u);
  EXPECT_EQ(count(out, kPrompt), 6u);
  EXPECT_EQ(state.screenPages, 1);
}

TEST(RcspltMenu, ColoursAndStylesPLplotRefusesAreReportedOnce) {
  setPlotEnvironment();
  ScratchDir dir;
  const auto five = plottest::writeFiveClasses();
  PlotState state = plottest::svgState();
  // Colour 20 does not exist in colour map 0 and style 0 is not a PLplot line
  // style: the page is still drawn, and each complaint is shown once, not
  // once per panel.
  testing::internal::CaptureStderr();
  const std::string out = run(state, five.inputs, "5\n20\n6\n0\n0\nc\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(state.screenPages, 2);
  EXPECT_EQ(count(out, ">> sbr rcsplt: PLplot: "), 2u) << out;
  const auto page = readSvgPage("page.svg");
  ASSERT_EQ(page.panels.size(), 5u);
  EXPECT_EQ(page.panels[0].data.size(), 3u);
}

TEST(RcspltMenu, ResetRestoresTheDefaultsAndRedraws) {
  setPlotEnvironment();
  ScratchDir dir;
  const auto five = plottest::writeFiveClasses();
  PlotState state = plottest::svgState();
  run(state, five.inputs, "4\n9\n5\n3\n6\n4\n7\n6\n1\n2\n10\n20\n30\n99\nc\n");
  const PlotState defaults;
  EXPECT_EQ(state.seriesColour, 7);
  EXPECT_EQ(state.curveColour, defaults.curveColour);
  EXPECT_EQ(state.curveStyle, defaults.curveStyle);
  EXPECT_EQ(state.curveWidth, defaults.curveWidth);
  EXPECT_EQ(state.backgroundRed, 255);
  EXPECT_EQ(state.backgroundGreen, 255);
  EXPECT_EQ(state.backgroundBlue, 255);
  EXPECT_EQ(state.screenPages, 2);
  const auto page = readSvgPage("page.svg");
  ASSERT_EQ(page.panels.size(), 5u);
  EXPECT_EQ(page.background, "#FFFFFF");
  EXPECT_EQ(page.panels[0].data[0].stroke, "#BEBEBE");
  EXPECT_EQ(page.panels[0].data[2].stroke, "#FF0000");
  EXPECT_DOUBLE_EQ(page.panels[0].data[2].width, 2.0);
}

TEST(RcspltMenu, BackgroundChoices) {
  setPlotEnvironment();
  ScratchDir dir;
  const auto five = plottest::writeFiveClasses();
  PlotState state = plottest::svgState();
  // Black: a black page with white frame and text.
  std::string out = run(state, five.inputs, "1\n0\n0\nc\n");
  EXPECT_NE(out.find("             color table (background only) ____________________________\n"
                     "             black(0) white(1)  user defined (2)\n"),
            std::string::npos);
  auto page = readSvgPage("page.svg", "#FFFFFF");
  EXPECT_EQ(page.background, "#000000");
  ASSERT_EQ(page.panels.size(), 5u);
  EXPECT_EQ(page.panels[0].data.size(), 3u);
  // User defined, then white again (black frame on white).
  out = run(state, five.inputs, "1\n2\n18\n52\n86\n0\nc\n");
  EXPECT_NE(out.find("enter green value [0-255] > "), std::string::npos);
  EXPECT_EQ(readSvgPage("page.svg", "#FFFFFF").background, "#123456");
  out = run(state, five.inputs, "1\n1\n0\nc\n");
  EXPECT_EQ(state.screenPages, 6);  // two pages in each call
  page = readSvgPage("page.svg");
  EXPECT_EQ(page.background, "#FFFFFF");
  EXPECT_EQ(page.panels.size(), 5u);
}

TEST(RcspltMenu, ContinueAnswers) {
  setPlotEnvironment();
  ScratchDir dir;
  const auto five = plottest::writeFiveClasses();
  for (const char* answer : {"\n", "c\n", "C\n", "y\n", "Y\n", "n\n", "N   \n", "\r\n"}) {
    SCOPED_TRACE(answer);
    PlotState state = plottest::svgState();
    const std::string out = run(state, five.inputs, answer);
    EXPECT_EQ(count(out, kMenuTop), 1u);
    EXPECT_EQ(state.screenPages, 1);
  }
  // End of input at the menu ends the run instead of looping.
  PlotState state = plottest::svgState();
  try {
    run(state, five.inputs, "4\n");
    FAIL() << "no Fatal";
  } catch (const Fatal& e) {
    EXPECT_STREQ(e.what(), kEndOfInputMessage);
  }
}

TEST(RcspltMenu, SaveWritesPostScriptAndTheNextRedrawGoesToTheScreen) {
  setPlotEnvironment();
  ScratchDir dir;
  const auto five = plottest::writeFiveClasses();
  PlotState state = plottest::svgState();
  // An empty name and an unwritable one are asked again.
  const std::string out = run(state, five.inputs, "s\n\nno/such/dir/x.ps\nsaved.ps\n0\nc\n");
  EXPECT_NE(out.find("\nNOTE: The image file type is postscript. Use a .ps extention\n"
                     "  to make that readily apparent to your OS\n\n"),
            std::string::npos);
  EXPECT_EQ(count(out, kFileNamePrompt), 3u);
  EXPECT_NE(out.find("Can't open file no/such/dir/x.ps"), std::string::npos);
  EXPECT_NE(out.find(" The page is saved in saved.ps\n"), std::string::npos);
  EXPECT_EQ(state.savedPages, 1);
  EXPECT_EQ(state.screenPages, 2);  // first page and the redraw after saving
  const std::string ps = readTextFile("saved.ps");
  ASSERT_GT(ps.size(), 1000u);
  EXPECT_EQ(ps.rfind("%!PS", 0), 0u);
  EXPECT_NE(ps.find("%%EOF"), std::string::npos);
  EXPECT_EQ(readSvgPage("page.svg").panels.size(), 5u);
  EXPECT_EQ(scratchFiles(), 0);

  if (std::system("gs --version > /dev/null 2>&1") == 0) {
    EXPECT_EQ(
        std::system("gs -q -dSAFER -dNOPAUSE -dBATCH -sDEVICE=nullpage saved.ps > gs.txt 2>&1"), 0)
        << readTextFile("gs.txt");
  }

  // A name that is a folder cannot be replaced by the page: said so, nothing
  // counted as saved, no scratch file left behind.
  std::filesystem::create_directory("folder.ps");
  const std::string again = run(state, five.inputs, "s\nfolder.ps\nc\n");
  EXPECT_NE(again.find(" Can't write file folder.ps: "), std::string::npos) << again;
  EXPECT_EQ(state.savedPages, 1);
  EXPECT_EQ(scratchFiles(), 0);

  // A name of one of the run's own files is refused and the file kept, also
  // when written another way.
  {
    std::FILE* f = std::fopen("input.rwl", "w");
    std::fputs("RAW DATA\n", f);
    std::fclose(f);
    PlotInputs guarded = five.inputs;
    guarded.protectedFiles = {"input.rwl", "Kavrelv6_log.txt"};
    const std::string refused = run(state, guarded, "s\n./input.rwl\nother.ps\nc\n");
    EXPECT_NE(refused.find(" ./input.rwl is a file of this run and is not replaced;"),
              std::string::npos)
        << refused;
    EXPECT_EQ(readTextFile("input.rwl"), "RAW DATA\n");
    EXPECT_NE(refused.find(" The page is saved in other.ps\n"), std::string::npos);
  }

  // Files named like a scratch file of the page are never written: neither
  // "data.part" beside the name "data" nor the target of a link named so.
  {
    std::FILE* f = std::fopen("data.part", "w");
    std::fputs("MEASUREMENTS\n", f);
    std::fclose(f);
    std::filesystem::create_symlink("elsewhere.txt", "linked.ps.part");
    f = std::fopen("elsewhere.txt", "w");
    std::fputs("ELSEWHERE\n", f);
    std::fclose(f);
    const std::string saved = run(state, five.inputs, "s\ndata\ns\nlinked.ps\nc\n");
    EXPECT_EQ(count(saved, " The page is saved in "), 2u) << saved;
    EXPECT_EQ(readTextFile("data.part"), "MEASUREMENTS\n");
    EXPECT_EQ(readTextFile("elsewhere.txt"), "ELSEWHERE\n");
    EXPECT_TRUE(std::filesystem::is_symlink("linked.ps.part"));
    EXPECT_EQ(readTextFile("data").rfind("%!PS", 0), 0u);
    EXPECT_EQ(readTextFile("linked.ps").rfind("%!PS", 0), 0u);
    std::filesystem::remove("data.part");
    std::filesystem::remove("linked.ps.part");
    EXPECT_EQ(scratchFiles(), 0);
  }

  // End of input while the name is awaited ends the run.
  try {
    run(state, five.inputs, "s\n");
    FAIL() << "no Fatal";
  } catch (const Fatal& e) {
    EXPECT_STREQ(e.what(), kEndOfInputMessage);
  }
}

TEST(RcspltMenu, WithoutADisplayTheScreenPageIsSkippedAndSavingWorks) {
  setPlotEnvironment();
  ScratchDir dir;
  const auto five = plottest::writeFiveClasses();
  {
    EnvVar display("DISPLAY", nullptr);
    PlotState state;
    const std::string out = run(state, five.inputs, "0\ns\nheadless.ps\nc\n");
    EXPECT_EQ(count(out, " No display (DISPLAY is not set): the screen page is skipped.\n"), 2u);
    EXPECT_EQ(state.screenPages, 0);
    EXPECT_EQ(state.savedPages, 1);
    EXPECT_EQ(readTextFile("headless.ps").rfind("%!PS", 0), 0u);
  }
  {
    // A display that cannot be opened: PLplot's fatal error is caught, the
    // page is skipped and the run goes on.
    EnvVar display("DISPLAY", ":987");
    PlotState state;
    const std::string out = run(state, five.inputs, "c\n");
    const size_t at = out.find(" The screen page could not be shown (PLplot error: ");
    ASSERT_NE(at, std::string::npos) << out;
    // One line, although PLplot ends its message with a line end.
    const std::string line = out.substr(at, out.find('\n', at) - at);
    EXPECT_EQ(line.substr(line.size() - 17), "); it is skipped.") << out;
    EXPECT_EQ(line.find("display )"), std::string::npos) << line;
    EXPECT_EQ(count(out, kMenuTop), 1u);
    EXPECT_EQ(state.screenPages, 0);
  }
  {
    // The same at a terminal: no window opened, so no hint to press Enter in it.
    EnvVar display("DISPLAY", ":987");
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    std::FILE* terminal = std::fopen(ptsname(master), "r");
    ASSERT_NE(terminal, nullptr);
    ASSERT_EQ(write(master, "c\n", 2), 2);
    std::FILE* screen = std::tmpfile();
    Console console(terminal, screen);
    PlotState state;
    rcsplt(state, console, five.inputs);
    std::fflush(screen);
    std::rewind(screen);
    std::string out;
    for (int ch = std::fgetc(screen); ch != EOF; ch = std::fgetc(screen)) {
      out.push_back(static_cast<char>(ch));
    }
    std::fclose(screen);
    std::fclose(terminal);
    close(master);
    EXPECT_EQ(count(out, " The screen page could not be shown (PLplot error: "), 1u) << out;
    EXPECT_EQ(out.find("Press Enter"), std::string::npos) << out;
    EXPECT_EQ(state.screenPages, 0);
  }
}

TEST(RcspltMenu, SaveNameLosesOnePairOfQuotes) {
  setPlotEnvironment();
  ScratchDir dir;
  const auto five = plottest::writeFiveClasses();
  EnvVar display("DISPLAY", nullptr);
  std::filesystem::create_directory("sub");
  PlotState state;
  // Quoted like every other text answer; a control character is refused.
  const std::string out =
      run(state, five.inputs, "0\ns\n'q.ps'\ns\n  \"sub/x.ps\" \ns\n'a\tb.ps'\nc.ps\nc\n");
  EXPECT_EQ(state.savedPages, 3);
  for (const char* name : {"q.ps", "sub/x.ps", "c.ps"}) {
    EXPECT_EQ(readTextFile(name).rfind("%!PS", 0), 0u) << name;
  }
  EXPECT_EQ(count(out, " The name holds a control character; enter another name.\n"), 1u);
  EXPECT_FALSE(std::filesystem::exists("'q.ps'"));
}

}  // namespace
}  // namespace kavrel
