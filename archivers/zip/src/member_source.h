// The data of a member being added, as libzip sources: deflated beforehand with libdeflate
// when the file fits the memory bound, else streamed from the file (libzip deflates it with
// zlib). Every source counts the input it has dealt with, so progress is true to the bytes,
// and cancels through the progress object.
#pragma once

#include <zip.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dialogs.h"

namespace tavrun::zip {

// Files up to this size are read whole and deflated in memory.
constexpr uint64_t kInMemoryBound = 128ull << 20;

// Progress, cancellation and the first source failure of one call.
class AddContext {
 public:
  AddContext(arc::Progress* progress, uint64_t totalBytes)
      : progress_(progress), total_(totalBytes) {}
  // Counts `bytes` more as done for `member`; false once the user has cancelled.
  bool Advance(const std::string& member, uint64_t bytes);
  bool cancelled() const { return cancelled_; }
  void Fail(int32_t code, const std::string& reason);
  int32_t failCode() const { return failCode_; }
  const std::string& failReason() const { return failReason_; }

 private:
  arc::Progress* progress_;
  uint64_t total_;
  uint64_t done_ = 0;
  int lastPercent_ = -1;
  std::string lastMember_;
  bool cancelled_ = false;
  int32_t failCode_ = 0;
  std::string failReason_;
};

struct PreparedMember {
  enum class Kind {
    Deflated,       // `data` holds the raw deflate stream
    StoredBuffer,   // `data` holds the file itself
    StoredFile,     // streamed from `path`, stored
    StreamDeflate,  // streamed from `path`, deflated by libzip
  };
  Kind kind = Kind::StoredFile;
  std::string path;
  std::string memberName;
  uint64_t size = 0;
  uint32_t crc = 0;
  int64_t mtime = 0;
  // Not a vector: zero-filling hundreds of megabytes first would cost as much as reading them.
  std::unique_ptr<uint8_t[]> data;
  size_t dataSize = 0;
};

// Decides how a file is added and, for the in-memory kinds, reads and deflates it.
// `memoryLeft` is the budget for buffers still held until the archive is written; it is
// reduced by what this member keeps. False (failure recorded in `ctx`) on a read error or a
// cancel.
bool PrepareMember(const std::string& path, const std::string& memberName, uint64_t size,
                   int64_t mtime, int level, uint64_t& memoryLeft, AddContext& ctx,
                   PreparedMember& out);

// A libzip source delivering the member; it owns `member` (freed by libzip with the source).
// NULL when libzip cannot make the source.
zip_source_t* MakeMemberSource(zip_t* za, std::unique_ptr<PreparedMember> member,
                               AddContext& ctx);

}  // namespace tavrun::zip
