// An exclusive lock on a folder for the whole of a run, so that two runs in
// one folder never write each other's files. The lock is taken on the folder
// itself (flock on a descriptor of it), so no lock file is left in the
// user's folder, and the system releases it when the process ends, however
// it ends.
#pragma once

#include <filesystem>

namespace kavrel {

class FolderLock {
 public:
  FolderLock() = default;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock();

  // Takes the lock on `folder` without waiting. False when another process
  // holds it. Raises Fatal naming the folder when it can't be opened or
  // locked for another reason.
  bool tryLock(const std::filesystem::path& folder);
  bool held() const { return fd_ >= 0; }
  void release();

 private:
  int fd_ = -1;
};

}  // namespace kavrel
