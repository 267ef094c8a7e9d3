// The U command: create an archive or update it, always through a replacement file, so the
// old archive stays exactly as it was until the new one is complete.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>

#include "archive_lock.h"
#include "commands.h"
#include "compressibility.h"
#include "crc16.h"
#include "dialogs.h"
#include "header.h"
#include "host.h"
#include "io.h"
#include "member_names.h"
#include "names.h"
#include "overwrite_policy.h"
#include "safe_output.h"
#include "unlha32.h"

namespace tavrun::lzh {
namespace {

using tavrun::arc::ErrnoText;
using tavrun::arc::Kind;

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
  Kind kind;
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
      if (got <= 0) return Failure{Kind::ArchiveOpen, "cannot read the archive"};
      if (!WriteAll(fd_, buf.data(), static_cast<size_t>(got)))
        return Failure{Kind::Write, ErrnoText("cannot write the archive", errno)};
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
      return Failure{Kind::Write, ErrnoText("cannot write the archive", errno)};
    const off_t dataAt = headerAt + static_cast<off_t>(placeholder.size());

    uint64_t original = 0, packed = 0;
    uint16_t crc = 0;
    // Data that does not compress is stored without being parsed first.
    bool going = true;
    bool stored = method == Method::Lh0 ||
                  !tavrun::arc::WorthCompressingFile(s.fd, static_cast<uint64_t>(s.st.st_size),
                                                     WindowSize(method),
                                                     [&] { return going = Report(s, 0); });
    if (!going) return Failure{Kind::Cancelled, "cancelled; the archive was not changed"};
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
          DefaultTuning(method), tavrun::arc::ThreadsPerCall());
      // While threads parse, the reading waits: progress and cancel come from the parse then.
      bool cancelled = false;
      enc.SetPoll([&](uint64_t parsed) {
        cancelled = !Report(s, parsed);
        return !cancelled;
      });
      auto f = Stream(
          s, [&](const uint8_t* d, size_t n) { return enc.Feed(d, n); }, original, crc);
      if (f) return f;
      if (!tooBig && !writeFailed && !cancelled) enc.Finish();
      if (cancelled) return Failure{Kind::Cancelled, "cancelled; the archive was not changed"};
      if (writeFailed)
        return Failure{Kind::Write, ErrnoText("cannot write the archive", writeErrno)};
      if (tooBig || packed >= original) stored = true;
    }
    if (stored) {
      if (lseek(fd_, dataAt, SEEK_SET) < 0 || ftruncate(fd_, dataAt) != 0)
        return Failure{Kind::Write, ErrnoText("cannot write the archive", errno)};
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
        return Failure{Kind::Write, ErrnoText("cannot write the archive", writeErrno)};
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
      return Failure{Kind::Write, ErrnoText("cannot write the archive", errno)};
    done_ += original;
    return std::nullopt;
  }

 private:
  // Reads the whole source from its start, passing each piece to `consume` (which stops
  // the reading by returning false). Counts the bytes and their CRC. A source that is not
  // the file it was when the update began (its size or time changed, or more or fewer bytes
  // than its size came) fails: storing what happened to be read would pass a torn copy off
  // as the file.
  template <typename F>
  std::optional<Failure> Stream(const Source& s, F consume, uint64_t& size, uint16_t& crc) {
    size = 0;
    crc = 0;
    if (lseek(s.fd, 0, SEEK_SET) < 0)
      return Failure{Kind::Source, ErrnoText("cannot read " + s.path, errno)};
    const uint64_t expected = static_cast<uint64_t>(s.st.st_size);
    std::vector<uint8_t> buf(kChunk);
    for (;;) {
      ssize_t n = ReadSome(s.fd, buf.data(), buf.size());
      if (n < 0) return Failure{Kind::Source, ErrnoText("cannot read " + s.path, errno)};
      if (n == 0) break;
      size += static_cast<uint64_t>(n);
      if (size > expected) return Changed(s);
      crc = Crc16(crc, buf.data(), static_cast<size_t>(n));
      if (!consume(buf.data(), static_cast<size_t>(n))) return std::nullopt;
      if (!Report(s, size))
        return Failure{Kind::Cancelled, "cancelled; the archive was not changed"};
    }
    struct stat now {};
    if (fstat(s.fd, &now) != 0)
      return Failure{Kind::Source, ErrnoText("cannot read " + s.path, errno)};
    if (size != expected || now.st_size != s.st.st_size ||
        now.st_mtim.tv_sec != s.st.st_mtim.tv_sec || now.st_mtim.tv_nsec != s.st.st_mtim.tv_nsec)
      return Changed(s);
    return std::nullopt;
  }

  // Progress with `size` bytes of `s` done; false when cancelled. Never goes back: the
  // reading runs ahead of the parse.
  bool Report(const Source& s, uint64_t size) {
    const int percent =
        total_ ? static_cast<int>((done_ + std::min<uint64_t>(size, s.st.st_size)) * 100 / total_)
               : 100;
    shown_ = std::max(shown_, std::min(percent, 100));
    return progress_.Update(s.name, shown_);
  }

  static Failure Changed(const Source& s) {
    return Failure{Kind::Source, s.path +
                                     " changed while it was being read; the archive was "
                                     "not changed"};
  }

  int fd_;
  tavrun::arc::Progress& progress_;
  uint64_t total_;
  uint64_t done_ = 0;
  int shown_ = 0;  // percent last shown
};

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

using Sources = std::vector<std::unique_ptr<Source>>;

// Opens every file to be added; false (with the failure) when one cannot go in.
bool GatherSources(const std::vector<std::string>& files, Sources& sources,
                   tavrun::arc::Outcome& out) {
  for (const auto& path : files) {
    auto s = std::make_unique<Source>();
    s->path = path;
    s->name = BaseName(path);
    bool notRegular = false;
    s->fd = OpenRegularFile(path, s->st, notRegular);
    if (s->fd < 0 && !notRegular) {
      out.Fail(Kind::Source, ErrnoText("cannot read " + path, errno));
      return false;
    }
    if (s->fd < 0 || s->name.empty()) {
      out.Fail(Kind::Source, "not a regular file: " + path);
      return false;
    }
    if (static_cast<uint64_t>(s->st.st_size) > kMaxMemberSize) {
      out.Fail(Kind::TooLarge, path + ": 4 GiB or more cannot be stored in LZH");
      return false;
    }
    EncodeMemberName(s->name, s->nameBytes, s->codePage);
    if (s->nameBytes.size() > 255) {
      out.Fail(Kind::Source, "name too long for an LZH member: " + s->name);
      return false;
    }
    if (tavrun::arc::HasControlCharacter(s->name)) {
      out.Fail(Kind::Source, tavrun::arc::ControlCharacterRefusal(path));
      return false;
    }
    for (const auto& earlier : sources)  // the same member name given twice
      if (earlier->nameBytes == s->nameBytes && earlier->codePage == s->codePage) s->write = false;
    sources.push_back(std::move(s));
  }
  return true;
}

// The existing archive, if any, read completely before anything is written.
struct OldArchive {
  int fd = -1;
  struct stat st {};
  std::vector<MemberHeader> members;
  bool exists() const { return fd >= 0; }
  ~OldArchive() {
    if (fd >= 0) close(fd);
  }
};

bool ReadOldArchive(const std::string& archive, OldArchive& old, tavrun::arc::Outcome& out) {
  bool notRegular = false;
  old.fd = OpenRegularFile(archive, old.st, notRegular);
  if (!old.exists() && (notRegular || errno != ENOENT)) {
    out.Fail(Kind::ArchiveOpen, notRegular
                                    ? "the archive is not a regular file: " + archive
                                    : ErrnoText("cannot open the archive " + archive, errno));
    return false;
  }
  if (!old.exists()) return true;
  if (old.st.st_size == 0) {
    out.Fail(Kind::NotArchive, "not an LZH archive (empty file); it was not changed: " + archive);
    return false;
  }
  for (uint64_t offset = 0;;) {
    MemberHeader h;
    std::string reason;
    ScanStatus st =
        ReadMemberHeader(old.fd, offset, static_cast<uint64_t>(old.st.st_size), h, reason);
    if (st == ScanStatus::End) return true;
    if (st == ScanStatus::Damaged) {
      out.Fail(Kind::NotArchive,
               "the archive is damaged (" + reason + "); it was not changed: " + archive);
      return false;
    }
    offset += h.totalSize();
    old.members.push_back(std::move(h));
  }
}

// Why a member stays as it is, in this command's words.
std::string KeepText(tavrun::arc::KeepReason reason, const std::string& name) {
  using R = tavrun::arc::KeepReason;
  switch (reason) {
    case R::NotOlder: return name + ": the member is not older than the file; kept";
    case R::NoWindow:
      return name + ": already in the archive; kept (no window to ask, -t1 replaces)";
    default: return name + ": kept";
  }
}

struct Counts {
  int added = 0, replaced = 0;
};

// Decides which files go in: a file whose member is already there replaces it only when the
// shared overwrite rules allow it (dates unless -c1, a question unless -t1).
Counts ChooseFiles(uintptr_t window, const Options& o, Sources& sources,
                   const std::vector<MemberHeader>& members, tavrun::arc::Outcome& out) {
  tavrun::arc::OverwriteOptions rules;
  rules.replace = o.noQuestion ? tavrun::arc::OverwriteOptions::Replace::Always
                               : tavrun::arc::OverwriteOptions::Replace::Ask;
  rules.compareDates = !o.ignoreDates;
  rules.hasWindow = tavrun::arc::HasOwnerWindow(window);
  tavrun::arc::OverwritePolicy policy(rules, [window](const std::string& name) {
    return tavrun::arc::AskOverwrite(window, "LZH圧縮",
                                     "書庫に同じ名前のファイルがあります。置き換えますか？", name);
  });
  Counts counts;
  for (auto& s : sources) {
    if (!s->write) continue;
    for (size_t k = 0; k < members.size(); ++k) {
      if (!members[k].isDirectory() && SameMemberName(members[k], s->nameBytes, s->codePage)) {
        s->replaces = static_cast<int>(k);
        break;
      }
    }
    if (s->replaces < 0) {
      ++counts.added;
      continue;
    }
    const MemberHeader& m = members[s->replaces];
    // The member stands where the file goes; DOS times have a 2-second step.
    const tavrun::arc::Target target{tavrun::arc::TargetState::Regular, m.mtime};
    const tavrun::arc::Verdict v =
        policy.Decide(target, s->st.st_mtime, m.level < 2 ? 1 : 0, s->name);
    if (v.action == tavrun::arc::Action::Keep) {
      if (v.kind != Kind::None)
        out.Fail(v.kind, KeepText(v.reason, s->name));
      else
        out.Note(KeepText(v.reason, s->name));
      s->write = false;
      continue;
    }
    ++counts.replaced;
  }
  return counts;
}

// Writes the new archive beside the old one and renames it over it: the old members in their
// order (replaced where a file replaces them), then the added files. `newest` receives the
// newest member's time, `written` the path the archive was written to (a symlink resolved).
// `raced`: there was no archive, and another writer created one meanwhile.
bool WriteArchive(uintptr_t window, const Options& o, const std::string& archive,
                  const OldArchive& old, const Sources& sources, int64_t& newest,
                  std::string& written, bool& raced, tavrun::arc::Outcome& out) {
  raced = false;
  uint64_t total = 0;
  for (const auto& s : sources)
    if (s->write) total += static_cast<uint64_t>(s->st.st_size);
  auto progress = tavrun::arc::MakeProgress(window, !o.noProgress, "LZH圧縮");

  tavrun::arc::AtomicFile file;
  std::string error;
  if (!file.Open(archive, error, !old.exists())) {
    if (!(raced = errno == EEXIST && !old.exists())) out.Abort(Kind::Write, error);
    return false;
  }
  Writer w(file.fd(), *progress, total);
  auto fail = [&](const Failure& f) {
    file.Discard();
    out.Abort(f.kind, f.reason);
    return false;
  };
  for (size_t k = 0; k < old.members.size(); ++k) {
    const Source* by = nullptr;
    for (const auto& s : sources)
      if (s->write && s->replaces == static_cast<int>(k)) by = s.get();
    int64_t mtime = old.members[k].mtime;
    std::optional<Failure> f =
        by ? w.Member(*by, o.method, mtime)
           : w.Copy(old.fd, old.members[k].offset, old.members[k].totalSize());
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
    return fail({Kind::Write, ErrnoText("cannot write the archive", errno)});
  const mode_t mode =
      old.exists() ? (old.st.st_mode & 0777) : (0666 & ~tavrun::arc::ProcessUmask());
  if (!file.Commit(mode, error)) {
    if (!(raced = errno == EEXIST && !old.exists())) out.Abort(Kind::Write, error);
    return false;
  }
  written = file.finalPath();
  return true;
}

void SetArchiveDate(const std::string& path, int64_t newest) {
  timespec times[2] = {{static_cast<time_t>(newest), 0}, {static_cast<time_t>(newest), 0}};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

}  // namespace

void RunUpdate(uintptr_t window, const Options& o, const std::string& archive,
               const std::vector<std::string>& files, tavrun::arc::Outcome& out) {
  Sources sources;
  if (!GatherSources(files, sources, out)) return;
  for (bool raced = true; raced;) {  // again when another writer created the archive first
    const tavrun::arc::ArchiveLock lock(archive);
    if (lock.cancelled()) {
      out.Fail(Kind::Cancelled, "cancelled while another program was writing the archive");
      return;
    }
    OldArchive old;
    if (!ReadOldArchive(archive, old, out)) return;
    const Counts counts = ChooseFiles(window, o, sources, old.members, out);
    if (counts.added + counts.replaced == 0) {
      out.Summary("nothing to update in " + archive);
      return;
    }
    int64_t newest = 0;
    std::string written;
    if (!WriteArchive(window, o, archive, old, sources, newest, written, raced, out)) continue;
    if (o.yes) SetArchiveDate(written, newest);
    out.Summary(archive + ": " + std::to_string(counts.added) + " added, " +
                std::to_string(counts.replaced) + " replaced");
  }
}

}  // namespace tavrun::lzh
