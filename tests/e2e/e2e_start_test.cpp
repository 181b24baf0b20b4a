// Whole runs of kavrel up to and through the Loading table: the dialogue on
// the screen, the run log's lines in order, screening and pith offsets, and
// the Loading rows against statistics computed here from the input files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/run_helper.h"
#include "support/testdata.h"

namespace kavrel::test {
namespace {

using ::testing::HasSubstr;

// Answers to the run-options dialogue.
struct Answers {
  std::string input;
  std::string pithFile;    // empty: no pith-offset file
  std::string pithFormat;  // typed with its quotes
  bool power = false;
  std::optional<std::pair<std::string, std::string>> outliers;  // upper, lower
  std::optional<std::pair<int, int>> ageBand;
  std::optional<std::pair<int, int>> years;
  int meanOrMedian = 2;
  int indexMode = 0;
  int pauses = 0;  // Returns for pauses after the dialogue (the offset-count warning)
};

// Answers the run needs after the Loading table to end normally: continue
// from the plot options menu, then decline to change a curve.
const char* const kAfterLoading = "c\nf\n";

std::string script(const Answers& a) {
  std::string s = "\n" + a.input + "\n";
  if (a.pithFile.empty()) {
    s += "f\n";
  } else {
    s += "t\n" + a.pithFile + "\n" + a.pithFormat + "\n";
  }
  s += a.power ? "t\n" : "f\n";
  if (a.outliers) {
    s += "t\n" + a.outliers->first + "\n" + a.outliers->second + "\n";
  } else {
    s += "f\n";
  }
  if (a.ageBand) {
    s += "t\n" + std::to_string(a.ageBand->first) + "\n" + std::to_string(a.ageBand->second) + "\n";
  } else {
    s += "f\n";
  }
  if (a.years) {
    s += "t\n" + std::to_string(a.years->first) + "\n" + std::to_string(a.years->second) + "\n";
  } else {
    s += "f\n";
  }
  s += std::to_string(a.meanOrMedian) + "\n" + std::to_string(a.indexMode) + "\n";
  s += std::string(static_cast<size_t>(a.pauses), '\n');
  return s + kAfterLoading;
}

// One series as read here, independently of the program's reader: decade
// lines of a file without header, identifier in columns 1-8, year in 9-12,
// 6-column values; 999 ends a series in hundredths, -9999 in thousandths;
// negative values are missing rings.
struct Series {
  std::string id;
  int firstYear = 0;
  std::vector<double> values;  // mm; NAN for a missing ring
};

std::vector<Series> readDecadeFile(const std::string& path) {
  std::ifstream in(path);
  std::vector<Series> out;
  std::vector<int> raw;
  std::string line;
  Series cur;
  bool open = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(' ') == std::string::npos) continue;
    if (!open) {
      cur = Series();
      cur.id = line.substr(0, 8);
      cur.firstYear = std::stoi(line.substr(8, 4));
      raw.clear();
      open = true;
    }
    for (size_t c = 12; c + 6 <= line.size() || c < line.size(); c += 6) {
      const std::string field = line.substr(c, 6);
      if (field.find_first_not_of(' ') == std::string::npos) continue;
      const int v = std::stoi(field);
      if (v == 999 || v == -9999) {
        const double unit = v == 999 ? 0.01 : 0.001;
        for (int r : raw) cur.values.push_back(r < 0 ? NAN : r * unit);
        out.push_back(cur);
        open = false;
        break;
      }
      raw.push_back(v);
    }
  }
  return out;
}

std::vector<int> readOffsets(const std::string& path, size_t column = 0) {
  std::ifstream in(path);
  std::vector<int> out;
  std::string line;
  while (std::getline(in, line)) out.push_back(std::atoi(line.substr(column).c_str()));
  return out;
}

// Expected Loading statistics: min, max, median, upper hinge, lower hinge
// (Tukey's hinges: medians of the halves, the middle value in both when the
// count is odd).
std::vector<double> fiveNumbers(const std::vector<double>& values) {
  std::vector<double> x;
  for (double v : values) {
    if (!std::isnan(v)) x.push_back(v);
  }
  if (x.empty()) return {-999, -999, -999, -999, -999};
  std::sort(x.begin(), x.end());
  auto median = [](const std::vector<double>& s, size_t from, size_t n) {
    return n % 2 ? s[from + n / 2] : 0.5 * (s[from + n / 2 - 1] + s[from + n / 2]);
  };
  const size_t n = x.size();
  const size_t h = (n + 1) / 2;
  return {x.front(), x.back(), median(x, 0, n), median(x, n - h, h), median(x, 0, h)};
}

// One row of the Loading table as printed.
struct Row {
  int rec = 0;
  std::string id;
  int fyr = 0, lyr = 0, age = 0, poff = 0;
  std::vector<double> stats;  // min, max, median, upper hinge, lower hinge
};

// The Loading rows of a screen or log text.
std::vector<Row> loadingRows(const std::string& text) {
  std::vector<Row> rows;
  const std::vector<std::string> lines = splitLines(text);
  auto title = std::find_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind(" Rec#\t", 0) == 0; });
  if (title == lines.end()) return rows;
  const std::string sep = "\t       ";
  for (auto it = title + 1; it != lines.end() && it->find(sep) != std::string::npos; ++it) {
    std::vector<std::string> f;
    size_t pos = 0;
    for (;;) {
      size_t next = it->find(sep, pos);
      f.push_back(it->substr(pos, next == std::string::npos ? std::string::npos : next - pos));
      if (next == std::string::npos) break;
      pos = next + sep.size();
    }
    if (f.size() != 11) break;
    Row r;
    r.rec = std::stoi(f[0]);
    r.id = f[1];
    r.fyr = std::stoi(f[2]);
    r.lyr = std::stoi(f[3]);
    r.age = std::stoi(f[4]);
    for (int i = 5; i < 10; ++i) r.stats.push_back(std::stod(f[static_cast<size_t>(i)]));
    r.poff = std::stoi(f[10]);
    rows.push_back(r);
  }
  return rows;
}

// Checks the rows against the accepted series and their pith offsets.
void expectRows(const std::vector<Row>& rows, const std::vector<Series>& accepted,
                const std::vector<int>& offsets) {
  ASSERT_EQ(rows.size(), accepted.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const Series& s = accepted[i];
    const Row& r = rows[i];
    SCOPED_TRACE("row " + std::to_string(i + 1) + " " + s.id);
    EXPECT_EQ(r.rec, static_cast<int>(i + 1));
    EXPECT_EQ(r.id, s.id.substr(0, 8) + std::string(8 - std::min<size_t>(8, s.id.size()), ' '));
    EXPECT_EQ(r.fyr, s.firstYear);
    EXPECT_EQ(r.age, static_cast<int>(s.values.size()));
    EXPECT_EQ(r.lyr, s.firstYear + static_cast<int>(s.values.size()) - 1);
    EXPECT_EQ(r.poff, offsets.empty() ? 0 : offsets[i]);
    const std::vector<double> want = fiveNumbers(s.values);
    for (size_t j = 0; j < 5; ++j) EXPECT_NEAR(r.stats[j], want[j], 0.0011) << "stat " << j;
  }
}

// The question blocks as the screen shows them.
const char* const kQ1 = "\n Enter input file of tree-ring measurements :> ";
const char* const kQ3 = "\n Apply Power Transformation [t]rue or [f]alse :> ";
const char* const kQ4 =
    "\n Remove outliers ?\n  Skip records with values greater than some lower limit\n"
    "  less than some upper limit\n  [t]rue or [f]alse :> ";
const char* const kQ5 =
    "\n Restrict Age band?\n  Confine analysis to include only those records with\n"
    "  more than x and less then y values\n  [t]rue or [f]alse :> ";
const char* const kQ6 =
    "\n Restrict Chronology length?\n  Confine analysis to only those records with an initial "
    "year.\n  greater than x and less than y.\n  [t]rue or [f]alse :> ";
const char* const kQ7 =
    "\n Use Mean or Median\n  values for defining age classes?\n  [1] Mean or [2] Median  :> ";
const char* const kQ8 = "\n Compute indices? \n  [0] No \n  [1] As Ratios \n  [2] As Residuals :> ";

size_t countOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
  return n;
}

// The log lines before the Loading table.
std::vector<std::string> logHead(const RunResult& r) {
  std::vector<std::string> head;
  for (const std::string& l : r.fileLines("Kavrelv6_log.txt")) {
    if (l.rfind(" Loading ", 0) == 0) break;
    head.push_back(l);
  }
  return head;
}

void expectNormalEnd(const RunResult& r) {
  EXPECT_EQ(r.exitStatus, 0) << r.screen.substr(r.screen.size() > 3000 ? r.screen.size() - 3000
                                                                       : 0);
  // "(/)" before and after: two empty records each.
  const std::string end = ":> \n\n *************************************\n"
                          " Normal Termination of Program\n"
                          " *************************************\n\n\n";
  EXPECT_EQ(r.screen.substr(r.screen.size() - std::min(r.screen.size(), end.size())), end);
  EXPECT_THAT(r.file("Kavrelv6_log.txt"), ::testing::Not(HasSubstr("Normal Termination")));
}

TEST(E2eStart, GpWithPithOffsetsShowsEveryQuestionAndLogsInOrder) {
  REQUIRE_SHARED_DATA(rwl, "dplr/gp.rwl");
  REQUIRE_SHARED_DATA(pith, "dplr/gp.pith");
  Answers a;
  a.input = "gp.rwl";
  a.pithFile = "gp.pith";
  a.pithFormat = "'(i3)'";
  a.indexMode = 1;
  RunResult r = runKavrel(script(a), {{rwl, "gp.rwl"}, {pith, "gp.pith"}});
  expectNormalEnd(r);

  // The banner, the pause and every question block in order.
  const std::vector<std::string> blocks = {
      "\nProgram kavrel attempts to separate raw ring width series by\n",
      "The program produces 17 output files.\n",
      "  18.KavrelV6.ps (GMT version only) > A Postscript graphic file of results.\n\n",
      " Hit RETURN to Continue\n",
      kQ1,
      "\n Is there a Pith Offset file to accompany these data?\n"
      "  This is a column file of pith offset estimates where the\n"
      "  row number corresponds directly with the sequence order of\n"
      "  the series in file: gp.rwl\n\n  Enter t[rue] or f[alse] :> ",
      "\n  Enter Pith Offset file name :> ",
      "\n  Enter FORTRAN read format (within single quotes)\n"
      "  Examples: '(i3)' or '(50x,i3)'  :> ",
      "\n  Number of offsets read =   58\n",
      kQ3,
      kQ4,
      kQ5,
      kQ6,
      kQ7,
      kQ8,
      "\n Loading " + std::string(98, '_') + "\n",
      " Rec#\t       ID \t               FYR\t        LYR\t        AGE\t         Min  \t"
      "         Max  \t         Xmed \t         Hh   \t         Hl   \t         Poff\n"};
  size_t pos = 0;
  for (const std::string& b : blocks) {
    const size_t at = r.screen.find(b, pos);
    ASSERT_NE(at, std::string::npos) << "missing or out of order: " << b;
    pos = at + b.size();
  }

  EXPECT_EQ(
      logHead(r),
      (std::vector<std::string>{
          " input file = gp.rwl", " pith offset file = gp.pith", " Number of offsets read = 58",
          " Power Transformation = F", " Remove Outliers = F", " Restrict Age band = F",
          " Restrict Chronology length = F", " Using file Median Age", " Compute Ratios", ""}));

  const std::vector<Series> series = readDecadeFile(rwl);
  ASSERT_EQ(series.size(), 58u);
  const std::vector<int> offsets = readOffsets(pith);
  expectRows(loadingRows(r.screen), series, offsets);
  // The log holds the same table.
  expectRows(loadingRows(r.file("Kavrelv6_log.txt")), series, offsets);
  EXPECT_TRUE(r.exists("KavrelV6indx.raw.txt"));
}

TEST(E2eStart, ZofAgeBandDropsRecordsAndKeepsOffsetsPaired) {
  REQUIRE_SHARED_DATA(rwl, "dplr/zof.rwl");
  REQUIRE_SHARED_DATA(pith, "dplr/zof.pith");
  Answers a;
  a.input = "zof.rwl";
  a.pithFile = "zof.pith";
  a.pithFormat = "'(i3)'";
  a.ageBand = std::make_pair(50, 130);
  a.meanOrMedian = 1;
  RunResult r = runKavrel(script(a), {{rwl, "zof.rwl"}, {pith, "zof.pith"}});
  expectNormalEnd(r);

  const std::vector<Series> all = readDecadeFile(rwl);
  const std::vector<int> allOffsets = readOffsets(pith);
  ASSERT_EQ(all.size(), allOffsets.size());
  std::vector<Series> kept;
  std::vector<int> keptOffsets;
  std::vector<std::string> skipLines;
  for (size_t i = 0; i < all.size(); ++i) {
    const int n = static_cast<int>(all[i].values.size());
    if (n < 50 || n > 130) {
      std::string id = all[i].id;
      id.resize(8, ' ');
      skipLines.push_back(" " + std::to_string(skipLines.size() + 1) + " Skip Age Band " + id +
                          " " + std::to_string(n));
    } else {
      kept.push_back(all[i]);
      keptOffsets.push_back(allOffsets[i]);
    }
  }
  ASSERT_FALSE(skipLines.empty());
  ASSERT_FALSE(kept.empty());
  for (const std::string& l : skipLines) EXPECT_THAT(r.screen, HasSubstr(l + "\n"));
  std::vector<std::string> head = logHead(r);
  EXPECT_EQ(std::vector<std::string>(head.begin(), head.begin() + 11),
            (std::vector<std::string>{
                " input file = zof.rwl", " pith offset file = zof.pith",
                " Number of offsets read = 61", " Power Transformation = F", " Remove Outliers = F",
                " Restrict Age band = T", " Lower limit = 50", " Upper limit = 130",
                " Restrict Chronology length = F", " Using file Mean Age ", " No detrending"}));
  EXPECT_EQ(std::vector<std::string>(head.begin() + 11, head.end() - 1), skipLines);
  EXPECT_THAT(r.screen, ::testing::Not(HasSubstr("WARNING")));
  expectRows(loadingRows(r.screen), kept, keptOffsets);
  EXPECT_FALSE(r.exists("KavrelV6indx.raw.txt"));
}

TEST(E2eStart, Ca533OutlierScreeningReportsTheFirstHighValue) {
  REQUIRE_SHARED_DATA(rwl, "itrdb/ca533.rwl");
  Answers a;
  a.input = "ca533.rwl";
  a.outliers = std::make_pair(std::string("2.0"), std::string("0.05"));
  a.indexMode = 2;
  RunResult r = runKavrel(script(a), {{rwl, "ca533.rwl"}});
  expectNormalEnd(r);

  std::vector<Series> kept;
  std::vector<std::pair<std::string, double>> skipped;
  for (const Series& s : readDecadeFile(rwl)) {
    auto high = std::find_if(s.values.begin(), s.values.end(),
                             [](double v) { return !std::isnan(v) && v > 2.0 + 1e-9; });
    if (high == s.values.end()) {
      kept.push_back(s);
    } else {
      skipped.emplace_back(s.id, *high);
    }
  }
  ASSERT_FALSE(skipped.empty());
  ASSERT_FALSE(kept.empty());
  // " k Skip HIGH Value <id> <value>", the value in free format.
  const std::vector<std::string> lines = r.screenLines();
  size_t found = 0;
  for (std::string l : lines) {
    // The first skip line follows the last prompt, which ends without a newline.
    const size_t prompt = l.rfind(":> ");
    if (prompt != std::string::npos) l = l.substr(prompt + 3);
    const size_t at = l.find(" Skip HIGH Value ");
    if (at == std::string::npos) continue;
    ASSERT_LT(found, skipped.size());
    std::string id = skipped[found].first;
    id.resize(8, ' ');
    EXPECT_EQ(l.substr(0, at + 17 + 8), " " + std::to_string(found + 1) + " Skip HIGH Value " + id);
    EXPECT_NEAR(std::stod(l.substr(at + 17 + 8)), skipped[found].second, 1e-4) << l;
    ++found;
  }
  EXPECT_EQ(found, skipped.size());
  EXPECT_EQ(countOf(r.file("Kavrelv6_log.txt"), " Skip HIGH Value "), skipped.size());
  const std::vector<std::string> head = logHead(r);
  EXPECT_EQ(std::vector<std::string>(head.begin(), head.begin() + 4),
            (std::vector<std::string>{" input file = ca533.rwl", " Power Transformation = F",
                                      " Remove Outliers = T", " Lower limit = 0.05"}));
  EXPECT_EQ(head[4], " Upper limit = 2.0");
  EXPECT_EQ(head[8], " Compute Residuals");
  expectRows(loadingRows(r.screen), kept, {});
}

TEST(E2eStart, Co021FirstYearBandAndDecliningEveryOption) {
  REQUIRE_SHARED_DATA(rwl, "itrdb/co021.rwl");
  Answers a;
  a.input = "co021.rwl";
  a.years = std::make_pair(1200, 1400);
  RunResult r = runKavrel(script(a), {{rwl, "co021.rwl"}});
  expectNormalEnd(r);
  std::vector<Series> kept;
  size_t skipped = 0;
  for (const Series& s : readDecadeFile(rwl)) {
    if (s.firstYear < 1200 || s.firstYear > 1400) {
      ++skipped;
      std::string id = s.id;
      id.resize(8, ' ');
      EXPECT_THAT(r.screen, HasSubstr(" " + std::to_string(skipped) + " Skip Crn Length " + id +
                                      " " + std::to_string(s.firstYear) + "\n"));
    } else {
      kept.push_back(s);
    }
  }
  ASSERT_GT(skipped, 0u);
  expectRows(loadingRows(r.screen), kept, {});

  // Declining every option: the log holds the answers in order, then the table.
  a.years.reset();
  RunResult all = runKavrel(script(a), {{rwl, "co021.rwl"}});
  expectNormalEnd(all);
  EXPECT_EQ(logHead(all),
            (std::vector<std::string>{" input file = co021.rwl", " Power Transformation = F",
                                      " Remove Outliers = F", " Restrict Age band = F",
                                      " Restrict Chronology length = F", " Using file Median Age",
                                      " No detrending", ""}));
  expectRows(loadingRows(all.file("Kavrelv6_log.txt")), readDecadeFile(rwl), {});
}

TEST(E2eStart, FilesWithHeadersCrlfAndMissingRings) {
  // th001: ITRDB header, CRLF, one negative ring (a missing value);
  // wa082: header, one -999 inside a series.
  for (const auto& [name, count] : {std::pair<std::string, size_t>{"th001.rwl", 77},
                                    std::pair<std::string, size_t>{"wa082.rwl", 23}}) {
    REQUIRE_SHARED_DATA(rwl, "itrdb/" + name);
    Answers a;
    a.input = name;
    RunResult r = runKavrel(script(a), {{rwl, name}});
    SCOPED_TRACE(name);
    expectNormalEnd(r);
    const std::vector<Row> rows = loadingRows(r.screen);
    EXPECT_EQ(rows.size(), count);
    for (const Row& row : rows) {
      EXPECT_GE(row.stats[0], 0.0) << row.id;  // missing rings are left out of the minimum
      EXPECT_LE(row.stats[0], row.stats[4]);
      EXPECT_LE(row.stats[4], row.stats[2]);
      EXPECT_LE(row.stats[2], row.stats[3]);
      EXPECT_LE(row.stats[3], row.stats[1]);
    }
    EXPECT_EQ(r.screen.find("***\t"), std::string::npos);
  }
}

TEST(E2eStart, PowerTransformationKeepsEachSeriesRange) {
  REQUIRE_SHARED_DATA(rwl, "dplr/gp.rwl");
  Answers a;
  a.input = "gp.rwl";
  a.power = true;
  RunResult r = runKavrel(script(a), {{rwl, "gp.rwl"}});
  expectNormalEnd(r);
  const std::vector<Series> series = readDecadeFile(rwl);
  const std::vector<Row> rows = loadingRows(r.screen);
  ASSERT_EQ(rows.size(), series.size());
  size_t changedMedians = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    // The transformed series is rescaled to its range after zero widths
    // became 0.001.
    std::vector<double> v = series[i].values;
    for (double& x : v) {
      if (x == 0.0) x = 0.001;
    }
    const std::vector<double> want = fiveNumbers(v);
    EXPECT_NEAR(rows[i].stats[0], want[0], 0.0011) << series[i].id;
    EXPECT_NEAR(rows[i].stats[1], want[1], 0.0011) << series[i].id;
    if (std::fabs(rows[i].stats[2] - want[2]) > 0.002) ++changedMedians;
  }
  EXPECT_GT(changedMedians, rows.size() / 2);
  EXPECT_EQ(logHead(r)[1], " Power Transformation = T");
}

TEST(E2eStart, ExampleDataWithColumnPithFile) {
  const std::string rwl = sourceDir() + "/examples/kavrel_example.rwl";
  const std::string pith = sourceDir() + "/examples/kavrel_example.pith";
  Answers a;
  a.input = "kavrel_example.rwl";
  a.pithFile = "kavrel_example.pith";
  a.pithFormat = "'(10x,i3)'";
  a.indexMode = 1;
  RunResult r = runKavrel(script(a), {{rwl, "kavrel_example.rwl"}, {pith, "kavrel_example.pith"}});
  expectNormalEnd(r);
  const std::vector<Series> series = readDecadeFile(rwl);
  EXPECT_GE(series.size(), 30u);
  expectRows(loadingRows(r.screen), series, readOffsets(pith, 10));
  EXPECT_THAT(r.screen, HasSubstr("Number of offsets read = " + std::string(2, ' ') +
                                  std::to_string(series.size())));
}

TEST(E2eStart, ExampleDataWithEveryScreeningOptionInOrder) {
  const std::string rwl = sourceDir() + "/examples/kavrel_example.rwl";
  Answers a;
  a.input = "kavrel_example.rwl";
  a.outliers = std::make_pair(std::string("4.0"), std::string("0.2"));
  a.ageBand = std::make_pair(60, 300);
  a.years = std::make_pair(1700, 1950);
  a.power = true;
  RunResult r = runKavrel(script(a), {{rwl, "kavrel_example.rwl"}});
  expectNormalEnd(r);
  // Each dropped record gets the message of the first test it fails.
  std::vector<std::string> want;
  size_t kept = 0;
  for (const Series& s : readDecadeFile(rwl)) {
    std::string id = s.id;
    id.resize(8, ' ');
    std::string k = " ";
    k += std::to_string(want.size() + 1);
    const int n = static_cast<int>(s.values.size());
    auto high = std::find_if(s.values.begin(), s.values.end(), [](double v) { return v > 4.0; });
    if (high != s.values.end()) {
      want.push_back(k + " Skip HIGH Value " + id);
    } else if (n < 60 || n > 300) {
      want.push_back(k + " Skip Age Band " + id + " " + std::to_string(n));
    } else if (s.firstYear < 1700 || s.firstYear > 1950) {
      want.push_back(k + " Skip Crn Length " + id + " " + std::to_string(s.firstYear));
    } else {
      ++kept;
    }
  }
  std::vector<std::string> got;
  for (const std::string& l : r.fileLines("Kavrelv6_log.txt")) {
    if (l.find(" Skip ") == std::string::npos) continue;
    got.push_back(l.find("HIGH") != std::string::npos ? l.substr(0, l.find("HIGH") + 15) : l);
  }
  for (std::string& w : want) {
    if (w.find("HIGH") != std::string::npos) w = w.substr(0, w.find("HIGH") + 15);
  }
  EXPECT_EQ(got, want);
  EXPECT_GT(kept, 0u);
  for (const char* label : {"HIGH Value", "Age Band", "Crn Length"}) {
    EXPECT_GT(countOf(r.screen, label), 0u) << label;
  }
  EXPECT_EQ(loadingRows(r.screen).size(), kept);
}

TEST(E2eStart, OffsetCountMismatchWarnsAndRunsWithoutOffsets) {
  REQUIRE_SHARED_DATA(rwl, "dplr/gp.rwl");
  REQUIRE_SHARED_DATA(pith, "dplr/gp.pith");
  const std::vector<int> offsets = readOffsets(pith);
  std::string fewer, more;
  for (size_t i = 0; i + 1 < offsets.size(); ++i) fewer += std::to_string(offsets[i]) + "\n";
  for (int o : offsets) more += std::to_string(o) + "\n";
  more += "12\n";
  // More than 10000 records: only the first 10000 are read, and the count
  // widens its 4-digit field.
  std::string many;
  for (int i = 0; i < 10005; ++i) many += "  3\n";
  const std::vector<std::pair<std::string, int>> cases = {{writeTempFile("fewer.pith", fewer), 57},
                                                          {writeTempFile("more.pith", more), 59},
                                                          {writeTempFile("empty.pith", ""), 0},
                                                          {writeTempFile("many.pith", many), 10000}};
  for (const auto& [file, count] : cases) {
    SCOPED_TRACE(file);
    Answers a;
    a.input = "gp.rwl";
    a.pithFile = "offsets.txt";
    a.pithFormat = "'(i3)'";
    a.pauses = 1;
    RunResult r = runKavrel(script(a), {{rwl, "gp.rwl"}, {file, "offsets.txt"}});
    expectNormalEnd(r);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%4d", count);
    EXPECT_THAT(r.screen, HasSubstr(std::string("\n  Number of offsets read = ") + buf + "\n"));
    EXPECT_THAT(r.screen, HasSubstr("\n  *************** WARNING **************** \n"
                                    "  The number of series measurements read >>>>>   58\n"
                                    "  Does NOT equal number of pith ofsets read >> " +
                                    std::string(buf) +
                                    "\n  Program continuing without offset information\n"
                                    " Hit Return to Continue\n"));
    const std::string log = r.file("Kavrelv6_log.txt");
    EXPECT_THAT(log, HasSubstr(" Number of offsets read = " + std::to_string(count) + "\n"));
    EXPECT_THAT(log,
                HasSubstr(" *************** WARNING **************** \n"
                          " The number of series measurements read >>>>>   58\n"
                          " Does NOT equal number of pith ofsets read >> " +
                          std::string(buf) + "\n Program continuing without offset information\n"));
    expectRows(loadingRows(r.screen), readDecadeFile(rwl), {});
  }
}

TEST(E2eStart, UnreadableAnswersRepeatTheirBlock) {
  REQUIRE_SHARED_DATA(rwl, "dplr/zof.rwl");
  // Text: an empty line; logical: "maybe"; real: "x"; integers: "abc" and
  // "1.5"; question 8: 5, then Return, then 0.
  const std::string in = std::string("\n") + "\n" + "zof.rwl\n" + "maybe\nf\n" + "f\n" +
                         "t\nx\n3.5\n0.1\n" + "t\nabc\n20\n200\n" + "f\n" + "1.5\n2\n" +
                         "5\n\n0\n" + kAfterLoading;
  RunResult r = runKavrel(in, {{rwl, "zof.rwl"}});
  expectNormalEnd(r);
  EXPECT_EQ(countOf(r.screen, kQ1), 2u);
  EXPECT_EQ(countOf(r.screen, "Is there a Pith Offset file"), 2u);
  EXPECT_EQ(countOf(r.screen, "  Enter upper limit (as a real number) :> "), 2u);
  EXPECT_EQ(countOf(r.screen, "  Enter lower Age limit (as an integer) :> "), 2u);
  EXPECT_EQ(countOf(r.screen, kQ7), 2u);
  EXPECT_EQ(countOf(r.screen, kQ8), 2u);
  EXPECT_THAT(r.screen, HasSubstr("\n Enter a value between 0 and 2\n hit return to contunue\n"));
  std::vector<std::string> head = logHead(r);
  head.resize(std::min<size_t>(head.size(), 11));
  EXPECT_EQ(head, (std::vector<std::string>{
                      " input file = zof.rwl", " Power Transformation = F", " Remove Outliers = T",
                      " Lower limit = 0.1", " Upper limit = 3.5", " Restrict Age band = T",
                      " Lower limit = 20", " Upper limit = 200", " Restrict Chronology length = F",
                      " Using file Median Age", " No detrending"}));
}

TEST(E2eStart, BadFilesAndEndOfInputEndTheRunWithAMessage) {
  REQUIRE_SHARED_DATA(rwl, "dplr/gp.rwl");
  struct Case {
    std::string name;
    std::string input;
    std::vector<RunInput> files;
    std::vector<std::string> screen;  // texts the screen must hold
  };
  const std::string letters = writeTempFile("letters.pith", "12\n 7\nab\n");
  // The combined index file of an earlier run, which a failed run must keep.
  const std::string earlier = writeTempFile("earlier_combined.txt", "EARLIER RUN\n");
  const std::string empty = writeTempFile("empty.rwl", "");
  const std::vector<Case> cases = {
      {"input without series, ratios asked",
       "\nempty.rwl\nf\nf\nf\nf\nf\n2\n1\n",
       {{earlier, "KavrelV6indx.raw.txt"}, {empty, "empty.rwl"}},
       {"No tree-ring series can be read from the input file empty.rwl"}},
      {"missing pith file",
       "\ngp.rwl\nt\nnosuch.pith\n'(i3)'\n",
       {{rwl, "gp.rwl"}},
       {" the file nosuch.pith does not exist; enter another name.", "End of input"}},
      {"unsupported format",
       "\ngp.rwl\nt\np.pith\n'(f5.2)'\n",
       {{rwl, "gp.rwl"}, {letters, "p.pith"}},
       {"\n There was an error reading the pith offset information\n", "(f5.2) is not supported",
        " Check the format entered and try again. Program Terminating.\n"}},
      {"letters in the pith file",
       "\ngp.rwl\nt\np.pith\n'(i3)'\n",
       {{rwl, "gp.rwl"}, {letters, "p.pith"}},
       {"\n There was an error reading the pith offset information\n",
        " Record 3 of p.pith does not fit the format (i3).\n",
        " Check the format entered and try again. Program Terminating.\n"}},
      {"end of input", "\ngp.rwl\nf\nt\n", {{rwl, "gp.rwl"}}, {"End of input"}},
      {"pith file is a folder",
       "\ngp.rwl\nt\n..\n'(i3)'\n",
       {{rwl, "gp.rwl"}},
       {" .. is a folder, not a file; enter another name.", "End of input"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunResult r = runKavrel(c.input, c.files);
    EXPECT_NE(r.exitStatus, 0);
    EXPECT_NE(r.exitStatus, 124) << "timed out";
    for (const std::string& s : c.screen) EXPECT_THAT(r.screen, HasSubstr(s));
    EXPECT_THAT(r.screen, ::testing::Not(HasSubstr("Normal Termination")));
    // The log holds what was written, the message included.
    const std::string log = r.file("Kavrelv6_log.txt");
    EXPECT_THAT(log, HasSubstr(" input file = "));
    EXPECT_THAT(log, HasSubstr(c.screen.back().substr(c.screen.back().find_first_not_of("\n "))));
    EXPECT_FALSE(r.exists("shorthighV6_raw"));
    if (r.exists("KavrelV6indx.raw.txt")) {
      EXPECT_EQ(r.file("KavrelV6indx.raw.txt"), "EARLIER RUN\n");
    }
    EXPECT_THAT(r.scratchNames(), ::testing::IsEmpty());
  }
}

TEST(E2eStart, FileQuestionsAskAgainWithTheReason) {
  REQUIRE_SHARED_DATA(rwl, "dplr/gp.rwl");
  // Each refused name is asked for again with its reason and is not logged;
  // /dev/zero is refused without being read.
  const std::string in = "\nnosuch.rwl\n..\n'/dev/zero'\n" + std::string("'a\tb.rwl'\n") +
                         std::string("'a\0b'\n", 6) + "gp.rwl\nf\nf\nf\nf\nf\n2\n0\n" +
                         kAfterLoading;
  RunResult r = runKavrel(in, {{rwl, "gp.rwl"}}, 60);
  expectNormalEnd(r);
  EXPECT_EQ(countOf(r.screen, kQ1), 6u);
  for (const char* reason :
       {" the file nosuch.rwl does not exist; enter another name.\n",
        " .. is a folder, not a file; enter another name.\n",
        " /dev/zero is not a regular file; enter another name.\n",
        " the name holds a control character; enter another name.\n"}) {
    EXPECT_THAT(r.screen, HasSubstr(reason));
  }
  EXPECT_EQ(countOf(r.screen, "control character"), 2u);
  EXPECT_EQ(logHead(r).at(0), " input file = gp.rwl");
  EXPECT_EQ(countOf(r.file("Kavrelv6_log.txt"), "input file"), 1u);
}

TEST(E2eStart, UnquotedFormatIsAskedAgain) {
  REQUIRE_SHARED_DATA(rwl, "dplr/gp.rwl");
  REQUIRE_SHARED_DATA(pith, "dplr/gp.pith");
  Answers a;
  a.input = "gp.rwl";
  a.pithFile = "gp.pith";
  a.pithFormat = "(10x,i3)\n'(10x,i3)'";
  RunResult r = runKavrel(script(a), {{rwl, "gp.rwl"}, {pith, "gp.pith"}});
  expectNormalEnd(r);
  EXPECT_EQ(countOf(r.screen, " A read format goes in single quotes, e.g. '(50x,i3)'.\n"), 1u);
}

}  // namespace
}  // namespace kavrel::test
