#include "huffman.h"

#include <algorithm>
#include <numeric>

namespace tavrun::lzh {
namespace {

struct Node {
  uint64_t weight;
  int symbol;  // >= 0 for a leaf
  int left;
  int right;
};

}  // namespace

std::vector<uint8_t> CodeLengths(const std::vector<uint32_t>& freq, int maxLength) {
  const int n = static_cast<int>(freq.size());
  std::vector<uint8_t> lengths(n, 0);
  std::vector<int> used;
  for (int i = 0; i < n; ++i)
    if (freq[i] != 0) used.push_back(i);

  if (used.size() < 2) {
    int a = used.empty() ? 0 : used[0];
    int b = a + 1 < n ? a + 1 : a - 1;
    lengths[a] = 1;
    lengths[b] = 1;
    return lengths;
  }

  std::stable_sort(used.begin(), used.end(), [&](int x, int y) { return freq[x] < freq[y]; });

  // Plain Huffman first (two queues over the sorted weights); it is optimal whenever its
  // longest code fits, which is the usual case.
  {
    const size_t n = used.size();
    std::vector<uint64_t> weight(2 * n - 1);
    std::vector<int> parent(2 * n - 1, -1);
    for (size_t i = 0; i < n; ++i) weight[i] = freq[used[i]];
    size_t leaf = 0, inner = n, next = n;
    auto take = [&]() -> size_t {
      if (leaf < n && (inner >= next || weight[leaf] <= weight[inner])) return leaf++;
      return inner++;
    };
    for (; next < 2 * n - 1; ++next) {
      size_t a = take(), b = take();
      weight[next] = weight[a] + weight[b];
      parent[a] = parent[b] = static_cast<int>(next);
    }
    std::vector<int> depth(2 * n - 1, 0);
    int longest = 0;
    for (size_t i = 2 * n - 1; i-- > 0;) {
      if (parent[i] >= 0) depth[i] = depth[parent[i]] + 1;
      if (i < n) longest = std::max(longest, depth[i]);
    }
    if (longest <= maxLength) {
      for (size_t i = 0; i < n; ++i) lengths[used[i]] = static_cast<uint8_t>(depth[i]);
      return lengths;
    }
  }

  std::vector<Node> pool;
  pool.reserve(used.size() * 2 * maxLength + 8);
  std::vector<int> leaves;
  for (int s : used) {
    leaves.push_back(static_cast<int>(pool.size()));
    pool.push_back({freq[s], s, -1, -1});
  }

  // Package-merge: each round pairs the previous list into packages and merges them with
  // the leaves; after maxLength-1 rounds the first 2n-2 items give the lengths.
  std::vector<int> list = leaves;
  for (int level = 1; level < maxLength; ++level) {
    std::vector<int> packages;
    for (size_t i = 0; i + 1 < list.size(); i += 2) {
      int idx = static_cast<int>(pool.size());
      pool.push_back({pool[list[i]].weight + pool[list[i + 1]].weight, -1, list[i], list[i + 1]});
      packages.push_back(idx);
    }
    std::vector<int> merged;
    merged.reserve(leaves.size() + packages.size());
    size_t a = 0, b = 0;
    while (a < leaves.size() || b < packages.size()) {
      if (b == packages.size() ||
          (a < leaves.size() && pool[leaves[a]].weight <= pool[packages[b]].weight))
        merged.push_back(leaves[a++]);
      else
        merged.push_back(packages[b++]);
    }
    list.swap(merged);
  }

  const size_t take = 2 * used.size() - 2;
  std::vector<int> stack;
  for (size_t i = 0; i < take && i < list.size(); ++i) {
    stack.push_back(list[i]);
    while (!stack.empty()) {
      const Node& node = pool[stack.back()];
      stack.pop_back();
      if (node.symbol >= 0) {
        ++lengths[node.symbol];
      } else {
        stack.push_back(node.left);
        stack.push_back(node.right);
      }
    }
  }
  return lengths;
}

std::vector<uint16_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
  int count[18] = {};
  for (uint8_t l : lengths) ++count[l];
  count[0] = 0;
  uint32_t next[18] = {};
  uint32_t code = 0;
  for (int len = 1; len <= 17; ++len) {
    code = (code + count[len - 1]) << 1;
    next[len] = code;
  }
  std::vector<uint16_t> codes(lengths.size(), 0);
  for (size_t s = 0; s < lengths.size(); ++s)
    if (lengths[s] != 0) codes[s] = static_cast<uint16_t>(next[lengths[s]]++);
  return codes;
}

}  // namespace tavrun::lzh
