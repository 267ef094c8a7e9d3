// Lazy matching over hash chains: a match is taken unless the next position has a longer
// one. About three times faster than the near-optimal parse and 2-5 % larger; kept as a
// reference stream shape for the readers' tests and for parser experiments.
#pragma once

#include <cstdint>

#include "encode_common.h"
#include "encoder.h"
#include "match_finder.h"

namespace tavrun::lzh::enc {

class LazyParser {
 public:
  void Reset(const EncoderTuning& tuning);
  // Parses from `pos` up to `limit` (never a copy beyond it), stopping kMinLookahead bytes
  // before the end of the buffered input unless `final`; appends the commands to `out`.
  void Process(MatchFinder& mf, uint32_t& pos, uint32_t limit, bool final, Commands& out);

 private:
  EncoderTuning tuning_;
  int prevLength_ = kMinMatch - 1;
  uint32_t prevDistance_ = 0;
  bool matchAvailable_ = false;
};

}  // namespace tavrun::lzh::enc
