// Fuzz target: the pith-offset reader. The first line of the input is the
// read format as the user would type it; the rest is the pith-offset file.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "driver/pith_offsets.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto [formatText, rest] = kavrel::fuzz::firstLineAndRest(kavrel::fuzz::asText(data, size));
  const std::optional<kavrel::PithFormat> format = kavrel::parsePithFormat(formatText);
  if (!format) return 0;
  if (format->width < 1 || format->skip < 0) std::abort();
  std::string buffer(rest);
  std::FILE* file = kavrel::fuzz::memoryStream(buffer);
  if (file == nullptr) return 0;
  const kavrel::PithReadResult result = kavrel::readPithOffsets(file, *format, 10000);
  std::fclose(file);
  if (result.offsets.size() > 10000) std::abort();
  for (int32_t v : result.offsets) {
    if (v < 0) std::abort();  // a negative offset is refused, never stored
  }
  return 0;
}
