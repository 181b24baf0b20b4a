// Heidelberg and CSV inputs in whole runs: the same series written as a CSV
// table or a Heidelberg file give the decade file's output files byte for
// byte; bad content ends the run before any result is written; long names
// keep their full form in the run report.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "e2e/run_helper.h"
#include "rwfile/trrw.h"
#include "support/testdata.h"

namespace kavrel::test {
namespace {

using ::testing::HasSubstr;

struct Series {
  std::string id;
  int32_t firstYear = 0;
  std::vector<float> values;
};

std::vector<Series> readDecadeFile(const std::string& path) {
  std::optional<RwInput> in = RwInput::openFile(path);
  std::vector<Series> all;
  int32_t counter = 0;
  for (Series s; in && trrwRead(*in, s.id, s.firstYear, s.values, counter) != kEndOfFile;) {
    s.id.erase(s.id.find_last_not_of(' ') + 1);
    all.push_back(s);
  }
  return all;
}

// As R's write.csv writes a ring-width data frame: quoted names and years, NA.
std::string asCsv(const std::vector<Series>& all) {
  int32_t first = all[0].firstYear, last = first;
  std::string out = "\"\"";
  for (const Series& s : all) {
    out += ",\"" + s.id + '"';
    first = std::min(first, s.firstYear);
    last = std::max(last, s.firstYear + static_cast<int32_t>(s.values.size()) - 1);
  }
  out += '\n';
  char buf[32];
  for (int32_t y = first; y <= last; ++y) {
    out += '"' + std::to_string(y) + '"';
    for (const Series& s : all) {
      const int32_t i = y - s.firstYear;
      if (i < 0 || i >= static_cast<int32_t>(s.values.size())) {
        out += ",NA";
      } else {
        out += ',' + std::string(buf, std::to_chars(buf, buf + sizeof buf, s.values[i]).ptr);
      }
    }
    out += '\n';
  }
  return out;
}

// Hundredths of a millimetre, ten values a line, dated by DateEnd and Length.
std::string asHeidelberg(const std::vector<Series>& all) {
  std::string out;
  for (const Series& s : all) {
    out += "HEADER:\r\nKeyCode=" + s.id + "\r\nDateEnd=" +
           std::to_string(s.firstYear + static_cast<int32_t>(s.values.size()) - 1) +
           "\r\nLength=" + std::to_string(s.values.size()) + "\r\nDATA:Tree\r\n";
    for (std::size_t i = 0; i < s.values.size(); ++i) {
      const std::string v = std::to_string(std::lround(s.values[i] * 100.0f));
      out += std::string(6 - std::min<std::size_t>(6, v.size()), ' ') + v;
      if (i % 10 == 9 || i + 1 == s.values.size()) out += "\r\n";
    }
  }
  return out;
}

RunResult runOn(const std::string& input, const std::vector<std::string>& extra,
                const std::vector<RunInput>& more = {}) {
  std::vector<RunInput> inputs = more;
  inputs.push_back({input, "gp.rwl"});
  RunSetup setup;
  setup.args = {"run", "gp.rwl"};
  setup.args.insert(setup.args.end(), extra.begin(), extra.end());
  return runKavrel("", inputs, 240, setup);
}

TEST(TableInput, CsvAndHeidelbergOfADecadeFileGiveItsFilesByteForByte) {
  REQUIRE_SHARED_DATA(gp, "dplr/gp.rwl");
  REQUIRE_SHARED_DATA(pith, "dplr/gp.pith");
  const std::vector<Series> series = readDecadeFile(gp);
  ASSERT_EQ(series.size(), 58u);
  const std::vector<std::string> args = {"--pith",  "gp.pith", "--pith-format", "(i3)",
                                         "--curve", "2:-2:",   "--curve",       "3:7"};
  const std::vector<RunInput> pithFile = {{pith, "gp.pith"}};
  const RunResult decade = runOn(gp, args, pithFile);
  ASSERT_EQ(decade.exitStatus, 0) << decade.screen << decade.errors;
  const auto expected = filesBelow(decade.folder, {"gp.rwl", "gp.pith", "kavrel_manifest.toml"});
  ASSERT_EQ(expected.size(), 17u);
  // The same name in another folder, so that even the log is the same (the
  // manifest names the input it read, so it differs).
  const std::vector<std::pair<std::string, std::string>> tables = {
      {"csv", writeTempFile("csv.txt", asCsv(series))},
      {"heidelberg", writeTempFile("fh.txt", asHeidelberg(series))}};
  for (const auto& [label, path] : tables) {
    const RunResult run = runOn(path, args, pithFile);
    ASSERT_EQ(run.exitStatus, 0) << label << run.screen << run.errors;
    const auto files = filesBelow(run.folder, {"gp.rwl", "gp.pith", "kavrel_manifest.toml"});
    ASSERT_EQ(files.size(), expected.size()) << label;
    for (const auto& [name, text] : expected) {
      EXPECT_TRUE(files.count(name) == 1 && files.at(name) == text) << label << ": " << name;
    }
    // Forcing the format the content has changes nothing either.
    std::vector<std::string> forced = args;
    forced.insert(forced.end(), {"--format", label});
    const RunResult again = runOn(path, forced, pithFile);
    EXPECT_EQ(filesBelow(again.folder, {"gp.rwl", "gp.pith", "kavrel_manifest.toml"}), files) << label;
  }
}

TEST(TableInput, BadContentEndsTheRunBeforeAnyResult) {
  struct Case {
    std::string text;
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"year,A,B\n1900,1.5,2\n1901,x,3\n", {}, "gp.rwl, line 3, column 2: \"x\" is not a number"},
      {"HEADER:\nKeyCode=A\nDateEnd=1900\nLength=2\nDATA:Tree\n  100 1O0\n",
       {},
       "gp.rwl, line 6, column 7"},
      // A decade file read as CSV because --format says so.
      {"ABC     1900   100   999\n", {"--format", "csv"}, "gp.rwl, line 1, column 1"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--report", "--index", "ratio"});
    const RunResult run = runOn(writeTempFile("bad.txt", c.text), args);
    EXPECT_EQ(run.exitStatus, 1) << c.text;
    EXPECT_THAT(run.screen + run.errors, HasSubstr(c.message));
    const auto files = filesBelow(run.folder, {"gp.rwl"});
    ASSERT_EQ(files.size(), 1u) << c.text;  // the log alone
    EXPECT_EQ(files.begin()->first, "Kavrelv6_log.txt");
  }
}

TEST(TableInput, LongNamesKeepTheirFullFormInTheReport) {
  std::string csv = ",Zofingen_beech_1,Zofingen_beech_2,short\n";
  for (int y = 1900; y < 1960; ++y) {
    csv += std::to_string(y) + ",1.5," + std::to_string(1.0 + (y % 7) * 0.1) + ",0.8\n";
  }
  const RunResult run = runOn(writeTempFile("long.csv", csv), {"--report"});
  ASSERT_EQ(run.exitStatus, 0) << run.screen << run.errors;
  const std::vector<std::string> report = run.fileLines("kavrel_series.csv");
  ASSERT_EQ(report.size(), 4u);
  EXPECT_THAT(report[0], ::testing::EndsWith(",decade_id"));
  EXPECT_THAT(report[1], ::testing::StartsWith("1,Zofingen_beech_1,"));
  EXPECT_THAT(report[1], ::testing::EndsWith(",Zofingen"));
  EXPECT_THAT(report[2], ::testing::EndsWith(",Zofinge1"));
  EXPECT_THAT(report[3], ::testing::EndsWith(",short"));
  // One warning a shortened name, in the log; the decade files hold the short forms.
  const std::string log = run.file("Kavrelv6_log.txt");
  EXPECT_THAT(log, HasSubstr("\"Zofingen_beech_2\" is written as \"Zofinge1\""));
  std::string raw;
  for (const char* f :
       {"shorthighV6_raw", "shortlowV6_raw", "longhighV6_raw", "longlowV6_raw", "medV6_raw"}) {
    raw += run.file(f);
  }
  EXPECT_THAT(raw, HasSubstr("Zofinge1"));
  EXPECT_THAT(raw, ::testing::Not(HasSubstr("Zofingen_")));
}

TEST(TableInput, FormatIsCheckedAndTheFormatReadIsRecorded) {
  const std::string csv = writeTempFile("rec.csv", "year,A\n1900,1\n1901,2\n");
  const RunResult bad = runOn(csv, {"--format", "xml"});
  EXPECT_EQ(bad.exitStatus, 2);
  EXPECT_THAT(bad.errors, HasSubstr("--format: 'xml' is not decade, heidelberg or csv"));
  const RunResult run = runOn(csv, {"--save-recipe", "r.toml"});
  ASSERT_EQ(run.exitStatus, 0) << run.screen << run.errors;
  EXPECT_THAT(run.file("r.toml"), HasSubstr("format = 'csv'"));
}

}  // namespace
}  // namespace kavrel::test
