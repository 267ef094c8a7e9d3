// Our own decoders over a member's stored bytes: every method we extract (stored, deflate,
// bzip2, LZMA, xz, Zstandard), for encrypted members (which libzip only decrypts for the
// methods it knows) and for the methods the Debian build of libzip lacks. What they write is
// bounded by the caller; the memory they take is bounded by one budget, whatever the archive
// declares.
#pragma once

#include <zip.h>

#include <cstdint>
#include <functional>
#include <string>

namespace tavrun::zip {

constexpr int32_t kMethodLzma = 14, kMethodZstdOld = 20, kMethodZstd = 93, kMethodXz = 95;

// The most memory one member's decoder may take (window or dictionary and its tables). Every
// preset of the usual writers fits (xz and 7-Zip -9: 64 MiB, zstd --ultra -22: 128 MiB); a
// member that declares more is refused before anything is allocated, so a few hundred bytes
// cannot claim gigabytes, and a run of two jobs stays near half a gigabyte.
constexpr uint64_t kDecodeMemoryBudget = 256ull << 20;

// True when one of our own decoders reads `method` and libzip does not.
bool OwnDecoderFor(int32_t method);
// True when DecodeMember reads `method`.
bool DecodableMethod(int32_t method);

// The stored bytes of a member as a decoder reads them.
class StoredInput {
 public:
  virtual ~StoredInput() = default;
  // Up to `size` bytes into `data`; 0 at the end, -1 on a failure (the reason in `why`).
  virtual int64_t Read(uint8_t* data, size_t size, std::string& why) = 0;
  // Called once the decoder is done: reads what it left and checks what the end holds.
  virtual bool Finish(std::string& /*why*/) { return true; }
};

// A member opened with ZIP_FL_COMPRESSED (or ZIP_FL_ENCRYPTED) through libzip.
class LibzipInput : public StoredInput {
 public:
  explicit LibzipInput(zip_file_t* f) : f_(f) {}
  int64_t Read(uint8_t* data, size_t size, std::string& why) override;

 private:
  zip_file_t* f_;
};

// Receives decoded bytes; returns false to stop (the reason in `why`).
using ChunkSink = std::function<bool(const uint8_t* data, size_t size, std::string& why)>;

// OverBudget: the member needs more memory than kDecodeMemoryBudget; NoMemory: an allocation
// failed.
enum class DecodeResult { Ok, Damaged, Stopped, OverBudget, NoMemory };

// Reads `in` until the compressed stream ends and hands the decoded data to `out`.
// `declaredSize` bounds the LZMA dictionary (never more is decoded); the caller checks the
// length and CRC of what comes out.
DecodeResult DecodeMember(StoredInput& in, int32_t method, uint64_t declaredSize,
                          const ChunkSink& out, std::string& why);

}  // namespace tavrun::zip
