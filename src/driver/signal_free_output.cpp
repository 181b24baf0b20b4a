#include "driver/signal_free_output.h"

#include <cmath>

#include "chron/chron_csv.h"

namespace kavrel {

namespace {

std::optional<double> valueIn(const YearlyChronology& c, int32_t year) {
  const int64_t i = int64_t{year} - c.firstYear;
  if (i < 0 || i >= static_cast<int64_t>(c.value.size())) return std::nullopt;
  const double v = c.value[static_cast<size_t>(i)];
  if (!std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<double> finite(double v) {
  return std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}

}  // namespace

std::string withSignalFreeColumns(const std::string& csv, const Chronology& chronology,
                                  const SignalFreeResult& loop) {
  const std::string kind = chronology.kind == IndexKind::Ratio ? "ratio" : "residual";
  std::string out;
  out.reserve(csv.size() + 32 * chronology.years.size());
  size_t pos = 0;
  for (size_t row = 0; pos < csv.size(); ++row) {
    size_t end = csv.find('\n', pos);
    if (end == std::string::npos) end = csv.size();
    out.append(csv, pos, end - pos);
    if (row == 0) {
      out += ",pass0_" + kind + ",signal_free_" + kind;
    } else if (row - 1 < chronology.years.size()) {
      const int32_t year = chronology.years[row - 1].year;
      out += ',' + csvNumber(valueIn(loop.pass0Chronology, year)) + ',' +
             csvNumber(valueIn(loop.chronology, year));
    }
    out += '\n';
    pos = end + 1;
  }
  return out;
}

std::string signalFreeCsv(const SignalFreeResult& loop) {
  std::string out = "pass,largest_change,median_change,converged\n";
  const std::string converged = loop.converged ? "true" : "false";
  for (const SignalFreePass& p : loop.passes) {
    out += std::to_string(p.pass) + ',' + csvNumber(finite(p.largestChange)) + ',' +
           csvNumber(finite(p.medianChange)) + ',' + converged + '\n';
  }
  return out;
}

}  // namespace kavrel
