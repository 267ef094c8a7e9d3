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
// A 3-byte match further back than this costs more bits than three literals.
constexpr uint32_t kTooFar = 4096;
// The part of the buffer moved out at once; a multiple of every window size.
constexpr uint32_t kSlide = 128 * 1024;
// Parsing stops this far before the end of the buffered input until the input is complete,
// so that a match and the lazy look one byte further can always run to full length.
constexpr uint32_t kMinLookahead = kMaxMatch + 2;
constexpr uint32_t kLookahead = 512;

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

  // Lazy-matching state carried between calls.
  int prevLength = kMinMatch - 1;
  uint32_t prevDistance = 0;
  bool matchAvailable = false;

  // Commands of the block being collected.
  std::vector<uint16_t> codes;
  std::vector<uint16_t> distances;  // copy distance - 1, for matches only
  std::vector<uint32_t> cFreq;
  std::vector<uint32_t> pFreq;

  // Bit output.
  std::vector<uint8_t> out;
  uint64_t acc = 0;
  int accBits = 0;
  uint64_t written = 0;
  uint32_t blockCount = 0;
  bool failed = false;

  Impl(Method m, Sink s, EncoderTuning t)
      : params(ParamsFor(m)), sink(std::move(s)), tuning(t) {
    mask = params.window - 1;
    maxDistance = params.window - 1;
    buf.resize(params.window + kSlide + kLookahead);
    head.assign(1u << kHashBits, -1);
    prev.assign(params.window, -1);
    tuning.blockCommands = std::clamp<uint32_t>(tuning.blockCommands, 1, 65535);
    tuning.maxChain = std::max(1, tuning.maxChain);
    codes.reserve(tuning.blockCommands);
    distances.reserve(tuning.blockCommands);
    cFreq.assign(kNC, 0);
    pFreq.assign(params.np, 0);
    out.reserve(1 << 16);
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

  void WriteLengthTable(const std::vector<uint8_t>& len, int n, int nbit, int special) {
    PutBits(nbit, n);
    int i = 0;
    while (i < n) {
      int k = len[i++];
      if (k <= 6)
        PutBits(3, k);
      else
        PutBits(k - 3, (1u << (k - 3)) - 2);  // "111", (k-7) ones, a zero
      if (i == special) {
        int skip = 0;
        while (i < n && i < 6 && len[i] == 0) {
          ++i;
          ++skip;
        }
        PutBits(2, skip);
      }
    }
  }

  void FlushBlock() {
    if (codes.empty()) return;  // a block of zero commands is never written
    std::vector<uint8_t> cLen = CodeLengths(cFreq, kMaxCodeLength);
    std::vector<uint8_t> pLen = CodeLengths(pFreq, kMaxCodeLength);
    const int nC = Trim(cLen);
    const int nP = Trim(pLen);

    std::vector<uint32_t> tFreq(kNT, 0);
    WalkCLengths(cLen, nC, [&](int sym, int, int) { ++tFreq[sym]; });
    std::vector<uint8_t> tLen = CodeLengths(tFreq, kMaxCodeLength);
    const int nT = Trim(tLen);
    const std::vector<uint16_t> tCode = CanonicalCodes(tLen);
    const std::vector<uint16_t> cCode = CanonicalCodes(cLen);
    const std::vector<uint16_t> pCode = CanonicalCodes(pLen);

    PutBits(16, static_cast<uint32_t>(codes.size()));
    WriteLengthTable(tLen, nT, kTBit, 3);
    PutBits(kCBit, nC);
    WalkCLengths(cLen, nC, [&](int sym, int extraBits, int extra) {
      PutBits(tLen[sym], tCode[sym]);
      if (extraBits) PutBits(extraBits, extra);
    });
    WriteLengthTable(pLen, nP, params.pbit, -1);

    size_t m = 0;
    for (uint16_t c : codes) {
      PutBits(cLen[c], cCode[c]);
      if (c >= 256) {
        uint32_t d = distances[m++];
        int p = PositionSymbol(d);
        PutBits(pLen[p], pCode[p]);
        if (p > 1) PutBits(p - 1, d - (1u << (p - 1)));
      }
    }
    ++blockCount;
    codes.clear();
    distances.clear();
    std::fill(cFreq.begin(), cFreq.end(), 0);
    std::fill(pFreq.begin(), pFreq.end(), 0);
  }

  void AddCommand(uint16_t code) {
    codes.push_back(code);
    ++cFreq[code];
    if (codes.size() >= tuning.blockCommands) FlushBlock();
  }
  void Literal(uint8_t byte) { AddCommand(byte); }
  void Match(int length, uint32_t distance) {
    uint32_t d = distance - 1;
    distances.push_back(static_cast<uint16_t>(d));
    ++pFreq[PositionSymbol(d)];
    AddCommand(static_cast<uint16_t>(256 + length - kMinMatch));
  }

  // --- match finder -----------------------------------------------------------------
  uint32_t Hash(uint32_t p) const {
    uint32_t v = buf[p] | (buf[p + 1] << 8) | (buf[p + 2] << 16);
    return (v * 2654435761u) >> (32 - kHashBits);
  }

  // Inserts `p` and returns the previous chain head (-1 when none).
  int32_t Insert(uint32_t p) {
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
  int Search(int32_t cand, int best, uint32_t& distance) const {
    const int maxLen = static_cast<int>(std::min<uint32_t>(kMaxMatch, end - pos));
    if (best >= maxLen) return 0;
    int chain = tuning.maxChain;
    if (best >= tuning.goodLength) chain >>= 2;
    const int64_t limit = static_cast<int64_t>(pos) - maxDistance;
    int found = 0;
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
      if (look >= static_cast<uint32_t>(kMinMatch)) {
        int32_t cand = Insert(pos);
        if (prevLength < tuning.lazyLength)
          curLen = Search(cand, std::max(prevLength, kMinMatch - 1), curDistance);
      }
      if (prevLength >= kMinMatch && curLen <= prevLength) {
        Match(prevLength, prevDistance);
        const uint32_t stop = pos - 1 + prevLength;
        for (uint32_t p = pos + 1; p < stop; ++p)
          if (p + kMinMatch <= end) Insert(p);
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
