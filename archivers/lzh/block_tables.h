// The Huffman tables of one block: chosen from the commands' frequencies, tightened where a
// shorter longest code makes the block smaller, and measured exactly in bits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "encode_common.h"

namespace tavrun::lzh::enc {

// The code lengths of one block of commands.
struct Tables {
  std::vector<uint32_t> cf, pf;
  std::vector<uint8_t> cLen, pLen, tLen;
  int nC = 0, nP = 0, nT = 0;
  bool pricedRuns = false;  // zero runs sent the cheapest way at `runBits`
  std::array<uint32_t, 3> runBits{};
};

// Tables for the commands [a, b).
Tables Plan(const Params& params, const Commands& commands, size_t a, size_t b);

// `t` with its two tables rebuilt with no code longer than `maxLength`; false when that many
// bits cannot give every used symbol a code.
bool Limit(Tables& t, int maxLength);

// Shortens each table's longest code while the block of `count` commands gets smaller.
void Tighten(const Params& params, Tables& t, size_t count);

// Trims the two tables and builds the code that transmits the literal/length lengths.
void PlanLengthCodes(Tables& t);

// Sends the zero runs of the lengths the cheapest way where that costs fewer bits.
void PriceRuns(Tables& t);

// Exact size in bits of `t`'s block of `count` commands.
uint64_t BlockBits(const Params& params, const Tables& t, size_t count);

// Walks the block header and tables in the order they are written, calling put(bits, value).
void PutTables(const Params& params, const Tables& t, size_t count,
               void (*put)(void* ctx, int bits, uint32_t value), void* ctx);

}  // namespace tavrun::lzh::enc
