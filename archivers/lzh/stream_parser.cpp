#include "stream_parser.h"

#include <algorithm>
#include <cstring>

namespace tavrun::lzh::enc {
namespace {

// Passes added to each stretch of the warm-up. Prices carry over from stretch to stretch, and
// a symbol a parse leaves out is priced above the longest code and tends to stay out: a long
// stream settles on a set of symbols that one parse from guessed prices does not find (on a
// CSV file at -lh7-, the first stretch after a segment boundary came out 548 bytes larger,
// with 2270 copies where the stream had 1733). Each pass prices the stretch by the last one's
// result and comes nearer to the stream's prices; three more cost about 0.4 % of a segment.
constexpr int kWarmUpPasses = 3;

thread_local std::unique_ptr<StreamParser> spare;

}  // namespace

std::unique_ptr<StreamParser> TakeThreadParser() {
  return spare ? std::move(spare) : std::make_unique<StreamParser>();
}

void KeepThreadParser(std::unique_ptr<StreamParser> parser) {
  spare = std::move(parser);
}

void StreamParser::Begin(Method method, const EncoderTuning& tuning, uint64_t history,
                         uint64_t parseEnd, uint64_t warmUp) {
  params_ = ParamsFor(method);
  tuning_ = tuning;
  tuning_.maxChain = std::max(1, tuning_.maxChain);
  mf_.Reset(params_, tuning_.optimalPasses > 0);
  optimal_.Reset(params_);
  lazy_.Reset(tuning_);
  commands_.clear();
  base_ = 0;
  pos_ = 0;
  history_ = history;
  // Lazy matching has no prices to learn.
  entered_ = history - (tuning_.optimalPasses > 0 ? std::min(warmUp, history) : 0);
  parseEnd_ = std::max(parseEnd, history);
  stopped_ = false;
}

bool StreamParser::Feed(const uint8_t* data, size_t size, const Take& take) {
  while (size > 0 && !stopped_) {
    if (pos_ >= params_.window + kSlide) {
      mf_.Slide();
      pos_ -= kSlide;
      base_ += kSlide;
    }
    const size_t n = std::min<size_t>(mf_.buf.size() - mf_.end, size);
    std::memcpy(mf_.buf.data() + mf_.end, data, n);
    mf_.end += static_cast<uint32_t>(n);
    data += n;
    size -= n;
    Process(false, take);
  }
  return !stopped_;
}

bool StreamParser::Finish(const Take& take) {
  if (!stopped_) Process(true, take);
  return !stopped_;
}

// The end of the parse in the buffer.
uint32_t StreamParser::Limit() const {
  return static_cast<uint32_t>(std::min<uint64_t>(mf_.end, parseEnd_ - std::min(parseEnd_, base_)));
}

// Enters the positions that are only entered as their bytes ahead arrive; true once all are in.
bool StreamParser::EnterHistory(bool final) {
  const bool trees = tuning_.optimalPasses > 0;
  while (base_ + pos_ < entered_) {
    if (pos_ >= mf_.end || (!final && mf_.end - pos_ < kMinLookahead)) return false;
    if (pos_ + 4 <= mf_.end) {
      if (trees)
        mf_.TreeMatches<false>(pos_,
                               static_cast<int>(std::min<uint32_t>(kMaxMatch, mf_.end - pos_)),
                               tuning_.maxChain, tuning_.niceLength);
      else
        mf_.Insert(pos_);
    }
    ++pos_;
  }
  return true;
}

bool StreamParser::Process(bool final, const Take& take) {
  if (!EnterHistory(final)) return true;
  const uint32_t limit = Limit();
  if (tuning_.optimalPasses <= 0) {
    lazy_.Process(mf_, pos_, limit, final, commands_);
    if (commands_.size() > 0 && !take(commands_)) stopped_ = true;
    commands_.clear();
    return !stopped_;
  }
  while (!stopped_ && pos_ < limit) {
    const uint64_t at = base_ + pos_;
    const bool warmUp = at < history_;
    const uint32_t n = static_cast<uint32_t>(
        std::min<uint64_t>(std::min(limit - pos_, kStretch), warmUp ? history_ - at : kStretch));
    if (!final && mf_.end - (pos_ + n) < kMinLookahead) break;
    // A whole input of one stretch, the everyday small file, takes microseconds: there a
    // deeper search and one more pass buy about 0.5 % for nothing that shows.
    const bool whole = final && at == 0 && limit == mf_.end && n == limit;
    const Effort effort{
        whole ? tuning_.maxChain * 4 : tuning_.maxChain, whole ? kMaxMatch : tuning_.niceLength,
        tuning_.optimalPasses + (whole ? 1 : 0) + (warmUp ? kWarmUpPasses : 0), whole};
    optimal_.ParseStretch(mf_, pos_, n, effort, commands_);
    pos_ += n;
    if (!warmUp && !take(commands_)) stopped_ = true;
    commands_.clear();
  }
  return !stopped_;
}

}  // namespace tavrun::lzh::enc
