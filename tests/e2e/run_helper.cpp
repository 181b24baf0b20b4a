#include "e2e/run_helper.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>

#include "support/testdata.h"

namespace kavrel::test {
namespace fs = std::filesystem;

namespace {

fs::path makeTempDir(const std::string& prefix) {
  std::string pattern = (fs::temp_directory_path() / (prefix + "XXXXXX")).string();
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
  return fs::path(buf.data());
}

std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}

}  // namespace

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string cur;
  for (char c : text) {
    if (c == '\n') {
      if (!cur.empty() && cur.back() == '\r') cur.pop_back();
      lines.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

RunResult::RunResult(RunResult&& other) noexcept
    : exitStatus(other.exitStatus),
      screen(std::move(other.screen)),
      errors(std::move(other.errors)),
      folder(std::move(other.folder)),
      base_(std::move(other.base_)) {
  other.base_.clear();
}

RunResult& RunResult::operator=(RunResult&& other) noexcept {
  if (this != &other) {
    exitStatus = other.exitStatus;
    screen = std::move(other.screen);
    errors = std::move(other.errors);
    folder = std::move(other.folder);
    base_ = std::move(other.base_);
    other.base_.clear();
  }
  return *this;
}

RunResult::~RunResult() {
  if (base_.empty() || std::getenv("KAVREL_KEEP_E2E") != nullptr) return;
  std::error_code ec;
  fs::remove_all(base_, ec);
}

std::string RunResult::file(const std::string& name) const { return readTextFile(folder / name); }

bool RunResult::exists(const std::string& name) const { return fs::exists(folder / name); }

std::vector<std::string> RunResult::fileLines(const std::string& name) const {
  return splitLines(file(name));
}

std::vector<std::string> RunResult::screenLines() const { return splitLines(screen); }

std::vector<std::string> RunResult::scratchNames() const {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    if (name.ends_with(".part")) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

RunResult runKavrel(const std::string& stdinText, const std::vector<RunInput>& inputs,
                    int timeoutSeconds, const RunSetup& setup) {
  RunResult r;
  r.base_ = makeTempDir("kavrel_e2e_");
  r.folder = r.base_ / "run";
  fs::create_directory(r.folder);
  for (const RunInput& in : inputs) {
    fs::create_symlink(fs::absolute(in.source), r.folder / in.name);
  }
  {
    std::ofstream s(r.base_ / "stdin.txt", std::ios::binary);
    s << stdinText;
  }
  if (setup.prepare) setup.prepare(r.folder);
  // No display: the plot falls back to its file-only path. The time limit
  // turns a hang into a failed test instead of a stuck test run.
  std::string run = "env -u DISPLAY timeout " + std::to_string(timeoutSeconds) + " " +
                    shellQuote(kavrelExe());
  for (const std::string& arg : setup.args) {
    run += ' ';
    run += shellQuote(arg);
  }
  run += " < ../stdin.txt";
  std::string cmd = "cd " + shellQuote(r.folder.string()) + " && ";
  if (setup.fileSizeBlocks > 0) {
    // kavrel ignores SIGXFSZ itself, so that a write beyond the limit fails
    // instead of ending the process; the status goes through a file past the
    // pipe.
    cmd += "{ ( ulimit -f " + std::to_string(setup.fileSizeBlocks) + "; exec " + run +
           " 2> ../stderr.txt ); echo $? > ../status.txt; } | cat > ../stdout.txt";
  } else {
    cmd += run + " > ../stdout.txt 2> ../stderr.txt";
  }
  int status = std::system(cmd.c_str());
  r.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (setup.fileSizeBlocks > 0) {
    const std::string code = readTextFile(r.base_ / "status.txt");
    r.exitStatus = code.empty() ? -1 : std::stoi(code);
  }
  r.screen = readTextFile(r.base_ / "stdout.txt");
  r.errors = readTextFile(r.base_ / "stderr.txt");
  return r;
}

std::map<std::string, std::string> filesBelow(const fs::path& folder,
                                              const std::vector<std::string>& skip) {
  std::map<std::string, std::string> files;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator();
       ++it) {
    const std::string name = it->path().lexically_relative(folder).generic_string();
    if (std::find(skip.begin(), skip.end(), name) != skip.end()) {
      if (it->is_directory()) it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file()) files[name] = readTextFile(it->path());
  }
  return files;
}

namespace {

// Scratch folder for inline input files, removed when the test process ends.
struct ScratchFolder {
  fs::path path = makeTempDir("kavrel_input_");
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

}  // namespace

std::string writeTempFile(const std::string& name, const std::string& text) {
  static const ScratchFolder scratch;
  fs::path p = scratch.path / name;
  std::ofstream out(p, std::ios::binary);
  out << text;
  return p.string();
}

}  // namespace kavrel::test
