// libFuzzer target over the reading paths: the archive check in both modes and a full
// extraction into a scratch directory. Every call that creates, changes or removes an entry
// is intercepted (the target links with --wrap for them), and each one must land inside the
// destination: not merely inside the scratch directory, anywhere at all.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "unlha32.h"

extern "C" {
int __real_open(const char* path, int flags, ...);
int __real_openat(int dirfd, const char* path, int flags, ...);
int __real_mkdir(const char* path, mode_t mode);
int __real_mkdirat(int dirfd, const char* path, mode_t mode);
int __real_linkat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, int flags);
int __real_symlinkat(const char* target, int newdirfd, const char* linkpath);
int __real_rename(const char* oldpath, const char* newpath);
int __real_renameat2(int olddirfd, const char* oldpath, int newdirfd, const char* newpath,
                     unsigned flags);
int __real_unlink(const char* path);
int __real_unlinkat(int dirfd, const char* path, int flags);
int __real_rmdir(const char* path);
int __real_utimensat(int dirfd, const char* path, const struct timespec times[2], int flags);
int __real_fchmodat(int dirfd, const char* path, mode_t mode, int flags);
int __real_mkostemp(char* templ, int flags);
}

namespace {

std::string g_root;
std::string g_dest;    // real path of the destination
bool g_guard = false;  // on while the library runs

std::string DirectoryOf(int dirfd) {
  char buf[PATH_MAX];
  if (dirfd == AT_FDCWD) return getcwd(buf, sizeof buf) ? buf : "";
  const std::string link = "/proc/self/fd/" + std::to_string(dirfd);
  const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
}

// The real location of `path` (relative to `dirfd`): its parent resolved, its last
// component as given.
std::string Locate(int dirfd, const char* path) {
  std::string full = path[0] == '/' ? path : DirectoryOf(dirfd) + "/" + path;
  while (full.size() > 1 && full.back() == '/') full.pop_back();
  const size_t slash = full.rfind('/');
  const std::string parent = slash == 0 ? "/" : full.substr(0, slash),
                    last = full.substr(slash + 1);
  char buf[PATH_MAX];
  if (!realpath(parent.c_str(), buf)) return full;  // a missing parent: the call fails anyway
  return std::string(buf) + "/" + last;
}

void Check(int dirfd, const char* path, const char* what) {
  if (!g_guard || !path) return;
  const std::string where = Locate(dirfd, path);
  const bool below = where.compare(0, g_dest.size() + 1, g_dest + "/") == 0;
  const bool climbs = where.find("/../", g_dest.size()) != std::string::npos ||
                      (where.size() >= 3 && where.compare(where.size() - 3, 3, "/..") == 0);
  if (below && !climbs) return;
  std::fprintf(stderr, "%s outside the destination: %s\n", what, where.c_str());
  abort();
}

bool Writes(int flags) {
  return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0;
}

}  // namespace

extern "C" {
int __wrap_open(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = static_cast<mode_t>(va_arg(ap, int));
  va_end(ap);
  if (Writes(flags)) Check(AT_FDCWD, path, "open");
  return __real_open(path, flags, mode);
}
int __wrap_openat(int dirfd, const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = static_cast<mode_t>(va_arg(ap, int));
  va_end(ap);
  if (Writes(flags)) Check(dirfd, path, "openat");
  return __real_openat(dirfd, path, flags, mode);
}
int __wrap_mkdir(const char* path, mode_t mode) {
  Check(AT_FDCWD, path, "mkdir");
  return __real_mkdir(path, mode);
}
int __wrap_mkdirat(int dirfd, const char* path, mode_t mode) {
  Check(dirfd, path, "mkdirat");
  return __real_mkdirat(dirfd, path, mode);
}
int __wrap_linkat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, int flags) {
  Check(newdirfd, newpath, "linkat");
  return __real_linkat(olddirfd, oldpath, newdirfd, newpath, flags);
}
int __wrap_symlinkat(const char* target, int newdirfd, const char* linkpath) {
  if (g_guard) {
    std::fprintf(stderr, "symbolic link created: %s\n", linkpath);
    abort();
  }
  return __real_symlinkat(target, newdirfd, linkpath);
}
int __wrap_rename(const char* oldpath, const char* newpath) {
  Check(AT_FDCWD, oldpath, "rename");
  Check(AT_FDCWD, newpath, "rename");
  return __real_rename(oldpath, newpath);
}
int __wrap_renameat2(int olddirfd, const char* oldpath, int newdirfd, const char* newpath,
                     unsigned flags) {
  Check(olddirfd, oldpath, "renameat2");
  Check(newdirfd, newpath, "renameat2");
  return __real_renameat2(olddirfd, oldpath, newdirfd, newpath, flags);
}
int __wrap_unlink(const char* path) {
  Check(AT_FDCWD, path, "unlink");
  return __real_unlink(path);
}
int __wrap_unlinkat(int dirfd, const char* path, int flags) {
  Check(dirfd, path, "unlinkat");
  return __real_unlinkat(dirfd, path, flags);
}
int __wrap_rmdir(const char* path) {
  Check(AT_FDCWD, path, "rmdir");
  return __real_rmdir(path);
}
int __wrap_utimensat(int dirfd, const char* path, const struct timespec times[2], int flags) {
  if (path) Check(dirfd, path, "utimensat");
  return __real_utimensat(dirfd, path, times, flags);
}
int __wrap_fchmodat(int dirfd, const char* path, mode_t mode, int flags) {
  Check(dirfd, path, "fchmodat");
  return __real_fchmodat(dirfd, path, mode, flags);
}
int __wrap_mkostemp(char* templ, int flags) {
  Check(AT_FDCWD, templ, "mkostemp");
  return __real_mkostemp(templ, flags);
}
}

namespace {

void RemoveTree(const std::string& path) {
  DIR* d = opendir(path.c_str());
  if (!d) {
    unlink(path.c_str());
    return;
  }
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    std::string p = path + "/" + n;
    if (e->d_type == DT_DIR)
      RemoveTree(p);
    else
      unlink(p.c_str());
  }
  closedir(d);
  rmdir(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (g_root.empty()) {
    char templ[] = "/tmp/fuzz_lzh.XXXXXX";
    if (!mkdtemp(templ)) return 0;
    char real[PATH_MAX];
    if (!realpath(templ, real)) return 0;
    g_root = real;
    g_dest = g_root + "/out";
  }
  const std::string archive = g_root + "/in.lzh";
  RemoveTree(g_dest);
  mkdir(g_dest.c_str(), 0700);
  FILE* f = std::fopen(archive.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  g_guard = true;
  UnlhaCheckArchive(archive.c_str(), 1);
  UnlhaCheckArchive(archive.c_str(), 2);
  char out[64];
  const std::string line = "E -x1 -y1 -c1 -n1 \"" + archive + "\" \"" + g_dest + "/\"";
  Unlha(0, line.c_str(), out, sizeof out);
  g_guard = false;

  // And after the fact: nothing but the archive and the destination in the scratch directory.
  DIR* d = opendir(g_root.c_str());
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n != "." && n != ".." && n != "in.lzh" && n != "out") {
      std::fprintf(stderr, "written outside the destination: %s\n", n.c_str());
      abort();
    }
  }
  closedir(d);
  return 0;
}
