#include "zip_methods.h"

#include <lzma.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace tavrun::zip {

namespace {

constexpr size_t kChunk = 256u << 10;
// An LZMA dictionary larger than what the member can produce is never used; what its
// compressed bytes can produce is bounded by this many times their count.
constexpr uint64_t kMaxRatioShift = 13;
// xz streams declare their dictionary whatever the member's size; the largest preset needs
// about 65 MiB to decode (address space, filled only as the data is).
constexpr uint64_t kXzMemoryLimit = 256ull << 20;

uint64_t WindowBound(uint64_t compSize, uint64_t declaredSize) {
  uint64_t byData =
      compSize > (UINT64_MAX >> kMaxRatioShift) ? UINT64_MAX : compSize << kMaxRatioShift;
  return std::max<uint64_t>(4096, std::min(declaredSize, byData));
}

// Reads compressed input in chunks; false on a read error.
class Input {
 public:
  explicit Input(zip_file_t* f) : f_(f), buf_(kChunk) {}
  // Fills the buffer; 0 at the end, -1 on error.
  zip_int64_t Next(std::string& why) {
    zip_int64_t n = zip_fread(f_, buf_.data(), buf_.size());
    if (n < 0) why = std::string("cannot read the member data: ") + zip_file_strerror(f_);
    return n;
  }
  const uint8_t* data() const { return buf_.data(); }

 private:
  zip_file_t* f_;
  std::vector<uint8_t> buf_;
};

struct LzmaEnd {
  void operator()(lzma_stream* s) const { lzma_end(s); }
};

// Decodes with a prepared liblzma stream until the input ends or the stream does.
DecodeResult RunLzma(lzma_stream& strm, Input& in, const uint8_t* first, size_t firstSize,
                     const ChunkSink& out, std::string& why) {
  std::vector<uint8_t> buf(kChunk);
  strm.next_in = first;
  strm.avail_in = firstSize;
  bool inputEnded = false;
  for (;;) {
    if (strm.avail_in == 0 && !inputEnded) {
      zip_int64_t n = in.Next(why);
      if (n < 0) return DecodeResult::Damaged;
      inputEnded = n == 0;
      strm.next_in = in.data();
      strm.avail_in = size_t(n);
    }
    strm.next_out = buf.data();
    strm.avail_out = buf.size();
    lzma_ret r = lzma_code(&strm, inputEnded ? LZMA_FINISH : LZMA_RUN);
    size_t produced = buf.size() - strm.avail_out;
    if (produced > 0 && !out(buf.data(), produced, why)) return DecodeResult::Stopped;
    if (r == LZMA_STREAM_END) return DecodeResult::Ok;
    if (r == LZMA_MEM_ERROR || r == LZMA_MEMLIMIT_ERROR) {
      why = "the member needs more memory to decode than allowed";
      return DecodeResult::NoMemory;
    }
    if (r == LZMA_OK) continue;
    why = "the compressed data is damaged";
    return DecodeResult::Damaged;
  }
}

// ZIP's LZMA: a version, the length of the properties, the properties, then a raw stream.
DecodeResult DecodeLzma(Input& in, uint64_t compSize, uint64_t declaredSize, const ChunkSink& out,
                        std::string& why) {
  zip_int64_t n = in.Next(why);
  if (n < 0) return DecodeResult::Damaged;
  const uint8_t* p = in.data();
  if (n < 9 || (p[2] | p[3] << 8) != 5) {
    why = "damaged LZMA header";
    return DecodeResult::Damaged;
  }
  lzma_options_lzma options{};
  if (lzma_lzma_preset(&options, 0)) return DecodeResult::NoMemory;
  uint32_t dict =
      uint32_t(p[5]) | uint32_t(p[6]) << 8 | uint32_t(p[7]) << 16 | uint32_t(p[8]) << 24;
  unsigned lclppb = p[4];
  if (lclppb >= 9 * 5 * 5) {
    why = "damaged LZMA header";
    return DecodeResult::Damaged;
  }
  options.lc = lclppb % 9;
  options.lp = (lclppb / 9) % 5;
  options.pb = lclppb / 45;
  options.dict_size = uint32_t(std::min<uint64_t>(std::max<uint64_t>(dict, LZMA_DICT_SIZE_MIN),
                                                  WindowBound(compSize, declaredSize)));
  options.dict_size = std::max<uint32_t>(options.dict_size, LZMA_DICT_SIZE_MIN);
  // With the size known the decoder stops right there, with or without an end marker.
  options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  options.ext_size_low = uint32_t(declaredSize);
  options.ext_size_high = uint32_t(declaredSize >> 32);
  lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream strm = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&strm, filters) != LZMA_OK) {
    why = "damaged LZMA header";
    return DecodeResult::Damaged;
  }
  std::unique_ptr<lzma_stream, LzmaEnd> guard(&strm);
  return RunLzma(strm, in, p + 9, size_t(n) - 9, out, why);
}

DecodeResult DecodeXz(Input& in, const ChunkSink& out, std::string& why) {
  lzma_stream strm = LZMA_STREAM_INIT;
  if (lzma_stream_decoder(&strm, kXzMemoryLimit, LZMA_CONCATENATED) != LZMA_OK)
    return DecodeResult::NoMemory;
  std::unique_ptr<lzma_stream, LzmaEnd> guard(&strm);
  return RunLzma(strm, in, nullptr, 0, out, why);
}

struct ZstdFree {
  void operator()(ZSTD_DStream* d) const { ZSTD_freeDStream(d); }
};

DecodeResult DecodeZstd(Input& in, const ChunkSink& out, std::string& why) {
  std::unique_ptr<ZSTD_DStream, ZstdFree> d(ZSTD_createDStream());
  if (!d) return DecodeResult::NoMemory;
  // libzstd's default bound on a frame's window (128 MiB of address space, filled only as
  // the data is) stays: writers declare their level's window whatever the member's size.
  std::vector<uint8_t> buf(ZSTD_DStreamOutSize());
  size_t last = 1;  // 0 once a frame is complete
  for (;;) {
    zip_int64_t n = in.Next(why);
    if (n < 0) return DecodeResult::Damaged;
    if (n == 0) break;
    ZSTD_inBuffer input{in.data(), size_t(n), 0};
    while (input.pos < input.size) {
      ZSTD_outBuffer output{buf.data(), buf.size(), 0};
      last = ZSTD_decompressStream(d.get(), &output, &input);
      if (ZSTD_isError(last)) {
        why = ZSTD_getErrorCode(last) == ZSTD_error_frameParameter_windowTooLarge
                  ? "the member needs a window larger than 128 MiB"
                  : std::string("the compressed data is damaged: ") + ZSTD_getErrorName(last);
        return DecodeResult::Damaged;
      }
      if (output.pos > 0 && !out(buf.data(), output.pos, why)) return DecodeResult::Stopped;
    }
  }
  if (last != 0) {
    why = "the compressed data ends too early";
    return DecodeResult::Damaged;
  }
  return DecodeResult::Ok;
}

}  // namespace

bool OwnDecoderFor(int32_t method) {
  return method == kMethodLzma || method == kMethodXz || method == kMethodZstd ||
         method == kMethodZstdOld;
}

DecodeResult DecodeOwn(zip_file_t* raw, int32_t method, uint64_t compSize, uint64_t declaredSize,
                       const ChunkSink& out, std::string& why) {
  Input in(raw);
  switch (method) {
    case kMethodLzma: return DecodeLzma(in, compSize, declaredSize, out, why);
    case kMethodXz: return DecodeXz(in, out, why);
    default: return DecodeZstd(in, out, why);
  }
}

}  // namespace tavrun::zip
