// Timing of the fixed-layout formatter and the free-format line, used for
// every table row and log line.
#include <benchmark/benchmark.h>

#include <string>

#include "util/fixedformat.h"

namespace {

void BM_formatLayoutTableRow(benchmark::State& state) {
  const char* sep = "\t       ";
  for (auto _ : state) {
    std::string row = kavrel::formatLayout(
        "(i4,3a,i5,a,i5,a,i4,5(a,f7.3),a,i3)",
        {1234, sep, "ABC12345", sep, 1850, sep, 1999, sep, 150, sep, 1.234f, sep, 0.567f, sep,
         2.385f, sep, 0.12f, sep, 3.5f, sep, 12});
    benchmark::DoNotOptimize(row.data());
  }
}
BENCHMARK(BM_formatLayoutTableRow);

void BM_freeLine(benchmark::State& state) {
  for (auto _ : state) {
    std::string line = kavrel::freeLine({3, "Skip HIGH Value", "ABC12345", 12.34f});
    benchmark::DoNotOptimize(line.data());
  }
}
BENCHMARK(BM_freeLine);

}  // namespace

BENCHMARK_MAIN();
