#include "common/paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string_view>

namespace tavrun {
namespace {

char FoldAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// "*" and "?" matching with ASCII case folding, as directory searches have always matched.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0;
  std::size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || FoldAscii(pattern[p]) == FoldAscii(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// A pattern ending in ".*" also matches names without any dot ("*.*" matches every name).
bool PatternMatches(std::string_view pattern, std::string_view name) {
  if (WildcardMatch(pattern, name)) return true;
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
      name.find('.') == std::string_view::npos) {
    return WildcardMatch(pattern.substr(0, pattern.size() - 2), name);
  }
  return false;
}

std::string LastComponent(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsHiddenName(std::string_view name) {
  return !name.empty() && name.front() == '.';
}

}  // namespace

std::string PlatformErrorText(int errnoValue) {
  char buffer[256];
  // The GNU variant returns a pointer that may or may not be the buffer.
  const char* text = strerror_r(errnoValue, buffer, sizeof buffer);
  return text != nullptr ? std::string(text) : std::string("error ") + std::to_string(errnoValue);
}

std::string AddBackslash(const std::string& path, std::string& errorText) {
  try {
    if (!path.empty() && path.back() == '/') return path;
    return path + "/";
  } catch (const std::exception& e) {
    errorText = e.what();
    return path;
  }
}

int32_t ListFiles(const std::string& directory, const std::string& pattern,
                  std::vector<std::string>& names, std::string& errorText) {
  try {
    names.clear();
    std::string dirPath = AddBackslash(directory, errorText);
    DIR* dir = ::opendir(dirPath.c_str());
    if (dir == nullptr) {
      errorText = PlatformErrorText(errno);
      return -1;
    }
    int dirFd = ::dirfd(dir);
    for (;;) {
      errno = 0;
      dirent* entry = ::readdir(dir);
      if (entry == nullptr) {
        if (errno != 0) {
          errorText = PlatformErrorText(errno);
          ::closedir(dir);
          return -1;
        }
        break;
      }
      std::string_view name = entry->d_name;
      if (IsHiddenName(name) || !PatternMatches(pattern, name)) continue;
      struct stat st {};
      // Following a link: a link to a regular file lists like the file; a dangling one not.
      if (::fstatat(dirFd, entry->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
      names.emplace_back(name);
    }
    ::closedir(dir);
    if (names.size() > static_cast<std::size_t>(INT32_MAX)) {
      errorText = PlatformErrorText(EOVERFLOW);
      return -1;
    }
    return static_cast<int32_t>(names.size());
  } catch (const std::exception& e) {
    errorText = e.what();
    return -1;
  }
}

std::string GetBaseName(const std::string& path, std::string& errorText) {
  try {
    std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    // 1-based positions, 0 when absent.
    std::size_t b = slash == std::string::npos ? 0 : slash + 1;
    std::size_t d = dot == std::string::npos ? 0 : dot + 1;
    if (b < d) return path.substr(b, d - b - 1);
    if (b > d) return path.substr(b);
    return path;
  } catch (const std::exception& e) {
    errorText = e.what();
    return path;
  }
}

// True for a plain file, with its status (of the target, for a symlink) in `st`.
static bool StatPlainFile(const std::string& path, struct stat& st) {
  if (path.empty() || IsHiddenName(LastComponent(path))) return false;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsPlainFile(const std::string& path) {
  struct stat st {};
  return StatPlainFile(path, st);
}

bool ResetFileAttributes(const std::string& path, std::string& errorText) {
  try {
    struct stat st {};
    if (!StatPlainFile(path, st) || (st.st_mode & S_IWUSR) != 0) return true;
    if (::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) != 0) {
      errorText = PlatformErrorText(errno);
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    errorText = e.what();
    return false;
  }
}

bool RemoveFile(const std::string& path, bool allowReadOnly, std::string& errorText) {
  try {
    struct stat st {};
    if (!StatPlainFile(path, st)) {
      errorText = "ファイルが存在しません";
      return false;
    }
    if ((st.st_mode & S_IWUSR) == 0) {
      if (!allowReadOnly) {
        errorText = "ファイルが読取専用です";
        return false;
      }
      // Removing a link never needs the file it points to changed.
      struct stat lst {};
      bool isLink = ::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode);
      if (!isLink && !ResetFileAttributes(path, errorText)) return false;
    }
    if (::unlink(path.c_str()) != 0) {
      errorText = PlatformErrorText(errno);
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    errorText = e.what();
    return false;
  }
}

bool PathExists(const std::string& path) {
  if (path.empty()) return false;
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  if (path.empty()) return false;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDir(const std::string& path, std::string& errorText) {
  if (::mkdir(path.c_str(), 0777) != 0) {
    errorText = PlatformErrorText(errno);
    return false;
  }
  return true;
}

std::string ExecutableDirectory() {
  char buffer[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
  if (n <= 0) return std::string();
  std::string exe(buffer, static_cast<std::size_t>(n));
  std::size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return std::string();
  if (slash == 0) return "/";
  return exe.substr(0, slash);
}

}  // namespace tavrun
