// Whole runs through the first pass on real and example data: every series
// in exactly one class file, classes recomputed here from the thirds, the
// age-aligned tables, ratio and residual indices, the combined index file in
// class order, and the normal end with all output files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

#include "driver/report.h"
#include "e2e/run_helper.h"
#include "rwfile/rwtest_helpers.h"
#include "rwfile/trrw.h"
#include "support/testdata.h"

namespace kavrel::test {
namespace {

using ::testing::HasSubstr;

const char* const kRawNames[5] = {"shorthighV6_raw", "shortlowV6_raw", "longhighV6_raw",
                                  "longlowV6_raw", "medV6_raw"};

// Answers after the pass: continue from the plot menu, then no curve change.
const char* const kAfterPass = "c\nf\n";

struct RunCase {
  std::string name;        // label of the case
  std::string rwl;         // shared data path or examples path
  std::string pith;        // empty: no pith-offset file
  std::string pithFormat;  // with its quotes
  bool useMean = false;
  int indexMode = 1;
};

std::string script(const RunCase& s) {
  std::string in = "\ninput.rwl\n";
  in += s.pith.empty() ? "f\n" : "t\ninput.pith\n" + s.pithFormat + "\n";
  in += "f\nf\nf\nf\n";
  in += s.useMean ? "1\n" : "2\n";
  in += std::to_string(s.indexMode) + "\n";
  return in + kAfterPass;
}

// Pith offsets: the last integer on each line.
std::vector<int32_t> readOffsets(const std::string& path) {
  std::vector<int32_t> out;
  std::istringstream in(test::readTextFile(path));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string tok, last;
    while (ls >> tok) last = tok;
    out.push_back(last.empty() ? 0 : std::stoi(last));
  }
  return out;
}

// Median of a non-empty sample, in single precision as the program takes it.
float median(std::vector<float> x) {
  std::sort(x.begin(), x.end());
  const size_t n = x.size();
  return (x[n - n / 2 - 1] + x[n / 2]) * 0.5f;
}

// The class of every series, worked out here from its total age and the
// medians of its thirds.
std::vector<int> expectedClasses(const std::vector<ReadSeries>& series,
                                 const std::vector<int32_t>& pith, bool useMean) {
  std::vector<float> ages;
  for (size_t k = 0; k < series.size(); ++k) {
    ages.push_back(static_cast<float>(pith[k] + static_cast<int32_t>(series[k].values.size())));
  }
  float threshold = 0.0f;
  if (useMean) {
    float sum = 0.0f;
    for (float a : ages) sum += a;
    threshold = sum / static_cast<float>(ages.size());
  } else {
    threshold = median(ages);
  }
  std::vector<int> classes;
  for (size_t k = 0; k < series.size(); ++k) {
    const auto age = static_cast<int32_t>(ages[k]);
    const auto t = static_cast<int32_t>(std::lround(ages[k] * 0.31415927f));
    std::array<std::vector<float>, 3> thirds;
    for (int32_t j = 1; j <= age; ++j) {
      const int32_t r = j - pith[k];
      if (r < 1) continue;
      const float v = series[k].values[static_cast<size_t>(r - 1)];
      if (v == -999.0f) continue;
      thirds[j <= t ? 0 : (j <= 2 * t ? 1 : 2)].push_back(v);
    }
    int c = 5;
    if (!thirds[0].empty() && !thirds[1].empty() && !thirds[2].empty()) {
      const float s1 = median(thirds[0]), s2 = median(thirds[1]), s3 = median(thirds[2]);
      const bool high = s1 < s2 && s1 < s3, low = s1 > s2 && s1 > s3;
      const bool shortAge = ages[k] <= threshold;
      if (high) c = shortAge ? 1 : 3;
      if (low) c = shortAge ? 2 : 4;
    }
    classes.push_back(c);
  }
  return classes;
}

// Rows of an age-aligned table: age, curve, one value per series.
std::vector<std::vector<double>> readTable(const std::string& text, std::string* header) {
  std::vector<std::vector<double>> rows;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  if (header) *header = line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::vector<double> row;
    double x = 0;
    while (ls >> x) row.push_back(x);
    rows.push_back(row);
  }
  return rows;
}

void checkRun(const RunCase& runCase) {
  SCOPED_TRACE(runCase.name);
  std::vector<RunInput> inputs = {{runCase.rwl, "input.rwl"}};
  if (!runCase.pith.empty()) inputs.push_back({runCase.pith, "input.pith"});
  RunResult r = runKavrel(script(runCase), inputs);
  ASSERT_EQ(r.exitStatus, 0) << r.screen.substr(r.screen.size() > 3000 ? r.screen.size() - 3000 : 0);

  // The normal end comes last on the screen.
  std::vector<std::string> lines = r.screenLines();
  while (!lines.empty() && lines.back().find_first_not_of(' ') == std::string::npos) lines.pop_back();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 2], " Normal Termination of Program");
  EXPECT_EQ(lines.back(), " " + std::string(37, '*'));

  // The input as the program reads it; the classes worked out independently.
  const std::vector<ReadSeries> input = readAllSeries(test::readTextFile(runCase.rwl));
  std::vector<int32_t> pith(input.size(), 0);
  if (!runCase.pith.empty()) {
    const std::vector<int32_t> offsets = readOffsets(runCase.pith);
    ASSERT_EQ(offsets.size(), input.size());
    pith = offsets;
  }
  const std::vector<int> classes = expectedClasses(input, pith, runCase.useMean);

  const std::string log = r.file("Kavrelv6_log.txt");
  std::string allIndices;
  size_t files = 1;  // the log
  for (int c = 1; c <= 5; ++c) {
    SCOPED_TRACE("class " + std::to_string(c));
    const std::string raw = kRawNames[c - 1];
    const std::string aligned = raw + "_agealigned.txt";
    const std::string indexName = raw + "_agealigned.indx.txt";
    ASSERT_TRUE(r.exists(raw));
    ASSERT_TRUE(r.exists(aligned));
    files += 2;

    // Every series of this class, in input order, with its own year and values.
    std::vector<size_t> members;
    for (size_t k = 0; k < input.size(); ++k) {
      if (classes[k] == c) members.push_back(k);
    }
    const std::vector<ReadSeries> classSeries = readAllSeries(r.file(raw));
    ASSERT_EQ(classSeries.size(), members.size());
    for (size_t m = 0; m < members.size(); ++m) {
      const ReadSeries& in = input[members[m]];
      const ReadSeries& out = classSeries[m];
      EXPECT_EQ(out.id, in.id);
      EXPECT_EQ(out.firstYear, in.firstYear);
      ASSERT_EQ(out.values.size(), in.values.size());
      for (size_t j = 0; j < in.values.size(); ++j) {
        const float want = in.values[j] > 0.998f && in.values[j] < 1.0f ? 0.998f : in.values[j];
        EXPECT_NEAR(out.values[j], want, 0.0005f) << in.id << " ring " << j + 1;
      }
    }
    EXPECT_THAT(log, HasSubstr("Processing file: " + aligned + "\n total number of series = " +
                               std::to_string(members.size()) + "\n"));

    // The age-aligned table.
    std::string header;
    const auto rows = readTable(r.file(aligned), &header);
    int32_t maxAge = 0, minPith = 2000;
    for (size_t k : members) {
      maxAge = std::max(maxAge, pith[k] + static_cast<int32_t>(input[k].values.size()));
      minPith = std::min(minPith, pith[k]);
    }
    ASSERT_EQ(rows.size(), static_cast<size_t>(maxAge));
    EXPECT_THAT(header, HasSubstr("#age"));
    for (size_t a = 0; a < rows.size(); ++a) {
      const auto age = static_cast<int32_t>(a + 1);
      ASSERT_EQ(rows[a].size(), members.size() + 2);
      EXPECT_EQ(rows[a][0], age);
      if (age <= minPith) {
        EXPECT_EQ(rows[a][1], -999.0) << "age " << age;
      }
      for (size_t m = 0; m < members.size(); ++m) {
        const int32_t ring = age - pith[members[m]];
        const bool inside = ring >= 1 && ring <= static_cast<int32_t>(classSeries[m].values.size());
        const double want = inside ? classSeries[m].values[static_cast<size_t>(ring - 1)] : -999.0;
        if (want == -999.0) {
          EXPECT_EQ(rows[a][m + 2], -999.0);
        } else {
          EXPECT_NEAR(rows[a][m + 2], want, 1e-6 * std::max(1.0, std::fabs(want)));
        }
      }
    }

    if (runCase.indexMode == 0) {
      EXPECT_FALSE(r.exists(indexName));
      continue;
    }
    ASSERT_TRUE(r.exists(indexName));
    ++files;
    const std::string indexText = r.file(indexName);
    allIndices += indexText;
    const std::vector<ReadSeries> indices = readAllSeries(indexText);
    ASSERT_EQ(indices.size(), members.size());
    for (size_t m = 0; m < members.size(); ++m) {
      const ReadSeries& raw1 = classSeries[m];
      const ReadSeries& idx = indices[m];
      EXPECT_EQ(idx.id, raw1.id);
      EXPECT_EQ(idx.firstYear, raw1.firstYear);
      ASSERT_EQ(idx.values.size(), raw1.values.size());
      bool negativeResidual = false;
      float smallest = 1e9f;
      for (size_t j = 0; j < raw1.values.size(); ++j) {
        const double v = raw1.values[j];
        const double curve = rows[static_cast<size_t>(pith[members[m]]) + j][1];
        const double x = idx.values[j];
        if (v == -999.0) {
          EXPECT_EQ(x, -999.0) << idx.id << " ring " << j + 1;
          continue;
        }
        if (curve == -999.0 || (runCase.indexMode == 1 && curve <= 0.0)) {
          EXPECT_EQ(x, -999.0);
          EXPECT_THAT(r.screen + log, HasSubstr("Class " + std::to_string(c) + " (" + kClassNames[static_cast<size_t>(c - 1)] + "): Warning: series"));
          continue;
        }
        if (runCase.indexMode == 1) {
          // Ratio x curve gives back the raw value to the file's precision
          // (0.999 and the like are stored as 0.998).
          const double tol = (std::fabs(x - 0.998) < 1e-6 ? 0.0021 : 0.0006) * std::fabs(curve) + 1e-5;
          EXPECT_NEAR(x * curve, v, tol) << idx.id << " ring " << j + 1;
        } else {
          if (v - curve < -1e-4) negativeResidual = true;
          smallest = std::min(smallest, idx.values[j]);
        }
      }
      if (runCase.indexMode == 2 && smallest < 1e9f) {
        EXPECT_GE(smallest, 0.001f - 1e-6f) << idx.id;
        if (negativeResidual) {
          EXPECT_NEAR(smallest, 0.001f, 1e-6f) << idx.id;
        }
      }
    }
  }
  if (runCase.indexMode != 0) {
    // The combined file: every index series, in class order.
    EXPECT_EQ(r.file("KavrelV6indx.raw.txt"), allIndices);
    ++files;
    EXPECT_EQ(files, 17u);
  } else {
    EXPECT_FALSE(r.exists("KavrelV6indx.raw.txt"));
  }
  EXPECT_TRUE(r.exists("Kavrelv6_log.txt"));
  // No undefined number or overflowed field anywhere.
  for (const auto& entry : std::filesystem::directory_iterator(r.folder)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("input.")) continue;
    const std::string text = test::readTextFile(entry.path().string());
    EXPECT_EQ(text.find("nan"), std::string::npos) << name;
    EXPECT_EQ(text.find("inf"), std::string::npos) << name;
    EXPECT_EQ(text.find("***"), std::string::npos) << name;
  }
}

TEST(E2eFirstPass, PithOffsetSetsRatiosAndResiduals) {
  REQUIRE_SHARED_DATA(gp, "dplr/gp.rwl");
  REQUIRE_SHARED_DATA(gpPith, "dplr/gp.pith");
  REQUIRE_SHARED_DATA(zof, "dplr/zof.rwl");
  REQUIRE_SHARED_DATA(zofPith, "dplr/zof.pith");
  checkRun({"gp ratios median", gp, gpPith, "'(i3)'", false, 1});
  checkRun({"gp residuals mean", gp, gpPith, "'(i3)'", true, 2});
  checkRun({"gp without offsets", gp, "", "", false, 1});
  checkRun({"zof ratios mean", zof, zofPith, "'(i3)'", true, 1});
  checkRun({"zof no indices", zof, zofPith, "'(i3)'", false, 0});
}

TEST(E2eFirstPass, ItrdbFiles) {
  REQUIRE_SHARED_DATA(ca533, "itrdb/ca533.rwl");
  REQUIRE_SHARED_DATA(ca667, "itrdb/ca667.rwl");
  REQUIRE_SHARED_DATA(wa082, "itrdb/wa082.rwl");
  checkRun({"ca533 residuals", ca533, "", "", false, 2});
  checkRun({"ca667 ratios", ca667, "", "", true, 1});
  checkRun({"wa082 ratios, a missing ring", wa082, "", "", false, 1});
}

TEST(E2eFirstPass, ExampleData) {
  const std::string rwl = sourceDir() + "/examples/kavrel_example.rwl";
  const std::string pith = sourceDir() + "/examples/kavrel_example.pith";
  checkRun({"example residuals", rwl, pith, "'(10x,i3)'", false, 2});
  checkRun({"example no indices", rwl, "", "", true, 0});
}

TEST(E2eFirstPass, EmptyClassesAreNormal) {
  // Four series of one length: all are short, so both long classes are empty.
  std::string text;
  const int n = 30;
  for (int k = 0; k < 4; ++k) {
    std::vector<float> v;
    for (int r = 1; r <= n; ++r) {
      const float t = static_cast<float>(r) / n;
      if (k < 2) v.push_back(0.5f + 1.25f * t + 0.01f * static_cast<float>(k));
      if (k == 2) v.push_back(2.385f - 1.5f * t);
      if (k == 3) v.push_back(t < 0.34f ? 1.1f : (t < 0.67f ? 0.7f : 1.6f));
    }
    std::string id = "GEN";
    id += static_cast<char>('A' + k);
    (void)trrwFormat(text, id, 1901 + k, v);
  }
  const std::string rwl = writeTempFile("generated.rwl", text);
  checkRun({"empty long classes", rwl, "", "", false, 1});
  RunResult r = runKavrel(script({"", rwl, "", "", false, 1}), {{rwl, "input.rwl"}});
  EXPECT_THAT(r.screen, HasSubstr("Processing file: longhighV6_raw_agealigned.txt\n"
                                  " total number of series = 0\n\n"));
  EXPECT_EQ(r.file("longlowV6_raw"), "");
  EXPECT_EQ(r.file("longlowV6_raw_agealigned.indx.txt"), "");
  const std::string table = r.file("longlowV6_raw_agealigned.txt");
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 1);  // the header alone
}

}  // namespace
}  // namespace kavrel::test
