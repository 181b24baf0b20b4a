#include "driver/bootstrap_run.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <thread>
#include <utility>

#include "chron/chron_csv.h"
#include "driver/run_context.h"
#include "util/console.h"

namespace kavrel {

namespace {

std::string seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", s);
  return text;
}

std::optional<double> finite(double v) {
  return std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}

void appendBand(std::string& out, const BandColumn& b, size_t y) {
  out += ',';
  out += csvNumber(finite(b.lower[y]));
  out += ',';
  out += csvNumber(finite(b.upper[y]));
  out += ',';
  out += std::to_string(b.replicates[y]);
}

}  // namespace


BootstrapResult runBootstrap(RunContext& ctx, const RunRequest& request,
                             const Chronology& chronology) {
  BootstrapInput in;
  std::vector<std::string> ids;
  in.singleCurve = ctx.singleCurve;
  in.useMeanAge = ctx.options.useMeanAge;
  in.indexMode = ctx.options.indexMode;
  in.signalFree = ctx.signalFree;
  for (int32_t c = 1; c <= ctx.classCount(); ++c) {
    const RunContext::ClassRerun& rerun = ctx.classReruns[static_cast<size_t>(c - 1)];
    // A class the whole sample left empty refits with the default fit's
    // choice, from the run's fitting settings.
    in.classes[static_cast<size_t>(c - 1)] = {
        rerun.optionAsked, rerun.optionAsked == 0 ? ctx.detrend : rerun.settings};
    // The growth kind of a class's series holds whatever the threshold: high
    // in classes 1 and 3, low in 2 and 4, neither in 5.
    const GrowthKind growth = c == 1 || c == 3   ? GrowthKind::high
                              : c == 2 || c == 4 ? GrowthKind::low
                                                 : GrowthKind::neither;
    for (const ClassSeries& s : rerun.series) {
      in.series.push_back(s);
      in.growth.push_back(growth);
      ids.push_back(s.id);
    }
  }
  for (size_t c = static_cast<size_t>(ctx.classCount()); c < in.classes.size(); ++c) {
    in.classes[c].settings = ctx.detrend;
  }
  in.tree = treeNumbers(ids, request.treeChars);
  if (!chronology.years.empty()) {
    in.firstYear = chronology.years.front().year;
    in.yearCount = static_cast<int32_t>(chronology.years.size());
  }

  BootstrapSettings settings;
  settings.replicates = request.bootstrap;
  settings.seed = request.seed;
  settings.level = request.ciLevel;
  settings.threads = request.threads > 0
                         ? request.threads
                         : std::max(1, static_cast<int32_t>(std::thread::hardware_concurrency()));

  // The progress line: rewritten in place on a terminal (at most ten times a
  // second), written once at the end otherwise.
  Console& console = ctx.console;
  const bool show = !request.quiet;
  const bool terminal = ::isatty(::fileno(console.out())) != 0;
  const auto start = std::chrono::steady_clock::now();
  auto last = start;
  const int32_t n = settings.replicates;
  const auto line = [&](int32_t done) {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double remaining = done > 0 ? elapsed * (n - done) / done : 0.0;
    return " Bootstrap: " + std::to_string(done) + " of " + std::to_string(n) + " replicates, " +
           seconds(elapsed) + " elapsed, " + seconds(remaining) + " remaining";
  };
  std::function<void(int32_t)> progress;
  if (show && terminal) {
    progress = [&](int32_t done) {
      const auto now = std::chrono::steady_clock::now();
      if (done < n && now - last < std::chrono::milliseconds(100)) return;
      last = now;
      std::string text = "\r";
      text += line(done);
      console.write(text);
      console.flush();
    };
  }
  const BootstrapResult result = bootstrapBands(in, settings, progress);
  if (show) {
    if (terminal) console.write("\r");
    console.writeLine(line(n));
  }
  if (result.failed > 0) {
    ctx.log.echo(" Bootstrap: " + std::to_string(result.failed) + " of " + std::to_string(n) +
                 " replicates left out of the bands: a fit failed (first: " + result.firstFailure +
                 ")");
  }
  return result;
}

std::string withBandColumns(const std::string& csv, const Chronology& chronology,
                            const BootstrapResult& bands) {
  const std::string kind = chronology.kind == IndexKind::Ratio ? "ratio" : "residual";
  std::vector<std::pair<std::string, const BandColumn*>> columns = {
      {"mean_" + kind, &bands.mean}, {"robust_mean_" + kind, &bands.robustMean}};
  if (!bands.signalFree.replicates.empty()) {
    columns.emplace_back("signal_free_" + kind, &bands.signalFree);
  }
  std::string out;
  out.reserve(csv.size() + 64 * chronology.years.size());
  size_t pos = 0;
  for (size_t row = 0; pos < csv.size(); ++row) {
    size_t end = csv.find('\n', pos);
    if (end == std::string::npos) end = csv.size();
    out.append(csv, pos, end - pos);
    for (const auto& [name, band] : columns) {
      if (row == 0) {
        for (const char* suffix : {"_lower", "_upper", "_replicates"}) {
          out += ',';
          out += name;
          out += suffix;
        }
      } else if (row - 1 < band->replicates.size()) {
        appendBand(out, *band, row - 1);
      }
    }
    out += '\n';
    pos = end + 1;
  }
  return out;
}

}  // namespace kavrel
