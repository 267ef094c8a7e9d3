#include "encoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "huffman.h"

namespace tavrun::lzh {
namespace {

constexpr int kMaxMatch = 256;
constexpr int kMinMatch = 3;
constexpr int kNC = 256 + kMaxMatch - kMinMatch + 1;  // 510 literal/length symbols
constexpr int kNT = 19;                               // code-length symbols
constexpr int kTBit = 5;
constexpr int kCBit = 9;
constexpr int kMaxCodeLength = 16;
constexpr int kHashBits = 16;
constexpr int kHash3Bits = 14;
// A 3-byte match further back than this costs more bits than three literals.
constexpr uint32_t kTooFar = 4096;
// The part of the buffer moved out at once; a multiple of every window size.
constexpr uint32_t kSlide = 128 * 1024;
// Parsing stops this far before the end of the buffered input until the input is complete,
// so that a match and the lazy look one byte further can always run to full length.
constexpr uint32_t kMinLookahead = kMaxMatch + 2;
constexpr uint32_t kLookahead = 512;
// Blocks are not split below this many commands: tables would cost more than they gain.
constexpr size_t kMinSplit = 2048;
// The optimal parser works on stretches of this many bytes; a multiple that divides kSlide,
// so that stretches never straddle a slide of the buffer.
constexpr uint32_t kSegment = 32 * 1024;
static_assert(kSlide % kSegment == 0);
constexpr uint32_t kInfinite = 0xffffffffu;

struct Params {
  uint32_t window;
  int np;
  int pbit;
};

Params ParamsFor(Method m) {
  switch (m) {
    case Method::Lh5: return {1u << 13, 14, 4};
    case Method::Lh6: return {1u << 15, 16, 5};
    case Method::Lh7: return {1u << 16, 17, 5};
    default: return {0, 0, 0};
  }
}

int PositionSymbol(uint32_t d) {
  return d == 0 ? 0 : 32 - __builtin_clz(d);
}

}  // namespace

const char* MethodId(Method method) {
  switch (method) {
    case Method::Lh0: return "-lh0-";
    case Method::Lh5: return "-lh5-";
    case Method::Lh6: return "-lh6-";
    case Method::Lh7: return "-lh7-";
  }
  return "-lh0-";
}

uint32_t WindowSize(Method method) {
  return ParamsFor(method).window;
}

// The near-optimal parse for every method: 2-5 % smaller than lazy matching at about a
// third of its speed. maxChain is the depth of the tree walk; a shallower walk or a shorter
// niceLength costs source code and small files more than 1 %.
EncoderTuning DefaultTuning(Method) {
  EncoderTuning t;
  t.optimalPasses = 1;
  t.maxChain = 32;
  t.niceLength = 64;
  return t;
}

namespace {

// The cheapest way found to a position of the stretch: its cost in bits and the last
// command on the way (length 1: a literal). One record, so that a relaxation touches one
// cache line.
struct Step {
  uint32_t price;
  uint16_t length, distance;
};

// An encoder's buffers, handed from one encoder to the next on a thread. A batch
// compresses thousands of small files; fresh window-sized buffers for each one cost more in
// page faults than compressing the file does.
struct Buffers {
  std::vector<uint8_t> buf;  // the window and the input ahead of it
  std::vector<int32_t> head;
  std::vector<int32_t> prev;
  std::vector<int32_t>
      head3;  // latest position per 3-byte hash: short matches the 4-byte chains miss
  // Commands of the block being collected.
  std::vector<uint16_t> codes;
  std::vector<uint16_t> distances;  // copy distance - 1 (0 for literals), one per command
  // Optimal parser state: matches per position of the stretch (length << 16 | distance - 1,
  // by rising length) and the cheapest way found to each position.
  std::vector<uint32_t> matchStart, matches, ends;
  std::vector<Step> steps;
  // Binary search trees of the window's strings, one per hash of four bytes (roots in
  // `head`): each position's two children, smaller and larger strings.
  std::vector<int32_t> tree;
  std::vector<uint8_t> out;  // bit output
};
// The buffers of the last encoder that finished on this thread.
thread_local Buffers spare;

// Bits each symbol is expected to cost, from the code lengths of a parse.
struct Prices {
  uint32_t literal[256];
  uint32_t length[kMaxMatch + 1];  // by match length
  uint32_t position[32];           // by position symbol, extra bits included
};

}  // namespace

struct Encoder::Impl : Buffers {
  Params params;
  Sink sink;
  EncoderTuning tuning;
  uint32_t mask;
  uint32_t maxDistance;  // furthest copy source, in bytes back

  uint32_t end = 0;  // valid bytes in buf
  uint32_t pos = 0;  // next position to parse

  // Lazy-matching state carried between calls.
  int prevLength = kMinMatch - 1;
  uint32_t prevDistance = 0;
  bool matchAvailable = false;

  // Optimal parser state beside its buffers: the prices it works with.
  size_t matchCount = 0;  // entries of `matches` in use
  Prices prices;
  // The search and passes for the stretch being parsed.
  struct Effort {
    int depth, nice, passes;
    bool whole;  // the stretch is the whole input
  } effort{};
  bool priced = false;  // prices come from a parse of this stream

  // Bit output.
  uint64_t acc = 0;  // bits not yet in `out`: the last accBits (< 32 between calls)
  int accBits = 0;
  uint64_t written = 0;
  uint32_t blockCount = 0;
  bool failed = false;
  bool finishing = false;  // the commands left are the last of the stream

  Impl(Method m, Sink s, EncoderTuning t) : params(ParamsFor(m)), sink(std::move(s)), tuning(t) {
    mask = params.window - 1;
    maxDistance = params.window - 1;
    std::swap(static_cast<Buffers&>(*this), spare);
    codes.clear();
    distances.clear();
    out.clear();
    // Neither the buffer nor the trees are cleared: no byte at or beyond `end` is ever
    // compared, and a tree node is read only once this stream has written it (nodes are
    // reached from the hash heads, which are cleared). A batch of small files would
    // otherwise spend more on clearing than on compressing.
    buf.resize(params.window + kSlide + kSegment + kLookahead);
    head.assign(1u << kHashBits, -1);
    // The hash chains serve lazy matching only; the optimal parser walks trees.
    if (t.optimalPasses > 0)
      prev.clear();
    else
      prev.assign(params.window, -1);
    head3.assign(1u << kHash3Bits, -1);
    tuning.blockCommands = std::clamp<uint32_t>(tuning.blockCommands, 1, 65535);
    tuning.maxChain = std::max(1, tuning.maxChain);
    codes.reserve(tuning.blockCommands);
    distances.reserve(tuning.blockCommands);
    out.reserve(1 << 16);
    if (tuning.optimalPasses > 0) {
      matchStart.resize(kSegment + 1);
      ends.resize(kSegment + 1);
      steps.resize(kSegment + 1);
      // Blocks are written from the front of the commands while a stretch's are appended.
      codes.reserve(tuning.blockCommands + kSegment);
      distances.reserve(tuning.blockCommands + kSegment);
      tree.resize(2 * params.window);
      SetFlatPrices();
    }
  }

  ~Impl() { std::swap(static_cast<Buffers&>(*this), spare); }

  // --- bits -------------------------------------------------------------------------
  void PutBits(int n, uint32_t value) {
    acc = (acc << n) | value;
    accBits += n;
    if (accBits < 32) return;
    accBits -= 32;
    const uint32_t w = static_cast<uint32_t>(acc >> accBits);
    const uint8_t bytes[4] = {static_cast<uint8_t>(w >> 24), static_cast<uint8_t>(w >> 16),
                              static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w)};
    out.insert(out.end(), bytes, bytes + 4);
    if (out.size() >= (1u << 16)) FlushOut();
  }

  void FlushOut() {
    if (out.empty()) return;
    written += out.size();
    if (!failed && !sink(out.data(), out.size())) failed = true;
    out.clear();
  }

  // --- tables -----------------------------------------------------------------------
  static int Trim(const std::vector<uint8_t>& len) {
    int n = static_cast<int>(len.size());
    while (n > 0 && len[n - 1] == 0) --n;
    return n;
  }

  // A run of `count` zero lengths as the cheapest series of single zeros (symbol 0), runs of
  // 3-18 (symbol 1) and runs of 20-531 (symbol 2).
  template <typename F>
  static void EmitRun(int count, const std::array<uint32_t, 3>& runBits, F emit) {
    // cost[k]: the cheapest way to send k zeros; a symbol-2 run can end any way whose
    // remainder is 20 or more, so the cheapest prefix so far serves it (runs never pass 510).
    std::vector<uint32_t> cost(count + 1, kInfinite);
    std::vector<uint16_t> step(count + 1, 0);
    uint32_t prefixCost = kInfinite;
    int prefixAt = 0;
    cost[0] = 0;
    for (int k = 1; k <= count; ++k) {
      const auto offer = [&](int piece, uint32_t bits) {
        if (cost[k - piece] + bits < cost[k]) {
          cost[k] = cost[k - piece] + bits;
          step[k] = static_cast<uint16_t>(piece);
        }
      };
      offer(1, runBits[0]);
      for (int j = 3; j <= std::min(k, 18); ++j) offer(j, runBits[1]);
      if (k >= 20 && cost[k - 20] < prefixCost) {
        prefixCost = cost[k - 20];
        prefixAt = k - 20;
      }
      if (k >= 20 && k - prefixAt <= 531) offer(k - prefixAt, runBits[2]);
    }
    std::vector<uint16_t> pieces;
    for (int k = count; k > 0; k -= step[k]) pieces.push_back(step[k]);
    for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
      if (*it == 1)
        emit(0, 0, 0);
      else if (*it <= 18)
        emit(1, 4, *it - 3);
      else
        emit(2, kCBit, *it - 20);
    }
  }

  // Walks the run-length coding of the literal/length code lengths, calling
  // emit(symbol, extraBits, extraValue) for each code-length symbol. With `runBits` (the
  // bits each of the three zero-run symbols costs, extra bits included), each run of zeros
  // is sent the cheapest way at those prices; without, by fixed rules.
  template <typename F>
  static void WalkCLengths(const std::vector<uint8_t>& cLen, int n, F emit,
                           const std::array<uint32_t, 3>* runBits = nullptr) {
    int i = 0;
    while (i < n) {
      int k = cLen[i++];
      if (k != 0) {
        emit(k + 2, 0, 0);
        continue;
      }
      int count = 1;
      while (i < n && cLen[i] == 0) {
        ++i;
        ++count;
      }
      if (runBits) {
        EmitRun(count, *runBits, emit);
      } else if (count <= 2) {
        for (int j = 0; j < count; ++j) emit(0, 0, 0);
      } else if (count <= 18) {
        emit(1, 4, count - 3);
      } else if (count == 19) {
        emit(0, 0, 0);
        emit(1, 4, 15);
      } else {
        emit(2, kCBit, count - 20);
      }
    }
  }

  template <typename Put>
  static void WriteLengthTable(Put& put, const std::vector<uint8_t>& len, int n, int nbit,
                               int special) {
    put(nbit, n);
    int i = 0;
    while (i < n) {
      int k = len[i++];
      if (k <= 6)
        put(3, k);
      else
        put(k - 3, (1u << (k - 3)) - 2);  // "111", (k-7) ones, a zero
      if (i == special) {
        int skip = 0;
        while (i < n && i < 6 && len[i] == 0) {
          ++i;
          ++skip;
        }
        put(2, skip);
      }
    }
  }

  // The code lengths of one block of commands [a, b).
  struct Tables {
    std::vector<uint32_t> cf, pf;
    std::vector<uint8_t> cLen, pLen, tLen;
    int nC = 0, nP = 0, nT = 0;
    bool pricedRuns = false;  // zero runs sent the cheapest way at `runBits`
    std::array<uint32_t, 3> runBits{};
  };

  Tables Plan(size_t a, size_t b) const {
    Tables t;
    t.cf.assign(kNC, 0);
    t.pf.assign(params.np, 0);
    for (size_t i = a; i < b; ++i) {
      ++t.cf[codes[i]];
      if (codes[i] >= 256) ++t.pf[PositionSymbol(distances[i])];
    }
    t.cLen = CodeLengths(t.cf, kMaxCodeLength);
    t.pLen = CodeLengths(t.pf, kMaxCodeLength);
    PlanLengthCodes(t);
    return t;
  }

  // `t` with its two tables rebuilt with no code longer than `maxLength`; false when that
  // many bits cannot give every used symbol a code.
  static bool Limit(Tables& t, int maxLength) {
    if (!Fits(t.cf, maxLength) || !Fits(t.pf, maxLength)) return false;
    t.cLen = CodeLengths(t.cf, maxLength);
    t.pLen = CodeLengths(t.pf, maxLength);
    t.pricedRuns = false;
    PlanLengthCodes(t);
    return true;
  }
  static bool Fits(const std::vector<uint32_t>& freq, int maxLength) {
    const auto used = std::count_if(freq.begin(), freq.end(), [](uint32_t f) { return f != 0; });
    return maxLength >= 1 && static_cast<size_t>(used) <= (size_t{1} << maxLength);
  }

  // Huffman lengths are the cheapest for the symbols alone; a shorter longest code can cost
  // the symbols a little and save more in the table that sends the lengths (a length of
  // 7 or more is sent in unary), most of all in the small block of a small file.
  void Tighten(Tables& t, size_t commands) const {
    uint64_t bestBits = BlockBits(t, commands);
    for (const bool literals : {true, false}) {
      std::vector<uint8_t>& len = literals ? t.cLen : t.pLen;
      const std::vector<uint32_t>& freq = literals ? t.cf : t.pf;
      for (int limit = *std::max_element(len.begin(), len.end()) - 1; Fits(freq, limit); --limit) {
        Tables trial = t;
        (literals ? trial.cLen : trial.pLen) = CodeLengths(freq, limit);
        PlanLengthCodes(trial);
        const uint64_t bits = BlockBits(trial, commands);
        if (bits > bestBits) break;  // shorter limits only cost more from here
        if (bits < bestBits) {
          bestBits = bits;
          t = std::move(trial);
        }
      }
    }
  }

  // Trims the two tables and builds the code that transmits the literal/length lengths.
  static void PlanLengthCodes(Tables& t) {
    t.nC = Trim(t.cLen);
    t.nP = Trim(t.pLen);
    std::vector<uint32_t> tFreq(kNT, 0);
    WalkCLengths(
        t.cLen, t.nC, [&](int sym, int, int) { ++tFreq[sym]; },
        t.pricedRuns ? &t.runBits : nullptr);
    t.tLen = CodeLengths(tFreq, kMaxCodeLength);
    t.nT = Trim(t.tLen);
  }

  // The zero runs of a block's final tables, sent once more at the prices the code for the
  // lengths got by fixed rules; kept where that costs fewer bits. Only for tables about to
  // be written: a few gaps' worth of bits, not worth it while blocks are being planned.
  static void PriceRuns(Tables& t) {
    if (t.pricedRuns) return;
    Tables priced = t;
    const auto bitsOf = [&](int sym, uint32_t extra) {
      return (t.tLen[sym] ? t.tLen[sym] : kMaxCodeLength / 2u) + extra;
    };
    priced.pricedRuns = true;
    priced.runBits = {bitsOf(0, 0), bitsOf(1, 4), bitsOf(2, kCBit)};
    PlanLengthCodes(priced);
    if (LengthCodeBits(priced) < LengthCodeBits(t)) t = std::move(priced);
  }

  // Bits of the code-length table and of the literal/length lengths sent through it.
  static uint64_t LengthCodeBits(const Tables& t) {
    uint64_t bits = 0;
    auto count = [&](int n, uint32_t) { bits += static_cast<uint64_t>(n); };
    WriteLengthTable(count, t.tLen, t.nT, kTBit, 3);
    WalkCLengths(
        t.cLen, t.nC, [&](int sym, int extraBits, int) { bits += t.tLen[sym] + extraBits; },
        t.pricedRuns ? &t.runBits : nullptr);
    return bits;
  }

  // Writes the block header and tables through put(bits, value).
  template <typename Put>
  void PutTables(const Tables& t, size_t commands, Put& put) const {
    const std::vector<uint16_t> tCode = CanonicalCodes(t.tLen);
    put(16, static_cast<uint32_t>(commands));
    WriteLengthTable(put, t.tLen, t.nT, kTBit, 3);
    put(kCBit, t.nC);
    WalkCLengths(
        t.cLen, t.nC,
        [&](int sym, int extraBits, int extra) {
          put(t.tLen[sym], tCode[sym]);
          if (extraBits) put(extraBits, extra);
        },
        t.pricedRuns ? &t.runBits : nullptr);
    WriteLengthTable(put, t.pLen, t.nP, params.pbit, -1);
  }

  // Exact size in bits of `t`'s block of `commands` commands.
  uint64_t BlockBits(const Tables& t, size_t commands) const {
    uint64_t bits = 0;
    auto count = [&](int n, uint32_t) { bits += static_cast<uint64_t>(n); };
    PutTables(t, commands, count);
    for (int c = 0; c < kNC; ++c) bits += uint64_t{t.cf[c]} * t.cLen[c];
    for (int p = 0; p < params.np; ++p)
      bits += uint64_t{t.pf[p]} * (t.pLen[p] + (p > 1 ? p - 1 : 0));
    return bits;
  }

  // Some readers look ahead as many bits as a table's longest code before decoding each
  // symbol and fail when the stream ends sooner; the stream may not be padded beyond its
  // last byte. Giving the last command's symbols the longest length of their tables
  // (swapping two lengths keeps every table complete) leaves enough bits after each.
  void EndWithLongestCodes(Tables& t, size_t last) const {
    // Of the longest codes, the most frequent one is swapped: that costs the fewest bits.
    auto toLongest = [](std::vector<uint8_t>& len, const std::vector<uint32_t>& freq, size_t sym) {
      size_t longest = sym;
      for (size_t i = 0; i < len.size(); ++i)
        if (len[i] > len[longest] || (len[i] == len[longest] && freq[i] > freq[longest]))
          longest = i;
      std::swap(len[sym], len[longest]);
    };
    const uint16_t c = codes[last];
    toLongest(t.cLen, t.cf, c);
    if (c >= 256) toLongest(t.pLen, t.pf, static_cast<size_t>(PositionSymbol(distances[last])));
    t.pricedRuns = false;
    PlanLengthCodes(t);
  }

  void WriteBlock(const Tables& t, size_t a, size_t b) {
    auto put = [this](int n, uint32_t v) { PutBits(n, v); };
    PutTables(t, b - a, put);
    const std::vector<uint16_t> cCode = CanonicalCodes(t.cLen);
    const std::vector<uint16_t> pCode = CanonicalCodes(t.pLen);
    for (size_t i = a; i < b; ++i) {
      const uint16_t c = codes[i];
      PutBits(t.cLen[c], cCode[c]);
      if (c >= 256) {
        uint32_t d = distances[i];
        int p = PositionSymbol(d);
        PutBits(t.pLen[p], pCode[p]);
        if (p > 1) PutBits(p - 1, d - (1u << (p - 1)));
      }
    }
    ++blockCount;
  }

  struct PlannedBlock {
    size_t a, b;
    Tables t;
  };

  // Halves a range of commands while two blocks with tables of their own cost fewer bits.
  void Split(size_t a, size_t b, Tables whole, int depth, std::vector<PlannedBlock>& blocks) const {
    if (depth > 0 && b - a >= 2 * kMinSplit) {
      const size_t mid = a + (b - a) / 2;
      Tables left = Plan(a, mid), right = Plan(mid, b);
      if (BlockBits(left, mid - a) + BlockBits(right, b - mid) < BlockBits(whole, b - a)) {
        Split(a, mid, std::move(left), depth - 1, blocks);
        Split(mid, b, std::move(right), depth - 1, blocks);
        return;
      }
    }
    blocks.push_back({a, b, std::move(whole)});
  }

  // Whether every symbol of the stream is followed by at least as many bits (padding of the
  // last byte included) as its table's longest code, the blocks written as planned. Only
  // the last few symbols can fall short.
  bool LooksAheadSafely(const std::vector<PlannedBlock>& blocks) const {
    uint64_t bits = (written + out.size()) * 8 + static_cast<uint64_t>(accBits);
    for (const PlannedBlock& p : blocks) bits += BlockBits(p.t, p.b - p.a);
    const uint64_t total = (bits + 7) / 8 * 8;
    const PlannedBlock& last = blocks.back();
    const auto longest = [](const std::vector<uint8_t>& len) {
      return *std::max_element(len.begin(), len.end());
    };
    const uint32_t cMax = longest(last.t.cLen), pMax = longest(last.t.pLen);
    uint64_t at = bits;  // the end of the command looked at
    for (size_t i = last.b; i-- > last.a && total - at <= kMaxCodeLength;) {
      const uint16_t c = codes[i];
      if (c >= 256) {
        const int p = PositionSymbol(distances[i]);
        at -= static_cast<uint64_t>(p > 1 ? p - 1 : 0) + last.t.pLen[p];
        if (at + pMax > total) return false;
      }
      at -= last.t.cLen[c];
      if (at + cMax > total) return false;
    }
    return true;
  }

  // Where the stream ends too soon after its last symbols for a reader that looks a whole
  // code ahead, the last command needs the longest codes of its tables (see
  // EndWithLongestCodes). On a small block that swap can cost more than a block of its own
  // for the last command, whose tables have nothing but one-bit codes; and a small file
  // that ends in its most frequent byte does best with tables whose longest code is short
  // enough for the bits that follow the last symbols. The cheapest of the three is taken.
  void EndStream(std::vector<PlannedBlock>& blocks) const {
    if (LooksAheadSafely(blocks)) return;
    PlannedBlock& last = blocks.back();
    const size_t a = last.a, b = last.b;
    const Tables original = last.t;
    Tables best = original;
    EndWithLongestCodes(best, b - 1);
    uint64_t bestBits = BlockBits(best, b - a);
    const auto longest = [](const std::vector<uint8_t>& len) {
      return *std::max_element(len.begin(), len.end());
    };
    for (int length = std::max(longest(original.cLen), longest(original.pLen)) - 1;; --length) {
      Tables limited = original;
      if (!Limit(limited, length)) break;
      const uint64_t bits = BlockBits(limited, b - a);
      last.t = std::move(limited);
      if (bits < bestBits && LooksAheadSafely(blocks)) {
        best = last.t;
        bestBits = bits;
      }
    }
    last.t = std::move(best);
    if (b - a >= 2) {
      Tables head = Plan(a, b - 1), tail = Plan(b - 1, b);
      if (BlockBits(head, b - 1 - a) + BlockBits(tail, 1) < bestBits) {
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

  // Writes the first `count` commands (all by default) and drops them.
  void FlushBlock(size_t count = SIZE_MAX) {
    count = std::min(count, codes.size());
    if (count == 0) return;  // a block of zero commands is never written
    std::vector<PlannedBlock> blocks;
    Split(0, count, Plan(0, count), tuning.splitDepth, blocks);
    for (PlannedBlock& p : blocks) {
      Tighten(p.t, p.b - p.a);
      PriceRuns(p.t);
    }
    if (finishing) EndStream(blocks);
    for (const PlannedBlock& p : blocks) WriteBlock(p.t, p.a, p.b);
    codes.erase(codes.begin(), codes.begin() + static_cast<ptrdiff_t>(count));
    distances.erase(distances.begin(), distances.begin() + static_cast<ptrdiff_t>(count));
  }

  void AddCommand(uint16_t code, uint16_t distance) {
    // A full block is written once the next command arrives, so the last block of the
    // stream is always written by Finish.
    if (codes.size() >= tuning.blockCommands) FlushBlock();
    codes.push_back(code);
    distances.push_back(distance);
  }
  void Literal(uint8_t byte) { AddCommand(byte, 0); }
  void Match(int length, uint32_t distance) {
    AddCommand(static_cast<uint16_t>(256 + length - kMinMatch),
               static_cast<uint16_t>(distance - 1));
  }

  // --- match finder -----------------------------------------------------------------
  uint32_t Hash(uint32_t p) const {
    uint32_t v;
    std::memcpy(&v, &buf[p], 4);
    return (v * 2654435761u) >> (32 - kHashBits);
  }

  uint32_t Hash3(uint32_t p) const {
    uint32_t v;  // one load and a mask: the first three bytes on a little-endian machine
    std::memcpy(&v, &buf[p], 4);
    return ((v & 0xffffffu) * 2654435761u) >> (32 - kHash3Bits);
  }

  // Inserts `p` and returns the previous chain head (-1 when none); `last3` receives the
  // latest earlier position with the same 3-byte hash.
  int32_t Insert(uint32_t p, int32_t* last3 = nullptr) {
    uint32_t h3 = Hash3(p);
    if (last3) *last3 = head3[h3];
    head3[h3] = static_cast<int32_t>(p);
    uint32_t h = Hash(p);
    int32_t old = head[h];
    prev[p & mask] = old;
    head[h] = static_cast<int32_t>(p);
    return old;
  }

  int MatchLength(uint32_t a, uint32_t b, int maxLen) const {
    int len = 0;
    while (len + 8 <= maxLen) {
      uint64_t x, y;
      std::memcpy(&x, &buf[a + len], 8);
      std::memcpy(&y, &buf[b + len], 8);
      if (x != y) return len + (__builtin_ctzll(x ^ y) >> 3);
      len += 8;
    }
    while (len < maxLen && buf[a + len] == buf[b + len]) ++len;
    return len;
  }

  // Longest match at pos that beats `best`; 0 when none.
  int Search(int32_t cand, int32_t cand3, int best, uint32_t& distance) const {
    const int maxLen = static_cast<int>(std::min<uint32_t>(kMaxMatch, end - pos));
    if (best >= maxLen) return 0;
    int found = 0;
    if (best < kMinMatch && cand3 >= 0 && pos - static_cast<uint32_t>(cand3) <= kTooFar &&
        buf[cand3] == buf[pos] && buf[cand3 + 1] == buf[pos + 1] &&
        buf[cand3 + 2] == buf[pos + 2]) {
      best = found = kMinMatch;
      distance = pos - static_cast<uint32_t>(cand3);
    }
    int chain = tuning.maxChain;
    if (best >= tuning.goodLength) chain >>= 2;
    const int64_t limit = static_cast<int64_t>(pos) - maxDistance;
    while (cand >= 0 && cand > limit - 1 && chain-- > 0) {
      uint32_t c = static_cast<uint32_t>(cand);
      if (buf[c + best] == buf[pos + best] && buf[c] == buf[pos]) {
        int len = MatchLength(c, pos, maxLen);
        if (len > best) {
          best = len;
          found = len;
          distance = pos - c;
          if (len >= tuning.niceLength || len >= maxLen) break;
        }
      }
      cand = prev[c & mask];
    }
    if (found == kMinMatch && distance > kTooFar) return 0;
    return found;
  }

  // --- near-optimal parser -----------------------------------------------------------
  // Before the first parse has been priced: literals at 8 bits, copies dearer with distance.
  void SetFlatPrices() {
    for (uint32_t& p : prices.literal) p = 8;
    for (int l = 0; l <= kMaxMatch; ++l) prices.length[l] = l < 10 ? 5 : 9;
    for (int p = 0; p < 32; ++p) prices.position[p] = 4 + (p > 1 ? p - 1 : 0);
  }

  // Prices from the code lengths the commands [a, b) would get as one block. A symbol the
  // parse did not use is priced a little above the longest code, so that it stays
  // possible where it pays well.
  void SetPrices(size_t a, size_t b) {
    std::vector<uint32_t> cf(kNC, 0), pf(params.np, 0);
    for (size_t i = a; i < b; ++i) {
      ++cf[codes[i]];
      if (codes[i] >= 256) ++pf[PositionSymbol(distances[i])];
    }
    const std::vector<uint8_t> cLen = CodeLengths(cf, kMaxCodeLength);
    const std::vector<uint8_t> pLen = CodeLengths(pf, kMaxCodeLength);
    const auto unused = [](const std::vector<uint8_t>& len) {
      return std::min<uint32_t>(*std::max_element(len.begin(), len.end()) + 2, kMaxCodeLength);
    };
    const uint32_t cMiss = unused(cLen), pMiss = unused(pLen);
    for (int c = 0; c < 256; ++c) prices.literal[c] = cLen[c] ? cLen[c] : cMiss;
    // In a small file the tables are a large share of the output, and a length used once or
    // not at all costs an entry of its own there (a code and the gap around it): priced in
    // where the parse prices the input from itself. Measured on 400 small files: -0.05 %.
    for (int l = kMinMatch; l <= kMaxMatch; ++l) {
      const uint8_t len = cLen[256 + l - kMinMatch];
      const uint32_t uses = cf[256 + l - kMinMatch];
      const uint32_t entry = !effort.whole ? 0 : uses == 0 ? 8 : uses == 1 ? 4 : 0;
      prices.length[l] = (len ? len : cMiss) + entry;
    }
    for (int p = 0; p < params.np; ++p)
      prices.position[p] = (pLen[p] ? pLen[p] : pMiss) + (p > 1 ? p - 1 : 0);
  }

  // Enters `p` in its tree; with `collect`, records at matches[] every match met on the
  // way that is longer than the ones before it (the nearest source of each length), up to
  // `maxLen`. Returns the longest length found. The walk down the tree visits exactly the
  // strings sharing the longest prefixes with p's, so a few steps find what a long hash
  // chain would.
  template <bool collect>
  int TreeMatches(uint32_t p, int maxLen) {
    int best = kMinMatch - 1;
    uint32_t* const out = matches.data();
    const auto record = [&](uint32_t source, int len) {
      best = len;
      if (collect) out[matchCount++] = static_cast<uint32_t>(len) << 16 | (p - source - 1);
    };
    const uint32_t h3 = Hash3(p);
    const int32_t near = head3[h3];
    head3[h3] = static_cast<int32_t>(p);
    if (collect && near >= 0 && p - static_cast<uint32_t>(near) <= maxDistance) {
      const int len = MatchLength(static_cast<uint32_t>(near), p, maxLen);
      if (len >= kMinMatch) record(static_cast<uint32_t>(near), len);
    }
    const uint32_t h = Hash(p);
    int32_t cur = head[h];
    head[h] = static_cast<int32_t>(p);
    int32_t* smaller = &tree[2 * (p & mask)];
    int32_t* larger = smaller + 1;
    int lenSmaller = 0, lenLarger = 0;
    const int64_t limit = static_cast<int64_t>(p) - maxDistance;
    const int nice = std::min(effort.nice, maxLen);
    for (int depth = effort.depth;; --depth) {
      if (cur < 0 || cur < limit || depth <= 0) {
        *smaller = *larger = -1;
        break;
      }
      const uint32_t c = static_cast<uint32_t>(cur);
      int32_t* pair = &tree[2 * (c & mask)];
      int len = std::min(lenSmaller, lenLarger);
      // Compared no further than `nice`, where the walk ends anyway: inside long repeats
      // every node would otherwise be compared over hundreds of bytes.
      len += MatchLength(c + len, p + len, nice - len);
      if (len >= nice) {
        if (collect) {
          len += MatchLength(c + len, p + len, maxLen - len);
          if (len > best) record(c, len);
        }
        // p takes c's place: equal as far as we look, and nearer.
        *smaller = pair[0];
        *larger = pair[1];
        break;
      }
      if (len > best) record(c, len);
      if (buf[c + len] < buf[p + len]) {
        *smaller = cur;
        smaller = &pair[1];
        cur = *smaller;
        lenSmaller = len;
      } else {
        *larger = cur;
        larger = &pair[0];
        cur = *larger;
        lenLarger = len;
      }
    }
    return best;
  }

  // Finds the matches of every position of the stretch [pos, pos + n). After a match of
  // niceLength or more, the positions it covers are only entered in the hash chains: a
  // parse hardly ever leaves such a match early, and searching them costs the most.
  void FindMatches(uint32_t n) {
    matchCount = 0;
    // One position records at most one match per tree node visited and one more.
    const size_t most = static_cast<size_t>(effort.depth) + 1;
    uint32_t skipTo = 0;
    for (uint32_t i = 0; i < n; ++i) {
      matchStart[i] = static_cast<uint32_t>(matchCount);
      const uint32_t p = pos + i;
      if (p + 4 > end) continue;
      const int maxLen = static_cast<int>(std::min<uint32_t>(kMaxMatch, end - p));
      if (i < skipTo) {
        TreeMatches<false>(p, maxLen);
        continue;
      }
      if (matchCount + most > matches.size())
        matches.resize(std::max(matches.size() * 2, 4 * (n + most)));
      const int best = TreeMatches<true>(p, maxLen);
      if (best >= effort.nice) skipTo = i + static_cast<uint32_t>(best);
    }
    matchStart[n] = static_cast<uint32_t>(matchCount);
  }

  // Cheapest path of literals and copies through [pos, pos + n) at the current prices;
  // copies are cut at the stretch's end so the next stretch starts on a command boundary.
  void CheapestPath(uint32_t n) {
    Step* const step = steps.data();
    for (uint32_t i = 1; i <= n; ++i) step[i].price = kInfinite;
    step[0].price = 0;
    const uint8_t* const data = buf.data() + pos;
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t here = step[i].price;
      const uint32_t lit = here + prices.literal[data[i]];
      if (lit < step[i + 1].price) step[i + 1] = {lit, 1, 0};
      int shorter = kMinMatch - 1;
      const int room = static_cast<int>(std::min<uint32_t>(kMaxMatch, n - i));
      for (uint32_t m = matchStart[i]; m < matchStart[i + 1] && shorter < room; ++m) {
        const int len = std::min(static_cast<int>(matches[m] >> 16), room);
        const uint16_t d = static_cast<uint16_t>(matches[m]);
        const uint32_t base = here + prices.position[PositionSymbol(d)];
        for (int l = shorter + 1; l <= len; ++l) {
          const uint32_t c = base + prices.length[l];
          if (c < step[i + l].price) step[i + l] = {c, static_cast<uint16_t>(l), d};
        }
        shorter = len;
      }
    }
  }

  // Appends the cheapest path's commands to the block's, writing no block.
  void AppendPath(uint32_t n) {
    size_t count = 0;
    for (uint32_t i = n; i > 0; i -= steps[i].length) ends[count++] = i;
    while (count > 0) {
      const Step& s = steps[ends[--count]];
      codes.push_back(s.length == 1 ? buf[pos + ends[count] - 1]
                                    : static_cast<uint16_t>(256 + s.length - kMinMatch));
      distances.push_back(s.distance);
    }
  }

  // Parses the stretch optimalPasses times, each pass priced by the last one's result;
  // the prices found carry over to the next stretch.
  void ParseStretch(uint32_t n) {
    FindMatches(n);
    // The first stretch starts from guessed prices: one more pass prices it from itself,
    // which matters most for small files, all of which fit in one stretch.
    const int passes = effort.passes + (priced ? 0 : 1);
    priced = true;
    const size_t before = codes.size();
    for (int pass = 0; pass < passes; ++pass) {
      codes.resize(before);
      distances.resize(before);
      CheapestPath(n);
      AppendPath(n);
      SetPrices(before, codes.size());
    }
    // A block is written where it fills, as if the commands had come one by one.
    while (codes.size() > tuning.blockCommands) FlushBlock(tuning.blockCommands);
    pos += n;
  }

  void ProcessOptimal(bool final) {
    while (!failed && pos < end) {
      const uint32_t look = end - pos;
      if (!final && look < kSegment + kMinLookahead) break;
      // A whole input of one stretch, the everyday small file, takes microseconds: there a
      // deeper search and one more pass buy about 0.5 % for nothing that shows.
      const bool whole = final && pos == 0 && look <= kSegment;
      effort = {whole ? tuning.maxChain * 4 : tuning.maxChain,
                whole ? kMaxMatch : tuning.niceLength, tuning.optimalPasses + (whole ? 1 : 0),
                whole};
      ParseStretch(std::min(look, kSegment));
    }
  }

  void Process(bool final) {
    if (tuning.optimalPasses > 0) return ProcessOptimal(final);
    while (!failed) {
      const uint32_t look = end - pos;
      if (look == 0 || (!final && look < kMinLookahead)) break;
      int curLen = 0;
      uint32_t curDistance = 0;
      if (look >= 4) {
        int32_t cand3 = -1;
        int32_t cand = Insert(pos, &cand3);
        if (prevLength < tuning.lazyLength)
          curLen = Search(cand, cand3, std::max(prevLength, kMinMatch - 1), curDistance);
      }
      if (prevLength >= kMinMatch && curLen <= prevLength) {
        Match(prevLength, prevDistance);
        const uint32_t stop = pos - 1 + prevLength;
        for (uint32_t p = pos + 1; p < stop; ++p)
          if (p + 4 <= end) Insert(p);
        pos = stop;
        matchAvailable = false;
        prevLength = kMinMatch - 1;
      } else {
        if (matchAvailable) Literal(buf[pos - 1]);
        matchAvailable = true;
        prevLength = curLen >= kMinMatch ? curLen : kMinMatch - 1;
        prevDistance = curDistance;
        ++pos;
      }
    }
    if (final && matchAvailable) {
      Literal(buf[pos - 1]);
      matchAvailable = false;
      prevLength = kMinMatch - 1;
    }
  }

  void Slide() {
    std::memmove(buf.data(), buf.data() + kSlide, end - kSlide);
    end -= kSlide;
    pos -= kSlide;
    const int32_t s = static_cast<int32_t>(kSlide);
    for (auto& h : head) h = h >= s ? h - s : -1;
    for (auto& p : prev) p = p >= s ? p - s : -1;
    for (auto& h : head3) h = h >= s ? h - s : -1;
    for (auto& t : tree) t = t >= s ? t - s : -1;
  }

  bool Feed(const uint8_t* data, size_t size) {
    while (size > 0 && !failed) {
      if (pos >= params.window + kSlide) Slide();
      size_t room = buf.size() - end;
      size_t n = std::min(room, size);
      std::memcpy(buf.data() + end, data, n);
      end += static_cast<uint32_t>(n);
      data += n;
      size -= n;
      Process(false);
    }
    return !failed;
  }

  bool Finish() {
    Process(true);
    finishing = true;
    FlushBlock();
    for (; accBits >= 8; accBits -= 8) out.push_back(static_cast<uint8_t>(acc >> (accBits - 8)));
    if (accBits > 0) {
      out.push_back(static_cast<uint8_t>(acc << (8 - accBits)));
      accBits = 0;
    }
    FlushOut();
    return !failed;
  }
};

Encoder::Encoder(Method method, Sink sink, EncoderTuning tuning)
    : impl_(std::make_unique<Impl>(method, std::move(sink), tuning)) {}
Encoder::~Encoder() = default;
bool Encoder::Feed(const uint8_t* data, size_t size) {
  return impl_->Feed(data, size);
}
bool Encoder::Finish() {
  return impl_->Finish();
}
uint64_t Encoder::compressedSize() const {
  return impl_->written + impl_->out.size();
}
uint32_t Encoder::blocks() const {
  return impl_->blockCount;
}

std::vector<uint8_t> Compress(Method method, const uint8_t* data, size_t size,
                              EncoderTuning tuning) {
  std::vector<uint8_t> result;
  Encoder enc(
      method,
      [&](const uint8_t* d, size_t n) {
        result.insert(result.end(), d, d + n);
        return true;
      },
      tuning);
  enc.Feed(data, size);
  enc.Finish();
  return result;
}

}  // namespace tavrun::lzh
