#include "block_tables.h"

#include <algorithm>
#include <utility>

#include "huffman.h"

namespace tavrun::lzh::enc {
namespace {

int Trim(const std::vector<uint8_t>& len) {
  int n = static_cast<int>(len.size());
  while (n > 0 && len[n - 1] == 0) --n;
  return n;
}

// A run of `count` zero lengths as the cheapest series of single zeros (symbol 0), runs of
// 3-18 (symbol 1) and runs of 20-531 (symbol 2).
template <typename F>
void EmitRun(int count, const std::array<uint32_t, 3>& runBits, F emit) {
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
// emit(symbol, extraBits, extraValue) for each code-length symbol. With `runBits` (the bits
// each of the three zero-run symbols costs, extra bits included), each run of zeros is sent
// the cheapest way at those prices; without, by fixed rules.
template <typename F>
void WalkCLengths(const std::vector<uint8_t>& cLen, int n, F emit,
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
void WriteLengthTable(Put& put, const std::vector<uint8_t>& len, int n, int nbit, int special) {
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

bool Fits(const std::vector<uint32_t>& freq, int maxLength) {
  const auto used = std::count_if(freq.begin(), freq.end(), [](uint32_t f) { return f != 0; });
  return maxLength >= 1 && static_cast<size_t>(used) <= (size_t{1} << maxLength);
}

// Bits of the code-length table and of the literal/length lengths sent through it.
uint64_t LengthCodeBits(const Tables& t) {
  uint64_t bits = 0;
  auto count = [&](int n, uint32_t) { bits += static_cast<uint64_t>(n); };
  WriteLengthTable(count, t.tLen, t.nT, kTBit, 3);
  WalkCLengths(
      t.cLen, t.nC, [&](int sym, int extraBits, int) { bits += t.tLen[sym] + extraBits; },
      t.pricedRuns ? &t.runBits : nullptr);
  return bits;
}

template <typename Put>
void WalkTables(const Params& params, const Tables& t, size_t count, Put& put) {
  const std::vector<uint16_t> tCode = CanonicalCodes(t.tLen);
  put(16, static_cast<uint32_t>(count));
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

}  // namespace

Tables Plan(const Params& params, const Commands& commands, size_t a, size_t b) {
  Tables t;
  t.cf.assign(kNC, 0);
  t.pf.assign(params.np, 0);
  const uint16_t* const codes = commands.codes.data();
  const uint16_t* const distances = commands.distances.data();
  for (size_t i = a; i < b; ++i) {
    ++t.cf[codes[i]];
    if (codes[i] >= 256) ++t.pf[PositionSymbol(distances[i])];
  }
  t.cLen = CodeLengths(t.cf, kMaxCodeLength);
  t.pLen = CodeLengths(t.pf, kMaxCodeLength);
  PlanLengthCodes(t);
  return t;
}

bool Limit(Tables& t, int maxLength) {
  if (!Fits(t.cf, maxLength) || !Fits(t.pf, maxLength)) return false;
  t.cLen = CodeLengths(t.cf, maxLength);
  t.pLen = CodeLengths(t.pf, maxLength);
  t.pricedRuns = false;
  PlanLengthCodes(t);
  return true;
}

// Huffman lengths are the cheapest for the symbols alone; a shorter longest code can cost the
// symbols a little and save more in the table that sends the lengths (a length of 7 or more
// is sent in unary), most of all in the small block of a small file.
void Tighten(const Params& params, Tables& t, size_t count) {
  uint64_t bestBits = BlockBits(params, t, count);
  for (const bool literals : {true, false}) {
    std::vector<uint8_t>& len = literals ? t.cLen : t.pLen;
    const std::vector<uint32_t>& freq = literals ? t.cf : t.pf;
    for (int limit = *std::max_element(len.begin(), len.end()) - 1; Fits(freq, limit); --limit) {
      Tables trial = t;
      (literals ? trial.cLen : trial.pLen) = CodeLengths(freq, limit);
      PlanLengthCodes(trial);
      const uint64_t bits = BlockBits(params, trial, count);
      if (bits > bestBits) break;  // shorter limits only cost more from here
      if (bits < bestBits) {
        bestBits = bits;
        t = std::move(trial);
      }
    }
  }
}

void PlanLengthCodes(Tables& t) {
  t.nC = Trim(t.cLen);
  t.nP = Trim(t.pLen);
  std::vector<uint32_t> tFreq(kNT, 0);
  WalkCLengths(
      t.cLen, t.nC, [&](int sym, int, int) { ++tFreq[sym]; }, t.pricedRuns ? &t.runBits : nullptr);
  t.tLen = CodeLengths(tFreq, kMaxCodeLength);
  t.nT = Trim(t.tLen);
}

// The zero runs of a block's final tables, sent once more at the prices the code for the
// lengths got by fixed rules; kept where that costs fewer bits. Only for tables about to be
// written: a few gaps' worth of bits, not worth it while blocks are being planned.
void PriceRuns(Tables& t) {
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

uint64_t BlockBits(const Params& params, const Tables& t, size_t count) {
  uint64_t bits = 0;
  auto add = [&](int n, uint32_t) { bits += static_cast<uint64_t>(n); };
  WalkTables(params, t, count, add);
  for (int c = 0; c < kNC; ++c) bits += uint64_t{t.cf[c]} * t.cLen[c];
  for (int p = 0; p < params.np; ++p) bits += uint64_t{t.pf[p]} * (t.pLen[p] + (p > 1 ? p - 1 : 0));
  return bits;
}

void PutTables(const Params& params, const Tables& t, size_t count,
               void (*put)(void* ctx, int bits, uint32_t value), void* ctx) {
  auto forward = [&](int n, uint32_t v) { put(ctx, n, v); };
  WalkTables(params, t, count, forward);
}

}  // namespace tavrun::lzh::enc
