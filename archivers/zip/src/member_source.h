// The data of a member being added, as libzip sources, deflated beforehand with libdeflate:
// a small file in memory, a larger one piece by piece into an unnamed temporary file beside
// the archive, so memory stays bounded whatever the size. Only when no temporary file can be
// made is a file streamed to libzip (which deflates it with zlib). Every source counts the
// input it has dealt with, so progress is true to the bytes, and cancels through the
// progress object.
#pragma once

#include <zip.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dialogs.h"
#include "outcome.h"

namespace tavrun::zip {

// Deflated members held in memory until the archive is written, in total at most this.
constexpr uint64_t kInMemoryBound = 128ull << 20;
// Files up to this size are read whole and deflated in memory; larger ones are deflated in
// pieces of this size.
constexpr uint64_t kPieceSize = 4ull << 20;

// The libdeflate level for a level switch 1-9: 1-8 as they are; 9, "strongest", is 10,
// libdeflate's first near-optimal level: 2.5-3.5 % smaller than its 9, where 11 and 12 gain
// at most 0.4 % more for up to twice the time.
int DeflateLevel(int level);

// Progress, cancellation and the first source failure of one call.
class AddContext {
 public:
  AddContext(arc::Progress* progress, uint64_t totalBytes)
      : progress_(progress), total_(totalBytes) {}
  // Counts `bytes` more as done for `member`; false once the user has cancelled.
  bool Advance(const std::string& member, uint64_t bytes);
  bool cancelled() const { return cancelled_; }
  void Fail(arc::Kind kind, const std::string& reason);
  arc::Kind failKind() const { return failKind_; }
  const std::string& failReason() const { return failReason_; }

 private:
  arc::Progress* progress_;
  uint64_t total_;
  uint64_t done_ = 0;
  int lastPercent_ = -1;
  std::string lastMember_;
  bool cancelled_ = false;
  arc::Kind failKind_ = arc::Kind::None;
  std::string failReason_;
};

struct PreparedMember {
  enum class Kind {
    Deflated,       // `data` holds the raw deflate stream
    StoredBuffer,   // `data` holds the file itself
    StoredFile,     // streamed from `path`, stored
    StreamDeflate,  // streamed from `path`, deflated by libzip
    DeflatedFile,   // `fd`, an unnamed temporary file, holds the raw deflate stream
  };
  Kind kind = Kind::StoredFile;
  std::string path;
  std::string memberName;
  uint64_t size = 0;
  uint32_t crc = 0;
  int64_t mtime = 0;
  // Not a vector: zero-filling hundreds of megabytes first would cost as much as reading them.
  std::unique_ptr<uint8_t[]> data;
  uint64_t dataSize = 0;
  int fd = -1;
  PreparedMember() = default;
  PreparedMember(const PreparedMember&) = delete;
  PreparedMember& operator=(const PreparedMember&) = delete;
  ~PreparedMember();
};

// Decides how a file is added and reads and deflates it, in memory or into a temporary file
// in `tempDir` (the archive's directory: the same disk libzip writes the archive to).
// `memoryLeft` is the budget for buffers still held until the archive is written; it is
// reduced by what this member keeps. False (failure recorded in `ctx`) on a read error or a
// cancel.
bool PrepareMember(const std::string& path, const std::string& memberName, uint64_t size,
                   int64_t mtime, int level, const std::string& tempDir, uint64_t& memoryLeft,
                   AddContext& ctx, PreparedMember& out);

// Deflates `size` bytes read from `in` into a raw deflate stream written to `out`, in
// independent pieces of `pieceSize` joined into one stream; `piece(bytes)` is called after
// each piece and stops the work by returning false. Returns 0 on success, else the errno of
// the failed read or write (`writeFailed` tells which; EINTR when stopped, ENOMEM when out of
// memory, EIO when the file changed size). `crc` and `outSize` receive the CRC-32 of the
// input and the output size. `level` is libdeflate's.
int DeflatePieces(int in, uint64_t size, int out, int level, uint64_t pieceSize,
                  const std::function<bool(uint64_t)>& piece, uint32_t& crc, uint64_t& outSize,
                  bool& writeFailed);

// A libzip source delivering the member; it owns `member` (freed by libzip with the source).
// NULL when libzip cannot make the source.
zip_source_t* MakeMemberSource(zip_t* za, std::unique_ptr<PreparedMember> member, AddContext& ctx);

}  // namespace tavrun::zip
