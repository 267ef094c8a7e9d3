#include "archive_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "host.h"

namespace tavrun::arc {
namespace {

// How often a waiting writer looks whether the lock is free or the run cancelled.
constexpr auto kPoll = std::chrono::milliseconds(20);

// Takes the lock on `fd`, waiting for it until the host's run is cancelled; 0 or -1 (errno)
// as flock gives them, ECANCELED when cancelled.
int LockWaiting(int fd) {
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
    if (errno != EWOULDBLOCK && errno != EINTR) return -1;
    if (HostCancelRequested()) {
      errno = ECANCELED;
      return -1;
    }
    std::this_thread::sleep_for(kPoll);
  }
}

// The regular file at `path`, locked; -1 when there is none to lock. `replaced` tells that the
// file was locked but no longer stands at `path`, `cancelled` that the wait was cancelled.
int LockOnce(const std::string& path, bool& replaced, bool& cancelled) {
  replaced = false;
  // O_NONBLOCK: a FIFO in the archive's place must not hang the open.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat locked {};
  int rc = fstat(fd, &locked);
  if (rc == 0 && S_ISREG(locked.st_mode)) {
    rc = LockWaiting(fd);
    cancelled = rc != 0 && errno == ECANCELED;
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
  while (fd_ < 0 && replaced && !cancelled_) fd_ = LockOnce(path, replaced, cancelled_);
}

ArchiveLock::~ArchiveLock() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace tavrun::arc
