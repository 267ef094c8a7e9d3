#include "zip_methods.h"

#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_DCtx_setMaxWindowSize: a window bound in bytes
#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace tavrun::zip {

namespace {

constexpr size_t kChunk = 256u << 10;
// What zstd needs beside its window: two blocks of buffers and its tables.
constexpr uint64_t kZstdOverhead = 1u << 20;

std::string MiB(uint64_t bytes) {
  return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB";
}

DecodeResult OverBudget(uint64_t needed, const std::string& what, std::string& why) {
  why = "needs " + (needed > 0 ? MiB(needed) + " of memory" : std::string("more memory")) +
        " to decode (" + what + "), more than the " + MiB(kDecodeMemoryBudget) + " allowed";
  return DecodeResult::OverBudget;
}

DecodeResult Damaged(const std::string& what, std::string& why) {
  why = what;
  return DecodeResult::Damaged;
}

// The stored bytes, a chunk at a time.
class Input {
 public:
  explicit Input(StoredInput& in) : in_(in), buf_(kChunk) {}
  // Refills the buffer: its length, 0 at the end, -1 on a failure.
  int64_t Next(std::string& why) { return in_.Read(buf_.data(), buf_.size(), why); }
  uint8_t* data() { return buf_.data(); }
  // Exactly `n` bytes into `out`; false when the input ends first or fails.
  bool Exactly(uint8_t* out, size_t n, std::string& why) {
    while (n > 0) {
      const int64_t got = in_.Read(out, n, why);
      if (got <= 0) return false;
      out += got;
      n -= size_t(got);
    }
    return true;
  }

 private:
  StoredInput& in_;
  std::vector<uint8_t> buf_;
};

DecodeResult CopyStored(Input& in, const ChunkSink& out, std::string& why) {
  for (;;) {
    const int64_t n = in.Next(why);
    if (n < 0) return DecodeResult::Damaged;
    if (n == 0) return DecodeResult::Ok;
    if (!out(in.data(), size_t(n), why)) return DecodeResult::Stopped;
  }
}

struct InflateEnd {
  void operator()(z_stream* z) const { inflateEnd(z); }
};

DecodeResult Inflate(Input& in, const ChunkSink& out, std::string& why) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return DecodeResult::NoMemory;
  std::unique_ptr<z_stream, InflateEnd> guard(&z);
  std::vector<uint8_t> buf(kChunk);
  for (int rc = Z_OK; rc != Z_STREAM_END;) {
    if (z.avail_in == 0) {
      const int64_t n = in.Next(why);
      if (n < 0) return DecodeResult::Damaged;
      if (n == 0) return Damaged("the compressed data ends too early", why);
      z.next_in = in.data();
      z.avail_in = uInt(n);
    }
    z.next_out = buf.data();
    z.avail_out = uInt(buf.size());
    rc = inflate(&z, Z_NO_FLUSH);
    if (rc == Z_MEM_ERROR) return DecodeResult::NoMemory;
    if (rc != Z_OK && rc != Z_STREAM_END && !(rc == Z_BUF_ERROR && z.avail_in == 0))
      return Damaged("the compressed data is damaged", why);
    const size_t produced = buf.size() - z.avail_out;
    if (produced > 0 && !out(buf.data(), produced, why)) return DecodeResult::Stopped;
  }
  return DecodeResult::Ok;
}

struct Bz2End {
  void operator()(bz_stream* s) const { BZ2_bzDecompressEnd(s); }
};

// bzip2, including several streams one after another (as parallel writers make them).
DecodeResult Bunzip(Input& in, const ChunkSink& out, std::string& why) {
  bz_stream s{};
  std::unique_ptr<bz_stream, Bz2End> guard(&s);  // ending a stream never begun is harmless
  std::vector<uint8_t> buf(kChunk);
  bool started = false, any = false;  // a stream has begun and not ended; one has begun
  for (;;) {
    if (s.avail_in == 0) {
      const int64_t n = in.Next(why);
      if (n < 0) return DecodeResult::Damaged;
      if (n == 0) {
        if (started || !any) return Damaged("the compressed data ends too early", why);
        return DecodeResult::Ok;
      }
      s.next_in = reinterpret_cast<char*>(in.data());
      s.avail_in = unsigned(n);
    }
    if (!started) {
      char* next = s.next_in;
      const unsigned avail = s.avail_in;
      BZ2_bzDecompressEnd(&s);
      s = bz_stream{};
      if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK) return DecodeResult::NoMemory;
      s.next_in = next;
      s.avail_in = avail;
      started = any = true;
    }
    s.next_out = reinterpret_cast<char*>(buf.data());
    s.avail_out = unsigned(buf.size());
    const int rc = BZ2_bzDecompress(&s);
    if (rc == BZ_MEM_ERROR) return DecodeResult::NoMemory;
    if (rc != BZ_OK && rc != BZ_STREAM_END) return Damaged("the compressed data is damaged", why);
    const size_t produced = buf.size() - s.avail_out;
    if (produced > 0 && !out(buf.data(), produced, why)) return DecodeResult::Stopped;
    if (rc == BZ_STREAM_END) started = false;
  }
}

struct LzmaEnd {
  void operator()(lzma_stream* s) const { lzma_end(s); }
};

// Decodes with a prepared liblzma stream until the input ends or the stream does.
DecodeResult RunLzma(lzma_stream& strm, Input& in, const ChunkSink& out, std::string& why) {
  std::vector<uint8_t> buf(kChunk);
  bool inputEnded = false;
  for (;;) {
    if (strm.avail_in == 0 && !inputEnded) {
      const int64_t n = in.Next(why);
      if (n < 0) return DecodeResult::Damaged;
      inputEnded = n == 0;
      strm.next_in = in.data();
      strm.avail_in = size_t(n);
    }
    strm.next_out = buf.data();
    strm.avail_out = buf.size();
    const lzma_ret r = lzma_code(&strm, inputEnded ? LZMA_FINISH : LZMA_RUN);
    const size_t produced = buf.size() - strm.avail_out;
    if (produced > 0 && !out(buf.data(), produced, why)) return DecodeResult::Stopped;
    if (r == LZMA_STREAM_END) return DecodeResult::Ok;
    if (r == LZMA_MEMLIMIT_ERROR) return OverBudget(lzma_memusage(&strm), "its dictionary", why);
    if (r == LZMA_MEM_ERROR) return DecodeResult::NoMemory;
    if (r == LZMA_OK) continue;
    return Damaged("the compressed data is damaged", why);
  }
}

// ZIP's LZMA: a version, the length of the properties, the properties, then a raw stream.
// The dictionary never needs to be larger than the member's declared size, since no more is
// decoded; what is left must fit the budget.
DecodeResult DecodeLzma(Input& in, uint64_t declaredSize, const ChunkSink& out, std::string& why) {
  uint8_t p[9];
  if (!in.Exactly(p, sizeof p, why) || (p[2] | p[3] << 8) != 5 || p[4] >= 9 * 5 * 5)
    return Damaged(why.empty() ? "damaged LZMA header" : why, why);
  lzma_options_lzma options{};
  if (lzma_lzma_preset(&options, 0)) return DecodeResult::NoMemory;
  const uint32_t dict =
      uint32_t(p[5]) | uint32_t(p[6]) << 8 | uint32_t(p[7]) << 16 | uint32_t(p[8]) << 24;
  options.lc = p[4] % 9;
  options.lp = (p[4] / 9) % 5;
  options.pb = p[4] / 45;
  options.dict_size =
      uint32_t(std::max<uint64_t>(LZMA_DICT_SIZE_MIN, std::min<uint64_t>(dict, declaredSize)));
  // With the size known the decoder stops right there, with or without an end marker.
  options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  options.ext_size_low = uint32_t(declaredSize);
  options.ext_size_high = uint32_t(declaredSize >> 32);
  lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  const uint64_t needed = lzma_raw_decoder_memusage(filters);
  if (needed == UINT64_MAX) return Damaged("damaged LZMA header", why);
  if (needed > kDecodeMemoryBudget)
    return OverBudget(needed, "an LZMA dictionary of " + MiB(dict), why);
  lzma_stream strm = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&strm, filters) != LZMA_OK) return Damaged("damaged LZMA header", why);
  std::unique_ptr<lzma_stream, LzmaEnd> guard(&strm);
  return RunLzma(strm, in, out, why);
}

DecodeResult DecodeXz(Input& in, const ChunkSink& out, std::string& why) {
  lzma_stream strm = LZMA_STREAM_INIT;
  if (lzma_stream_decoder(&strm, kDecodeMemoryBudget, LZMA_CONCATENATED) != LZMA_OK)
    return DecodeResult::NoMemory;
  std::unique_ptr<lzma_stream, LzmaEnd> guard(&strm);
  return RunLzma(strm, in, out, why);
}

struct ZstdFree {
  void operator()(ZSTD_DStream* d) const { ZSTD_freeDStream(d); }
};

DecodeResult DecodeZstd(Input& in, const ChunkSink& out, std::string& why) {
  std::unique_ptr<ZSTD_DStream, ZstdFree> d(ZSTD_createDStream());
  if (!d) return DecodeResult::NoMemory;
  // The window a frame declares is refused above the budget before it is allocated.
  if (ZSTD_isError(ZSTD_DCtx_setMaxWindowSize(d.get(), kDecodeMemoryBudget - kZstdOverhead)))
    return DecodeResult::NoMemory;
  std::vector<uint8_t> buf(ZSTD_DStreamOutSize());
  size_t last = 1;  // 0 once a frame is complete
  for (;;) {
    const int64_t n = in.Next(why);
    if (n < 0) return DecodeResult::Damaged;
    if (n == 0) break;
    ZSTD_inBuffer input{in.data(), size_t(n), 0};
    while (input.pos < input.size) {
      ZSTD_outBuffer output{buf.data(), buf.size(), 0};
      last = ZSTD_decompressStream(d.get(), &output, &input);
      if (ZSTD_isError(last)) {
        if (ZSTD_getErrorCode(last) == ZSTD_error_frameParameter_windowTooLarge) {
          ZSTD_frameHeader header{};
          const bool known = ZSTD_getFrameHeader(&header, in.data(), size_t(n)) == 0;
          return OverBudget(known ? header.windowSize + kZstdOverhead : 0, "its window", why);
        }
        if (ZSTD_getErrorCode(last) == ZSTD_error_memory_allocation) return DecodeResult::NoMemory;
        return Damaged(std::string("the compressed data is damaged: ") + ZSTD_getErrorName(last),
                       why);
      }
      if (output.pos > 0 && !out(buf.data(), output.pos, why)) return DecodeResult::Stopped;
    }
  }
  if (last != 0) return Damaged("the compressed data ends too early", why);
  return DecodeResult::Ok;
}

}  // namespace

int64_t LibzipInput::Read(uint8_t* data, size_t size, std::string& why) {
  const zip_int64_t n = zip_fread(f_, data, size);
  if (n < 0) why = std::string("cannot read the member data: ") + zip_file_strerror(f_);
  return n;
}

bool OwnDecoderFor(int32_t method) {
  return method == kMethodLzma || method == kMethodXz || method == kMethodZstd ||
         method == kMethodZstdOld;
}

bool DecodableMethod(int32_t method) {
  return method == ZIP_CM_STORE || method == ZIP_CM_DEFLATE || method == ZIP_CM_BZIP2 ||
         OwnDecoderFor(method);
}

DecodeResult DecodeMember(StoredInput& stored, int32_t method, uint64_t declaredSize,
                          const ChunkSink& out, std::string& why) {
  Input in(stored);
  switch (method) {
    case ZIP_CM_STORE: return CopyStored(in, out, why);
    case ZIP_CM_DEFLATE: return Inflate(in, out, why);
    case ZIP_CM_BZIP2: return Bunzip(in, out, why);
    case kMethodLzma: return DecodeLzma(in, declaredSize, out, why);
    case kMethodXz: return DecodeXz(in, out, why);
    case kMethodZstd:
    case kMethodZstdOld: return DecodeZstd(in, out, why);
    default:
      why = "compression method " + std::to_string(method) + " not supported";
      return DecodeResult::Damaged;
  }
}

}  // namespace tavrun::zip
