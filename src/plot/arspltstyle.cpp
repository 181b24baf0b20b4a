// Style questions of the plot options menu and the reset of the style.
#include "plot/arspltstyle.h"

#include <string>

#include "util/console.h"

namespace kavrel {

namespace {

// Tables and prompts stand at column 14.
constexpr const char* kIndent = "             ";

void addLine(std::string& text, const char* line) {
  text += kIndent;
  text += line;
  text += '\n';
}

// Colour-map-0 names, with entry 0 white and entry 15 black as the page sets them.
std::string colourTable() {
  std::string text(1, '\n');
  addLine(text, "color table ______________________________________________");
  addLine(text, "white(0) red(1)  yellow(2)  green(3)  aquamarine(4) pink(5) ");
  addLine(text, "wheat(6)  grey(7)  browm(8)  blue(9)  blueviolet(10)");
  addLine(text, "cyan(11)  turquoise(12)  magenta(13)  salmon(14)  black(15)");
  addLine(text, "___________________________________________________________");
  text += '\n';
  return text;
}

std::string backgroundTable() {
  std::string text(1, '\n');
  addLine(text, "color table (background only) ____________________________");
  addLine(text, "black(0) white(1)  user defined (2)");
  addLine(text, "___________________________________________________________");
  text += '\n';
  return text;
}

std::string prompt(const char* text) { return std::string(kIndent) + text; }

int32_t askColour(Console& console, const char* text) {
  return console.askInteger(colourTable() + prompt(text));
}

void askBackground(PlotState& state, Console& console) {
  const int32_t choice =
      console.askInteger(backgroundTable() + prompt("select new background color [0/1/2] : "));
  if (choice == 0) {
    // Black: colour 0 (the background) black and colour 15 (text and frame by
    // default) white, so the page stays readable.
    state.invertedColourMap = true;
    state.backgroundRed = state.backgroundGreen = state.backgroundBlue = 0;
  } else if (choice == 1) {
    state.invertedColourMap = false;
    state.backgroundRed = state.backgroundGreen = state.backgroundBlue = 255;
  } else if (choice == 2) {
    state.backgroundRed = console.askInteger(prompt("enter red value [0-255] > "));
    state.backgroundGreen = console.askInteger(prompt("enter green value [0-255] > "));
    state.backgroundBlue = console.askInteger(prompt("enter blue value [0-255] > "));
  }
}

}  // namespace

void resetPlotStyle(PlotState& state) {
  state.backgroundRed = state.backgroundGreen = state.backgroundBlue = 255;
  state.invertedColourMap = false;
  state.frameColour = 15;
  state.textColour = 15;
  state.seriesColour = 7;
  state.curveColour = 1;
  state.curveStyle = 1;
  state.curveWidth = 2.0f;
}

void arspltstyle(PlotState& state, Console& console, int32_t option) {
  switch (option) {
    case 1:
      askBackground(state, console);
      break;
    case 2:
      state.frameColour = askColour(console, "select new frame color [0-15] : ");
      break;
    case 3:
      state.textColour = askColour(console, "select new text color: [0-15] : ");
      break;
    case 4:
      state.seriesColour = askColour(console, "select new line color: [0-15] : ");
      break;
    case 5:
      state.curveColour = askColour(console, "select new curve color: [0-15] : ");
      break;
    case 6:
      state.curveStyle = console.askInteger(prompt("select new line style: [0-8] : "));
      break;
    case 7:
      state.curveWidth =
          static_cast<float>(console.askInteger(prompt("select new curve width: [0-8]  : ")));
      break;
    default:
      break;
  }
}

}  // namespace kavrel
