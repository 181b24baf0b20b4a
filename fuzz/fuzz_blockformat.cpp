// Fuzz target: the read-format interpreter of header-driven blocks. The first
// line of the input is the format (as it would stand in columns 23-30 of a
// header line, but of any length); the rest are the value lines. The format
// is parsed on its own, then used inside a block with a fuzzed count.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "rwfile/fields.h"
#include "rwfile/trrw.h"
#include "util/fatal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto [format, rest] = kavrel::fuzz::firstLineAndRest(kavrel::fuzz::asText(data, size));
  (void)kavrel::rw::parseReadFormat(format);

  // A block: the "#" line, a header announcing 1..64 values from year 1900
  // with the first 8 characters of the format, then the value lines.
  std::string block(79, ' ');
  block.replace(0, 8, "FUZZBLK1");
  block += "#\nn  ";
  const int count = size == 0 ? 1 : 1 + data[0] % 64;
  char header[32];
  std::snprintf(header, sizeof header, "%6d  %8d  ", count, 1900);
  block += header;
  block.append(format.substr(0, 8));
  block += '\n';
  block.append(rest);
  kavrel::RwInput in = kavrel::RwInput::fromText(block);
  in.setMessageStream(nullptr);
  std::string id;
  int32_t firstYear = 0;
  int32_t counter = 0;
  std::vector<float> values;
  try {
    const int32_t n = kavrel::trrwRead(in, id, firstYear, values, counter);
    // Every value announced is delivered, unless the block is longer than
    // the reader keeps.
    if (n != kavrel::kEndOfFile && static_cast<size_t>(n) != values.size() &&
        !in.lastRead().tooLong) {
      std::abort();
    }
  } catch (const kavrel::Fatal&) {
  }
  return 0;
}
