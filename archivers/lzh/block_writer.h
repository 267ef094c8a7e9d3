// The output side of the encoder: commands collected into blocks of up to `blockCommands`, each
// run of a full block planned (halved while separate tables pay), its tables written and its
// symbols coded most significant bit first. Which blocks are written depends on the sequence
// of commands alone, never on how it arrives: a run is written once a command follows it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "block_tables.h"
#include "encode_common.h"
#include "encoder.h"

namespace tavrun::lzh::enc {

class BlockWriter {
 public:
  BlockWriter(Method method, Encoder::Sink sink, const EncoderTuning& tuning);
  ~BlockWriter();
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;

  // Takes the commands [from, size) of `c`; false once the sink has refused bytes.
  bool Add(const Commands& c, size_t from = 0);
  // Writes the last block and the last partial byte.
  bool Finish();
  bool failed() const { return failed_; }
  uint64_t compressedSize() const { return written_ + out_.size(); }
  uint32_t blocks() const { return blockCount_; }

 private:
  struct PlannedBlock {
    size_t a, b;
    Tables t;
  };

  void PutBits(int n, uint32_t value) {
    acc_ = (acc_ << n) | value;
    accBits_ += n;
    if (accBits_ < 32) return;
    accBits_ -= 32;
    const uint32_t w = static_cast<uint32_t>(acc_ >> accBits_);
    const uint8_t bytes[4] = {static_cast<uint8_t>(w >> 24), static_cast<uint8_t>(w >> 16),
                              static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w)};
    out_.insert(out_.end(), bytes, bytes + 4);
    if (out_.size() >= (1u << 16)) FlushOut();
  }
  void FlushOut();

  void FlushBlock();
  void Split(size_t a, size_t b, Tables whole, int depth, std::vector<PlannedBlock>& blocks) const;
  bool LooksAheadSafely(const std::vector<PlannedBlock>& blocks) const;
  void EndWithLongestCodes(Tables& t, size_t last) const;
  void EndStream(std::vector<PlannedBlock>& blocks) const;
  void WriteBlock(const Tables& t, size_t a, size_t b);

  Params params_;
  Encoder::Sink sink_;
  uint32_t blockCommands_;
  int splitDepth_;
  Commands pending_;          // the block being collected
  std::vector<uint8_t> out_;  // bytes not yet given to the sink
  uint64_t acc_ = 0;          // bits not yet in `out_`: the last accBits_ (< 32 between calls)
  int accBits_ = 0;
  uint64_t written_ = 0;
  uint32_t blockCount_ = 0;
  bool failed_ = false;
  bool finishing_ = false;  // the commands left are the last of the stream
};

}  // namespace tavrun::lzh::enc
