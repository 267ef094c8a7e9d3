// The data of a member being added, as libzip sources: a small file read and deflated
// beforehand with libdeflate and held in memory; a larger one read and deflated in pieces by
// several threads while libzip writes the archive, so it is read once, written once and
// memory stays bounded whatever its size. Every source counts the input it has dealt with,
// so progress is true to the bytes, and cancels through the progress object. A file that
// cannot be read, or changes while it is read, fails its member.
#pragma once

#include <zip.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dialogs.h"
#include "outcome.h"

namespace tavrun::zip {

// Deflated members held in memory until the archive is written, in total at most this.
constexpr uint64_t kInMemoryBound = 128ull << 20;
// Files up to this size are read whole and deflated in memory; larger ones are deflated in
// pieces of this size (fixed: the archive's bytes never depend on the number of threads).
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
    StreamDeflate,  // streamed from `path`, deflated in pieces as libzip reads it
  };
  Kind kind = Kind::StoredFile;
  std::string path;
  std::string memberName;
  uint64_t size = 0;
  uint32_t crc = 0;
  int64_t mtime = 0;
  int deflateLevel = 6;  // libdeflate's, for StreamDeflate
  // Not a vector: zero-filling hundreds of megabytes first would cost as much as reading them.
  std::unique_ptr<uint8_t[]> data;
  uint64_t dataSize = 0;
  PreparedMember() = default;
  PreparedMember(const PreparedMember&) = delete;
  PreparedMember& operator=(const PreparedMember&) = delete;
};

// Decides how a file is added; a small one is read and deflated now. `memoryLeft` is the
// budget for buffers still held until the archive is written; it is reduced by what this
// member keeps. `size` and `mtime` are what the file was found to be: a file that differs
// from them has changed. False (failure recorded in `ctx`) on a read error, a change or a
// cancel.
bool PrepareMember(const std::string& path, const std::string& memberName, uint64_t size,
                   int64_t mtime, int level, uint64_t& memoryLeft, AddContext& ctx,
                   PreparedMember& out);

// A libzip source delivering the member; it owns `member` (freed by libzip with the source).
// NULL when libzip cannot make the source.
zip_source_t* MakeMemberSource(zip_t* za, std::unique_ptr<PreparedMember> member, AddContext& ctx);

}  // namespace tavrun::zip
