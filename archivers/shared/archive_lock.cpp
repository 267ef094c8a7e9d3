#include "archive_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tavrun::arc {
namespace {

// The regular file at `path`, locked; -1 when there is none to lock. `replaced` tells that the
// file was locked but no longer stands at `path`.
int LockOnce(const std::string& path, bool& replaced) {
  replaced = false;
  // O_NONBLOCK: a FIFO in the archive's place must not hang the open.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat locked {};
  int rc = fstat(fd, &locked);
  if (rc == 0 && S_ISREG(locked.st_mode)) {
    while ((rc = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
  }
  if (rc != 0 || !S_ISREG(locked.st_mode)) {
    close(fd);
    return -1;
  }
  // The writer before us renamed its archive over the one we waited for.
  struct stat now {};
  if (stat(path.c_str(), &now) != 0 || now.st_dev != locked.st_dev || now.st_ino != locked.st_ino) {
    close(fd);
    replaced = true;
    return -1;
  }
  return fd;
}

}  // namespace

ArchiveLock::ArchiveLock(const std::string& path) {
  bool replaced = true;
  while (fd_ < 0 && replaced) fd_ = LockOnce(path, replaced);
}

ArchiveLock::~ArchiveLock() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace tavrun::arc
