#include "match_finder.h"

#include <algorithm>

namespace tavrun::lzh::enc {

void MatchFinder::Reset(const Params& params, bool trees) {
  mask = params.window - 1;
  maxDistance = params.window - 1;
  end = 0;
  // Neither the buffer nor the trees are cleared: no byte at or beyond `end` is ever
  // compared, and a tree node is read only once this stream has written it (nodes are
  // reached from the hash heads, which are cleared). A batch of small files would otherwise
  // spend more on clearing than on compressing.
  buf.resize(params.window + kSlide + kStretch + kLookahead);
  head.assign(1u << kHashBits, -1);
  if (trees) {
    prev.clear();
    tree.resize(2 * params.window);
    matchStart.resize(kStretch + 1);
  } else {
    prev.assign(params.window, -1);
  }
  head3.assign(1u << kHash3Bits, -1);
}

void MatchFinder::Slide() {
  std::memmove(buf.data(), buf.data() + kSlide, end - kSlide);
  end -= kSlide;
  const int32_t s = static_cast<int32_t>(kSlide);
  for (auto& h : head) h = h >= s ? h - s : -1;
  for (auto& p : prev) p = p >= s ? p - s : -1;
  for (auto& h : head3) h = h >= s ? h - s : -1;
  for (auto& t : tree) t = t >= s ? t - s : -1;
}

int32_t MatchFinder::Insert(uint32_t p, int32_t* last3) {
  uint32_t h3 = Hash3(p);
  if (last3) *last3 = head3[h3];
  head3[h3] = static_cast<int32_t>(p);
  uint32_t h = Hash(p);
  int32_t old = head[h];
  prev[p & mask] = old;
  head[h] = static_cast<int32_t>(p);
  return old;
}

int MatchFinder::Search(uint32_t pos, int maxLen, int32_t cand, int32_t cand3, int best, int chain,
                        int nice, uint32_t& distance) const {
  if (best >= maxLen) return 0;
  int found = 0;
  if (best < kMinMatch && cand3 >= 0 && pos - static_cast<uint32_t>(cand3) <= kTooFar &&
      buf[cand3] == buf[pos] && buf[cand3 + 1] == buf[pos + 1] && buf[cand3 + 2] == buf[pos + 2]) {
    best = found = kMinMatch;
    distance = pos - static_cast<uint32_t>(cand3);
  }
  const int64_t limit = static_cast<int64_t>(pos) - maxDistance;
  while (cand >= 0 && cand > limit - 1 && chain-- > 0) {
    uint32_t c = static_cast<uint32_t>(cand);
    if (buf[c + best] == buf[pos + best] && buf[c] == buf[pos]) {
      int len = MatchLength(c, pos, maxLen);
      if (len > best) {
        best = len;
        found = len;
        distance = pos - c;
        if (len >= nice || len >= maxLen) break;
      }
    }
    cand = prev[c & mask];
  }
  if (found == kMinMatch && distance > kTooFar) return 0;
  return found;
}

// The walk down the tree visits exactly the strings sharing the longest prefixes with p's, so
// a few steps find what a long hash chain would.
template <bool collect>
int MatchFinder::TreeMatches(uint32_t p, int maxLen, int depth, int niceLength) {
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
  const int nice = std::min(niceLength, maxLen);
  for (;; --depth) {
    if (cur < 0 || cur < limit || depth <= 0) {
      *smaller = *larger = -1;
      break;
    }
    const uint32_t c = static_cast<uint32_t>(cur);
    int32_t* pair = &tree[2 * (c & mask)];
    int len = std::min(lenSmaller, lenLarger);
    // Compared no further than `nice`, where the walk ends anyway: inside long repeats every
    // node would otherwise be compared over hundreds of bytes.
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

template int MatchFinder::TreeMatches<false>(uint32_t, int, int, int);

// After a match of `nice` or more, the positions it covers are only entered: a parse hardly
// ever leaves such a match early, and searching them costs the most.
void MatchFinder::FindMatches(uint32_t pos, uint32_t n, int depth, int nice) {
  matchCount = 0;
  // One position records at most one match per tree node visited and one more.
  const size_t most = static_cast<size_t>(depth) + 1;
  uint32_t skipTo = 0;
  for (uint32_t i = 0; i < n; ++i) {
    matchStart[i] = static_cast<uint32_t>(matchCount);
    const uint32_t p = pos + i;
    if (p + 4 > end) continue;
    const int maxLen = static_cast<int>(std::min<uint32_t>(kMaxMatch, end - p));
    if (i < skipTo) {
      TreeMatches<false>(p, maxLen, depth, nice);
      continue;
    }
    if (matchCount + most > matches.size())
      matches.resize(std::max(matches.size() * 2, 4 * (n + most)));
    const int best = TreeMatches<true>(p, maxLen, depth, nice);
    if (best >= nice) skipTo = i + static_cast<uint32_t>(best);
  }
  matchStart[n] = static_cast<uint32_t>(matchCount);
}

}  // namespace tavrun::lzh::enc
