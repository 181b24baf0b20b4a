// The curve-fit option menu and the answer-to-format helper.
#include "driver/rcdrvr.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "util/console.h"
#include "util/fatal.h"

namespace kavrel {
namespace {

using ::testing::HasSubstr;

// Count of non-overlapping occurrences of `what` in `text`.
int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos;
       p = text.find(what, p + what.size()))
    ++n;
  return n;
}

// One session of the menu on scripted answers.
struct Session {
  int32_t code = 0;
  DetrendOptions settings;
  std::string screen;
  bool stopped = false;  // Fatal raised
  std::string stopMessage;
  int stopStatus = -1;
};

Session run(const std::string& answers, DetrendOptions start = {}) {
  Session s;
  s.settings = start;
  std::string input = answers;
  std::FILE* in = fmemopen(input.data(), input.size(), "r");
  char* buf = nullptr;
  std::size_t len = 0;
  std::FILE* out = open_memstream(&buf, &len);
  {
    Console console(in, out);
    try {
      s.code = rcdrvr(console, s.settings);
    } catch (const Fatal& e) {
      s.stopped = true;
      s.stopMessage = e.what();
      s.stopStatus = e.exitStatus();
    }
  }
  std::fclose(out);
  std::fclose(in);
  s.screen.assign(buf, len);
  std::free(buf);
  return s;
}

const std::string kPrompt = "\n             enter  option  (x to start over)  ==> ";
const std::string kTweeterLast = "             Enter your value, hit <RET> for 7 ==> ";
const std::string kRange = "\n             Friedman tweeter not in admissible range\n";
const std::string kLowessFirst = "             enter the lowess window width\n";
const std::string kMedianFirst = "             enter the median window width\n";
const std::string kStiffnessFirst = " For the age-dependent spline you must\n";

TEST(Intfrm, MovesTheTextLeftAndCountsItsCharacters) {
  std::string text = "  12      ";
  std::string format;
  intfrm(text, format);
  EXPECT_EQ(text, "12        ");
  EXPECT_EQ(format, "(i2)                ");

  text = "7         ";
  intfrm(text, format);
  EXPECT_EQ(text, "7         ");
  EXPECT_EQ(format.substr(0, 5), "(i1) ");

  // Only as many characters as there are non-blanks are kept after the move.
  text = "  1 2     ";
  intfrm(text, format);
  EXPECT_EQ(text, "1         ");
  EXPECT_EQ(format.substr(0, 4), "(i2)");
  int32_t v = 0;
  ASSERT_TRUE(readWithIntFormat(text, format, v));
  EXPECT_EQ(v, 1);

  text = "1234567890";
  intfrm(text, format);
  EXPECT_EQ(format.substr(0, 5), "(i10)");
  ASSERT_TRUE(readWithIntFormat(text, format, v));
  EXPECT_EQ(v, 1234567890);

  EXPECT_FALSE(readWithIntFormat("7x        ", "(i2)", v));
  EXPECT_TRUE(readWithIntFormat("-3        ", "(i2)", v));
  EXPECT_EQ(v, -3);
}

TEST(Rcdrvr, MenuTextAndCodesWithoutQuestions) {
  // "x" and an empty answer start over; 0, -7, 12 and -12 need no further question.
  Session s = run("x\n\n0\n");
  EXPECT_EQ(s.code, 0);
  EXPECT_EQ(count(s.screen, " Select RCS curve fit options:"), 3);
  EXPECT_EQ(count(s.screen, kPrompt), 3);
  EXPECT_THAT(
      s.screen,
      HasSubstr(
          "\n Select RCS curve fit options:\n\n\n"
          "    -5:  friedman super smoother        lower alpha (0-9) gives more local fit\n"
          "    -4:  robust lowess smoother         integer percent of series length <Not Yet>\n"
          "    -3:  median smoothing               must have odd window length <full length only>\n"
          "    -2:  Age-dependent spline smoothing\n"
          "     1:  neg expon curve, no = opt 4    f(i) = a*exp(-b*t(i)) + d    (d>0)\n"));
  EXPECT_THAT(
      s.screen,
      HasSubstr("     5:  linear regression (neg slope)  f(i) = -c*t(i) + d   \n"
                "     6:  horizontal line through mean   f(i) = mean(y(i)) = d\n"
                "     7:  hugershoff growth function     f(i) = a*t(i+p)**b * exp(-c*t(i+p)) + d\n"
                "     8:  general exponential (b = 1)    f(i) = a*t(i+p)**b * exp(-c*t(i+p)) + d\n"
                "    >9: cubic smoothing spline         fixed 50 pct variance cutoff\n"
                "   <-9: cubic smoothing spline         pct n 50 pct variance cutoff\n" +
                kPrompt));
  // The prompt waits on its own line.
  EXPECT_EQ(s.screen.substr(s.screen.size() - kPrompt.size()), kPrompt);

  const DetrendOptions before;
  for (const char* code : {"-7\n", "12\n", "-12\n", "4\n"}) {
    s = run(code);
    EXPECT_EQ(s.code, std::atoi(code));
    EXPECT_EQ(count(s.screen, kPrompt), 1) << code;
    EXPECT_EQ(s.settings.span, before.span);
    EXPECT_EQ(s.settings.fitParam, before.fitParam);
    EXPECT_EQ(s.settings.startStiffness, before.startStiffness);
  }
}

TEST(Rcdrvr, TweeterDefaultsRangeAndStop) {
  Session s = run("-5\n\n");
  EXPECT_EQ(s.code, -5);
  EXPECT_EQ(s.settings.span, 7);
  EXPECT_EQ(s.settings.fitParam, 7.0f);
  EXPECT_THAT(s.screen, HasSubstr(kPrompt +
                                  "\n             Enter the Friedman tweeter (alpha) 0-9\n"
                                  "             An alpha=7 is suggested to begin with.\n"
                                  "             It imparts moderate flexibility to the\n"
                                  "             super smoother. Alpha=9 is the stiffest\n"
                                  "             and alpha=0 is the most flexible curve.\n" +
                                  kTweeterLast));

  s = run("-5\n9\n");
  EXPECT_EQ(s.settings.span, 9);

  // 10 is out of range; " 5" becomes 75, out of range; "abc" is no integer
  // and asks again without the range message; then 0 is taken.
  s = run("-5\n10\n 5\nabc\n0\n");
  EXPECT_EQ(s.code, -5);
  EXPECT_EQ(s.settings.span, 0);
  EXPECT_EQ(s.settings.fitParam, 0.0f);
  EXPECT_EQ(count(s.screen, kTweeterLast), 4);
  EXPECT_EQ(count(s.screen, kRange), 2);
  EXPECT_EQ(count(s.screen, kPrompt), 1);

  // "/" stops the program at once with a blank message; nothing is changed.
  s = run("-5\n/\n", DetrendOptions{});
  EXPECT_TRUE(s.stopped);
  EXPECT_EQ(s.stopMessage, "");
  EXPECT_EQ(s.stopStatus, kMenuStopExitStatus);
  EXPECT_EQ(s.settings.span, DetrendOptions{}.span);

  // End of input is fatal with the console's message, not a loop.
  s = run("-5\n12\n");
  EXPECT_TRUE(s.stopped);
  EXPECT_EQ(s.stopMessage, kEndOfInputMessage);
}

TEST(Rcdrvr, StiffnessDefaultsAndStop) {
  DetrendOptions start;
  start.span = 5;
  Session s = run("-2\n\n", start);
  EXPECT_EQ(s.code, -2);
  EXPECT_EQ(s.settings.startStiffness, 75);
  EXPECT_EQ(s.settings.span, 5);  // untouched
  const std::size_t arrow = s.screen.rfind("==> ");
  const std::size_t lineStart = s.screen.rfind('\n', arrow) + 1;
  EXPECT_EQ(arrow - lineStart, 49u);  // the arrow stands in column 50
  EXPECT_EQ(s.screen.substr(lineStart, 35), " Enter your value, hit <RET> for 75");
  EXPECT_THAT(s.screen, HasSubstr(kPrompt + "\n" + kStiffnessFirst +
                                  " enter a starting spline stiffness. For\n"
                                  " detrending individual series, an initial\n"
                                  " value that appears work well is 75 yrs.\n"));

  s = run("-2\n 80\n");
  EXPECT_EQ(s.settings.startStiffness, 750);

  // No range check; a non-integer asks again.
  s = run("-2\nten\n-40\n");
  EXPECT_EQ(s.settings.startStiffness, -40);
  EXPECT_EQ(count(s.screen, kStiffnessFirst), 2);

  s = run("-2\n/x\n", start);
  EXPECT_TRUE(s.stopped);
  EXPECT_EQ(s.stopStatus, kMenuStopExitStatus);
  EXPECT_EQ(s.settings.startStiffness, start.startStiffness);
}

TEST(Rcdrvr, LowessAndMedianWindows) {
  // Lowess: 2 goes back to the main menu; -100 is accepted.
  Session s = run("-4\n2\n-4\n-100\n");
  EXPECT_EQ(s.code, -4);
  EXPECT_EQ(s.settings.span, -100);
  EXPECT_EQ(s.settings.fitParam, DetrendOptions{}.fitParam);
  EXPECT_EQ(count(s.screen, kPrompt), 2);
  EXPECT_THAT(s.screen, HasSubstr(kPrompt + "\n" + kLowessFirst +
                                  "             fixed for all series: a positive integer >2\n"
                                  "             and less then the shortest series length, or\n"
                                  "             percent of series length: a negative integer\n"
                                  "             between -1 and -100, inclusive ==> "));

  // 0, 1 and -101 start over; "abc" asks the window question again; 3 is taken.
  s = run("-4\n0\n-4\n1\n-4\n-101\n-4\nabc\n3\n");
  EXPECT_EQ(s.settings.span, 3);
  EXPECT_EQ(count(s.screen, kPrompt), 4);
  EXPECT_EQ(count(s.screen, kLowessFirst), 5);

  // Median: 4 and 0 start over; 5 is taken into span and fitParam.
  s = run("-3\n4\n-3\n0\n-3\n5\n");
  EXPECT_EQ(s.code, -3);
  EXPECT_EQ(s.settings.span, 5);
  EXPECT_EQ(s.settings.fitParam, 5.0f);
  EXPECT_EQ(count(s.screen, kPrompt), 3);
  EXPECT_THAT(
      s.screen,
      HasSubstr(kMedianFirst + "             fixed for all series: a positive odd integer >2\n"));

  // Percent windows: -1 and even -2 are accepted; 1 and -200 start over.
  s = run("-3\n1\n-3\n-200\n-3\nfive\n-1\n");
  EXPECT_EQ(s.settings.span, -1);
  EXPECT_EQ(s.settings.fitParam, -1.0f);
  EXPECT_EQ(count(s.screen, kPrompt), 3);
  EXPECT_EQ(count(s.screen, kMedianFirst), 4);
  s = run("-3\n-2\n");
  EXPECT_EQ(s.settings.span, -2);
}

TEST(Rcdrvr, AnswersGivenWithoutTheMenuSetWhatTheMenuSets) {
  // Each answer the menu accepts, given as a revision's text, changes the
  // settings exactly as typing it at the menu does.
  struct Case {
    int32_t option;
    const char* answer;
    const char* typed;  // the same choice at the menu
  };
  const Case cases[] = {
      {-5, "", "-5\n\n"},       {-5, "9", "-5\n9\n"},
      {-5, "0", "-5\n0\n"},     {-4, "-100", "-4\n-100\n"},
      {-4, "3", "-4\n3\n"},     {-3, "5", "-3\n5\n"},
      {-3, "-2", "-3\n-2\n"},   {-2, "", "-2\n\n"},
      {-2, "-40", "-2\n-40\n"}, {-2, "75", "-2\n 5\n"},
      {4, "", "4\n"},          {-12, "", "-12\n"},
  };
  DetrendOptions start;
  start.span = 11;
  start.fitParam = 2.385f;
  start.startStiffness = 33;
  for (const Case& c : cases) {
    EXPECT_EQ(curveAnswerError(c.option, c.answer), std::nullopt) << c.option << ":" << c.answer;
    const Session menu = run(c.typed, start);
    ASSERT_EQ(menu.code, c.option);
    DetrendOptions given = start;
    applyCurveAnswer(c.option, c.answer, given);
    EXPECT_EQ(given.span, menu.settings.span) << c.option << ":" << c.answer;
    EXPECT_EQ(given.fitParam, menu.settings.fitParam) << c.option << ":" << c.answer;
    EXPECT_EQ(given.startStiffness, menu.settings.startStiffness) << c.option << ":" << c.answer;
    EXPECT_EQ(given.option, start.option);
    // The answer recorded for the menu's choice sets the same again.
    const std::string recorded = appliedCurveAnswer(c.option, menu.settings);
    EXPECT_EQ(curveAnswerError(c.option, recorded), std::nullopt) << c.option << ":" << recorded;
    DetrendOptions replayed = start;
    applyCurveAnswer(c.option, recorded, replayed);
    EXPECT_EQ(replayed.span, menu.settings.span) << c.option << ":" << recorded;
    EXPECT_EQ(replayed.fitParam, menu.settings.fitParam) << c.option << ":" << recorded;
    EXPECT_EQ(replayed.startStiffness, menu.settings.startStiffness) << c.option << ":" << recorded;
  }
  EXPECT_EQ(appliedCurveAnswer(-2, run("-2\n 5\n").settings), "75");
  // What the menu refuses or asks again for is refused.
  const std::pair<int32_t, const char*> refused[] = {
      {-5, "10"}, {-5, "-1"}, {-5, "x"}, {-4, ""},    {-4, "2"}, {-4, "-101"},
      {-3, ""},   {-3, "4"},  {-3, "1"}, {-2, "7.5"}, {4, "7"},  {0, "1"},
  };
  for (const auto& [option, answer] : refused)
    EXPECT_NE(curveAnswerError(option, answer), std::nullopt) << option << ":" << answer;
}

TEST(Rcdrvr, CurveDescriptions) {
  EXPECT_EQ(curveDescription(4), "linear regression (any slope)  f(i) = +/-c*t(i) + d");
  EXPECT_EQ(curveDescription(1), curveDescription(2));
  EXPECT_EQ(curveDescription(5), "linear regression (neg slope)  f(i) = -c*t(i) + d   ");
  EXPECT_EQ(curveDescription(9), "cubic smoothing fixed 50 pct variance cutoff");
  EXPECT_EQ(curveDescription(-10), "cubic smoothing spline pct n 50 pct variance cutoff");
  EXPECT_EQ(curveDescription(-12), curveDescription(-10));
  EXPECT_EQ(curveDescription(-5), "friedman super smoother");
  EXPECT_EQ(curveDescription(-2), "Age-dependent spline smoothing");
  for (int32_t none : {0, -1, -6, -7, -8, -9, 10, 12})
    EXPECT_EQ(curveDescription(none), "") << none;

  // Short names for page notes: one per family; splines name their stiffness.
  const std::pair<int32_t, const char*> names[] = {
      {-5, "Super smoother"},    {-4, "Lowess"},        {-3, "Running median"},
      {-2, "Age-dep. spline"},   {-1, "First difference"}, {1, "Negative Exp."},
      {2, "Negative Exp."},      {4, "Linear"},         {6, "Mean line"},
      {7, "Hugershoff"},         {8, "General Exp."},   {30, "Spline 30 yr"},
      {-50, "Spline 50% n"},     {9, "Spline 67% n"},   {0, "Spline 67% n"},
      {-7, "Spline 67% n"},      {-2147483647, "Spline 2147483647% n"},
  };
  for (const auto& [option, name] : names) EXPECT_EQ(curveShortName(option), name) << option;
}

}  // namespace
}  // namespace kavrel
