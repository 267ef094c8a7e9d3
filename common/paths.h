// Path and file helpers. Paths use "/" as separator; directory paths that the engine keeps
// end in "/" and are joined to file names by plain concatenation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavrun {

// Appends "/" unless the path already ends with it; "" gives "/".
std::string AddBackslash(const std::string& path, std::string& errorText);

// Fills `names` with the bare names of the plain files in `directory` matching `pattern`
// ("*" and "?" wildcards; "*.*" matches every name). A plain file is a regular file (a symlink
// to one counts) whose name does not start with "." and that is not a FIFO, socket or device.
// No sorting. Returns the count, or -1 with the platform's error text.
int32_t ListFiles(const std::string& directory, const std::string& pattern,
                  std::vector<std::string>& names, std::string& errorText);

// The name without directory part and without its last extension ("a/b.tar.gz" -> "b.tar").
std::string GetBaseName(const std::string& path, std::string& errorText);

// Gives the owner write permission back (the other bits stay). True on success.
bool ResetFileAttributes(const std::string& path, std::string& errorText);

// Deletes a plain file. "ファイルが存在しません" when there is no plain file at `path`,
// "ファイルが読取専用です" for a read-only file unless `allowReadOnly`, else the platform's text.
bool RemoveFile(const std::string& path, bool allowReadOnly, std::string& errorText);

// True when `path` names a plain file (see ListFiles).
bool IsPlainFile(const std::string& path);

// True when a directory search for the exact text finds an entry (file or directory).
bool PathExists(const std::string& path);

// True when `path` names a directory (a symlink to one counts).
bool IsDirectory(const std::string& path);

// Creates one directory level; true on success. (Not named MakeDirectory: that name is the
// settings field of the same meaning in app/settings.h, and both live in this namespace.)
bool MakeDir(const std::string& path, std::string& errorText);

// The platform's description of an errno value.
std::string PlatformErrorText(int errnoValue);

// The real directory of the running executable, without a trailing "/".
std::string ExecutableDirectory();

}  // namespace tavrun
