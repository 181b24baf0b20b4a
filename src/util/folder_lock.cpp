#include "util/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "util/fatal.h"

namespace kavrel {

FolderLock::~FolderLock() { release(); }

bool FolderLock::tryLock(const std::filesystem::path& folder) {
  release();
  const std::filesystem::path dir = folder.empty() ? std::filesystem::path(".") : folder;
  // Close-on-exec: a shell started by the run must not keep the folder locked.
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    throw Fatal("Cannot open the folder " + dir.string() + ": " + std::strerror(errno));
  }
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error == EINTR) continue;
    ::close(fd);
    if (error == EWOULDBLOCK) return false;
    throw Fatal("Cannot lock the folder " + dir.string() + ": " + std::strerror(error));
  }
  fd_ = fd;
  return true;
}

void FolderLock::release() {
  if (fd_ >= 0) {
    ::close(fd_);  // closing the only descriptor releases the lock
    fd_ = -1;
  }
}

}  // namespace kavrel
