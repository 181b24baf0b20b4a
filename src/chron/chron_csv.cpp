// CSV text of the chronology and signal tables.
#include "chron/chron_csv.h"

#include <charconv>
#include <cmath>

namespace kavrel {

namespace {

// Column prefixes of the class means, in class order.
constexpr const char* kClassColumns[kChronClassCount] = {"shorthigh", "shortlow", "longhigh",
                                                         "longlow", "med"};

}  // namespace

std::string csvNumber(std::optional<double> v) {
  if (!v || !std::isfinite(*v)) return "";
  // The statistics are computed in double precision from single-precision
  // index values; the table keeps them to single precision.
  const auto f = static_cast<float>(*v);
  if (!std::isfinite(f)) return "";
  if (f == 0.0f) return "0";
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, f);
  if (ec != std::errc{}) return "";
  return std::string(buf, end);
}

void appendChronologyCsv(std::string& out, const Chronology& chronology) {
  appendChronologyCsv(out, chronology, kClassColumns);
}

void appendChronologyCsv(std::string& out, const Chronology& chronology,
                         std::span<const char* const> classColumns) {
  const std::string kind = chronology.kind == IndexKind::Ratio ? "ratio" : "residual";
  out += "year,depth,mean_" + kind + ",robust_mean_" + kind;
  for (const char* name : classColumns) out += std::string(",") + name + "_mean_" + kind;
  out += '\n';
  for (const ChronologyYear& y : chronology.years) {
    out += std::to_string(y.year) + ',' + std::to_string(y.depth) + ',' + csvNumber(y.mean) + ',' +
           csvNumber(y.robustMean);
    for (size_t c = 0; c < classColumns.size() && c < y.classMeans.size(); ++c) {
      out += ',' + csvNumber(y.classMeans[c]);
    }
    out += '\n';
  }
}

void appendSignalCsv(std::string& out, std::span<const SignalWindow> windows) {
  out += "first_year,last_year,series,rbar,eps,trees,rbar_tot,rbar_wt,rbar_bt,c_eff,rbar_eff,snr,"
         "eps_eff\n";
  for (const SignalWindow& w : windows) {
    out += std::to_string(w.firstYear) + ',' + std::to_string(w.lastYear) + ',' +
           std::to_string(w.seriesCount) + ',' + csvNumber(w.rbar) + ',' + csvNumber(w.eps) + ',' +
           std::to_string(w.treeCount) + ',' + csvNumber(w.rbar) + ',' + csvNumber(w.rbarWithin) +
           ',' + csvNumber(w.rbarBetween) + ',' + csvNumber(w.effectiveCores) + ',' +
           csvNumber(w.rbarEffective) + ',' + csvNumber(w.snr) + ',' + csvNumber(w.epsEffective) +
           '\n';
  }
}

}  // namespace kavrel
