#include "lazy_parser.h"

#include <algorithm>

namespace tavrun::lzh::enc {

void LazyParser::Reset(const EncoderTuning& tuning) {
  tuning_ = tuning;
  prevLength_ = kMinMatch - 1;
  prevDistance_ = 0;
  matchAvailable_ = false;
}

void LazyParser::Process(MatchFinder& mf, uint32_t& pos, uint32_t limit, bool final,
                         Commands& out) {
  for (;;) {
    const uint32_t look = limit - pos;
    if (look == 0 || (!final && mf.end - pos < kMinLookahead)) break;
    int curLen = 0;
    uint32_t curDistance = 0;
    if (mf.end - pos >= 4) {
      int32_t cand3 = -1;
      int32_t cand = mf.Insert(pos, &cand3);
      if (prevLength_ < tuning_.lazyLength) {
        const int best = std::max(prevLength_, kMinMatch - 1);
        const int chain = best >= tuning_.goodLength ? tuning_.maxChain >> 2 : tuning_.maxChain;
        curLen = mf.Search(pos, static_cast<int>(std::min<uint32_t>(kMaxMatch, look)), cand, cand3,
                           best, chain, tuning_.niceLength, curDistance);
      }
    }
    if (prevLength_ >= kMinMatch && curLen <= prevLength_) {
      out.Match(prevLength_, prevDistance_);
      const uint32_t stop = pos - 1 + prevLength_;
      for (uint32_t p = pos + 1; p < stop; ++p)
        if (p + 4 <= mf.end) mf.Insert(p);
      pos = stop;
      matchAvailable_ = false;
      prevLength_ = kMinMatch - 1;
    } else {
      if (matchAvailable_) out.Literal(mf.buf[pos - 1]);
      matchAvailable_ = true;
      prevLength_ = curLen >= kMinMatch ? curLen : kMinMatch - 1;
      prevDistance_ = curDistance;
      ++pos;
    }
  }
  if (final && matchAvailable_) {
    out.Literal(mf.buf[pos - 1]);
    matchAvailable_ = false;
    prevLength_ = kMinMatch - 1;
  }
}

}  // namespace tavrun::lzh::enc
