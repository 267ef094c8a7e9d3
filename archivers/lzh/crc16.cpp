#include "crc16.h"

#include <array>

namespace tavrun::lzh {
namespace {

constexpr std::array<uint16_t, 256> MakeTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    uint16_t c = static_cast<uint16_t>(i);
    for (int k = 0; k < 8; ++k) c = (c & 1) ? static_cast<uint16_t>((c >> 1) ^ 0xA001) : c >> 1;
    table[i] = c;
  }
  return table;
}

constexpr auto kTable = MakeTable();

}  // namespace

uint16_t Crc16(uint16_t crc, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) crc = static_cast<uint16_t>((crc >> 8) ^ kTable[(crc ^ p[i]) & 0xFF]);
  return crc;
}

}  // namespace tavrun::lzh
