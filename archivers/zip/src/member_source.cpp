#include "member_source.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tavrun_zip_codes.h"

namespace tavrun::zip {

namespace {

// Large files are probed at their start: when deflate saves less than 1 % there, the whole
// file is stored (a second pass over gigabytes would cost more than the bytes saved).
constexpr size_t kProbeSize = 4u << 20;

std::string ErrnoText(const std::string& what, int err) { return what + ": " + std::strerror(err); }

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
  size_t limit = size_t(got - got / 100);
  return libdeflate_deflate_compress(comp, in.get(), size_t(got), out.get(), limit) != 0;
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

zip_int64_t SourceCallback(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
  auto* s = static_cast<SourceState*>(userdata);
  PreparedMember& m = *s->member;
  bool streamed = m.kind == PreparedMember::Kind::StoredFile ||
                  m.kind == PreparedMember::Kind::StreamDeflate;
  switch (cmd) {
    case ZIP_SOURCE_OPEN:
      s->pos = 0;
      if (streamed) {
        if (s->fd >= 0) close(s->fd);
        s->fd = open(m.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (s->fd < 0) {
          s->ctx->Fail(TAVRUN_ZIP_E_SOURCE, ErrnoText("cannot read " + m.path, errno));
          return Fail(s, ZIP_ER_OPEN);
        }
      }
      return 0;
    case ZIP_SOURCE_READ: {
      if (s->ctx->cancelled()) return Fail(s, ZIP_ER_CANCELLED);
      if (!streamed) {
        uint64_t left = m.dataSize - s->pos;
        size_t n = size_t(len < left ? len : left);
        std::memcpy(data, m.data.get() + s->pos, n);
        s->pos += n;
        return zip_int64_t(n);
      }
      uint64_t left = m.size - s->pos;
      if (left == 0) {
        int more = MoreData(s->fd);
        if (more < 0) {
          s->ctx->Fail(TAVRUN_ZIP_E_SOURCE, ErrnoText("cannot read " + m.path, errno));
          return Fail(s, ZIP_ER_READ);
        }
        if (more > 0) {
          s->ctx->Fail(TAVRUN_ZIP_E_SOURCE, m.path + " grew while it was being read");
          return Fail(s, ZIP_ER_READ);
        }
        return 0;
      }
      size_t want = size_t(len < left ? len : left);
      ssize_t n;
      do n = read(s->fd, data, want);
      while (n < 0 && errno == EINTR);
      if (n < 0) {
        s->ctx->Fail(TAVRUN_ZIP_E_SOURCE, ErrnoText("cannot read " + m.path, errno));
        return Fail(s, ZIP_ER_READ);
      }
      if (n == 0) {
        s->ctx->Fail(TAVRUN_ZIP_E_SOURCE, m.path + " shrank while it was being read");
        return Fail(s, ZIP_ER_READ);
      }
      s->pos += uint64_t(n);
      if (s->pos > s->counted) {
        uint64_t delta = s->pos - s->counted;
        s->counted = s->pos;
        if (!s->ctx->Advance(m.memberName, delta)) return Fail(s, ZIP_ER_CANCELLED);
      }
      return n;
    }
    case ZIP_SOURCE_CLOSE:
      if (s->fd >= 0) close(s->fd);
      s->fd = -1;
      return 0;
    case ZIP_SOURCE_STAT: {
      auto* st = static_cast<zip_stat_t*>(data);
      if (len < sizeof(*st)) return Fail(s, ZIP_ER_INVAL);
      zip_stat_init(st);
      st->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME | ZIP_STAT_COMP_METHOD |
                  ZIP_STAT_ENCRYPTION_METHOD;
      st->size = m.size;
      st->mtime = time_t(m.mtime);
      st->encryption_method = ZIP_EM_NONE;
      st->comp_method = ZIP_CM_STORE;
      if (m.kind == PreparedMember::Kind::Deflated) {
        // Handed over as it is: libzip copies a source whose method matches the entry's.
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
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&s->error, data, len);
    case ZIP_SOURCE_FREE:
      if (s->fd >= 0) close(s->fd);
      zip_error_fini(&s->error);
      delete s;
      return 0;
    case ZIP_SOURCE_SUPPORTS:
      return ZIP_SOURCE_SUPPORTS_READABLE;
    default:
      return Fail(s, ZIP_ER_OPNOTSUPP);
  }
}

}  // namespace

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
  if (cancelled_) Fail(TAVRUN_ZIP_E_CANCELLED, "cancelled");
  return !cancelled_;
}

void AddContext::Fail(int32_t code, const std::string& reason) {
  if (failCode_ == 0) {
    failCode_ = code;
    failReason_ = reason;
  }
}

bool PrepareMember(const std::string& path, const std::string& memberName, uint64_t size,
                   int64_t mtime, int level, uint64_t& memoryLeft, AddContext& ctx,
                   PreparedMember& out) {
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
  if (size > kInMemoryBound || size > memoryLeft) {
    out.kind = ProbeCompressible(path, size) ? PreparedMember::Kind::StreamDeflate
                                             : PreparedMember::Kind::StoredFile;
    return true;
  }
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    ctx.Fail(TAVRUN_ZIP_E_SOURCE, ErrnoText("cannot read " + path, errno));
    return false;
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
    ctx.Fail(TAVRUN_ZIP_E_SOURCE, ErrnoText("cannot read " + path, err));
    return false;
  }
  if (got != size || grew) {
    ctx.Fail(TAVRUN_ZIP_E_SOURCE, path + " changed while it was being read");
    return false;
  }
  out.crc = uint32_t(libdeflate_crc32(0, raw.get(), size_t(size)));
  if (size > 1) {
    libdeflate_compressor* comp = CompressorFor(level);
    if (comp == nullptr) {
      ctx.Fail(TAVRUN_ZIP_E_INTERNAL, "out of memory");
      return false;
    }
    // Room for one byte less than the file: deflate that does not shrink it fails here,
    // and the member is stored instead.
    std::unique_ptr<uint8_t[]> packed(new uint8_t[size_t(size - 1)]);
    size_t n = libdeflate_deflate_compress(comp, raw.get(), size_t(size), packed.get(),
                                           size_t(size - 1));
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

zip_source_t* MakeMemberSource(zip_t* za, std::unique_ptr<PreparedMember> member,
                               AddContext& ctx) {
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
