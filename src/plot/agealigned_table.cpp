// Reader of the age-aligned class files for the regional-curve page.
#include "plot/agealigned_table.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "util/cfile.h"
#include "util/fatal.h"

namespace kavrel {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Splits a line into numbers; false when a token is not a finite number.
bool parseNumbers(const std::string& line, std::vector<float>& out) {
  out.clear();
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && isBlank(line[i])) ++i;
    if (i >= line.size()) break;
    size_t end = i;
    while (end < line.size() && !isBlank(line[end])) ++end;
    std::string token = line.substr(i, end - i);
    // Fortran-style exponents (1.5D0) read like E exponents.
    for (char& c : token) {
      if (c == 'd' || c == 'D') c = 'E';
    }
    char* stop = nullptr;
    errno = 0;
    const float v = std::strtof(token.c_str(), &stop);
    if (stop == token.c_str() || *stop != '\0' || errno == ERANGE || !std::isfinite(v)) {
      return false;
    }
    out.push_back(v);
    i = end;
  }
  return true;
}

}  // namespace

AgeAlignedTable readAgeAlignedTable(const std::string& path, int32_t seriesCount) {
  if (seriesCount < 0 || seriesCount > kPlotMaxSeries) {
    throw Fatal("Age-aligned file " + path + ": " + std::to_string(seriesCount) +
                " series exceed the capacity of " + std::to_string(kPlotMaxSeries));
  }
  const FilePtr file(std::fopen(path.c_str(), "rb"));
  if (file.get() == nullptr) {
    throw Fatal("Cannot open age-aligned file " + path + ": " + std::strerror(errno));
  }
  AgeAlignedTable table;
  table.seriesCount = seriesCount;
  std::string line;
  if (!readTextLine(file.get(), line)) return table;  // empty file: no header, no ages

  const size_t needed = static_cast<size_t>(seriesCount) + 2;
  std::vector<float> numbers;
  numbers.reserve(needed);
  int32_t lineNumber = 1;
  while (readTextLine(file.get(), line)) {
    ++lineNumber;
    auto where = [&] {
      return "Age-aligned file " + path + ", line " + std::to_string(lineNumber);
    };
    if (!parseNumbers(line, numbers)) {
      throw Fatal(where() + ": a value is not a number");
    }
    if (numbers.empty()) continue;
    if (numbers.size() < needed) {
      throw Fatal(where() + ": " + std::to_string(numbers.size()) +
                  " numbers where age, curve and " + std::to_string(seriesCount) +
                  " series values were expected");
    }
    if (table.lineCount() >= kPlotMaxAges) {
      throw Fatal(where() + ": more than " + std::to_string(kPlotMaxAges) + " ages");
    }
    table.ages.push_back(numbers[0]);
    table.curve.push_back(numbers[1]);
    table.values.insert(table.values.end(), numbers.begin() + 2,
                        numbers.begin() + static_cast<std::ptrdiff_t>(needed));
  }
  return table;
}

AgePolyline columnPolyline(const AgeAlignedTable& table, int32_t column, float missingValue) {
  AgePolyline line;
  for (int32_t i = 0; i < table.lineCount(); ++i) {
    const float v = column < 0 ? table.curve[static_cast<size_t>(i)] : table.value(i, column);
    if (v == missingValue) continue;
    line.ages.push_back(static_cast<double>(table.ages[static_cast<size_t>(i)]));
    line.values.push_back(static_cast<double>(v));
  }
  return line;
}

}  // namespace kavrel
