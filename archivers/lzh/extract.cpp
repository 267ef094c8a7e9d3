// The E command and the archive check. Our decoder handles the common methods and liblhasa
// the rest; names, safety, the CRC check and the file writing are ours.
#include <fcntl.h>
#include <lhasa.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "commands.h"
#include "crc16.h"
#include "decoder.h"
#include "dialogs.h"
#include "header.h"
#include "io.h"
#include "macbinary.h"
#include "names.h"
#include "overwrite_policy.h"
#include "safe_output.h"
#include "unlha32.h"

namespace tavrun::lzh {
namespace {

using tavrun::arc::ErrnoText;
using tavrun::arc::Kind;

constexpr size_t kChunk = 1 << 16;

int OpenArchive(const std::string& archive, struct stat& st, std::string& message) {
  bool notRegular = false;
  int fd = OpenRegularFile(archive, st, notRegular);
  if (fd < 0)
    message = notRegular ? "the archive is not a regular file: " + archive
                         : ErrnoText("cannot open the archive " + archive, errno);
  return fd;
}

struct ArchiveFd {
  int fd = -1;
  ~ArchiveFd() {
    if (fd >= 0) close(fd);
  }
};

// All headers of the archive, read before anything is extracted. `damage` tells why the
// walk stopped early, if it did.
struct Scan {
  std::vector<MemberHeader> members;
  std::string damage;
};

// How far into a file the first header is looked for when the file does not start with one:
// self-extracting archives put a program of some tens or hundreds of KiB in front.
constexpr uint64_t kMaxLeadingBytes = 1 << 20;

// True when the bytes at `p` could start a header: the method id "-xxx-" two bytes in.
bool LooksLikeHeaderStart(const uint8_t* p) {
  return p[2] == '-' && p[6] == '-' && (p[3] == 'l' || p[3] == 'p');
}

// The offset of the first header. A file that does not start with one (a self-extracting
// archive) is searched for a header that reads cleanly and is followed by another header or by
// the archive's end, so that a stray "-lh5-" in a program's bytes is not taken for an archive.
uint64_t FindArchiveStart(int fd, uint64_t size) {
  MemberHeader h;
  std::string reason;
  if (ReadMemberHeader(fd, 0, size, h, reason) == ScanStatus::Member) return 0;
  std::vector<uint8_t> lead(static_cast<size_t>(std::min(size, kMaxLeadingBytes)));
  ssize_t got;
  do got = pread(fd, lead.data(), lead.size(), 0);
  while (got < 0 && errno == EINTR);
  // A file that starts like a header is an archive whose first header is damaged: that is
  // reported as such, not passed over for a later member.
  if (got < 8 || LooksLikeHeaderStart(lead.data())) return 0;
  for (size_t i = 1; i + 8 <= static_cast<size_t>(got); ++i) {
    if (!LooksLikeHeaderStart(&lead[i])) continue;
    MemberHeader first, next;
    if (ReadMemberHeader(fd, i, size, first, reason) != ScanStatus::Member) continue;
    if (ReadMemberHeader(fd, i + first.totalSize(), size, next, reason) != ScanStatus::Damaged) {
      return i;
    }
  }
  return 0;
}

Scan ScanArchive(int fd, uint64_t size) {
  Scan scan;
  uint64_t offset = FindArchiveStart(fd, size);
  for (;;) {
    MemberHeader h;
    ScanStatus st = ReadMemberHeader(fd, offset, size, h, scan.damage);
    if (st == ScanStatus::End) break;
    if (st == ScanStatus::Damaged) {
      if (scan.damage.empty()) scan.damage = "damaged header";
      break;
    }
    offset += h.totalSize();
    scan.members.push_back(std::move(h));
  }
  return scan;
}

bool LhasaDecodes(const std::string& method) {
  std::string m = method;
  return lha_decoder_for_name(m.data()) != nullptr;
}

bool CanDecode(const MemberHeader& m) {
  return m.isDirectory() || OwnDecoderSupports(m.method) || LhasaDecodes(m.method);
}

// liblhasa's bare decoder over the member's data, for the methods ours lacks. Only the data
// goes through it, so sizes, names and the CRC stay ours whatever liblhasa's reader does.
DecodeStatus DecodeWithLhasa(int fd, const MemberHeader& m, const DecodeSink& sink) {
  struct Source {
    int fd;
    uint64_t offset, left;
    bool failed = false;
  } src{fd, m.offset + m.headerSize, m.compressedSize};
  auto feed = [](void* buf, size_t len, void* data) -> size_t {
    auto* s = static_cast<Source*>(data);
    const size_t want = static_cast<size_t>(std::min<uint64_t>(len, s->left));
    if (want == 0) return 0;
    const ssize_t n = ReadAt(s->fd, buf, want, s->offset);
    if (n <= 0) {
      s->failed = true;
      return 0;
    }
    s->offset += static_cast<uint64_t>(n);
    s->left -= static_cast<uint64_t>(n);
    return static_cast<size_t>(n);
  };
  std::string method = m.method;
  LHADecoderType* type = lha_decoder_for_name(method.data());
  if (!type || m.originalSize > SIZE_MAX) return DecodeStatus::Damaged;
  std::unique_ptr<LHADecoder, void (*)(LHADecoder*)> d(
      lha_decoder_new(type, feed, &src, static_cast<size_t>(m.originalSize)), lha_decoder_free);
  if (!d) throw std::bad_alloc();
  std::vector<uint8_t> buf(kChunk);
  uint64_t total = 0;
  while (total < m.originalSize) {
    const size_t n = lha_decoder_read(d.get(), buf.data(), buf.size());
    if (n == 0) break;
    total += n;
    if (!sink(buf.data(), n)) return DecodeStatus::Stopped;
  }
  if (src.failed) return DecodeStatus::ReadError;
  return total == m.originalSize ? DecodeStatus::Ok : DecodeStatus::Damaged;
}

// Decodes a member and checks its length and CRC over exactly what the archive stored; the
// bytes reach `sink` as they come, so the caller discards its output unless this says Ok.
DecodeStatus DecodeVerified(int fd, const MemberHeader& m, const DecodeSink& sink) {
  uint16_t crc = 0;
  const DecodeSink checked = [&](const uint8_t* d, size_t n) {
    crc = Crc16(crc, d, n);
    return sink(d, n);
  };
  const DecodeStatus st = OwnDecoderSupports(m.method)
                              ? DecodeMember(fd, m.offset + m.headerSize, m.compressedSize,
                                             m.originalSize, m.method, checked)
                              : DecodeWithLhasa(fd, m, checked);
  if (st == DecodeStatus::Ok && crc != m.crc) return DecodeStatus::Damaged;
  return st;
}

// Everything one E call shares between its members.
struct Extraction {
  Extraction(uintptr_t w, const Options& opts, const std::string& a, tavrun::arc::Outcome& o)
      : window(w), o(opts), archive(a), out(o), policy(OverwriteOptionsOf(w, opts), AskFor(w)) {}
  static tavrun::arc::OverwriteOptions OverwriteOptionsOf(uintptr_t w, const Options& o) {
    tavrun::arc::OverwriteOptions p;
    p.replace = o.yes ? tavrun::arc::OverwriteOptions::Replace::Always
                      : tavrun::arc::OverwriteOptions::Replace::Ask;
    p.keepReadOnly = o.keepReadOnly;
    p.compareDates = !o.ignoreDates;
    p.hasWindow = tavrun::arc::HasOwnerWindow(w);
    return p;
  }
  static tavrun::arc::OverwritePolicy::Ask AskFor(uintptr_t w) {
    return [w](const std::string& path) {
      return tavrun::arc::AskOverwrite(w, "LZH解凍",
                                       "次のファイルは既に存在します。上書きしますか？", path);
    };
  }
  uintptr_t window;
  const Options& o;
  const std::string& archive;
  tavrun::arc::Outcome& out;
  tavrun::arc::OverwritePolicy policy;
  ArchiveFd file;
  Scan scan;
  tavrun::arc::SafeDestination dest;
  tavrun::arc::TargetInspector inspector;  // tells what stands where a member goes
  std::unique_ptr<tavrun::arc::Progress> progress;
  std::vector<std::pair<std::vector<std::string>, int64_t>> directories;
  uint64_t total = 0, done = 0;
  int extracted = 0;
  bool stop = false;  // cancelled, or a write failure that would repeat for every member
};

// Where a member goes. False (recorded in the outcome) for a member that is skipped.
struct Target {
  std::string path;
  std::vector<std::string> comps;
  bool directory = false;
};

bool ResolveTarget(Extraction& x, const MemberHeader& m, Target& t) {
  t.path = DecodeMemberPath(m);
  if (IsSymbolicLink(m)) {
    x.out.Fail(Kind::Unsafe, t.path + ": symbolic link not created");
    return false;
  }
  t.directory = IsDirectoryEntry(m);
  const std::string relative = RelativeMemberPath(t.path);
  // Some Unix tools store the archive's root as a directory without a name: nothing to make.
  if (t.directory && relative.find_first_not_of("/.") == std::string::npos) return false;
  std::string reason;
  if (!tavrun::arc::SanitizeMemberPath(relative, t.comps, reason)) {
    x.out.Fail(Kind::Unsafe, reason);
    return false;
  }
  if (!t.directory && !x.o.directories) t.comps = {t.comps.back()};
  return true;
}

void MakeDirectory(Extraction& x, const MemberHeader& m, const Target& t) {
  if (!x.o.directories) return;
  std::string error;
  if (!x.dest.MakeDirectories(t.comps, false, error)) {
    x.out.Fail(tavrun::arc::PlacementFailure(x.inspector.Inspect(t.comps).state),
               t.path + ": " + error);
  } else {
    x.directories.push_back({t.comps, m.mtime});
  }
}

// Why a member was kept, in this library's words; empty when it goes unmentioned.
std::string KeepText(tavrun::arc::KeepReason reason, const std::string& path) {
  using R = tavrun::arc::KeepReason;
  switch (reason) {
    case R::Obstructed: return path + ": a symbolic link or a file is on the way; not written";
    case R::Link: return path + ": a symbolic link is in the way; not written through";
    case R::NotRegular: return path + ": something that is not a regular file is in the way";
    case R::ReadOnly: return path + ": read-only file kept";
    case R::NotOlder: return path + ": the existing file is not older; kept";
    case R::NoWindow: return path + ": exists; kept (no window to ask, -y1 replaces)";
    case R::Never:
    case R::AnsweredNo: return path + ": kept";
    case R::NoToAll:
    case R::None: break;
  }
  return {};
}

enum class Decision { Write, Replace, Keep };

// What to do when something already stands where the member goes.
Decision DecideOverwrite(Extraction& x, const MemberHeader& m, const Target& t) {
  // Level 0 and 1 headers hold DOS times with a 2-second step.
  const int64_t tolerance = m.level < 2 ? 1 : 0;
  const tavrun::arc::Verdict v =
      x.policy.Decide(x.inspector.Inspect(t.comps), m.mtime, tolerance, t.path);
  if (v.action == tavrun::arc::Action::Write) return Decision::Write;
  if (v.action == tavrun::arc::Action::Replace) return Decision::Replace;
  const std::string text = KeepText(v.reason, t.path);
  if (v.kind != Kind::None)
    x.out.Fail(v.kind, text);
  else if (!text.empty())
    x.out.Note(text);
  return Decision::Keep;
}

// Decodes the member into a temporary file and puts it in place only when it is sound.
void WriteMember(Extraction& x, const MemberHeader& m, const Target& t, bool replace) {
  std::string error;
  std::unique_ptr<tavrun::arc::SafeDestination::Writer> w = x.dest.Create(t.comps, error);
  if (!w) {
    const Kind kind = tavrun::arc::PlacementFailure(x.inspector.Inspect(t.comps).state);
    x.out.Fail(kind, t.path + ": " + error);
    x.stop = kind == Kind::Write;  // no room or no rights: the members after it would fail alike
    return;
  }
  bool writeFailed = false, cancelled = false;
  uint64_t sofar = 0;
  DecodeSink write = [&](const uint8_t* d, size_t n) {
    if (!w->Write(d, n, error)) return !(writeFailed = true);
    sofar += n;
    const int percent =
        x.total ? static_cast<int>(std::min<uint64_t>(x.done + sofar, x.total) * 100 / x.total)
                : 100;
    if (!x.progress->Update(t.path, percent)) return !(cancelled = true);
    return true;
  };
  DecodeStatus st;
  if (m.osId == 'm') {
    MacBinaryFilter mac(m.originalSize, write);
    st = DecodeVerified(x.file.fd, m, std::ref(mac));
    if (st == DecodeStatus::Ok && !mac.Finish()) st = DecodeStatus::Stopped;
  } else {
    st = DecodeVerified(x.file.fd, m, write);
  }
  if (st != DecodeStatus::Ok) {
    w->Discard();
    if (cancelled) {
      x.out.Fail(Kind::Cancelled, "cancelled at " + t.path + "; it was not written");
    } else if (writeFailed) {
      x.out.Fail(Kind::Write, error);
    } else if (st == DecodeStatus::ReadError) {
      x.out.Fail(Kind::ArchiveOpen, "cannot read the archive " + x.archive);
    } else {
      x.out.Fail(Kind::Data, t.path + ": CRC error; not written");
      return;
    }
    x.stop = true;
    return;
  }
  // The owner can always read and write what was extracted, whatever mode was stored.
  const uint32_t mode = m.hasMode ? (m.mode & 0777) | 0600 : 0;
  if (!w->Commit(mode, m.mtime, replace, error)) {
    x.out.Fail(Kind::Write, error);
    return;
  }
  ++x.extracted;
}

void ExtractMember(Extraction& x, const MemberHeader& m) {
  if (!CanDecode(m)) {
    x.out.Fail(Kind::Method, DecodeMemberPath(m) + ": method " + m.method + " cannot be decoded");
    return;
  }
  Target t;
  if (!ResolveTarget(x, m, t)) return;
  if (t.directory) {
    MakeDirectory(x, m, t);
    return;
  }
  const Decision d = DecideOverwrite(x, m, t);
  if (d != Decision::Keep) WriteMember(x, m, t, d == Decision::Replace);
}

// Opens and scans the archive; false (with the failure recorded) when the call ends there.
bool OpenAndScan(Extraction& x) {
  struct stat st {};
  std::string message;
  x.file.fd = OpenArchive(x.archive, st, message);
  if (x.file.fd < 0) {
    x.out.Fail(Kind::ArchiveOpen, message);
    return false;
  }
  x.scan = ScanArchive(x.file.fd, static_cast<uint64_t>(st.st_size));
  if (x.scan.members.empty()) {
    x.out.Fail(Kind::NotArchive,
               "not an LZH archive" +
                   (x.scan.damage.empty() ? std::string() : " (" + x.scan.damage + ")") + ": " +
                   x.archive);
    return false;
  }
  return true;
}

bool OpenDestination(Extraction& x, const std::string& destination) {
  std::string error;
  if (!x.dest.Open(destination, error)) {
    x.out.Fail(Kind::Write, "cannot write to " + destination + ": " + error);
    return false;
  }
  x.inspector.Open(destination);
  return true;
}

void ExtractMembers(Extraction& x) {
  for (const auto& m : x.scan.members) x.total += m.originalSize;
  x.progress = tavrun::arc::MakeProgress(x.window, !x.o.noProgress, "LZH解凍");
  for (const MemberHeader& m : x.scan.members) {
    ExtractMember(x, m);
    x.done += m.originalSize;
    if (x.stop) break;
  }
}

// Directory times last: writing the files inside changed them.
void SetDirectoryTimes(Extraction& x) {
  for (auto it = x.directories.rbegin(); it != x.directories.rend(); ++it)
    x.dest.SetDirectoryTimes(it->first, it->second);
}

}  // namespace

void RunExtract(uintptr_t window, const Options& o, const std::string& archive,
                const std::string& destination, tavrun::arc::Outcome& out) {
  Extraction x(window, o, archive, out);
  if (!OpenAndScan(x) || !OpenDestination(x, destination)) return;
  ExtractMembers(x);
  SetDirectoryTimes(x);
  if (!x.scan.damage.empty() && !x.stop)
    out.Fail(Kind::NotArchive, "damaged archive after member " +
                                   std::to_string(x.scan.members.size()) + ": " + x.scan.damage);
  out.Summary(std::to_string(x.extracted) + " extracted from " + archive);
}

bool CheckArchive(const char* path, int mode) {
  ArchiveFd file;
  struct stat st {};
  std::string message;
  file.fd = OpenArchive(path, st, message);
  if (file.fd < 0) return false;
  const Scan scan = ScanArchive(file.fd, static_cast<uint64_t>(st.st_size));
  if (scan.members.empty() || !scan.damage.empty()) return false;
  if (mode != 2) return true;
  const DecodeSink discard = [](const uint8_t*, size_t) { return true; };
  for (const auto& m : scan.members) {
    if (IsDirectoryEntry(m) || IsSymbolicLink(m)) continue;
    if (!CanDecode(m) || DecodeVerified(file.fd, m, discard) != DecodeStatus::Ok) return false;
  }
  return true;
}

}  // namespace tavrun::lzh
