// The E command and the archive check. liblhasa decodes; names, safety, the CRC check and
// the file writing are ours.
#include <fcntl.h>
#include <lhasa.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
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

constexpr size_t kChunk = 1 << 16;

// liblhasa asks for a few bytes at a time: a buffer in front of the descriptor.
struct BufferedFd {
  int fd = -1;
  std::vector<uint8_t> buf = std::vector<uint8_t>(kChunk);
  size_t pos = 0, end = 0;
  void Reset() { pos = end = 0; }
};

int StreamRead(void* handle, void* out, size_t len) {
  auto* b = static_cast<BufferedFd*>(handle);
  size_t given = 0;
  auto* dst = static_cast<uint8_t*>(out);
  while (given < len) {
    if (b->pos == b->end) {
      ssize_t n = ReadSome(b->fd, b->buf.data(), b->buf.size());
      if (n < 0) return given ? static_cast<int>(given) : -1;
      if (n == 0) break;
      b->pos = 0;
      b->end = static_cast<size_t>(n);
    }
    size_t n = std::min(len - given, b->end - b->pos);
    std::memcpy(dst + given, b->buf.data() + b->pos, n);
    b->pos += n;
    given += n;
  }
  return static_cast<int>(given);
}
int StreamSkip(void* handle, size_t bytes) {
  auto* b = static_cast<BufferedFd*>(handle);
  size_t inBuffer = b->end - b->pos;
  if (bytes <= inBuffer) {
    b->pos += bytes;
    return 1;
  }
  bytes -= inBuffer;
  b->Reset();
  return lseek(b->fd, static_cast<off_t>(bytes), SEEK_CUR) >= 0;
}
void StreamClose(void*) {}
const LHAInputStreamType kStreamType = {StreamRead, StreamSkip, StreamClose};

struct Reader {
  int fd = -1;
  BufferedFd input;
  LHAInputStream* stream = nullptr;
  LHAReader* reader = nullptr;
  ~Reader() {
    if (reader) lha_reader_free(reader);
    if (stream) lha_input_stream_free(stream);
    if (fd >= 0) close(fd);
  }
  // (Re)starts reading at `offset`, the start of a member header.
  bool Start(uint64_t offset = 0) {
    if (reader) lha_reader_free(reader);
    if (stream) lha_input_stream_free(stream);
    reader = nullptr;
    stream = nullptr;
    if (lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) return false;
    input.fd = fd;
    input.Reset();
    stream = lha_input_stream_new(&kStreamType, &input);
    if (!stream) return false;
    reader = lha_reader_new(stream);
    if (!reader) return false;
    lha_reader_set_dir_policy(reader, LHA_READER_DIR_PLAIN);
    return true;
  }
};

// All headers of the archive, read before anything is extracted. `damage` tells why the
// walk stopped early, if it did.
struct Scan {
  std::vector<MemberHeader> members;
  std::string damage;
};

Scan ScanArchive(int fd, uint64_t size) {
  Scan scan;
  uint64_t offset = 0;
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

bool DecoderExists(const std::string& method) {
  if (method == "-lhd-") return true;
  std::string m = method;
  return lha_decoder_for_name(m.data()) != nullptr;
}

// Decodes the current member, passing the data on; returns false on a length or CRC error.
template <typename F>
bool DecodeCurrent(LHAReader* r, const LHAFileHeader* h, F consume, bool& stopped) {
  std::vector<uint8_t> buf(kChunk);
  uint64_t total = 0;
  uint16_t crc = 0;
  stopped = false;
  for (;;) {
    size_t n = lha_reader_read(r, buf.data(), buf.size());
    if (n == 0) break;
    total += n;
    if (total > h->length) return false;
    crc = Crc16(crc, buf.data(), n);
    if (!consume(buf.data(), n, total)) {
      stopped = true;
      return false;
    }
  }
  return total == h->length && crc == h->crc;
}

int OpenArchive(const std::string& archive, struct stat& st, std::string& message) {
  int fd = open(archive.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    message = "cannot open the archive " + archive + ": " + ErrnoText(errno);
    return -1;
  }
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    message = "the archive is not a regular file: " + archive;
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int RunExtract(uintptr_t window, const Options& o, const std::string& archive,
               const std::string& destination, std::string& message) {
  Reader rd;
  struct stat ast {};
  rd.fd = OpenArchive(archive, ast, message);
  if (rd.fd < 0) return UNLHA_ERROR_ARCHIVE;
  Scan scan = ScanArchive(rd.fd, static_cast<uint64_t>(ast.st_size));
  if (scan.members.empty()) {
    message = "not an LZH archive" + (scan.damage.empty() ? std::string() : " (" + scan.damage + ")") +
              ": " + archive;
    return UNLHA_ERROR_NOT_LZH;
  }
  tavrun::arc::SafeDestination dest;
  std::string error;
  if (!dest.Open(destination, error)) {
    message = "cannot write to " + destination + ": " + error;
    return UNLHA_ERROR_WRITE;
  }
  if (!rd.Start()) {
    message = "cannot read the archive " + archive;
    return UNLHA_ERROR_ARCHIVE;
  }

  Outcome out;
  uint64_t total = 0, done = 0;
  for (const auto& m : scan.members) total += m.originalSize;
  auto progress = tavrun::arc::MakeProgress(window, !o.noProgress, "LZH解凍");
  std::optional<bool> toAll;
  int extracted = 0;
  std::vector<std::pair<std::vector<std::string>, int64_t>> directories;
  bool cancelled = false;

  for (size_t i = 0; i < scan.members.size() && !cancelled; ++i) {
    const MemberHeader& m = scan.members[i];
    if (!DecoderExists(m.method)) {
      // liblhasa takes such a header for a damaged one: skip the member ourselves.
      out.Fail(UNLHA_ERROR_METHOD, DecodeMemberPath(m) + ": method " + m.method + " cannot be decoded");
      done += m.originalSize;
      if (i + 1 < scan.members.size() && !rd.Start(scan.members[i + 1].offset)) {
        out.Fail(UNLHA_ERROR_ARCHIVE, "cannot read the archive " + archive);
        break;
      }
      continue;
    }
    LHAFileHeader* h = lha_reader_next_file(rd.reader);
    while (h && lha_reader_current_is_fake(rd.reader)) h = lha_reader_next_file(rd.reader);
    if (!h || h->length != m.originalSize) {
      out.Fail(UNLHA_ERROR_NOT_LZH, "damaged header at member " + std::to_string(i + 1));
      scan.damage.clear();
      break;
    }
    const std::string path = DecodeMemberPath(m);
    const int64_t mtime = m.mtime ? m.mtime : static_cast<int64_t>(h->timestamp);
    const bool isLink = h->symlink_target != nullptr || (m.hasMode && (m.mode & 0170000) == 0120000);
    if (isLink) {
      out.Fail(UNLHA_ERROR_UNSAFE, path + ": symbolic link not created");
      continue;
    }
    std::vector<std::string> comps;
    std::string reason;
    if (!tavrun::arc::SanitizeMemberPath(path, comps, reason)) {
      out.Fail(UNLHA_ERROR_UNSAFE, reason);
      done += m.originalSize;
      continue;
    }
    if (m.isDirectory()) {
      if (o.directories) {
        if (!dest.MakeDirectories(comps, false, error))
          out.Fail(UNLHA_ERROR_UNSAFE, path + ": " + error);
        else
          directories.push_back({comps, mtime});
      }
      continue;
    }
    if (!o.directories) comps = {comps.back()};

    const tavrun::arc::ExistingFile existing = dest.Existing(comps);
    bool replace = false;
    if (existing == tavrun::arc::ExistingFile::NotRegular) {
      // Either a directory on the way is not one (a symlink, a file), or the entry itself.
      if (!dest.MakeDirectories(comps, true, error)) {
        bool unsafe = error.find("symbolic link") != std::string::npos;
        out.Fail(unsafe ? UNLHA_ERROR_UNSAFE : UNLHA_ERROR_WRITE, path + ": " + error);
      } else {
        out.Fail(UNLHA_ERROR_KEPT, path + ": something that is not a regular file is in the way; kept");
      }
      done += m.originalSize;
      continue;
    }
    if (existing != tavrun::arc::ExistingFile::None) {
      bool keep = false;
      if (existing == tavrun::arc::ExistingFile::ReadOnly && o.keepReadOnly) {
        out.Note(path + ": read-only file kept");
        keep = true;
      } else if (!o.ignoreDates && !(mtime > dest.ExistingMtime(comps) + (m.level < 2 ? 1 : 0))) {
        out.Note(path + ": the existing file is not older; kept");
        keep = true;
      } else if (!o.yes) {
        if (toAll) {
          keep = !*toAll;
        } else if (!tavrun::arc::HasOwnerWindow(window)) {
          out.Fail(UNLHA_ERROR_KEPT, path + ": exists; kept (no window to ask, -y1 replaces)");
          keep = true;
        } else {
          auto a = tavrun::arc::AskOverwrite(window, "LZH解凍",
                                             "次のファイルは既に存在します。上書きしますか？", path);
          if (a == tavrun::arc::OverwriteAnswer::YesToAll) toAll = true;
          if (a == tavrun::arc::OverwriteAnswer::NoToAll) toAll = false;
          keep = a == tavrun::arc::OverwriteAnswer::No || a == tavrun::arc::OverwriteAnswer::NoToAll;
          if (keep) out.Note(path + ": kept");
        }
      }
      if (keep) {
        done += m.originalSize;
        continue;
      }
      replace = true;
    }

    std::unique_ptr<tavrun::arc::SafeDestination::Writer> w = dest.Create(comps, error);
    if (!w) {
      // A path through a symlink or a non-directory is refused by the destination.
      bool unsafe = error.find("symbolic link") != std::string::npos;
      out.Fail(unsafe ? UNLHA_ERROR_UNSAFE : UNLHA_ERROR_WRITE, path + ": " + error);
      done += m.originalSize;
      if (!unsafe) break;
      continue;
    }
    bool writeFailed = false, stopped = false;
    const uint64_t base = done;
    bool ok = DecodeCurrent(rd.reader, h, [&](const uint8_t* d, size_t n, uint64_t sofar) {
      if (!w->Write(d, n, error)) {
        writeFailed = true;
        return false;
      }
      int percent = total ? static_cast<int>((base + sofar) * 100 / total) : 100;
      if (!progress->Update(path, std::min(percent, 100))) {
        cancelled = true;
        return false;
      }
      return true;
    }, stopped);
    done = base + m.originalSize;
    if (cancelled) {
      w->Discard();
      out.Fail(UNLHA_ERROR_CANCELLED, "cancelled at " + path + "; it was not written");
      break;
    }
    if (writeFailed) {
      w->Discard();
      out.Fail(UNLHA_ERROR_WRITE, error);
      break;
    }
    if (!ok) {
      w->Discard();
      out.Fail(UNLHA_ERROR_DATA, path + ": CRC error; not written");
      continue;
    }
    const uint32_t mode = m.hasMode ? (m.mode & 0777) : 0;
    if (!w->Commit(mode, mtime, replace, error)) {
      out.Fail(UNLHA_ERROR_WRITE, error);
      continue;
    }
    ++extracted;
  }
  // Directory times last: writing the files inside changed them.
  for (auto it = directories.rbegin(); it != directories.rend(); ++it)
    dest.SetDirectoryTimes(it->first, it->second);
  if (!scan.damage.empty() && !cancelled)
    out.Fail(UNLHA_ERROR_NOT_LZH, "damaged archive after member " +
                                      std::to_string(scan.members.size()) + ": " + scan.damage);
  message = out.Text(std::to_string(extracted) + " extracted from " + archive);
  return out.code();
}

bool CheckArchive(const char* path, int mode) {
  Reader rd;
  struct stat st {};
  std::string message;
  rd.fd = OpenArchive(path, st, message);
  if (rd.fd < 0) return false;
  Scan scan = ScanArchive(rd.fd, static_cast<uint64_t>(st.st_size));
  if (scan.members.empty() || !scan.damage.empty()) return false;
  if (mode != 2) return true;
  if (!rd.Start()) return false;
  for (const auto& m : scan.members) {
    LHAFileHeader* h = lha_reader_next_file(rd.reader);
    while (h && lha_reader_current_is_fake(rd.reader)) h = lha_reader_next_file(rd.reader);
    if (!h || h->length != m.originalSize) return false;
    if (m.isDirectory() || h->symlink_target) continue;
    if (!DecoderExists(m.method)) return false;
    bool stopped = false;
    if (!DecodeCurrent(rd.reader, h, [](const uint8_t*, size_t, uint64_t) { return true; }, stopped))
      return false;
  }
  return true;
}

}  // namespace tavrun::lzh
