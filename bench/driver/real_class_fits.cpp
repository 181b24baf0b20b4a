// The Hugershoff and general exponential fits of every class of the real files
// in ../shared/data (mean and median age threshold, with pith offsets where a
// set has them): all classes fitted once per iteration, with the least-squares
// refinement from the simplex's point only (wide:0) and with the wide search as
// well (wide:1, the default), which gives the wide search's share of the fits'
// time on real data. Needs ../shared beside the repository. On a busy machine
// the times scatter by 10 % or more; instruction counts inside the fits don't:
//   valgrind --tool=callgrind --toggle-collect='kavrel::gamoeba*'
//     build/bench_real_class_fits --benchmark_filter=code:7/wide:1
//     --benchmark_min_time=0.000001   (one command line)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "driver/class_pass.h"
#include "driver/classify.h"
#include "driver/loading.h"
#include "driver/run_context.h"
#include "driver/run_log.h"
#include "driver/run_options.h"
#include "fit/amoeba.h"
#include "fit/least_squares_refine.h"
#include "rwfile/trrw.h"
#include "../simplex_start.h"

namespace {

namespace fs = std::filesystem;

const fs::path kData = fs::path(__FILE__).parent_path() / "../../../shared/data";

struct RealFile {
  const char* rwl;
  const char* pith;  // read with (i3), or nullptr
};
constexpr std::array<RealFile, 11> kFiles{{{"itrdb/ca533.rwl", nullptr},
                                           {"itrdb/ca667.rwl", nullptr},
                                           {"itrdb/cana326_error.rwl", nullptr},
                                           {"itrdb/co021.rwl", nullptr},
                                           {"itrdb/morc018.rwl", nullptr},
                                           {"itrdb/nm580.rwl", nullptr},
                                           {"itrdb/th001.rwl", nullptr},
                                           {"itrdb/viet001.rwl", nullptr},
                                           {"itrdb/wa082.rwl", nullptr},
                                           {"dplr/gp.rwl", "dplr/gp.pith"},
                                           {"dplr/zof.rwl", "dplr/zof.pith"}}};

// Standard output to /dev/null while it lives (the loading table, fit lines).
class Silence {
 public:
  Silence() : saved_(dup(1)) {
    std::fflush(stdout);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
  }
  ~Silence() {
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
  }
  Silence(const Silence&) = delete;
  Silence& operator=(const Silence&) = delete;

 private:
  int saved_;
};

// Mean-by-age series of every non-empty class, as a run builds them.
std::vector<std::vector<float>> classMeans() {
  std::vector<std::vector<float>> means;
  const fs::path dir = fs::temp_directory_path() / ("kavrel_bench_classes_" + std::to_string(getpid()));
  fs::create_directories(dir);
  Silence silence;
  for (const RealFile& file : kFiles) {
    for (bool useMean : {true, false}) {
      kavrel::RunLog log;
      log.open((dir / "log.txt").string());
      kavrel::SeriesStore store;
      kavrel::RunOptions options;
      if (file.pith != nullptr) {
        options.usePithOffsets = true;
        options.pithFileName = (kData / file.pith).string();
        options.pithReadFormat = "(i3)";
        kavrel::readPithOffsetFile(options, store.pithOffsets);
      }
      std::optional<kavrel::RwInput> input = kavrel::RwInput::openFile((kData / file.rwl).string());
      if (!input) continue;
      kavrel::loadSeries(store, options, *input, log);
      kavrel::shiftByPithOffsets(store);
      const std::vector<int32_t> classes = kavrel::classifySeries(store, useMean);
      std::array<std::string, kavrel::kClassCount> names;
      for (size_t c = 0; c < names.size(); ++c) names[c] = (dir / kavrel::kClassFileNames[c]).string();
      (void)kavrel::writeClassRawFiles(store, classes, names);
      for (size_t c = 0; c < names.size(); ++c) {
        std::optional<kavrel::RwInput> classFile = kavrel::RwInput::openFile(names[c]);
        std::vector<kavrel::ClassSeries> series;
        int32_t counter = 0;
        for (;;) {
          kavrel::ClassSeries s;
          if (kavrel::trrwRead(*classFile, s.id, s.firstYear, s.values, counter) == kavrel::kEndOfFile) break;
          s.pithOffset = store.classPithOffsets[c][series.size()];
          series.push_back(std::move(s));
        }
        std::vector<float> mean = kavrel::meanByAge(series).meanValues;
        if (mean.size() > 5) means.push_back(std::move(mean));
      }
    }
  }
  fs::remove_all(dir);
  return means;
}

void BM_RealClassFits(benchmark::State& state) {
  static const std::vector<std::vector<float>> means = classMeans();
  if (means.empty()) {
    state.SkipWithError("no real data beside the repository");
    return;
  }
  const int32_t code = static_cast<int32_t>(state.range(0));
  kavrel::RefineOptions options;
  options.gridStart = state.range(1) == 1;
  // Starting points as the fits take them.
  std::vector<kavrel::bench::SimplexStart> starts;
  for (const std::vector<float>& y : means) starts.push_back(kavrel::bench::simplexStart(y, code));
  std::vector<float> fitted;
  Silence silence;
  for (auto _ : state) {
    for (size_t i = 0; i < means.size(); ++i) {
      const auto n = static_cast<int32_t>(means[i].size());
      fitted.resize(means[i].size());
      const kavrel::SimplexProblem problem{starts[i].selector, kavrel::kObjectiveCapacity, n,
                                           starts[i].abscissa, means[i]};
      const kavrel::SimplexFit fit = kavrel::gamoeba(starts[i].start, problem, n, fitted, options);
      benchmark::DoNotOptimize(fit.bestValue);
    }
  }
  state.counters["classes"] = static_cast<double>(means.size());
}
BENCHMARK(BM_RealClassFits)
    ->ArgNames({"code", "wide"})
    ->ArgsProduct({{7, 8}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
