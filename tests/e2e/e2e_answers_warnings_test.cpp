// Whole runs on small inline files whose answers or data are legal but
// suspicious: the run goes on as before and says what looks wrong, on the
// screen and in the log; data that no candidate fit can take never ends it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/run_helper.h"
#include "rwfile/trrw.h"

namespace kavrel::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// A decade-format file of series starting in 1901 with the given widths (mm).
std::string seriesFile(const std::vector<std::pair<std::string, std::vector<float>>>& series) {
  std::string text;
  for (const auto& [id, values] : series) (void)trrwFormat(text, id, 1901, values);
  return text;
}

std::vector<float> constant(float v, int n) { return std::vector<float>(static_cast<size_t>(n), v); }

// Answers: no pith file unless given, then the four yes/no blocks as
// `screening`, median age, ratios, continue from the plot, no change.
std::string answers(const std::string& pith, const std::string& screening) {
  return "\ninput.rwl\n" + (pith.empty() ? std::string("f\n") : "t\ninput.pith\n" + pith + "\n") +
         "f\n" + screening + "2\n1\nc\nf\n";
}

struct WarningCase {
  std::string name;
  std::string rwl;        // input file text
  std::string pithText;   // pith-offset file text; empty: none
  std::string pithFormat; // read format answer
  std::string screening;  // answers of the outlier, age and first-year blocks
  std::string expected;   // line expected on the screen and in the log
};

TEST(AnswersAndDataWarnings, SuspiciousButLegalInputIsNamedAndTheRunEndsNormally) {
  const std::string two = seriesFile({{"TREE01A", constant(1.2f, 30)}, {"TREE02A", constant(0.8f, 30)}});
  const std::vector<WarningCase> cases = {
      {"pith offsets all zero", two, "  0\n  0\n", "'(i3)'", "f\nf\nf\n",
       "every pith offset read from input.pith is 0; check the read format (i3)"},
      {"outlier limits reversed", two, "", "", "t\n1.0\n5.0\nf\nf\n",
       "the outlier lower limit"},
      {"age band reversed", two, "", "", "f\nt\n50\n10\nf\n", "the age band's lower limit"},
      {"first-year band reversed", two, "", "", "f\nf\nt\n1950\n1900\n",
       "the first-year band's lower limit"},
      {"screening leaves nothing", two, "", "", "f\nt\n1\n2\nf\n",
       "No series is left after screening: every class will be empty."},
      {"every ring missing", seriesFile({{"GONE01", constant(-999.0f, 30)}}), "", "",
       "f\nf\nf\n", "total number of series = 0"},
      // The general exponential can't be fitted to widths that are all 0: such
      // a series takes no part in the default-fit scoring, without a line,
      // beside another series and alone (every score then stays 999.0).
      {"a series of a class all zero",
       seriesFile({{"GOOD01", constant(1.1f, 30)}, {"ZERO01", constant(0.0f, 30)}}), "", "",
       "f\nf\nf\n", "Default Curve fit: Linear"},
      {"every series of a class all zero", seriesFile({{"ZERO02", constant(0.0f, 30)}}), "", "",
       "f\nf\nf\n", "Default Curve fit: Linear"},
  };
  for (const WarningCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<RunInput> inputs = {{writeTempFile("input.rwl", c.rwl), "input.rwl"}};
    if (!c.pithText.empty()) inputs.push_back({writeTempFile("input.pith", c.pithText), "input.pith"});
    const RunResult run = runKavrel(answers(c.pithFormat, c.screening), inputs);
    EXPECT_EQ(run.exitStatus, 0) << run.screen;
    EXPECT_THAT(run.screen, HasSubstr(c.expected));
    EXPECT_THAT(run.file("Kavrelv6_log.txt"), HasSubstr(c.expected));
    EXPECT_THAT(run.screen, HasSubstr("Normal Termination of Program"));
    EXPECT_THAT(run.screen, Not(HasSubstr("sbr gexp")));
    EXPECT_THAT(run.screen, Not(HasSubstr("can't be fitted")));
  }
}

// Ordinary answers give none of these lines.
TEST(AnswersAndDataWarnings, OrdinaryAnswersGiveNoWarning) {
  const std::string rwl =
      seriesFile({{"TREE01A", constant(1.2f, 30)}, {"TREE02A", constant(0.8f, 30)}});
  const RunResult run = runKavrel(answers("'(i3)'", "t\n5.0\n1.0\nt\n10\n50\nt\n1900\n1950\n"),
                                  {{writeTempFile("input.rwl", rwl), "input.rwl"},
                                   {writeTempFile("input.pith", "  3\n  5\n"), "input.pith"}});
  EXPECT_EQ(run.exitStatus, 0) << run.screen;
  EXPECT_THAT(run.file("Kavrelv6_log.txt"), Not(HasSubstr("Warning")));
  EXPECT_THAT(run.screen, Not(HasSubstr("every class will be empty")));
}

}  // namespace
}  // namespace kavrel::test
