// Fuzz target: the ring-width reader on any bytes (decade lines and
// header-driven blocks). Every series read is written back with the writer
// and read again; where the writer reports no change to the values, the
// second reading must give the same identifier, first year and values.
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "rwfile/trrw.h"
#include "util/fatal.h"

namespace {

struct Series {
  std::string id;
  int32_t firstYear = 0;
  std::vector<float> values;
};

std::vector<Series> readAll(std::string text) {
  kavrel::RwInput in = kavrel::RwInput::fromText(std::move(text));
  in.setMessageStream(nullptr);
  std::vector<Series> all;
  int32_t counter = 0;
  for (;;) {
    Series s;
    if (kavrel::trrwRead(in, s.id, s.firstYear, s.values, counter) == kavrel::kEndOfFile) break;
    all.push_back(std::move(s));
  }
  return all;
}

// Thousandths as the writer rounds them, so values compare after one trip.
float asWritten(float v) {
  if (v == -999.0f) return v;
  return static_cast<float>(static_cast<int32_t>(std::round(v * 1000.0f))) * 0.001f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<Series> first;
  try {
    first = readAll(std::string(kavrel::fuzz::asText(data, size)));
  } catch (const kavrel::Fatal&) {
    return 0;  // too many text lines: a defined end of the run
  }
  for (const Series& s : first) {
    std::string text;
    const kavrel::RwWriteStatus status = kavrel::trrwFormat(text, s.id, s.firstYear, s.values);
    if (!status.ok() || text.empty()) continue;
    std::vector<Series> again;
    try {
      again = readAll(text);
    } catch (const kavrel::Fatal&) {
      std::abort();  // the writer's own lines are never text lines
    }
    if (again.size() != 1 || again[0].firstYear != s.firstYear ||
        again[0].values.size() != s.values.size()) {
      std::abort();
    }
    for (size_t i = 0; i < s.values.size(); ++i) {
      const float want = asWritten(s.values[i]);
      if (std::fabs(again[0].values[i] - want) > 0.0015f) std::abort();
    }
  }
  return 0;
}
