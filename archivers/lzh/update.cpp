// The U command: create an archive or update it, always through a replacement file, so the
// old archive stays exactly as it was until the new one is complete.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>

#include "commands.h"
#include "crc16.h"
#include "dialogs.h"
#include "header.h"
#include "io.h"
#include "names.h"
#include "safe_output.h"
#include "unlha32.h"

namespace tavrun::lzh {
namespace {

constexpr uint64_t kMaxMemberSize = 0xFFFFFFFFull;  // the 32-bit size fields
constexpr size_t kChunk = 1 << 16;

struct Source {
  std::string path;
  std::string name;  // UTF-8, as shown
  std::string nameBytes;
  uint32_t codePage = 932;
  struct stat st {};
  int fd = -1;
  int replaces = -1;  // index of the member it replaces, -1 when added
  bool write = true;
  ~Source() {
    if (fd >= 0) close(fd);
  }
};

struct Failure {
  int code;
  std::string reason;
};

class Writer {
 public:
  Writer(int fd, tavrun::arc::Progress& progress, uint64_t total)
      : fd_(fd), progress_(progress), total_(total) {}

  std::optional<Failure> Copy(int from, uint64_t offset, uint64_t size) {
    std::vector<uint8_t> buf(kChunk);
    while (size > 0) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(size, buf.size()));
      ssize_t got = pread(from, buf.data(), n, static_cast<off_t>(offset));
      if (got <= 0) return Failure{UNLHA_ERROR_ARCHIVE, "cannot read the archive"};
      if (!WriteAll(fd_, buf.data(), static_cast<size_t>(got)))
        return Failure{UNLHA_ERROR_WRITE, "cannot write the archive: " + ErrnoText(errno)};
      offset += static_cast<uint64_t>(got);
      size -= static_cast<uint64_t>(got);
    }
    return std::nullopt;
  }

  std::optional<Failure> Member(const Source& s, Method method, int64_t& mtime) {
    NewMember m;
    m.name = s.nameBytes;
    m.codePage = s.codePage;
    m.mode = static_cast<uint16_t>(0100000 | (s.st.st_mode & 0777));
    m.mtime = s.st.st_mtime;
    mtime = m.mtime;
    m.method = MethodId(method);
    const std::vector<uint8_t> placeholder = BuildLevel2Header(m);
    const off_t headerAt = lseek(fd_, 0, SEEK_CUR);
    if (headerAt < 0 || !WriteAll(fd_, placeholder.data(), placeholder.size()))
      return Failure{UNLHA_ERROR_WRITE, "cannot write the archive: " + ErrnoText(errno)};
    const off_t dataAt = headerAt + static_cast<off_t>(placeholder.size());

    uint64_t original = 0, packed = 0;
    uint16_t crc = 0;
    bool stored = method == Method::Lh0;
    if (!stored) {
      bool tooBig = false, writeFailed = false;
      int writeErrno = 0;
      const uint64_t limit = static_cast<uint64_t>(s.st.st_size);
      Encoder enc(
          method,
          [&](const uint8_t* d, size_t n) {
            if (packed + n >= limit) {
              tooBig = true;  // no gain: stored instead
              return false;
            }
            if (!WriteAll(fd_, d, n)) {
              writeFailed = true;
              writeErrno = errno;
              return false;
            }
            packed += n;
            return true;
          },
          DefaultTuning(method));
      auto f = Stream(
          s, [&](const uint8_t* d, size_t n) { return enc.Feed(d, n); }, original, crc);
      if (f) return f;
      if (!tooBig && !writeFailed) enc.Finish();
      if (writeFailed)
        return Failure{UNLHA_ERROR_WRITE, "cannot write the archive: " + ErrnoText(writeErrno)};
      if (tooBig || packed >= original) stored = true;
    }
    if (stored) {
      if (lseek(fd_, dataAt, SEEK_SET) < 0 || ftruncate(fd_, dataAt) != 0)
        return Failure{UNLHA_ERROR_WRITE, "cannot write the archive: " + ErrnoText(errno)};
      int writeErrno = 0;
      auto f = Stream(
          s,
          [&](const uint8_t* d, size_t n) {
            if (WriteAll(fd_, d, n)) return true;
            writeErrno = errno;
            return false;
          },
          original, crc);
      if (f) return f;
      if (writeErrno != 0)
        return Failure{UNLHA_ERROR_WRITE, "cannot write the archive: " + ErrnoText(writeErrno)};
      packed = original;
      m.method = "-lh0-";
    }
    m.compressedSize = static_cast<uint32_t>(packed);
    m.originalSize = static_cast<uint32_t>(original);
    m.crc = crc;
    const std::vector<uint8_t> header = BuildLevel2Header(m);
    if (header.size() != placeholder.size() ||
        pwrite(fd_, header.data(), header.size(), headerAt) !=
            static_cast<ssize_t>(header.size()) ||
        lseek(fd_, dataAt + static_cast<off_t>(packed), SEEK_SET) < 0)
      return Failure{UNLHA_ERROR_WRITE, "cannot write the archive: " + ErrnoText(errno)};
    done_ += original;
    return std::nullopt;
  }

 private:
  // Reads the whole source from its start, passing each piece to `consume` (which stops
  // the reading by returning false). Counts the bytes and their CRC.
  template <typename F>
  std::optional<Failure> Stream(const Source& s, F consume, uint64_t& size, uint16_t& crc) {
    size = 0;
    crc = 0;
    if (lseek(s.fd, 0, SEEK_SET) < 0)
      return Failure{UNLHA_ERROR_SOURCE, "cannot read " + s.path + ": " + ErrnoText(errno)};
    std::vector<uint8_t> buf(kChunk);
    for (;;) {
      ssize_t n = ReadSome(s.fd, buf.data(), buf.size());
      if (n < 0)
        return Failure{UNLHA_ERROR_SOURCE, "cannot read " + s.path + ": " + ErrnoText(errno)};
      if (n == 0) break;
      size += static_cast<uint64_t>(n);
      if (size > kMaxMemberSize)
        return Failure{UNLHA_ERROR_TOO_LARGE, s.path + ": 4 GiB or more cannot be stored in LZH"};
      crc = Crc16(crc, buf.data(), static_cast<size_t>(n));
      if (!consume(buf.data(), static_cast<size_t>(n))) break;
      int percent =
          total_ ? static_cast<int>((done_ + std::min<uint64_t>(size, s.st.st_size)) * 100 / total_)
                 : 100;
      if (!progress_.Update(s.name, std::min(percent, 100)))
        return Failure{UNLHA_ERROR_CANCELLED, "cancelled; the archive was not changed"};
    }
    return std::nullopt;
  }

  int fd_;
  tavrun::arc::Progress& progress_;
  uint64_t total_;
  uint64_t done_ = 0;
};

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int RunUpdate(uintptr_t window, const Options& o, const std::string& archive,
              const std::vector<std::string>& files, std::string& message) {
  Outcome out;
  std::vector<std::unique_ptr<Source>> sources;
  for (const auto& path : files) {
    auto s = std::make_unique<Source>();
    s->path = path;
    s->name = BaseName(path);
    bool notRegular = false;
    s->fd = OpenRegularFile(path, s->st, notRegular);
    if (s->fd < 0 && !notRegular) {
      message = "cannot read " + path + ": " + ErrnoText(errno);
      return UNLHA_ERROR_SOURCE;
    }
    if (s->fd < 0 || s->name.empty()) {
      message = "not a regular file: " + path;
      return UNLHA_ERROR_SOURCE;
    }
    if (static_cast<uint64_t>(s->st.st_size) > kMaxMemberSize) {
      message = path + ": 4 GiB or more cannot be stored in LZH";
      return UNLHA_ERROR_TOO_LARGE;
    }
    EncodeMemberName(s->name, s->nameBytes, s->codePage);
    if (s->nameBytes.size() > 255) {
      message = "name too long for an LZH member: " + s->name;
      return UNLHA_ERROR_SOURCE;
    }
    for (const auto& earlier : sources)
      if (earlier->name == s->name) s->write = false;  // the same name given twice
    sources.push_back(std::move(s));
  }

  // The existing archive, read completely before anything is written.
  std::vector<MemberHeader> members;
  struct stat ast {};
  int archiveFd = -1;
  bool notRegular = false;
  archiveFd = OpenRegularFile(archive, ast, notRegular);
  const bool exists = archiveFd >= 0;
  if (!exists && (notRegular || errno != ENOENT)) {
    message = notRegular ? "the archive is not a regular file: " + archive
                         : "cannot open the archive " + archive + ": " + ErrnoText(errno);
    return UNLHA_ERROR_ARCHIVE;
  }
  struct FdCloser {
    int& fd;
    ~FdCloser() {
      if (fd >= 0) close(fd);
    }
  } closer{archiveFd};
  if (exists) {
    if (ast.st_size == 0) {
      message = "not an LZH archive (empty file); it was not changed: " + archive;
      return UNLHA_ERROR_NOT_LZH;
    }
    uint64_t offset = 0;
    for (;;) {
      MemberHeader h;
      std::string reason;
      ScanStatus st =
          ReadMemberHeader(archiveFd, offset, static_cast<uint64_t>(ast.st_size), h, reason);
      if (st == ScanStatus::End) break;
      if (st == ScanStatus::Damaged) {
        message = "the archive is damaged (" + reason + "); it was not changed: " + archive;
        return UNLHA_ERROR_NOT_LZH;
      }
      offset += h.totalSize();
      members.push_back(std::move(h));
    }
  }

  // Which files go in.
  std::optional<bool> toAll;
  int added = 0, replaced = 0;
  for (auto& s : sources) {
    if (!s->write) continue;
    for (size_t k = 0; k < members.size(); ++k) {
      if (!members[k].isDirectory() && DecodeMemberPath(members[k]) == s->name) {
        s->replaces = static_cast<int>(k);
        break;
      }
    }
    if (s->replaces < 0) {
      ++added;
      continue;
    }
    const MemberHeader& m = members[s->replaces];
    // DOS times have a 2-second step.
    const bool newer = s->st.st_mtime > m.mtime + (m.level < 2 ? 1 : 0);
    if (!o.ignoreDates && !newer) {
      out.Note(s->name + ": the member is not older than the file; kept");
      s->write = false;
      continue;
    }
    if (!o.noQuestion) {
      bool yes;
      if (toAll) {
        yes = *toAll;
      } else if (!tavrun::arc::HasOwnerWindow(window)) {
        out.Fail(UNLHA_ERROR_KEPT,
                 s->name + ": already in the archive; kept (no window to ask, -t1 replaces)");
        s->write = false;
        continue;
      } else {
        auto a = tavrun::arc::AskOverwrite(
            window, "LZH圧縮", "書庫に同じ名前のファイルがあります。置き換えますか？", s->name);
        yes = a == tavrun::arc::OverwriteAnswer::Yes || a == tavrun::arc::OverwriteAnswer::YesToAll;
        if (a == tavrun::arc::OverwriteAnswer::YesToAll) toAll = true;
        if (a == tavrun::arc::OverwriteAnswer::NoToAll) toAll = false;
      }
      if (!yes) {
        out.Note(s->name + ": kept");
        s->write = false;
        continue;
      }
    }
    ++replaced;
  }
  if (added + replaced == 0) {
    message = out.Text("nothing to update in " + archive);
    return out.code();
  }

  uint64_t total = 0;
  for (const auto& s : sources)
    if (s->write) total += static_cast<uint64_t>(s->st.st_size);
  auto progress = tavrun::arc::MakeProgress(window, !o.noProgress, "LZH圧縮");

  tavrun::arc::AtomicFile file;
  std::string error;
  if (!file.Open(archive, error)) {
    message = error;
    return UNLHA_ERROR_WRITE;
  }
  Writer w(file.fd(), *progress, total);
  int64_t newest = 0;
  auto fail = [&](const Failure& f) {
    file.Discard();
    message = f.reason;
    return f.code;
  };
  for (size_t k = 0; k < members.size(); ++k) {
    const Source* by = nullptr;
    for (const auto& s : sources)
      if (s->write && s->replaces == static_cast<int>(k)) by = s.get();
    int64_t mtime = members[k].mtime;
    std::optional<Failure> f = by ? w.Member(*by, o.method, mtime)
                                  : w.Copy(archiveFd, members[k].offset, members[k].totalSize());
    if (f) return fail(*f);
    newest = std::max(newest, mtime);
  }
  for (const auto& s : sources) {
    if (!s->write || s->replaces >= 0) continue;
    int64_t mtime = 0;
    if (auto f = w.Member(*s, o.method, mtime)) return fail(*f);
    newest = std::max(newest, mtime);
  }
  const uint8_t endMark = 0;
  if (!WriteAll(file.fd(), &endMark, 1))
    return fail({UNLHA_ERROR_WRITE, "cannot write the archive: " + ErrnoText(errno)});
  const mode_t mode = exists ? (ast.st_mode & 0777) : (0666 & ~tavrun::arc::ProcessUmask());
  if (!file.Commit(mode, error)) {
    message = error;
    return UNLHA_ERROR_WRITE;
  }
  if (o.yes) {
    timespec times[2] = {{static_cast<time_t>(newest), 0}, {static_cast<time_t>(newest), 0}};
    utimensat(AT_FDCWD, file.finalPath().c_str(), times, 0);
  }
  message = out.Text(archive + ": " + std::to_string(added) + " added, " +
                     std::to_string(replaced) + " replaced");
  return out.code();
}

}  // namespace tavrun::lzh
