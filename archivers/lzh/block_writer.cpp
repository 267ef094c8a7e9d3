#include "block_writer.h"

#include <algorithm>
#include <utility>

#include "huffman.h"

namespace tavrun::lzh::enc {
namespace {

// Blocks are not split below this many commands: tables would cost more than they gain.
constexpr size_t kMinSplit = 2048;

// The collection buffers of the last writer that finished on this thread: a batch compresses
// thousands of small files, and fresh buffers for each cost more in page faults than the
// file does.
struct Spare {
  Commands pending;
  std::vector<uint8_t> out;
};
thread_local Spare spare;

uint8_t Longest(const std::vector<uint8_t>& len) {
  return *std::max_element(len.begin(), len.end());
}

}  // namespace

BlockWriter::BlockWriter(Method method, Encoder::Sink sink, const EncoderTuning& tuning)
    : params_(ParamsFor(method)),
      sink_(std::move(sink)),
      blockCommands_(std::clamp<uint32_t>(tuning.blockCommands, 1, 65535)),
      splitDepth_(tuning.splitDepth) {
  std::swap(pending_, spare.pending);
  std::swap(out_, spare.out);
  pending_.clear();
  out_.clear();
  pending_.codes.reserve(blockCommands_);
  pending_.distances.reserve(blockCommands_);
  out_.reserve(1 << 16);
}

BlockWriter::~BlockWriter() {
  std::swap(pending_, spare.pending);
  std::swap(out_, spare.out);
}

bool BlockWriter::Add(const Commands& c, size_t from) {
  const size_t n = c.size();
  while (from < n && !failed_) {
    // A full block is written once the next command arrives, so the last block of the
    // stream is always written by Finish.
    if (pending_.size() >= blockCommands_) FlushBlock();
    const size_t take = std::min(n - from, blockCommands_ - pending_.size());
    const auto at = static_cast<ptrdiff_t>(from);
    const auto to = static_cast<ptrdiff_t>(from + take);
    pending_.codes.insert(pending_.codes.end(), c.codes.begin() + at, c.codes.begin() + to);
    pending_.distances.insert(pending_.distances.end(), c.distances.begin() + at,
                              c.distances.begin() + to);
    from += take;
  }
  return !failed_;
}

bool BlockWriter::Finish() {
  finishing_ = true;
  FlushBlock();
  for (; accBits_ >= 8; accBits_ -= 8) out_.push_back(static_cast<uint8_t>(acc_ >> (accBits_ - 8)));
  if (accBits_ > 0) {
    out_.push_back(static_cast<uint8_t>(acc_ << (8 - accBits_)));
    accBits_ = 0;
  }
  FlushOut();
  return !failed_;
}

void BlockWriter::FlushOut() {
  if (out_.empty()) return;
  written_ += out_.size();
  if (!failed_ && !sink_(out_.data(), out_.size())) failed_ = true;
  out_.clear();
}

// Halves a range of commands while two blocks with tables of their own cost fewer bits.
void BlockWriter::Split(size_t a, size_t b, Tables whole, int depth,
                        std::vector<PlannedBlock>& blocks) const {
  if (depth > 0 && b - a >= 2 * kMinSplit) {
    const size_t mid = a + (b - a) / 2;
    Tables left = Plan(params_, pending_, a, mid), right = Plan(params_, pending_, mid, b);
    if (BlockBits(params_, left, mid - a) + BlockBits(params_, right, b - mid) <
        BlockBits(params_, whole, b - a)) {
      Split(a, mid, std::move(left), depth - 1, blocks);
      Split(mid, b, std::move(right), depth - 1, blocks);
      return;
    }
  }
  blocks.push_back({a, b, std::move(whole)});
}

// Whether every symbol of the stream is followed by at least as many bits (padding of the last
// byte included) as its table's longest code, the blocks written as planned. Only the last
// few symbols can fall short.
bool BlockWriter::LooksAheadSafely(const std::vector<PlannedBlock>& blocks) const {
  uint64_t bits = (written_ + out_.size()) * 8 + static_cast<uint64_t>(accBits_);
  for (const PlannedBlock& p : blocks) bits += BlockBits(params_, p.t, p.b - p.a);
  const uint64_t total = (bits + 7) / 8 * 8;
  const PlannedBlock& last = blocks.back();
  const uint32_t cMax = Longest(last.t.cLen), pMax = Longest(last.t.pLen);
  uint64_t at = bits;  // the end of the command looked at
  for (size_t i = last.b; i-- > last.a && total - at <= kMaxCodeLength;) {
    const uint16_t c = pending_.codes[i];
    if (c >= 256) {
      const int p = PositionSymbol(pending_.distances[i]);
      at -= static_cast<uint64_t>(p > 1 ? p - 1 : 0) + last.t.pLen[p];
      if (at + pMax > total) return false;
    }
    at -= last.t.cLen[c];
    if (at + cMax > total) return false;
  }
  return true;
}

// Some readers look ahead as many bits as a table's longest code before decoding each symbol
// and fail when the stream ends sooner; the stream may not be padded beyond its last byte.
// Giving the last command's symbols the longest length of their tables (swapping two lengths
// keeps every table complete) leaves enough bits after each.
void BlockWriter::EndWithLongestCodes(Tables& t, size_t last) const {
  // Of the longest codes, the most frequent one is swapped: that costs the fewest bits.
  auto toLongest = [](std::vector<uint8_t>& len, const std::vector<uint32_t>& freq, size_t sym) {
    size_t longest = sym;
    for (size_t i = 0; i < len.size(); ++i)
      if (len[i] > len[longest] || (len[i] == len[longest] && freq[i] > freq[longest])) longest = i;
    std::swap(len[sym], len[longest]);
  };
  const uint16_t c = pending_.codes[last];
  toLongest(t.cLen, t.cf, c);
  if (c >= 256)
    toLongest(t.pLen, t.pf, static_cast<size_t>(PositionSymbol(pending_.distances[last])));
  t.pricedRuns = false;
  PlanLengthCodes(t);
}

// Where the stream ends too soon after its last symbols for a reader that looks a whole code
// ahead, the last command needs the longest codes of its tables (see EndWithLongestCodes). On
// a small block that swap can cost more than a block of its own for the last command, whose
// tables have nothing but one-bit codes; and a small file that ends in its most frequent byte
// does best with tables whose longest code is short enough for the bits that follow the last
// symbols. The cheapest of the three is taken.
void BlockWriter::EndStream(std::vector<PlannedBlock>& blocks) const {
  if (LooksAheadSafely(blocks)) return;
  PlannedBlock& last = blocks.back();
  const size_t a = last.a, b = last.b;
  const Tables original = last.t;
  Tables best = original;
  EndWithLongestCodes(best, b - 1);
  uint64_t bestBits = BlockBits(params_, best, b - a);
  for (int length = std::max(Longest(original.cLen), Longest(original.pLen)) - 1;; --length) {
    Tables limited = original;
    if (!Limit(limited, length)) break;
    const uint64_t bits = BlockBits(params_, limited, b - a);
    last.t = std::move(limited);
    if (bits < bestBits && LooksAheadSafely(blocks)) {
      best = last.t;
      bestBits = bits;
    }
  }
  last.t = std::move(best);
  if (b - a >= 2) {
    Tables head = Plan(params_, pending_, a, b - 1), tail = Plan(params_, pending_, b - 1, b);
    if (BlockBits(params_, head, b - 1 - a) + BlockBits(params_, tail, 1) < bestBits) {
      last = {a, b - 1, std::move(head)};
      blocks.push_back({b - 1, b, std::move(tail)});
    }
  }
  // Cheaper zero runs move the end too: kept only where it stays safe.
  for (size_t i = blocks.size() >= 2 ? blocks.size() - 2 : 0; i < blocks.size(); ++i) {
    const Tables before = blocks[i].t;
    PriceRuns(blocks[i].t);
    if (!LooksAheadSafely(blocks)) blocks[i].t = before;
  }
}

void BlockWriter::WriteBlock(const Tables& t, size_t a, size_t b) {
  PutTables(
      params_, t, b - a,
      [](void* self, int n, uint32_t v) { static_cast<BlockWriter*>(self)->PutBits(n, v); }, this);
  const std::vector<uint16_t> cCode = CanonicalCodes(t.cLen);
  const std::vector<uint16_t> pCode = CanonicalCodes(t.pLen);
  for (size_t i = a; i < b; ++i) {
    const uint16_t c = pending_.codes[i];
    PutBits(t.cLen[c], cCode[c]);
    if (c >= 256) {
      uint32_t d = pending_.distances[i];
      int p = PositionSymbol(d);
      PutBits(t.pLen[p], pCode[p]);
      if (p > 1) PutBits(p - 1, d - (1u << (p - 1)));
    }
  }
  ++blockCount_;
}

// Writes the collected commands and drops them.
void BlockWriter::FlushBlock() {
  const size_t count = pending_.size();
  if (count == 0) return;  // a block of zero commands is never written
  std::vector<PlannedBlock> blocks;
  Split(0, count, Plan(params_, pending_, 0, count), splitDepth_, blocks);
  for (PlannedBlock& p : blocks) {
    Tighten(params_, p.t, p.b - p.a);
    PriceRuns(p.t);
  }
  if (finishing_) EndStream(blocks);
  for (const PlannedBlock& p : blocks) WriteBlock(p.t, p.a, p.b);
  pending_.clear();
}

}  // namespace tavrun::lzh::enc
