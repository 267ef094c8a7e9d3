/* The open calls of a test shim preloaded into a test process. A shim defines
     static int ShimRefuse(int flags);             -- an errno to fail the open with, or 0
     static void ShimOpened(int fd, const char* path);  -- sees each descriptor opened
   and then includes this file, which defines open, open64, openat and openat64 in terms of
   the C library's own. */
#ifndef TAVRUN_TESTS_OPEN_SHIM_H
#define TAVRUN_TESTS_OPEN_SHIM_H

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/types.h>

static mode_t ShimModeArgument(int flags, va_list ap) {
  return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(ap, mode_t) : 0;
}

/* What every wrapper does around the C library's call: takes the mode argument, fails as the
   shim asks, or calls `real` (looked up once) with `args` and shows the shim the descriptor. */
#define SHIM_FORWARD(type, name, args)             \
  static type real;                                \
  va_list ap;                                      \
  va_start(ap, flags);                             \
  mode_t mode = ShimModeArgument(flags, ap);       \
  va_end(ap);                                      \
  const int refused = ShimRefuse(flags);           \
  if (refused != 0) {                              \
    errno = refused;                               \
    return -1;                                     \
  }                                                \
  if (!real) real = (type)dlsym(RTLD_NEXT, #name); \
  const int fd = real args;                        \
  ShimOpened(fd, path);                            \
  return fd;

typedef int (*ShimOpenFunction)(const char*, int, ...);
typedef int (*ShimOpenAtFunction)(int, const char*, int, ...);

#define SHIM_OPEN(name)                                       \
  int name(const char* path, int flags, ...) {                \
    SHIM_FORWARD(ShimOpenFunction, name, (path, flags, mode)) \
  }

#define SHIM_OPENAT(name)                                              \
  int name(int dirFd, const char* path, int flags, ...) {              \
    SHIM_FORWARD(ShimOpenAtFunction, name, (dirFd, path, flags, mode)) \
  }

SHIM_OPEN(open)
SHIM_OPEN(open64)
SHIM_OPENAT(openat)
SHIM_OPENAT(openat64)

#endif
