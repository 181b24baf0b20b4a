// The regional-curve page drawn with PLplot: one panel per class with its
// series and regional curve, on the screen or into a file.
//
// PLplot would end the process on its fatal errors and would read standard
// input itself for a missing device or output file name. Neither may happen
// here: every drawing installs an exit handler that turns PLplot's fatal path
// into Fatal, and the device is checked against PLplot's list before it is
// selected. So the console stays the one reader of standard input.
#include "plot/rcsplt.h"

#include <plplot.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "plot/agealigned_table.h"
#include "plot/picture.h"
#include "plot/plplot_guard.h"
#include "plot/rcsplt_page.h"
#include "util/console.h"
#include "util/fatal.h"

namespace kavrel {

namespace rcsplt_page {

namespace {

// Interactive devices for the screen page, in order of preference.
constexpr const char* kScreenDevices[] = {"xcairo", "xwin"};

// Creates (or empties) the file so that PLplot can open it; the error text
// when it cannot.
std::optional<std::string> checkWritable(const std::string& name) {
  std::FILE* f = std::fopen(name.c_str(), "wb+");
  if (f == nullptr) return std::string(std::strerror(errno));
  std::fclose(f);
  return std::nullopt;
}

void drawPolyline(const AgePolyline& line) {
  if (line.ages.empty()) return;
  plline(static_cast<PLINT>(line.ages.size()), line.ages.data(), line.values.data());
}

void drawPanel(const PlotState& state, const PlotInputs& inputs, const AxisTicks& ticks,
               const std::string& title, const AgeAlignedTable& table, double xMax, double yMax) {
  pladv(0);
  plvpor(0.15, 0.8, 0.2, 0.8);
  plwind(0.0, xMax, 0.0, yMax);
  plcol0(state.frameColour);
  plaxes(0.0, 0.0, "abitnr", static_cast<double>(ticks.xMajor), ticks.xMinor, "abinstv",
         static_cast<double>(ticks.yMajor), ticks.yMinor);
  plcol0(state.textColour);
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
// panels.
void drawPanels(const PlotState& state, const PlotInputs& inputs, const PageData& page,
                const AxisTicks& ticks) {
  // An empty or unusable axis range would make PLplot refuse the window.
  const double xMax = inputs.maxAgeAllClasses > 0 ? inputs.maxAgeAllClasses : 1.0;
  const double yMax = inputs.maxRawValue > 0.0f ? static_cast<double>(inputs.maxRawValue) : 1.0;
  plfontld(1);
  plfont(1);
  plssub(1, 1);
  pladv(0);
  plvpor(0.1, 0.9, 0.2, 0.85);
  plcol0(state.textColour);
  if (inputs.panelCount == 1) {
    plssub(1, 1);
  } else {
    plssub(2, 3);
  }
  for (size_t c = 0; c < static_cast<size_t>(inputs.panelCount); ++c) {
    drawPanel(state, inputs, ticks, page.titles[c], page.tables[c], xMax, yMax);
  }
}

// A configured screen device must exist, and a file device needs a file it
// can write; otherwise PLplot would ask for them on standard input.
void requireScreenTarget(const PlotState& state) {
  if (!plotDeviceAvailable(state.screenDevice)) {
    throw Fatal("The PLplot device " + state.screenDevice + " is not available");
  }
  if (plotFileDeviceAvailable(state.screenDevice)) {
    if (state.screenFile.empty()) {
      throw Fatal("The PLplot device " + state.screenDevice + " needs an output file name");
    }
    if (auto error = checkWritable(state.screenFile)) {
      throw Fatal("Can't open file " + state.screenFile + ": " + *error);
    }
  }
}

}  // namespace

std::string trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  const size_t last = s.find_last_not_of(' ');
  return s.substr(first, last - first + 1);
}

PageData loadPage(const PlotInputs& inputs) {
  PageData page;
  for (int32_t c = 0; c < inputs.panelCount; ++c) {
    const auto i = static_cast<size_t>(c);
    const std::string path = trimmed(inputs.classFileNames[i]);
    // The panel shows the file's bare name, wherever the file lies.
    page.titles[i] = std::filesystem::path(path).filename().string();
    page.tables[i] = readAgeAlignedTable(path, inputs.seriesInClass[i]);
  }
  return page;
}

// Draws the whole page on the target. When openFailureSkips is set, a device
// that cannot be opened (e.g. an unreachable display) returns the PLplot
// message instead of ending the run; any other PLplot failure raises Fatal.
std::optional<std::string> drawPage(Console& console, const PlotState& state,
                                    const PlotInputs& inputs, const PageData& page,
                                    const AxisTicks& ticks, const Target& target,
                                    bool openFailureSkips) {
  guardPlotStream();
  plsdev(target.device.c_str());
  if (!target.fileName.empty()) plsfnam(target.fileName.c_str());
  plspause(target.pause ? 1 : 0);
  setColours(state);
  try {
    plinit();
  } catch (const Fatal& e) {
    endPlotStreamQuietly();
    if (openFailureSkips) return std::string(e.what());
    throw;
  }
  if (!target.hint.empty()) {
    console.writeLine(target.hint);
    console.flush();
  }
  try {
    drawPanels(state, inputs, page, ticks);
    plend();
  } catch (const Fatal&) {
    endPlotStreamQuietly();
    throw;
  }
  return std::nullopt;
}

// Draws the page where screen pages go: the configured file device, or an
// interactive device when a display is available. Says so in one line when
// the screen page is skipped.
void drawOnScreen(PlotState& state, Console& console, const PlotInputs& inputs, PageSource& pages,
                  const AxisTicks& ticks) {
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
      if (plotDeviceAvailable(device)) {
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
  reportPlotWarnings(console);
  if (failure) {
    console.writeLine(" The screen page could not be shown (" + *failure + "); it is skipped.");
    return;
  }
  ++state.screenPages;
}

void reportPlotWarnings(Console& console) {
  for (const std::string& m : takePlotWarnings()) console.writeLine(">> sbr rcsplt: PLplot: " + m);
}

}  // namespace rcsplt_page

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

}  // namespace kavrel
