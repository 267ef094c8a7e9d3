// Writers of one archive take turns. Each holds an advisory lock (flock) on the archive itself
// while it reads, rewrites and replaces it; the next one then finds the new archive, so no
// member is lost when two processes add to the same archive. The lock needs no file of its
// own, so a crash leaves nothing behind and the kernel drops the lock with the process.
//
// An archive that does not exist yet cannot be locked: its writer commits it without
// replacing anything (AtomicFile::Open with createOnly) and, when another writer created it
// first (EEXIST), starts over against that archive under its lock.
#pragma once

#include <string>

namespace tavrun::arc {

class ArchiveLock {
 public:
  // Waits for the lock on the regular file `path` names (symlinks followed), and takes it
  // again on the new file when the archive was replaced while waiting. Takes none when
  // nothing stands there, or what stands there cannot be opened or is no regular file (the
  // caller's own checks report those), nor when the host's run is cancelled while it waits:
  // another writer may hold the archive for minutes.
  explicit ArchiveLock(const std::string& path);
  ~ArchiveLock();
  ArchiveLock(const ArchiveLock&) = delete;
  ArchiveLock& operator=(const ArchiveLock&) = delete;

  bool held() const { return fd_ >= 0; }
  // True when the wait ended because the run was cancelled.
  bool cancelled() const { return cancelled_; }

 private:
  int fd_ = -1;
  bool cancelled_ = false;
};

}  // namespace tavrun::arc
