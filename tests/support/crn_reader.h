// A small reader of the decade chronology layout, independent of the
// program's writer: site code in columns 1-6, decade year in 7-10, then ten
// pairs of index x 1000 (4 columns) and depth (3 columns); 9990 marks a
// position without a value.
#pragma once

#include <cstdint>
#include <map>
#include <sstream>
#include <string>

namespace kavrel::test {

struct CrnValue {
  double index = 0.0;  // index x 1000 divided by 1000
  int32_t depth = 0;
};

struct CrnFile {
  std::string site;                    // columns 1-6 of the first line
  std::map<int32_t, CrnValue> values;  // years with a value
  int32_t lines = 0;
  bool wellFormed = true;  // every line 80 columns, same site, successive decades
};

inline CrnFile readCrn(const std::string& text) {
  CrnFile crn;
  std::istringstream in(text);
  std::string line;
  int32_t expectedDecade = 0;
  while (std::getline(in, line)) {
    if (line.size() != 80) crn.wellFormed = false;
    line.resize(80, ' ');
    const int32_t decade = std::stoi(line.substr(6, 4));
    if (crn.lines == 0) {
      crn.site = line.substr(0, 6);
    } else if (line.substr(0, 6) != crn.site || decade != expectedDecade) {
      crn.wellFormed = false;
    }
    if (decade % 10 != 0) crn.wellFormed = false;
    for (int32_t k = 0; k < 10; ++k) {
      const size_t at = 10 + 7 * static_cast<size_t>(k);
      const int32_t index = std::stoi(line.substr(at, 4));
      const int32_t depth = std::stoi(line.substr(at + 4, 3));
      if (index != 9990) crn.values[decade + k] = {index / 1000.0, depth};
    }
    expectedDecade = decade + 10;
    ++crn.lines;
  }
  return crn;
}

}  // namespace kavrel::test
