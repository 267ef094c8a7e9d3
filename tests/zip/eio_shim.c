/* Preloaded into a test process to stand for a failing disk or a file changed by another
   program while it is read. Files whose path ends with $TAVRUN_SHIM_PATH are watched; once
   $TAVRUN_SHIM_AFTER bytes were read from one open of such a file, the next read either fails
   with EIO ($TAVRUN_SHIM_MODE "eio") or first gives the file a new modification time
   ("touch"). Everything else goes to the C library. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

/* Looked up by the tests, so that they fail when the shim is not in place. */
__attribute__((visibility("default"))) int tavrun_eio_shim = 1;

#define MAX_FDS 4096
static long long readSoFar[MAX_FDS];
static char watched[MAX_FDS];

static int Watched(const char* path) {
  const char* tail = getenv("TAVRUN_SHIM_PATH");
  if (path == NULL || tail == NULL || *tail == '\0') return 0;
  size_t n = strlen(path), t = strlen(tail);
  return n >= t && strcmp(path + n - t, tail) == 0;
}

static void Track(int fd, const char* path) {
  if (fd < 0 || fd >= MAX_FDS) return;
  watched[fd] = (char)Watched(path);
  readSoFar[fd] = 0;
}

/* 0 when the read may go on; -1 (errno EIO) when it fails. */
static int Intercept(int fd, size_t count) {
  if (fd < 0 || fd >= MAX_FDS || !watched[fd]) return 0;
  const char* after = getenv("TAVRUN_SHIM_AFTER");
  const char* mode = getenv("TAVRUN_SHIM_MODE");
  if (readSoFar[fd] < (after ? atoll(after) : 0)) {
    readSoFar[fd] += (long long)count;
    return 0;
  }
  if (mode != NULL && strcmp(mode, "touch") == 0) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
    futimens(fd, times);
    watched[fd] = 0;
    return 0;
  }
  errno = EIO;
  return -1;
}

static int ShimRefuse(int flags) {
  (void)flags;
  return 0;
}

static void ShimOpened(int fd, const char* path) {
  Track(fd, path);
}

#include "common/open_shim.h"

ssize_t read(int fd, void* buf, size_t count) {
  static ssize_t (*real)(int, void*, size_t);
  if (!real) real = (ssize_t(*)(int, void*, size_t))dlsym(RTLD_NEXT, "read");
  if (Intercept(fd, count) != 0) return -1;
  return real(fd, buf, count);
}

#define SHIM_PREAD(name)                                                              \
  ssize_t name(int fd, void* buf, size_t count, off_t offset) {                       \
    static ssize_t (*real)(int, void*, size_t, off_t);                                \
    if (!real) real = (ssize_t(*)(int, void*, size_t, off_t))dlsym(RTLD_NEXT, #name); \
    if (Intercept(fd, count) != 0) return -1;                                         \
    return real(fd, buf, count, offset);                                              \
  }

SHIM_PREAD(pread)
SHIM_PREAD(pread64)
