// Internals of the regional-curve page shared by its drawing (rcsplt.cpp)
// and its options menu (rcsplt_menu.cpp): the page's tables, where a drawing
// goes, and the drawing on the screen or into a file.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "plot/agealigned_table.h"
#include "plot/rcsplt.h"

namespace kavrel {

class Console;

namespace rcsplt_page {

// The PostScript device of the plot menu's save.
inline constexpr const char* kPostScriptDevice = "psc";

// The five panels' titles (the files' bare names) and tables.
struct PageData {
  std::array<std::string, kPlotClassCount> titles;
  std::array<AgeAlignedTable, kPlotClassCount> tables;
};

// Reads the five age-aligned files of the inputs; Fatal when one is missing
// or unreadable.
PageData loadPage(const PlotInputs& inputs);

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

// Text without its leading and trailing blanks.
std::string trimmed(const std::string& s);

// Draws the whole page on the target. When openFailureSkips is set, a device
// that cannot be opened (e.g. an unreachable display) returns the PLplot
// message instead of ending the run; any other PLplot failure raises Fatal.
std::optional<std::string> drawPage(Console& console, const PlotState& state,
                                    const PlotInputs& inputs, const PageData& page,
                                    const AxisTicks& ticks, const Target& target,
                                    bool openFailureSkips);

// Draws the page where screen pages go: the configured file device, or an
// interactive device when a display is available. Says so in one line when
// the screen page is skipped.
void drawOnScreen(PlotState& state, Console& console, const PlotInputs& inputs, PageSource& pages,
                  const AxisTicks& ticks);

// Shows PLplot's kept messages of aborted operations, one line each.
void reportPlotWarnings(Console& console);

}  // namespace rcsplt_page
}  // namespace kavrel
