// Length-limited Huffman codes for the LZH block tables.
#pragma once

#include <cstdint>
#include <vector>

namespace tavrun::lzh {

// Optimal code lengths for `freq` with no code longer than `maxLength` (Huffman, or
// package-merge when a Huffman code would be too long).
// Symbols with frequency 0 get length 0. Every LZH reader needs a complete table with at
// least two codes, so when fewer than two symbols are used, the used one (or symbol 0)
// and a neighbour both get length 1.
std::vector<uint8_t> CodeLengths(const std::vector<uint32_t>& freq, int maxLength);

// Canonical codes for `lengths`: shorter codes first, equal lengths by ascending symbol.
std::vector<uint16_t> CanonicalCodes(const std::vector<uint8_t>& lengths);

}  // namespace tavrun::lzh
