// Writing extracted members safely below a destination directory, and replacing a file
// atomically. Every file is written to a temporary name in its directory and renamed into
// place, so a failure never leaves a partial file where a good one stood.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace tavrun::arc {

// The process umask, which new files and archives honour.
mode_t ProcessUmask();

// Creates a file in the directory `dirFd` (AT_FDCWD: the current one) that nobody sees before
// it is given a name: an unnamed file (O_TMPFILE) where the file system has them, of which a
// killed process leaves nothing, else a short hidden name of random letters, created
// exclusively and returned in `tempName` for the caller to rename or remove (empty for an
// unnamed file). Needing no longer name than the directory's entries, it works beside files
// whose names take all 255 bytes. The descriptor is open for reading and writing and closed
// on exec; -1 with errno set on failure.
int CreateTemporaryIn(int dirFd, mode_t mode, std::string& tempName);

// Splits a decoded member name on "/" and "\" into components, relative to the destination
// (a leading separator or drive letter is dropped). False (with a reason) for an empty
// result, a ".." component, or NUL / control characters; "." and empty components are
// dropped.
bool SanitizeMemberPath(const std::string& name, std::vector<std::string>& components,
                        std::string& reason);

enum class ExistingFile { None, Regular, ReadOnly, NotRegular };

// A destination directory opened once; every path below it is resolved component by
// component with O_NOFOLLOW, so no symlink is ever followed and nothing lands outside.
class SafeDestination {
 public:
  // Opens the destination directory (which must exist). False with the reason on failure.
  bool Open(const std::string& directory, std::string& error);
  ~SafeDestination();

  // Creates the directories of `components` (all of them when `lastIsFile` is false, all but
  // the last otherwise). Fails on a component that is a symlink or not a directory.
  bool MakeDirectories(const std::vector<std::string>& components, bool lastIsFile,
                       std::string& error);

  // What stands at the path now.
  ExistingFile Existing(const std::vector<std::string>& components) const;
  // Modification time of an existing regular file (0 when none).
  int64_t ExistingMtime(const std::vector<std::string>& components) const;

  // A file being written: an unnamed file in the target's directory where the file system
  // has them (nothing is left behind by a crash), else a temporary name there.
  class Writer {
   public:
    ~Writer();  // removes the temporary file unless committed
    bool Write(const void* data, size_t size, std::string& error);
    // Sets mode (setuid/setgid/sticky removed) and times, then renames into place.
    // With `replace` false an existing entry is never replaced (RENAME_NOREPLACE).
    bool Commit(uint32_t mode, int64_t mtime, bool replace, std::string& error);
    void Discard();

   private:
    friend class SafeDestination;
    bool Place(uint32_t mode, int64_t mtime, bool replace, std::string& error);
    bool LinkUnnamed(bool replace, std::string& error);
    // Reports why the file could not take its name and drops it.
    bool FailToPlace(int e, std::string& error);
    int dirFd_ = -1;
    int fd_ = -1;
    std::string tempName_;  // empty while the file is unnamed (O_TMPFILE)
    std::string finalName_;
    bool done_ = false;
  };
  // Creates the directories and the temporary file for `components`.
  std::unique_ptr<Writer> Create(const std::vector<std::string>& components, std::string& error);

  // Sets the mode and time of a directory below the destination (for stored directories).
  bool SetDirectoryTimes(const std::vector<std::string>& components, int64_t mtime);

 private:
  int OpenParent(const std::vector<std::string>& components, bool create, std::string& error) const;
  int rootFd_ = -1;
};

// A replacement for a whole file (an archive being written or updated): the new content goes
// to an unnamed file in the same directory (a short hidden temporary name where the file
// system has no unnamed files), which Commit links in place or renames over `path`. Nothing
// is left behind unless committed, also when the process is killed (unnamed files). `path` is
// resolved with realpath first when it exists, so a symlinked archive keeps its link.
class AtomicFile {
 public:
  // With `createOnly` the file must not exist: Open fails when something stands at `path`
  // and Commit never replaces what appeared there meanwhile; both fail with errno EEXIST
  // then (the caller's writer lost the race to create it, see archive_lock.h).
  bool Open(const std::string& path, std::string& error, bool createOnly = false);
  ~AtomicFile();
  int fd() const { return fd_; }
  const std::string& finalPath() const { return finalPath_; }
  // Applies `mode` and renames over the final path; when it replaces a file, the data is
  // synced first so a crash leaves the old file or the new one, never an empty one.
  bool Commit(uint32_t mode, std::string& error);
  void Discard();

 private:
  bool Place(uint32_t mode, std::string& error);
  bool LinkUnnamed(bool direct);
  bool Finish(bool rename, std::string& error);

  int fd_ = -1;
  std::string tempPath_;  // empty while the file is unnamed
  std::string finalPath_;
  std::string directory_;
  bool done_ = false;
  bool replacing_ = false;  // something stood at the path when opened
  bool createOnly_ = false;
};

}  // namespace tavrun::arc
