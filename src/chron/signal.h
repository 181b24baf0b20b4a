// Running signal strength of the chronology: in overlapping windows of years,
// the mean correlation between series (rbar) and the expressed population
// signal EPS = m rbar / (1 + (m - 1) rbar) of m series (Wigley, Briffa &
// Jones 1984, J. Climate Appl. Meteor. 23:201-213), and the same split by
// trees: correlations within and between trees, the effective rbar of trees
// sampled with several cores, SNR and EPS from it (Briffa & Jones 1990).
// Computed in double precision.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "chron/chronology.h"

namespace kavrel {

// The correlation between two series over a window: Pearson's of the values,
// or Spearman's (Pearson's of their ranks, tied values sharing their mean rank).
enum class SignalCorrelation { Pearson, Spearman };

struct SignalOptions {
  int32_t windowLength = 50;  // years per window, at least 3
  int32_t windowLag = 25;     // years between the first years of successive windows, at least 1
  int32_t minSeries = 2;      // fewest series for rbar and EPS, at least 2
  SignalCorrelation correlation = SignalCorrelation::Pearson;
};

// One window. A series counts when it has a value in every year of the window
// and those values are not all equal (a constant series has no correlation).
struct SignalWindow {
  int32_t firstYear = 0;
  int32_t lastYear = 0;
  int32_t seriesCount = 0;     // m, the series that count
  std::optional<double> rbar;  // mean Pearson correlation over all pairs; empty when m < minSeries
  std::optional<double> eps;   // empty when rbar is, or when 1 + (m - 1) rbar is not positive

  // By trees. rbar above is rbar.tot, the mean over all pairs.
  int32_t treeCount = 0;                // t, the trees with a series that counts
  std::optional<double> rbarWithin;     // rbar.wt: mean over pairs of cores of one tree; empty
                                        // without such a pair
  std::optional<double> rbarBetween;    // rbar.bt: mean over pairs of cores of different
                                        // trees; empty when t < 2
  std::optional<double> effectiveCores; // c.eff: harmonic mean of the counted cores per tree
  std::optional<double> rbarEffective;  // rbar.eff = rbar.bt / (rbar.wt + (1 - rbar.wt) / c.eff),
                                        // rbar.bt when every tree has one core
  std::optional<double> snr;            // t rbar.eff / (1 - rbar.eff); empty unless rbar.eff < 1
  std::optional<double> epsEffective;   // t rbar.eff / (1 + (t - 1) rbar.eff)
};

struct SignalResult {
  ChronStatus status = ChronStatus::Ok;
  std::string message;  // what is wrong when status is InvalidInput
  std::vector<SignalWindow> windows;
};

// The windows start at the chronology's first year (the first year any series
// has a value) and follow every windowLag years as long as they end by the
// chronology's last year; when the last years lie in none of them, one more
// window ends at the last year, so every year is in a window. A chronology
// shorter than one window has none. A window with m < minSeries still gets
// its row, with empty rbar and EPS.
//
// rbar comes from the standardised sum: each series is standardised over
// the window (population variance), S = (1/W) sum over t of (sum over i of
// z_it)^2, and rbar = (S - m) / (m (m - 1)), which equals the mean of the
// m (m - 1) / 2 pairwise correlations. The same sum over a tree's own cores
// gives the sum of its within-tree correlations.
//
// trees holds the tree number of each series (any numbers; series with equal
// numbers are cores of one tree); empty: every series is its own tree.
[[nodiscard]] SignalResult runningSignal(std::span<const IndexSeries> series,
                                         const SignalOptions& options = {},
                                         std::span<const int32_t> trees = {});

// The EPS level below which a chronology's signal is commonly taken as weak.
inline constexpr double kWeakSignalEps = 0.85;

// One flag per year firstYear..lastYear: set when some window covering the
// year has an EPS below threshold or none at all. Years in no window are
// not flagged.
std::vector<bool> weakSignalYears(std::span<const SignalWindow> windows, int32_t firstYear,
                                  int32_t lastYear, double threshold = kWeakSignalEps);

}  // namespace kavrel
