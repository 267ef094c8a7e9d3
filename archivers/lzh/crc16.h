// CRC-16/ARC, the checksum LZH archives use for member data and level-2 headers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavrun::lzh {

// Continues `crc` over `size` bytes (start with 0).
uint16_t Crc16(uint16_t crc, const void* data, size_t size);

}  // namespace tavrun::lzh
