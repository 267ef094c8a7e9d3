#include "safe_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string_view>

#include "file_io.h"
#include "host.h"
#include "member_names.h"
#include "outcome.h"

namespace tavrun::arc {

namespace {

std::string RandomSuffix() {
  static std::atomic<unsigned> counter{0};
  static thread_local std::mt19937 rng(std::random_device{}());
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string s;
  unsigned mix = rng() ^ (counter.fetch_add(1) * 2654435761u);
  for (int i = 0; i < 8; ++i) {
    s += kChars[mix % 36];
    mix = mix / 36 ^ rng();
  }
  return s;
}

// A short hidden name for a file on its way into place.
std::string TemporaryName() {
  return ".tavrun-" + RandomSuffix() + ".tmp";
}

// Gives the open unnamed file `fd` the name `name` (relative to `dirFd`). The /proc link
// needs no privilege; AT_EMPTY_PATH is the way where /proc is not mounted. -1 with errno set
// on failure (EEXIST when the name is taken).
int LinkOpenFile(int fd, int dirFd, const std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  int rc = linkat(AT_FDCWD, self.c_str(), dirFd, name.c_str(), AT_SYMLINK_FOLLOW);
  if (rc != 0 && errno == ENOENT) rc = linkat(fd, "", dirFd, name.c_str(), AT_EMPTY_PATH);
  return rc;
}

timespec ToTimespec(int64_t seconds) {
  timespec t{};
  t.tv_sec = static_cast<time_t>(seconds);
  t.tv_nsec = 0;
  return t;
}

// Opens the first `count` components below `rootFd` as directories without following any
// symlink; creates missing ones when asked. Returns a new descriptor or -1.
int WalkDirectories(int rootFd, const std::vector<std::string>& components, size_t count,
                    bool create, std::string& error, int* lastErrno = nullptr) {
  int fd = fcntl(rootFd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) {
    error = ErrnoText("cannot open the destination", errno);
    return -1;
  }
  for (size_t i = 0; i < count; ++i) {
    const std::string& name = components[i];
    int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0 && errno == ENOENT && create) {
      if (mkdirat(fd, name.c_str(), 0777) != 0 && errno != EEXIST) {
        int e = errno;
        error = ErrnoText("cannot create directory " + name, e);
        if (lastErrno) *lastErrno = e;
        close(fd);
        return -1;
      }
      next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (next < 0) {
      int e = errno;
      if (e == ELOOP || e == ENOTDIR)
        error = "path component is a symbolic link or not a directory: " + name;
      else
        error = ErrnoText("cannot open directory " + name, e);
      if (lastErrno) *lastErrno = e;
      close(fd);
      return -1;
    }
    close(fd);
    fd = next;
  }
  return fd;
}

// Gives `from` the name `to` unless something stands there (EEXIST then); a hard link where the
// file system has no RENAME_NOREPLACE.
bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (link(from.c_str(), to.c_str()) != 0) return false;
  unlink(from.c_str());
  return true;
}

}  // namespace

mode_t ProcessUmask() {
  // Read once. /proc tells it without changing it; umask() can only be read by setting it,
  // which races with files other threads create meanwhile.
  static const mode_t mask = [] {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind("Umask:", 0) == 0)
        return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
    mode_t m = umask(022);
    umask(m);
    return m;
  }();
  return mask;
}

int CreateTemporaryIn(int dirFd, mode_t mode, std::string& tempName) {
  tempName.clear();
  int fd = openat(dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
  if (fd >= 0) return fd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = TemporaryName();
    fd = openat(dirFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      tempName = name;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;  // errno is EEXIST
}

bool SanitizeMemberPath(const std::string& name, std::vector<std::string>& components,
                        std::string& reason) {
  components.clear();
  if (name.empty()) {
    reason = "empty member name";
    return false;
  }
  if (HasControlCharacter(name)) {
    reason = "member name contains a control character";
    return false;
  }
  // Absolute names and drive letters are read as relative to the destination, as other
  // readers do: the separators that follow them are dropped with the empty components.
  size_t from = 0;
  if (name.size() >= 2 && name[1] == ':' &&
      ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
    from = 2;
  std::string part;
  auto flush = [&]() -> bool {
    if (part == "..") {
      reason = "member name leads out of the destination: " + name;
      return false;
    }
    if (!part.empty() && part != ".") components.push_back(part);
    part.clear();
    return true;
  };
  for (char c : std::string_view(name).substr(from)) {
    if (c == '/' || c == '\\') {
      if (!flush()) return false;
    } else {
      part += c;
    }
  }
  if (!flush()) return false;
  if (components.empty()) {
    reason = "member name has no file name: " + name;
    return false;
  }
  return true;
}

SafeDestination::~SafeDestination() {
  if (rootFd_ >= 0) close(rootFd_);
}

bool SafeDestination::Open(const std::string& directory, std::string& error) {
  if (rootFd_ >= 0) close(rootFd_);
  rootFd_ = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (rootFd_ < 0) {
    error = ErrnoText("cannot open the destination directory " + directory, errno);
    return false;
  }
  return true;
}

int SafeDestination::OpenParent(const std::vector<std::string>& components, bool create,
                                std::string& error) const {
  if (rootFd_ < 0) {
    error = "destination not open";
    return -1;
  }
  if (components.empty()) {
    error = "empty path";
    return -1;
  }
  return WalkDirectories(rootFd_, components, components.size() - 1, create, error);
}

bool SafeDestination::MakeDirectories(const std::vector<std::string>& components, bool lastIsFile,
                                      std::string& error) {
  if (rootFd_ < 0) {
    error = "destination not open";
    return false;
  }
  size_t count = lastIsFile ? (components.empty() ? 0 : components.size() - 1) : components.size();
  int fd = WalkDirectories(rootFd_, components, count, true, error);
  if (fd < 0) return false;
  close(fd);
  return true;
}

ExistingFile SafeDestination::Existing(const std::vector<std::string>& components) const {
  std::string error;
  int err = 0;
  if (rootFd_ < 0 || components.empty()) return ExistingFile::None;
  int dir = WalkDirectories(rootFd_, components, components.size() - 1, false, error, &err);
  if (dir < 0) return err == ENOENT ? ExistingFile::None : ExistingFile::NotRegular;
  struct stat st {};
  int rc = fstatat(dir, components.back().c_str(), &st, AT_SYMLINK_NOFOLLOW);
  int e = errno;
  close(dir);
  if (rc != 0) return e == ENOENT ? ExistingFile::None : ExistingFile::NotRegular;
  if (!S_ISREG(st.st_mode)) return ExistingFile::NotRegular;
  return (st.st_mode & S_IWUSR) ? ExistingFile::Regular : ExistingFile::ReadOnly;
}

int64_t SafeDestination::ExistingMtime(const std::vector<std::string>& components) const {
  std::string error;
  if (rootFd_ < 0 || components.empty()) return 0;
  int dir = WalkDirectories(rootFd_, components, components.size() - 1, false, error);
  if (dir < 0) return 0;
  struct stat st {};
  int rc = fstatat(dir, components.back().c_str(), &st, AT_SYMLINK_NOFOLLOW);
  close(dir);
  if (rc != 0 || !S_ISREG(st.st_mode)) return 0;
  return static_cast<int64_t>(st.st_mtime);
}

std::unique_ptr<SafeDestination::Writer> SafeDestination::Create(
    const std::vector<std::string>& components, std::string& error) {
  int dir = OpenParent(components, true, error);
  if (dir < 0) return nullptr;
  auto writer = std::unique_ptr<Writer>(new Writer());
  writer->dirFd_ = dir;
  writer->finalName_ = components.back();
  writer->fd_ = CreateTemporaryIn(dir, 0600, writer->tempName_);
  if (writer->fd_ < 0) {
    error = ErrnoText("cannot create a file in the destination", errno);
    return nullptr;  // the writer's destructor closes dir
  }
  return writer;
}

bool SafeDestination::SetDirectoryTimes(const std::vector<std::string>& components, int64_t mtime) {
  std::string error;
  if (rootFd_ < 0) return false;
  int fd = WalkDirectories(rootFd_, components, components.size(), false, error);
  if (fd < 0) return false;
  timespec times[2] = {ToTimespec(mtime), ToTimespec(mtime)};
  bool ok = futimens(fd, times) == 0;
  close(fd);
  return ok;
}

SafeDestination::Writer::~Writer() {
  if (!done_) Discard();
  if (dirFd_ >= 0) close(dirFd_);
}

bool SafeDestination::Writer::Write(const void* data, size_t size, std::string& error) {
  if (WriteAll(fd_, data, size)) return true;
  error = ErrnoText("cannot write " + finalName_, errno);
  return false;
}

bool SafeDestination::Writer::Commit(uint32_t mode, int64_t mtime, bool replace,
                                     std::string& error) {
  if (!Place(mode, mtime, replace, error)) return false;
  ReportWritten(finalName_);
  return true;
}

bool SafeDestination::Writer::Place(uint32_t mode, int64_t mtime, bool replace,
                                    std::string& error) {
  if (done_ || fd_ < 0) {
    error = "file already finished";
    return false;
  }
  mode_t perm = static_cast<mode_t>(mode) & 0777;  // never setuid, setgid or sticky
  if (perm == 0) perm = 0666;
  perm &= ~ProcessUmask();
  if (fchmod(fd_, perm) != 0) {
    error = ErrnoText("cannot set the mode of " + finalName_, errno);
    Discard();
    return false;
  }
  timespec times[2] = {ToTimespec(mtime), ToTimespec(mtime)};
  futimens(fd_, times);  // a file system without times keeps the data anyway
  if (tempName_.empty()) return LinkUnnamed(replace, error);
  if (close(fd_) != 0) {
    fd_ = -1;
    error = ErrnoText("cannot write " + finalName_, errno);
    Discard();
    return false;
  }
  fd_ = -1;
  int rc = renameat2(dirFd_, tempName_.c_str(), dirFd_, finalName_.c_str(),
                     replace ? 0 : RENAME_NOREPLACE);
  if (rc != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {
    // File systems without RENAME_NOREPLACE: a hard link fails on an existing name too.
    rc = linkat(dirFd_, tempName_.c_str(), dirFd_, finalName_.c_str(), 0);
    if (rc == 0) unlinkat(dirFd_, tempName_.c_str(), 0);
  }
  if (rc != 0) return FailToPlace(errno, error);
  done_ = true;
  return true;
}

bool SafeDestination::Writer::LinkUnnamed(bool replace, std::string& error) {
  // Without replacing, the link itself fails on an existing name; a replacement gets a
  // temporary name for the moment it takes to rename it over the old file.
  std::string name = finalName_;
  if (replace) name = TemporaryName();
  int rc = LinkOpenFile(fd_, dirFd_, name);
  int e = errno;
  const bool closed = close(fd_) == 0;
  if (rc == 0 && !closed) e = errno;
  fd_ = -1;
  if (rc == 0 && closed && replace) {
    tempName_ = name;  // removed by Discard should the rename fail
    rc = renameat(dirFd_, name.c_str(), dirFd_, finalName_.c_str());
    e = errno;
  } else if (rc == 0 && !closed) {
    unlinkat(dirFd_, name.c_str(), 0);
    rc = -1;
  }
  if (rc != 0) return FailToPlace(e, error);
  done_ = true;
  return true;
}

bool SafeDestination::Writer::FailToPlace(int e, std::string& error) {
  error = e == EEXIST ? finalName_ + " already exists"
                      : ErrnoText("cannot put " + finalName_ + " in place", e);
  Discard();
  return false;
}

void SafeDestination::Writer::Discard() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  if (!done_ && dirFd_ >= 0 && !tempName_.empty()) unlinkat(dirFd_, tempName_.c_str(), 0);
  done_ = true;
}

bool AtomicFile::Open(const std::string& path, std::string& error, bool createOnly) {
  finalPath_ = path;
  replacing_ = false;
  createOnly_ = createOnly;
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    if (createOnly && stat(path.c_str(), &st) == 0) {
      error = ErrnoText("cannot create " + path, EEXIST);
      errno = EEXIST;
      return false;
    }
    replacing_ = true;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) {
      error = ErrnoText("cannot resolve " + path, errno);
      return false;
    }
    finalPath_ = resolved;
  }
  const size_t slash = finalPath_.rfind('/');
  directory_ = slash == std::string::npos ? "./" : finalPath_.substr(0, slash + 1);
  // An unnamed file where possible: a process killed before the commit leaves nothing
  // behind, and the name of the archive needs no room for a suffix.
  std::string name;
  const int dir = open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  fd_ = dir < 0 ? -1 : CreateTemporaryIn(dir, 0600, name);
  const int e = errno;
  if (dir >= 0) close(dir);
  if (fd_ < 0) {
    error = ErrnoText("cannot create a temporary file beside " + finalPath_, e);
    errno = e;
    return false;
  }
  tempPath_ = name.empty() ? "" : directory_ + name;
  done_ = false;
  return true;
}

AtomicFile::~AtomicFile() {
  if (!done_) Discard();
}

// Gives the unnamed file a short name of its own beside the archive, or the archive's name
// itself when nothing stands there (the link then fails rather than replace a newcomer).
bool AtomicFile::LinkUnnamed(bool direct) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = direct ? finalPath_ : directory_ + TemporaryName();
    if (LinkOpenFile(fd_, AT_FDCWD, name) == 0) {
      if (!direct) tempPath_ = name;
      return true;
    }
    if (direct || errno != EEXIST) return false;
  }
  return false;
}

bool AtomicFile::Commit(uint32_t mode, std::string& error) {
  if (!Place(mode, error)) return false;
  ReportWritten(finalPath_);
  return true;
}

bool AtomicFile::Place(uint32_t mode, std::string& error) {
  if (done_ || fd_ < 0) {
    error = "file already finished";
    return false;
  }
  // Only a replacement needs the data on disk before the rename: after a crash the old
  // file must still be there. A new file has nothing to lose, and one sync per small
  // archive would dominate a batch of thousands.
  if (replacing_ && fsync(fd_) != 0) {
    error = ErrnoText("cannot write " + finalPath_, errno);
    Discard();
    return false;
  }
  fchmod(fd_, static_cast<mode_t>(mode) & 0777);
  if (tempPath_.empty()) {
    // A new archive is linked in place at once; a replacement (or a name taken meanwhile)
    // goes through a short temporary name renamed over the old file.
    if (!replacing_ && LinkUnnamed(true)) {
      return Finish(false, error);
    }
    if (createOnly_) {
      error = ErrnoText("cannot create " + finalPath_, errno);
      Discard();
      return false;
    }
    if (!LinkUnnamed(false)) {
      error = ErrnoText("cannot create a temporary file beside " + finalPath_, errno);
      Discard();
      return false;
    }
  }
  return Finish(true, error);
}

bool AtomicFile::Finish(bool rename, std::string& error) {
  if (close(fd_) != 0) {
    const int e = errno;
    fd_ = -1;
    error = ErrnoText("cannot write " + finalPath_, e);
    if (!rename) unlink(finalPath_.c_str());
    errno = e;
    Discard();
    return false;
  }
  fd_ = -1;
  if (rename && !(createOnly_ ? RenameNoReplace(tempPath_, finalPath_)
                              : ::rename(tempPath_.c_str(), finalPath_.c_str()) == 0)) {
    error = ErrnoText((createOnly_ ? "cannot create " : "cannot replace ") + finalPath_, errno);
    Discard();
    return false;
  }
  done_ = true;
  return true;
}

void AtomicFile::Discard() {
  const int e = errno;  // the cause of a failure that led here stays for the caller
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  if (!done_ && !tempPath_.empty()) unlink(tempPath_.c_str());
  done_ = true;
  errno = e;
}

}  // namespace tavrun::arc
