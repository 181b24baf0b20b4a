// Reading the same 10,000 series of 500 values as a decade file, a
// Heidelberg file and a CSV table, from a file on disk as the program does
// (format told by content). The argument is the spread of the first years:
// 500 (series ending within 1500..1999, a table of about 1000 rows) or 4000
// (years -2500..1999, a table of about 4500 rows, mostly empty cells).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
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
  std::vector<int32_t> thousandths;
};

const std::vector<Series>& generatedSeries(int spread) {
  static std::map<int, std::vector<Series>> cache;
  auto [it, added] = cache.try_emplace(spread);
  if (!added) return it->second;
  std::mt19937_64 gen{123456};
  std::uniform_int_distribution<int32_t> year(1500 - spread + 1, 1500);
  std::gamma_distribution<float> width(2.0f, 0.6f);
  for (int k = 0; k < kSeries; ++k) {
    Series s{"BENCH" + std::to_string(k), year(gen), {}};
    for (int i = 0; i < kValues; ++i) {
      s.thousandths.push_back(
          static_cast<int32_t>(std::lround(std::min(width(gen), 99.0f) * 1000)));
    }
    it->second.push_back(std::move(s));
  }
  return it->second;
}

std::string decadeText(const std::vector<Series>& all) {
  std::string out;
  std::vector<float> v;
  for (const Series& s : all) {
    v.assign(s.thousandths.begin(), s.thousandths.end());
    for (float& x : v) x *= 0.001f;
    (void)kavrel::trrwFormat(out, s.id, s.firstYear, v);
  }
  return out;
}

std::string heidelbergText(const std::vector<Series>& all) {
  std::string out;
  char field[16];
  for (const Series& s : all) {
    out += "HEADER:\nKeyCode=" + s.id + "\nDateEnd=" + std::to_string(s.firstYear + kValues - 1) +
           "\nLength=" + std::to_string(kValues) + "\nUnit=1/1000 mm\nDATA:Tree\n";
    for (int i = 0; i < kValues; ++i) {
      std::snprintf(field, sizeof field, "%6d", s.thousandths[static_cast<std::size_t>(i)]);
      out += field;
      if (i % 10 == 9) out += '\n';
    }
  }
  return out;
}

std::string csvText(const std::vector<Series>& all) {
  int32_t first = all[0].firstYear, last = first;
  std::string out = "year";
  for (const Series& s : all) {
    out += ',' + s.id;
    first = std::min(first, s.firstYear);
    last = std::max(last, s.firstYear + kValues - 1);
  }
  out += '\n';
  char field[16];
  for (int32_t y = first; y <= last; ++y) {
    out += std::to_string(y);
    for (const Series& s : all) {
      out += ',';
      const int32_t i = y - s.firstYear;
      if (i >= 0 && i < kValues) {
        const int32_t t = s.thousandths[static_cast<std::size_t>(i)];
        std::snprintf(field, sizeof field, "%d.%03d", t / 1000, t % 1000);
        out += field;
      }
    }
    out += '\n';
  }
  return out;
}

void readFile(benchmark::State& state, std::string (*make)(const std::vector<Series>&),
              const char* name) {
  const std::string text = make(generatedSeries(static_cast<int>(state.range(0))));
  const char* dir = std::getenv("TMPDIR");
  const std::string path = std::string(dir != nullptr ? dir : "/tmp") + "/kavrel_bench_" + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    state.SkipWithError("cannot create the temporary file");
    return;
  }
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  for (auto _ : state) {
    std::optional<kavrel::RwInput> in =
        kavrel::RwInput::openFile(path, kavrel::InputFormat::automatic);
    std::string id;
    int32_t year = 0, counter = 0, series = 0;
    std::vector<float> values;
    while (kavrel::trrwRead(*in, id, year, values, counter) != kavrel::kEndOfFile) ++series;
    if (series != kSeries) state.SkipWithError("not every series was read");
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}

void BM_ReadDecadeFile(benchmark::State& state) { readFile(state, decadeText, "decade.rwl"); }
void BM_ReadHeidelbergFile(benchmark::State& state) {
  readFile(state, heidelbergText, "heidelberg.fh");
}
void BM_ReadCsvFile(benchmark::State& state) { readFile(state, csvText, "table.csv"); }
BENCHMARK(BM_ReadDecadeFile)->Arg(500)->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadHeidelbergFile)->Arg(500)->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadCsvFile)->Arg(500)->Arg(4000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
