#include "common/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "common/paths.h"

namespace tavrun {
namespace {

// The blanks the profile functions skip: ASCII white space and the old end-of-file mark.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1a';
}

char FoldAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

enum class LineKind { Blank, Comment, Section, Key };

// One line of the file, as offsets into the contents.
struct Line {
  std::size_t begin = 0;       // first byte of the line
  std::size_t contentEnd = 0;  // end of the text, before CR LF / LF
  std::size_t end = 0;         // after the line end (== contentEnd for a last line without one)
  LineKind kind = LineKind::Blank;
  std::string_view name;  // section or key name, trimmed
  bool hasEquals = false;
  std::size_t keyEnd = 0;      // offset just after the key text (before any blanks and "=")
  std::size_t valueBegin = 0;  // first byte of the trimmed value
  std::size_t valueEnd = 0;
};

std::vector<Line> SplitLines(std::string_view content) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  // A byte-order mark belongs to no line's text.
  if (content.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
  while (pos < content.size()) {
    Line line;
    line.begin = pos;
    std::size_t nl = content.find('\n', pos);
    if (nl == std::string_view::npos) {
      line.contentEnd = line.end = content.size();
    } else {
      line.contentEnd = nl;
      line.end = nl + 1;
      if (line.contentEnd > line.begin && content[line.contentEnd - 1] == '\r') --line.contentEnd;
    }
    pos = line.end;

    std::size_t s = line.begin;
    std::size_t e = line.contentEnd;
    while (s < e && IsBlank(content[s])) ++s;
    while (e > s && IsBlank(content[e - 1])) --e;
    if (s == e) {
      line.kind = LineKind::Blank;
    } else if (content[s] == '[') {
      std::size_t close = content.find(']', s + 1);
      if (close != std::string_view::npos && close < e) {
        line.kind = LineKind::Section;
        line.name = Trim(content.substr(s + 1, close - s - 1));
      } else {
        line.kind = LineKind::Comment;  // an unclosed bracket names no section and no key
      }
    } else if (content[s] == ';') {
      line.kind = LineKind::Comment;
    } else {
      line.kind = LineKind::Key;
      std::string_view text = content.substr(s, e - s);
      std::size_t eq = text.find('=');
      if (eq == std::string_view::npos) {
        line.name = text;
        line.keyEnd = e;
        line.valueBegin = line.valueEnd = e;
      } else {
        line.hasEquals = true;
        std::string_view key = text.substr(0, eq);
        while (!key.empty() && IsBlank(key.back())) key.remove_suffix(1);
        line.name = key;
        line.keyEnd = s + key.size();
        std::size_t vb = s + eq + 1;
        while (vb < e && IsBlank(content[vb])) ++vb;
        line.valueBegin = vb;
        line.valueEnd = e;
      }
    }
    lines.push_back(line);
  }
  return lines;
}

// Index of the line holding `key` in the first section block named `section` that has it.
std::optional<std::size_t> FindKeyLine(const std::vector<Line>& lines, std::string_view section,
                                       std::string_view key) {
  bool inSection = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Line& line = lines[i];
    if (line.kind == LineKind::Section) {
      inSection = SameName(line.name, section);
    } else if (inSection && line.kind == LineKind::Key && SameName(line.name, key)) {
      return i;
    }
  }
  return std::nullopt;
}

std::string_view StripQuotes(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

bool HasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool CheckNames(std::string_view section, std::string_view key, std::string_view value,
                std::string& errorText) {
  if (section.empty() || HasLineBreakOrNul(section) || section.find(']') != std::string::npos ||
      Trim(section) != section) {
    errorText = "セクション名が不正です";  // invalid section name
    return false;
  }
  if (key.empty() || HasLineBreakOrNul(key) || key.find('=') != std::string::npos ||
      Trim(key) != key || key.front() == '[' || key.front() == ';') {
    errorText = "キー名が不正です";  // invalid key name
    return false;
  }
  if (HasLineBreakOrNul(value)) {
    errorText = "値に改行文字は使えません";  // a value cannot hold line breaks
    return false;
  }
  return true;
}

// Reads a whole regular file. Opening without blocking keeps a FIFO from hanging the caller.
// `missing` is set when there is no file at all.
bool ReadWholeFile(const std::string& path, std::string& content, bool& missing,
                   std::string& errorText) {
  content.clear();
  missing = false;
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {
      missing = true;
      return true;
    }
    errorText = PlatformErrorText(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    int err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    errorText = PlatformErrorText(err);
    return false;
  }
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      errorText = PlatformErrorText(errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

bool WriteAll(int fd, std::string_view data, off_t offset, bool positioned) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = positioned ? ::pwrite(fd, data.data() + done, data.size() - done,
                                      offset + static_cast<off_t>(done))
                           : ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Writes `data` from the start, syncs and closes `fd`; false with the first error in `err`.
bool WriteSyncClose(int fd, std::string_view data, int& err) {
  bool ok = WriteAll(fd, data, 0, false) && ::fsync(fd) == 0;
  err = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  return ok;
}

// A new file: nothing can be lost, so it is written directly and removed again on failure.
bool CreateNewFile(const std::string& path, std::string_view data, std::string& errorText) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    errorText = PlatformErrorText(errno);
    return false;
  }
  int err = 0;
  bool ok = WriteSyncClose(fd, data, err);
  if (!ok) {
    ::unlink(path.c_str());
    errorText = PlatformErrorText(err);
  }
  return ok;
}

// Where no temporary file can be made beside the file (a read-only directory holding a
// writable file), the file is rewritten in place. The space is reserved first, so running
// out of it fails before any byte changes.
bool RewriteInPlace(const std::string& path, std::string_view data, std::string& errorText) {
  int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    errorText = PlatformErrorText(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    errorText = PlatformErrorText(errno);
    ::close(fd);
    return false;
  }
  if (static_cast<off_t>(data.size()) > st.st_size) {
    int rc = ::posix_fallocate(fd, 0, static_cast<off_t>(data.size()));
    if (rc != 0 && rc != EOPNOTSUPP && rc != EINVAL) {
      errorText = PlatformErrorText(rc);
      ::close(fd);
      return false;
    }
  }
  bool ok = WriteAll(fd, data, 0, true) && ::ftruncate(fd, static_cast<off_t>(data.size())) == 0 &&
            ::fsync(fd) == 0;
  if (!ok) errorText = PlatformErrorText(errno);
  ::close(fd);
  return ok;
}

// A file for the new content in `dir`: unnamed where the file system has them (`name` stays
// empty), so a crash while it is written leaves nothing behind; else a hidden temporary name.
int OpenReplacement(const std::string& dir, const std::string& base, bool unnamed,
                    std::string& name) {
  name.clear();
  if (unnamed) return ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  std::string tmpl = dir + "/." + base + ".XXXXXX";
  std::vector<char> buffer(tmpl.begin(), tmpl.end());
  buffer.push_back('\0');
  int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
  if (fd >= 0) name = buffer.data();
  return fd;
}

// Gives an unnamed file a hidden name beside the file it replaces, for the rename.
bool NameUnnamed(int fd, const std::string& dir, const std::string& base, std::string& name) {
  static std::atomic<unsigned> counter{0};
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = dir + "/." + base + "." + std::to_string(::getpid()) + "-" +
                                  std::to_string(counter.fetch_add(1));
    if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      name = candidate;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// Errors that mean "no unnamed files here" (file system or kernel), or no /proc to name one.
bool NoUnnamedFiles(int err) {
  return err == EOPNOTSUPP || err == EISDIR || err == EINVAL || err == ENOENT;
}

enum class Attempt { Done, Failed, TryNamed };

Attempt WriteReplacement(const std::string& path, std::string_view data,
                         const struct stat& original, bool unnamed, std::string& errorText) {
  const std::string dir = DirectoryOf(path), base = NameOf(path);
  std::string name;
  int fd = OpenReplacement(dir, base, unnamed, name);
  if (fd < 0) {
    int err = errno;
    if (unnamed && NoUnnamedFiles(err)) return Attempt::TryNamed;
    if (err == EACCES || err == EPERM) {
      return RewriteInPlace(path, data, errorText) ? Attempt::Done : Attempt::Failed;
    }
    errorText = PlatformErrorText(err);
    return Attempt::Failed;
  }
  // The copy takes the place of the file, so it takes its owner and permissions too (the
  // owner only where we may give it; otherwise the file becomes ours, as with any editor).
  if (::fchown(fd, original.st_uid, original.st_gid) != 0) {
    // Not permitted for an ordinary user unless the file was ours already.
  }
  bool ok = ::fchmod(fd, original.st_mode & 07777) == 0 && WriteAll(fd, data, 0, false) &&
            ::fsync(fd) == 0;
  int err = errno;
  if (ok && unnamed && !NameUnnamed(fd, dir, base, name)) {
    err = errno;
    ::close(fd);
    if (NoUnnamedFiles(err)) return Attempt::TryNamed;
    errorText = PlatformErrorText(err);
    return Attempt::Failed;
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(name.c_str(), path.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    if (!name.empty()) ::unlink(name.c_str());
    errorText = PlatformErrorText(err);
  }
  return ok ? Attempt::Done : Attempt::Failed;
}

bool ReplaceFile(const std::string& path, std::string_view data, const struct stat& original,
                 std::string& errorText) {
  Attempt a = WriteReplacement(path, data, original, true, errorText);
  if (a == Attempt::TryNamed) a = WriteReplacement(path, data, original, false, errorText);
  return a == Attempt::Done;
}

}  // namespace

std::string CutUtf8(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return std::string(text);
  auto isCont = [](unsigned char c) { return (c & 0xC0) == 0x80; };
  std::size_t cut = maxBytes;
  std::size_t k = maxBytes;
  int back = 0;
  while (back < 3 && k > 0 && isCont(static_cast<unsigned char>(text[k]))) {
    --k;
    ++back;
  }
  if (back > 0) {
    unsigned char lead = static_cast<unsigned char>(text[k]);
    std::size_t len = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    // Only a lead byte whose character would reach past the limit is dropped with it;
    // stray continuation bytes are not characters and are cut like any byte.
    if (lead >= 0xC0 && k + len > maxBytes) cut = k;
  }
  return std::string(text.substr(0, cut));
}

bool FindProfileValue(std::string_view content, std::string_view section, std::string_view key,
                      std::string& value, std::size_t maxBytes) {
  value.clear();
  std::vector<Line> lines = SplitLines(content);
  std::optional<std::size_t> index = FindKeyLine(lines, Trim(section), Trim(key));
  if (!index) return false;
  const Line& line = lines[*index];
  std::string_view v = content.substr(line.valueBegin, line.valueEnd - line.valueBegin);
  v = StripQuotes(v);
  std::size_t nul = v.find('\0');
  if (nul != std::string_view::npos) v = v.substr(0, nul);
  value = CutUtf8(v, maxBytes);
  return true;
}

bool SetProfileValue(std::string& content, std::string_view section, std::string_view key,
                     std::string_view value, std::string& errorText) {
  if (!CheckNames(section, key, value, errorText)) return false;
  std::vector<Line> lines = SplitLines(content);
  if (std::optional<std::size_t> index = FindKeyLine(lines, section, key)) {
    const Line& line = lines[*index];
    std::string replacement = line.hasEquals ? std::string(value) : "=" + std::string(value);
    std::size_t from = line.hasEquals ? line.valueBegin : line.keyEnd;
    content.replace(from, line.contentEnd - from, replacement);
    return true;
  }

  std::string keyLine = std::string(key) + "=" + std::string(value) + "\r\n";
  // The first block of the section, if any: new keys go after its last non-blank line.
  std::optional<std::size_t> header;
  std::optional<std::size_t> lastFilled;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind == LineKind::Section) {
      if (header) break;
      if (SameName(lines[i].name, section)) {
        header = i;
        lastFilled = i;
      }
    } else if (header && lines[i].kind != LineKind::Blank) {
      lastFilled = i;
    }
  }
  if (header) {
    const Line& after = lines[*lastFilled];
    if (after.end == after.contentEnd) {
      // The last line of the file has no line end yet.
      content.insert(after.end, "\r\n" + keyLine);
    } else {
      content.insert(after.end, keyLine);
    }
    return true;
  }
  if (!content.empty() && content.back() != '\n') content += "\r\n";
  content += "[" + std::string(section) + "]\r\n" + keyLine;
  return true;
}

std::string ReadProfileString(const std::string& path, const std::string& section,
                              const std::string& key, std::size_t maxBytes) {
  try {
    std::string content;
    std::string error;
    bool missing = false;
    if (!ReadWholeFile(path, content, missing, error) || missing) return std::string();
    std::string value;
    FindProfileValue(content, section, key, value, maxBytes);
    return value;
  } catch (...) {
    return std::string();
  }
}

namespace {

// Reads the file, lets `edit` change its contents and stores the result safely.
template <typename Edit>
bool UpdateProfileFile(const std::string& path, Edit edit, std::string& errorText) {
  // A link is followed, so the file it names is updated and the link stays a link.
  std::string target = path;
  struct stat lst {};
  if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) target = resolved;
  }

  std::string content;
  bool missing = false;
  if (!ReadWholeFile(target, content, missing, errorText)) return false;
  std::string updated = content;
  if (!edit(updated)) return false;
  if (missing) return updated.empty() || CreateNewFile(target, updated, errorText);

  struct stat st {};
  if (::stat(target.c_str(), &st) != 0) {
    errorText = PlatformErrorText(errno);
    return false;
  }
  // A read-only settings file stays as it is, whoever runs the program.
  if ((st.st_mode & S_IWUSR) == 0) {
    errorText = PlatformErrorText(EACCES);
    return false;
  }
  if (::access(target.c_str(), W_OK) != 0) {
    errorText = PlatformErrorText(errno);
    return false;
  }
  if (updated == content) return true;
  return ReplaceFile(target, updated, st, errorText);
}

}  // namespace

bool WriteProfileString(const std::string& path, const std::string& section, const std::string& key,
                        const std::string& value, std::string& errorText) {
  try {
    std::string reason;
    if (!CheckNames(section, key, value, reason)) {
      errorText = reason;
      return false;
    }
    return UpdateProfileFile(
        path,
        [&](std::string& content) {
          return SetProfileValue(content, section, key, value, errorText);
        },
        errorText);
  } catch (const std::exception& e) {
    errorText = e.what();
    return false;
  } catch (...) {
    errorText = "unknown error";
    return false;
  }
}

bool WriteProfileStrings(const std::string& path, const std::vector<ProfileEntry>& entries,
                         std::vector<bool>& stored, std::string& errorText) {
  stored.assign(entries.size(), false);
  try {
    std::vector<bool> applied(entries.size(), false);
    std::string rowError;
    bool written = UpdateProfileFile(
        path,
        [&](std::string& content) {
          for (std::size_t i = 0; i < entries.size(); ++i) {
            applied[i] = SetProfileValue(content, entries[i].section, entries[i].key,
                                         entries[i].value, rowError);
          }
          return true;
        },
        errorText);
    if (!written) return false;
    stored = applied;
    for (bool ok : stored) {
      if (!ok) {
        errorText = rowError;
        return false;
      }
    }
    return true;
  } catch (const std::exception& e) {
    errorText = e.what();
    return false;
  } catch (...) {
    errorText = "unknown error";
    return false;
  }
}

}  // namespace tavrun
