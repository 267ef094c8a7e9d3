/* Preloaded into a test process to stand for a file system without unnamed files: every
   open with O_TMPFILE fails as such a file system fails it (EOPNOTSUPP). Everything else
   goes to the C library. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/types.h>

/* Looked up by the tests, so that they fail when the shim is not in place. */
__attribute__((visibility("default"))) int tavrun_no_tmpfile_shim = 1;

static int Refused(int flags) {
  return (flags & O_TMPFILE) == O_TMPFILE;
}

static mode_t ModeArgument(int flags, va_list ap) {
  return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(ap, mode_t) : 0;
}

#define SHIM_OPEN(name)                                                        \
  int name(const char* path, int flags, ...) {                                 \
    static int (*real)(const char*, int, ...);                                 \
    va_list ap;                                                                \
    va_start(ap, flags);                                                       \
    mode_t mode = ModeArgument(flags, ap);                                     \
    va_end(ap);                                                                \
    if (Refused(flags)) {                                                      \
      errno = EOPNOTSUPP;                                                      \
      return -1;                                                               \
    }                                                                          \
    if (!real) real = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, #name); \
    return real(path, flags, mode);                                            \
  }

#define SHIM_OPENAT(name)                                                           \
  int name(int dirFd, const char* path, int flags, ...) {                           \
    static int (*real)(int, const char*, int, ...);                                 \
    va_list ap;                                                                     \
    va_start(ap, flags);                                                            \
    mode_t mode = ModeArgument(flags, ap);                                          \
    va_end(ap);                                                                     \
    if (Refused(flags)) {                                                           \
      errno = EOPNOTSUPP;                                                           \
      return -1;                                                                    \
    }                                                                               \
    if (!real) real = (int (*)(int, const char*, int, ...))dlsym(RTLD_NEXT, #name); \
    return real(dirFd, path, flags, mode);                                          \
  }

SHIM_OPEN(open)
SHIM_OPEN(open64)
SHIM_OPENAT(openat)
SHIM_OPENAT(openat64)
