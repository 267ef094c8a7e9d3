/* Preloaded into a test process to stand for a disk that fails: a read of a file whose name
   ends in ".eio" fails with EIO once 64 KiB of it have been read. Everything else goes to the
   C library. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

/* Looked up by the tests, so that they fail when the shim is not in place. */
__attribute__((visibility("default"))) int tavrun_eio_shim = 1;

static int Failing(int fd) {
  char link[64], path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t len = readlink(link, path, sizeof path - 1);
  if (len < 4) return 0;
  path[len] = '\0';
  return strcmp(path + len - 4, ".eio") == 0 && lseek(fd, 0, SEEK_CUR) >= 65536;
}

ssize_t read(int fd, void* buf, size_t size) {
  static ssize_t (*real)(int, void*, size_t);
  if (real == NULL) real = (ssize_t(*)(int, void*, size_t))dlsym(RTLD_NEXT, "read");
  if (Failing(fd)) {
    errno = EIO;
    return -1;
  }
  return real(fd, buf, size);
}
