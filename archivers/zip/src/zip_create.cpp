// Creating and updating archives over libzip (the engine of libzip32.so).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "archive_lock.h"
#include "archive_source.h"
#include "cmdline.h"
#include "dialogs.h"
#include "encoding.h"
#include "export.h"
#include "host.h"
#include "member_names.h"
#include "member_source.h"
#include "report.h"
#include "zip32.h"
#include "zip_fields.h"
#include "zip_structure.h"

namespace tavrun::zip {

namespace {

struct SourceFile {
  std::string path;
  std::string memberName;
  uint64_t size = 0;
  int64_t mtime = 0;
  uint32_t mode = 0644;
};

struct Discarder {
  void operator()(zip_t* za) const {
    if (za) zip_discard(za);
  }
};
using ZipPtr = std::unique_ptr<zip_t, Discarder>;

std::string ZipErrorText(int code) {
  zip_error_t e;
  zip_error_init_with_code(&e, code);
  std::string text = zip_error_strerror(&e);
  zip_error_fini(&e);
  return text;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The stored name: the bare name with -j, else the relative path. ".." is refused rather
// than dropped, so two different files can never end up under one name by accident. A name
// that is not UTF-8 (from old media) is stored as its bytes, without the UTF-8 flag.
bool MemberNameFor(const std::string& path, bool junk, std::string& name, std::string& why) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (part == "..") {
      why = "a path with \"..\" cannot be stored: " + path;
      return false;
    }
    if (!part.empty() && part != ".") parts.push_back(part);
    start = end + 1;
  }
  if (parts.empty()) {
    why = "no file name in " + path;
    return false;
  }
  if (junk) {
    name = parts.back();
  } else {
    name.clear();
    for (const std::string& p : parts) name += (name.empty() ? "" : "/") + p;
  }
  if (arc::HasControlCharacter(name)) {
    why = arc::ControlCharacterRefusal(path);
    return false;
  }
  return true;
}

// The member of that name, -1 when none. A name that is not UTF-8 is compared byte for byte:
// libzip's own lookup reads stored names as CP437 first and finds no such name.
zip_int64_t LocateMember(zip_t* za, const std::string& name) {
  if (arc::IsValidUtf8(name)) return zip_name_locate(za, name.c_str(), 0);
  const zip_int64_t n = zip_get_num_entries(za, 0);
  for (zip_int64_t i = 0; i < n; ++i) {
    const char* raw = zip_get_name(za, zip_uint64_t(i), ZIP_FL_ENC_RAW);
    if (raw != nullptr && name == raw) return i;
  }
  return -1;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Finds the file to be replaced: the target of a symlink (so the link stays), a new path in
// an existing directory, or an existing regular file.
Kind ResolveArchive(const std::string& path, std::string& resolved, bool& empty, std::string& why) {
  struct stat st {};
  empty = false;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) {
      why = ErrnoText("cannot access the archive " + path, errno);
      return Kind::ArchiveOpen;
    }
    const std::string dir = DirectoryOf(path);
    struct stat ds {};
    if (stat(dir.c_str(), &ds) != 0 || !S_ISDIR(ds.st_mode)) {
      why = "the directory of the archive does not exist: " + dir;
      return Kind::ArchiveOpen;
    }
    resolved = path;
    return Kind::None;
  }
  resolved = path;
  if (S_ISLNK(st.st_mode)) {
    char buf[PATH_MAX];
    if (realpath(path.c_str(), buf) == nullptr) {
      // Creating the target of a dangling link could put the archive anywhere.
      why = "the archive path is a symbolic link to nothing: " + path;
      return Kind::ArchiveOpen;
    }
    resolved = buf;
    if (stat(resolved.c_str(), &st) != 0) {
      why = ErrnoText("cannot access the archive " + resolved, errno);
      return Kind::ArchiveOpen;
    }
  }
  if (!S_ISREG(st.st_mode)) {
    why = "the archive path is not a regular file: " + path;
    return Kind::ArchiveOpen;
  }
  empty = st.st_size == 0;
  return Kind::None;
}

Kind OpenErrorKind(int ze) {
  switch (ze) {
    case ZIP_ER_NOZIP:
    case ZIP_ER_INCONS:
    case ZIP_ER_MULTIDISK:
    case ZIP_ER_EOF:
    case ZIP_ER_CRC: return Kind::NotArchive;
    case ZIP_ER_MEMORY: return Kind::Internal;
    default: return Kind::ArchiveOpen;
  }
}

// Checks every file before the archive is touched, so a bad one changes nothing.
void GatherSources(const Zip32Request& rq, std::vector<SourceFile>& sources, Outcome& report) {
  std::set<std::string> names;
  for (uint32_t i = 0; i < rq.fileCount; ++i) {
    const char* p = rq.files[i];
    if (p == nullptr || *p == '\0') {
      report.Fail(Kind::CommandLine, "an empty file name was given");
      continue;
    }
    std::string path = p;
    std::string base = BaseName(path);
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
      report.Fail(Kind::Source, ErrnoText("cannot read " + path, errno));
      continue;
    }
    // Hidden: the name starts with "."; system: neither a regular file nor a directory.
    bool system = !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
    bool hidden = !base.empty() && base[0] == '.';
    if (!rq.includeHidden && (system || hidden)) {
      report.Note(std::string(system ? "skipped (system file): " : "skipped (hidden): ") + path);
      continue;
    }
    if (!S_ISREG(st.st_mode)) {
      report.Fail(Kind::Source, "not a regular file: " + path);
      continue;
    }
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      report.Fail(Kind::Source, ErrnoText("cannot read " + path, errno));
      continue;
    }
    close(fd);
    SourceFile s;
    std::string why;
    if (!MemberNameFor(path, rq.junkPaths != 0, s.memberName, why)) {
      report.Fail(Kind::Source, why);
      continue;
    }
    if (!names.insert(s.memberName).second) {
      report.Fail(Kind::CommandLine, "two files would be stored as " + s.memberName);
      continue;
    }
    s.path = path;
    s.size = uint64_t(st.st_size);
    s.mtime = int64_t(st.st_mtime);
    s.mode = uint32_t(st.st_mode & 0777);
    sources.push_back(std::move(s));
  }
}

bool IsNewer(zip_t* za, zip_int64_t index, const SourceFile& src) {
  zip_stat_t st;
  if (zip_stat_index(za, zip_uint64_t(index), 0, &st) != 0) return true;
  bool exact = false;
  int64_t memberTime = MemberMtime(za, zip_uint64_t(index), st, &exact);
  // A DOS time has 2-second steps and is rounded down when written.
  return exact ? src.mtime > memberTime : src.mtime >= memberTime + 2;
}

const char* MethodName(zip_uint16_t method) {
  switch (method) {
    case ZIP_CM_STORE: return "stored";
    case ZIP_CM_DEFLATE: return "deflated";
    default: return "other method";
  }
}

void AppendSummary(const std::string& archive, const std::vector<std::string>& added,
                   Outcome& report) {
  int ze = 0;
  zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY, &ze);
  if (za == nullptr) return;
  for (const std::string& name : added) {
    zip_stat_t st;
    const zip_int64_t i = LocateMember(za, name);
    if (i < 0 || zip_stat_index(za, zip_uint64_t(i), 0, &st) != 0) continue;
    unsigned saved =
        st.size == 0 ? 0 : unsigned(100 - (st.comp_size * 100 + st.size - 1) / st.size);
    report.Note("added: " + name + " " + std::to_string(st.size) + " -> " +
                std::to_string(st.comp_size) + " bytes, " + MethodName(st.comp_method) + ", " +
                std::to_string(saved) + "% saved");
  }
  zip_discard(za);
}

bool CheckRequest(const Zip32Request& rq, Outcome& report) {
  if (rq.archivePath == nullptr || *rq.archivePath == '\0') {
    report.Fail(Kind::CommandLine, "no archive was given");
    return false;
  }
  if (rq.fileCount == 0 || rq.files == nullptr) {
    report.Fail(Kind::CommandLine, "no file to add was given");
    return false;
  }
  if (rq.level < 0 || rq.level > 9) {
    report.Fail(Kind::CommandLine, "the level must be 0 to 9");
    return false;
  }
  if (rq.encryption < ZIP32_ENCRYPTION_NONE || rq.encryption > ZIP32_ENCRYPTION_TRADITIONAL) {
    report.Fail(Kind::CommandLine, "unknown encryption");
    return false;
  }
  return true;
}

// An existing archive is rewritten only when extraction would take it as it is: the structure
// check extraction runs (libzip's own misses overlapping members), and nothing in front of it
// or after it, which libzip would drop from the new archive (a self-extracting program's
// code): such a file is refused, as LZH update refuses it, and left as it was.
Kind CheckBeforeUpdate(const std::string& path, const std::string& resolved, std::string& why) {
  const int fd = open(resolved.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return Kind::None;
    why = ErrnoText("cannot open the archive " + path, errno);
    return Kind::ArchiveOpen;
  }
  ArchiveLayout layout;
  const LocateResult located = LocateArchive(fd, layout, why);
  close(fd);
  const std::string unchanged = "; it was not changed: " + path;
  if (located == LocateResult::ReadError) {
    why = "cannot read the archive (" + why + ")" + unchanged;
    return Kind::ArchiveOpen;
  }
  if (located == LocateResult::NotArchive) {
    why = "not a ZIP archive or a damaged one (" + why + ")" + unchanged;
    return Kind::NotArchive;
  }
  // Offsets may count from the file or from the archive: either way its first member is
  // where the archive's own bytes begin.
  if (layout.firstMember > 0) {
    why = "the archive has " + std::to_string(layout.firstMember) +
          " bytes in front of it (a self-extracting program?)" + unchanged;
    return Kind::NotArchive;
  }
  if (layout.end != layout.fileSize) {
    why = "the archive has " + std::to_string(layout.fileSize - layout.end) +
          " bytes after its end" + unchanged;
    return Kind::NotArchive;
  }
  return Kind::None;
}

// Opens the archive for creating or updating, through a source of our own that writes the new
// archive to an unnamed file beside it (see archive_source.h). `resolved` receives the path
// that will be replaced.
ZipPtr OpenArchive(const std::string& path, std::string& resolved, Outcome& report) {
  std::string why;
  bool empty = false;
  Kind kind = ResolveArchive(path, resolved, empty, why);
  if (kind == Kind::None && !empty) kind = CheckBeforeUpdate(path, resolved, why);
  if (kind != Kind::None) {
    report.Fail(kind, why);
    return nullptr;
  }
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* src = MakeArchiveSource(resolved, &error);
  // An empty file counts as a new archive.
  ZipPtr za(src ? zip_open_from_source(src, ZIP_CREATE | ZIP_CHECKCONS | (empty ? ZIP_TRUNCATE : 0),
                                       &error)
                : nullptr);
  if (!za && src && zip_error_code_zip(&error) == ZIP_ER_INCONS) {
    // Local sizes beside a data descriptor are all libzip objects to in such archives, which
    // our structure check has found sound.
    zip_error_fini(&error);
    zip_error_init(&error);
    za.reset(zip_open_from_source(src, ZIP_CREATE, &error));
  }
  const int ze = zip_error_code_zip(&error);
  zip_error_fini(&error);
  if (!za) {
    zip_source_free(src);  // the archive owns it only once opened
    report.Fail(OpenErrorKind(ze), path + ": " + ZipErrorText(ze));
  }
  return za;
}

// The encryption a request asks for, with the host's password.
struct Encryption {
  zip_uint16_t method = ZIP_EM_NONE;
  std::string password;
  ~Encryption() { explicit_bzero(password.data(), password.size()); }
};

// False when encryption is asked for but the host keeps no password: the password never
// travels in the command line, so without a host there is none.
bool TakeEncryption(const Zip32Request& rq, Encryption& encryption, Outcome& report) {
  if (rq.encryption == ZIP32_ENCRYPTION_NONE) return true;
  encryption.method =
      rq.encryption == ZIP32_ENCRYPTION_AES256 ? ZIP_EM_AES_256 : ZIP_EM_TRAD_PKWARE;
  if (!arc::HostRecallPassword(encryption.password) || encryption.password.empty()) {
    report.Fail(Kind::CommandLine, "encryption asked for, but the host gave no password");
    return false;
  }
  // The traditional cipher hashes the password's bytes, and the extractor built into Windows
  // takes them in the system's code page: CP932 where our archives go. AES hashes UTF-8.
  std::string windows, cp932;
  if (encryption.method == ZIP_EM_TRAD_PKWARE)
    windows = arc::ToWindowsJapanese(encryption.password);
  if (!windows.empty() && arc::Utf8ToCp932(windows, cp932)) encryption.password.swap(cp932);
  explicit_bzero(windows.data(), windows.size());
  explicit_bzero(cp932.data(), cp932.size());
  return true;
}

// Sets how the member at `i` is stored: method, level, times, mode and encryption.
bool DescribeMember(zip_t* za, zip_uint64_t i, PreparedMember::Kind kind, const SourceFile& s,
                    int level, const Encryption& encryption) {
  int rc = 0;
  if (kind == PreparedMember::Kind::StoredFile || kind == PreparedMember::Kind::StoredBuffer)
    rc |= zip_set_file_compression(za, i, ZIP_CM_STORE, 0);
  else if (kind == PreparedMember::Kind::StreamDeflate)
    rc |= zip_set_file_compression(za, i, ZIP_CM_DEFLATE, zip_uint32_t(level));
  rc |= zip_file_set_mtime(za, i, time_t(s.mtime), 0);
  auto ef = ExtendedTimestamp(s.mtime);
  rc |= zip_file_extra_field_set(za, i, kExtendedTimestampId, ZIP_EXTRA_FIELD_NEW, ef.data(),
                                 zip_uint16_t(ef.size()), ZIP_FL_LOCAL | ZIP_FL_CENTRAL);
  rc |= zip_file_set_external_attributes(za, i, 0, ZIP_OPSYS_UNIX,
                                         (zip_uint32_t(S_IFREG) | s.mode) << 16);
  // libzip keeps its own copy of the password and encrypts when the archive is written.
  if (encryption.method != ZIP_EM_NONE)
    rc |= zip_file_set_encryption(za, i, encryption.method, encryption.password.c_str());
  return rc == 0;
}

enum class Added { Yes, Kept, Failed };

// Adds one file, replacing a member of the same name unless -u finds it not newer. The data
// is read and deflated now; libzip writes it when the archive is closed.
Added AddMember(const Zip32Request& rq, const Encryption& encryption, const SourceFile& s,
                uint64_t& memoryLeft, zip_t* za, AddContext& ctx, Outcome& report) {
  zip_int64_t old = LocateMember(za, s.memberName);
  if (old >= 0) {
    if (rq.updateNewerOnly && !IsNewer(za, old, s)) {
      report.Note("kept (not newer): " + s.memberName);
      tavrun::arc::ReportKept(s.memberName, "the member in the archive is not older");
      ctx.Advance(s.memberName, s.size);
      return Added::Kept;
    }
    // Delete and add: replacing in place would keep the old extra fields and level.
    if (zip_delete(za, zip_uint64_t(old)) != 0) {
      report.Fail(Kind::Internal, zip_strerror(za));
      return Added::Failed;
    }
  }
  auto member = std::make_unique<PreparedMember>();
  if (!PrepareMember(s.path, s.memberName, s.size, s.mtime, rq.level, memoryLeft, ctx, *member)) {
    report.Fail(ctx.failKind(), ctx.failReason());
    return Added::Failed;
  }
  const PreparedMember::Kind kind = member->kind;
  zip_source_t* src = MakeMemberSource(za, std::move(member), ctx);
  if (src == nullptr) {
    report.Fail(Kind::Internal, zip_strerror(za));
    return Added::Failed;
  }
  zip_int64_t idx =
      zip_file_add(za, s.memberName.c_str(), src,
                   arc::IsValidUtf8(s.memberName) ? ZIP_FL_ENC_UTF_8 : ZIP_FL_ENC_CP437);
  if (idx < 0) {
    zip_source_free(src);
    report.Fail(Kind::Internal, zip_strerror(za));
    return Added::Failed;
  }
  if (!DescribeMember(za, zip_uint64_t(idx), kind, s, rq.level, encryption)) {
    report.Fail(Kind::Internal, zip_strerror(za));
    return Added::Failed;
  }
  return Added::Yes;
}

// Adds every source; `added` receives the names of the members added or replaced. False after
// a failure, which is in `report`.
bool AddMembers(const Zip32Request& rq, const Encryption& encryption,
                const std::vector<SourceFile>& sources, zip_t* za, AddContext& ctx,
                std::vector<std::string>& added, Outcome& report) {
  uint64_t memoryLeft = kInMemoryBound;
  for (const SourceFile& s : sources) {
    switch (AddMember(rq, encryption, s, memoryLeft, za, ctx, report)) {
      case Added::Failed: return false;
      case Added::Kept: break;
      case Added::Yes: added.push_back(s.memberName); break;
    }
  }
  return true;
}

// The date of the newest member, the old ones included; false when no member has one.
bool NewestMemberTime(zip_t* za, int64_t& newest) {
  bool anyTime = false;
  zip_int64_t n = zip_get_num_entries(za, 0);
  for (zip_int64_t i = 0; i < n; ++i) {
    zip_stat_t st;
    if (zip_stat_index(za, zip_uint64_t(i), 0, &st) != 0) continue;  // deleted
    int64_t t = MemberMtime(za, zip_uint64_t(i), st);
    // The stat of a member added in this call asks our source; its time is the file's.
    if (!anyTime || t > newest) newest = t;
    anyTime = true;
  }
  return anyTime;
}

// Writes the new archive and puts it in place of the old one. On failure the old archive
// stays as it was and the new one is dropped.
// `raced`: there was no archive, and another writer created one meanwhile (nothing reported).
bool CloseArchive(ZipPtr& za, const AddContext& ctx, const std::string& resolved, bool& raced,
                  Outcome& report) {
  if (zip_close(za.get()) != 0) {
    zip_error_t* err = zip_get_error(za.get());
    int code = zip_error_code_zip(err);
    if ((raced = code == ZIP_ER_EXISTS)) return false;
    if (ctx.failKind() != Kind::None)
      report.Fail(ctx.failKind(), ctx.failReason());
    else if (code == ZIP_ER_CANCELLED)
      report.Fail(Kind::Cancelled, "cancelled");
    else
      report.Fail(code == ZIP_ER_MEMORY ? Kind::Internal : Kind::Write,
                  "cannot write " + resolved + ": " + zip_error_strerror(err));
    return false;  // the discarder ends the archive and drops the unnamed file
  }
  za.release();  // closed and freed by zip_close
  return true;
}

enum class Written { Done, Failed, Raced };

// One attempt at writing the archive: Raced when there was none and another writer created it
// meanwhile, so the caller starts over against that one.
Written WriteArchive(const Zip32Request& rq, const Encryption& encryption,
                     const std::vector<SourceFile>& sources, Outcome& report) {
  std::string resolved;
  ZipPtr za = OpenArchive(rq.archivePath, resolved, report);
  if (!za) return Written::Failed;

  uint64_t total = 0;
  for (const SourceFile& s : sources) total += s.size;
  std::unique_ptr<arc::Progress> progress =
      arc::MakeProgress(rq.window, rq.noProgress == 0, "ZIP圧縮");
  AddContext ctx(progress.get(), total);
  std::vector<std::string> added;
  if (!AddMembers(rq, encryption, sources, za.get(), ctx, added, report)) return Written::Failed;
  if (added.empty()) {
    report.Note("the archive is up to date");
    return Written::Done;  // nothing changed: the archive is not rewritten
  }

  int64_t newest = 0;
  const bool dated = rq.archiveDateFromNewest && NewestMemberTime(za.get(), newest);
  bool raced = false;
  if (!CloseArchive(za, ctx, resolved, raced, report))
    return raced ? Written::Raced : Written::Failed;

  if (dated) {
    timespec times[2] = {{time_t(newest), 0}, {time_t(newest), 0}};
    if (utimensat(AT_FDCWD, resolved.c_str(), times, 0) != 0)
      report.Note(ErrnoText("cannot set the archive's date", errno));
  }
  if (rq.verbose) AppendSummary(resolved, added, report);
  return Written::Done;
}

void Run(const Zip32Request& rq, Outcome& report) {
  Encryption encryption;
  if (!CheckRequest(rq, report) || !TakeEncryption(rq, encryption, report)) return;
  std::vector<SourceFile> sources;
  GatherSources(rq, sources, report);
  if (!report.ok()) return;
  if (sources.empty()) {
    report.Fail(Kind::Nothing, "nothing to add");
    return;
  }
  // Writers of one archive take turns (see archive_lock.h).
  for (;;) {
    const arc::ArchiveLock lock(rq.archivePath);
    if (lock.cancelled()) {
      report.Fail(Kind::Cancelled, "cancelled while another program was writing the archive");
      return;
    }
    if (WriteArchive(rq, encryption, sources, report) != Written::Raced) return;
  }
}

}  // namespace

}  // namespace tavrun::zip

TAVRUN_ARC_EXPORT uint32_t Zip32InterfaceVersion(void) {
  return ZIP32_INTERFACE_VERSION;
}

TAVRUN_ARC_EXPORT int32_t Zip32Run(const Zip32Request* request, char* output, uint32_t outputSize) {
  using namespace tavrun::zip;
  Outcome report;
  try {
    if (request == nullptr || request->size < ZIP32_REQUEST_SIZE_1) {
      report.Fail(Kind::CommandLine, "no or incomplete request");
    } else {
      // An older caller's shorter request: the members it does not know stay zero.
      Zip32Request full{};
      std::memcpy(&full, request, std::min<size_t>(request->size, sizeof full));
      Run(full, report);
    }
  } catch (const std::bad_alloc&) {
    report.Fail(Kind::Internal, "out of memory");
  } catch (const std::exception& e) {
    report.Fail(Kind::Internal, e.what());
  }
  if (report.ok() && report.Text().empty()) report.Note("ok");
  tavrun::arc::WriteOutput(output, outputSize, report.Text());
  return report.Code(kCodes);
}

// libzip32j.so hands its host on to this library, which does the work of its calls.
TAVRUN_ARC_EXPORT void Zip32SetHost(const TavrunHost* host) {
  tavrun::arc::SetHost(host);
}
