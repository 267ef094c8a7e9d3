#include "archive_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "file_io.h"
#include "safe_output.h"

namespace tavrun::zip {

namespace {

// libzip reads and writes headers a few bytes at a time; without buffers an archive of
// thousands of members costs several system calls per member.
constexpr size_t kBufferSize = 64 << 10;

struct ArchiveState {
  std::string path;
  int fd = -1;  // the archive as it stands; -1 while there is none
  uint64_t size = 0;
  time_t mtime = 0;
  mode_t mode = 0;
  uint64_t offset = 0;  // where the next read starts
  std::unique_ptr<uint8_t[]> readBuffer;
  uint64_t readStart = 0;  // the archive's bytes from here are in readBuffer
  size_t readLength = 0;

  std::unique_ptr<arc::AtomicFile> out;
  std::unique_ptr<uint8_t[]> writeBuffer;
  uint64_t writeStart = 0;  // where the buffered bytes go in the new archive
  size_t writeLength = 0;
  zip_error_t error;

  ArchiveState() { zip_error_init(&error); }
  ~ArchiveState() {
    if (fd >= 0) close(fd);
    zip_error_fini(&error);
  }
};

zip_int64_t Fail(ArchiveState* s, int zipError, int sysError = 0) {
  zip_error_set(&s->error, zipError, sysError);
  return -1;
}

zip_int64_t Read(ArchiveState* s, void* data, zip_uint64_t len) {
  if (s->offset >= s->size) return 0;
  const uint64_t left = s->size - s->offset;
  const size_t want = size_t(len < left ? len : left);
  const bool buffered =
      s->offset >= s->readStart && s->offset + want <= s->readStart + s->readLength;
  if (!buffered && want >= kBufferSize) {  // member data: straight to libzip
    ssize_t n = arc::ReadAt(s->fd, data, want, s->offset);
    if (n < 0) return Fail(s, ZIP_ER_READ, errno);
    s->offset += uint64_t(n);
    return n;
  }
  if (!buffered) {
    if (!s->readBuffer) s->readBuffer.reset(new uint8_t[kBufferSize]);
    ssize_t n = arc::ReadAt(s->fd, s->readBuffer.get(), kBufferSize, s->offset);
    if (n < 0) return Fail(s, ZIP_ER_READ, errno);
    s->readStart = s->offset;
    s->readLength = size_t(n);
  }
  const size_t from = size_t(s->offset - s->readStart);
  const size_t n = want < s->readLength - from ? want : s->readLength - from;
  std::memcpy(data, s->readBuffer.get() + from, n);
  s->offset += n;
  return zip_int64_t(n);
}

zip_int64_t Flush(ArchiveState* s) {
  if (s->writeLength > 0 && !arc::WriteAll(s->out->fd(), s->writeBuffer.get(), s->writeLength))
    return Fail(s, ZIP_ER_WRITE, errno);
  s->writeStart += s->writeLength;
  s->writeLength = 0;
  return 0;
}

zip_int64_t Stat(ArchiveState* s, void* data, zip_uint64_t len) {
  // A missing archive: this is how libzip's own file source says so, and how
  // zip_open_from_source tells a new archive from a failure.
  if (s->fd < 0) return Fail(s, ZIP_ER_READ, ENOENT);
  if (len < sizeof(zip_stat_t)) return Fail(s, ZIP_ER_INVAL);
  auto* st = static_cast<zip_stat_t*>(data);
  zip_stat_init(st);
  st->size = s->size;
  st->mtime = s->mtime;
  st->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
  return sizeof(*st);
}

zip_int64_t BeginWrite(ArchiveState* s) {
  s->out = std::make_unique<arc::AtomicFile>();
  std::string why;
  // A new archive never replaces one that another writer created meanwhile.
  if (!s->out->Open(s->path, why, s->fd < 0)) {
    const int e = errno;
    s->out.reset();
    return Fail(s, e == EEXIST && s->fd < 0 ? ZIP_ER_EXISTS : ZIP_ER_TMPOPEN, e);
  }
  if (!s->writeBuffer) s->writeBuffer.reset(new uint8_t[kBufferSize]);
  s->writeStart = 0;
  s->writeLength = 0;
  return 0;
}

zip_int64_t Write(ArchiveState* s, const void* data, zip_uint64_t len) {
  if (s->writeLength + len > kBufferSize && Flush(s) < 0) return -1;
  if (len >= kBufferSize) {
    if (!arc::WriteAll(s->out->fd(), static_cast<const uint8_t*>(data), size_t(len)))
      return Fail(s, ZIP_ER_WRITE, errno);
    s->writeStart += len;
  } else {
    std::memcpy(s->writeBuffer.get() + s->writeLength, data, size_t(len));
    s->writeLength += size_t(len);
  }
  return zip_int64_t(len);
}

zip_int64_t SeekWrite(ArchiveState* s, void* data, zip_uint64_t len) {
  auto* args = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, len, &s->error);
  if (args == nullptr || Flush(s) < 0) return -1;
  off_t at = lseek(s->out->fd(), off_t(args->offset), args->whence);
  if (at < 0) return Fail(s, ZIP_ER_SEEK, errno);
  s->writeStart = uint64_t(at);
  return 0;
}

zip_int64_t CommitWrite(ArchiveState* s) {
  if (Flush(s) < 0) {
    s->out.reset();
    return -1;
  }
  std::string why;
  const bool ok = s->out->Commit(s->fd >= 0 ? s->mode : 0666 & ~arc::ProcessUmask(), why);
  const int e = errno;
  s->out.reset();
  return ok ? 0 : Fail(s, e == EEXIST && s->fd < 0 ? ZIP_ER_EXISTS : ZIP_ER_WRITE, e);
}

// Called when the last member is deleted: as with a file source, the archive goes.
zip_int64_t Remove(ArchiveState* s) {
  if (unlink(s->path.c_str()) != 0) return Fail(s, ZIP_ER_REMOVE, errno);
  if (s->fd >= 0) close(s->fd);
  s->fd = -1;
  return 0;
}

zip_int64_t Callback(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
  auto* s = static_cast<ArchiveState*>(userdata);
  switch (cmd) {
    case ZIP_SOURCE_OPEN:
      if (s->fd < 0) return Fail(s, ZIP_ER_OPEN, ENOENT);
      s->offset = 0;
      return 0;
    case ZIP_SOURCE_READ: return Read(s, data, len);
    case ZIP_SOURCE_CLOSE: return 0;  // the descriptor stays for a later open
    case ZIP_SOURCE_STAT: return Stat(s, data, len);
    case ZIP_SOURCE_SEEK: {
      zip_int64_t at = zip_source_seek_compute_offset(s->offset, s->size, data, len, &s->error);
      if (at < 0) return -1;
      s->offset = uint64_t(at);
      return 0;
    }
    case ZIP_SOURCE_TELL: return zip_int64_t(s->offset);
    case ZIP_SOURCE_BEGIN_WRITE: return BeginWrite(s);
    case ZIP_SOURCE_WRITE: return Write(s, data, len);
    case ZIP_SOURCE_SEEK_WRITE: return SeekWrite(s, data, len);
    case ZIP_SOURCE_TELL_WRITE: return zip_int64_t(s->writeStart + s->writeLength);
    case ZIP_SOURCE_COMMIT_WRITE: return CommitWrite(s);
    case ZIP_SOURCE_ROLLBACK_WRITE:
      s->out.reset();  // the unnamed file goes with its descriptor
      s->writeLength = 0;
      return 0;
    case ZIP_SOURCE_REMOVE: return Remove(s);
    // An empty file is no archive: the caller decides whether to start it afresh.
    case ZIP_SOURCE_ACCEPT_EMPTY: return 0;
    case ZIP_SOURCE_ERROR: return zip_error_to_data(&s->error, data, len);
    case ZIP_SOURCE_FREE: delete s; return 0;
    case ZIP_SOURCE_SUPPORTS:
      return ZIP_SOURCE_SUPPORTS_WRITABLE |
             ZIP_SOURCE_MAKE_COMMAND_BITMASK(ZIP_SOURCE_ACCEPT_EMPTY);
    default: return Fail(s, ZIP_ER_OPNOTSUPP);
  }
}

}  // namespace

zip_source_t* MakeArchiveSource(const std::string& path, zip_error_t* error) {
  auto state = std::make_unique<ArchiveState>();
  state->path = path;
  state->fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (state->fd < 0 && errno != ENOENT) {
    zip_error_set(error, ZIP_ER_OPEN, errno);
    return nullptr;
  }
  struct stat st {};
  if (state->fd >= 0) {
    if (fstat(state->fd, &st) != 0) {
      zip_error_set(error, ZIP_ER_READ, errno);
      return nullptr;
    }
    state->size = uint64_t(st.st_size);
    state->mtime = st.st_mtime;
    state->mode = st.st_mode & 07777;
  }
  zip_source_t* src = zip_source_function_create(Callback, state.get(), error);
  if (src != nullptr) state.release();  // freed by ZIP_SOURCE_FREE
  return src;
}

}  // namespace tavrun::zip
