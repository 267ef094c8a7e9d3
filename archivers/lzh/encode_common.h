// What the parts of the encoder share: the format's limits, the per-method parameters and the
// commands a parser hands to the block writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "encoder.h"

namespace tavrun::lzh::enc {

constexpr int kMaxMatch = 256;
constexpr int kMinMatch = 3;
constexpr int kNC = 256 + kMaxMatch - kMinMatch + 1;  // 510 literal/length symbols
constexpr int kNT = 19;                               // code-length symbols
constexpr int kTBit = 5;
constexpr int kCBit = 9;
constexpr int kMaxCodeLength = 16;
constexpr uint32_t kInfinite = 0xffffffffu;

struct Params {
  uint32_t window;
  int np;  // position symbols
  int pbit;
};

Params ParamsFor(Method m);

inline int PositionSymbol(uint32_t d) {
  return d == 0 ? 0 : 32 - __builtin_clz(d);
}

// A run of commands: a literal byte, or 256 + length - kMinMatch with its copy distance - 1
// (0 beside a literal).
struct Commands {
  std::vector<uint16_t> codes;
  std::vector<uint16_t> distances;

  size_t size() const { return codes.size(); }
  void clear() {
    codes.clear();
    distances.clear();
  }
  void Literal(uint8_t byte) {
    codes.push_back(byte);
    distances.push_back(0);
  }
  void Match(int length, uint32_t distance) {
    codes.push_back(static_cast<uint16_t>(256 + length - kMinMatch));
    distances.push_back(static_cast<uint16_t>(distance - 1));
  }
};

}  // namespace tavrun::lzh::enc
