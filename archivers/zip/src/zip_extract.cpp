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
#include "member_inflate.h"
#include "overwrite_policy.h"
#include "safe_output.h"
#include "unzip32.h"
#include "zip_fields.h"
#include "zip_methods.h"
#include "zip_password.h"
#include "zip_structure.h"

namespace tavrun::zip {

namespace {

constexpr size_t kChunk = 256u << 10;

struct Planned {
  zip_uint64_t index = 0;
  std::string name;  // decoded, for messages
  std::vector<std::string> components;
  std::string unsafe;  // why the member is skipped as unsafe; empty when it is not
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

std::string JoinPath(const std::vector<std::string>& c) {
  std::string s;
  for (const std::string& p : c) s += (s.empty() ? "" : "/") + p;
  return s;
}

Kind OpenFailureKind(int ze) {
  switch (ze) {
    case ZIP_ER_NOPASSWD:
    case ZIP_ER_WRONGPASSWD:
    case ZIP_ER_ENCRNOTSUPP: return Kind::Encrypted;
    case ZIP_ER_COMPNOTSUPP: return Kind::Method;
    case ZIP_ER_MEMORY: return Kind::Internal;
    default: return Kind::Data;
  }
}

bool MethodSupported(int32_t method) {
  return zip_compression_method_supported(method, 0) || OwnDecoderFor(method);
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
  }
  // The owner can always read and write what was extracted, so a batch can replace it again.
  p.mode |= 0600;
}

// Decodes and checks every name before anything is written. A name that leads out of the
// destination only skips its member; two members of one path refuse the whole archive.
bool PlanMembers(zip_t* za, std::vector<Planned>& plan, Outcome& report) {
  std::vector<RawName> raw;
  std::string error;
  if (!ReadRawNames(za, raw, error)) {
    report.Fail(Kind::NotArchive, error);
    return false;
  }
  NameEncoding enc = ChooseEncoding(raw);
  std::map<std::string, bool> seen;  // path -> is a directory
  for (size_t i = 0; i < raw.size(); ++i) {
    Planned p;
    p.index = i;
    p.name = DecodeName(raw[i], enc);
    if (zip_stat_index(za, p.index, 0, &p.st) != 0) {
      report.Fail(Kind::NotArchive, "cannot read member " + std::to_string(i));
      return false;
    }
    char last = p.name.empty() ? '\0' : p.name.back();
    p.directory = last == '/' || last == '\\';
    ReadAttributes(za, p);
    p.mtime = MemberMtime(za, p.index, p.st);
    if (!arc::SanitizeMemberPath(p.name, p.components, p.unsafe)) {
      if (p.unsafe.empty()) p.unsafe = "unsafe member name: " + p.name;
      plan.push_back(std::move(p));
      continue;
    }
    std::string key = JoinPath(p.components);
    auto it = seen.find(key);
    if (it != seen.end() && !(it->second && p.directory)) {
      report.Fail(Kind::Unsafe, "two members have the name " + key + ", nothing extracted");
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

// The code and reason of a member libzip could not open.
Kind OpenFailure(zip_t* za, std::string& why) {
  why = zip_strerror(za);
  return OpenFailureKind(zip_error_code_zip(zip_get_error(za)));
}

zip_file_t* OpenLibzipMember(zip_t* za, zip_uint64_t index, zip_flags_t flags, Kind& code,
                             std::string& why) {
  zip_file_t* f = zip_fopen_index(za, index, flags);
  if (f == nullptr) code = OpenFailure(za, why);
  return f;
}

// Hands decoded chunks on, never beyond the declared size, and counts them for the progress.
class CappedOutput {
 public:
  CappedOutput(const zip_stat_t& st, const Sink& out, Progressor& progress)
      : st_(st), out_(out), progress_(progress) {}
  bool Put(const uint8_t* data, size_t n, std::string& why) {
    total_ += n;
    crc_ = uint32_t(libdeflate_crc32(crc_, data, n));
    if (total_ > st_.size) {
      why = "the member holds more data than its declared size";
      code_ = Kind::Data;
    } else if (!out_(data, n, why)) {
      code_ = Kind::Write;
    } else if (!progress_.Add(n)) {
      code_ = Kind::Cancelled;
    }
    return code_ == Kind::None;
  }
  // The code after the data ended: a short member is damaged.
  Kind Finish(bool checkCrc, std::string& why) {
    if (code_ != Kind::None) return code_;
    if (total_ != st_.size) {
      why = "the member holds less data than its declared size";
      return Kind::Data;
    }
    if (checkCrc && crc_ != st_.crc) {
      why = "CRC error";
      return Kind::Data;
    }
    return Kind::None;
  }
  Kind code() const { return code_; }

 private:
  const zip_stat_t& st_;
  const Sink& out_;
  Progressor& progress_;
  uint64_t total_ = 0;
  uint32_t crc_ = 0;
  Kind code_ = Kind::None;
};

// The code once a decoder of ours has stopped: its own failure, the sink's, or the check of
// the length and CRC of what came out.
Kind DecodedKind(DecodeResult r, CappedOutput& capped, std::string& why) {
  switch (r) {
    case DecodeResult::Ok: return capped.Finish(true, why);
    case DecodeResult::Stopped: return capped.code();
    case DecodeResult::OverBudget: return Kind::Method;  // sound data we decline to decode
    case DecodeResult::NoMemory: why = "out of memory"; return Kind::Internal;
    case DecodeResult::Damaged: return Kind::Data;
  }
  return Kind::Data;
}

// A member's raw compressed bytes through one of our decoders, `decode(file, put)`, which
// hands the output on chunk by chunk; the length and CRC are checked here.
template <typename Decode>
Kind DecodeRaw(zip_t* za, zip_uint64_t index, const zip_stat_t& st, const Sink& out,
               Progressor& progress, std::string& why, Decode decode) {
  Kind code = Kind::None;
  std::unique_ptr<zip_file_t, FileCloser> zf(
      OpenLibzipMember(za, index, ZIP_FL_COMPRESSED, code, why));
  if (!zf) return code;
  CappedOutput capped(st, out, progress);
  const DecodeResult r = decode(zf.get(), [&capped](const uint8_t* d, size_t n, std::string& w) {
    return capped.Put(d, n, w);
  });
  return DecodedKind(r, capped, why);
}

// Methods libzip lacks: our decoders over the raw compressed bytes.
Kind DecodeWithOwn(zip_t* za, zip_uint64_t index, const zip_stat_t& st, const Sink& out,
                   Progressor& progress, std::string& why) {
  return DecodeRaw(za, index, st, out, progress, why, [&](zip_file_t* zf, const auto& put) {
    LibzipInput in(zf);
    return DecodeMember(in, st.comp_method, st.size, put, why);
  });
}

// Encrypted members, every method: decrypted and decoded by our own code (zip_password), which
// checks the CRC and the AES authentication code; the length is checked here.
Kind DecodeEncrypted(zip_t* za, zip_uint64_t index, const zip_stat_t& st, const Sink& out,
                     Progressor& progress, std::string& why) {
  CappedOutput capped(st, out, progress);
  const Kind code = ReadEncryptedMember(
      za, index, st,
      [&capped](const uint8_t* d, size_t n, std::string& w) { return capped.Put(d, n, w); }, why);
  if (capped.code() != Kind::None) return capped.code();
  return code != Kind::None ? code : capped.Finish(false, why);
}

// Deflated members, whatever their size, stream through our inflater (member_inflate.h) in
// a few MiB of memory.
Kind InflateStreamed(zip_t* za, zip_uint64_t index, const zip_stat_t& st, const Sink& out,
                     Progressor& progress, std::string& why) {
  return DecodeRaw(za, index, st, out, progress, why,
                   [&](zip_file_t* zf, const auto& put) { return InflateMember(zf, put, why); });
}

// Everything else streams through libzip, which checks the CRC when the data ends.
Kind StreamThroughLibzip(zip_t* za, zip_uint64_t index, const zip_stat_t& st, const Sink& out,
                         Progressor& progress, std::string& why) {
  std::unique_ptr<zip_file_t, FileCloser> zf(zip_fopen_index(za, index, 0));
  if (!zf) return OpenFailure(za, why);
  CappedOutput capped(st, out, progress);
  std::vector<uint8_t> buf(size_t(std::min<uint64_t>(kChunk, std::max<uint64_t>(st.size, 1))));
  for (;;) {
    zip_int64_t n = zip_fread(zf.get(), buf.data(), buf.size());
    if (n < 0) {
      zip_error_t* e = zip_file_get_error(zf.get());
      why = zip_error_code_zip(e) == ZIP_ER_CRC
                ? std::string("CRC error")
                : std::string("damaged data: ") + zip_error_strerror(e);
      return Kind::Data;
    }
    if (n == 0) break;  // only here has libzip compared the CRC
    if (!capped.Put(buf.data(), size_t(n), why)) return capped.code();
  }
  return capped.Finish(false, why);
}

// Hands one member to `out`, never more than its declared size, reading it to its end so
// that the CRC is checked. Returns a code; `why` tells what went wrong.
Kind CopyMember(zip_t* za, zip_uint64_t index, const zip_stat_t& st, const Sink& out,
                Progressor& progress, std::string& why) {
  const bool plain = st.encryption_method == ZIP_EM_NONE;
  if (!plain) return DecodeEncrypted(za, index, st, out, progress, why);
  if (st.comp_method == ZIP_CM_DEFLATE) return InflateStreamed(za, index, st, out, progress, why);
  if (plain && !zip_compression_method_supported(st.comp_method, 0) &&
      OwnDecoderFor(st.comp_method))
    return DecodeWithOwn(za, index, st, out, progress, why);
  return StreamThroughLibzip(za, index, st, out, progress, why);
}

// Why a member was kept, in this library's words; empty when it goes unmentioned.
std::string KeepText(arc::KeepReason reason, const std::string& path, bool quiet) {
  using R = arc::KeepReason;
  switch (reason) {
    case R::Obstructed: return "not written, a symbolic link or a file is on the way to " + path;
    case R::Link: return "not written, a symbolic link stands at " + path;
    case R::NotRegular: return "not written, something other than a file stands at " + path;
    case R::NoWindow: return "kept the existing file " + path;
    case R::None: return {};
    default: return quiet ? std::string() : "kept: " + path;
  }
}

arc::OverwriteOptions OverwriteOptionsOf(const ExtractOptions& o) {
  arc::OverwriteOptions p;
  using O = ExtractOptions::Overwrite;
  using R = arc::OverwriteOptions::Replace;
  p.replace = o.overwrite == O::Always ? R::Always : o.overwrite == O::Never ? R::Never : R::Ask;
  p.hasWindow = arc::HasOwnerWindow(o.window);
  return p;
}

}  // namespace

zip_t* OpenArchive(const std::string& path, Outcome& report) {
  // O_NONBLOCK: a FIFO named as an archive must not hang the call.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    report.Fail(Kind::ArchiveOpen, "cannot open " + path + ": " + std::strerror(errno));
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    report.Fail(Kind::ArchiveOpen, "not a regular file: " + path);
    return nullptr;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  // Our structure check decides for every archive; libzip then reads only the part of the
  // file that is the archive, so data in front and trailers after it do not confuse it.
  ArchiveLayout layout;
  std::string why;
  switch (LocateArchive(fd, layout, why)) {
    case LocateResult::Ok: break;
    case LocateResult::NotArchive:
      close(fd);
      report.Fail(Kind::NotArchive, path + ": " + why);
      return nullptr;
    case LocateResult::ReadError:
      close(fd);
      report.Fail(Kind::ArchiveOpen, path + ": " + why);
      return nullptr;
  }
  FILE* file = fdopen(fd, "rb");
  if (file == nullptr) {
    close(fd);
    report.Fail(Kind::Internal, path + ": " + std::strerror(errno));
    return nullptr;
  }
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source =
      zip_source_filep_create(file, layout.start, zip_int64_t(layout.end - layout.start), &error);
  zip_t* za = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
  if (za == nullptr) {
    if (source)
      zip_source_free(source);  // closes the file
    else
      fclose(file);
    const int ze = zip_error_code_zip(&error);
    report.Fail(ze == ZIP_ER_MEMORY                      ? Kind::Internal
                : ze == ZIP_ER_READ || ze == ZIP_ER_SEEK ? Kind::ArchiveOpen
                                                         : Kind::NotArchive,
                path + ": " + zip_error_strerror(&error));
  } else if (uint64_t(zip_get_num_entries(za, 0)) != layout.entries) {
    zip_discard(za);
    za = nullptr;
    report.Fail(Kind::NotArchive, path + ": the central directory is inconsistent");
  }
  zip_error_fini(&error);
  return za;
}

namespace {

// One extraction call: the destination, the progress and the overwrite answers it shares
// between members.
class Extraction {
 public:
  Extraction(zip_t* za, const ExtractOptions& options, Outcome& report)
      : za_(za),
        options_(options),
        report_(report),
        policy_(OverwriteOptionsOf(options), [w = options.window](const std::string& path) {
          return arc::AskOverwrite(w, "ZIP解凍", "次のファイルは既に存在します。上書きしますか？",
                                   path);
        }) {}

  bool Open(const std::string& destination, const std::vector<Planned>& plan) {
    std::string error;
    if (!dest_.Open(destination, error)) {
      report_.Fail(Kind::Write, error);
      return false;
    }
    inspector_.Open(destination);
    uint64_t total = 0;
    for (const Planned& p : plan)
      if (!p.directory && !p.symlink && p.unsafe.empty()) total += p.st.size;
    progress_ = arc::MakeProgress(options_.window, !options_.noProgress, "ZIP解凍");
    prog_ = Progressor{progress_.get(), total, 0, -1, {}};
    return true;
  }

  // False once the user has cancelled.
  bool Member(const Planned& p) {
    if (!p.unsafe.empty()) {
      report_.Fail(Kind::Unsafe, "not extracted: " + p.unsafe);
      return true;
    }
    if (p.directory) {
      Directory(p);
      return true;
    }
    if (!Extractable(p)) return true;
    return File(p);
  }

  void Finish() {
    // Deepest first, after their files: writing a file changes its directory's time.
    std::reverse(directories_.begin(), directories_.end());
    for (const Planned* d : directories_) dest_.SetDirectoryTimes(d->components, d->mtime);
    if (!options_.quiet) report_.Note(std::to_string(extracted_) + " file(s) extracted");
  }

 private:
  void Directory(const Planned& p) {
    if (!options_.withDirectories) return;
    std::string error;
    if (!dest_.MakeDirectories(p.components, false, error)) {
      report_.Fail(arc::PlacementFailure(inspector_.Inspect(p.components).state),
                   p.name + ": " + error);
      return;
    }
    directories_.push_back(&p);
  }

  // An encrypted member whose password is not known is reported; OK when it can be read.
  Kind LockedKind(const Planned& p) {
    if (p.st.encryption_method == ZIP_EM_NONE) return Kind::None;
    std::string why;
    const Kind code = EncryptedMemberKind(p.st, why);
    if (code != Kind::None) report_.Fail(code, why + ", not extracted: " + p.name);
    return code;
  }

  // Links, encrypted members and unknown methods are reported and skipped.
  bool Extractable(const Planned& p) {
    if (p.symlink) {
      report_.Fail(Kind::Unsafe, "symbolic link not created: " + p.name);
    } else if (const Kind locked = LockedKind(p); locked != Kind::None) {
      return false;
    } else if (p.st.encryption_method != ZIP_EM_NONE ? !DecodableMethod(p.st.comp_method)
                                                     : !MethodSupported(p.st.comp_method)) {
      report_.Fail(Kind::Method, "compression method " + std::to_string(p.st.comp_method) +
                                     " not supported: " + p.name);
    } else {
      return true;
    }
    return false;
  }

  // Whether the target may be written: nothing there, or a file the policy lets us replace.
  bool MayWrite(const std::vector<std::string>& target, const std::string& shown, const Planned& p,
                bool& replace) {
    // ZIP members carry no date the options compare, so no tolerance is needed.
    const arc::Verdict v = policy_.Decide(inspector_.Inspect(target), p.mtime, 0, shown);
    replace = v.action == arc::Action::Replace;
    if (v.action != arc::Action::Keep) return true;
    prog_.done += p.st.size;
    const std::string text = KeepText(v.reason, shown, options_.quiet);
    if (v.kind != Kind::None)
      report_.Fail(v.kind, text);
    else if (!text.empty())
      report_.Note(text);
    return false;
  }

  bool File(const Planned& p) {
    std::vector<std::string> target =
        options_.withDirectories ? p.components : std::vector<std::string>{p.components.back()};
    std::string shown = JoinPath(target), why;
    bool replace = false;
    if (!MayWrite(target, shown, p, replace)) return true;
    std::unique_ptr<arc::SafeDestination::Writer> out = dest_.Create(target, why);
    if (!out) {
      report_.Fail(arc::PlacementFailure(inspector_.Inspect(target).state), shown + ": " + why);
      return true;
    }
    prog_.current = p.name;
    arc::SafeDestination::Writer* writer = out.get();
    Kind code = CopyMember(
        za_, p.index, p.st,
        [writer](const uint8_t* d, size_t n, std::string& w) { return writer->Write(d, n, w); },
        prog_, why);
    if (code == Kind::None && !out->Commit(p.mode, p.mtime, replace, why)) code = Kind::Write;
    if (code != Kind::None) {
      out->Discard();
      report_.Fail(code, code == Kind::Cancelled ? "cancelled" : p.name + ": " + why);
      return code != Kind::Cancelled;
    }
    ++extracted_;
    if (!options_.quiet) report_.Note("extracted: " + shown);
    return true;
  }

  zip_t* za_;
  const ExtractOptions& options_;
  Outcome& report_;
  arc::OverwritePolicy policy_;
  arc::SafeDestination dest_;
  arc::TargetInspector inspector_;  // tells what stands where a member goes
  std::unique_ptr<arc::Progress> progress_;
  Progressor prog_{nullptr, 0, 0, -1, {}};
  std::vector<const Planned*> directories_;
  size_t extracted_ = 0;
};

}  // namespace

void ExtractArchive(zip_t* za, const std::string& destination, const ExtractOptions& options,
                    Outcome& report) {
  std::vector<Planned> plan;
  if (!PlanMembers(za, plan, report)) return;
  Extraction run(za, options, report);
  if (!run.Open(destination, plan)) return;
  for (const Planned& p : plan)
    if (!run.Member(p)) return;
  run.Finish();
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
    if (CopyMember(za, zip_uint64_t(i), st, discard, none, why) != Kind::None) return 0;
  }
  return 1;
}

int32_t CheckArchiveFile(const std::string& path, int32_t mode) {
  Outcome ignored;
  zip_t* za = OpenArchive(path, ignored);
  if (za == nullptr) return 0;
  int32_t result = CheckOpenArchive(za, mode);
  zip_discard(za);
  return result;
}

}  // namespace tavrun::zip
