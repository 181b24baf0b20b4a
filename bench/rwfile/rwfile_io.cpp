// Throughput of the ring-width reader and writer on a generated file of
// 10,000 series of 500 values (about 37 MB in the decade format).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "rwfile/trrw.h"

namespace {

constexpr int kSeries = 10000;
constexpr int kValues = 500;

struct Series {
  std::string id;
  int32_t firstYear;
  std::vector<float> values;
};

const std::vector<Series>& generatedSeries() {
  static const std::vector<Series> all = [] {
    std::mt19937_64 gen{123456};
    std::uniform_int_distribution<int32_t> year(-2500, 1500);
    std::gamma_distribution<float> width(2.0f, 0.6f);
    std::vector<Series> out(kSeries);
    for (int k = 0; k < kSeries; ++k) {
      out[static_cast<std::size_t>(k)].id = "BENCH" + std::to_string(k);
      out[static_cast<std::size_t>(k)].firstYear = year(gen);
      auto& v = out[static_cast<std::size_t>(k)].values;
      v.resize(kValues);
      for (float& x : v) x = std::min(width(gen), 99.0f);
    }
    return out;
  }();
  return all;
}

const std::string& generatedText() {
  static const std::string text = [] {
    std::string out;
    for (const Series& s : generatedSeries()) (void)kavrel::trrwFormat(out, s.id, s.firstYear, s.values);
    return out;
  }();
  return text;
}

std::string tempPath(const char* name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir != nullptr ? dir : "/tmp") + "/" + name;
}

void readAll(kavrel::RwInput& in) {
  std::string id;
  int32_t year = 0;
  std::vector<float> values;
  values.reserve(2000);
  int32_t counter = 0;
  int64_t total = 0;
  while (kavrel::trrwRead(in, id, year, values, counter) != kavrel::kEndOfFile) total += year;
  benchmark::DoNotOptimize(total);
}

// Reading from text already in memory (the parsing alone).
void BM_ReadMemory(benchmark::State& state) {
  const std::string& text = generatedText();
  for (auto _ : state) {
    state.PauseTiming();
    kavrel::RwInput in = kavrel::RwInput::fromText(text);
    state.ResumeTiming();
    readAll(in);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ReadMemory)->Unit(benchmark::kMillisecond);

// Opening and reading a file on disk, as the program does.
void BM_ReadFile(benchmark::State& state) {
  const std::string& text = generatedText();
  const std::string path = tempPath("kavrel_bench_rwfile_read.rwl");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    state.SkipWithError("cannot create the temporary file");
    return;
  }
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  for (auto _ : state) {
    std::optional<kavrel::RwInput> in = kavrel::RwInput::openFile(path);
    readAll(*in);
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ReadFile)->Unit(benchmark::kMillisecond);

// Formatting every series into memory.
void BM_WriteMemory(benchmark::State& state) {
  const auto& all = generatedSeries();
  std::string out;
  for (auto _ : state) {
    out.clear();
    for (const Series& s : all) (void)kavrel::trrwFormat(out, s.id, s.firstYear, s.values);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(out.size()));
}
BENCHMARK(BM_WriteMemory)->Unit(benchmark::kMillisecond);

// Writing every series to a file through the stream writer, as the program does.
void BM_WriteFile(benchmark::State& state) {
  const auto& all = generatedSeries();
  const std::string path = tempPath("kavrel_bench_rwfile_write.rwl");
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
      state.SkipWithError("cannot create the temporary file");
      return;
    }
    for (const Series& s : all) (void)kavrel::trrwWrite(f, s.id, s.firstYear, s.values);
    std::fclose(f);
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(generatedText().size()));
}
BENCHMARK(BM_WriteFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
