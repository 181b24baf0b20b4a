// Every file the program writes goes through here. The data go to a scratch
// file created fresh beside the target (exclusively, under a name no other
// file has, never through an existing link), every write, flush and close is
// checked, and the finished file is renamed over the target in one step. A
// file that is not completed leaves nothing behind: its scratch file is
// removed. So an interrupted or failing run never leaves a half-written file
// where a good one was, and never writes into a file it did not create.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kavrel {

// Creates an empty file exclusively in the folder of `target`, named after it
// with a random part and ".part" ("medV6_raw.a8Zq3k.part"), mode 0666 less
// the umask. Returns its open descriptor (write only, close-on-exec) and sets
// `scratch`; -1 with errno set when no such file can be created.
int createScratchFile(const std::filesystem::path& target, std::filesystem::path& scratch);

// Renames `from` over `to` and makes the rename durable; false with errno set
// when the rename fails.
bool renameInto(const std::filesystem::path& from, const std::filesystem::path& to);

// Lists the target of every file committed under its name (OutputFile,
// ScratchPath) while it lives, so that a run can account for the files it
// wrote. One list at a time: the latest one created receives the names.
class CommittedFiles {
 public:
  CommittedFiles();
  CommittedFiles(const CommittedFiles&) = delete;
  CommittedFiles& operator=(const CommittedFiles&) = delete;
  ~CommittedFiles();

  // Absolute paths in the order of their first commit, each once.
  const std::vector<std::filesystem::path>& paths() const { return paths_; }

 private:
  friend void noteCommitted(const std::filesystem::path& target);
  std::vector<std::filesystem::path> paths_;
  CommittedFiles* outer_ = nullptr;
};

// Adds target to the current CommittedFiles list, if there is one.
void noteCommitted(const std::filesystem::path& target);

// An output file. Raises Fatal naming the target and the system's reason
// ("No space left on device", "File too large", ...) whenever the file can't
// be created, written, flushed, closed or renamed; the scratch file is then
// removed.
class OutputFile {
 public:
  enum class Placement {
    // Written beside the target; commit() renames it into place.
    OnCommit,
    // For files written over the whole run (the run log): created fresh and
    // renamed into place at once, replacing whatever had the name (a link is
    // replaced, its target untouched), then written through the new file.
    AtOnce,
  };

  explicit OutputFile(std::filesystem::path target, Placement placement = Placement::OnCommit);
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Closes the file without reporting; an uncommitted OnCommit file's scratch
  // file is removed and the target left as it was.
  ~OutputFile();

  const std::filesystem::path& target() const { return target_; }
  // The file the data go to: the scratch file, or the target for AtOnce.
  const std::filesystem::path& scratch() const { return scratch_; }
  bool isOpen() const { return fd_ >= 0; }

  // Appends text; it reaches the file at the latest at flush() or commit().
  void write(std::string_view text);
  // Hands every appended byte to the system.
  void flush();
  // Flushes, syncs to disk and closes: the data are complete on disk. An
  // OnCommit file still waits for commit() to take the target's name.
  void finish();
  // finish(), then (OnCommit) renames the scratch file over the target. Does
  // nothing once the file is committed.
  void commit();
  // Closes the file and removes the scratch file (OnCommit) without reporting.
  void discard() noexcept;

 private:
  [[noreturn]] void fail(const char* action, int error);
  void closeQuietly() noexcept;

  std::filesystem::path target_;
  std::filesystem::path scratch_;
  Placement placement_;
  int fd_ = -1;
  bool finished_ = false;   // complete on disk and closed
  bool committed_ = false;  // under the target's name
  std::string buffer_;
};

// A scratch file for a writer that opens its output by name itself (the
// plotting library): reserved exclusively beside the target and closed, so
// that the writer fills a file nobody else has; commit() renames it over the
// target. Destroyed uncommitted, it removes the scratch file.
class ScratchPath {
 public:
  explicit ScratchPath(std::filesystem::path target);
  ScratchPath(const ScratchPath&) = delete;
  ScratchPath& operator=(const ScratchPath&) = delete;
  ~ScratchPath();

  // False when the scratch file couldn't be created; error() says why.
  bool ok() const { return !scratch_.empty(); }
  const std::string& error() const { return error_; }
  const std::filesystem::path& path() const { return scratch_; }

  // Renames the scratch file over the target. False when that fails (error()
  // says why); the scratch file is then removed.
  bool commit();

 private:
  std::filesystem::path target_;
  std::filesystem::path scratch_;
  std::string error_;
  bool committed_ = false;
};

}  // namespace kavrel
