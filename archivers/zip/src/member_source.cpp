#include "member_source.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "compressibility.h"
#include "file_io.h"
#include "host.h"
#include "piece_deflate.h"
#include "tavrun_zip_codes.h"

namespace tavrun::zip {

namespace {

// How far back a deflate copy reaches: the probe counts repeats within it.
constexpr uint32_t kDeflateWindow = 32768;

// The modification time to the nanosecond, as the file stands; -1 (errno kept) on failure.
int64_t MtimeNs(int fd, struct stat& st) {
  if (fstat(fd, &st) != 0) return -1;
  return int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// A file that is no longer the size and date it was found with, or whose date moved since it
// was opened (`openedNs`), has changed: its entry would not match its data.
bool SameAsFound(int fd, const PreparedMember& m, int64_t openedNs, int& err) {
  struct stat st {};
  const int64_t ns = MtimeNs(fd, st);
  err = ns < 0 ? errno : 0;
  return ns >= 0 && ns == openedNs && uint64_t(st.st_size) == m.size &&
         int64_t(st.st_mtime) == m.mtime;
}

// Whether deflating the file pays, judged from stretches of it (a large one is read when the
// archive is written, and stored whole when it does not).
bool ProbeCompressible(const std::string& path, uint64_t size,
                       const std::function<bool()>& keepGoing) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;  // the real read reports the error
  const bool worth = arc::WorthCompressingFile(fd, size, kDeflateWindow, keepGoing);
  close(fd);
  return worth;
}

struct SourceState {
  std::unique_ptr<PreparedMember> member;
  AddContext* ctx = nullptr;
  zip_error_t error;
  int fd = -1;
  uint64_t pos = 0;
  uint64_t counted = 0;   // input bytes already reported to the progress
  int64_t openedNs = -1;  // the file's date when it was opened
  std::unique_ptr<PieceDeflater> deflater;
  const uint8_t* piece = nullptr;  // what is left of the piece being handed out
  size_t pieceLeft = 0;
  bool ended = false;  // all pieces handed out and the file found unchanged
  uint32_t crc = 0;    // known once ended
};

zip_int64_t Fail(SourceState* s, int zipError) {
  zip_error_set(&s->error, zipError, 0);
  return -1;
}

zip_int64_t SourceFailed(SourceState* s, arc::Kind kind, const std::string& reason, int zipError) {
  s->ctx->Fail(kind, reason);
  return Fail(s, zipError);
}

// Takes the next deflated piece; 0 at the end, -1 on a failure or a cancel.
zip_int64_t NextPiece(SourceState* s) {
  const PreparedMember& m = *s->member;
  uint64_t input = 0;
  switch (s->deflater->Next(s->piece, s->pieceLeft, input)) {
    case PieceDeflater::Status::Piece:
      if (!s->ctx->Advance(m.memberName, input)) return Fail(s, ZIP_ER_CANCELLED);
      return 1;
    case PieceDeflater::Status::End:
      s->ended = true;
      s->crc = s->deflater->crc();
      return 0;
    case PieceDeflater::Status::ReadError:
      return SourceFailed(s, arc::Kind::Source,
                          arc::ErrnoText("cannot read " + m.path, s->deflater->error()),
                          ZIP_ER_READ);
    case PieceDeflater::Status::Changed:
      return SourceFailed(s, arc::Kind::Source, m.path + " changed while it was being read",
                          ZIP_ER_READ);
    case PieceDeflater::Status::NoMemory: break;
  }
  return SourceFailed(s, arc::Kind::Internal, "out of memory", ZIP_ER_MEMORY);
}

// The next bytes of a file deflated in pieces as libzip reads it.
zip_int64_t ReadPieces(SourceState* s, void* data, zip_uint64_t len) {
  while (s->pieceLeft == 0 && !s->ended) {
    const zip_int64_t more = NextPiece(s);
    if (more <= 0) return more;
  }
  const size_t n = size_t(len < s->pieceLeft ? len : s->pieceLeft);
  std::memcpy(data, s->piece, n);
  s->piece += n;
  s->pieceLeft -= n;
  return zip_int64_t(n);
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
    int err = 0;
    if (!SameAsFound(s->fd, m, s->openedNs, err)) {
      s->ctx->Fail(arc::Kind::Source, err ? arc::ErrnoText("cannot read " + m.path, err)
                                          : m.path + " changed while it was being read");
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
  if (m.kind == PreparedMember::Kind::Deflated) {
    st->comp_method = ZIP_CM_DEFLATE;
    st->comp_size = m.dataSize;
    st->crc = m.crc;
    st->valid |= ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC;
  } else if (m.kind == PreparedMember::Kind::StreamDeflate) {
    // libzip asks again once it has read the data, and takes the CRC then.
    st->comp_method = ZIP_CM_DEFLATE;
    if (s->ended) {
      st->crc = s->crc;
      st->valid |= ZIP_STAT_CRC;
    }
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
  struct stat st {};
  s->openedNs = s->fd < 0 ? -1 : MtimeNs(s->fd, st);
  int err = s->openedNs < 0 ? errno : 0;
  if (s->openedNs < 0 || !SameAsFound(s->fd, m, s->openedNs, err)) {
    return SourceFailed(s, arc::Kind::Source,
                        err ? arc::ErrnoText("cannot read " + m.path, err)
                            : m.path + " changed while it was being read",
                        ZIP_ER_OPEN);
  }
  if (m.kind == PreparedMember::Kind::StreamDeflate) {
    s->deflater = std::make_unique<PieceDeflater>(s->fd, m.size, m.deflateLevel, kPieceSize,
                                                  arc::ThreadsPerCall());
    s->piece = nullptr;
    s->pieceLeft = 0;
    s->ended = false;
  }
  return 0;
}

void CloseMember(SourceState* s) {
  s->deflater.reset();  // stops its threads before the file goes
  if (s->fd >= 0) close(s->fd);
  s->fd = -1;
}

zip_int64_t SourceCallback(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
  auto* s = static_cast<SourceState*>(userdata);
  const PreparedMember& m = *s->member;
  switch (cmd) {
    case ZIP_SOURCE_OPEN: return OpenMember(s);
    case ZIP_SOURCE_READ:
      if (s->ctx->cancelled()) return Fail(s, ZIP_ER_CANCELLED);
      if (m.kind == PreparedMember::Kind::StreamDeflate) return ReadPieces(s, data, len);
      return IsStreamed(m) ? ReadStreamed(s, data, len) : ReadBuffer(s, data, len);
    case ZIP_SOURCE_CLOSE: CloseMember(s); return 0;
    case ZIP_SOURCE_STAT: return StatMember(s, data, len);
    case ZIP_SOURCE_ERROR: return zip_error_to_data(&s->error, data, len);
    case ZIP_SOURCE_FREE:
      CloseMember(s);
      zip_error_fini(&s->error);
      delete s;
      return 0;
    case ZIP_SOURCE_SUPPORTS: return ZIP_SOURCE_SUPPORTS_READABLE;
    default: return Fail(s, ZIP_ER_OPNOTSUPP);
  }
}

}  // namespace

int DeflateLevel(int level) {
  return level >= 9 ? 10 : level;
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

// Reads a small file whole into `raw` (one byte more than its size, to see it grow).
bool ReadSmall(const PreparedMember& m, std::unique_ptr<uint8_t[]>& raw, AddContext& ctx) {
  int fd = open(m.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    ctx.Fail(arc::Kind::Source, arc::ErrnoText("cannot read " + m.path, errno));
    return false;
  }
  raw.reset(new uint8_t[size_t(m.size) + 1]);
  struct stat st {};
  const int64_t openedNs = MtimeNs(fd, st);
  uint64_t got = 0;
  bool ok = openedNs >= 0 && ReadFull(fd, raw.get(), m.size + 1, got);
  int err = ok ? 0 : errno;
  const bool same = ok && got == m.size && SameAsFound(fd, m, openedNs, err);
  close(fd);
  if (err != 0) {
    ctx.Fail(arc::Kind::Source, arc::ErrnoText("cannot read " + m.path, err));
    return false;
  }
  if (!same) {
    ctx.Fail(arc::Kind::Source, m.path + " changed while it was being read");
    return false;
  }
  return true;
}

// Deflates a small file held in `raw`, or keeps it as it is when deflating cannot pay.
bool DeflateSmall(std::unique_ptr<uint8_t[]> raw, int level, AddContext& ctx, PreparedMember& out) {
  const uint64_t size = out.size;
  out.crc = uint32_t(libdeflate_crc32(0, raw.get(), size_t(size)));
  // Photos and archives are stored without a deflate that would only be thrown away.
  if (size > 1 && arc::WorthCompressingData(raw.get(), size_t(size), kDeflateWindow)) {
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
      return true;
    }
  }
  out.kind = PreparedMember::Kind::StoredBuffer;
  out.data = std::move(raw);
  out.dataSize = size_t(size);
  return true;
}

}  // namespace

bool PrepareMember(const std::string& path, const std::string& memberName, uint64_t size,
                   int64_t mtime, int level, uint64_t& memoryLeft, AddContext& ctx,
                   PreparedMember& out) {
  out.path = path;
  out.memberName = memberName;
  out.size = size;
  out.mtime = mtime;
  out.deflateLevel = DeflateLevel(level);
  // Name the file before reading it: a large one takes a while before its first bytes count.
  if (!ctx.Advance(memberName, 0)) return false;
  out.kind = PreparedMember::Kind::StoredFile;
  if (level <= 0) return true;
  if (size > kPieceSize || size > memoryLeft) {
    // Read when the archive is written; stored when it does not compress.
    bool going = true;
    const bool worth =
        ProbeCompressible(path, size, [&] { return going = ctx.Advance(memberName, 0); });
    if (worth) out.kind = PreparedMember::Kind::StreamDeflate;
    return going;
  }
  std::unique_ptr<uint8_t[]> raw;
  if (!ReadSmall(out, raw, ctx) || !DeflateSmall(std::move(raw), level, ctx, out)) return false;
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
