// The regional-curve page and its options menu, drawn with PLplot.
//
// PLplot would end the process on its fatal errors and would read standard
// input itself for a missing device or output file name. Neither may happen
// here: every drawing installs an exit handler that turns PLplot's fatal path
// into Fatal, the device is checked against PLplot's list before it is
// selected, and the PostScript file name is asked through the console (with
// the prompt PLplot itself would show) and handed over with plsfnam. So the
// console stays the one reader of standard input, typed or piped.
#include "plot/rcsplt.h"

#include <plplot.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "plot/agealigned_table.h"
#include "plot/arspltstyle.h"
#include "plot/picture.h"
#include "plot/plplot_guard.h"
#include "plot/rcsplt_picture.h"
#include "util/console.h"
#include "util/fatal.h"
#include "util/fixedformat.h"
#include "util/outfile.h"

namespace kavrel {

namespace {

// The prompt PLplot's file drivers show when they need an output file name.
constexpr const char* kFileNamePrompt = "Enter graphics output file name: ";
constexpr const char* kPostScriptDevice = "psc";
// Interactive devices for the screen page, in order of preference.
constexpr const char* kScreenDevices[] = {"xcairo", "xwin"};

// ---------------------------------------------------------------------------
// PLplot error handling

// Messages of PLplot's non-fatal aborts during one drawing, shown once each
// after the drawing instead of once per panel.
std::vector<std::string>& abortMessages() {
  static std::vector<std::string> messages;
  return messages;
}

// A PLplot message as one line: its line ends (PLplot ends some messages
// with one) become blanks, trailing blanks are dropped.
std::string oneLine(const char* message) {
  std::string text = message != nullptr ? message : "";
  for (char& ch : text) {
    if (ch == '\n' || ch == '\r') ch = ' ';
  }
  const size_t last = text.find_last_not_of(' ');
  text.erase(last == std::string::npos ? 0 : last + 1);
  return text;
}

// PLplot calls this instead of ending the process; it must not return.
int onPlplotExit(const char* message) {
  std::string text = oneLine(message);
  if (text.empty()) text = "the plotting library ended the drawing";
  throw Fatal("PLplot error: " + text);
}

void onPlplotAbort(const char* message) {
  const std::string text = oneLine(message);
  auto& messages = abortMessages();
  if (std::find(messages.begin(), messages.end(), text) == messages.end()) {
    messages.push_back(text);
  }
}

// Routes PLplot's fatal errors and aborted operations to the handlers above.
// Needed before any PLplot call: even the list of devices may end the process.
void installPlplotHandlers() {
  plsexit(onPlplotExit);
  plsabort(onPlplotAbort);
}

// PLplot writes the text of an aborted operation here instead of to the
// standard error stream; the abort handler has already kept the message.
PLINT abortCode = 0;
char abortText[2048];

// Ends the PLplot stream after a failure; a second failure is ignored.
void endQuietly() {
  try {
    plend();
  } catch (const Fatal&) {
  }
}

void reportAborts(Console& console) {
  for (const std::string& m : abortMessages()) console.writeLine(">> sbr rcsplt: PLplot: " + m);
  abortMessages().clear();
}

// Whether PLplot offers the device; with fileOnly, among its file devices.
bool deviceListed(const std::string& name, bool fileOnly) {
  constexpr int kMaxDevices = 128;
  std::vector<const char*> menus(kMaxDevices, nullptr);
  std::vector<const char*> names(kMaxDevices, nullptr);
  const char** menuPtr = menus.data();
  const char** namePtr = names.data();
  int count = kMaxDevices;
  if (fileOnly) {
    plgFileDevs(&menuPtr, &namePtr, &count);
  } else {
    plgDevs(&menuPtr, &namePtr, &count);
  }
  for (int i = 0; i < count && i < kMaxDevices; ++i) {
    if (names[static_cast<size_t>(i)] != nullptr && name == names[static_cast<size_t>(i)]) {
      return true;
    }
  }
  return false;
}

bool deviceAvailable(const std::string& name) { return deviceListed(name, false); }

// Creates (or empties) the file so that PLplot can open it; the error text
// when it cannot.
std::optional<std::string> checkWritable(const std::string& name) {
  std::FILE* f = std::fopen(name.c_str(), "wb+");
  if (f == nullptr) return std::string(std::strerror(errno));
  std::fclose(f);
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// The page

struct PageData {
  std::array<std::string, kPlotClassCount> titles;
  std::array<AgeAlignedTable, kPlotClassCount> tables;
};

std::string trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  const size_t last = s.find_last_not_of(' ');
  return s.substr(first, last - first + 1);
}

PageData loadPage(const PlotInputs& inputs) {
  PageData page;
  for (int32_t c = 0; c < kPlotClassCount; ++c) {
    const auto i = static_cast<size_t>(c);
    const std::string path = trimmed(inputs.classFileNames[i]);
    // The panel shows the file's bare name, wherever the file lies.
    page.titles[i] = std::filesystem::path(path).filename().string();
    page.tables[i] = readAgeAlignedTable(path, inputs.seriesInClass[i]);
  }
  return page;
}

// The page's tables, read from the age-aligned files the first time a
// drawing needs them: a run whose page is neither shown nor saved never reads
// them back.
class PageSource {
 public:
  explicit PageSource(const PlotInputs& inputs) : inputs_(inputs) {}
  const PageData& get() {
    if (!page_) page_ = loadPage(inputs_);
    return *page_;
  }

 private:
  const PlotInputs& inputs_;
  std::optional<PageData> page_;
};

// Where one drawing goes.
struct Target {
  std::string device;
  std::string fileName;  // empty for an interactive device
  bool pause = false;    // wait in the window at the end of the page
  std::string hint;      // line shown once the device is open, before the page waits
};

void drawPolyline(const AgePolyline& line) {
  if (line.ages.empty()) return;
  plline(static_cast<PLINT>(line.ages.size()), line.ages.data(), line.values.data());
}

// note, when not empty, is one more line under the panel's title.
void drawPanel(const PlotState& state, const PlotInputs& inputs, const AxisTicks& ticks,
               const std::string& title, const std::string& note, const AgeAlignedTable& table,
               double xMax, double yMax) {
  pladv(0);
  plvpor(0.15, 0.8, 0.2, 0.8);
  plwind(0.0, xMax, 0.0, yMax);
  plcol0(state.frameColour);
  plaxes(0.0, 0.0, "abitnr", static_cast<double>(ticks.xMajor), ticks.xMinor, "abinstv",
         static_cast<double>(ticks.yMajor), ticks.yMinor);
  plcol0(state.textColour);
  if (!note.empty()) plmtex("t", 0.4, 0.5, 0.5, note.c_str());
  pllab("AGE", "RRW", title.c_str());
  plcol0(state.curveColour);
  plpsty(3);

  plcol0(state.seriesColour);
  plwidth(1.0);
  pllsty(1);
  for (int32_t k = 0; k < table.seriesCount; ++k) {
    drawPolyline(columnPolyline(table, k, inputs.missingValue));
  }
  plcol0(state.curveColour);
  plwidth(static_cast<double>(state.curveWidth));
  pllsty(state.curveStyle);
  drawPolyline(columnPolyline(table, -1, inputs.missingValue));
  plcol0(state.seriesColour);
  plwidth(1.0);
  pllsty(1);
}

void setColours(const PlotState& state) {
  if (!state.invertedColourMap) {
    plscol0(0, 255, 255, 255);
    plscol0(15, 0, 0, 0);
  } else {
    plscol0(15, 255, 255, 255);
    plscol0(0, 0, 0, 0);
  }
  plscolbg(state.backgroundRed, state.backgroundGreen, state.backgroundBlue);
}

// Draws the page on the open PLplot stream: the 2 x 3 grid and the five
// panels, each with its line of notes[c] when notes are given.
void drawPanels(const PlotState& state, const PlotInputs& inputs, const PageData& page,
                const AxisTicks& ticks, const std::array<std::string, kPlotClassCount>* notes) {
  // An empty or unusable axis range would make PLplot refuse the window.
  const double xMax = inputs.maxAgeAllClasses > 0 ? inputs.maxAgeAllClasses : 1.0;
  const double yMax = inputs.maxRawValue > 0.0f ? static_cast<double>(inputs.maxRawValue) : 1.0;
  plfontld(1);
  plfont(1);
  plssub(1, 1);
  pladv(0);
  plvpor(0.1, 0.9, 0.2, 0.85);
  plcol0(state.textColour);
  plssub(2, 3);
  for (size_t c = 0; c < kPlotClassCount; ++c) {
    drawPanel(state, inputs, ticks, page.titles[c], notes != nullptr ? (*notes)[c] : "",
              page.tables[c], xMax, yMax);
  }
}

// Draws the whole page on the target. When openFailureSkips is set, a device
// that cannot be opened (e.g. an unreachable display) returns the PLplot
// message instead of ending the run; any other PLplot failure raises Fatal.
std::optional<std::string> drawPage(Console& console, const PlotState& state,
                                    const PlotInputs& inputs, const PageData& page,
                                    const AxisTicks& ticks, const Target& target,
                                    bool openFailureSkips) {
  installPlplotHandlers();
  abortMessages().clear();
  plsdev(target.device.c_str());
  plsError(&abortCode, abortText);
  if (!target.fileName.empty()) plsfnam(target.fileName.c_str());
  plspause(target.pause ? 1 : 0);
  setColours(state);
  try {
    plinit();
  } catch (const Fatal& e) {
    endQuietly();
    if (openFailureSkips) return std::string(e.what());
    throw;
  }
  if (!target.hint.empty()) {
    console.writeLine(target.hint);
    console.flush();
  }
  try {
    drawPanels(state, inputs, page, ticks, nullptr);
    plend();
  } catch (const Fatal&) {
    endQuietly();
    throw;
  }
  return std::nullopt;
}

// A configured screen device must exist, and a file device needs a file it
// can write; otherwise PLplot would ask for them on standard input.
void requireScreenTarget(const PlotState& state) {
  if (!deviceAvailable(state.screenDevice)) {
    throw Fatal("The PLplot device " + state.screenDevice + " is not available");
  }
  if (deviceListed(state.screenDevice, true)) {
    if (state.screenFile.empty()) {
      throw Fatal("The PLplot device " + state.screenDevice + " needs an output file name");
    }
    if (auto error = checkWritable(state.screenFile)) {
      throw Fatal("Can't open file " + state.screenFile + ": " + *error);
    }
  }
}

// Draws the page where screen pages go: the configured file device, or an
// interactive device when a display is available. Says so in one line when
// the screen page is skipped.
void drawOnScreen(PlotState& state, Console& console, const PlotInputs& inputs,
                  PageSource& pages, const AxisTicks& ticks) {
  Target target;
  if (!state.screenDevice.empty()) {
    requireScreenTarget(state);
    target.device = state.screenDevice;
    target.fileName = state.screenFile;
  } else {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
      console.writeLine(" No display (DISPLAY is not set): the screen page is skipped.");
      return;
    }
    for (const char* device : kScreenDevices) {
      if (deviceAvailable(device)) {
        target.device = device;
        break;
      }
    }
    if (target.device.empty()) {
      console.writeLine(
          " No interactive PLplot device (xcairo, xwin): the screen page is skipped.");
      return;
    }
    // Wait in the window only for someone at a terminal; piped runs go on.
    target.pause = isatty(fileno(console.in())) != 0;
    if (target.pause) target.hint = " Press Enter or right-click in the plot window to continue.";
  }
  console.flush();
  // A display that cannot be opened skips the screen page; a file that
  // cannot be written is a real failure.
  const auto failure =
      drawPage(console, state, inputs, pages.get(), ticks, target, target.fileName.empty());
  reportAborts(console);
  if (failure) {
    console.writeLine(" The screen page could not be shown (" + *failure + "); it is skipped.");
    return;
  }
  ++state.screenPages;
}

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
    const std::string name = trimmed(console.readLine());
    if (name.empty()) continue;
    if (name == "-") return name;
    if (isProtected(name, protectedFiles)) {
      console.writeLine(" " + name + " is a file of this run and is not replaced; enter another name.");
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
  if (!deviceAvailable(kPostScriptDevice)) {
    console.writeLine(" The PLplot PostScript device psc is not available: the page is not saved.");
    return;
  }
  // The page is drawn into a fresh scratch file beside the named file and
  // then replaces it, so an interrupted save never leaves a half-written
  // page under that name and never writes into another file. The scratch
  // file is removed on every way out short of the rename.
  std::optional<ScratchPath> scratch;
  const std::string name = askPostScriptName(console, inputs.protectedFiles, scratch);
  Target target;
  target.device = kPostScriptDevice;
  target.fileName = scratch ? scratch->path().string() : name;
  drawPage(console, state, inputs, pages.get(), ticks, target, false);
  reportAborts(console);
  if (scratch && !scratch->commit()) {
    console.writeLine(" Can't write file " + name + ": " + scratch->error() +
                      "; the page is not saved.");
    return;
  }
  ++state.savedPages;
  if (scratch) console.writeLine(" The page is saved in " + name);
}

// ---------------------------------------------------------------------------
// The menu

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

void setPlotEnvironment() {
  // Replaces any value: the fonts must come from the PLplot this program was built with.
  setenv("PLPLOT_LIB", KAVREL_PLPLOT_DATA_DIR, 1);
  setenv("PGPLOT_DIR", KAVREL_PLPLOT_DATA_DIR, 1);
}

AxisTicks axisTicks(int32_t maxAge, float maxValue) {
  AxisTicks t;
  if (maxAge <= 100) {
    t.xMajor = 10.0f;
    t.xMinor = 10;
  } else if (maxAge <= 500) {
    t.xMajor = 100.0f;
    t.xMinor = 5;
  } else if (maxAge <= 1000) {
    t.xMajor = 200.0f;
    t.xMinor = 2;
  } else {
    t.xMajor = 250.0f;
    t.xMinor = 1;
  }
  if (maxValue <= 1.0f) {
    t.yMajor = 0.1f;
    t.yMinor = 10;
  } else if (maxValue <= 5.0f) {
    t.yMajor = 1.0f;
    t.yMinor = 5;
  } else if (maxValue <= 10.0f) {
    t.yMajor = 2.0f;
    t.yMinor = 2;
  } else {
    t.yMajor = 5.0f;
    t.yMinor = 0;
  }
  return t;
}

void rcsplt(PlotState& state, Console& console, const PlotInputs& inputs) {
  installPlplotHandlers();
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

// ---------------------------------------------------------------------------
// Shared with the picture files (plot/plplot_guard.h, plot/rcsplt_picture.h)

void guardPlotStream() {
  installPlplotHandlers();
  abortMessages().clear();
  plsError(&abortCode, abortText);
}

std::vector<std::string> takePlotWarnings() {
  std::vector<std::string> kept;
  kept.swap(abortMessages());
  return kept;
}

void endPlotStreamQuietly() { endQuietly(); }

bool plotDeviceAvailable(const std::string& device) { return deviceAvailable(device); }

std::string regionalCurveNote(int32_t seriesCount, std::string_view curveName) {
  return "n = " + std::to_string(seriesCount) + ", " + trimmed(std::string(curveName));
}

std::vector<std::string> drawRegionalCurvePicture(
    const PlotState& state, const PlotInputs& inputs,
    const std::array<std::string, kPlotClassCount>& notes, const std::string& path,
    const PictureTarget& target) {
  // The files are read before the device is opened: a missing one ends the
  // drawing before anything is written.
  const PageData page = loadPage(inputs);
  const AxisTicks ticks = axisTicks(inputs.maxAgeAllClasses, inputs.maxRawValue);
  std::array<std::string, kPlotClassCount> lines;
  for (size_t c = 0; c < kPlotClassCount; ++c) lines[c] = plotText(notes[c]);
  return drawPicture(
      path, target, [&] { setColours(state); },
      [&] { drawPanels(state, inputs, page, ticks, &lines); });
}

}  // namespace kavrel
