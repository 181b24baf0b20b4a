// Helpers for the regional-curve page tests: a scratch working folder,
// age-aligned class files written in the class loop's layout, a console fed
// with scripted answers, and a small reader of PLplot's svg output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "util/console.h"

namespace kavrel::plottest {

// A fresh temporary folder that is the working directory while the object
// lives; the previous working directory is restored and the folder removed.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return dir_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path dir_;
};

// One series of a class: identifier, pith offset and ring widths in ring order.
struct TestSeries {
  std::string id;
  int32_t pithOffset = 0;
  std::vector<float> rings;
};

// Writes an age-aligned class file: a header line, then one line per cambial
// age 1..max(pith + rings) with the age, the curve value and each series'
// value (-999.0 outside a series' rings). The curve is curveAt(age) from the
// smallest pith offset + 1 on and -999.0 before, as the class loop writes it.
// Returns the largest cambial age written (0 for an empty class).
int32_t writeAgeAligned(const std::string& path, const std::vector<TestSeries>& series,
                        float (*curveAt)(int32_t age));

// A console reading the scripted answers and writing into a temporary file.
class ScriptedConsole {
 public:
  explicit ScriptedConsole(const std::string& answers);
  ~ScriptedConsole();
  ScriptedConsole(const ScriptedConsole&) = delete;
  ScriptedConsole& operator=(const ScriptedConsole&) = delete;
  Console& console() { return console_; }
  std::string output();  // everything written so far

 private:
  std::FILE* in_;
  std::FILE* out_;
  Console console_;
};

// Elements of an svg page in document order.
struct SvgPolyline {
  std::string stroke;          // "#RRGGBB"
  double width = 0.0;          // stroke width
  std::vector<double> xs, ys;  // points in device units
};
struct SvgText {
  std::string text;    // decoded characters
  std::string anchor;  // text-anchor: "middle" for x-axis labels, "end" for y-axis labels
};

// One panel: its axis drawing (frame-coloured polylines), the tick labels,
// the title, and the data polylines drawn after the "AGE"/"RRW" labels.
struct SvgPanel {
  std::string title;
  int32_t frameLines = 0;
  std::vector<SvgText> labels;
  bool hasAgeLabel = false;
  bool hasRrwLabel = false;
  std::vector<SvgPolyline> data;
};

struct SvgPage {
  std::string background;  // fill of the page rectangle
  std::vector<SvgPanel> panels;
};

// Splits an svg file drawn by the page into panels; frameStroke is the colour
// of the axes so that data lines can be told apart from ticks.
SvgPage readSvgPage(const std::string& path, const std::string& frameStroke = "#000000");

// Numbers among a panel's tick labels with the given anchor, in drawing order.
std::vector<double> tickLabels(const SvgPanel& panel, const std::string& anchor);

}  // namespace kavrel::plottest
