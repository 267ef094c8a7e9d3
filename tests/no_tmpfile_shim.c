/* Preloaded into a test process to stand for a file system without unnamed files: every
   open with O_TMPFILE fails as such a file system fails it (EOPNOTSUPP). Everything else
   goes to the C library. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>

/* Looked up by the tests, so that they fail when the shim is not in place. */
__attribute__((visibility("default"))) int tavrun_no_tmpfile_shim = 1;

static int ShimRefuse(int flags) {
  return (flags & O_TMPFILE) == O_TMPFILE ? EOPNOTSUPP : 0;
}

static void ShimOpened(int fd, const char* path) {
  (void)fd;
  (void)path;
}

#include "common/open_shim.h"
