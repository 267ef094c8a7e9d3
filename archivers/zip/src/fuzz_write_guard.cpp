#include "fuzz_write_guard.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

extern "C" {
int __real_openat(int dirfd, const char* path, int flags, ...);
int __real_mkdirat(int dirfd, const char* path, mode_t mode);
int __real_renameat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath);
int __real_renameat2(int olddirfd, const char* oldpath, int newdirfd, const char* newpath,
                     unsigned flags);
int __real_linkat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, int flags);
int __real_symlinkat(const char* target, int newdirfd, const char* linkpath);
int __real_unlinkat(int dirfd, const char* path, int flags);
int __real_fchmod(int fd, mode_t mode);
int __real_fchmodat(int dirfd, const char* path, mode_t mode, int flags);
int __real_futimens(int fd, const struct timespec times[2]);
int __real_utimensat(int dirfd, const char* path, const struct timespec times[2], int flags);
}

namespace tavrun::fuzz {

namespace {

std::string& Allowed() {
  static std::string allowed;
  return allowed;
}

std::string FdPath(int fd) {
  if (fd == AT_FDCWD) {
    char buf[PATH_MAX];
    return getcwd(buf, sizeof buf) ? buf : "";
  }
  char buf[PATH_MAX];
  std::string link = "/proc/self/fd/" + std::to_string(fd);
  ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, size_t(n)) : "";
}

// Aborts when `dirfd`/`path` (a descriptor alone when `path` is null) is not the allowed
// directory or below it.
void Check(const char* what, int dirfd, const char* path) {
  const std::string& allowed = Allowed();
  if (allowed.empty()) return;
  std::filesystem::path full;
  if (path != nullptr && path[0] == '/')
    full = path;
  else
    full = std::filesystem::path(FdPath(dirfd)) / (path ? path : "");
  std::string normal = full.lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  if (normal == allowed || normal.rfind(allowed + "/", 0) == 0) return;
  fprintf(stderr, "write outside the destination: %s %s (allowed: %s)\n", what, normal.c_str(),
          allowed.c_str());
  abort();
}

}  // namespace

void AllowWritesBelow(const std::string& directory) {
  char buf[PATH_MAX];
  Allowed() = directory.empty() || realpath(directory.c_str(), buf) == nullptr ? directory : buf;
}

}  // namespace tavrun::fuzz

using tavrun::fuzz::Check;

extern "C" {

int __wrap_openat(int dirfd, const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | __O_TMPFILE)) {
    va_list ap;
    va_start(ap, flags);
    mode = mode_t(va_arg(ap, int));
    va_end(ap);
  }
  if (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | __O_TMPFILE)) Check("open", dirfd, path);
  return __real_openat(dirfd, path, flags, mode);
}
int __wrap_mkdirat(int dirfd, const char* path, mode_t mode) {
  Check("mkdir", dirfd, path);
  return __real_mkdirat(dirfd, path, mode);
}
int __wrap_renameat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath) {
  Check("rename from", olddirfd, oldpath);
  Check("rename to", newdirfd, newpath);
  return __real_renameat(olddirfd, oldpath, newdirfd, newpath);
}
int __wrap_renameat2(int olddirfd, const char* oldpath, int newdirfd, const char* newpath,
                     unsigned flags) {
  Check("rename from", olddirfd, oldpath);
  Check("rename to", newdirfd, newpath);
  return __real_renameat2(olddirfd, oldpath, newdirfd, newpath, flags);
}
int __wrap_linkat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, int flags) {
  Check("link", newdirfd, newpath);
  return __real_linkat(olddirfd, oldpath, newdirfd, newpath, flags);
}
int __wrap_symlinkat(const char* target, int newdirfd, const char* linkpath) {
  Check("symlink", newdirfd, linkpath);
  return __real_symlinkat(target, newdirfd, linkpath);
}
int __wrap_unlinkat(int dirfd, const char* path, int flags) {
  Check("unlink", dirfd, path);
  return __real_unlinkat(dirfd, path, flags);
}
int __wrap_fchmod(int fd, mode_t mode) {
  Check("chmod", fd, nullptr);
  return __real_fchmod(fd, mode);
}
int __wrap_fchmodat(int dirfd, const char* path, mode_t mode, int flags) {
  Check("chmod", dirfd, path);
  return __real_fchmodat(dirfd, path, mode, flags);
}
int __wrap_futimens(int fd, const struct timespec times[2]) {
  Check("set times", fd, nullptr);
  return __real_futimens(fd, times);
}
int __wrap_utimensat(int dirfd, const char* path, const struct timespec times[2], int flags) {
  Check("set times", dirfd, path);
  return __real_utimensat(dirfd, path, times, flags);
}

}  // extern "C"
