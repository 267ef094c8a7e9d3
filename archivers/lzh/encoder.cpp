#include "encoder.h"

#include <algorithm>
#include <cstring>

#include "huffman.h"

namespace tavrun::lzh {
namespace {

constexpr int kMaxMatch = 256;
constexpr int kMinMatch = 3;
constexpr int kNC = 256 + kMaxMatch - kMinMatch + 1;  // 510 literal/length symbols
constexpr int kNT = 19;                                // code-length symbols
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

int PositionSymbol(uint32_t d) { return d == 0 ? 0 : 32 - __builtin_clz(d); }

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

uint32_t WindowSize(Method method) { return ParamsFor(method).window; }

EncoderTuning DefaultTuning(Method method) {
  EncoderTuning t;
  if (method == Method::Lh7) {
    t.maxChain = 96;
    t.lazyLength = 48;
    t.niceLength = 96;
  }
  return t;
}

namespace {

// The buffers of the last encoder that finished on this thread. A batch compresses
// thousands of small files; fresh window-sized buffers for each one cost more in page
// faults than compressing the file does.
struct SpareBuffers {
  std::vector<uint8_t> buf, out;
  std::vector<int32_t> head, prev, head3;
  std::vector<uint16_t> codes, distances;
};
thread_local SpareBuffers spare;

}  // namespace

struct Encoder::Impl {
  Params params;
  Sink sink;
  EncoderTuning tuning;
  uint32_t mask;
  uint32_t maxDistance;  // furthest copy source, in bytes back

  std::vector<uint8_t> buf;
  uint32_t end = 0;  // valid bytes in buf
  uint32_t pos = 0;  // next position to parse
  std::vector<int32_t> head;
  std::vector<int32_t> prev;
  std::vector<int32_t> head3;  // latest position per 3-byte hash: short matches the 4-byte chains miss

  // Lazy-matching state carried between calls.
  int prevLength = kMinMatch - 1;
  uint32_t prevDistance = 0;
  bool matchAvailable = false;

  // Commands of the block being collected.
  std::vector<uint16_t> codes;
  std::vector<uint16_t> distances;  // copy distance - 1 (0 for literals), one per command

  // Bit output.
  std::vector<uint8_t> out;
  uint64_t acc = 0;
  int accBits = 0;
  uint64_t written = 0;
  uint32_t blockCount = 0;
  bool failed = false;
  bool finishing = false;  // the commands left are the last of the stream

  Impl(Method m, Sink s, EncoderTuning t)
      : params(ParamsFor(m)), sink(std::move(s)), tuning(t) {
    mask = params.window - 1;
    maxDistance = params.window - 1;
    buf.swap(spare.buf);
    out.swap(spare.out);
    head.swap(spare.head);
    prev.swap(spare.prev);
    head3.swap(spare.head3);
    codes.swap(spare.codes);
    distances.swap(spare.distances);
    codes.clear();
    distances.clear();
    out.clear();
    // Filled as a fresh buffer would be, so the output never depends on an earlier file.
    buf.assign(params.window + kSlide + kLookahead, 0);
    head.assign(1u << kHashBits, -1);
    prev.assign(params.window, -1);
    head3.assign(1u << kHash3Bits, -1);
    tuning.blockCommands = std::clamp<uint32_t>(tuning.blockCommands, 1, 65535);
    tuning.maxChain = std::max(1, tuning.maxChain);
    codes.reserve(tuning.blockCommands);
    distances.reserve(tuning.blockCommands);
    out.reserve(1 << 16);
  }

  ~Impl() {
    spare.buf.swap(buf);
    spare.out.swap(out);
    spare.head.swap(head);
    spare.prev.swap(prev);
    spare.head3.swap(head3);
    spare.codes.swap(codes);
    spare.distances.swap(distances);
  }

  // --- bits -------------------------------------------------------------------------
  void PutBits(int n, uint32_t value) {
    acc = (acc << n) | value;
    accBits += n;
    while (accBits >= 8) {
      accBits -= 8;
      out.push_back(static_cast<uint8_t>(acc >> accBits));
    }
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

  // Walks the run-length coding of the literal/length code lengths, calling
  // emit(symbol, extraBits, extraValue) for each code-length symbol.
  template <typename F>
  static void WalkCLengths(const std::vector<uint8_t>& cLen, int n, F emit) {
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
      if (count <= 2) {
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
  static void WriteLengthTable(Put& put, const std::vector<uint8_t>& len, int n, int nbit, int special) {
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

  // Trims the two tables and builds the code that transmits the literal/length lengths.
  static void PlanLengthCodes(Tables& t) {
    t.nC = Trim(t.cLen);
    t.nP = Trim(t.pLen);
    std::vector<uint32_t> tFreq(kNT, 0);
    WalkCLengths(t.cLen, t.nC, [&](int sym, int, int) { ++tFreq[sym]; });
    t.tLen = CodeLengths(tFreq, kMaxCodeLength);
    t.nT = Trim(t.tLen);
  }

  // Writes the block header and tables through put(bits, value).
  template <typename Put>
  void PutTables(const Tables& t, size_t commands, Put& put) const {
    const std::vector<uint16_t> tCode = CanonicalCodes(t.tLen);
    put(16, static_cast<uint32_t>(commands));
    WriteLengthTable(put, t.tLen, t.nT, kTBit, 3);
    put(kCBit, t.nC);
    WalkCLengths(t.cLen, t.nC, [&](int sym, int extraBits, int extra) {
      put(t.tLen[sym], tCode[sym]);
      if (extraBits) put(extraBits, extra);
    });
    WriteLengthTable(put, t.pLen, t.nP, params.pbit, -1);
  }

  // Exact size in bits of `t`'s block of `commands` commands.
  uint64_t BlockBits(const Tables& t, size_t commands) const {
    uint64_t bits = 0;
    auto count = [&](int n, uint32_t) { bits += static_cast<uint64_t>(n); };
    PutTables(t, commands, count);
    for (int c = 0; c < kNC; ++c) bits += uint64_t{t.cf[c]} * t.cLen[c];
    for (int p = 0; p < params.np; ++p) bits += uint64_t{t.pf[p]} * (t.pLen[p] + (p > 1 ? p - 1 : 0));
    return bits;
  }

  // Some readers look ahead as many bits as a table's longest code before decoding each
  // symbol and fail when the stream ends sooner; the stream may not be padded beyond its
  // last byte. Giving the last command's symbols the longest length of their tables
  // (swapping two lengths keeps every table complete) leaves enough bits after each.
  void EndWithLongestCodes(Tables& t, size_t last) const {
    auto toLongest = [](std::vector<uint8_t>& len, size_t sym) {
      size_t longest = sym;
      for (size_t i = 0; i < len.size(); ++i)
        if (len[i] > len[longest]) longest = i;
      std::swap(len[sym], len[longest]);
    };
    const uint16_t c = codes[last];
    toLongest(t.cLen, c);
    if (c >= 256) toLongest(t.pLen, static_cast<size_t>(PositionSymbol(distances[last])));
    PlanLengthCodes(t);
  }

  void WriteBlock(const Tables& planned, size_t a, size_t b) {
    Tables t = planned;
    if (finishing && b == codes.size()) EndWithLongestCodes(t, b - 1);
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

  // Halves a range of commands while two blocks with tables of their own cost fewer bits.
  void SplitAndWrite(size_t a, size_t b, const Tables& whole, int depth) {
    if (depth > 0 && b - a >= 2 * kMinSplit) {
      const size_t mid = a + (b - a) / 2;
      const Tables left = Plan(a, mid), right = Plan(mid, b);
      if (BlockBits(left, mid - a) + BlockBits(right, b - mid) < BlockBits(whole, b - a)) {
        SplitAndWrite(a, mid, left, depth - 1);
        SplitAndWrite(mid, b, right, depth - 1);
        return;
      }
    }
    WriteBlock(whole, a, b);
  }

  void FlushBlock() {
    if (codes.empty()) return;  // a block of zero commands is never written
    SplitAndWrite(0, codes.size(), Plan(0, codes.size()), tuning.splitDepth);
    codes.clear();
    distances.clear();
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
    AddCommand(static_cast<uint16_t>(256 + length - kMinMatch), static_cast<uint16_t>(distance - 1));
  }

  // --- match finder -----------------------------------------------------------------
  uint32_t Hash(uint32_t p) const {
    uint32_t v;
    std::memcpy(&v, &buf[p], 4);
    return (v * 2654435761u) >> (32 - kHashBits);
  }

  uint32_t Hash3(uint32_t p) const {
    uint32_t v = buf[p] | (buf[p + 1] << 8) | (buf[p + 2] << 16);
    return (v * 2654435761u) >> (32 - kHash3Bits);
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
        buf[cand3] == buf[pos] && buf[cand3 + 1] == buf[pos + 1] && buf[cand3 + 2] == buf[pos + 2]) {
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

  void Process(bool final) {
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
bool Encoder::Feed(const uint8_t* data, size_t size) { return impl_->Feed(data, size); }
bool Encoder::Finish() { return impl_->Finish(); }
uint64_t Encoder::compressedSize() const { return impl_->written + impl_->out.size(); }
uint32_t Encoder::blocks() const { return impl_->blockCount; }

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
