#include "util/outfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "util/fatal.h"

namespace kavrel {

namespace fs = std::filesystem;

namespace {

// Appended text is handed to the system in pieces of about this size.
constexpr std::size_t kBufferSize = 64 * 1024;
// Characters of the random part of a scratch name, and attempts at a name
// that no file has yet.
constexpr int kRandomLength = 6;
constexpr int kNameAttempts = 100;
// Longest file name most file systems accept.
constexpr std::size_t kMaxNameLength = 255;

std::string randomPart() {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static std::mt19937_64 gen{std::random_device{}() ^
                             (static_cast<std::uint64_t>(::getpid()) << 32)};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
  std::string s(kRandomLength, ' ');
  for (char& c : s) c = kChars[pick(gen)];
  return s;
}

// Folder of a path, "." for a bare name.
fs::path folderOf(const fs::path& p) {
  const fs::path parent = p.parent_path();
  return parent.empty() ? fs::path(".") : parent;
}

// Makes a completed rename durable. A failure here leaves a whole file under
// one of the two names either way, so it is not reported.
void syncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}

CommittedFiles* gCommitted = nullptr;

}  // namespace

CommittedFiles::CommittedFiles() : outer_(gCommitted) { gCommitted = this; }

CommittedFiles::~CommittedFiles() {
  if (gCommitted == this) gCommitted = outer_;
}

void noteCommitted(const fs::path& target) {
  if (gCommitted == nullptr) return;
  std::error_code ec;
  fs::path path = fs::absolute(target, ec).lexically_normal();
  if (ec) path = target;
  std::vector<fs::path>& list = gCommitted->paths_;
  if (std::find(list.begin(), list.end(), path) == list.end()) list.push_back(path);
}

int createScratchFile(const fs::path& target, fs::path& scratch) {
  std::string base = target.filename().string();
  const std::size_t extra = 1 + kRandomLength + 5;  // ".", random part, ".part"
  if (base.size() + extra > kMaxNameLength) base.resize(kMaxNameLength - extra);
  const fs::path folder = target.parent_path();
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const fs::path candidate = folder / (base + "." + randomPart() + ".part");
    // O_EXCL fails on any existing name, a link included: the file is new
    // and ours alone.
    const int fd =
        ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      scratch = candidate;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

bool renameInto(const fs::path& from, const fs::path& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) return false;
  syncFolder(folderOf(to));
  return true;
}

// ---------------------------------------------------------------------------
// OutputFile

OutputFile::OutputFile(fs::path target, Placement placement)
    : target_(std::move(target)), placement_(placement) {
  fd_ = createScratchFile(target_, scratch_);
  if (fd_ < 0) {
    const int error = errno;
    scratch_.clear();
    throw Fatal("Cannot create file " + target_.string() + ": " + std::strerror(error));
  }
  if (placement_ == Placement::AtOnce) {
    if (!renameInto(scratch_, target_)) {
      const int error = errno;
      discard();
      throw Fatal("Cannot create file " + target_.string() + ": " + std::strerror(error));
    }
    scratch_ = target_;
    committed_ = true;
    noteCommitted(target_);
  }
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::closeQuietly() noexcept {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  buffer_.clear();
}

void OutputFile::discard() noexcept {
  closeQuietly();
  if (!committed_ && !scratch_.empty()) {
    std::error_code ec;
    fs::remove(scratch_, ec);
    scratch_.clear();
  }
}

void OutputFile::fail(const char* action, int error) {
  discard();
  throw Fatal(std::string("Cannot ") + action + " file " + target_.string() + ": " +
              std::strerror(error));
}

void OutputFile::write(std::string_view text) {
  if (fd_ < 0) fail("write", EBADF);
  buffer_.append(text);
  if (buffer_.size() >= kBufferSize) flush();
}

void OutputFile::flush() {
  if (fd_ < 0) fail("write", EBADF);
  std::size_t done = 0;
  while (done < buffer_.size()) {
    const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("write", errno);
    }
    // A write that takes nothing would loop for ever; the file system is full.
    if (n == 0) fail("write", ENOSPC);
    done += static_cast<std::size_t>(n);
  }
  buffer_.clear();
}

void OutputFile::finish() {
  if (finished_) return;
  flush();
  // The data must be on disk before the file takes the target's name.
  if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) fail("write", errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) fail("write", errno);
  finished_ = true;
}

void OutputFile::commit() {
  if (finished_ && committed_) return;
  finish();
  if (committed_) return;
  if (!renameInto(scratch_, target_)) fail("replace", errno);
  committed_ = true;
  noteCommitted(target_);
  scratch_ = target_;
}

// ---------------------------------------------------------------------------
// ScratchPath

ScratchPath::ScratchPath(fs::path target) : target_(std::move(target)) {
  const int fd = createScratchFile(target_, scratch_);
  if (fd < 0) {
    error_ = std::strerror(errno);
    scratch_.clear();
    return;
  }
  ::close(fd);
}

ScratchPath::~ScratchPath() {
  if (!committed_ && !scratch_.empty()) {
    std::error_code ec;
    fs::remove(scratch_, ec);
  }
}

bool ScratchPath::commit() {
  if (committed_) return true;
  if (scratch_.empty()) return false;
  if (!renameInto(scratch_, target_)) {
    error_ = std::strerror(errno);
    std::error_code ec;
    fs::remove(scratch_, ec);
    scratch_.clear();
    return false;
  }
  committed_ = true;
  noteCommitted(target_);
  return true;
}

}  // namespace kavrel
