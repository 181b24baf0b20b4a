// Fuzz target: the answer parsers. Each line of the input is parsed as a
// logical, an integer, a real and a text answer; then the whole input is
// the answers to the curve-fit menu, which reads until a valid choice is
// complete or the input ends (Fatal), and to each kind of question.
#include <cmath>
#include <cstdlib>
#include <string>

#include "driver/rcdrvr.h"
#include "fit/detrend2.h"
#include "fuzz/fuzz_input.h"
#include "util/console.h"
#include "util/fatal.h"

namespace {

// Runs one question on a console over the answers; end of input ends it.
template <typename Ask>
void withConsole(std::string answers, Ask ask) {
  std::FILE* in = kavrel::fuzz::memoryStream(answers);
  std::FILE* out = std::fopen("/dev/null", "wb");
  if (in != nullptr && out != nullptr) {
    kavrel::Console console(in, out);
    try {
      ask(console);
    } catch (const kavrel::Fatal&) {
    }
  }
  if (in != nullptr) std::fclose(in);
  if (out != nullptr) std::fclose(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = kavrel::fuzz::asText(data, size);
  std::string_view rest = text;
  while (!rest.empty()) {
    const auto [line, after] = kavrel::fuzz::firstLineAndRest(rest);
    (void)kavrel::parseLogical(line);
    (void)kavrel::parseInteger(line);
    if (const auto r = kavrel::parseReal(line); r && !std::isfinite(*r)) std::abort();
    if (const auto t = kavrel::parseText(line); t && t->empty()) std::abort();
    std::string answer(line.substr(0, kavrel::kMenuAnswerWidth));
    std::string format;
    kavrel::intfrm(answer, format);
    int32_t value = 0;
    (void)kavrel::readWithIntFormat(answer, format, value);
    rest = after;
  }
  withConsole(std::string(text), [](kavrel::Console& c) {
    kavrel::DetrendOptions settings;
    const int32_t option = kavrel::rcdrvr(c, settings);
    if (option == -5 && (settings.span < 0 || settings.span > 9)) std::abort();
    // A median window is odd and at least 3, or a percentage -100..-1.
    const int32_t w = settings.span;
    if (option == -3 && !(w >= 3 ? w % 2 == 1 : (w >= -100 && w <= -1))) std::abort();
  });
  withConsole(std::string(text), [](kavrel::Console& c) { (void)c.askLogical("?"); });
  withConsole(std::string(text), [](kavrel::Console& c) { (void)c.askInteger("?"); });
  withConsole(std::string(text), [](kavrel::Console& c) { (void)c.askReal("?"); });
  withConsole(std::string(text), [](kavrel::Console& c) { (void)c.askText("?"); });
  return 0;
}
