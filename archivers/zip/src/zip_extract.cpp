#include "zip_extract.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "dialogs.h"
#include "safe_output.h"
#include "unzip32.h"
#include "zip_fields.h"
#include "zip_password.h"
#include "zip_structure.h"

namespace tavrun::zip {

namespace {

// Deflated members up to this size are inflated in one piece with libdeflate (about twice
// as fast as zlib); larger ones stream through libzip.
constexpr zip_uint64_t kInflateBound = 64ull << 20;
constexpr size_t kChunk = 256u << 10;

struct Planned {
  zip_uint64_t index = 0;
  std::string name;  // decoded, for messages
  std::vector<std::string> components;
  bool directory = false;
  bool symlink = false;
  zip_stat_t st{};
  uint32_t mode = 0644;
  int64_t mtime = 0;
};

struct FileCloser {
  void operator()(zip_file_t* f) const {
    if (f) zip_fclose(f);
  }
};

struct Decompressor {
  Decompressor() : d(libdeflate_alloc_decompressor()) {}
  ~Decompressor() {
    if (d) libdeflate_free_decompressor(d);
  }
  libdeflate_decompressor* d;
};

std::string JoinPath(const std::vector<std::string>& c) {
  std::string s;
  for (const std::string& p : c) s += (s.empty() ? "" : "/") + p;
  return s;
}

int32_t OpenFailureCode(int ze) {
  switch (ze) {
    case ZIP_ER_NOPASSWD:
    case ZIP_ER_WRONGPASSWD:
    case ZIP_ER_ENCRNOTSUPP:
      return TAVRUN_ZIP_E_ENCRYPTED;
    case ZIP_ER_COMPNOTSUPP:
      return TAVRUN_ZIP_E_UNSUPPORTED;
    case ZIP_ER_MEMORY:
      return TAVRUN_ZIP_E_INTERNAL;
    default:
      return TAVRUN_ZIP_E_DATA;
  }
}

// What a member's attributes say: kind and permission bits.
void ReadAttributes(zip_t* za, Planned& p) {
  zip_uint8_t opsys = 0;
  zip_uint32_t attr = 0;
  if (zip_file_get_external_attributes(za, p.index, 0, &opsys, &attr) != 0) return;
  if (opsys == ZIP_OPSYS_UNIX) {
    uint32_t m = attr >> 16;
    if (S_ISLNK(m)) p.symlink = true;
    if (S_ISDIR(m)) p.directory = true;
    if ((m & 0777) != 0) p.mode = m & 0777;
  } else if (attr & 0x10) {
    p.directory = true;  // MS-DOS directory attribute
  } else if (attr & 0x01) {
    p.mode = 0444;  // MS-DOS read-only attribute
  }
  p.mode |= 0400;  // the owner can always read what was extracted
}

// Decodes and checks every name before anything is written: one unsafe or repeated name
// refuses the whole archive.
bool PlanMembers(zip_t* za, std::vector<Planned>& plan, Report& report) {
  std::vector<RawName> raw;
  std::string error;
  if (!ReadRawNames(za, raw, error)) {
    report.Fail(TAVRUN_ZIP_E_NOT_ARCHIVE, error);
    return false;
  }
  NameEncoding enc = ChooseEncoding(raw);
  std::map<std::string, bool> seen;  // path -> is a directory
  for (size_t i = 0; i < raw.size(); ++i) {
    Planned p;
    p.index = i;
    p.name = DecodeName(raw[i], enc);
    if (zip_stat_index(za, p.index, 0, &p.st) != 0) {
      report.Fail(TAVRUN_ZIP_E_NOT_ARCHIVE, "cannot read member " + std::to_string(i));
      return false;
    }
    std::string reason;
    if (!arc::SanitizeMemberPath(p.name, p.components, reason)) {
      report.Fail(TAVRUN_ZIP_E_UNSAFE_PATH, "unsafe member name, nothing extracted: " + reason);
      return false;
    }
    char last = p.name.empty() ? '\0' : p.name.back();
    p.directory = last == '/' || last == '\\';
    ReadAttributes(za, p);
    if (p.directory) p.mode |= 0700;
    p.mtime = MemberMtime(za, p.index, p.st);
    std::string key = JoinPath(p.components);
    auto it = seen.find(key);
    if (it != seen.end() && !(it->second && p.directory)) {
      report.Fail(TAVRUN_ZIP_E_UNSAFE_PATH, "two members have the name " + key +
                                                ", nothing extracted");
      return false;
    }
    seen[key] = p.directory;
    plan.push_back(std::move(p));
  }
  return true;
}

bool Advance(arc::Progress* progress, const std::string& name, uint64_t& done, uint64_t total,
             int& lastPercent) {
  if (progress == nullptr) return true;
  int percent = total == 0 ? 100 : int(done * 100 / total);
  if (percent != lastPercent) {
    lastPercent = percent;
    if (!progress->Update(name, percent)) return false;
  }
  return !progress->Cancelled();
}

struct Progressor {
  arc::Progress* progress;
  uint64_t total;
  uint64_t done = 0;
  int lastPercent = -1;
  std::string current;
  bool Add(uint64_t n) {
    done += n;
    return Advance(progress, current, done, total, lastPercent);
  }
};

// Where the bytes of a member go: a file being written, or nowhere when only testing.
using Sink = std::function<bool(const uint8_t* data, size_t size, std::string& why)>;

// Hands one member to `out`, never more than its declared size, reading it to its end so
// that the CRC is checked. Returns a code; `why` tells what went wrong.
int32_t CopyMember(zip_t* za, zip_uint64_t index, const zip_stat_t& st, const Sink& out,
                   Progressor& progress, std::string& why) {
  // Encrypted members stream: libzip decrypts only on that path.
  if (st.comp_method == ZIP_CM_DEFLATE && st.encryption_method == ZIP_EM_NONE &&
      st.size <= kInflateBound && st.comp_size <= kInflateBound) {
    std::unique_ptr<zip_file_t, FileCloser> zf(zip_fopen_index(za, index, ZIP_FL_COMPRESSED));
    if (!zf) {
      why = zip_strerror(za);
      return OpenFailureCode(zip_error_code_zip(zip_get_error(za)));
    }
    std::vector<uint8_t> in(size_t(st.comp_size) + 1);
    size_t got = 0;
    for (;;) {
      zip_int64_t n = zip_fread(zf.get(), in.data() + got, in.size() - got);
      if (n < 0) {
        why = std::string("cannot read the member data: ") + zip_file_strerror(zf.get());
        return TAVRUN_ZIP_E_DATA;
      }
      if (n == 0) break;
      got += size_t(n);
      if (got == in.size()) break;
    }
    if (got != st.comp_size) {
      why = "the compressed data has the wrong size";
      return TAVRUN_ZIP_E_DATA;
    }
    Decompressor dec;
    if (dec.d == nullptr) {
      why = "out of memory";
      return TAVRUN_ZIP_E_INTERNAL;
    }
    std::vector<uint8_t> data(size_t(st.size));
    libdeflate_result r =
        libdeflate_deflate_decompress(dec.d, in.data(), got, data.data(), data.size(), nullptr);
    if (r == LIBDEFLATE_INSUFFICIENT_SPACE) {
      why = "the member holds more data than its declared size";
      return TAVRUN_ZIP_E_DATA;
    }
    if (r == LIBDEFLATE_SHORT_OUTPUT) {
      why = "the member holds less data than its declared size";
      return TAVRUN_ZIP_E_DATA;
    }
    if (r != LIBDEFLATE_SUCCESS) {
      why = "the compressed data is damaged";
      return TAVRUN_ZIP_E_DATA;
    }
    if (uint32_t(libdeflate_crc32(0, data.data(), data.size())) != st.crc) {
      why = "CRC error";
      return TAVRUN_ZIP_E_DATA;
    }
    if (!out(data.data(), data.size(), why)) return TAVRUN_ZIP_E_WRITE;
    if (!progress.Add(st.size)) return TAVRUN_ZIP_E_CANCELLED;
    return TAVRUN_ZIP_OK;
  }

  std::unique_ptr<zip_file_t, FileCloser> zf(OpenMember(za, index, st));
  if (!zf) {
    why = zip_strerror(za);
    return OpenFailureCode(zip_error_code_zip(zip_get_error(za)));
  }
  std::vector<uint8_t> buf(kChunk);
  uint64_t total = 0;
  for (;;) {
    zip_int64_t n = zip_fread(zf.get(), buf.data(), buf.size());
    if (n < 0) {
      zip_error_t* e = zip_file_get_error(zf.get());
      if (zip_error_code_zip(e) == ZIP_ER_CRC && st.encryption_method != ZIP_EM_NONE) {
        if (total == st.size && AuthenticatedWithoutCrc(za, index, st)) break;
        why = "wrong password (CRC error after decryption)";
        return TAVRUN_ZIP_E_PASSWORD;
      }
      why = zip_error_code_zip(e) == ZIP_ER_CRC ? std::string("CRC error")
                                                : std::string("damaged data: ") +
                                                      zip_error_strerror(e);
      return TAVRUN_ZIP_E_DATA;
    }
    if (n == 0) break;  // only here has libzip compared the CRC
    total += uint64_t(n);
    if (total > st.size) {
      why = "the member holds more data than its declared size";
      return TAVRUN_ZIP_E_DATA;
    }
    if (!out(buf.data(), size_t(n), why)) return TAVRUN_ZIP_E_WRITE;
    if (!progress.Add(uint64_t(n))) return TAVRUN_ZIP_E_CANCELLED;
  }
  if (total != st.size) {
    why = "the member holds less data than its declared size";
    return TAVRUN_ZIP_E_DATA;
  }
  return TAVRUN_ZIP_OK;
}

class OverwritePolicy {
 public:
  explicit OverwritePolicy(const ExtractOptions& o) : options_(o) {}
  // True when the existing file at `path` may be replaced; `kept` set when it stays.
  bool MayReplace(const std::string& path, Report& report) {
    using O = ExtractOptions::Overwrite;
    if (options_.overwrite == O::Always || all_ == 1) return true;
    if (options_.overwrite == O::Never || all_ == 0) {
      if (!options_.quiet) report.Line("kept: " + path);
      return false;
    }
    if (!arc::HasOwnerWindow(options_.window)) {
      report.Fail(TAVRUN_ZIP_E_KEPT_EXISTING, "kept the existing file " + path);
      return false;
    }
    switch (arc::AskOverwrite(options_.window, "ZIP解凍",
                              "次のファイルは既に存在します。上書きしますか？", path)) {
      case arc::OverwriteAnswer::YesToAll:
        all_ = 1;
        [[fallthrough]];
      case arc::OverwriteAnswer::Yes:
        return true;
      case arc::OverwriteAnswer::NoToAll:
        all_ = 0;
        [[fallthrough]];
      case arc::OverwriteAnswer::No:
        break;
    }
    if (!options_.quiet) report.Line("kept: " + path);
    return false;
  }

 private:
  const ExtractOptions& options_;
  int all_ = -1;  // -1 ask, 0 no to all, 1 yes to all
};

}  // namespace

zip_t* OpenArchive(const std::string& path, Report& report) {
  // O_NONBLOCK: a FIFO named as an archive must not hang the call.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    report.Fail(TAVRUN_ZIP_E_ARCHIVE_OPEN, "cannot open " + path + ": " + std::strerror(errno));
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    report.Fail(TAVRUN_ZIP_E_ARCHIVE_OPEN, "not a regular file: " + path);
    return nullptr;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  int ze = 0;
  zip_t* za = zip_fdopen(fd, ZIP_RDONLY | ZIP_CHECKCONS, &ze);
  std::string why;
  if (za == nullptr && ze == ZIP_ER_INCONS && VerifyStructure(fd, why))
    za = zip_fdopen(fd, ZIP_RDONLY, &ze);
  if (za == nullptr) {
    close(fd);
    zip_error_t e;
    zip_error_init_with_code(&e, ze);
    report.Fail(ze == ZIP_ER_MEMORY ? TAVRUN_ZIP_E_INTERNAL
                : ze == ZIP_ER_READ || ze == ZIP_ER_SEEK ? TAVRUN_ZIP_E_ARCHIVE_OPEN
                                                         : TAVRUN_ZIP_E_NOT_ARCHIVE,
                path + ": " + (why.empty() ? zip_error_strerror(&e) : why));
    zip_error_fini(&e);
  }
  return za;
}

void ExtractArchive(zip_t* za, const std::string& destination, const ExtractOptions& options,
                    Report& report) {
  std::vector<Planned> plan;
  if (!PlanMembers(za, plan, report)) return;
  arc::SafeDestination dest;
  std::string error;
  if (!dest.Open(destination, error)) {
    report.Fail(TAVRUN_ZIP_E_WRITE, error);
    return;
  }
  uint64_t total = 0;
  for (const Planned& p : plan)
    if (!p.directory && !p.symlink) total += p.st.size;
  std::unique_ptr<arc::Progress> progress =
      arc::MakeProgress(options.window, !options.noProgress, "ZIP解凍");
  Progressor prog{progress.get(), total, 0, -1, {}};
  OverwritePolicy policy(options);
  std::vector<const Planned*> directories;
  size_t extracted = 0;

  for (const Planned& p : plan) {
    if (p.directory) {
      if (!options.withDirectories) continue;
      if (!dest.MakeDirectories(p.components, false, error)) {
        report.Fail(TAVRUN_ZIP_E_WRITE, p.name + ": " + error);
        continue;
      }
      directories.push_back(&p);
      continue;
    }
    if (p.symlink) {
      report.Fail(TAVRUN_ZIP_E_UNSAFE_PATH, "symbolic link not created: " + p.name);
      continue;
    }
    if (p.st.encryption_method != ZIP_EM_NONE) {
      std::string why;
      if (int32_t code = EncryptedMemberCode(za, p.index, why); code != TAVRUN_ZIP_OK) {
        report.Fail(code, why + ", not extracted: " + p.name);
        continue;
      }
    }
    if (!zip_compression_method_supported(p.st.comp_method, 0)) {
      report.Fail(TAVRUN_ZIP_E_UNSUPPORTED,
                  "compression method " + std::to_string(p.st.comp_method) +
                      " not supported: " + p.name);
      continue;
    }
    std::vector<std::string> target =
        options.withDirectories ? p.components : std::vector<std::string>{p.components.back()};
    std::string shown = JoinPath(target);
    bool replace = false;
    switch (dest.Existing(target)) {
      case arc::ExistingFile::None:
        break;
      case arc::ExistingFile::Regular:
      case arc::ExistingFile::ReadOnly:
        if (!policy.MayReplace(shown, report)) {
          prog.done += p.st.size;
          continue;
        }
        replace = true;
        break;
      case arc::ExistingFile::NotRegular:
        report.Fail(TAVRUN_ZIP_E_WRITE,
                    "not written, something other than a file stands at " + shown);
        continue;
    }
    std::unique_ptr<arc::SafeDestination::Writer> out = dest.Create(target, error);
    if (!out) {
      report.Fail(TAVRUN_ZIP_E_WRITE, shown + ": " + error);
      continue;
    }
    prog.current = p.name;
    std::string why;
    arc::SafeDestination::Writer* writer = out.get();
    int32_t code = CopyMember(
        za, p.index, p.st,
        [writer](const uint8_t* d, size_t n, std::string& w) { return writer->Write(d, n, w); },
        prog, why);
    if (code == TAVRUN_ZIP_OK && !out->Commit(p.mode, p.mtime, replace, why))
      code = TAVRUN_ZIP_E_WRITE;
    if (code != TAVRUN_ZIP_OK) {
      out->Discard();
      report.Fail(code, code == TAVRUN_ZIP_E_CANCELLED ? "cancelled" : p.name + ": " + why);
      if (code == TAVRUN_ZIP_E_CANCELLED) return;
      continue;
    }
    ++extracted;
    if (!options.quiet) report.Line("extracted: " + shown);
  }
  // Deepest first, after their files: writing a file changes its directory's time.
  std::reverse(directories.begin(), directories.end());
  for (const Planned* d : directories) dest.SetDirectoryTimes(d->components, d->mtime);
  if (!options.quiet) report.Line(std::to_string(extracted) + " file(s) extracted");
}

int32_t CheckOpenArchive(zip_t* za, int32_t mode) {
  if (mode != TAVRUN_ZIP_CHECK_FULL) return 1;
  zip_int64_t n = zip_get_num_entries(za, 0);
  Progressor none{nullptr, 0, 0, -1, {}};
  const Sink discard = [](const uint8_t*, size_t, std::string&) { return true; };
  for (zip_int64_t i = 0; i < n; ++i) {
    zip_stat_t st;
    if (zip_stat_index(za, zip_uint64_t(i), 0, &st) != 0) return 0;
    if (st.encryption_method != ZIP_EM_NONE) return 0;
    std::string why;
    if (CopyMember(za, zip_uint64_t(i), st, discard, none, why) != TAVRUN_ZIP_OK) return 0;
  }
  return 1;
}

int32_t CheckArchiveFile(const std::string& path, int32_t mode) {
  Report ignored;
  zip_t* za = OpenArchive(path, ignored);
  if (za == nullptr) return 0;
  int32_t result = CheckOpenArchive(za, mode);
  zip_discard(za);
  return result;
}

}  // namespace tavrun::zip
