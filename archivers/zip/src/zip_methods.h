// Decoders for the methods that the Debian build of libzip lacks: LZMA and xz (liblzma) and
// Zstandard (libzstd), over a member's raw compressed bytes. What they write is bounded by
// the caller; the LZMA dictionary never exceeds what the member can produce.
#pragma once

#include <zip.h>

#include <cstdint>
#include <functional>
#include <string>

namespace tavrun::zip {

constexpr int32_t kMethodLzma = 14, kMethodZstdOld = 20, kMethodZstd = 93, kMethodXz = 95;

// True when one of our own decoders reads `method`.
bool OwnDecoderFor(int32_t method);

// Receives decoded bytes; returns false to stop (the reason in `why`).
using ChunkSink = std::function<bool(const uint8_t* data, size_t size, std::string& why)>;

enum class DecodeResult { Ok, Damaged, Stopped, NoMemory };

// Reads the compressed bytes of `raw` (opened with ZIP_FL_COMPRESSED) to their end and hands
// the decoded data to `out`. `declaredSize` only bounds the LZMA dictionary from above; the
// caller checks the length and CRC of what comes out.
DecodeResult DecodeOwn(zip_file_t* raw, int32_t method, uint64_t compSize, uint64_t declaredSize,
                       const ChunkSink& out, std::string& why);

}  // namespace tavrun::zip
