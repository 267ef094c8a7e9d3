#include "compressibility.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "file_io.h"

namespace tavrun::arc {
namespace {

// Inputs up to this size are looked at whole; larger ones in stretches of kStretch, one every
// kSpacing (an eighth of the input), the first at the start and the last at the end.
constexpr uint64_t kSpacing = 1u << 20;
constexpr size_t kStretch = 128u << 10;
// Literals are priced per block, as both formats code them with a table per block.
constexpr uint64_t kBlock = 32u << 10;
// What a block's tables cost to send, about: a part of fixed size and one for each byte
// value coded.
constexpr double kBlockBits = 48, kTableBitsPerLiteral = 3;
// A copy: a length code and a distance code with its extra bits, in either format.
constexpr double kCopyBaseBits = 12;
constexpr size_t kMinCopy = 4, kMaxCopy = 256;
// Looking stops once the estimate saved twice what the decision asks for, or once this many
// stretches spread over a large input project that much.
constexpr double kPlainly = 2 * kWorthSaving;
constexpr uint64_t kSettledAfter = 8;

constexpr int kHashBits = 16;

// The hash heads, kept by each thread across inputs. Positions are counted on from input to
// input, so that a head left by an earlier one is always farther away than any window and is
// never taken for a copy; the table is cleared only when the count would wrap.
struct Heads {
  std::vector<uint32_t> at = std::vector<uint32_t>(size_t(1) << kHashBits);
  uint32_t next = 1;

  // The position of data[0] for `length` bytes to come, at least `window` past the last.
  uint32_t Start(size_t length, uint32_t window) {
    const uint64_t need = uint64_t(window) + 1 + length;
    if (uint64_t(next) + need + window >= UINT32_MAX) {
      std::fill(at.begin(), at.end(), 0);
      next = 1;
    }
    const uint32_t base = next + window + 1;
    next = static_cast<uint32_t>(base + length);
    return base;
  }
};

Heads& ThreadHeads() {
  static thread_local Heads heads;
  return heads;
}

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline uint32_t Hash(uint32_t v) {
  return (v * 2654435761u) >> (32 - kHashBits);
}

// The stretches of an input in an order that covers it early: the first, then every
// stretch at a stride that halves from pass to pass.
std::vector<uint64_t> SpreadOrder(uint64_t count) {
  std::vector<uint64_t> order{0};
  std::vector<bool> taken(count);
  taken[0] = true;
  for (uint64_t stride = std::bit_floor(count); stride >= 1; stride /= 2)
    for (uint64_t k = stride; k < count; k += stride)
      if (!taken[k]) {
        taken[k] = true;
        order.push_back(k);
      }
  return order;
}

}  // namespace

CompressibilityProbe::CompressibilityProbe(uint32_t window) : window_(window) {}

double CompressibilityProbe::SavedBytes() const {
  double pending = 0;  // the literals of the block still open, at their entropy so far
  if (blockLiterals_ > 0) {
    pending = blockLiterals_ * std::log2(double(blockLiterals_));
    for (uint32_t c : literals_)
      if (c > 0) pending -= c * std::log2(double(c));
  }
  return double(bytes_) - (bits_ + pending) / 8;
}

void CompressibilityProbe::EndBlock() {
  if (blockLiterals_ == 0) return;
  double bits = kBlockBits + blockLiterals_ * std::log2(double(blockLiterals_));
  for (uint32_t& c : literals_) {
    if (c > 0) bits -= c * std::log2(double(c)) - kTableBitsPerLiteral;
    c = 0;
  }
  bits_ += bits;
  blockLiterals_ = 0;
}

bool CompressibilityProbe::Look(const uint8_t* data, size_t history, size_t length) {
  Heads& heads = ThreadHeads();
  if (history > window_) {  // only the window's worth of it can be copied from
    data += history - window_;
    history = window_;
  }
  const size_t end = history + length;
  const uint32_t base = heads.Start(end, window_);
  uint32_t* head = heads.at.data();
  for (size_t i = 0; i + kMinCopy <= history; ++i)
    head[Hash(Load32(data + i))] = base + static_cast<uint32_t>(i);

  size_t i = history;
  uint64_t blockEnd = i + kBlock;
  while (i < end) {
    if (i >= blockEnd) {
      bytes_ += kBlock;
      EndBlock();
      if (SavedBytes() >= stopAt_) return false;
      blockEnd += kBlock;
    }
    const size_t stop = std::min<size_t>(end, blockEnd);
    while (i < stop) {
      if (i + kMinCopy <= end) {
        const uint32_t v = Load32(data + i);
        uint32_t& slot = head[Hash(v)];
        const uint32_t here = base + static_cast<uint32_t>(i);
        const uint32_t from = slot;
        slot = here;
        if (here - from <= window_ && Load32(data + (from - base)) == v) {
          const uint8_t* a = data + (from - base);
          const size_t most = std::min(kMaxCopy, end - i);
          size_t len = kMinCopy;
          while (len < most && a[len] == data[i + len]) ++len;
          bits_ += kCopyBaseBits + std::bit_width(here - from);
          i += len;
          continue;
        }
      }
      ++literals_[data[i]];
      ++blockLiterals_;
      ++i;
    }
  }
  bytes_ += end - (blockEnd - kBlock);
  EndBlock();
  return SavedBytes() < stopAt_;
}

namespace {

// An input of up to kSpacing bytes, looked at whole.
bool WorthCompressingWhole(const uint8_t* data, size_t size, uint32_t window) {
  if (size == 0) return false;
  CompressibilityProbe probe(window);
  probe.StopOnceSaved(kPlainly * double(size));
  return !probe.Look(data, 0, size) || probe.SavedBytes() >= kWorthSaving * double(size);
}

}  // namespace

// Small inputs are looked at whole. A large one in stretches: the first counts for itself
// (a header that compresses well must not speak for the photo behind it), the later ones each
// for the stretch of input around them.
bool WorthCompressing(uint64_t size, uint32_t window, const ReadStretch& read) {
  if (size <= kSpacing) {
    std::vector<uint8_t> all(static_cast<size_t>(size));
    return !read(0, all.data(), all.size()) ||
           WorthCompressingWhole(all.data(), all.size(), window);
  }
  const double worth = kWorthSaving * double(size);
  CompressibilityProbe probe(window);
  probe.StopOnceSaved(kPlainly * double(size));
  const uint64_t stretches = (size + kSpacing - 1) / kSpacing;
  std::vector<uint8_t> buffer(window + kStretch);
  double first = 0;
  // The saving over the whole input, from the first stretch and the rate of the others.
  const auto projected = [&] {
    const double rest = (probe.SavedBytes() - first) / double(probe.bytes() - kStretch);
    return first + rest * double(size - kStretch);
  };
  for (uint64_t k : SpreadOrder(stretches)) {
    const uint64_t at = (size - kStretch) * k / (stretches - 1);
    const size_t history = static_cast<size_t>(std::min<uint64_t>(window, at));
    if (!read(at - history, buffer.data(), history + kStretch)) return true;
    if (!probe.Look(buffer.data(), history, kStretch)) return true;
    if (k == 0) first = probe.SavedBytes();
    // Stretches from all over a large file that plainly compress settle it: reading a tenth of
    // a file of gigabytes at scattered places would cost more than the parse saves.
    if (probe.bytes() > kSettledAfter * kStretch && projected() >= kPlainly * double(size))
      return true;
  }
  return projected() >= worth;
}

bool WorthCompressingFile(int fd, uint64_t size, uint32_t window,
                          const std::function<bool()>& keepGoing) {
  return WorthCompressing(size, window, [&](uint64_t offset, uint8_t* buffer, size_t length) {
    if (keepGoing && !keepGoing()) return false;
    while (length > 0) {
      const ssize_t n = ReadAt(fd, buffer, length, offset);
      if (n <= 0) return false;
      buffer += n;
      length -= static_cast<size_t>(n);
      offset += static_cast<uint64_t>(n);
    }
    return true;
  });
}

bool WorthCompressingData(const uint8_t* data, size_t size, uint32_t window) {
  // Most members are small: looked at where they lie, not copied first.
  if (size <= kSpacing) return WorthCompressingWhole(data, size, window);
  return WorthCompressing(size, window, [data](uint64_t offset, uint8_t* buffer, size_t length) {
    std::memcpy(buffer, data + offset, length);
    return true;
  });
}

}  // namespace tavrun::arc
