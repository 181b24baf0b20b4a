// Loading, screening, power transformation and the Loading table for a large
// generated file: 10000 series of 500 values (the series capacity of the
// store), with the table written to a file. The input is generated once per
// process, or taken from the file named by KAVREL_LARGE_RWL.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "driver/loading.h"
#include "driver/run_log.h"
#include "driver/run_options.h"
#include "driver/series_store.h"
#include "rwfile/trrw.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSeries = 10000;
constexpr int kValues = 500;

// Decade lines of kSeries series of kValues values in thousandths (-9999
// marker), from a fixed-seed linear congruential generator.
void writeLargeFile(const fs::path& path) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  uint64_t state = 123456789;
  auto next = [&state]() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<uint32_t>(state >> 33);
  };
  for (int k = 1; k <= kSeries; ++k) {
    char id[16];
    std::snprintf(id, sizeof id, "B%07d", k);
    const int first = 1500 + static_cast<int>(next() % 20);
    int year = first;
    int written = 0;
    const int level = 300 + static_cast<int>(next() % 1500);
    while (written <= kValues) {
      std::fprintf(f, "%-8s%4d", id, year);
      const int room = 10 - year % 10;
      for (int c = 0; c < room && written <= kValues; ++c, ++written, ++year) {
        int v = -9999;
        if (written < kValues) {
          // A declining age trend with noise; 999 would read as an end marker.
          v = level * (kValues - written / 2) / kValues + static_cast<int>(next() % 400);
          if (v == 999) v = 998;
        }
        std::fprintf(f, "%6d", v);
      }
      std::fputc('\n', f);
    }
  }
  std::fclose(f);
}

// The generated input, removed when the process ends.
struct GeneratedFile {
  fs::path path = fs::temp_directory_path() / "kavrel_bench_large.rwl";
  GeneratedFile() { writeLargeFile(path); }
  ~GeneratedFile() {
    std::error_code ec;
    fs::remove(path, ec);
  }
};

const std::string& largeFile() {
  static const std::string path = []() -> std::string {
    if (const char* given = std::getenv("KAVREL_LARGE_RWL")) return given;
    static const GeneratedFile generated;
    return generated.path.string();
  }();
  return path;
}

void BM_LoadToLoadingTable(benchmark::State& state) {
  const bool power = state.range(0) != 0;
  const fs::path out = fs::temp_directory_path() / "kavrel_bench_screen.txt";
  const fs::path logPath = fs::temp_directory_path() / "kavrel_bench_log.txt";
  const std::string& input = largeFile();
  // The table goes to the screen and the log: send the screen to a file.
  std::fflush(stdout);
  const int savedStdout = dup(1);
  for (auto _ : state) {
    std::FILE* screen = std::fopen(out.c_str(), "w");
    dup2(fileno(screen), 1);
    kavrel::RunLog log;
    log.open(logPath.string());
    kavrel::RunOptions options;
    options.inputFileName = input;
    options.powerTransform = power;
    kavrel::SeriesStore store;
    std::optional<kavrel::RwInput> in = kavrel::RwInput::openFile(input);
    kavrel::loadSeries(store, options, *in, log);
    if (power) kavrel::powerTransformAll(store);
    kavrel::shiftByPithOffsets(store);
    kavrel::writeLoadingTable(store, log);
    log.close();
    std::fflush(stdout);
    dup2(savedStdout, 1);
    std::fclose(screen);
    if (store.seriesCount != kSeries && std::getenv("KAVREL_LARGE_RWL") == nullptr) {
      state.SkipWithError("not every series was loaded");
    }
  }
  close(savedStdout);
  fs::remove(out);
  fs::remove(logPath);
}

BENCHMARK(BM_LoadToLoadingTable)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
