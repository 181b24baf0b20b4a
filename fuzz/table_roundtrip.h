// Shared by the Heidelberg and CSV harnesses: every series of a table input,
// read with its full name, and the checks every reading must pass.
#pragma once

#include <cmath>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "rwfile/trrw.h"

namespace kavrel::fuzz {

struct NamedSeries {
  std::string name;
  std::string id;
  int32_t firstYear = 0;
  std::vector<float> values;
  bool operator==(const NamedSeries&) const = default;
};

// Reads every series of `text` in `format`; Fatal (bad content) passes out.
inline std::vector<NamedSeries> readTable(std::string text, InputFormat format) {
  RwInput in = RwInput::fromText(std::move(text), "fuzz", format);
  std::vector<NamedSeries> all;
  int32_t counter = 0;
  for (;;) {
    NamedSeries s;
    if (trrwRead(in, s.id, s.firstYear, s.values, counter) == kEndOfFile) break;
    s.name = in.lastRead().fullName;
    all.push_back(std::move(s));
  }
  return all;
}

// What holds for any reading: no empty series, widths non-negative or the
// missing marker, eight-character identifiers, and no identifier of a
// shortened name shared with any other series.
inline void checkSeries(const std::vector<NamedSeries>& all) {
  std::multiset<std::string> ids;
  for (const NamedSeries& s : all) ids.insert(s.id);
  for (const NamedSeries& s : all) {
    if (s.values.empty() || s.id.size() != 8 || s.name.empty()) std::abort();
    for (float v : s.values) {
      if (!std::isfinite(v) || (v < 0.0f && v != -999.0f)) std::abort();
    }
    const std::string trimmed = s.id.substr(0, s.id.find_last_not_of(' ') + 1);
    if (trimmed != s.name && ids.count(s.id) != 1) std::abort();
  }
}

}  // namespace kavrel::fuzz
