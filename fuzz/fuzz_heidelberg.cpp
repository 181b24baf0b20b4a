// Fuzz target: the Heidelberg reader on any bytes. Every reading passes the
// shared checks, and the series read, written back as a Heidelberg file in
// millimetres, read back the same.
#include <charconv>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_input.h"
#include "fuzz/table_roundtrip.h"
#include "util/fatal.h"

namespace {

std::string asHeidelberg(const std::vector<kavrel::fuzz::NamedSeries>& all) {
  std::string out;
  char buf[32];
  for (const auto& s : all) {
    const int32_t last = s.firstYear + static_cast<int32_t>(s.values.size()) - 1;
    out += "HEADER:\nKeyCode=" + s.name + "\nDateEnd=" + std::to_string(last) +
           "\nLength=" + std::to_string(s.values.size()) + "\nUnit=mm\nDATA:Tree\n";
    for (std::size_t i = 0; i < s.values.size(); ++i) {
      const auto r = std::to_chars(buf, buf + sizeof buf, s.values[i]);
      out.append(buf, r.ptr);
      out += (i % 10 == 9 || i + 1 == s.values.size()) ? '\n' : ' ';
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kavrel;
  std::vector<fuzz::NamedSeries> first;
  try {
    first = fuzz::readTable(std::string(fuzz::asText(data, size)), InputFormat::heidelberg);
  } catch (const Fatal&) {
    return 0;  // bad content: a defined end of the run
  }
  fuzz::checkSeries(first);
  std::vector<fuzz::NamedSeries> again;
  try {
    again = fuzz::readTable(asHeidelberg(first), InputFormat::heidelberg);
  } catch (const Fatal&) {
    std::abort();  // what the reader delivered is always readable
  }
  if (again != first) std::abort();
  return 0;
}
