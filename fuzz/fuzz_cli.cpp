// Fuzz target: the command line with its checks. Each line of the input is
// one argument after the program name. Parsing gives help, the version, a
// usage error with its message, or a checked request, and writes nothing;
// an accepted run reads a regular file.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "fuzz/fuzz_folder.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto& start = kavrel::fuzz::startFolder();
  std::vector<std::string> args;
  std::string_view rest = kavrel::fuzz::asText(data, size);
  while (!rest.empty()) {
    const auto [line, after] = kavrel::fuzz::firstLineAndRest(rest);
    args.emplace_back(line);
    rest = after;
  }
  const std::size_t before = kavrel::fuzz::entryCount(start);
  const kavrel::cli::Command command = kavrel::cli::parseCommandLine(args, start);
  if (kavrel::fuzz::entryCount(start) != before) std::abort();
  switch (command.kind) {
    case kavrel::cli::CommandKind::help:
    case kavrel::cli::CommandKind::version:
    case kavrel::cli::CommandKind::usageError:
      if (command.text.empty()) std::abort();
      break;
    case kavrel::cli::CommandKind::run:
      if (command.request.interactive ||
          !std::filesystem::is_regular_file(command.request.inputPath))
        std::abort();
      break;
    case kavrel::cli::CommandKind::dialogue:
      if (!command.request.interactive) std::abort();
      break;
  }
  return 0;
}
