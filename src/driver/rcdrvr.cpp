#include "driver/rcdrvr.h"

#include <array>
#include <charconv>
#include <optional>

#include "rwfile/fields.h"
#include "util/console.h"
#include "util/fatal.h"

namespace kavrel {

namespace {

// One menu line: the code's label and its explanation, written one after the other.
struct MenuLine {
  std::string_view first;
  std::string_view second;
};

constexpr std::array<MenuLine, 14> kMenuLines = {{
    {"  -5:  friedman super smoother", "        lower alpha (0-9) gives more local fit"},
    {"  -4:  robust lowess smoother", "         integer percent of series length <Not Yet>"},
    {"  -3:  median smoothing", "               must have odd window length <full length only>"},
    {"  -2:  Age-dependent spline smoothing", ""},
    {"   1:  neg expon curve, ", "no = opt 4    f(i) = a*exp(-b*t(i)) + d    (d>0)"},
    {"   2:  neg expon curve, ", "no = opt 5    f(i) = a*exp(-b*t(i)) + d    (d>0)"},
    {"   3:  neg expon curve  ", "(general)     f(i) = a*exp(-b*t(i+p)) + d (any d)"},
    {"   4:  linear regression ", "(any slope)  f(i) = +/-c*t(i) + d"},
    {"   5:  linear regression ", "(neg slope)  f(i) = -c*t(i) + d   "},
    {"   6:  horizontal line through ", "mean   f(i) = mean(y(i)) = d"},
    {"   7:  hugershoff growth ", "function     f(i) = a*t(i+p)**b * exp(-c*t(i+p)) + d"},
    {"   8:  general exponential (b = 1)    ", "f(i) = a*t(i+p)**b * exp(-c*t(i+p)) + d"},
    {"  >9: cubic smoothing ", "spline         fixed 50 pct variance cutoff"},
    {" <-9: cubic smoothing ", "spline         pct n 50 pct variance cutoff"},
}};

constexpr std::string_view kCol14 = "             ";  // 13 blanks: text starts in column 14

// What an empty answer stands for at the tweeter and stiffness prompts.
constexpr std::string_view kTweeterFallback = "7";
constexpr std::string_view kStiffnessFallback = "75";

// Where each question's answer goes.
void setTweeter(DetrendOptions& settings, int32_t alpha) {
  settings.span = alpha;
  settings.fitParam = static_cast<float>(alpha);
}
void setLowessWindow(DetrendOptions& settings, int32_t window) { settings.span = window; }
void setMedianWindow(DetrendOptions& settings, int32_t window) {
  settings.span = window;
  settings.fitParam = static_cast<float>(window);
}

// An optionally signed run of decimal digits that fits in 32 bits, and
// nothing else.
std::optional<int32_t> wholeInteger(std::string_view text) {
  if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
  int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string menuBlock() {
  std::string block = "\n Select RCS curve fit options:\n\n\n";
  for (const MenuLine& line : kMenuLines) {
    block += "  ";
    block += line.first;
    block += line.second;
    block += '\n';
  }
  block += '\n';
  block += kCol14;
  block += "enter  option  (x to start over)  ==> ";
  return block;
}

std::string indented(std::initializer_list<std::string_view> lines, std::string_view indent) {
  std::string block = "\n";
  for (std::string_view line : lines) {
    if (block.size() > 1) block += '\n';
    block += indent;
    block += line;
  }
  return block;
}

std::string tweeterBlock() {
  return indented(
      {"Enter the Friedman tweeter (alpha) 0-9", "An alpha=7 is suggested to begin with.",
       "It imparts moderate flexibility to the", "super smoother. Alpha=9 is the stiffest",
       "and alpha=0 is the most flexible curve.", "Enter your value, hit <RET> for 7 ==> "},
      kCol14);
}

std::string windowBlock(std::string_view what, std::string_view fixedRule) {
  return indented(
      {what, fixedRule, "and less then the shortest series length, or",
       "percent of series length: a negative integer", "between -1 and -100, inclusive ==> "},
      kCol14);
}

std::string stiffnessBlock() {
  std::string block =
      indented({"For the age-dependent spline you must", "enter a starting spline stiffness. For",
                "detrending individual series, an initial",
                "value that appears work well is 75 yrs.", "Enter your value, hit <RET> for 75"},
               " ");
  // The arrow stands in column 50 of the last line.
  const std::size_t lineStart = block.rfind('\n') + 1;
  block.append(49 - (block.size() - lineStart), ' ');
  block += "==> ";
  return block;
}

// The answer as a text of 10 characters: cut or blank-padded. A "/" in its
// first position ends the program at once.
std::string readAnswerText(Console& console) {
  std::string text = console.readLine();
  text.resize(kMenuAnswerWidth, ' ');
  if (text[0] == '/') throw Fatal("", false, kMenuStopExitStatus);
  return text;
}

// Reads the answer to a prompt whose empty answer stands for `fallback`: the
// fallback replaces as many leading characters as it has when the answer
// begins with a blank. Nothing when the result is not an integer.
std::optional<int32_t> readDefaultedInteger(Console& console, std::string_view fallback) {
  std::string text = readAnswerText(console);
  if (text[0] == ' ') text.replace(0, fallback.size(), fallback);
  std::string format;
  intfrm(text, format);
  int32_t value = 0;
  if (!readWithIntFormat(text, format, value)) return std::nullopt;
  return value;
}

int32_t askTweeter(Console& console) {
  for (;;) {
    console.write(tweeterBlock());
    const std::optional<int32_t> alpha = readDefaultedInteger(console, kTweeterFallback);
    if (!alpha) continue;
    if (tweeterAdmissible(*alpha)) return *alpha;
    console.writeLine(std::string("\n") + std::string(kCol14) +
                      "Friedman tweeter not in admissible range");
  }
}

int32_t askStiffness(Console& console) {
  for (;;) {
    console.write(stiffnessBlock());
    if (const std::optional<int32_t> stiffness = readDefaultedInteger(console, kStiffnessFallback))
      return *stiffness;
  }
}

bool isPercent(int32_t window) { return window >= -100 && window <= -1; }

}  // namespace

bool tweeterAdmissible(int32_t alpha) { return alpha >= 0 && alpha <= 9; }

bool lowessWindowAdmissible(int32_t window) { return window >= 3 || isPercent(window); }

bool medianWindowAdmissible(int32_t window) {
  return (window >= 3 && window % 2 != 0) || isPercent(window);
}

int32_t rcdrvr(Console& console, DetrendOptions& settings) {
  for (;;) {
    console.write(menuBlock());
    const std::optional<int32_t> code = parseInteger(console.readLine());
    if (!code) continue;
    switch (*code) {
      case -5:
        setTweeter(settings, askTweeter(console));
        return *code;
      case -4: {
        const int32_t window = console.askInteger(windowBlock(
            "enter the lowess window width", "fixed for all series: a positive integer >2"));
        if (!lowessWindowAdmissible(window)) continue;
        setLowessWindow(settings, window);
        return *code;
      }
      case -3: {
        const int32_t window = console.askInteger(windowBlock(
            "enter the median window width", "fixed for all series: a positive odd integer >2"));
        if (!medianWindowAdmissible(window)) continue;
        setMedianWindow(settings, window);
        return *code;
      }
      case -2:
        settings.startStiffness = askStiffness(console);
        return *code;
      default:
        return *code;
    }
  }
}

std::optional<std::string> curveAnswerError(int32_t option, std::string_view answer) {
  const std::string code = std::to_string(option);
  const bool hasQuestion = option >= -5 && option <= -2;
  if (!hasQuestion) {
    if (answer.empty()) return std::nullopt;
    return "option " + code + " asks no question, so it takes no answer";
  }
  const bool needsAnswer = option == -4 || option == -3;
  if (answer.empty()) {
    if (!needsAnswer) return std::nullopt;
    return "option " + code + " needs its window width as the answer";
  }
  const std::optional<int32_t> value = wholeInteger(answer);
  if (!value) return "the answer " + std::string(answer) + " is not a whole number";
  const std::string given = std::to_string(*value);
  switch (option) {
    case -5:
      if (tweeterAdmissible(*value)) return std::nullopt;
      return "the super smoother's alpha " + given + " is not in 0..9";
    case -4:
      if (lowessWindowAdmissible(*value)) return std::nullopt;
      return "the lowess window " + given + " is neither 3 or more nor a percentage -100..-1";
    case -3:
      if (medianWindowAdmissible(*value)) return std::nullopt;
      return "the median window " + given +
             " is neither odd and 3 or more nor a percentage -100..-1";
    default:
      return std::nullopt;  // -2: any starting stiffness, as at the menu
  }
}

void applyCurveAnswer(int32_t option, std::string_view answer, DetrendOptions& settings) {
  switch (option) {
    case -5:
      setTweeter(settings, wholeInteger(answer.empty() ? kTweeterFallback : answer).value());
      break;
    case -4:
      setLowessWindow(settings, wholeInteger(answer).value());
      break;
    case -3:
      setMedianWindow(settings, wholeInteger(answer).value());
      break;
    case -2:
      settings.startStiffness = wholeInteger(answer.empty() ? kStiffnessFallback : answer).value();
      break;
    default:
      break;
  }
}

std::string appliedCurveAnswer(int32_t option, const DetrendOptions& settings) {
  switch (option) {
    case -5:
    case -4:
    case -3:
      return std::to_string(settings.span);
    case -2:
      return std::to_string(settings.startStiffness);
    default:
      return "";
  }
}

void intfrm(std::string& text, std::string& format) {
  std::size_t leading = 0;
  while (leading < text.size() && text[leading] == ' ') ++leading;
  std::size_t nonBlank = 0;
  for (char ch : text) {
    if (ch != ' ') ++nonBlank;
  }
  if (leading > 0) {
    const std::size_t length = text.size();
    text = text.substr(leading, nonBlank);
    text.resize(length, ' ');
  }
  format = "(i" + std::to_string(nonBlank) + ")";
  format.resize(kMenuFormatWidth, ' ');
}

bool readWithIntFormat(std::string_view text, std::string_view format, int32_t& value) {
  // The format is "(iN)" as intfrm builds it.
  if (format.size() < 4 || format.substr(0, 2) != "(i") return false;
  std::size_t width = 0;
  std::size_t pos = 2;
  for (; pos < format.size() && format[pos] >= '0' && format[pos] <= '9'; ++pos) {
    width = width * 10 + static_cast<std::size_t>(format[pos] - '0');
  }
  if (pos >= format.size() || format[pos] != ')' || width == 0) return false;
  return rw::readIntField(text.substr(0, std::min(width, text.size())), value);
}

std::string_view curveDescription(int32_t option) {
  switch (option) {
    case -5:
      return "friedman super smoother";
    case -4:
      return "robust lowess smoother";
    case -3:
      return "median smoothing";
    case -2:
      return "Age-dependent spline smoothing";
    case 1:
    case 2:
      return "neg expon curve f(i) = a*exp(-b*t(i)) + d    (d>0)";
    case 3:
      return "neg expon curve f(i) = a*exp(-b*t(i+p)) + d (any d)";
    case 4:
      return "linear regression (any slope)  f(i) = +/-c*t(i) + d";
    case 5:
      return "linear regression (neg slope)  f(i) = -c*t(i) + d   ";
    case 6:
      return "horizontal line through mean   f(i) = mean(y(i)) = d";
    case 7:
      return "hugershoff growth f(i) = a*t(i+p)**b * exp(-c*t(i+p)) + d";
    case 8:
      return "general exponential (b = 1) f(i) = a*t(i+p)**b * exp(-c*t(i+p)) + d";
    case 9:
      return "cubic smoothing fixed 50 pct variance cutoff";
    default:
      return option <= -10 ? "cubic smoothing spline pct n 50 pct variance cutoff" : "";
  }
}

std::string curveShortName(int32_t option) {
  switch (option) {
    case -5:
      return "Super smoother";
    case -4:
      return "Lowess";
    case -3:
      return "Running median";
    case -2:
      return "Age-dep. spline";
    case -1:
      return "First difference";
    case 1:
    case 2:
      return "Negative Exp.";
    case 3:
      return "Neg. Exp. (any d)";
    case 4:
      return "Linear";
    case 5:
      return "Linear (neg. slope)";
    case 6:
      return "Mean line";
    case 7:
      return "Hugershoff";
    case 8:
      return "General Exp.";
    default:
      break;
  }
  // The cubic smoothing splines: a stiffness in years from 10 up, a
  // percentage of the length from -10 down; the other codes fall back to 67 %.
  if (option >= 10) return "Spline " + std::to_string(option) + " yr";
  if (option <= -10) return "Spline " + std::to_string(-static_cast<int64_t>(option)) + "% n";
  return "Spline 67% n";
}

}  // namespace kavrel
