// The window and what finds earlier occurrences in it: hash chains on four bytes for lazy
// matching, binary trees of the window's strings for the near-optimal parse, and the latest
// position of each three-byte hash for short matches either misses. Positions are offsets in
// `buf`, which holds the window and the input ahead of it and slides by kSlide.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "encode_common.h"

namespace tavrun::lzh::enc {

// The part of the buffer moved out at once; a multiple of every window size.
constexpr uint32_t kSlide = 128 * 1024;
// The optimal parser works on stretches of this many bytes.
constexpr uint32_t kStretch = 32 * 1024;
// Parsing stops this far before the end of the buffered input until the input is complete,
// so that a match and the lazy look one byte further can always run to full length.
constexpr uint32_t kMinLookahead = kMaxMatch + 2;
constexpr uint32_t kLookahead = 512;
// A 3-byte match further back than this costs more bits than three literals.
constexpr uint32_t kTooFar = 4096;

struct MatchFinder {
  static constexpr int kHashBits = 16;
  static constexpr int kHash3Bits = 14;

  uint32_t mask = 0;
  uint32_t maxDistance = 0;  // furthest copy source, in bytes back
  std::vector<uint8_t> buf;  // the window and the input ahead of it
  uint32_t end = 0;          // valid bytes in buf
  std::vector<int32_t> head;
  std::vector<int32_t> prev;   // hash chains (lazy matching)
  std::vector<int32_t> head3;  // latest position per 3-byte hash
  // Binary search trees of the window's strings, one per hash of four bytes (roots in
  // `head`): each position's two children, smaller and larger strings.
  std::vector<int32_t> tree;
  // Matches per position of a stretch (length << 16 | distance - 1, by rising length).
  std::vector<uint32_t> matchStart, matches;
  size_t matchCount = 0;

  // Empties the window for a new stream: chains for lazy matching or trees.
  void Reset(const Params& params, bool trees);
  // Moves the buffer kSlide bytes down.
  void Slide();

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

  // --- hash chains ---
  // Inserts `p` and returns the previous chain head (-1 when none); `last3` receives the
  // latest earlier position with the same 3-byte hash.
  int32_t Insert(uint32_t p, int32_t* last3 = nullptr);
  // Longest match at `pos` (up to `maxLen`) that beats `best`, looking at `chain` candidates;
  // 0 when none.
  int Search(uint32_t pos, int maxLen, int32_t cand, int32_t cand3, int best, int chain, int nice,
             uint32_t& distance) const;

  // --- trees ---
  // Enters `p` in its tree, walking at most `depth` nodes and comparing no further than
  // `nice`. With `collect`, appends to `matches` every match met on the way that is longer
  // than the ones before it. Returns the longest length found.
  template <bool collect>
  int TreeMatches(uint32_t p, int maxLen, int depth, int nice);
  // Finds the matches of every position of [pos, pos + n); positions covered by a match of
  // `nice` or more are only entered.
  void FindMatches(uint32_t pos, uint32_t n, int depth, int nice);
};

}  // namespace tavrun::lzh::enc
