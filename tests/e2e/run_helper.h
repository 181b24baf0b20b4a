// Runs the built kavrel program in a fresh temporary folder with a scripted
// standard input, and gives back its screen output, exit status and the files
// it wrote. Used by every end-to-end test.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kavrel::test {

// A file placed in the run folder before the run: `source` is an existing
// file (linked, not copied), `name` the name it gets in the run folder.
struct RunInput {
  std::string source;
  std::string name;
};

// Extra set-up of a run, for tests of how the run treats its folder.
struct RunSetup {
  // Called with the run folder (inputs already placed) just before the run.
  std::function<void(const std::filesystem::path& folder)> prepare;
  // When above 0: no file the run writes may grow beyond this many 512-byte
  // blocks (SIGXFSZ is left as it is: kavrel ignores it), and writes beyond
  // that fail (EFBIG) as on a full disk. The screen is captured through a
  // pipe, so it is not limited.
  int fileSizeBlocks = 0;
  // Command-line arguments of kavrel (none: the dialogue).
  std::vector<std::string> args;
};

// The outcome of one run. The temporary folder is removed when the result is
// destroyed, unless the environment variable KAVREL_KEEP_E2E is set.
class RunResult {
 public:
  RunResult() = default;
  RunResult(const RunResult&) = delete;
  RunResult& operator=(const RunResult&) = delete;
  RunResult(RunResult&& other) noexcept;
  RunResult& operator=(RunResult&& other) noexcept;
  ~RunResult();

  int exitStatus = -1;           // the program's exit status (124 when it timed out)
  std::string screen;            // everything written to standard output
  std::string errors;            // everything written to standard error
  std::filesystem::path folder;  // the working folder of the run

  // Contents of a file in the run folder ("" when it does not exist).
  std::string file(const std::string& name) const;
  bool exists(const std::string& name) const;
  // Lines of a file in the run folder, without line endings.
  std::vector<std::string> fileLines(const std::string& name) const;
  // Lines of the screen output, without line endings.
  std::vector<std::string> screenLines() const;
  // Names in the run folder that end in ".part" (scratch files), sorted.
  std::vector<std::string> scratchNames() const;

 private:
  friend RunResult runKavrel(const std::string&, const std::vector<RunInput>&, int,
                             const RunSetup&);
  std::filesystem::path base_;  // holds folder plus the captured streams
};

// Runs kavrel in a new temporary folder holding `inputs`, feeding `stdinText`
// to its standard input, with no display and a time limit in seconds;
// setup.args are its arguments.
RunResult runKavrel(const std::string& stdinText, const std::vector<RunInput>& inputs = {},
                    int timeoutSeconds = 120, const RunSetup& setup = {});

// Writes `text` to a file in a new scratch location and returns its path
// (for small inline input files). The file lives until the test process ends.
std::string writeTempFile(const std::string& name, const std::string& text);

// Every file below `folder` (paths relative to it) and its contents, except
// the names listed in `skip` and what lies below them.
std::map<std::string, std::string> filesBelow(const std::filesystem::path& folder,
                                              const std::vector<std::string>& skip = {});

// Splits text into lines (LF or CRLF), without line endings.
std::vector<std::string> splitLines(const std::string& text);

}  // namespace kavrel::test
