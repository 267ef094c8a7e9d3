#include "crc16.h"

#include <array>
#include <cstring>

namespace tavrun::lzh {
namespace {

using Tables = std::array<std::array<uint16_t, 256>, 8>;

// Table k advances the CRC over a byte followed by k zero bytes, so eight bytes are folded
// in at once (slicing-by-8).
constexpr Tables MakeTables() {
  Tables t{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t c = static_cast<uint16_t>(i);
    for (int k = 0; k < 8; ++k) c = (c & 1) ? static_cast<uint16_t>((c >> 1) ^ 0xA001) : c >> 1;
    t[0][i] = c;
  }
  for (int k = 1; k < 8; ++k)
    for (unsigned i = 0; i < 256; ++i)
      t[k][i] = static_cast<uint16_t>((t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF]);
  return t;
}

constexpr Tables kT = MakeTables();

}  // namespace

uint16_t Crc16(uint16_t crc, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size >= 8) {
    uint64_t v;
    std::memcpy(&v, p, 8);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    v ^= crc;
    crc = static_cast<uint16_t>(kT[7][v & 0xFF] ^ kT[6][(v >> 8) & 0xFF] ^ kT[5][(v >> 16) & 0xFF] ^
                                kT[4][(v >> 24) & 0xFF] ^ kT[3][(v >> 32) & 0xFF] ^
                                kT[2][(v >> 40) & 0xFF] ^ kT[1][(v >> 48) & 0xFF] ^ kT[0][v >> 56]);
    p += 8;
    size -= 8;
  }
  for (size_t i = 0; i < size; ++i)
    crc = static_cast<uint16_t>((crc >> 8) ^ kT[0][(crc ^ p[i]) & 0xFF]);
  return crc;
}

}  // namespace tavrun::lzh
