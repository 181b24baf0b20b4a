// The plot options menu that follows every drawing of the regional-curve
// page: restyle, redraw, reset, save the page as colour PostScript, or go on.
// The PostScript file name is asked through the console (with the prompt
// PLplot itself would show) and handed over with plsfnam, so PLplot never
// reads standard input.
#include <algorithm>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "plot/arspltstyle.h"
#include "plot/picture.h"
#include "plot/plplot_guard.h"
#include "plot/rcsplt.h"
#include "plot/rcsplt_page.h"
#include "util/console.h"
#include "util/fixedformat.h"
#include "util/outfile.h"
#include "util/shown_text.h"

namespace kavrel {

namespace {

using namespace rcsplt_page;

// The prompt PLplot's file drivers show when they need an output file name.
constexpr const char* kFileNamePrompt = "Enter graphics output file name: ";

// True when `name` is one of the run's own files: the same name, the same
// place after resolving links, or the same file.
bool isProtected(const std::string& name, const std::vector<std::string>& files) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path target = fs::weakly_canonical(name, ec);
  for (const std::string& f : files) {
    if (f.empty()) continue;
    std::error_code ec2;
    if (name == f || (!ec && target == fs::weakly_canonical(f, ec2) && !ec2)) return true;
    if (fs::equivalent(name, f, ec2) && !ec2) return true;
  }
  return false;
}

// Asks for the PostScript file name until one can be written; "-" is
// PLplot's name for standard output. A name of one of the run's own files is
// refused, so that a mistyped name never replaces data. For a file name,
// `scratch` receives the file the page is drawn into: reserved beside the
// named file under a name no other file has. End of input raises Fatal.
std::string askPostScriptName(Console& console, const std::vector<std::string>& protectedFiles,
                              std::optional<ScratchPath>& scratch) {
  for (;;) {
    console.write(kFileNamePrompt);
    const std::string name = unquotedAnswer(console.readLine());
    if (name.empty()) continue;
    if (hasControlCharacter(name)) {
      console.writeLine(" The name holds a control character; enter another name.");
      continue;
    }
    if (name == "-") return name;
    if (isProtected(name, protectedFiles)) {
      console.writeLine(" " + name +
                        " is a file of this run and is not replaced; enter another name.");
      continue;
    }
    // PLplot asks again on its own when it cannot open the file, so make
    // sure it can before handing the name over.
    scratch.emplace(name);
    if (!scratch->ok()) {
      console.writeLine(" Can't open file " + name + ": " + scratch->error());
      scratch.reset();
      continue;
    }
    return name;
  }
}

void savePage(PlotState& state, Console& console, const PlotInputs& inputs, PageSource& pages,
              const AxisTicks& ticks) {
  console.writeLine(
      formatLayout("(/'NOTE: The image file type is postscript. Use a .ps extention')", {}));
  console.writeLine(formatLayout("(2x,'to make that readily apparent to your OS',/)", {}));
  if (!plotDeviceAvailable(kPostScriptDevice)) {
    console.writeLine(" The PLplot PostScript device psc is not available: the page is not saved.");
    return;
  }
  // The page is drawn into a fresh scratch file beside the named file and
  // then replaces it, so an interrupted save never leaves a half-written
  // page under that name and never writes into another file. The scratch
  // file is removed on every way out short of the rename. A page cut short
  // (a full disk) is not kept, and another name is asked for.
  for (;;) {
    std::optional<ScratchPath> scratch;
    const std::string name = askPostScriptName(console, inputs.protectedFiles, scratch);
    Target target;
    target.device = kPostScriptDevice;
    target.fileName = scratch ? scratch->path().string() : name;
    drawPage(console, state, inputs, pages.get(), ticks, target, false);
    reportPlotWarnings(console);
    if (scratch) {
      const std::string problem =
          incompletePicture(scratch->path().string(), PictureFormat::PostScript);
      if (!problem.empty()) {
        console.writeLine(" Can't write file " + name + ": " + problem +
                          "; the disk may be full. The page is not saved; enter another name.");
        continue;
      }
    }
    if (scratch && !scratch->commit()) {
      console.writeLine(" Can't write file " + name + ": " + scratch->error() +
                        "; the page is not saved.");
      return;
    }
    ++state.savedPages;
    if (scratch) console.writeLine(" The page is saved in " + name);
    return;
  }
}

std::string menuText() {
  static const char* const kLines[] = {
      "|************* plot options menu ***************|",
      "| replot             [0] line color         [4] |",
      "| background color   [1] curve color        [5] |",
      "| frame color        [2] curve style        [6] |",
      "| text color         [3] curve width        [7] |",
      "|                                               |",
      "|              reset options  [99]              |",
      "|-----------------------------------------------|",
      "|             [s]ave   <[c]ontinue>             |",
      "|_______________________________________________|",
  };
  std::string text = "\n\n";
  for (const char* line : kLines) text += std::string(15, ' ') + line + "\n";
  text += "\n enter option number > ";
  return text;
}

// The first two characters of an answer, blank-padded (an "(a2)" read).
std::string twoCharacters(const std::string& answer) {
  std::string two = answer.substr(0, std::min<size_t>(2, answer.size()));
  two.resize(2, ' ');
  return two;
}

bool isContinue(const std::string& two) {
  static const char* const kAnswers[] = {"C ", "c ", "  ", "Y ", "y ", "N ", "n "};
  return std::any_of(std::begin(kAnswers), std::end(kAnswers),
                     [&](const char* a) { return two == a; });
}

// The two characters read as an "(i2)" integer: blanks are ignored, an
// optional sign, then digits; nothing when they are not a number.
std::optional<int32_t> menuNumber(const std::string& two) {
  std::string digits;
  for (char ch : two) {
    if (ch != ' ') digits.push_back(ch);
  }
  if (digits.empty()) return 0;
  size_t i = 0;
  const bool negative = digits[0] == '-';
  if (digits[0] == '+' || digits[0] == '-') i = 1;
  if (i >= digits.size()) return std::nullopt;
  int32_t value = 0;
  for (; i < digits.size(); ++i) {
    if (digits[i] < '0' || digits[i] > '9') return std::nullopt;
    value = value * 10 + (digits[i] - '0');
  }
  return negative ? -value : value;
}

}  // namespace

void rcsplt(PlotState& state, Console& console, const PlotInputs& inputs) {
  guardPlotStream();
  PageSource page(inputs);
  AxisTicks ticks = axisTicks(inputs.maxAgeAllClasses, inputs.maxRawValue);
  drawOnScreen(state, console, inputs, page, ticks);
  for (;;) {
    console.write(menuText());
    const std::string two = twoCharacters(console.readLine());
    if (two == "S " || two == "s ") {
      savePage(state, console, inputs, page, ticks);
      continue;
    }
    if (isContinue(two)) return;
    const std::optional<int32_t> option = menuNumber(two);
    if (option && *option >= 1 && *option <= 7) {
      arspltstyle(state, console, *option);
    } else if (option && *option == 99) {
      resetPlotStyle(state);
      ticks = axisTicks(inputs.maxAgeAllClasses, inputs.maxRawValue);
      drawOnScreen(state, console, inputs, page, ticks);
    } else if (option && *option == 0) {
      drawOnScreen(state, console, inputs, page, ticks);
    } else {
      console.writeLine(
          formatLayout("(/13x,'Unknown option ',a,' re-enter a valid choise')", {two}));
    }
  }
}

}  // namespace kavrel
