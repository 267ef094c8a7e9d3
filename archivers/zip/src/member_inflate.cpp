#include "member_inflate.h"

#include <isa-l/igzip_lib.h>

#include <memory>

namespace tavrun::zip {

namespace {

// Large enough that a call of the inflater or of the writer costs little per byte, small
// enough that two members extracted at once stay within a few MiB.
constexpr size_t kInput = 1u << 20;
constexpr size_t kOutput = 1u << 20;

struct Buffers {
  inflate_state state;
  uint8_t in[kInput];
  uint8_t out[kOutput];
};

// Refills the input when it is used up; false on a read error. `ended` is set once the
// member's compressed bytes are all read.
bool Refill(zip_file_t* raw, Buffers& b, bool& ended, std::string& why) {
  if (b.state.avail_in > 0 || ended) return true;
  const zip_int64_t n = zip_fread(raw, b.in, kInput);
  if (n < 0) {
    why = std::string("cannot read the member data: ") + zip_file_strerror(raw);
    return false;
  }
  ended = n == 0;
  b.state.next_in = b.in;
  b.state.avail_in = uint32_t(n);
  return true;
}

}  // namespace

DecodeResult InflateMember(zip_file_t* raw, const ChunkSink& out, std::string& why) {
  std::unique_ptr<Buffers> b(new (std::nothrow) Buffers);
  if (!b) {
    why = "out of memory";
    return DecodeResult::NoMemory;
  }
  isal_inflate_init(&b->state);
  b->state.crc_flag = ISAL_DEFLATE;  // raw deflate; the caller checks the CRC
  bool ended = false;
  while (b->state.block_state != ISAL_BLOCK_FINISH) {
    if (!Refill(raw, *b, ended, why)) return DecodeResult::Damaged;
    b->state.next_out = b->out;
    b->state.avail_out = uint32_t(kOutput);
    const int rc = isal_inflate(&b->state);
    const size_t produced = kOutput - b->state.avail_out;
    if (rc != ISAL_DECOMP_OK) {
      why = "the compressed data is damaged";
      return DecodeResult::Damaged;
    }
    if (produced > 0 && !out(b->out, produced, why)) return DecodeResult::Stopped;
    if (produced == 0 && ended && b->state.avail_in == 0 &&
        b->state.block_state != ISAL_BLOCK_FINISH) {
      why = "the compressed data ends too early";
      return DecodeResult::Damaged;
    }
  }
  // Bytes after the end of the stream are ignored, as zlib's readers do: the length and CRC
  // of the data decide.
  return DecodeResult::Ok;
}

}  // namespace tavrun::zip
