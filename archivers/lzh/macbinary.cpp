#include "macbinary.h"

#include <algorithm>
#include <cstdint>

namespace tavrun::lzh {
namespace {

uint32_t Be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

}  // namespace

bool MacBinaryFilter::operator()(const uint8_t* d, size_t n) {
  if (!decided_) {
    const size_t take = std::min(n, kHeader - head_.size());
    head_.insert(head_.end(), d, d + take);
    d += take;
    n -= take;
    if (head_.size() < kHeader) return true;
    if (!Decide()) return false;
  }
  const size_t pass = static_cast<size_t>(std::min<uint64_t>(n, keep_));
  keep_ -= pass;
  return pass == 0 || next_(d, pass);
}

bool MacBinaryFilter::Decide() {
  decided_ = true;
  const uint8_t* h = head_.data();
  // Version 0, a name of 1 to 63 bytes, the two zero bytes, and forks that fit the member.
  const bool macBinary = head_.size() == kHeader && h[0] == 0 && h[1] >= 1 && h[1] <= 63 &&
                         h[74] == 0 && h[82] == 0 &&
                         kHeader + uint64_t{Be32(h + 83)} + Be32(h + 87) <= total_;
  if (macBinary) {
    keep_ = Be32(h + 83);
    return true;
  }
  keep_ = UINT64_MAX;
  return head_.empty() || next_(head_.data(), head_.size());
}

}  // namespace tavrun::lzh
