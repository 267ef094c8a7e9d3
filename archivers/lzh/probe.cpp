#include "probe.h"

#include <libdeflate.h>

#include <cmath>
#include <memory>
#include <vector>

namespace tavrun::lzh::enc {
namespace {

struct Compressor {
  Compressor() : c(libdeflate_alloc_compressor(1)) {}
  ~Compressor() {
    if (c) libdeflate_free_compressor(c);
  }
  libdeflate_compressor* c;
};

// Bits of `data` coded byte by byte with ideal codes for its own frequencies.
double LiteralBits(const uint8_t* data, size_t size) {
  uint32_t freq[256] = {};
  for (size_t i = 0; i < size; ++i) ++freq[data[i]];
  double bits = 0;
  const double n = static_cast<double>(size);
  for (uint32_t f : freq)
    if (f) bits += f * std::log2(n / f);
  return bits;
}

}  // namespace

bool ParsingPays(const uint8_t* data, size_t size) {
  if (size < 1024) return true;
  thread_local Compressor compressor;
  thread_local std::vector<uint8_t> out;
  if (compressor.c == nullptr) return true;
  const double literal = LiteralBits(data, size);
  // Parsing pays when copies save more than 2 % over literals alone.
  const size_t limit = static_cast<size_t>(literal * 0.98 / 8);
  if (limit == 0) return true;
  out.resize(limit);
  return libdeflate_deflate_compress(compressor.c, data, size, out.data(), limit) != 0;
}

}  // namespace tavrun::lzh::enc
