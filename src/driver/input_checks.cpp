#include "driver/input_checks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "rwfile/trrw.h"
#include "util/fatal.h"
#include "util/shown_text.h"

namespace kavrel {

namespace fs = std::filesystem;

std::optional<std::string> fileToReadProblem(std::string_view name, const fs::path& path) {
  if (hasControlCharacter(name)) return "the name holds a control character";
  const std::string shown = shownText(name);
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (status.type() == fs::file_type::not_found) return "the file " + shown + " does not exist";
  if (fs::is_directory(status)) return shown + " is a folder, not a file";
  if (!fs::is_regular_file(status)) {
    return shown + (ec ? " can't be examined: " + ec.message() : " is not a regular file");
  }
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return "the file " + shown + " can't be read: " + std::strerror(errno);
  std::fclose(f);
  return std::nullopt;
}

void requireSomeSeries(const std::string& name, const fs::path& path, InputFormat format) {
  std::optional<RwInput> in = RwInput::openFile(path.string(), format);
  // A file that can't be opened is reported by the loading step itself.
  if (!in) return;
  in->setMessageStream(nullptr);
  std::string id;
  int32_t firstYear = 0;
  int32_t counter = 0;
  std::vector<float> values;
  std::string why;
  try {
    if (trrwRead(*in, id, firstYear, values, counter) != kEndOfFile && counter != kEndOfFile)
      return;
    why = std::string(in->lineNumber() == 0 ? "it is empty" : "none of its lines is one");
  } catch (const Fatal&) {
    why = "it begins with more than " + std::to_string(kMaxTextLines) + " lines of other text";
  }
  if (in->readError()) return;  // reported by the loading step with its reason
  throw Fatal("No tree-ring series can be read from the input file " + shownText(name) +
              ": a ring-width file of decade lines (identifier, year, up to ten widths) or "
              "header-driven blocks was expected, but " + why + ".");
}

}  // namespace kavrel
