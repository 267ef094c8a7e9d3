#include "member_source.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>

#include "file_io.h"
#include "safe_output.h"
#include "tavrun_zip_codes.h"

namespace tavrun::zip {

namespace {

// Large files are probed at their start: when deflate saves less than 1 % there, the whole
// file is stored (a second pass over gigabytes would cost more than the bytes saved).
constexpr size_t kProbeSize = 4u << 20;

bool ReadAll(int fd, uint8_t* buf, uint64_t size, uint64_t& got) {
  got = 0;
  while (got < size) {
    ssize_t n = read(fd, buf + got, size - got > (1u << 30) ? (1u << 30) : size_t(size - got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += uint64_t(n);
  }
  return true;
}

// 1 when the file holds more bytes, 0 at its end, -1 on a read error (errno kept). A read
// error must never pass for the end of the file: that would store a short member as good.
int MoreData(int fd) {
  uint8_t extra;
  ssize_t n;
  do n = read(fd, &extra, 1);
  while (n < 0 && errno == EINTR);
  return n > 0 ? 1 : (n == 0 ? 0 : -1);
}

struct Compressor {
  explicit Compressor(int level) : c(libdeflate_alloc_compressor(level)), level(level) {}
  ~Compressor() {
    if (c) libdeflate_free_compressor(c);
  }
  libdeflate_compressor* c;
  int level;
};

// One compressor per thread and level: setting one up costs more than deflating a small file.
// `level` is libdeflate's.
libdeflate_compressor* CompressorFor(int level) {
  static thread_local std::unique_ptr<Compressor> cached;
  if (!cached || cached->level != level || cached->c == nullptr)
    cached = std::make_unique<Compressor>(level);
  return cached->c;
}

bool ProbeCompressible(const std::string& path, uint64_t size) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;  // the real read reports the error
  size_t n = size < kProbeSize ? size_t(size) : kProbeSize;
  std::unique_ptr<uint8_t[]> in(new uint8_t[n]), out(new uint8_t[n]);
  uint64_t got = 0;
  bool ok = ReadAll(fd, in.get(), n, got);
  close(fd);
  if (!ok || got == 0) return true;
  libdeflate_compressor* comp = CompressorFor(1);
  if (comp == nullptr) return true;
  // A member larger than its file is stored instead; so is one whose start saves under 1 %.
  size_t limit = size_t(got - got / 100);
  return libdeflate_deflate_compress(comp, in.get(), size_t(got), out.get(), limit) != 0;
}

// Where the final block of a complete raw deflate stream starts, in bits, and how many
// padding bits follow its end: zlib's inflate stops at every block boundary (Z_BLOCK),
// including the end of the final block before it drops the padding, and then tells the bits
// it has not used of the last byte read. False when the stream is not one complete deflate
// stream.
bool FindFinalBlock(const uint8_t* data, size_t size, uint64_t& finalBit, int& padBits) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  constexpr size_t kSink = 1 << 16;
  std::unique_ptr<uint8_t[]> sink(new uint8_t[kSink]);
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = uInt(size);
  finalBit = 0;
  uint64_t endBit = 0;
  bool ended = false, complete = false;
  for (;;) {
    z.next_out = sink.get();
    z.avail_out = uInt(kSink);
    int rc = inflate(&z, Z_BLOCK);
    if (rc == Z_STREAM_END) {
      complete = ended && z.avail_in == 0;
      break;
    }
    if (rc != Z_OK) break;
    if (z.data_type & 128) {
      const uint64_t at = uint64_t(z.total_in) * 8 - uint64_t(z.data_type & 7);
      if (z.data_type & 64) {  // after the final block
        endBit = at;
        ended = true;
      } else {  // before a block that may be the final one
        finalBit = at;
      }
    }
  }
  inflateEnd(&z);
  if (!complete || endBit > uint64_t(size) * 8 || uint64_t(size) * 8 - endBit > 7) return false;
  padBits = int(uint64_t(size) * 8 - endBit);
  return true;
}

// Turns a piece's complete deflate stream into the middle of a longer one: its final block
// made not final, then an empty stored block, which ends on a byte boundary, so the next
// piece's blocks can follow byte-aligned. Appends the stored block to `buf`; false when the
// piece is not a complete stream.
bool MakeNotFinal(uint8_t* buf, size_t& size) {
  uint64_t finalBit = 0;
  int pad = 0;
  if (size == 0 || !FindFinalBlock(buf, size, finalBit, pad)) return false;
  buf[finalBit / 8] &= uint8_t(~(1u << (finalBit % 8)));
  // The padding is zero: the stored block's three header bits (not final, type 0) go there
  // when they fit, else in one more zero byte; LEN 0 and NLEN 0xFFFF follow aligned.
  buf[size - 1] &= uint8_t((1u << (8 - pad)) - 1);
  if (pad < 3) buf[size++] = 0;
  const uint8_t empty[4] = {0x00, 0x00, 0xFF, 0xFF};
  std::memcpy(buf + size, empty, 4);
  size += 4;
  return true;
}

// A file in `dir` that is gone when closed, even after a crash: a named one (no unnamed files
// on this file system) loses its name at once.
int TemporaryFile(const std::string& dir) {
  const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return -1;
  std::string name;
  const int fd = arc::CreateTemporaryIn(dirFd, 0600, name);
  if (fd >= 0 && !name.empty()) unlinkat(dirFd, name.c_str(), 0);
  close(dirFd);
  return fd;
}

struct SourceState {
  std::unique_ptr<PreparedMember> member;
  AddContext* ctx = nullptr;
  zip_error_t error;
  int fd = -1;
  uint64_t pos = 0;
  uint64_t counted = 0;  // input bytes already reported to the progress
};

zip_int64_t Fail(SourceState* s, int zipError) {
  zip_error_set(&s->error, zipError, 0);
  return -1;
}

// The next bytes of a member deflated into a temporary file.
zip_int64_t ReadDeflatedFile(SourceState* s, void* data, zip_uint64_t len) {
  const PreparedMember& m = *s->member;
  const uint64_t left = m.dataSize - s->pos;
  const size_t want = size_t(len < left ? len : left);
  const ssize_t n = arc::ReadAt(m.fd, data, want, s->pos);
  if (n < 0 || (n == 0 && want > 0)) {
    s->ctx->Fail(arc::Kind::Write,
                 arc::ErrnoText("cannot read the temporary file", n < 0 ? errno : EIO));
    return Fail(s, ZIP_ER_READ);
  }
  s->pos += uint64_t(n);
  return n;
}

// The next bytes of a member held in memory (deflated, or the file itself).
zip_int64_t ReadBuffer(SourceState* s, void* data, zip_uint64_t len) {
  const PreparedMember& m = *s->member;
  const uint64_t left = m.dataSize - s->pos;
  const size_t n = size_t(len < left ? len : left);
  std::memcpy(data, m.data.get() + s->pos, n);
  s->pos += n;
  return zip_int64_t(n);
}

// The next bytes of a file read as libzip asks: a file that grew or shrank since it was
// looked at fails, as its entry would not match its data.
zip_int64_t ReadStreamed(SourceState* s, void* data, zip_uint64_t len) {
  const PreparedMember& m = *s->member;
  const uint64_t left = m.size - s->pos;
  if (left == 0) {
    const int more = MoreData(s->fd);
    if (more < 0) {
      s->ctx->Fail(arc::Kind::Source, arc::ErrnoText("cannot read " + m.path, errno));
      return Fail(s, ZIP_ER_READ);
    }
    if (more > 0) {
      s->ctx->Fail(arc::Kind::Source, m.path + " grew while it was being read");
      return Fail(s, ZIP_ER_READ);
    }
    return 0;
  }
  const size_t want = size_t(len < left ? len : left);
  ssize_t n;
  do n = read(s->fd, data, want);
  while (n < 0 && errno == EINTR);
  if (n < 0) {
    s->ctx->Fail(arc::Kind::Source, arc::ErrnoText("cannot read " + m.path, errno));
    return Fail(s, ZIP_ER_READ);
  }
  if (n == 0) {
    s->ctx->Fail(arc::Kind::Source, m.path + " shrank while it was being read");
    return Fail(s, ZIP_ER_READ);
  }
  s->pos += uint64_t(n);
  if (s->pos > s->counted) {
    const uint64_t delta = s->pos - s->counted;
    s->counted = s->pos;
    if (!s->ctx->Advance(m.memberName, delta)) return Fail(s, ZIP_ER_CANCELLED);
  }
  return n;
}

// What libzip learns of the member before it reads: size, date, and for data deflated
// already its method, compressed size and CRC, so that libzip copies it as it is.
zip_int64_t StatMember(SourceState* s, void* data, zip_uint64_t len) {
  const PreparedMember& m = *s->member;
  auto* st = static_cast<zip_stat_t*>(data);
  if (len < sizeof(*st)) return Fail(s, ZIP_ER_INVAL);
  zip_stat_init(st);
  st->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME | ZIP_STAT_COMP_METHOD | ZIP_STAT_ENCRYPTION_METHOD;
  st->size = m.size;
  st->mtime = time_t(m.mtime);
  st->encryption_method = ZIP_EM_NONE;
  st->comp_method = ZIP_CM_STORE;
  if (m.kind == PreparedMember::Kind::Deflated || m.kind == PreparedMember::Kind::DeflatedFile) {
    st->comp_method = ZIP_CM_DEFLATE;
    st->comp_size = m.dataSize;
    st->crc = m.crc;
    st->valid |= ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC;
  } else if (m.kind == PreparedMember::Kind::StoredBuffer) {
    st->crc = m.crc;
    st->valid |= ZIP_STAT_CRC;
  }
  return sizeof(*st);
}

bool IsStreamed(const PreparedMember& m) {
  return m.kind == PreparedMember::Kind::StoredFile ||
         m.kind == PreparedMember::Kind::StreamDeflate;
}

zip_int64_t OpenMember(SourceState* s) {
  const PreparedMember& m = *s->member;
  s->pos = 0;
  if (!IsStreamed(m)) return 0;
  if (s->fd >= 0) close(s->fd);
  s->fd = open(m.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (s->fd < 0) {
    s->ctx->Fail(arc::Kind::Source, arc::ErrnoText("cannot read " + m.path, errno));
    return Fail(s, ZIP_ER_OPEN);
  }
  return 0;
}

zip_int64_t SourceCallback(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
  auto* s = static_cast<SourceState*>(userdata);
  const PreparedMember& m = *s->member;
  switch (cmd) {
    case ZIP_SOURCE_OPEN: return OpenMember(s);
    case ZIP_SOURCE_READ:
      if (s->ctx->cancelled()) return Fail(s, ZIP_ER_CANCELLED);
      if (m.kind == PreparedMember::Kind::DeflatedFile) return ReadDeflatedFile(s, data, len);
      return IsStreamed(m) ? ReadStreamed(s, data, len) : ReadBuffer(s, data, len);
    case ZIP_SOURCE_CLOSE:
      if (s->fd >= 0) close(s->fd);
      s->fd = -1;
      return 0;
    case ZIP_SOURCE_STAT: return StatMember(s, data, len);
    case ZIP_SOURCE_ERROR: return zip_error_to_data(&s->error, data, len);
    case ZIP_SOURCE_FREE:
      if (s->fd >= 0) close(s->fd);
      zip_error_fini(&s->error);
      delete s;
      return 0;
    case ZIP_SOURCE_SUPPORTS: return ZIP_SOURCE_SUPPORTS_READABLE;
    default: return Fail(s, ZIP_ER_OPNOTSUPP);
  }
}

}  // namespace

PreparedMember::~PreparedMember() {
  if (fd >= 0) close(fd);
}

int DeflateLevel(int level) {
  return level >= 9 ? 10 : level;
}

int DeflatePieces(int in, uint64_t size, int out, int level, uint64_t pieceSize,
                  const std::function<bool(uint64_t)>& piece, uint32_t& crc, uint64_t& outSize,
                  bool& writeFailed) {
  writeFailed = false;
  crc = 0;
  outSize = 0;
  libdeflate_compressor* comp = CompressorFor(level);
  if (comp == nullptr || pieceSize == 0) return ENOMEM;
  const size_t inCap = size_t(size < pieceSize ? size : pieceSize);
  // Room for the stored block that joins two pieces.
  const size_t outCap = libdeflate_deflate_compress_bound(comp, inCap) + 8;
  std::unique_ptr<uint8_t[]> raw(new uint8_t[inCap]), packed(new uint8_t[outCap]);
  uint64_t done = 0;
  do {
    const size_t n = size_t(size - done < inCap ? size - done : inCap);
    uint64_t got = 0;
    if (!ReadAll(in, raw.get(), n, got)) return errno;
    if (got != n) return EIO;
    crc = uint32_t(libdeflate_crc32(crc, raw.get(), n));
    size_t m = libdeflate_deflate_compress(comp, raw.get(), n, packed.get(), outCap - 8);
    if (m == 0) return ENOMEM;
    done += n;
    if (done < size && !MakeNotFinal(packed.get(), m)) return ENOMEM;
    if (!arc::WriteAll(out, packed.get(), m)) {
      writeFailed = true;
      return errno ? errno : ENOSPC;
    }
    outSize += m;
    if (!piece(n)) return EINTR;
  } while (done < size);
  int more = MoreData(in);
  if (more != 0) return more < 0 ? errno : EIO;
  return 0;
}

bool AddContext::Advance(const std::string& member, uint64_t bytes) {
  done_ += bytes;
  if (done_ > total_) done_ = total_;
  int percent = total_ == 0 ? 100 : int(done_ * 100 / total_);
  // The dialog is only touched when something it shows changes: libzip reads in small
  // pieces, and every update runs the event loop.
  if (progress_ && (percent != lastPercent_ || member != lastMember_)) {
    if (!progress_->Update(member, percent)) cancelled_ = true;
    lastPercent_ = percent;
    lastMember_ = member;
  }
  if (progress_ && progress_->Cancelled()) cancelled_ = true;
  if (cancelled_) Fail(arc::Kind::Cancelled, "cancelled");
  return !cancelled_;
}

void AddContext::Fail(arc::Kind kind, const std::string& reason) {
  if (failKind_ == arc::Kind::None) {
    failKind_ = kind;
    failReason_ = reason;
  }
}

namespace {

// Deflates a large file into a temporary file. False with the failure in `ctx` on a read or
// write error or a cancel; true with `out` still StoredFile when the file does not shrink.
bool DeflateToFile(int fd, int level, const std::string& tempDir, AddContext& ctx,
                   PreparedMember& out) {
  int tmp = TemporaryFile(tempDir);
  if (tmp < 0) {
    out.kind = PreparedMember::Kind::StreamDeflate;  // libzip deflates it on the way
    return true;
  }
  uint32_t crc = 0;
  uint64_t packed = 0;
  bool writeFailed = false;
  int err = DeflatePieces(
      fd, out.size, tmp, DeflateLevel(level), kPieceSize,
      [&](uint64_t bytes) { return ctx.Advance(out.memberName, bytes); }, crc, packed, writeFailed);
  if (err != 0) {
    close(tmp);
    if (ctx.failKind() != arc::Kind::None) return false;  // cancelled
    if (writeFailed)
      ctx.Fail(arc::Kind::Write,
               arc::ErrnoText("cannot write a temporary file in " + tempDir, err));
    else if (err == EIO)
      ctx.Fail(arc::Kind::Source, out.path + " changed while it was being read");
    else if (err == ENOMEM)
      ctx.Fail(arc::Kind::Internal, "out of memory");
    else
      ctx.Fail(arc::Kind::Source, arc::ErrnoText("cannot deflate " + out.path, err));
    return false;
  }
  if (packed >= out.size) {
    close(tmp);
    return true;  // stored: read again from the file when the archive is written
  }
  out.kind = PreparedMember::Kind::DeflatedFile;
  out.fd = tmp;
  out.crc = crc;
  out.dataSize = packed;
  return true;
}

}  // namespace

bool PrepareMember(const std::string& path, const std::string& memberName, uint64_t size,
                   int64_t mtime, int level, const std::string& tempDir, uint64_t& memoryLeft,
                   AddContext& ctx, PreparedMember& out) {
  out.path = path;
  out.memberName = memberName;
  out.size = size;
  out.mtime = mtime;
  // Name the file before reading it: a large one takes a while before its first bytes count.
  if (!ctx.Advance(memberName, 0)) return false;
  if (level <= 0) {
    out.kind = PreparedMember::Kind::StoredFile;
    return true;
  }
  const bool large = size > kPieceSize || size > memoryLeft;
  if (large && !ProbeCompressible(path, size)) {
    out.kind = PreparedMember::Kind::StoredFile;
    return true;
  }
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    ctx.Fail(arc::Kind::Source, arc::ErrnoText("cannot read " + path, errno));
    return false;
  }
  if (large) {
    out.kind = PreparedMember::Kind::StoredFile;
    bool ok = DeflateToFile(fd, level, tempDir, ctx, out);
    close(fd);
    return ok;
  }
  std::unique_ptr<uint8_t[]> raw(new uint8_t[size_t(size) + 1]);
  uint64_t got = 0;
  bool ok = ReadAll(fd, raw.get(), size, got);
  int err = errno;
  int more = ok && got == size ? MoreData(fd) : 0;
  if (more < 0) {
    ok = false;
    err = errno;
  }
  bool grew = more > 0;
  close(fd);
  if (!ok) {
    ctx.Fail(arc::Kind::Source, arc::ErrnoText("cannot read " + path, err));
    return false;
  }
  if (got != size || grew) {
    ctx.Fail(arc::Kind::Source, path + " changed while it was being read");
    return false;
  }
  out.crc = uint32_t(libdeflate_crc32(0, raw.get(), size_t(size)));
  if (size > 1) {
    libdeflate_compressor* comp = CompressorFor(DeflateLevel(level));
    if (comp == nullptr) {
      ctx.Fail(arc::Kind::Internal, "out of memory");
      return false;
    }
    // Room for one byte less than the file: deflate that does not shrink it fails here,
    // and the member is stored instead.
    std::unique_ptr<uint8_t[]> packed(new uint8_t[size_t(size - 1)]);
    size_t n =
        libdeflate_deflate_compress(comp, raw.get(), size_t(size), packed.get(), size_t(size - 1));
    if (n != 0) {
      // Keep only what is used: many members may wait in memory for the archive's close.
      std::unique_ptr<uint8_t[]> fitted(new uint8_t[n]);
      std::memcpy(fitted.get(), packed.get(), n);
      out.kind = PreparedMember::Kind::Deflated;
      out.data = std::move(fitted);
      out.dataSize = n;
    }
  }
  if (out.kind != PreparedMember::Kind::Deflated) {
    out.kind = PreparedMember::Kind::StoredBuffer;
    out.data = std::move(raw);
    out.dataSize = size_t(size);
  }
  memoryLeft -= out.dataSize < memoryLeft ? out.dataSize : memoryLeft;
  return ctx.Advance(memberName, size);
}

zip_source_t* MakeMemberSource(zip_t* za, std::unique_ptr<PreparedMember> member, AddContext& ctx) {
  auto* state = new SourceState;
  state->member = std::move(member);
  state->ctx = &ctx;
  zip_error_init(&state->error);
  zip_source_t* src = zip_source_function(za, SourceCallback, state);
  if (src == nullptr) {
    zip_error_fini(&state->error);
    delete state;
  }
  return src;
}

}  // namespace tavrun::zip
