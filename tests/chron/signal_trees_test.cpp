// The signal statistics by tree, against their definitions computed pair by
// pair, for Pearson's and Spearman's correlation.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "chron/signal.h"
#include "chron/trees.h"

namespace kavrel {
namespace {

// Mean ranks, by counting: 1 + values below + (equal values - 1) / 2.
std::vector<double> ranks(const std::vector<double>& x) {
  std::vector<double> r;
  for (double a : x) {
    double below = 0, equal = 0;
    for (double b : x) {
      below += b < a;
      equal += b == a;
    }
    r.push_back(1.0 + below + (equal - 1.0) / 2.0);
  }
  return r;
}

double correlation(std::vector<double> a, std::vector<double> b, bool spearman) {
  if (spearman) {
    a = ranks(a);
    b = ranks(b);
  }
  const double n = static_cast<double>(a.size());
  double ma = 0, mb = 0;
  for (size_t t = 0; t < a.size(); ++t) {
    ma += a[t] / n;
    mb += b[t] / n;
  }
  double sab = 0, saa = 0, sbb = 0;
  for (size_t t = 0; t < a.size(); ++t) {
    sab += (a[t] - ma) * (b[t] - mb);
    saa += (a[t] - ma) * (a[t] - ma);
    sbb += (b[t] - mb) * (b[t] - mb);
  }
  return sab / std::sqrt(saa * sbb);
}

// Ten trees of one to three cores, 1700-1819: a common signal, a tree-level
// signal shared by a tree's cores and core noise, in steps of 0.01 so that
// ranks tie. Tree 4's second core ends in 1750.
struct TreeFixture {
  std::vector<IndexSeries> series;
  std::vector<std::string> ids;

  TreeFixture() {
    std::mt19937_64 gen{20260};
    std::normal_distribution<double> normal;
    std::vector<double> common(120);
    for (double& c : common) c = 0.2 * normal(gen);
    const int cores[] = {1, 2, 3, 1, 2, 3, 2, 1, 1, 3};
    for (int tree = 0; tree < 10; ++tree) {
      std::vector<double> own(120);
      for (double& o : own) o = 0.2 * normal(gen);
      for (int c = 0; c < cores[tree]; ++c) {
        IndexSeries s{1, 1700, {}};
        const int years = tree == 4 && c == 1 ? 51 : 120;
        for (int t = 0; t < years; ++t) {
          const double v = 1.0 + common[t] + own[t] + 0.2 * normal(gen);
          s.values.push_back(static_cast<float>(std::round(v * 100.0) / 100.0));
        }
        series.push_back(s);
        std::string id = std::to_string(10 + tree);
        id.insert(id.begin(), 'T');
        id.push_back(static_cast<char>('A' + c));
        ids.push_back(id);
      }
    }
    // Another order, so that a tree's cores are not all neighbours.
    std::swap(series[1], series[8]);
    std::swap(ids[1], ids[8]);
  }
};

TEST(SignalTrees, WindowStatisticsAgreeWithPairwiseDefinitions) {
  const TreeFixture f;
  struct Case {
    int32_t treeChars;
    SignalCorrelation correlation;
  };
  const Case cases[] = {{0, SignalCorrelation::Pearson},
                        {3, SignalCorrelation::Pearson},
                        {3, SignalCorrelation::Spearman},
                        {0, SignalCorrelation::Spearman}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.treeChars * 10 + static_cast<int>(c.correlation));
    const bool spearman = c.correlation == SignalCorrelation::Spearman;
    const std::vector<int32_t> trees = treeNumbers(f.ids, c.treeChars);
    SignalOptions options;
    options.windowLength = 40;
    options.windowLag = 30;
    options.correlation = c.correlation;
    const SignalResult r = runningSignal(f.series, options, trees);
    ASSERT_EQ(r.status, ChronStatus::Ok) << r.message;
    // 1700-1739, 1730-1769, 1760-1799, and 1780-1819 for the last years.
    const int32_t firsts[] = {1700, 1730, 1760, 1780};
    ASSERT_EQ(r.windows.size(), 4u);
    for (size_t k = 0; k < 4; ++k) {
      const SignalWindow& w = r.windows[k];
      EXPECT_EQ(w.firstYear, firsts[k]);
      EXPECT_EQ(w.lastYear, firsts[k] + 39);
      std::vector<std::vector<double>> x;
      std::vector<int32_t> tree;
      for (size_t i = 0; i < f.series.size(); ++i) {
        const auto& v = f.series[i].values;
        const auto from = static_cast<size_t>(w.firstYear - 1700);
        if (v.size() < from + 40) continue;
        x.emplace_back(v.begin() + static_cast<long>(from), v.begin() + static_cast<long>(from) + 40);
        tree.push_back(trees[i]);
      }
      ASSERT_EQ(w.seriesCount, static_cast<int32_t>(x.size()));
      double all = 0, within = 0, between = 0;
      int pairs = 0, withinPairs = 0, betweenPairs = 0;
      for (size_t i = 0; i < x.size(); ++i) {
        for (size_t j = i + 1; j < x.size(); ++j) {
          const double rho = correlation(x[i], x[j], spearman);
          all += rho;
          ++pairs;
          (tree[i] == tree[j] ? within : between) += rho;
          ++(tree[i] == tree[j] ? withinPairs : betweenPairs);
        }
      }
      std::vector<int> coresOf(x.size() + f.series.size(), 0);
      for (int32_t t : tree) ++coresOf[static_cast<size_t>(t)];
      double t = 0, inverse = 0;
      for (int n : coresOf) {
        if (n == 0) continue;
        ++t;
        inverse += 1.0 / n;
      }
      const double cEff = t / inverse;
      const double rbt = between / betweenPairs;
      const double rwt = withinPairs > 0 ? within / withinPairs : 0.0;
      const double rEff = withinPairs > 0 ? rbt / (rwt + (1 - rwt) / cEff) : rbt;
      ASSERT_TRUE(w.rbar && w.rbarBetween && w.effectiveCores && w.rbarEffective && w.snr &&
                  w.epsEffective);
      EXPECT_EQ(w.treeCount, static_cast<int32_t>(t));
      EXPECT_NEAR(*w.rbar, all / pairs, 1e-12);
      EXPECT_NEAR(*w.rbarBetween, rbt, 1e-12);
      EXPECT_EQ(w.rbarWithin.has_value(), withinPairs > 0);
      if (w.rbarWithin) {
        EXPECT_NEAR(*w.rbarWithin, rwt, 1e-12);
      }
      EXPECT_NEAR(*w.effectiveCores, cEff, 1e-12);
      EXPECT_NEAR(*w.rbarEffective, rEff, 1e-12);
      EXPECT_NEAR(*w.snr, t * rEff / (1 - rEff), 1e-9);
      EXPECT_NEAR(*w.epsEffective, t * rEff / (1 + (t - 1) * rEff), 1e-12);
      if (c.treeChars == 0) {
        EXPECT_EQ(withinPairs, 0);
        EXPECT_EQ(*w.epsEffective, *w.eps);
      } else {
        // Cores of one tree share their tree's signal.
        EXPECT_GT(*w.rbarWithin, *w.rbarBetween);
      }
    }
  }
}

}  // namespace
}  // namespace kavrel
