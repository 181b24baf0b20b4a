// kavrel's command line: no arguments for the dialogue, options for the
// dialogue's extra outputs, "run" for a whole run without questions, --help
// and --version. The arguments and an optional recipe become one checked
// RunRequest; the steps of the run never see CLI11 or TOML.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "driver/run_request.h"

namespace kavrel::cli {

enum class CommandKind {
  dialogue,   // kavrel [OPTIONS]: the interactive dialogue
  run,        // kavrel run ...: the whole run without questions
  help,       // print `text`, exit 0
  version,    // print `text`, exit 0
  usageError  // print `text` as the error, exit kExitUsage
};

struct Command {
  CommandKind kind = CommandKind::dialogue;
  RunRequest request;  // dialogue and run: checked and complete
  std::string text;    // help, version: what to print; usageError: the one-line message
};

// Parses the arguments that follow the program name and checks everything a
// run needs before it writes anything: values, rules between options, the
// recipe (--recipe, overridden by the command line), the files to read and
// the folders to write. Relative paths are taken from startFolder (absolute;
// where kavrel was started). Writes nothing and creates no folder.
Command parseCommandLine(const std::vector<std::string>& args,
                         const std::filesystem::path& startFolder);

// The option names the parser accepts ("INPUT", "--pith", ..., "-h"), for
// checking the help text against them.
std::vector<std::string> commandLineOptionNames();

// The program's entry: parses argv and prints help, the version or a usage
// error (to `err`, status kExitUsage; nothing is written). With no
// arguments, or only options of the dialogue, it runs the dialogue exactly as
// the program without a command line does (--record: and writes the
// session's recipe at its normal end); "run" runs without questions. The
// run's screen is standard output. Extra outputs this version does not make
// yet are each named on `err` as not carried out. Returns the exit status:
// kExitNormal, kExitRunFailed, kExitUsage or kExitStopped.
int cliMain(int argc, char** argv, std::FILE* out = stdout, std::FILE* err = stderr);

}  // namespace kavrel::cli
